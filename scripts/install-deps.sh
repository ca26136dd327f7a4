#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, run and test.
# Idempotent: the package lists are refreshed only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libusb-1.0-0-dev
  libavcodec-dev libavformat-dev libavdevice-dev libavutil-dev libswscale-dev
  libcurl4-openssl-dev liblodepng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth pulseaudio pulseaudio-utils ffmpeg imagemagick python3 openssl
  openbox xfwm4 dbus-daemon x11-utils xdotool libxcb1-dev qt6-svg-dev
  libgl1-mesa-dri
)

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
