#!/usr/bin/python3
"""Checks the signed documents of the simulated Office with tools nobody here wrote.

Usage: test_signed_documents.py BUILD_DIR, after tests/integration/signatures/signed-documents.sh
left the documents in BUILD_DIR/signatures, signed by the test provider and by the module's
provider. zipfile and ElementTree find the signature parts as ECMA-376 Part 2 relates them, xmlsec1
verifies each XML signature with the certificate of its key information against the test
authority, and hashlib recomputes every manifest digest from the package's parts; a changed part
must make that check fail. The module's signature lines left an image of each state.
"""
import base64
import hashlib
import pathlib
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
DOCS = BUILD / "signatures"
AUTHORITY = BUILD / "pki" / "authority.cer"

RELATIONSHIPS = "{http://schemas.openxmlformats.org/package/2006/relationships}"
DSIG = "{http://www.w3.org/2000/09/xmldsig#}"
SIGNATURE_RELS = "http://schemas.openxmlformats.org/package/2006/relationships/digital-signature/"
SHA1 = "http://www.w3.org/2000/09/xmldsig#sha1"
DOCUMENTS = ["signed.docx", "signed.xlsx", "signed.pptx", "module.docx", "module.xlsx", "module.pptx"]


def relationship_targets(package, rels_part, rel_type):
    folder = rels_part.split("_rels/")[0]
    root = ET.fromstring(package.read(rels_part))
    return [(folder + r.get("Target")).lstrip("/") for r in root.iter(RELATIONSHIPS + "Relationship")
            if r.get("Type") == rel_type]


def signature_parts(package):
    """The signature parts that the origin part relates, found from the package relationships."""
    origins = relationship_targets(package, "_rels/.rels", SIGNATURE_RELS + "origin")
    if len(origins) != 1:
        raise AssertionError("expected one origin part, found %r" % origins)
    origin = origins[0]
    rels = origin.rsplit("/", 1)[0] + "/_rels/" + origin.rsplit("/", 1)[1] + ".rels"
    return relationship_targets(package, rels, SIGNATURE_RELS + "signature")


def manifest_mismatches(package_parts, signature_xml):
    """The manifest references whose SHA-1 digest differs from the part's bytes now."""
    root = ET.fromstring(signature_xml)
    references = list(root.iter(DSIG + "Manifest"))[0].iter(DSIG + "Reference")
    mismatches = []
    count = 0
    for reference in references:
        count += 1
        part = reference.get("URI").split("?")[0].lstrip("/")
        if reference.find(DSIG + "DigestMethod").get("Algorithm") != SHA1:
            mismatches.append(part + ": digest method")
            continue
        stored = base64.b64decode(reference.find(DSIG + "DigestValue").text)
        if part not in package_parts or hashlib.sha1(package_parts[part]).digest() != stored:
            mismatches.append(part)
    if not count:
        mismatches.append("empty manifest")
    return mismatches


def xmlsec1_verify(xml):
    """xmlsec1's verification of a package signature against the test authority: (exit code, messages)."""
    with tempfile.NamedTemporaryFile(suffix=".xml") as file:
        file.write(xml)
        file.flush()
        result = subprocess.run(
            ["xmlsec1", "--verify", "--ignore-manifests", "--trusted-der", str(AUTHORITY),
             "--id-attr:Id", "http://www.w3.org/2000/09/xmldsig#:Object", file.name],
            capture_output=True, text=True)
    return result.returncode, result.stderr


def dark_pixels(bitmap, left, top, right, bottom):
    """How many pixels of the rectangle of a 32-bit bitmap file are darker than light grey."""
    offset, = struct.unpack("<I", bitmap[10:14])
    width, height = struct.unpack("<ii", bitmap[18:26])
    count = 0
    for y in range(top, bottom):
        row = (abs(height) - 1 - y) if height > 0 else y
        for x in range(left, right):
            blue, green, red = bitmap[offset + (row * width + x) * 4:offset + (row * width + x) * 4 + 3]
            count += red + green + blue < 3 * 160
    return count


class SignedDocumentTest(unittest.TestCase):
    def packages(self):
        for name in DOCUMENTS:
            path = DOCS / name
            self.assertTrue(path.is_file(), "%s is missing: run signed-documents.sh first" % path)
            with zipfile.ZipFile(path) as package:
                yield name, package, {n: package.read(n) for n in package.namelist()}

    def test_xmlsec1_accepts_every_signature(self):
        count = 0
        for name, package, _ in self.packages():
            for part in signature_parts(package):
                count += 1
                xml = package.read(part)
                certificate = list(ET.fromstring(xml).iter(DSIG + "X509Certificate"))
                self.assertEqual(1, len(certificate), "%s %s: one certificate in the key information" % (name, part))
                code, messages = xmlsec1_verify(xml)
                self.assertEqual(0, code, "%s %s: %s" % (name, part, messages))
        self.assertEqual(8, count)

    def test_every_manifest_digest_matches_the_parts(self):
        for name, package, parts in self.packages():
            for part in signature_parts(package):
                self.assertEqual([], manifest_mismatches(parts, package.read(part)), name + " " + part)

    def test_module_lines_show_an_image_for_each_state(self):
        for application in ("word", "excel"):
            images = {}
            for state in ("unsigned", "signed", "invalid"):
                data = (DOCS / ("module-%s-%s.bmp" % (application, state))).read_bytes()
                self.assertEqual(b"BM", data[:2], application + " " + state)
                images[state] = data
            self.assertEqual(1, len({struct.unpack("<ii", d[18:26]) for d in images.values()}), application)
            self.assertEqual(3, len(set(images.values())), application + ": the three states look alike")
            # The signing date stands at the top right of a signed line only.
            self.assertEqual(0, dark_pixels(images["unsigned"], 250, 5, 395, 29), application)
            self.assertLess(0, dark_pixels(images["signed"], 250, 5, 395, 29), application)

    def test_a_changed_part_breaks_the_manifest(self):
        for name, package, parts in self.packages():
            signature = package.read(signature_parts(package)[0])
            main = [n for n in parts if n.endswith(".xml") and not n.startswith(("_xmlsignatures", "["))][-1]
            changed = dict(parts)
            changed[main] = parts[main].replace(b" sign", b" SIGN")
            self.assertNotEqual(parts[main], changed[main], name)
            self.assertEqual([main], manifest_mismatches(changed, signature), name)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
