#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets with clang (the core compiled with the fuzzer's
# instrumentation) and runs each for a bounded time. Seeds live in fuzz/corpus/<target>/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${TAVRIN_FUZZ_SECONDS:-30}"
shopt -s nullglob
sources=("$root"/fuzz/fuzz_*.cpp)
if [ ${#sources[@]} -eq 0 ]; then echo "no fuzz targets"; exit 0; fi

CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DTAVRIN_BUILD_FUZZ=ON \
  -DTAVRIN_BUILD_GUI=OFF -DBUILD_TESTING=OFF -DTAVRIN_BUILD_BENCH=OFF \
  ${TAVRIN_WERROR:+-DTAVRIN_WERROR="$TAVRIN_WERROR"} \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
cmake --build "$root/build-fuzz" --target fuzzers -j "$(nproc)"

for src in "${sources[@]}"; do
  name="$(basename "$src" .cpp)"
  corpus="$(mktemp -d)"
  seeds="$root/fuzz/corpus/$name"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
  echo "== $name for ${seconds}s"
  "$root/build-fuzz/fuzz/$name" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  rm -rf "$corpus"
done
