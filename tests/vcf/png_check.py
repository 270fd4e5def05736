#!/usr/bin/env python3
"""Checks that a PNG image (8-bit RGB or RGBA, as rsvg-convert writes) is not
blank: some pixels are not white, and each colour given (as rrggbb) appears.

    png_check.py image.png [rrggbb ...]
"""
import struct
import sys
import zlib


def rows(path):
    data = open(path, "rb").read()
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
    if depth != 8 or colour not in (2, 6):
        sys.exit(f"{path}: unexpected PNG depth {depth} or colour type {colour}")
    bpp = 4 if colour == 6 else 3
    raw, stride, prev = zlib.decompress(idat), width * bpp, bytearray(width * bpp)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        yield [tuple(line[x:x + 3]) for x in range(0, stride, bpp)]


def main():
    path, wanted = sys.argv[1], [tuple(bytes.fromhex(c)) for c in sys.argv[2:]]
    pixels = [p for row in rows(path) for p in row]
    inked = sum(1 for p in pixels if min(p) < 200)
    if inked < len(pixels) // 100:
        sys.exit(f"{path}: blank ({inked} of {len(pixels)} pixels drawn)")
    for colour in wanted:
        if not any(all(abs(p[k] - colour[k]) < 40 for k in range(3)) for p in pixels):
            sys.exit(f"{path}: no pixel of colour {bytes(colour).hex()}")


main()
