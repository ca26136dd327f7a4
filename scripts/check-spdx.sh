#!/usr/bin/env bash
# Lists the project's own text files (sources, build files, scripts, resources) whose
# first lines lack "SPDX-License-Identifier: GPL-2.0-or-later"; fails when there is one.
#   check-spdx.sh          the list, exit status 1 when it is not empty
#   check-spdx.sh --files  every file the licence line belongs in (for add-spdx.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
tag="SPDX-License-Identifier: GPL-2.0-or-later"

# Files under version control when there is a checkout, else the folders as they are.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  list() { git ls-files -- "$@"; }
else
  list() { find "$@" -type f 2>/dev/null | sed 's|^\./||'; }
fi

candidates() {
  list src tests tools bench fuzz cmake scripts resources .ci CMakeLists.txt | while IFS= read -r f; do
    case "$f" in
      fuzz/corpus/*) continue ;;
      *.cpp|*.h|*.hpp|*.c|*.cc|*.cmake|*/CMakeLists.txt|CMakeLists.txt|*.sh|*.py|*.supp) ;;
      *.ui|*.qrc|*.svg|*.xml|*.xml.in|*.desktop|*.rules|*.1|.ci/run) ;;
      *) continue ;;
    esac
    [ -f "$f" ] && printf '%s\n' "$f"
  done
}

if [ "${1:-}" = "--files" ]; then
  candidates
  exit 0
fi

missing=0
while IFS= read -r f; do
  if ! head -n 3 "$f" | grep -qF "$tag"; then
    printf '%s\n' "$f"
    missing=$((missing + 1))
  fi
done < <(candidates)
if [ "$missing" -gt 0 ]; then
  echo "$missing file(s) without \"$tag\" in their first lines (scripts/add-spdx.sh adds it)" >&2
  exit 1
fi
