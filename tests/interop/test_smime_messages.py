#!/usr/bin/python3
"""Reads the simulated Outlook's S/MIME messages with tools nobody here wrote.

Usage: test_smime_messages.py BUILD_DIR, after integration.Smime.messages left the mail drop and
the users' certificates and private keys in BUILD_DIR/smime. OpenSSL verifies and decrypts,
Python's email package reads the MIME structure, and a few lines of DER reading here take the
signed attributes apart.
"""
import email
import email.policy
import hashlib
import pathlib
import subprocess
import sys
import tempfile
import unittest

from cryptography import x509
from cryptography.hazmat.primitives import serialization

from capi_keys import private_key_from_blob
from der import der_oid, tlv

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
OUT = BUILD / "smime"
DROP = OUT / "drop"
BODY = "Meet me at the harbour at six.\r\nBring the charts."
LABEL_POLICY = "1.3.6.1.4.1.51877.1.2"
CLASSIFICATION = 5  # what the sender's key reports (SimSmimeTest.cpp)


def elements(data):
    """The (tag, contents, whole element) of each element in data."""
    pos, out = 0, []
    while pos < len(data):
        tag, size, head = data[pos], data[pos + 1], 2
        if size & 0x80:
            count = size & 0x7F
            size = int.from_bytes(data[pos + 2 : pos + 2 + count], "big")
            head += count
        out.append((tag, data[pos + head : pos + head + size], data[pos : pos + head + size]))
        pos += head + size
    assert pos == len(data), "elements run past their container"
    return out


# Resource 606 of the module: 3DES, RC2-128, RC2-64, DES, RC2-40, SHA-1, MD5, in that order.
RC2 = "1.2.840.113549.3.2"
CAPABILITIES = tlv(0x30, b"".join(
    tlv(0x30, der_oid(oid) + (tlv(0x02, bits.to_bytes(2 if bits >= 128 else 1, "big")) if bits else b""))
    for oid, bits in [("1.2.840.113549.3.7", 0), (RC2, 128), (RC2, 64), ("1.3.14.3.2.7", 0), (RC2, 40),
                      ("1.3.14.3.2.26", 0), ("1.2.840.113549.2.5", 0)]))


def signed_attributes(p7s):
    """The signer's signed attributes by object identifier (DER of the OID) and their value elements."""
    (_, content_info, _), = elements(p7s)
    oid, explicit = elements(content_info)
    assert oid[2] == der_oid("1.2.840.113549.1.7.2"), "not SignedData"
    (_, signed_data, _), = elements(explicit[1])
    signer_infos = elements(signed_data)[-1]
    assert signer_infos[0] == 0x31
    (_, signer_info, _), = elements(signer_infos[1])
    attrs = next(e for e in elements(signer_info) if e[0] == 0xA0)
    result = {}
    for _, attribute, _ in elements(attrs[1]):
        attr_oid, values = elements(attribute)
        result[attr_oid[2]] = [whole for _, _, whole in elements(values[1])]
    return result


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True)


