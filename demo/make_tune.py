#!/usr/bin/env python3
"""Writes the demo game's looping tune: a WAV file (16-bit mono, 22,050 Hz)
of four half-second notes, two seconds in all.

Each note is a whole number of cycles long (its frequency is an even number
of hertz, so 11,025 samples hold it exactly), so every note, and the loop
itself, starts and ends at a zero crossing: no click between notes or where
the loop starts again.

    make_tune.py OUTPUT.wav
"""

import math
import struct
import sys
import wave

RATE = 22050
NOTE_SAMPLES = RATE // 2
NOTES = (440, 524, 660, 524)  # A4, C5, E5, C5, rounded to even hertz
AMPLITUDE = 12000


def samples():
    for frequency in NOTES:
        for i in range(NOTE_SAMPLES):
            t = i / RATE
            swell = 1.0 - 0.3 * i / NOTE_SAMPLES
            value = math.sin(2 * math.pi * frequency * t) + 0.25 * math.sin(4 * math.pi * frequency * t)
            yield int(AMPLITUDE * swell * value / 1.25)


def main(path):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", s) for s in samples()))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    main(sys.argv[1])
