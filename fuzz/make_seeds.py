#!/usr/bin/env python3
"""Writes the fuzz seeds: small maps that reach each part of the reader and
the writer. Run from anywhere: python3 fuzz/make_seeds.py"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")


def names(*given):
    out = b""
    for i in range(10):
        n = given[i] if i < len(given) else b""
        out += n[:31].ljust(31, b"\0")
    return out


def record(floats, textures):
    return struct.pack("<72I6iI", *floats, *textures, 0xDEADBEEF)


def box(x0, y0, z0, x1, y1, z1, tex):
    f = lambda v: struct.unpack("<I", struct.pack("<f", v))[0]
    xs = [x0, x1, x1, x0] * 2
    ys = [y1] * 4 + [y0] * 4
    zs = [z0, z0, z1, z1] * 2
    us = [0.0, 1.0, 1.0, 0.0] * 6
    vs = [0.0, 0.0, 1.0, 1.0] * 6
    return record([f(v) for v in xs + ys + zs + us + vs], [tex] * 6)


def bd1(name_table, records, count=None):
    count = len(records) if count is None else count
    return name_table + struct.pack("<h", count) + b"".join(records)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


os.makedirs(HERE, exist_ok=True)
write("empty-map.bd1", bd1(names(), []))
write("worked-example.bd1", bd1(names(b"wall.bmp", b"floor.bmp"), [box(0, 0, 0, 2, 1, 2, 1)]))
write("two-boxes-trailing.bd1",
      bd1(names(b"a.bmp"), [box(-1, 0, -1, 1, 2, 1, 0), box(0.5, 0.25, 3, 1.03125, 9.99995, 4, 9)])
      + b"trailing bytes")
write("names-edge.bd1",
      bd1(names(b"empty", b"x" * 30, b"y" * 31, b"cr\r\nlf\n\"q\"", b"\x82\xa0\xe9", b"\0after-nul"),
          [box(0, 0, 0, 1, 1, 1, -1)]))
# Non-finite, denormal, huge and tie values in every kind of field.
odd = [0x7F800000, 0xFF800000, 0xFFC00000, 0x7FC00001, 0x7F800001, 0x00000001, 0x80000001,
       0x7F7FFFFF, 0xFF7FFFFF, 0x60AD78EC, 0x3C800000, 0xBD000000, 0x80000000, 0x3F840000]
floats = [odd[i % len(odd)] for i in range(72)]
write("odd-values.bd1", bd1(names(b"n.bmp"), [record(floats, [-1, 12, 2**31 - 1, -2**31, 9, 10])]))
write("negative-count.bd1", bd1(names(b"n"), [box(0, 0, 0, 1, 1, 1, 0)], count=-1))
write("count-beyond-data.bd1", bd1(names(b"n"), [box(0, 0, 0, 1, 1, 1, 0)], count=3))
write("short-header.bd1", names(b"cut")[:200])
