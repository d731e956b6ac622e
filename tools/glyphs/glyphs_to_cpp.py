#!/usr/bin/env python3
"""Writes the glyphs (src/app/glyphs/*.png) as C++ pixel arrays for the Windows
window, which builds its image lists from them: no image decoder is needed at
run time and the PNG files stay the one source of the pictures.

    glyphs_to_cpp.py OUTPUT.inc GLYPH.png...

Each glyph becomes {name, width, height, {RGBA bytes, row by row from the top}}.
Reads the 8-bit RGBA or RGB, non-interlaced PNGs that make_glyphs.py writes.
Standard library only.
"""

import os
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("%s: not a PNG file" % path)
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    width, height, depth, colour, _, _, interlace = header
    channels = {6: 4, 2: 3}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise SystemExit("%s: only 8-bit RGB(A), non-interlaced" % path)
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[i]
        line = bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = prev[x]
            c = prev[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    pixels = bytearray()
    for line in rows:
        for x in range(width):
            px = line[x * channels:(x + 1) * channels]
            pixels += px if channels == 4 else px + b"\xff"
    return width, height, bytes(pixels)


def main():
    out, pngs = sys.argv[1], sys.argv[2:]
    lines = ["// Written by tools/glyphs/glyphs_to_cpp.py from src/app/glyphs; do not edit."]
    for path in sorted(pngs):
        width, height, pixels = read_png(path)
        name = os.path.splitext(os.path.basename(path))[0]
        body = ",".join(str(b) for b in pixels)
        lines.append('{"%s", %d, %d, {%s}},' % (name, width, height, body))
    text = "\n".join(lines) + "\n"
    if not os.path.exists(out) or open(out).read() != text:
        open(out, "w").write(text)


if __name__ == "__main__":
    main()
