#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Fails when a C++ file under version control differs from what clang-format-14 makes
# of it with the committed .clang-format, and names the files.
#   check-format.sh        check
#   check-format.sh --fix  format them in place
set -euo pipefail
cd "$(dirname "$0")/.."
tool=clang-format-14
if ! command -v "$tool" >/dev/null; then
  echo "$tool is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
# Files under version control when there is a checkout, else the folders as they are.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' | grep -v '^fuzz/corpus/')
else
  mapfile -t files < <(find src tests tools bench fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null | grep -v '^fuzz/corpus/')
fi
if [ "${1:-}" = "--fix" ]; then
  "$tool" -i "${files[@]}"
  exit 0
fi
differing=$("$tool" --dry-run --Werror "${files[@]}" 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error:.*/\1/p' | sort -u || true)
if [ -n "$differing" ]; then
  printf '%s\n' "$differing"
  echo "these files differ from .clang-format (scripts/check-format.sh --fix formats them)" >&2
  exit 1
fi
