#!/usr/bin/env python3
"""Draws the icons that the module's dialogs show (16 and 32 pixels each) into OUT_DIR:
contacts.ico (two heads), certificate.ico (a sheet with a seal), options.ico (a shield).

Usage: make-icons.py OUT_DIR
"""
import os
import struct
import sys

TEAL = (0x1F, 0x7A, 0x8C, 0xFF)
GOLD = (0xD9, 0xA4, 0x1E, 0xFF)
PAPER = (0xF7, 0xF7, 0xF2, 0xFF)
EDGE = (0x50, 0x50, 0x50, 0xFF)
CLEAR = (0, 0, 0, 0)


def contacts(x, y):
    for cx, cy, r in ((0.35, 0.3, 0.16), (0.68, 0.38, 0.16)):
        if (x - cx) ** 2 + (y - cy) ** 2 < r * r:
            return TEAL
    for cx, top in ((0.35, 0.5), (0.68, 0.58)):
        if y > top and abs(x - cx) < 0.25 - (y - top) * -0.1 and y < 0.95:
            return TEAL
    return CLEAR


def certificate(x, y):
    if (x - 0.7) ** 2 + (y - 0.72) ** 2 < 0.04:
        return GOLD
    if 0.1 < x < 0.9 and 0.12 < y < 0.82:
        return EDGE if min(x - 0.1, 0.9 - x, y - 0.12, 0.82 - y) < 0.06 else PAPER
    return CLEAR


def options(x, y):
    if 0.15 < x < 0.85 and 0.08 < y < 0.92 and y < 0.55 + (0.5 - abs(x - 0.5)) * 0.9:
        return GOLD if abs(x - 0.5) < 0.08 or abs(y - 0.45) < 0.06 else TEAL
    return CLEAR


def icon_image(draw, size):
    """A 32-bit icon image: the colour DIB (height doubled, as icons have it), then the mask."""
    pixels = b""
    mask = b""
    stride = ((size + 31) // 32) * 4
    for row in range(size - 1, -1, -1):
        bits = 0
        for col in range(size):
            r, g, b, a = draw((col + 0.5) / size, (row + 0.5) / size)
            pixels += bytes((b, g, r, a))
            bits = (bits << 1) | (0 if a else 1)
        mask += bits.to_bytes(stride, "big") if size % 32 == 0 else (bits << (stride * 8 - size)).to_bytes(stride, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def ico(draw, sizes=(16, 32)):
    images = [icon_image(draw, s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, draw in (("contacts", contacts), ("certificate", certificate), ("options", options)):
        with open(os.path.join(out_dir, name + ".ico"), "wb") as f:
            f.write(ico(draw))


if __name__ == "__main__":
    main()
