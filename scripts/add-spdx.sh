#!/usr/bin/env bash
# Adds "SPDX-License-Identifier: GPL-2.0-or-later" to every file scripts/check-spdx.sh
# finds without it, as a comment of the file's own kind: // in C++, # in CMake, shell and
# the like (after a #! line), <!-- --> in XML (after an <?xml ...?> line), .\" in a
# manual page. Files that have it are left alone, so running it again changes nothing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
tag="SPDX-License-Identifier: GPL-2.0-or-later"

# Inserts line $2 into file $1, after the first line when that line matches $3.
insert() {
  local file="$1" line="$2" keepFirst="$3" tmp
  tmp="$(mktemp)"
  if [ -n "$keepFirst" ] && head -n 1 "$file" | grep -qE "$keepFirst"; then
    { head -n 1 "$file"; printf '%s\n' "$line"; tail -n +2 "$file"; } >"$tmp"
  else
    { printf '%s\n' "$line"; cat "$file"; } >"$tmp"
  fi
  cat "$tmp" >"$file" # keeps the file's mode
  rm -f "$tmp"
}

added=0
while IFS= read -r f; do
  head -n 3 "$f" | grep -qF "$tag" && continue
  case "$f" in
    *.cpp|*.h|*.hpp|*.c|*.cc) insert "$f" "// $tag" "" ;;
    *.ui|*.qrc|*.svg|*.xml|*.xml.in) insert "$f" "<!-- $tag -->" '^<\?xml ' ;;
    *.1) insert "$f" ".\\\" $tag" "" ;;
    *) insert "$f" "# $tag" '^#!' ;;
  esac
  echo "added: $f"
  added=$((added + 1))
done < <(bash "$root/scripts/check-spdx.sh" --files)
echo "$added file(s) changed"
