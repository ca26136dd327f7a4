#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The tests again with AddressSanitizer + UndefinedBehaviorSanitizer, and the
# threaded tests with ThreadSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

bash "$root/scripts/build.sh" "$root/build-asan" -DTAVRIN_SANITIZE=address,undefined -DBUILD_TESTING=ON \
  -DTAVRIN_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  bash "$root/scripts/test-env.sh" ctest --output-on-failure -j 2 --timeout 900)
# A minute of the read thread, pool and screenshots under random faults.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$root/build-asan/tools/tavrin-soak" --seconds 60

bash "$root/scripts/build.sh" "$root/build-tsan" -DTAVRIN_SANITIZE=thread -DBUILD_TESTING=ON -DTAVRIN_BUILD_BENCH=OFF \
  -DTAVRIN_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$root/build-tsan" && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --output-on-failure -j 2 --timeout 900 -L core)