class SmimeMessages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = pathlib.Path(cls.tmp.name)
        authority = x509.load_der_x509_certificate((BUILD / "pki" / "authority.cer").read_bytes())
        cls.ca = cls.dir / "ca.pem"
        cls.ca.write_bytes(authority.public_bytes(serialization.Encoding.PEM))
        cls.certs, cls.keys = {}, {}
        for user in ("alice", "bob", "carol"):
            cert = x509.load_der_x509_certificate((OUT / f"{user}.cer").read_bytes())
            key = private_key_from_blob((OUT / f"{user}.key").read_bytes())
            cls.certs[user] = cert
            (cls.dir / f"{user}.pem").write_bytes(cert.public_bytes(serialization.Encoding.PEM))
            (cls.dir / f"{user}.key.pem").write_bytes(key.private_bytes(
                serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def message(self, address, subject):
        found = [p for p in (DROP / address).glob("*.eml")
                 if email.message_from_bytes(p.read_bytes(), policy=email.policy.default)["Subject"] == subject]
        self.assertEqual(1, len(found), f"one message {subject!r} for {address}")
        return found[0]

    def verify(self, path_or_bytes):
        """OpenSSL's verification against the authority: (signer certificate, signed content)."""
        source = path_or_bytes if isinstance(path_or_bytes, pathlib.Path) else self.dir / "inner.eml"
        if source.name == "inner.eml":
            source.write_bytes(path_or_bytes)
        signer, content = self.dir / "signer.pem", self.dir / "content"
        result = openssl("cms", "-verify", "-in", str(source), "-CAfile", str(self.ca), "-signer", str(signer),
                         "-out", str(content))
        self.assertEqual(0, result.returncode, result.stderr.decode())
        return x509.load_pem_x509_certificate(signer.read_bytes()), content.read_bytes()

    def decrypt(self, path, user):
        result = openssl("cms", "-decrypt", "-in", str(path), "-inkey", str(self.dir / f"{user}.key.pem"),
                         "-recip", str(self.dir / f"{user}.pem"))
        self.assertEqual(0, result.returncode, f"{user}: {result.stderr.decode()}")
        return result.stdout

    def body_of(self, entity):
        part = email.message_from_bytes(entity, policy=email.policy.default)
        return part.get_content().replace("\n", "\r\n").replace("\r\r\n", "\r\n")

    def test_every_signed_message_verifies_names_the_sender_and_a_change_breaks_it(self):
        for address in ("bob@smime.test", "dave@smime.test"):
            with self.subTest(address):
                path = self.message(address, "signed")
                signer, content = self.verify(path)
                self.assertEqual(self.certs["alice"], signer)
                self.assertEqual(BODY, self.body_of(content))
        tampered = self.message("bob@smime.test", "signed").read_bytes().replace(b"harbour", b"harbor ")
        (self.dir / "tampered.eml").write_bytes(tampered)
        result = openssl("cms", "-verify", "-in", str(self.dir / "tampered.eml"), "-CAfile", str(self.ca),
                         "-out", str(self.dir / "ignored"))
        self.assertNotEqual(0, result.returncode, "a changed body must not verify")

    def test_a_sealed_message_opens_for_each_recipient_with_a_certificate_and_for_the_sender(self):
        cases = {"sealed": ("carol@smime.test", ("bob", "carol", "alice"), ()),
                 "signed and sealed": ("dave@smime.test", ("bob", "alice"), ("carol",))}
        for subject, (address, readers, others) in cases.items():
            path = self.message(address, subject)
            self.assertEqual(path.read_bytes(), self.message("bob@smime.test", subject).read_bytes())
            for user in readers:
                with self.subTest(subject, user=user):
                    signer, content = self.verify(self.decrypt(path, user))
                    self.assertEqual(self.certs["alice"], signer)
                    self.assertEqual(BODY, self.body_of(content))
            for user in others:
                result = openssl("cms", "-decrypt", "-in", str(path), "-inkey", str(self.dir / f"{user}.key.pem"),
                                 "-recip", str(self.dir / f"{user}.pem"))
                self.assertNotEqual(0, result.returncode, f"{user} was no recipient of {subject!r}")
        only_sealed = self.message("bob@smime.test", "sealed only")
        for user in ("bob", "alice"):
            with self.subTest("sealed only", user=user):
                self.assertEqual(BODY, self.body_of(self.decrypt(only_sealed, user)))

    def signature_of(self, entity):
        message = email.message_from_bytes(entity, policy=email.policy.default)
        self.assertEqual("multipart/signed", message.get_content_type())
        self.assertEqual("application/x-pkcs7-signature", message.get_param("protocol"))
        content, signature = message.get_payload()
        return signature.get_payload(decode=True)

    def test_signed_attributes_hold_the_capabilities_both_key_preferences_and_the_label(self):
        alice = self.certs["alice"]
        issuer_and_serial = alice.issuer.public_bytes() + tlv(
            0x02, alice.serial_number.to_bytes((alice.serial_number.bit_length() + 8) // 8, "big"))
        sealed = self.decrypt(self.message("bob@smime.test", "signed and sealed"), "bob")
        cases = {"signed": (self.message("bob@smime.test", "signed").read_bytes(), None),
                 "signed and sealed": (sealed, tlv(0x31, der_oid(LABEL_POLICY) + tlv(0x02, bytes([CLASSIFICATION]))))}
        for name, (entity, label) in cases.items():
            with self.subTest(name):
                attrs = signed_attributes(self.signature_of(entity))
                self.assertEqual([der_oid("1.2.840.113549.1.7.1")], attrs[der_oid("1.2.840.113549.1.9.3")])
                self.assertEqual([CAPABILITIES], attrs[der_oid("1.2.840.113549.1.9.15")])
                self.assertEqual(90, len(CAPABILITIES))
                self.assertEqual([tlv(0xA0, issuer_and_serial)], attrs[der_oid("1.2.840.113549.1.9.16.2.11")])
                self.assertEqual([tlv(0x30, issuer_and_serial)], attrs[der_oid("1.3.6.1.4.1.311.16.4")])
                self.assertIn(der_oid("1.2.840.113549.1.9.5"), attrs, "signing time")
                self.assertEqual(label and [label], attrs.get(der_oid("1.2.840.113549.1.9.16.2.2")))

    def test_the_message_digest_is_sha1_of_the_signed_part(self):
        entity = self.message("dave@smime.test", "signed").read_bytes()
        boundary = email.message_from_bytes(entity, policy=email.policy.default).get_boundary().encode()
        first = entity.index(b"--" + boundary + b"\r\n") + len(boundary) + 4
        signed_part = entity[first : entity.index(b"\r\n--" + boundary, first)]
        digest = signed_attributes(self.signature_of(entity))[der_oid("1.2.840.113549.1.9.4")]
        self.assertEqual([tlv(0x04, hashlib.sha1(signed_part).digest())], digest)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
