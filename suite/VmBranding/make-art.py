#!/usr/bin/env python3
"""Draws the branding DLL's pictures into OUT_DIR: the button icon (16 and 32 pixels), the
wizard header, the form region image and the four signature line backgrounds.

Usage: make-art.py OUT_DIR
"""
import os
import struct
import sys

TEAL = (0x1F, 0x7A, 0x8C)
WHITE = (0xFF, 0xFF, 0xFF)
GREY = (0x80, 0x80, 0x80)
PALE = (0xF2, 0xF2, 0xF2)
RED = (0xC0, 0x1F, 0x1F)
GREEN = (0x2E, 0x8B, 0x3E)
CLEAR = None


def brand_mark(size):
    """The product's mark, a teal disc with a white keyhole: rows of colours (top row first),
    CLEAR outside the disc."""
    centre = (size - 1) / 2
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            dx, dy = x - centre, y - centre
            if dx * dx + dy * dy > (size / 2) ** 2:
                row.append(CLEAR)
            elif (dx * dx + (y - size * 0.4) ** 2 <= (size * 0.13) ** 2
                  or (abs(dx) <= size * 0.07 and size * 0.4 <= y <= size * 0.72)):
                row.append(WHITE)
            else:
                row.append(TEAL)
        rows.append(row)
    return rows


def dib_header(width, height, bits, image_size):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, image_size, 2835, 2835, 0, 0)


def bmp_24(rows):
    """A 24-bit bottom-up BMP file from rows of colours (top row first)."""
    width = len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = b''.join(b''.join(bytes((b, g, r)) for r, g, b in row).ljust(stride, b'\0') for row in reversed(rows))
    info = dib_header(width, len(rows), 24, len(pixels))
    header = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def icon_image(size):
    """One 32-bit icon image: the colour DIB (height doubled, as icons have it), then the mask."""
    rows = list(reversed(brand_mark(size)))
    colour = b''.join(bytes((0, 0, 0, 0)) if p is CLEAR else bytes((p[2], p[1], p[0], 255)) for row in rows for p in row)
    mask = b''
    for row in rows:
        line = bytearray(((size + 31) // 32) * 4)
        for x, p in enumerate(row):
            if p is CLEAR:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return dib_header(size, size * 2, 32, len(colour) + len(mask)) + colour + mask


def ico(sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b''.join(images)


def canvas(width, height, colour):
    return [[colour] * width for _ in range(height)]


def with_mark(size, mark_size):
    """A white square with the mark in its middle."""
    rows = canvas(size, size, WHITE)
    margin = (size - mark_size) // 2
    for y, row in enumerate(brand_mark(mark_size)):
        for x, p in enumerate(row):
            if p is not CLEAR:
                rows[margin + y][margin + x] = p
    return rows


def signature_line(background, accent):
    """400 by 130 pixels: the signer's X above the line, and an accent bar at the left edge."""
    rows = canvas(400, 130, background)
    for x in range(8, 392):
        rows[92][x] = GREY
    for i in range(20):
        rows[66 + i][12 + i] = GREY
        rows[66 + i][31 - i] = GREY
    if accent:
        for row in rows:
            row[0:4] = [accent] * 4
    return rows


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {
        'button.ico': ico([16, 32]),
        'wizard-header.bmp': bmp_24(with_mark(49, 41)),
        'region.bmp': bmp_24(with_mark(48, 40)),
        'sigline-software-required.bmp': bmp_24(signature_line(PALE, GREY)),
        'sigline-unsigned.bmp': bmp_24(signature_line(WHITE, None)),
        'sigline-signed-valid.bmp': bmp_24(signature_line(WHITE, GREEN)),
        'sigline-signed-invalid.bmp': bmp_24(signature_line(WHITE, RED)),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
