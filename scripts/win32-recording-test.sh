#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Recording on Windows, under wine64 with a sound server (run inside scripts/test-env.sh,
# whose PulseAudio null sink tavrin_null has the default source as its monitor; Wine's
# WASAPI reaches it through winepulse). A 440 Hz tone plays into the sink throughout.
# The media tests run first; then the program's recorder makes one file with each
# compressor the Windows build offers, and each is checked on Linux (decoded to its end,
# picture and sound of one length, the tone unbroken); then a recording killed hard is
# finished, with its index, by what the program does at its next start; and a recording
# onto a disk that fills up ends by itself with its file finished.
#   win32-recording-test.sh BUILD_DIR [SECONDS]   (the core's build folder of ci-windows.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
seconds="${2:-10}"
tests="$build/tests/platform/win32"
work="$build/recording-test"
# shellcheck source=scripts/wine-env.sh
. "$(dirname "$0")/wine-env.sh"
[ -f "$tests/tavrin_win32_record.exe" ] || { echo "no recording in this build: skipped"; exit 0; }

rm -rf "$work"
mkdir -p "$work/home" "$work/files" "$work/killed"
export HOME="$work/home"
tone=""
finish() {
  [ -z "$tone" ] || kill "$tone" 2>/dev/null || true
  "$wineserver" -k 2>/dev/null || true
}
trap finish EXIT
wine_prefix "$work/prefix"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The tone, at about a quarter of full scale, for as long as everything here takes.
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=600" -af volume=2 \
  -ac 2 -f s16le - 2>/dev/null | pacat --device=tavrin_null --format=s16le --rate=48000 --channels=2 &
tone=$!
sleep 0.5

echo "== The media tests under Wine"
timeout 300 "$wine64" "$tests/tavrin_win32_media_tests.exe" --gtest_brief=1 </dev/null

echo "== One recording of ${seconds} s with each compressor"
# Wine's drive Z: is the root of the Linux file system.
windows() { echo "Z:${1//\//\\}"; }
set +e
timeout 600 "$wine64" "$tests/tavrin_win32_record.exe" record "$(windows "$work/files")" "$seconds" </dev/null |
  tr -d '\r' | tee "$work/record.out"
status="${PIPESTATUS[0]}"
set -e
[ "$status" -eq 0 ] || fail "the recorder reported failures (exit code $status)"
count="$(ls "$work/files"/*.avi | wc -l)"
[ "$count" -ge 6 ] || fail "$count files, not one for each of the six compressors"
python3 "$root/scripts/win32-recording-check.py" --seconds "$seconds" "$work/files"/*.avi ||
  fail "a recording is not whole"

echo "== A recording killed hard is finished at the next start"
killed="$(windows "$work/killed")"
"$wine64" "$tests/tavrin_win32_record.exe" crash "$killed" </dev/null >"$work/crash.out" 2>&1 &
pid=$!
for _ in $(seq 150); do
  grep -q recording "$work/crash.out" && break
  sleep 0.1
done
grep -q recording "$work/crash.out" || fail "the recording to kill did not start: $(cat "$work/crash.out")"
sleep 2
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
[ -f "$work/killed/.killed.avi.unfinished" ] || fail "no marker beside the killed recording"
if python3 "$root/scripts/win32-recording-check.py" --layout "$work/killed/killed.avi"; then
  fail "the killed recording looks finished before anything finished it"
fi
# The last line is the program's note (the log says it too).
recovered="$("$wine64" "$tests/tavrin_win32_record.exe" recover "$killed" </dev/null | tr -d '\r' | tail -n1)"
echo "at the next start: $recovered"
[ "$recovered" = "Recovered killed.avi" ] || fail "not recovered"
[ ! -e "$work/killed/.killed.avi.unfinished" ] || fail "the marker stayed"
python3 "$root/scripts/win32-recording-check.py" --layout "$work/killed/killed.avi" || fail "no index after recovery"
decode="$(ffmpeg -nostdin -v error -i "$work/killed/killed.avi" -map 0 -f null - 2>&1)"
[ -z "$decode" ] || fail "the recovered file does not decode cleanly: $decode"
frames="$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
  "$work/killed/killed.avi")"
echo "the recovered file: $frames frames"
[ "$frames" -ge 60 ] || fail "the recovered file holds $frames frames, not the 4 s recorded"
echo "== A full disk ends the recording, which keeps what was written, finished"
mkdir -p "$work/full"
said="$("$wine64" "$tests/tavrin_win32_record.exe" full "$(windows "$work/full")" </dev/null | tr -d '\r' | tail -n1)" ||
  fail "the recording onto a full disk did not stop by itself"
echo "status line: $said"
[ "$said" = "Stopped. The disk is full: free some space or choose another output folder." ] ||
  fail "the status line does not say the disk is full"
size="$(stat -c %s "$work/full/full.avi")"
[ "$size" -le $((3 << 20)) ] || fail "the file of $size bytes is larger than the disk"
python3 "$root/scripts/win32-recording-check.py" --layout "$work/full/full.avi" || fail "no index in the room kept"
decode="$(ffmpeg -nostdin -v error -i "$work/full/full.avi" -map 0 -f null - 2>&1)"
[ -z "$decode" ] || fail "the file of the full disk does not decode cleanly: $decode"
[ ! -e "$work/full/.full.avi.unfinished" ] || fail "the file of the full disk is left unfinished"
echo "recording under Wine: OK"
