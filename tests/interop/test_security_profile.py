#!/usr/bin/python3
"""Reads the security profile that the installed module writes on a sealed message, byte by byte,
with a parser written from docs/security-profile.md alone (nothing shared with the C++ code).

Usage: test_security_profile.py BUILD_DIR, inside a Wine session whose prefix has the module
installed. Gives the prefix's user a fresh own certificate whose key has classification 3, plays
security-profile.scn (a sealed message sent from Outlook 14) which dumps the message's profile
and flags, exports the certificate, and checks every record. Python's cryptography reads the
certificate, a small DER reader of this file reads the capabilities and the label, and OpenSSL's
asn1parse must accept both DER parts.
"""
import hashlib
import os
import pathlib
import struct
import subprocess
import sys
import unittest

from cryptography import x509

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
OUT = BUILD / "security-profile"
SCENARIO = pathlib.Path(__file__).resolve().parent / "security-profile.scn"
SENDER = "alice@example.org"

CAPABILITIES = [
    ("1.2.840.113549.3.7", None),
    ("1.2.840.113549.3.2", 128),
    ("1.2.840.113549.3.2", 64),
    ("1.3.14.3.2.7", None),
    ("1.2.840.113549.3.2", 40),
    ("1.3.14.3.2.26", None),
    ("1.2.840.113549.2.5", None),
]


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


def wine(*args):
    return subprocess.run(["wine", *map(str, args)], capture_output=True, text=True, errors="replace", check=False)


def records(blob):
    """The profile's records: (tag, data); each length counts its 4-byte header."""
    out, pos = [], 0
    while pos < len(blob):
        tag, length = struct.unpack_from("<HH", blob, pos)
        if length < 4 or pos + length > len(blob):
            raise ValueError(f"record at {pos}: length {length}")
        out.append((tag, blob[pos + 4 : pos + length]))
        pos += length
    return out


def tlv(der, pos=0):
    """One DER element at pos: (tag, contents, next position); short and long lengths."""
    tag, length = der[pos], der[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(der[pos : pos + count], "big")
        pos += count
    return tag, der[pos : pos + length], pos + length


def elements(contents):
    out, pos = [], 0
    while pos < len(contents):
        tag, value, pos = tlv(contents, pos)
        out.append((tag, value))
    return out


def oid_text(contents):
    arcs, value = [contents[0] // 40, contents[0] % 40], 0
    for byte in contents[1:]:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            arcs.append(value)
            value = 0
    return ".".join(map(str, arcs))


def asn1parse_accepts(der):
    return subprocess.run(["openssl", "asn1parse", "-inform", "DER"], input=der, capture_output=True,
                          check=False).returncode == 0


class SecurityProfileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        OUT.mkdir(exist_ok=True)
        for store in ("MY", "VelmoraBuddies"):
            wine("reg", "delete", rf"HKCU\Software\Microsoft\SystemCertificates\{store}\Certificates", "/f")
        wine("reg", "delete", r"HKCU\Software\Velmora\Solvane\Keys", "/f")
        made = wine(BUILD / "tools/vmpki.exe", "user", SENDER, "Alice Example")
        assert made.returncode == 0, made.stderr
        # The key's classification, as the suite's tools set it: the label's classification.
        keys = wine("reg", "query", r"HKCU\Software\Velmora\Solvane\Keys")
        containers = [line.strip() for line in keys.stdout.splitlines() if "\\Keys\\" in line]
        assert len(containers) == 1, keys.stdout
        wine("reg", "add", containers[0], "/v", "Classification", "/t", "REG_DWORD", "/d", "3", "/f")
        exported = wine(BUILD / "tools/vmpki.exe", "export", SENDER, winpath(OUT / "alice.cer"))
        assert exported.returncode == 0, exported.stderr
        env = dict(os.environ, OUT=winpath(OUT))
        played = subprocess.run(["wine", str(BUILD / "sim/ofcsim.exe"), "--only", "VmOfcX.ComposeRibbon",
                                 str(SCENARIO)], capture_output=True, text=True, errors="replace", env=env,
                                check=False)
        assert played.returncode == 0, played.stdout + played.stderr
        cls.profile = (OUT / "profile.bin").read_bytes()
        cls.flags = (OUT / "flags.bin").read_bytes()
        cls.cert = (OUT / "alice.cer").read_bytes()

    def test_flags_ask_for_signing_and_sealing(self):
        self.assertEqual(struct.pack("<I", 0x3), self.flags)

    def test_records_come_in_their_order(self):
        tags = [tag for tag, _ in records(self.profile)]
        self.assertEqual([0x0001, 0x0006, 0x0020, 0x000B, 0x0051, 0x0022, 0x0009, 0x0002, 0x0050], tags)

    def test_fixed_values_and_the_name_in_both_forms(self):
        fields = dict(records(self.profile))
        self.assertEqual(struct.pack("<I", 1), fields[0x0001])
        self.assertEqual(struct.pack("<I", 1), fields[0x0006])
        self.assertEqual(struct.pack("<I", 7), fields[0x0020])
        ansi, wide = fields[0x000B], fields[0x0051]
        self.assertTrue(ansi.endswith(b"\0") and wide.endswith(b"\0\0"))
        self.assertTrue(len(ansi) > 1)
        self.assertEqual(ansi[:-1].decode("cp1252"), wide[:-2].decode("utf-16-le"))

    def test_both_hashes_name_the_senders_certificate(self):
        fields = dict(records(self.profile))
        digest = hashlib.sha1(self.cert).digest()
        self.assertEqual(digest, fields[0x0022])
        self.assertEqual(digest, fields[0x0009])
        self.assertIn(SENDER, x509.load_der_x509_certificate(self.cert).subject.rfc4514_string())

    def test_capabilities_are_resource_606(self):
        der = dict(records(self.profile))[0x0002]
        self.assertEqual(90, len(der))
        self.assertTrue(asn1parse_accepts(der))
        tag, contents, end = tlv(der)
        self.assertEqual((0x30, 90), (tag, end))
        found = []
        for tag, capability in elements(contents):
            self.assertEqual(0x30, tag)
            parts = elements(capability)
            self.assertEqual(0x06, parts[0][0])
            parameter = None
            if len(parts) > 1:
                self.assertEqual(0x02, parts[1][0])
                parameter = int.from_bytes(parts[1][1], "big", signed=True)
            found.append((oid_text(parts[0][1]), parameter))
        self.assertEqual(CAPABILITIES, found)

    def test_the_label_has_the_suites_policy_and_the_keys_classification(self):
        der = dict(records(self.profile))[0x0050]
        self.assertTrue(asn1parse_accepts(der))
        tag, contents, end = tlv(der)
        self.assertEqual((0x31, len(der)), (tag, end))
        (oid_tag, oid), (int_tag, classification) = elements(contents)
        self.assertEqual((0x06, "1.3.6.1.4.1.51877.1.2"), (oid_tag, oid_text(oid)))
        self.assertEqual((0x02, 3), (int_tag, int.from_bytes(classification, "big", signed=True)))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
