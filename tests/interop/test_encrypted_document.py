#!/usr/bin/python3
"""Reads the encrypted documents of the two-user test with tools nobody here wrote.

Usage: test_encrypted_document.py BUILD_DIR, after tests/integration/documents/two-users.sh left
the documents, the contact's certificate and the contact's private key in BUILD_DIR/documents.
olefile reads the compound file, Python's cryptography parses the certificate and unwraps the
key material with the contact's private key, OpenSSL decrypts the package (des-ede3-cbc), and
zipfile with ElementTree reads the Open XML package inside; xmlsec1 and the manifest check of
test_signed_documents verify the signatures of the documents protected from the document ribbon.
"""
import base64
import hashlib
import io
import pathlib
import re
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET
import zipfile

import olefile
from cryptography import x509
from cryptography.hazmat.primitives.asymmetric import padding

from capi_keys import private_key_from_blob
from test_signed_documents import SIGNATURE_RELS, manifest_mismatches, relationship_targets, signature_parts, xmlsec1_verify

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
DOCS = BUILD / "documents"
SCENARIOS = pathlib.Path(__file__).resolve().parent.parent / "integration/documents"
PROVIDER_ID = "{0F9A36C7-8501-4224-A39D-054EF270C86F}"


CONTENT_TYPES = "{http://schemas.openxmlformats.org/package/2006/content-types}"
RELATIONSHIPS = "{http://schemas.openxmlformats.org/package/2006/relationships}"
OFFICE_DOCUMENT = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument"
# By extension: the main part, its content type, and the part that holds the text.
MAIN_PARTS = {
    ".docx": ("word/document.xml",
              "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml",
              "word/document.xml"),
    ".xlsx": ("xl/workbook.xml", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
              "xl/worksheets/sheet1.xml"),
    ".pptx": ("ppt/presentation.xml",
              "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml",
              "ppt/slides/slide1.xml"),
}


def expected_text(scenario="owner-encrypts.scn", index=0):
    """The text of a document the scenario makes, the first by default."""
    texts = [line[4:].strip() for line in (SCENARIOS / scenario).read_text().splitlines() if line.startswith("new ")]
    return texts[index]


def parse_encryption_info(data):
    major, minor, flags, header_size = struct.unpack_from("<HHII", data, 0)
    header = data[12 : 12 + header_size]
    header_flags = struct.unpack_from("<I", header, 0)[0]
    csp_name = header[32:].decode("utf-16-le").rstrip("\0")
    xml_bytes = data[12 + header_size :]
    end = next(i for i in range(0, len(xml_bytes), 2) if xml_bytes[i : i + 2] == b"\0\0")
    xml = xml_bytes[:end].decode("utf-16-le")
    provider_data = base64.b64decode(re.search(r"<EncryptionProviderData>([^<]*)<", xml).group(1))
    return (major, minor, flags, header_flags, csp_name, xml, provider_data)


def parse_provider_data(data):
    """The recipient records: (wrapped key, issuer DER, serial number least significant byte first)."""
    count = struct.unpack_from("<I", data, 0)[0]
    pos, records = 4, []
    for _ in range(count):
        fields = []
        for _ in range(3):
            size = struct.unpack_from("<I", data, pos)[0]
            fields.append(data[pos + 4 : pos + 4 + size])
            pos += 4 + size
        records.append(tuple(fields))
    assert pos == len(data), "bytes after the last record"
    return records


def content_key(key_material):
    h = hashlib.sha1(key_material).digest()
    a = hashlib.sha1(bytes(b ^ 0x36 for b in h) + b"\x36" * 44).digest()
    b = hashlib.sha1(bytes(b ^ 0x5C for b in h) + b"\x5c" * 44).digest()
    return (a + b)[:24]


def openssl_decrypt(key, ciphertext):
    # Padding stays: the recorded size says where the package ends.
    return subprocess.run(
        ["openssl", "enc", "-d", "-des-ede3-cbc", "-nopad", "-K", key.hex(), "-iv", "00" * 8],
        input=ciphertext,
        capture_output=True,
        check=True,
    ).stdout


