#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian 12 packages the project needs. Idempotent: the package lists are
# refreshed only when something is missing.
#   install-deps.sh run        building and running the program
#   install-deps.sh test       that, plus the tests, benchmarks, sanitizer and fuzz builds
#                              and the package checks
#   install-deps.sh headless   that of "run", plus a virtual X server for machines without a display
#   install-deps.sh            everything ("test")
set -euo pipefail

# --- Building and running the program -------------------------------------------------
run_packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev qt6-wayland
  libusb-1.0-0-dev
  libavcodec-dev libavformat-dev libavdevice-dev libavutil-dev libswresample-dev libswscale-dev
  libcurl4-openssl-dev liblodepng-dev
  libxcb1-dev qt6-svg-dev
  libpipewire-0.3-dev libspa-0.2-dev libpulse-dev
)

# --- Running on a virtual X server (scripts/run.sh without a display, the tests) -------
headless_packages=(
  xvfb xauth libgl1-mesa-dri
)

# --- Tests, benchmarks, sanitizer and fuzz builds, package checks ----------------------
test_packages=(
  clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  pulseaudio pulseaudio-utils ffmpeg mediainfo imagemagick python3 openssl
  dpkg-dev lintian appstream desktop-file-utils man-db
  umockdev libumockdev-dev xdotool x11-utils openbox xfwm4 dbus-daemon
  sway xwayland grim x11-xserver-utils kwin-wayland wmctrl
  pipewire pipewire-bin wireplumber gstreamer1.0-pipewire gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  chromium firefox-esr xdg-desktop-portal xdg-desktop-portal-gtk
)

case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  headless) packages=("${run_packages[@]}" "${headless_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${headless_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|headless|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
