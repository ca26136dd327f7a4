#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# FFmpeg for the Windows build: Debian's source package, cross-built with MinGW-w64 into
# static libraries with only what the recorder uses (the encoders of the catalog, the
# scaler and the resampler; libavformat only for its table of AVI codec tags, since the
# AVI writer is our own). Installed into a cache outside the clone, keyed by the source
# version, so that a second run costs a second. Prints the install prefix on stdout.
set -euo pipefail
cache="${XDG_CACHE_HOME:-$HOME/.cache}/tavrin"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need=()
for p in nasm dpkg-dev pkg-config; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
# The source package needs a deb-src entry; mirror the machine's own binary entry.
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    sed 's/^Types: deb$/Types: deb-src/' "$src" | $SUDO tee /etc/apt/sources.list.d/tavrin-deb-src.sources >/dev/null
  else
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $SUDO tee /etc/apt/sources.list.d/tavrin-deb-src.list >/dev/null
  fi
  $SUDO apt-get update -qq >&2
fi
if [ ${#need[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >&2
fi

version="$(apt-cache showsrc ffmpeg 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n1)"
[ -n "$version" ] || { echo "ffmpeg-windows: no source package for ffmpeg" >&2; exit 1; }
# Changing what is configured changes the key, so an old cache is never reused for a new set.
recipe=3
prefix="$cache/ffmpeg-win-${version//[:~]/_}-r$recipe"
if [ -f "$prefix/.done" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/ffmpeg-win-src"
rm -rf "$work" "$prefix"
mkdir -p "$work"
(cd "$work" && apt-get source -qq --download-only "ffmpeg=$version" >&2 &&
  dpkg-source -x ./*.dsc src >/dev/null)
cd "$work/src"
./configure --prefix="$prefix" --arch=x86_64 --target-os=mingw32 --cross-prefix=x86_64-w64-mingw32- \
  --cc="ccache x86_64-w64-mingw32-gcc" --cxx="ccache x86_64-w64-mingw32-g++" \
  --pkg-config=pkg-config --enable-static --disable-shared --disable-everything --disable-programs \
  --disable-doc --disable-network --disable-autodetect --disable-debug --disable-avdevice \
  --disable-avfilter --disable-postproc --enable-swscale --enable-swresample --enable-avformat \
  --enable-encoder=msvideo1,ffv1,huffyuv,utvideo,mpeg4,mjpeg,pcm_s16le >&2
nice make -j"$(nproc)" >&2
make install >&2
rm -rf "$work"
touch "$prefix/.done"
echo "$prefix"
