#!/usr/bin/python3
"""Writes damaged copies of the encrypted documents, and for each application a scenario that opens them.

Usage: damage.py DOCS_DIR. For the Word, Excel and PowerPoint documents that the owner encrypted for
the contact (two-users.sh), DOCS_DIR/damaged gets copies cut short at several lengths and copies with
one byte changed: the first byte of every stream of the compound file (found with olefile), a byte of
the ciphertext, the recipient count and a wrapped key inside the provider data, and the file's own
allocation table and directory. DOCS_DIR/damaged.scn opens, in each application, the intact document
first (it must open with its text), then every damaged copy, each of which must be refused.
"""
import base64
import pathlib
import re
import struct
import sys

import olefile

HERE = pathlib.Path(__file__).resolve().parent
END_OF_CHAIN = 0xFFFFFFFE

# Application, document, the scenario and the position of the "new" step that wrote its text.
DOCUMENTS = [("word", "report.docx", "owner-encrypts.scn", 0),
             ("excel", "totals.xlsx", "owner-other-apps.scn", 0),
             ("powerpoint", "slides.pptx", "owner-other-apps.scn", 1)]


def written_text(scenario, index):
    return [line[4:].strip() for line in (HERE / scenario).read_text().splitlines() if line.startswith("new ")][index]


def chain(table, start):
    sectors = []
    while start != END_OF_CHAIN:
        sectors.append(start)
        start = table[start]
    return sectors


def stream_offsets(path):
    """Each stream's name with the file offset of every byte of it, in order; where the first sector
    of the allocation table and of the directory begin."""
    streams = {}
    with olefile.OleFileIO(str(path)) as ole:
        size = ole.sectorsize
        root = [(s + 1) * size + i for s in chain(ole.fat, ole.root.isectStart) for i in range(size)]
        ole.loadminifat()
        for name in ole.listdir(streams=True, storages=False):
            entry = ole.direntries[ole._find(name)]
            if entry.size < ole.minisectorcutoff:
                mini = ole.minisectorsize
                offsets = [root[s * mini + i] for s in chain(ole.minifat, entry.isectStart) for i in range(mini)]
            else:
                offsets = [(s + 1) * size + i for s in chain(ole.fat, entry.isectStart) for i in range(size)]
            streams["/".join(name)] = offsets[:entry.size]
        first_fat = struct.unpack_from("<I", path.read_bytes(), 76)[0]
        structures = ((first_fat + 1) * size, (ole.first_dir_sector + 1) * size)
    return streams, structures


def provider_data_changes(data, info):
    """Changed copies of EncryptionInfo's provider data, each as (name, offset in the stream, new bytes)."""
    text = bytes(data[o] for o in info).decode("utf-16-le", "replace")
    match = re.search("<EncryptionProviderData>([^<]*)<", text)
    encoded = match.group(1)
    start = len(text[:match.start(1)].encode("utf-16-le"))
    raw = bytearray(base64.b64decode(encoded))
    count = bytearray(raw)
    count[0] ^= 0x01  # the recipient count
    key = bytearray(raw)
    key[8] ^= 0x01  # the first recipient's wrapped key
    return [(name, start, base64.b64encode(bytes(changed)).decode().encode("utf-16-le"))
            for name, changed in (("recipient-count", count), ("wrapped-key", key))]


def damaged_copies(data, streams, structures):
    """(name, bytes) of every damaged copy of one document."""
    copies = [("cut-%d" % length, data[:length])
              for length in (7, 512, 3000, len(data) // 2, len(data) - 512, len(data) - 1)]

    def changed(name, offsets, new):
        copy = bytearray(data)
        for offset, byte in zip(offsets, new):
            copy[offset] = byte
        copies.append((name, bytes(copy)))

    for stream, offsets in sorted(streams.items()):
        changed("stream-" + re.sub(r"[^A-Za-z]", "", stream), offsets[:1], [data[offsets[0]] ^ 0xFF])
    package = streams["EncryptedPackage"]
    changed("ciphertext", [package[len(package) // 2]], [data[package[len(package) // 2]] ^ 0x01])
    info = streams["EncryptionInfo"]
    for name, start, new in provider_data_changes(data, info):
        changed("provider-data-" + name, info[start:start + len(new)], new)
    fat, directory = structures
    changed("allocation-table", [fat], [data[fat] ^ 0xFF])
    changed("directory-root", [directory + 66], [0])  # the root's type: unused
    return copies


def main():
    docs = pathlib.Path(sys.argv[1])
    out = docs / "damaged"
    out.mkdir(exist_ok=True)
    lines = ["# Written by damage.py: each intact document opens, every damaged copy is refused."]
    for app, document, scenario, index in DOCUMENTS:
        data = (docs / document).read_bytes()
        stem, suffix = document.split(".")
        lines += ["start %s 14" % app, "open %%DOCS%%\\%s" % document,
                  "expect text %s" % written_text(scenario, index), "close"]
        for name, copy in damaged_copies(data, *stream_offsets(docs / document)):
            (out / ("%s-%s.%s" % (stem, name, suffix))).write_bytes(copy)
            lines.append("expect refused any open %%DOCS%%\\damaged\\%s-%s.%s" % (stem, name, suffix))
        lines.append("quit")
    (docs / "damaged.scn").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
