#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Soak test of "Listen": the listener plays the default input (tavrin_null's monitor)
# to the default output (tavrin_speakers) for MINUTES while the delay meter plays a
# tone with a marker every 200 ms into tavrin_null and times each marker at both
# monitors. One line a minute (markers, median, 99th percentile and maximum delay,
# the listener's under-runs, breaks in the tone at the speakers), then the first
# minute against the last. Goals: median at most 30 ms, 99th percentile at most
# 50 ms, the same in the last minute as in the first, no breaks.
#
#   bench/listen_soak.sh [MINUTES] [--loopback=MS] [--interval=SECONDS] [--delays]
# --loopback=MS measures the sound server's own loopback instead (the meter's
# reference, and what a build without the listener can measure).
# Environment: BUILD_DIR (default build).
set -uo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
tool="$build/bench/listen_soak"
[ -x "$tool" ] || { echo "build it first: cmake --build $build --target listen_soak" >&2; exit 2; }

# Without a sound server of our own, run inside the test environment (two null sinks).
if [ -z "${TAVRIN_SOAK_INNER:-}" ]; then
  TAVRIN_SOAK_INNER=1 exec bash "$here/scripts/test-env.sh" bash "$0" "$@"
fi

echo "machine: $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$tool" "$@"
rc=$?
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $rc
