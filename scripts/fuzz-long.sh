#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets (as scripts/ci-fuzz.sh does) and runs each for SECONDS,
# one after another, starting from its committed corpus in fuzz/corpus/<target>/.
# Prints the executions and the coverage each reached; the new inputs that added
# coverage are merged into fuzz/corpus/<target>/ (-merge=1), ready to commit.
# A crash stops nothing: its input is kept in build-fuzz/crashes/<target>/ and reported,
# and the exit status is 1. Not run in CI: it is meant for minutes to hours.
#   scripts/fuzz-long.sh SECONDS [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds="$1"
shift
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTAVRIN_BUILD_FUZZ=ON \
  -DTAVRIN_BUILD_GUI=OFF -DBUILD_TESTING=OFF -DTAVRIN_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
cmake --build "$build" --target fuzzers -j "$(nproc)"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for src in "$root"/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

status=0
summary=()
for name in "${targets[@]}"; do
  bin="$build/fuzz/$name"
  seeds="$root/fuzz/corpus/$name"
  crashes="$build/crashes/$name"
  work="$(mktemp -d)"
  rm -rf "$crashes"
  mkdir -p "$seeds" "$crashes"
  log="$build/$name.log"
  echo "== $name for ${seconds}s"
  # Nothing is written into the committed corpus while fuzzing: new inputs go to $work.
  "$bin" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$crashes/" \
    "$work" "$seeds" >"$log" 2>&1 || status=1
  execs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)"
  rate="$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)"
  cov="$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)"
  found="$(find "$crashes" -type f | wc -l)"
  # The committed inputs stay; of the new ones only those that reach features the
  # corpus did not are added (libFuzzer's -merge=1 picks the smallest such set).
  "$bin" -merge=1 "$seeds" "$work" >>"$log" 2>&1 || status=1
  files="$(find "$seeds" -type f | wc -l)"
  bytes="$(du -sb "$seeds" | cut -f1)"
  line="$name: ${execs:-?} executions (${rate:-?}/s), ${cov:-no coverage line}, corpus $files files ($bytes bytes), crashes $found"
  echo "$line"
  summary+=("$line")
  [ "$found" -eq 0 ] || status=1
  rm -rf "$work"
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$status"
