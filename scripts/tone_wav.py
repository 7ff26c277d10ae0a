#!/usr/bin/env python3
"""Writes a 16-bit PCM WAV file of one of the demo data's sounds.

    tone_wav.py OUT.wav HERTZ SECONDS CHANNELS AMPLITUDE [VOICE]

22050 Hz; a stereo file has the same sound in both channels.  Every sound
fades in and out over 10 ms so that it starts and ends without a click,
but the wind, a loop.
HERTZ is the sound's own pitch; the VOICE says what is made of it:

  sine     a steady tone (the default)
  melody   a tune that opens on HERTZ for 0.8 s, then climbs and falls
           through the notes of its pentatonic scale, each plucked and fading
  strike   steel on steel: a short crack and bell-like partials over HERTZ
  thud     a blow on a body: a low knock falling to HERTZ, over a little noise
  groan    a voice falling from HERTZ to two thirds of it, wavering
  whoosh   air torn by a shaft: noise around HERTZ, swelling and dying
  wind     a loop of noise below HERTZ with slow gusts; its end meets its start
  chirp    a bird: three quick calls rising from HERTZ
  twonote  a short answer: HERTZ, then the fifth above it
  cheer    a shout of triumph: a few voices sliding up from HERTZ to the
           octave and holding it, with breath
The noise is the same on every run (a fixed seed).
"""
import math
import random
import struct
import sys

RATE = 22050
VOICES = ('sine', 'melody', 'strike', 'thud', 'groan', 'whoosh', 'wind', 'chirp', 'twonote', 'cheer')


def sine(hertz, frames):
    return [math.sin(2 * math.pi * hertz * f / RATE) for f in range(frames)]


def melody(hertz, frames):
    # The pentatonic scale above the opening note; each track (its own
    # opening note) walks it in its own order.
    scale = [1.0, 9 / 8, 5 / 4, 3 / 2, 5 / 3, 2.0]
    walk = [0, 2, 4, 3, 5, 4, 2, 3, 1, 2, 0, 1, 3, 2, 4, 0]
    shift = int(hertz) % len(walk)
    out, phase, f = [0.0] * frames, 0.0, 0
    opening = int(0.8 * RATE)
    while f < frames:
        if f == 0:
            length, ratio, plucked = opening, 1.0, False
        else:
            step = (f - opening) // int(0.4 * RATE)
            length, ratio, plucked = int(0.4 * RATE), scale[walk[(step + shift) % len(walk)]], True
        for i in range(min(length, frames - f)):
            phase += 2 * math.pi * hertz * ratio / RATE
            # Each note rises and ends over 5 ms: a plucked string, without a click.
            edge = min(1.0, i / (RATE * 0.005), (length - 1 - i) / (RATE * 0.005))
            envelope = edge * math.exp(-2.5 * i / RATE) if plucked else min(1.0, (length - 1 - i) / (RATE * 0.005))
            tone = math.sin(phase) + (0.25 * math.sin(2 * phase) if plucked else 0.0)
            out[f + i] = 0.85 * envelope * tone
        f += length
    return out


def strike(hertz, frames, noise):
    partials = [(1.0, 1.0), (2.76, 0.6), (5.4, 0.35), (8.93, 0.2)]
    out = []
    for f in range(frames):
        t = f / RATE
        ring = sum(a * math.sin(2 * math.pi * hertz * m * t) for m, a in partials) * math.exp(-t / 0.09)
        crack = noise.uniform(-1, 1) * math.exp(-t / 0.012)
        out.append(0.45 * ring + 0.7 * crack)
    return out


def thud(hertz, frames, noise):
    out, phase = [], 0.0
    for f in range(frames):
        t = f / RATE
        phase += 2 * math.pi * hertz * (1 + 0.8 * math.exp(-t / 0.03)) / RATE
        out.append((math.sin(phase) + 0.3 * noise.uniform(-1, 1)) * math.exp(-t / 0.07))
    return out


def groan(hertz, frames, noise):
    out, phase, low = [], 0.0, 0.0
    for f in range(frames):
        t = f / frames
        pitch = hertz * (1 - t / 3) * (1 + 0.03 * math.sin(2 * math.pi * 6 * f / RATE))
        phase += 2 * math.pi * pitch / RATE
        voice = sum(math.sin(k * phase) / k for k in range(1, 6))
        low += 0.3 * (voice + 0.2 * noise.uniform(-1, 1) - low)
        out.append(0.7 * low * math.sin(math.pi * min(1.0, t * 1.2)))
    return out


def band_noise(hertz, frames, noise):
    # Two one-pole filters: below the pitch, less what lies far below it.
    a = 1 - math.exp(-2 * math.pi * hertz / RATE)
    b = 1 - math.exp(-2 * math.pi * hertz / 8 / RATE)
    low = lower = 0.0
    out = []
    for _ in range(frames):
        low += a * (noise.uniform(-1, 1) - low)
        lower += b * (low - lower)
        out.append(low - lower)
    peak = max(abs(x) for x in out) or 1.0
    return [x / peak for x in out]


