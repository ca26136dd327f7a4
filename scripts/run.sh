#!/usr/bin/env bash
# Installs what is needed, builds and starts the program.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
# Until the window front end exists: the capture spine against the simulated board.
exec "$root/build/tools/tavrin-probe" --simulate --seconds 10
