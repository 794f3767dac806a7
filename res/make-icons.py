#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files.

The picture: a loudspeaker on a blue tile, its sound waves stopped by an
orange bar, the ceiling the program holds the volume under. The tray icon's
warning form, shown while the ceiling is not held, has a red tile, no bar
and no waves, and a yellow exclamation mark beside the loudspeaker.

Each image is drawn at its own size, not scaled from another: the sizes the
system asks for at 100 % to 200 % display scaling (16, 20, 24 and 32 for the
small icon, 32 and 48 for the big one) and 256, from which the system makes
the larger ones. Up to 20 pixels the picture is simplified (one wave, a thicker bar)
so that it stays legible. The images up to 48 pixels are 32-bit bitmaps, which
every reader of the format takes; the 256 image is a PNG (32-bit RGBA, as
the format asks), which is what makes it small.

Usage: make-icons.py [OUTPUT_DIR]  (writes main.ico, tray.ico, tray-warning.ico)
"""
import math
import os
import struct
import sys
import zlib

TILE = (0x2B, 0x5C, 0xAB)
SPEAKER = (0xFF, 0xFF, 0xFF)
WAVE = (0xC8, 0xDC, 0xF5)
CEILING = (0xF5, 0x9E, 0x1B)
WARNING_TILE = (0xC6, 0x28, 0x28)
WARNING_MARK = (0xFF, 0xD8, 0x2E)
SAMPLES = 4  # per axis, for smooth edges

ICONS = (
    ("main.ico", (16, 20, 24, 32, 48, 256), False),  # the window's and the file's
    ("tray.ico", (16, 20, 24, 32, 48), False),  # the notification area's
    ("tray-warning.ico", (16, 20, 24, 32, 48), True),  # and its warning form
)
PNG_FROM = 256  # sizes from here on are stored as PNG


def inside_rounded_square(x, y, radius):
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_speaker(x, y):
    # A box and a cone opening to the right, in unit coordinates.
    if 0.18 <= x <= 0.32 and 0.42 <= y <= 0.68:
        return True
    if 0.32 <= x <= 0.50:
        spread = 0.13 + (x - 0.32) / 0.18 * 0.17
        return abs(y - 0.55) <= spread
    return False


def inside_wave(x, y, small):
    # Arcs around the cone's mouth, below the ceiling bar.
    if y < 0.36:
        return False
    distance = math.hypot(x - 0.46, y - 0.55)
    angle = math.atan2(y - 0.55, x - 0.46)
    if abs(angle) > 0.9:
        return False
    rings = [(0.30, 0.05)] if small else [(0.22, 0.035), (0.34, 0.035)]
    return any(abs(distance - r) <= w for r, w in rings)


def inside_ceiling(x, y, small):
    thickness = 0.07 if small else 0.05
    return 0.55 <= x <= 0.90 and abs(y - 0.28) <= thickness


def inside_exclamation(x, y, small):
    # A stroke and a dot right of the cone, wide enough to stay whole at 16.
    half = 0.08 if small else 0.06
    if abs(x - 0.74) > half:
        return False
    return 0.16 <= y <= 0.60 or 0.70 <= y <= 0.70 + 2 * half


def colour_at(x, y, small, warning):
    if not inside_rounded_square(x, y, 0.22 if small else 0.18):
        return None
    if warning:
        if inside_exclamation(x, y, small):
            return WARNING_MARK
        return SPEAKER if inside_speaker(x, y) else WARNING_TILE
    if inside_ceiling(x, y, small):
        return CEILING
    if inside_speaker(x, y):
        return SPEAKER
    if inside_wave(x, y, small):
        return WAVE
    return TILE


def render(size, warning=False):
    small = size <= 20
    pixels = []  # rows top to bottom, (b, g, r, a)
    for row in range(size):
        line = []
        for col in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (col + (sx + 0.5) / SAMPLES) / size
                    y = (row + (sy + 0.5) / SAMPLES) / size
                    colour = colour_at(x, y, small, warning)
                    if colour:
                        covered += 1
                        for i in range(3):
                            total[i] += colour[i]
            if covered:
                r, g, b = (round(c / covered) for c in total)
                line.append((b, g, r, round(255 * covered / SAMPLES ** 2)))
            else:
                line.append((0, 0, 0, 0))
        pixels.append(line)
    return pixels


def bitmap_image(size, pixels):
    """A 32-bit DIB, bottom-up, with the AND mask the format still requires."""
    xor = b"".join(bytes(p) for row in reversed(pixels) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for col, p in enumerate(row):
            if p[3] == 0:
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    return header + xor + bytes(mask)


def png_image(size, pixels):
    """A 32-bit RGBA PNG, the only kind of PNG the format expects."""
    stride = 4 * size

    def rgba(row):
        return bytes(c for b, g, r, a in row for c in (r, g, b, a))

    # Each row filtered by the byte to its left (Sub) or above it (Up),
    # whichever leaves the smaller differences: the tile is mostly flat.
    raw = b""
    above = bytes(stride)
    for row in pixels:
        line = rgba(row)
        sub = bytes((line[i] - (line[i - 4] if i >= 4 else 0)) & 0xFF for i in range(stride))
        up = bytes((line[i] - above[i]) & 0xFF for i in range(stride))
        cost = lambda data: sum(min(v, 256 - v) for v in data)
        raw += b"\1" + sub if cost(sub) <= cost(up) else b"\2" + up
        above = line

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_bytes(sizes, warning):
    images = []
    for size in sizes:
        pixels = render(size, warning)
        images.append(png_image(size, pixels) if size >= PNG_FROM else bitmap_image(size, pixels))
    directory = struct.pack("<HHH", 0, 1, len(sizes))
    offset = len(directory) + 16 * len(sizes)
    entries = b""
    for size, image in zip(sizes, images):
        # 0 stands for 256 in the directory's one-byte fields.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    for name, sizes, warning in ICONS:
        with open(os.path.join(out, name), "wb") as f:
            f.write(ico_bytes(sizes, warning))


if __name__ == "__main__":
    main()
