#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Plants the hand-made faults of scripts/mutations.tsv one at a time, rebuilds (Ninja
# rebuilds only what the changed file touches), runs the tests that must catch each
# fault in the test environment, and reports it caught or missed. The source is
# restored after each fault, and at the end the build matches the tree again. A
# developer's tool, not a CI step.
#   scripts/mutation-trial.sh [BUILD_DIR] [FILTER]
# BUILD_DIR defaults to build/ (made with scripts/build.sh -DBUILD_TESTING=ON); FILTER,
# an extended regular expression, keeps the rows whose file or text matches it.
# Rows: file <TAB> exact text <TAB> its replacement <TAB> ctest -R regex [<TAB> N]
# where N picks the Nth place of a text found more than once (else it must be unique).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
filter="${2:-}"
table="$root/scripts/mutations.tsv"
if [ ! -f "$build/build.ninja" ]; then
  echo "mutation-trial: no build in $build (bash scripts/build.sh $build -DBUILD_TESTING=ON)" >&2
  exit 2
fi
work="$(mktemp -d /tmp/tavrin-mutation.XXXXXX)"
current=""
restore() {
  if [ -n "$current" ]; then cp "$work/original" "$current"; current=""; fi
}
trap 'restore; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# Replaces the Nth place of TEXT in FILE (exactly, no patterns); fails when TEXT is not
# there, or is there more than once and no N is given.
plant() {
  python3 - "$@" <<'PY'
import sys
path, text, replacement, nth = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
src = open(path, encoding="utf-8").read()
places = []
at = src.find(text)
while at >= 0:
    places.append(at)
    at = src.find(text, at + 1)
if not places or (not nth and len(places) > 1) or (nth and int(nth) > len(places)):
    sys.exit(f"found {len(places)} times")
at = places[int(nth) - 1 if nth else 0]
open(path, "w", encoding="utf-8").write(src[:at] + replacement + src[at + len(text):])
PY
}

caught=0 missed=0 broken=0 row=0
while IFS=$'\t' read -r -u 3 file text replacement tests nth || [ -n "$file" ]; do
  case "$file" in ''|'#'*) continue ;; esac
  row=$((row + 1))
  if [ -n "$filter" ] && ! printf '%s %s\n' "$file" "$text" | grep -qE -- "$filter"; then continue; fi
  label="$file: '$text' -> '$replacement'"
  cp "$root/$file" "$work/original" || { echo "BROKEN  $label (no such file)"; broken=$((broken + 1)); continue; }
  current="$root/$file"
  if ! why=$(plant "$current" "$text" "$replacement" "${nth:-}" 2>&1); then
    restore
    echo "BROKEN  $label (the text is $why)"
    broken=$((broken + 1))
    continue
  fi
  if ! nice cmake --build "$build" </dev/null >"$work/build.log" 2>&1; then
    restore
    echo "BROKEN  $label (does not build: $(grep -m1 -E 'error' "$work/build.log"))"
    broken=$((broken + 1))
    continue
  fi
  if (cd "$build" && nice bash "$root/scripts/test-env.sh" ctest -R "$tests" --no-tests=error -j 2 --timeout 600 \
        </dev/null >"$work/test.log" 2>&1); then
    echo "MISSED  $label (tests: $tests)"
    missed=$((missed + 1))
  else
    failing=$(grep -E '^\s*[0-9]+ - .*\((Failed|Timeout|Subprocess aborted|SEGFAULT)' "$work/test.log" | head -n 3 | sed -E 's/^ *[0-9]+ - //' | tr '\n' ' ')
    if grep -q "No tests were found" "$work/test.log"; then
      echo "BROKEN  $label (no test matches '$tests')"
      broken=$((broken + 1))
    else
      echo "CAUGHT  $label by ${failing:-the tests}"
      caught=$((caught + 1))
    fi
  fi
  restore
done 3<"$table"
restore
nice cmake --build "$build" >"$work/build.log" 2>&1 || echo "mutation-trial: the restored tree does not build" >&2
echo "$caught caught, $missed missed, $broken broken, of $((caught + missed + broken)) faults"
[ "$missed" -eq 0 ] && [ "$broken" -eq 0 ]
