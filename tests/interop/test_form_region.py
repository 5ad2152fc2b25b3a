#!/usr/bin/python3
"""Reads the form region's layout, as the module hands it to Outlook, with olefile.

Usage: test_form_region.py BUILD_DIR. The layout is the module's resource 605: the test finds the
generated file's bytes in VmOfcX.dll, reads the compound file with olefile and the Forms 2.0
form in it as MS-OFORMS describes it (FormControl in "f", the image's data in "o").
"""
import pathlib
import struct
import sys
import unittest
import uuid

import olefile

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
LAYOUT = BUILD / "generated/FormRegion.ofs"
USERFORM = uuid.UUID("C62A69F0-16DC-11CE-9E98-00AA00574A4F")
STDFONT = uuid.UUID("0BE35203-8F91-11CE-9DE3-00AA004BB851")
STDPICTURE = uuid.UUID("0BE35204-8F91-11CE-9DE3-00AA004BB851")
OLK_TEXTBOX = uuid.UUID("0006F068-0000-0000-C000-000000000046")
OLK_COMMANDBUTTON = uuid.UUID("0006F04A-0000-0000-C000-000000000046")
CACHED_IMAGE = 12


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def bytes(self, n):
        self.pos += n
        return self.data[self.pos - n:self.pos]

    def guid(self):
        return uuid.UUID(bytes_le=self.bytes(16))


def read_form(data):
    """The form's font face and its sites as (name, class, object stream size)."""
    r = Reader(data)
    assert r.take("BBH")[:2] == (0, 4), "FormControl version"
    mask = r.take("I")
    assert mask == 0x8 | 0x400 | 0x100000, hex(mask)
    _next_id, font_index = r.take("IH")
    assert font_index == 0xFFFF
    r.bytes(2 + 8)  # padding, DisplayedSize
    assert r.guid() == STDFONT
    face_len = r.take("BHBHIB")[-1]
    face = r.bytes(face_len).decode("ascii")
    classes = []
    for _ in range(r.take("H")):
        assert r.take("H") == 0
        size = r.take("H")
        body = Reader(r.bytes(size))
        assert body.take("I") == 0x1, "a class id only"
        classes.append(body.guid())
    count, _cb = r.take("II")
    depth, type_or_count, site_type = r.take("BBB")
    assert (depth, type_or_count, site_type) == (0, 0x80 | count, 1), "OLE sites at depth 0"
    r.bytes(1)
    sites = []
    for _ in range(count):
        assert r.take("H") == 0
        body = Reader(r.bytes(r.take("H")))
        assert body.take("I") == 0x1 | 0x4 | 0x20 | 0x40 | 0x80 | 0x100
        name_data, _ident, object_size, _tab, clsid_index = body.take("IIIhH")
        assert name_data & 0x80000000, "single-byte name"
        name = body.bytes(name_data & 0x7FFFFFFF).decode("ascii")
        cls = classes[clsid_index - 0x8000] if clsid_index >= 0x8000 else clsid_index
        sites.append((name, cls, object_size))
    assert r.pos == len(data), "nothing after the sites"
    return face, sites


class FormRegionLayout(unittest.TestCase):
    def test_the_module_hands_out_a_forms_form_with_the_three_controls(self):
        layout = LAYOUT.read_bytes()
        self.assertEqual(4096, len(layout))
        self.assertIn(layout, (BUILD / "VmOfcX.dll").read_bytes())
        with olefile.OleFileIO(layout) as ole:
            self.assertEqual(str(USERFORM).upper(), ole.root.clsid)
            self.assertEqual(sorted([["\x01CompObj"], ["f"], ["o"]]), sorted(ole.listdir()))
            self.assertIn(b"Microsoft Forms 2.0 Form\0", ole.openstream("\x01CompObj").read())
            face, sites = read_form(ole.openstream("f").read())
            objects = ole.openstream("o").read()
        self.assertEqual("Segoe UI", face)
        self.assertEqual([("MainImage", CACHED_IMAGE, len(objects)), ("MainLabel", OLK_TEXTBOX, 0),
                          ("AcceptButton", OLK_COMMANDBUTTON, 0)], sites)

        # The image control (version 2.0) with its size and a StdPicture holding a 16-pixel icon.
        r = Reader(objects)
        self.assertEqual((0, 2), r.take("BBH")[:2])
        self.assertEqual(0x200 | 0x400, r.take("I"))
        r.bytes(4 + 8)
        self.assertEqual(STDPICTURE, r.guid())
        preamble, size = r.take("II")
        self.assertEqual(0x0000746C, preamble)
        icon = r.bytes(size)
        self.assertEqual(len(objects), r.pos)
        self.assertEqual((0, 1, 1), struct.unpack_from("<HHH", icon))
        self.assertEqual((16, 16), struct.unpack_from("<BB", icon, 6))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
