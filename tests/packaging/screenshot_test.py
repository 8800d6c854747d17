#!/usr/bin/python3
"""The demo's screenshot converter: frames of the virtual display become PNG images with the
right pixels, and damaged or foreign files are refused with a message, never a traceback or a
half-written image.

usage: screenshot_test.py SCRIPTS_DIR
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

CONVERTER = os.path.join(sys.argv.pop(1) if len(sys.argv) > 1 else "scripts", "xwd-to-png.py")

# Two rows of two pixels: red, green / blue, white.
PIXELS = [[(255, 0, 0), (0, 255, 0)], [(0, 0, 255), (255, 255, 255)]]


def xwd(width=2, height=2, version=7, pixmap_format=2, bits=32, byte_order=0, masks=None,
        ncolors=0, pad=0, name=b"screen\0", cut=0):
    """An XWD frame of PIXELS as Xvfb writes it: header most significant byte first, pixels in
    byte_order, each line padded by pad bytes."""
    masks = masks or (0xFF0000, 0xFF00, 0xFF)
    pixel_bytes = bits // 8
    bytes_per_line = width * pixel_bytes + pad
    header_size = 100 + len(name)
    fields = [header_size, version, pixmap_format, 24, width, height, 0, byte_order, 32,
              byte_order, 32, bits, bytes_per_line, 4, masks[0], masks[1], masks[2], 8, 256,
              ncolors, width, height, 0, 0, 0]
    data = struct.pack(">25I", *fields) + name + b"\0" * (12 * ncolors)
    order = "little" if byte_order == 0 else "big"
    for row in PIXELS[:height]:
        line = b""
        for red, green, blue in row[:width]:
            value = 0
            for mask, part in zip(masks, (red, green, blue)):
                if mask:
                    value |= part << (mask & -mask).bit_length() - 1
            line += (value & ((1 << bits) - 1)).to_bytes(pixel_bytes, order)
        data += line + b"\x7f" * pad
    return data[:len(data) - cut]


def png_pixels(data):
    """The RGB rows of an 8-bit RGB PNG without filters, as the converter writes it."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    offset, idat, size = 8, b"", None
    while offset < len(data):
        (length,) = struct.unpack(">I", data[offset:offset + 4])
        kind = data[offset + 4:offset + 8]
        body = data[offset + 8:offset + 8 + length]
        (crc,) = struct.unpack(">I", data[offset + 8 + length:offset + 12 + length])
        assert crc == zlib.crc32(kind + body) & 0xFFFFFFFF, kind
        if kind == b"IHDR":
            size = struct.unpack(">II", body[:8])
        elif kind == b"IDAT":
            idat += body
        offset += 12 + length
    width, height = size
    raw = zlib.decompress(idat)
    stride = 1 + width * 3
    rows = []
    for y in range(height):
        line = raw[y * stride:(y + 1) * stride]
        assert line[0] == 0
        rows.append([tuple(line[1 + 3 * x:4 + 3 * x]) for x in range(width)])
    return rows


class ScreenshotTest(unittest.TestCase):
    def convert(self, frame):
        """Answers (exit status, standard error, PNG bytes or None)."""
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "Xvfb_screen0")
            target = os.path.join(folder, "shot.png")
            with open(source, "wb") as f:
                f.write(frame)
            done = subprocess.run([sys.executable, CONVERTER, source, target],
                                  capture_output=True, text=True)
            if not os.path.exists(target):
                return done.returncode, done.stderr, None
            with open(target, "rb") as f:
                return done.returncode, done.stderr, f.read()

    def test_frames_keep_their_pixels(self):
        cases = {
            "virtual display on this machine": xwd(),
            "lines padded": xwd(pad=4),
            "a colour map before the pixels": xwd(ncolors=3),
            "big-endian pixels": xwd(byte_order=1),
            "three bytes a pixel": xwd(bits=24),
            "other masks": xwd(masks=(0xFF, 0xFF00, 0xFF0000)),
        }
        for label, frame in cases.items():
            with self.subTest(label):
                status, error, image = self.convert(frame)
                self.assertEqual((status, error), (0, ""))
                self.assertEqual(png_pixels(image), PIXELS)

    def test_damaged_or_foreign_files_are_refused(self):
        cases = {
            "empty": b"",
            "header cut short": xwd()[:60],
            "pixels cut short": xwd(cut=1),
            "other version": xwd(version=6),
            "bitmap format": xwd(pixmap_format=1),
            "palette pixels": xwd(bits=8),
            "zero width": xwd(width=0),
            "absurd height": xwd(height=10**6),
            "a colour mask of zero": xwd(masks=(0, 0xFF00, 0xFF)),
        }
        # bytes_per_line, the thirteenth header field, shorter than two pixels.
        short_lines = bytearray(xwd())
        struct.pack_into(">I", short_lines, 48, 4)
        cases["lines shorter than the pixels"] = short_lines
        # ncolors, the twentieth, claiming a colour map that is not there.
        long_map = bytearray(xwd())
        struct.pack_into(">I", long_map, 76, 10**6)
        cases["colour map runs past the end"] = long_map
        for label, frame in cases.items():
            with self.subTest(label):
                status, error, image = self.convert(bytes(frame))
                self.assertEqual(status, 1)
                self.assertTrue(error.startswith("xwd-to-png: "), error)
                self.assertNotIn("Traceback", error)
                self.assertIsNone(image)

    def test_missing_file_and_bad_usage(self):
        done = subprocess.run([sys.executable, CONVERTER, "/nonexistent/Xvfb_screen0",
                               "/nonexistent/shot.png"],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 1)
        done = subprocess.run([sys.executable, CONVERTER], capture_output=True, text=True)
        self.assertEqual(done.returncode, 2)


if __name__ == "__main__":
    unittest.main()
