#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what is needed, builds and runs every test (under Xvfb, with a sound server).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh" test
bash "$root/scripts/build.sh" "$root/build" -DBUILD_TESTING=ON
cd "$root/build"
bash "$root/scripts/test-env.sh" ctest --output-on-failure -j 2 --timeout 600
