#!/usr/bin/env python3
"""Writes the form region's layout: a Microsoft Forms 2.0 form in an OLE compound file of
4096 bytes, as Outlook loads a region's storage. The form (stream "f") uses the font
"Segoe UI" and holds three controls: "MainImage" (a Forms 2.0 image showing the 16-pixel
picture of ICON_FILE), "MainLabel" (Outlook's text box) and "AcceptButton" (Outlook's command
button); the image's data is in stream "o", Outlook's controls keep none there.
The format is described in docs/form-region.md.

Usage: make-layout.py ICON_FILE OUT_FILE
"""
import struct
import sys
import uuid

SECTOR = 512
MINI_SECTOR = 64
FILE_SIZE = 4096
FREESECT, ENDOFCHAIN, FATSECT, NOSTREAM = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF

CLSID_USERFORM = uuid.UUID("C62A69F0-16DC-11CE-9E98-00AA00574A4F")
CLSID_OLK_TEXTBOX = uuid.UUID("0006F068-0000-0000-C000-000000000046")
CLSID_OLK_COMMANDBUTTON = uuid.UUID("0006F04A-0000-0000-C000-000000000046")
GUID_STDFONT = uuid.UUID("0BE35203-8F91-11CE-9DE3-00AA004BB851")
GUID_STDPICTURE = uuid.UUID("0BE35204-8F91-11CE-9DE3-00AA004BB851")
CACHED_IMAGE = 12  # the Forms 2.0 image among the cached control classes
CLASS_TABLE = 0x8000  # an index into the form's class table


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def icon_16(path):
    """The 16-pixel image of an icon file, as an icon file of its own."""
    data = open(path, "rb").read()
    _, _, count = struct.unpack_from("<HHH", data)
    for i in range(count):
        width, height, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if width == 16:
            entry = struct.pack("<BBBBHHII", width, height, colours, 0, planes, bits, size, 22)
            return struct.pack("<HHH", 0, 1, 1) + entry + data[offset:offset + size]
    raise SystemExit(f"{path}: no 16-pixel image")


def form_stream():
    # FormControl: NextAvailableID, Font (in the stream data) and DisplayedSize stored.
    prop_mask = 0x8 | 0x100000 | 0x400
    data_block = struct.pack("<IH", 4, 0xFFFF) + b"\0\0"
    extra_block = struct.pack("<ii", 15875, 1323)  # 150 by 12.5 mm, in HIMETRIC
    face = b"Segoe UI"
    font = GUID_STDFONT.bytes_le + struct.pack("<BHBHIB", 1, 0, 0, 400, 90000, len(face)) + face

    class_table = struct.pack("<H", 2)
    for clsid in (CLSID_OLK_TEXTBOX, CLSID_OLK_COMMANDBUTTON):
        body = struct.pack("<I", 0x1) + clsid.bytes_le  # ClsID only
        class_table += struct.pack("<HH", 0, len(body)) + body

    sites = b""
    controls = (("MainImage", CACHED_IMAGE, len(image_control()), (0, 0)),
                ("MainLabel", CLASS_TABLE + 0, 0, (120, 1060)),
                ("AcceptButton", CLASS_TABLE + 1, 0, (120, 11640)))
    for ident, (name, clsid_index, object_size, (top, left)) in enumerate(controls, 1):
        # OleSiteConcrete: Name, ID, ObjectStreamSize, TabIndex, ClsidCacheIndex, Position.
        mask = 0x1 | 0x4 | 0x20 | 0x40 | 0x80 | 0x100
        block = struct.pack("<IIIhH", len(name) | 0x80000000, ident, object_size, ident - 1, clsid_index)
        body = struct.pack("<I", mask) + block + pad4(name.encode("ascii")) + struct.pack("<ii", top, left)
        sites += struct.pack("<HH", 0, len(body)) + body
    depths = pad4(struct.pack("<BBB", 0, 0x80 | len(controls), 1))  # three OLE sites at depth 0
    site_data = class_table + struct.pack("<II", len(controls), len(depths) + len(sites)) + depths + sites

    body = struct.pack("<I", prop_mask) + data_block + extra_block
    return struct.pack("<BBH", 0, 4, len(body)) + body + font + site_data


