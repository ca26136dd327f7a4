#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Soak test of recording under load: records the simulated board's picture and a
# continuous tone (played into the PulseAudio null sink, whose monitor is the
# sound input) for SECONDS while two busy loops load the machine, then reports
# empty grid slots, silences put into the sound, cuts in it, and how far the
# sound and picture lengths differ. Goals: 0 silences, 0 cuts, >= 99.5 % of slots
# filled, sound and picture within one frame of each other.
#
#   bench/recording_soak.sh SECONDS [CODEC] [FPS]
# Environment: BUILD_DIR (default build), KEEP=1 keeps the recording.
set -uo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:?usage: recording_soak.sh SECONDS [CODEC] [FPS]}"
codec="${2:-Microsoft Video 1}"
fps="${3:-30}"
build="${BUILD_DIR:-$here/build}"
tool="$build/bench/recording_soak"
[ -x "$tool" ] || { echo "build it first: cmake --build $build --target recording_soak" >&2; exit 2; }

# Without a sound server of our own, run inside the test environment (Xvfb + null sink).
if [ -z "${TAVRIN_SOAK_INNER:-}" ]; then
  TAVRIN_SOAK_INNER=1 exec bash "$here/scripts/test-env.sh" bash "$0" "$@"
fi

out="$(mktemp -d /tmp/tavrin-soak.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  [ "${KEEP:-0}" = 1 ] && echo "recording kept in $out" || rm -rf "$out"
}
trap cleanup EXIT

# The tone: 440 Hz, a quarter of full scale, for longer than the recording.
( ffmpeg -hide_banner -loglevel error -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$((seconds + 60))" \
    -af volume=2 -ac 2 -f s16le - |
  pacat --playback --raw --rate=48000 --channels=2 --format=s16le --device=tavrin_null 2>/dev/null ) 2>/dev/null &
pids+=($!)
sleep 2

# A parallel recording of the same source, to tell the source's own faults from ours.
parec --device=tavrin_null.monitor --raw --format=s16le --rate=48000 --channels=2 >"$out/parec.raw" 2>/dev/null &
parec_pid=$!
pids+=($parec_pid)

# Two busy loops.
for _ in 1 2; do ( while :; do :; done ) & pids+=($!); done

echo "machine: $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "recording ${seconds} s with \"$codec\" at $fps frames a second..."
"$tool" "$seconds" "$out/soak.avi" "$codec" "$fps" >"$out/tool.log" 2>&1
rc=$?
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
grep -v '^[0-9][0-9]:' "$out/tool.log"
# The status line at the end, as the user saw it.
grep '^[0-9][0-9]:' "$out/tool.log" | tail -1 | sed 's/^/last status: /'
[ $rc = 0 ] || { echo "the recording tool failed ($rc)"; exit 1; }

vdur=$(ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 "$out/soak.avi")
# The sound's length from its samples (the AVI's stream header gives no duration for PCM).
adur=$(ffmpeg -v error -i "$out/soak.avi" -map 0:a:0 -f s16le - | wc -c | awk '{printf "%.6f", $1 / 4 / 48000}')
python3 - "$vdur" "$adur" "$fps" <<'PY'
import sys
video = float(sys.argv[1])
audio = float(sys.argv[2])
print(f"file: video {video:.4f} s, audio {audio:.4f} s, difference {abs(video-audio)*1000:.2f} ms "
      f"({'within' if abs(video-audio) <= 1/int(sys.argv[3]) else 'MORE than'} one frame)")
PY

# The sound itself: runs of silence inside it, and breaks in the tone (a cut or a jump);
# then the same for the parallel recording of the source.
analyse() { python3 -c '
import sys, math, array
w = 2 * math.pi * 440 / 48000
c = 2 * math.cos(w)
prev2 = prev1 = 0
n = 0
first = last = None
zero_run = 0
silences = []
breaks = 0
last_break = -10**9
while True:
    chunk = sys.stdin.buffer.read(1 << 20)
    if not chunk:
        break
    a = array.array("h")
    a.frombytes(chunk[: len(chunk) // 2 * 2])
    for x in a:
        if x == 0:
            zero_run += 1
        else:
            if first is None:
                first = n
            elif zero_run >= 240:
                silences.append((n - zero_run, zero_run))
            zero_run = 0
            last = n
        if n >= 2 and first is not None and n - first > 2 and zero_run == 0:
            r = abs(x - c * prev1 + prev2)
            if r > 60 and n - last_break > 48:
                breaks += 1
                last_break = n
                if breaks <= 10:
                    print(f"  break in the tone at {n/48000:.4f} s (residual {r:.0f})")
        prev2, prev1 = prev1, x
        n += 1
print(f"{sys.argv[1]}: {n/48000:.3f} s, tone starts at {((first or 0)/48000)*1000:.1f} ms, "
      f"silences of 5 ms or more inside it: {len(silences)}, breaks in the tone: {breaks}")
for at, length in silences[:10]:
    print(f"  silence at {at/48000:.3f} s, {length/48:.1f} ms")
' "$1"; }
ffmpeg -v error -i "$out/soak.avi" -map 0:a:0 -ac 1 -f s16le - | analyse "sound analysis (the recording)"
ffmpeg -v error -f s16le -ar 48000 -ac 2 -i "$out/parec.raw" -ac 1 -f s16le - | analyse "sound analysis (parec of the source)"
