#!/usr/bin/python3
"""Checks certificates of the suite's test authority with OpenSSL and Python's cryptography.

Usage: test_cert_authority.py BUILD_DIR, inside a Wine session whose prefix has the suite installed
(tools/install-prefix.sh). Asks the certificate library for an enterprise certificate (the authority
answers into its folder) and the PKI tool for a contact's certificate, then verifies both against
the authority's certificate.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

from cryptography import x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.serialization import Encoding
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
SUITE = pathlib.Path(os.environ.get("WINEPREFIX", "")) / "drive_c/Program Files/Velmora/Tessaly"
SUITE_USAGE = x509.ObjectIdentifier("1.3.6.1.4.1.51877.3.1")


def wine_path(path):
    return "Z:" + str(path).replace("/", "\\")


def vmpki(*args):
    subprocess.run(["wine", str(BUILD / "tools/vmpki.exe"), *args], check=True, stdout=subprocess.DEVNULL)


def openssl_verify(ca_pem, cert_pem, *options):
    return subprocess.run(
        ["openssl", "verify", "-CAfile", str(ca_pem), *options, str(cert_pem)], capture_output=True, text=True
    )


class AuthorityCertificates(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix="vmpki-"))
        cls.authority = x509.load_der_x509_certificate((BUILD / "pki/authority.cer").read_bytes())
        cls.ca_pem = cls.work / "authority.pem"
        cls.ca_pem.write_bytes(cls.authority.public_bytes(Encoding.PEM))

        vmpki("request", "ivan@example.org", "Ivan Interop")
        cls.enrolled = x509.load_der_x509_certificate((SUITE / "TestCA/Answers/ivan@example.org.vmpfx").read_bytes())
        contact_der = cls.work / "judy.cer"
        vmpki("contact", "judy@example.org", "Jürgen Jüdy", wine_path(contact_der))
        cls.contact = x509.load_der_x509_certificate(contact_der.read_bytes())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def pem(self, cert, name):
        path = self.work / name
        path.write_bytes(cert.public_bytes(Encoding.PEM))
        return path

    def test_openssl_verifies_issued_certificates_for_secure_mail(self):
        for cert, name in ((self.enrolled, "ivan.pem"), (self.contact, "judy.pem")):
            for purpose in ("smimesign", "smimeencrypt"):
                result = openssl_verify(self.ca_pem, self.pem(cert, name), "-purpose", purpose)
                self.assertEqual(0, result.returncode, result.stdout + result.stderr)

    def test_openssl_rejects_a_tampered_certificate_and_another_authority(self):
        der = bytearray(self.enrolled.public_bytes(Encoding.DER))
        der[-10] ^= 0x01
        tampered = self.work / "tampered.pem"
        subprocess.run(
            ["openssl", "x509", "-inform", "DER", "-out", str(tampered)], input=bytes(der), check=True
        )
        self.assertNotEqual(0, openssl_verify(self.ca_pem, tampered).returncode)

        other_key = self.work / "other.key"
        other_ca = self.work / "other.pem"
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(other_key), "-out",
             str(other_ca), "-subj", "/CN=Velmora Tessaly Test Authority", "-days", "2"],
            check=True, capture_output=True,
        )
        self.assertNotEqual(0, openssl_verify(other_ca, self.pem(self.enrolled, "ivan.pem")).returncode)

    def test_contents_name_the_user_and_the_suite(self):
        for cert, mail, name in ((self.enrolled, "ivan@example.org", "Ivan Interop"),
                                 (self.contact, "judy@example.org", "Jürgen Jüdy")):
            self.assertEqual(name, cert.subject.get_attributes_for_oid(NameOID.COMMON_NAME)[0].value)
            self.assertEqual(mail, cert.subject.get_attributes_for_oid(NameOID.EMAIL_ADDRESS)[0].value)
            alt = cert.extensions.get_extension_for_class(x509.SubjectAlternativeName).value
            self.assertEqual([mail], alt.get_values_for_type(x509.RFC822Name))
            usage = cert.extensions.get_extension_for_class(x509.ExtendedKeyUsage).value
            self.assertIn(ExtendedKeyUsageOID.EMAIL_PROTECTION, usage)
            self.assertIn(SUITE_USAGE, usage)
            self.assertFalse(cert.extensions.get_extension_for_class(x509.BasicConstraints).value.ca)
            self.assertIsInstance(cert.signature_hash_algorithm, hashes.SHA256)
            self.assertEqual(self.authority.subject, cert.issuer)
        self.assertNotEqual(self.enrolled.serial_number, self.contact.serial_number)
        self.assertTrue(self.authority.extensions.get_extension_for_class(x509.BasicConstraints).value.ca)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