class EncryptedDocument(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.contact = x509.load_der_x509_certificate((DOCS / "contact.cer").read_bytes())
        cls.contact_key = private_key_from_blob((DOCS / "contact.key").read_bytes())
        cls.owner = x509.load_der_x509_certificate((DOCS / "owner.cer").read_bytes())

    def read(self, name):
        with olefile.OleFileIO(str(DOCS / name)) as ole:
            streams = {"/".join(entry) for entry in ole.listdir(streams=True, storages=False)}
            info = ole.openstream("EncryptionInfo").read()
            package = ole.openstream("EncryptedPackage").read()
            primary = ole.openstream(["\x06DataSpaces", "TransformInfo", "StrongEncryptionTransform", "\x06Primary"]).read()
        return streams, info, package, primary

    def records_of(self, name):
        return parse_provider_data(parse_encryption_info(self.read(name)[1])[6])

    def record_of(self, records, cert):
        serial = cert.serial_number.to_bytes((cert.serial_number.bit_length() + 8) // 8, "big").lstrip(b"\0")
        for wrapped, issuer, serial_le in records:
            if issuer == cert.issuer.public_bytes() and serial_le[::-1].lstrip(b"\0") == serial:
                return wrapped
        return None

    def decrypt_as_contact(self, name):
        streams, info, package, _ = self.read(name)
        records = parse_provider_data(parse_encryption_info(info)[6])
        wrapped = self.record_of(records, self.contact)
        self.assertIsNotNone(wrapped, "no record names the contact")
        key_material = self.contact_key.decrypt(wrapped[::-1], padding.PKCS1v15())
        self.assertEqual(48, len(key_material))
        size = struct.unpack_from("<Q", package, 0)[0]
        plain = openssl_decrypt(content_key(key_material), package[8:])
        self.assertLessEqual(size, len(plain))
        return plain[:size]

    def test_container_has_the_data_spaces_and_the_extensible_header(self):
        streams, info, package, primary = self.read("report.docx")
        for stream in ("\x06DataSpaces/Version", "\x06DataSpaces/DataSpaceMap",
                       "\x06DataSpaces/DataSpaceInfo/StrongEncryptionDataSpace", "EncryptionInfo", "EncryptedPackage"):
            self.assertIn(stream, streams)
        major, minor, flags, header_flags, csp_name, xml, _ = parse_encryption_info(info)
        self.assertEqual((4, 3, 0x10, 0x10), (major, minor, flags, header_flags))
        self.assertEqual(PROVIDER_ID, csp_name)
        self.assertIn('Id="%s"' % PROVIDER_ID, xml)
        self.assertIn("{FF9A3F03-56EF-4613-BDD5-5A41C1D07246}".encode("utf-16-le"), primary)
        self.assertEqual(0, (len(package) - 8) % 8)

    def package_text(self, package, name):
        """Checks the Open XML package's content types and relationships; its text, a line a paragraph."""
        main, main_type, text_part = MAIN_PARTS[pathlib.PurePath(name).suffix]
        with zipfile.ZipFile(io.BytesIO(package)) as archive:
            self.assertIsNone(archive.testzip())
            types = ET.fromstring(archive.read("[Content_Types].xml"))
            overrides = {o.get("PartName"): o.get("ContentType") for o in types.iter(CONTENT_TYPES + "Override")}
            self.assertEqual(main_type, overrides.get("/" + main))
            rels = ET.fromstring(archive.read("_rels/.rels"))
            targets = [r.get("Target") for r in rels.iter(RELATIONSHIPS + "Relationship") if r.get("Type") == OFFICE_DOCUMENT]
            self.assertEqual([main], targets)
            ET.fromstring(archive.read(main))
            root = ET.fromstring(archive.read(text_part))
        paragraphs = [e for e in root.iter() if e.tag.endswith("}p") or e.tag.endswith("}row")]
        return "\n".join("".join(t.text or "" for t in p.iter() if t.tag.endswith("}t")) for p in paragraphs)

    def test_contact_decrypts_what_the_owner_encrypted_and_what_the_contact_saved(self):
        expected = {
            "report.docx": expected_text(),
            "report-contact.docx": expected_text(),
            "totals.xlsx": expected_text("owner-other-apps.scn"),
            "slides.pptx": expected_text("owner-other-apps.scn", 1),
        }
        for name, text in expected.items():
            with self.subTest(name):
                self.assertEqual(text, self.package_text(self.decrypt_as_contact(name), name))

    def test_ribbon_documents_decrypt_and_carry_the_owners_valid_signature(self):
        """DocumentSecurity 0 signs, 1 encrypts and signs, 2 and 3 encrypt only (owner-ribbon.scn)."""
        texts = [expected_text("owner-ribbon.scn", i) for i in range(6)]
        documents = [  # name, encrypted, signed, text
            ("ribbon-signed.docx", False, True, texts[0]),
            ("ribbon-both.docx", True, True, texts[1]),
            ("ribbon-encrypted.docx", True, False, texts[2]),
            ("ribbon-both.xlsx", True, True, texts[3]),
            ("ribbon-encrypted.xlsx", True, False, texts[4]),
            ("ribbon-both.pptx", True, True, texts[5]),
        ]
        for name, encrypted, signed, text in documents:
            with self.subTest(name):
                package = self.decrypt_as_contact(name) if encrypted else (DOCS / name).read_bytes()
                self.assertEqual(text, self.package_text(package, name))
                with zipfile.ZipFile(io.BytesIO(package)) as archive:
                    if not signed:
                        self.assertEqual([], relationship_targets(archive, "_rels/.rels", SIGNATURE_RELS + "origin"))
                        continue
                    parts = {n: archive.read(n) for n in archive.namelist()}
                    signatures = signature_parts(archive)
                    self.assertEqual(1, len(signatures))
                    code, messages = xmlsec1_verify(parts[signatures[0]])
                    self.assertEqual(0, code, messages)
                    self.assertEqual([], manifest_mismatches(parts, parts[signatures[0]]))

    def test_a_document_saved_unencrypted_is_the_package_itself(self):
        self.assertEqual(expected_text("owner-other-apps.scn", 1),
                         self.package_text((DOCS / "plain.pptx").read_bytes(), "plain.pptx"))

    def test_records_follow_the_choice_and_the_reader_drops_unknown_recipients(self):
        records = self.records_of("report.docx")
        self.assertEqual(2, len(records))
        self.assertIsNotNone(self.record_of(records[:1], self.contact), "the chosen contact comes first")
        self.assertIsNotNone(self.record_of(records[1:], self.owner), "the owner comes last")
        # The owner is no contact of the contact's, so the contact's save names the contact alone.
        self.assertEqual(1, len(self.records_of("report-contact.docx")))
        owner_only = self.records_of("report-owner-only.docx")
        self.assertEqual(1, len(owner_only))
        self.assertIsNotNone(self.record_of(owner_only, self.owner))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
