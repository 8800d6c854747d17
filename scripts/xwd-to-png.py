#!/usr/bin/python3
"""Saves the screen of a virtual X display as a PNG image, for the demo.

The virtual display (Xvfb -fbdir) keeps its screen in a memory-mapped file in XWD form; this
reads one frame of it and writes a PNG with nothing but the standard library, so the demo needs
no image tools. Only true-colour frames of 24 or 32 bits per pixel are understood.

usage: xwd-to-png.py XWD_FILE PNG_FILE
Exit status: 0 written, 1 the file is not such a frame (a message says why), 2 bad usage.
"""
import os
import struct
import sys
import zlib

HEADER_FIELDS = 25
HEADER_BYTES = HEADER_FIELDS * 4
ZPIXMAP = 2
LSB_FIRST = 0
COLOR_BYTES = 12
MAX_SIDE = 16384


class FrameError(Exception):
    pass


def read_frame(data):
    """Answers (width, height, rows of RGB bytes) of an XWD frame."""
    if len(data) < HEADER_BYTES:
        raise FrameError("shorter than an XWD header")
    fields = struct.unpack(">%dI" % HEADER_FIELDS, data[:HEADER_BYTES])
    (header_size, version, pixmap_format, _depth, width, height, _xoffset, byte_order,
     _unit, _bit_order, _pad, bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask,
     blue_mask, _bits_per_rgb, _entries, ncolors) = fields[:20]
    if version != 7 or pixmap_format != ZPIXMAP:
        raise FrameError("not a version 7 ZPixmap XWD file")
    if bits_per_pixel not in (24, 32):
        raise FrameError("%d bits per pixel; only true colour is understood" % bits_per_pixel)
    if not (0 < width <= MAX_SIDE and 0 < height <= MAX_SIDE):
        raise FrameError("a frame of %dx%d" % (width, height))
    pixel_bytes = bits_per_pixel // 8
    if bytes_per_line < width * pixel_bytes or header_size < HEADER_BYTES:
        raise FrameError("inconsistent header")
    start = header_size + ncolors * COLOR_BYTES
    end = start + bytes_per_line * height
    if end > len(data):
        raise FrameError("the pixels end early")
    shifts = [shift_of(mask) for mask in (red_mask, green_mask, blue_mask)]
    order = "little" if byte_order == LSB_FIRST else "big"
    # The frame of an Xvfb on a little-endian machine: B, G, R, unused.
    common = (pixel_bytes == 4 and order == "little" and
              (red_mask, green_mask, blue_mask) == (0xFF0000, 0xFF00, 0xFF))
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * pixel_bytes]
        if common:
            row = bytearray(width * 3)
            row[0::3], row[1::3], row[2::3] = line[2::4], line[1::4], line[0::4]
            rows.append(bytes(row))
            continue
        row = bytearray()
        for x in range(0, len(line), pixel_bytes):
            pixel = int.from_bytes(line[x:x + pixel_bytes], order)
            for mask, shift in zip((red_mask, green_mask, blue_mask), shifts):
                row.append((pixel & mask) >> shift & 0xFF)
        rows.append(bytes(row))
    return width, height, rows


def shift_of(mask):
    if mask == 0:
        raise FrameError("a colour mask of zero")
    shift = 0
    while not mask >> shift & 1:
        shift += 1
    return shift


def png_bytes(width, height, rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    pixels = zlib.compress(b"".join(b"\0" + row for row in rows), 6)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) +
            chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 3:
        print("usage: xwd-to-png.py XWD_FILE PNG_FILE", file=sys.stderr)
        return 2
    try:
        with open(argv[1], "rb") as source:
            data = source.read()
        width, height, rows = read_frame(data)
    except (OSError, FrameError) as error:
        print("xwd-to-png: %s: %s" % (argv[1], error), file=sys.stderr)
        return 1
    try:
        with open(argv[2], "wb") as out:
            out.write(png_bytes(width, height, rows))
    except OSError as error:
        # No half-written image stays behind.
        if os.path.isfile(argv[2]):
            os.remove(argv[2])
        print("xwd-to-png: %s: %s" % (argv[2], error), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
