#!/usr/bin/env python3
"""Draws the icons of the module's dialogs and ribbon menus (16 and 32 pixels each) into OUT_DIR:
contacts.ico (two heads), certificate.ico (a sheet with a seal), options.ico (a shield), and for
the menu entries request.ico, sign.ico, seal.ico, invite.ico, batch-invite.ico, manage.ico,
help.ico, and for the document ribbon sign-document.ico, signature-line.ico, encrypt.ico and
remove-encryption.ico.

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


def request(x, y):
    if abs(x - 0.72) < 0.06 and 0.5 < y < 0.94 or abs(y - 0.72) < 0.06 and 0.5 < x < 0.94:
        return GOLD
    return certificate(x * 1.25, y * 1.25)


def sign(x, y):
    if abs((y - 0.8) - (x - 0.2) * -0.9) < 0.07 and 0.15 < x < 0.85:
        return TEAL
    return EDGE if 0.1 < x < 0.9 and abs(y - 0.9) < 0.04 else CLEAR


def seal(x, y):
    if 0.2 < x < 0.8 and 0.45 < y < 0.9:
        return GOLD
    if 0.06 < ((x - 0.5) ** 2 + (y - 0.42) ** 2) ** 0.5 < 0.2 and y < 0.45:
        return EDGE
    return CLEAR


def invite(x, y):
    if 0.08 < x < 0.92 and 0.22 < y < 0.78:
        return EDGE if abs(y - 0.22 - abs(x - 0.5) * 0.8) < 0.06 or min(x - 0.08, 0.92 - x, y - 0.22, 0.78 - y) < 0.05 else PAPER
    return CLEAR


def batch_invite(x, y):
    front = invite(x * 1.25 - 0.25, y * 1.25 - 0.25)
    return front if front != CLEAR else invite(x * 1.25, y * 1.25)


def manage(x, y):
    return TEAL if certificate(x, y) == PAPER and abs(y - 0.35) < 0.05 else certificate(x, y)


def help_(x, y):
    r = ((x - 0.5) ** 2 + (y - 0.5) ** 2) ** 0.5
    if r < 0.45:
        return PAPER if (abs(x - 0.5) < 0.07 and 0.42 < y < 0.62) or (abs(x - 0.5) < 0.07 and 0.7 < y < 0.8) else TEAL
    return CLEAR


def sign_document(x, y):
    if sign(x, y) == TEAL:
        return TEAL
    if 0.15 < x < 0.75 and 0.05 < y < 0.75:
        return EDGE if min(x - 0.15, 0.75 - x, y - 0.05, 0.75 - y) < 0.06 else PAPER
    return CLEAR


def signature_line(x, y):
    if abs(y - 0.75) < 0.05 and 0.1 < x < 0.9:
        return EDGE
    if abs(x - 0.2 - (y - 0.45) * 0.5) < 0.06 and abs(y - 0.55) < 0.12 and x < 0.35:
        return TEAL
    return TEAL if abs(y - 0.55 - 0.1 * ((x * 12) % 2 - 1)) < 0.06 and 0.3 < x < 0.85 else CLEAR


def padlock(x, y, open_):
    if 0.2 < x < 0.8 and 0.45 < y < 0.9:
        return GOLD if ((x - 0.5) ** 2 + (y - 0.62) ** 2) > 0.004 else EDGE
    shift = 0.22 if open_ else 0.0
    if 0.14 < ((x - 0.5 - shift) ** 2 + (y - 0.42) ** 2) ** 0.5 < 0.22 and y < 0.45 + (0.0 if not open_ else -0.05):
        return EDGE
    return CLEAR


def encrypt(x, y):
    return padlock(x, y, False)


def remove_encryption(x, y):
    return padlock(x, y, True)


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
    icons = (("contacts", contacts), ("certificate", certificate), ("options", options), ("request", request),
             ("sign", sign), ("seal", seal), ("invite", invite), ("batch-invite", batch_invite), ("manage", manage),
             ("help", help_), ("sign-document", sign_document), ("signature-line", signature_line),
             ("encrypt", encrypt), ("remove-encryption", remove_encryption))
    for name, draw in icons:
        with open(os.path.join(out_dir, name + ".ico"), "wb") as f:
            f.write(ico(draw))


if __name__ == "__main__":
    main()
