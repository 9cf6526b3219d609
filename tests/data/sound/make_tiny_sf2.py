#!/usr/bin/env python3
"""Writes tiny.sf2: the smallest SoundFont the rendering tests need, so that they run the same
whether or not the machine has a General MIDI SoundFont. One looped sine tone (about 441 Hz at
note 69) under a piano preset (bank 0, program 0) and a drum kit preset (bank 128, program 0);
FluidSynth's default modulators make it velocity-sensitive. Run: python3 make_tiny_sf2.py"""
import math
import os
import struct

RATE = 44100
PERIOD = 100  # samples per cycle: 441 Hz
LENGTH = 2000
LOOP = (1000, 1900)  # whole cycles, so the loop joins without a click


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def riff_list(tag, *chunks):
    return chunk(b"LIST", tag + b"".join(chunks))


def name(text):
    return text.encode("ascii").ljust(20, b"\0")


samples = [int(20000 * math.sin(2 * math.pi * i / PERIOD)) for i in range(LENGTH)] + [0] * 46
smpl = struct.pack("<%dh" % len(samples), *samples)

# Two presets, each with one zone that names instrument 0 (generator 41).
phdr = b"".join(struct.pack("<20sHHHIII", name(n), prog, bank, bag, 0, 0, 0)
                for n, prog, bank, bag in (("Tiny Piano", 0, 0, 0), ("Tiny Drums", 0, 128, 1), ("EOP", 0, 0, 2)))
pbag = b"".join(struct.pack("<HH", gen, 0) for gen in (0, 1, 2))
pmod = bytes(10)
pgen = struct.pack("<HH", 41, 0) * 2 + struct.pack("<HH", 0, 0)
# One instrument zone: loop continuously (54 = 1), release in about 0.2 s (38, timecents), sample 0 (53).
inst = struct.pack("<20sH", name("Tiny Sine"), 0) + struct.pack("<20sH", name("EOI"), 1)
ibag = struct.pack("<HH", 0, 0) + struct.pack("<HH", 3, 0)
imod = bytes(10)
igen = struct.pack("<HhHhHH", 54, 1, 38, -2800, 53, 0) + struct.pack("<HH", 0, 0)
shdr = struct.pack("<20sIIIIIBbHH", name("Sine"), 0, LENGTH, LOOP[0], LOOP[1], RATE, 69, 0, 0, 1)
shdr += struct.pack("<20sIIIIIBbHH", name("EOS"), 0, 0, 0, 0, 0, 0, 0, 0, 0)

body = b"sfbk" + riff_list(b"INFO", chunk(b"ifil", struct.pack("<HH", 2, 1)), chunk(b"isng", b"EMU8000\0"),
                           chunk(b"INAM", b"Tiny\0\0")) \
    + riff_list(b"sdta", chunk(b"smpl", smpl)) \
    + riff_list(b"pdta", chunk(b"phdr", phdr), chunk(b"pbag", pbag), chunk(b"pmod", pmod), chunk(b"pgen", pgen),
                chunk(b"inst", inst), chunk(b"ibag", ibag), chunk(b"imod", imod), chunk(b"igen", igen),
                chunk(b"shdr", shdr))
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "tiny.sf2"), "wb") as f:
    f.write(chunk(b"RIFF", body))
