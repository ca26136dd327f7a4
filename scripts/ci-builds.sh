#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The builds a user and a packager make, in full (GUI and media included):
#  - GCC, Release, as `cmake --install` and the Debian package get it; the package is
#    made with cpack and checked (lintian, AppStream, desktop entry, manual page, udev
#    rule) and the program in it is asked for its version;
#  - Clang, RelWithDebInfo, with the tests, which must build warning-free there too.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

echo "== GCC Release and the Debian package"
CC=gcc CXX=g++ bash "$root/scripts/build.sh" "$root/build-release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
bash "$root/scripts/check-package.sh" "$root/build-release"

echo "== Clang RelWithDebInfo"
CC=clang CXX=clang++ bash "$root/scripts/build.sh" "$root/build-clang" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=ON
(cd "$root/build-clang" && ctest --output-on-failure -j 2 --timeout 300 -L core)
