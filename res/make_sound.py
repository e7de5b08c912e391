#!/usr/bin/env python3
"""Writes res/sounds/hover_click_144.wav, the soft click a dressed button gives as the pointer
enters it.

A short tick: a bright partial over a warmer body, both dying away within a few milliseconds,
at a modest level so that it never startles. Mono, 16-bit, 22050 Hz, about 2 KB.
Run from anywhere: python3 res/make_sound.py
"""

import math
import os
import struct
import wave

RATE = 22050
LENGTH_S = 0.045
PEAK = 0.32  # of full scale

PARTIALS = (  # (frequency in Hz, relative level, decay time constant in seconds)
    (2300.0, 0.55, 0.0045),
    (1150.0, 0.35, 0.0080),
    (420.0, 0.30, 0.0120),
)
ATTACK_S = 0.0012
RELEASE_S = 0.008


def sample(t):
    value = sum(level * math.exp(-t / decay) * math.sin(2 * math.pi * freq * t)
                for freq, level, decay in PARTIALS)
    if t < ATTACK_S:  # a raised-cosine onset avoids a hard edge
        value *= 0.5 - 0.5 * math.cos(math.pi * t / ATTACK_S)
    tail = LENGTH_S - t
    if tail < RELEASE_S:  # and the end fades to exact silence
        value *= max(0.0, tail / RELEASE_S)
    return value


def main():
    count = int(RATE * LENGTH_S)
    raw = [sample(i / RATE) for i in range(count)]
    scale = PEAK / max(abs(v) for v in raw)
    frames = b"".join(struct.pack("<h", int(round(v * scale * 32767))) for v in raw)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sounds", "hover_click_144.wav")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(frames)
    print(f"{path}: {count} samples, {os.path.getsize(path)} bytes")


if __name__ == "__main__":
    main()
