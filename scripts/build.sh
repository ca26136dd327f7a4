#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Configures and builds into build/ (or $1) with Ninja. Extra arguments go to CMake.
# TAVRIN_WERROR=ON in the environment makes warnings errors (CI sets it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build}"
shift || true
cmake -S "$root" -B "$dir" -G Ninja ${TAVRIN_WERROR:+-DTAVRIN_WERROR="$TAVRIN_WERROR"} "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