def image_control():
    # ImageControl: Size and Picture stored; the picture follows as a StdPicture.
    body = struct.pack("<I", 0x200 | 0x400) + struct.pack("<H", 0xFFFF) + b"\0\0" + struct.pack("<ii", 900, 900)
    picture = ICON
    return (struct.pack("<BBH", 0, 2, len(body)) + body + GUID_STDPICTURE.bytes_le +
            struct.pack("<II", 0x0000746C, len(picture)) + picture)


def comp_obj():
    def ansi(text):
        data = text.encode("ascii") + b"\0"
        return struct.pack("<I", len(data)) + data
    return (struct.pack("<IIi", 0xFFFE0001, 0x00000A03, -1) + CLSID_USERFORM.bytes_le +
            ansi("Microsoft Forms 2.0 Form") + struct.pack("<I", 0) + ansi("Forms.Form.1"))


def dir_entry(name, kind, left, right, child, start, size, clsid=b"\0" * 16):
    encoded = (name + "\0").encode("utf-16-le") if name else b""
    return (encoded.ljust(64, b"\0") + struct.pack("<HBB", len(encoded), kind, 1) +
            struct.pack("<III", left, right, child) + clsid + b"\0" * 20 +
            struct.pack("<II", start, size) + b"\0" * 4)


def compound_file(streams):
    """Sector 0 the allocation table, 1 the directory, 2 the mini allocation table, from 3 the
    mini stream; every stream is below the 4096-byte cut-off, so all live in the mini stream."""
    mini, mini_fat, starts = b"", [], []
    for data in streams.values():
        count = (len(data) + MINI_SECTOR - 1) // MINI_SECTOR
        starts.append(len(mini_fat))
        mini_fat += [len(mini_fat) + i + 1 for i in range(count - 1)] + [ENDOFCHAIN]
        mini += data.ljust(count * MINI_SECTOR, b"\0")
    mini_sectors = (len(mini) + SECTOR - 1) // SECTOR
    total = FILE_SIZE // SECTOR - 1
    if 3 + mini_sectors > total or len(mini_fat) > SECTOR // 4:
        raise SystemExit("the layout does not fit in 4096 bytes")
    fat = [FATSECT, ENDOFCHAIN, ENDOFCHAIN] + [4 + i for i in range(mini_sectors - 1)] + [ENDOFCHAIN]
    fat += [FREESECT] * (SECTOR // 4 - len(fat))

    # Siblings ordered by name length, then name: "f" < "o" < "\x01CompObj"; "o" is the root of the tree.
    names = list(streams)
    directory = dir_entry("Root Entry", 5, NOSTREAM, NOSTREAM, 2, 3, len(mini), CLSID_USERFORM.bytes_le)
    directory += dir_entry(names[0], 2, NOSTREAM, NOSTREAM, NOSTREAM, starts[0], len(streams[names[0]]))
    directory += dir_entry(names[1], 2, 1, 3, NOSTREAM, starts[1], len(streams[names[1]]))
    directory += dir_entry(names[2], 2, NOSTREAM, NOSTREAM, NOSTREAM, starts[2], len(streams[names[2]]))

    header = (bytes.fromhex("D0CF11E0A1B11AE1") + b"\0" * 16 +
              struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6 +
              struct.pack("<IIIIIIIII", 0, 1, 1, 0, 4096, 2, 1, ENDOFCHAIN, 0) +
              struct.pack("<I", 0) + struct.pack("<I", FREESECT) * 108)
    sectors = [struct.pack(f"<{len(fat)}I", *fat), directory,
               struct.pack(f"<{len(mini_fat)}I", *mini_fat).ljust(SECTOR, b"\xff"), mini]
    body = b"".join(s.ljust(((len(s) + SECTOR - 1) // SECTOR) * SECTOR, b"\0") for s in sectors)
    return (header + body).ljust(FILE_SIZE, b"\0")


ICON = icon_16(sys.argv[1])
layout = compound_file({"f": form_stream(), "o": image_control(), "\x01CompObj": comp_obj()})
assert len(layout) == FILE_SIZE
open(sys.argv[2], "wb").write(layout)
