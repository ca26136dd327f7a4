#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Checks recordings the Windows program made, on Linux, as the media tests check the
Linux program's (tests/platform/media/RecordingEndToEndTest.cpp): ffmpeg decodes every
stream to its end without an error, picture and sound end within one frame of each
other, and the sound is the tone, unbroken from its first tenth of a second to the end.

  win32-recording-check.py [--frequency HZ] [--seconds S] FILE.avi...
  win32-recording-check.py --layout FILE.avi     whether the file is finished (exit 0) or not (1)
"""
import argparse
import array
import json
import math
import struct
import subprocess
import sys

RATE = 48000


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)


def goertzel(samples, frequency):
    k = 2 * math.cos(2 * math.pi * frequency / RATE)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + k * s1 - s2, s1
    return s1 * s1 + s2 * s2 - k * s1 * s2


def finished_layout(path):
    """A finished file: the first RIFF's size says where it ends, and an index follows the
    pictures (idx1 after movi, or the OpenDML super index in the header with the file's
    last RIFF closed)."""
    with open(path, 'rb') as f:
        data = f.read()
    if len(data) < 12 or data[0:4] != b'RIFF' or data[8:12] != b'AVI ':
        return False, 'not an AVI file'
    at, riffs, index = 0, 0, False
    while at + 8 <= len(data):
        tag = data[at:at + 4]
        size = struct.unpack_from('<I', data, at + 4)[0]
        if tag != b'RIFF' or size == 0 or at + 8 + size > len(data):
            return False, 'RIFF %d at %d: size %d does not fit the file of %d bytes' % (riffs, at, size, len(data))
        inner = at + 12
        while inner + 8 <= at + 8 + size:
            ctag = data[inner:inner + 4]
            csize = struct.unpack_from('<I', data, inner + 4)[0]
            if ctag == b'idx1' and csize > 0:
                index = True
            inner += 8 + csize + (csize & 1)
        riffs += 1
        at += 8 + size + (size & 1)
    if at != len(data):
        return False, 'the RIFFs end at %d, the file at %d' % (at, len(data))
    return index or riffs > 1, '%d RIFF, index %s' % (riffs, 'yes' if index else 'no')


def check(path, frequency, seconds, fps):
    problems = []
    decoded = run(['ffmpeg', '-nostdin', '-v', 'error', '-i', path, '-map', '0', '-f', 'null', '-'])
    errors = decoded.stderr.decode(errors='replace').strip()
    if decoded.returncode != 0 or errors:
        problems.append('decoding: ' + (errors or 'exit code %d' % decoded.returncode))
    probed = run(['ffprobe', '-v', 'error', '-count_frames', '-show_entries',
                  'stream=codec_type,codec_name,nb_read_frames,nb_frames,duration,sample_rate', '-of', 'json', path])
    streams = json.loads(probed.stdout or b'{}').get('streams', [])
    video = next((s for s in streams if s.get('codec_type') == 'video'), None)
    audio = next((s for s in streams if s.get('codec_type') == 'audio'), None)
    if not video or not audio:
        return problems + ['streams: %s' % streams]
    if audio.get('codec_name') != 'pcm_s16le' or int(audio.get('sample_rate', 0)) != RATE:
        problems.append('sound %s at %s Hz' % (audio.get('codec_name'), audio.get('sample_rate')))
    # The sound's length is what decodes of it (PCM in AVI has no duration of its own);
    # the header's count of samples must say the same.
    pcm = run(['ffmpeg', '-nostdin', '-v', 'error', '-i', path, '-map', '0:a', '-ac', '1', '-f', 's16le', '-'])
    sound = array.array('h')
    sound.frombytes(pcm.stdout[:len(pcm.stdout) // 2 * 2])
    if sys.byteorder != 'little':
        sound.byteswap()
    if str(len(sound)) != audio.get('nb_frames'):
        problems.append('%d samples decoded, the header counts %s' % (len(sound), audio.get('nb_frames')))
    frames = int(video.get('nb_read_frames', 0))
    vlen, alen = float(video.get('duration', 0)), len(sound) / RATE
    if abs(frames - seconds * fps) > max(3, 0.05 * seconds * fps):
        problems.append('%d frames for %.1f s at %d fps' % (frames, seconds, fps))
    if abs(vlen - alen) > 1.0 / fps:
        problems.append('picture %.3f s, sound %.3f s: more than a frame apart' % (vlen, alen))
    first = next((i for i, x in enumerate(sound) if abs(x) >= 1000), len(sound))
    if first > RATE // 10:
        problems.append('silence for the first %.3f s' % (first / RATE))
    window = RATE // 100
    for at in range(first, len(sound) - window + 1, window):
        if max(abs(x) for x in sound[at:at + window]) <= 1000:
            problems.append('silence at %.2f s' % (at / RATE))
            break
    if len(sound) > 3 * RATE:
        middle = sound[RATE:RATE * 3]
        tone, off = goertzel(middle, frequency), goertzel(middle, frequency * 1.6)
        if tone < 100 * off:
            problems.append('no %g Hz tone (power %.3g against %.3g beside it)' % (frequency, tone, off))
    print('%s: %s %d frames %.3f s, %s %.3f s; %s' % (
        path, video.get('codec_name'), frames, vlen, audio.get('codec_name'), alen,
        'OK' if not problems else '; '.join(problems)))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--frequency', type=float, default=440.0)
    parser.add_argument('--seconds', type=float, default=10.0)
    parser.add_argument('--fps', type=int, default=30)
    parser.add_argument('--layout', action='store_true')
    parser.add_argument('files', nargs='+')
    args = parser.parse_args()
    if args.layout:
        ok, why = finished_layout(args.files[0])
        print('%s: %s' % (args.files[0], why))
        return 0 if ok else 1
    failed = 0
    for path in args.files:
        ok, why = finished_layout(path)
        problems = check(path, args.frequency, args.seconds, args.fps)
        if not ok:
            problems.append('unfinished: ' + why)
            print('%s: unfinished: %s' % (path, why))
        failed += bool(problems)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