def whoosh(hertz, frames, noise):
    air = band_noise(hertz, frames, noise)
    return [x * math.sin(math.pi * f / frames) ** 2 for f, x in enumerate(air)]


def wind(hertz, frames, noise):
    # Made longer by a crossfade's length, whose tail is laid over the head.
    fade = RATE // 2
    air = band_noise(hertz, frames + fade, noise)
    gusts = [0.55 + 0.3 * math.sin(2 * math.pi * 2 * f / frames) + 0.15 * math.sin(2 * math.pi * 5 * f / frames)
             for f in range(frames)]
    out = air[:frames]
    for i in range(fade):
        w = i / fade
        out[i] = w * air[i] + (1 - w) * air[frames + i]
    return [x * g for x, g in zip(out, gusts)]


def chirp(hertz, frames, noise):
    out = [0.0] * frames
    call = int(0.07 * RATE)
    for start in (0, int(0.12 * RATE), int(0.2 * RATE)):
        phase = 0.0
        for i in range(min(call, frames - start)):
            phase += 2 * math.pi * hertz * (1 + 0.5 * i / call) / RATE
            out[start + i] = math.sin(phase) * math.sin(math.pi * i / call)
    return out


def twonote(hertz, frames):
    half = frames // 2
    out = []
    for f in range(frames):
        pitch, i = (hertz, f) if f < half else (hertz * 1.5, f - half)
        out.append(math.sin(2 * math.pi * pitch * i / RATE) * min(1.0, (half - i) / (RATE * 0.02)))
    return out


def cheer(hertz, frames, noise):
    # Three voices a little apart, each rising over the first third to the
    # octave, wavering; the breath is noise under them.
    out = [0.0] * frames
    for detune, wobble in ((1.0, 5.0), (1.012, 6.3), (0.991, 4.4)):
        phase = 0.0
        for f in range(frames):
            t = f / frames
            rise = min(1.0, t * 3)
            pitch = hertz * detune * (1 + rise * (1 - 0.5 * (1 - rise))) * (1 + 0.025 * math.sin(2 * math.pi * wobble * f / RATE))
            phase += 2 * math.pi * pitch / RATE
            out[f] += sum(math.sin(k * phase) / (k * k) for k in range(1, 5)) / 3
    return [(x + 0.12 * noise.uniform(-1, 1)) * math.sin(math.pi * min(1.0, f / frames * 1.1)) * 0.8
            for f, x in enumerate(out)]


def make(voice, hertz, frames):
    noise = random.Random(int(hertz * 1000) + frames)
    if voice in ('sine', 'melody', 'twonote'):
        return {'sine': sine, 'melody': melody, 'twonote': twonote}[voice](hertz, frames)
    return {'strike': strike, 'thud': thud, 'groan': groan, 'whoosh': whoosh, 'wind': wind,
            'chirp': chirp, 'cheer': cheer}[voice](hertz, frames, noise)


def main():
    if len(sys.argv) not in (6, 7):
        sys.stderr.write(__doc__)
        return 2
    path = sys.argv[1]
    hertz, seconds = float(sys.argv[2]), float(sys.argv[3])
    channels, amplitude = int(sys.argv[4]), int(sys.argv[5])
    voice = sys.argv[6] if len(sys.argv) == 7 else 'sine'
    if channels not in (1, 2) or not 0 < amplitude <= 32767 or not 0 < seconds <= 600 or not 0 < hertz < RATE / 2:
        sys.stderr.write("tone_wav.py: a value is out of range\n")
        return 2
    if voice not in VOICES:
        sys.stderr.write("tone_wav.py: no voice '%s' (%s)\n" % (voice, ', '.join(VOICES)))
        return 2
    frames = int(RATE * seconds)
    ramp = RATE // 100
    shape = make(voice, hertz, frames)
    samples = bytearray()
    for f in range(frames):
        # A loop runs on into its own start: it is not faded.
        envelope = 1.0 if voice == 'wind' else min(1.0, f / ramp, (frames - 1 - f) / ramp)
        value = max(-32767, min(32767, int(round(amplitude * envelope * shape[f]))))
        samples += struct.pack('<h', value) * channels
    header = b'WAVE' + b'fmt ' + struct.pack('<IHHIIHH', 16, 1, channels, RATE, RATE * 2 * channels, 2 * channels, 16)
    body = header + b'data' + struct.pack('<I', len(samples)) + bytes(samples)
    with open(path, 'wb') as out:
        out.write(b'RIFF' + struct.pack('<I', len(body)) + body)
    return 0


if __name__ == '__main__':
    sys.exit(main())
