#!/usr/bin/env python3
"""Writes a 16-bit PCM WAV file holding a sine tone, for the demo data's sounds.

    tone_wav.py OUT.wav HERTZ SECONDS CHANNELS AMPLITUDE

22050 Hz; a stereo file has the same tone in both channels.  The tone fades
in and out over 10 ms so that it starts and ends without a click.
"""
import math
import struct
import sys

RATE = 22050


def main():
    if len(sys.argv) != 6:
        sys.stderr.write(__doc__)
        return 2
    path = sys.argv[1]
    hertz, seconds = float(sys.argv[2]), float(sys.argv[3])
    channels, amplitude = int(sys.argv[4]), int(sys.argv[5])
    if channels not in (1, 2) or not 0 < amplitude <= 32767 or not 0 < seconds <= 600 or not 0 < hertz < RATE / 2:
        sys.stderr.write("tone_wav.py: a value is out of range\n")
        return 2
    frames = int(RATE * seconds)
    ramp = RATE // 100
    samples = bytearray()
    for f in range(frames):
        envelope = min(1.0, f / ramp, (frames - 1 - f) / ramp)
        value = int(round(amplitude * envelope * math.sin(2 * math.pi * hertz * f / RATE)))
        samples += struct.pack('<h', value) * channels
    header = b'WAVE' + b'fmt ' + struct.pack('<IHHIIHH', 16, 1, channels, RATE, RATE * 2 * channels, 2 * channels, 16)
    body = header + b'data' + struct.pack('<I', len(samples)) + bytes(samples)
    with open(path, 'wb') as out:
        out.write(b'RIFF' + struct.pack('<I', len(body)) + body)
    return 0


if __name__ == '__main__':
    sys.exit(main())
