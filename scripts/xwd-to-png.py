#!/usr/bin/env python3
"""Converts an X window dump (xwd -root: the TrueColor ZPixmap of 24 or 32
bits per pixel that an X server such as Xvfb at depth 24 writes) into a PNG, cut to a rectangle when
one is given; a picture of one colour (nothing painted yet) is refused.
Only the Python standard library: no image library is needed.

usage: xwd-to-png.py DUMP PNG [X Y WIDTH HEIGHT]
"""
import struct
import sys
import zlib


def read_dump(path):
    data = open(path, "rb").read()
    # The header: 25 big-endian 32-bit fields, then the window's name.
    fields = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format, _, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    colours = fields[19]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        sys.exit(f"xwd-to-png: {path}: not a ZPixmap dump of 24 or 32 bits per pixel")
    size = bits_per_pixel // 8
    pixels = data[header_size + 12 * colours:]

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in (red_mask, green_mask, blue_mask)]
    order = "little" if byte_order == 0 else "big"
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + size * width]
        row = bytearray()
        for x in range(0, len(line), size):
            value = int.from_bytes(line[x:x + size], order)
            row += bytes(((value >> s) & 0xFF) for s in shifts)
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def main():
    if len(sys.argv) not in (3, 7):
        sys.exit(__doc__.strip().splitlines()[-1])
    width, height, rows = read_dump(sys.argv[1])
    if len(sys.argv) == 7:
        x, y, w, h = (int(v) for v in sys.argv[3:7])
        x, y = max(0, x), max(0, y)
        w, h = min(w, width - x), min(h, height - y)
        rows = [row[3 * x:3 * (x + w)] for row in rows[y:y + h]]
        width, height = w, h
    # A window not painted yet is one colour: no picture of it.
    if len(set(rows)) <= 1 and len(set(rows[0][i:i + 3] for i in range(0, len(rows[0]), 3))) <= 1:
        sys.exit(f"xwd-to-png: {sys.argv[1]}: the picture is of one colour")
    write_png(sys.argv[2], width, height, rows)


if __name__ == "__main__":
    main()
