#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The core and the Windows program: cross-built with MinGW-w64 (GoogleTest too, from
# Debian's source package). The core's tests run under Wine, headless, in a Wine prefix
# of its own; the Win32 front end's tests and the programs themselves run under Wine on
# an X server with openbox (scripts/test-env.sh), the programs in a fresh prefix.
# Everything goes into build-win/ (or $1); warnings are errors unless TAVRIN_WERROR=OFF.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build-win}"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"

packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 googletest cmake ninja-build ccache xvfb xauth openbox xdotool imagemagick)
packages+=(nsis openssl python3) # the installer; the update check's test servers and their certificates
# Recording: the tone, and the recordings' checks on Linux.
packages+=(pulseaudio pulseaudio-utils ffmpeg)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

toolchain="$root/cmake/mingw-w64-x86_64.cmake"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
# One Wine server serves the whole run, so that each test program starts in a fraction
# of a second. wineboot (which makes the prefix the first time) starts Wine's own
# services now, with nothing of ours open: started by the first test program they would
# keep its output pipe open, and CMake would wait for it to close until it timed out.
wine_prefix "$dir/wineprefix" persistent
trap '"$wineserver" -k 2>/dev/null || true' EXIT

echo "== GoogleTest for Windows"
gtest="$dir/googletest-install"
if [ ! -f "$gtest/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$dir/googletest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest" \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
  cmake --build "$dir/googletest" -j "$(nproc)"
  cmake --install "$dir/googletest" >/dev/null
fi

echo "== FFmpeg for Windows (built once per source version, then cached)"
# The media library and recording come with it; the configure below finds it here.
TAVRIN_WIN32_FFMPEG="$(nice bash "$root/scripts/ffmpeg-windows.sh")"
export TAVRIN_WIN32_FFMPEG

echo "== The core and the Windows program"
cmake -S "$root" -B "$dir/core" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTAVRIN_CORE_ONLY=ON \
  -DBUILD_TESTING=ON -DTAVRIN_WERROR="${TAVRIN_WERROR:-ON}" -DCMAKE_PREFIX_PATH="$gtest" >/dev/null
cmake --build "$dir/core" -j "$(nproc)"

echo "== The core's tests under Wine"
cd "$dir/core"
# The test program runs once, as one Windows process (a Wine process costs about as much
# to start as most tests take); skips print their reasons. Then the build's own checks.
timeout 600 "$wine64" tests/tavrin_core_tests.exe --gtest_brief=1 </dev/null
ctest --output-on-failure --timeout 300 -L core -R '^(core_includes_|layer_check_|sources_carry_)'

echo "== The WinUSB transport's tests under Wine"
# The simulated board answers in the system's place; the system's own calls find no board.
timeout 300 "$wine64" tests/platform/winusb/tavrin_winusb_tests.exe --gtest_brief=1 </dev/null

echo "== The update check through WinINet under Wine, against HTTPS servers beside it"
timeout 300 bash "$root/scripts/win32-net-test.sh" "$dir/core"

echo "== The programs and the Win32 front end's tests under Wine on an X server"
# Their own prefix and server, started where the X server is known.
"$wineserver" -k 2>/dev/null || true
timeout 600 bash "$root/scripts/test-env.sh" bash "$root/scripts/win32-program-test.sh" "$dir/core"

echo "== The installer under Wine: installed, started and removed in a fresh prefix"
timeout 300 bash "$root/scripts/test-env.sh" bash "$root/scripts/win32-installer-test.sh" "$dir/core"

echo "== Recording under Wine with a sound server"
# 10 s a compressor, six compressors: about a minute and a half.
timeout 600 bash "$root/scripts/test-env.sh" bash "$root/scripts/win32-recording-test.sh" "$dir/core" 10
