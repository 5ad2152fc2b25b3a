#!/usr/bin/python3
"""Checks the certificate that an invitation carries, with OpenSSL.

Usage: test_invitation_attachment.py BUILD_DIR, inside a Wine session whose prefix has the suite and
the module installed (tools/install-prefix.sh). A user obtains a certificate and sends an invitation
from the simulated Outlook with the module's add-in; the simulator's test add-in keeps the first send
back, so Send is pressed twice in one window. The attachment of the message sent is saved and read
as DER by OpenSSL: exactly the user's certificate, issued by the test authority.
"""
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
EMAIL = "ivy@example.org"


def wine_path(path):
    return "Z:" + str(path).replace("/", "\\")


def wine(*args, **kwargs):
    return subprocess.run(["wine", *map(str, args)], capture_output=True, text=True, **kwargs)


class InvitationAttachment(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix="invitation-"))
        vmpki = BUILD / "tools/vmpki.exe"
        wine("reg", "delete", r"HKCU\Software\Microsoft\SystemCertificates\MY\Certificates", "/f")
        wine("reg", "delete", r"HKCU\Software\Velmora\CertWorks", "/f")
        for command in (("obtain", EMAIL, "Ivy Example"), ("export", EMAIL, wine_path(cls.work / "ivy.cer"))):
            result = wine(vmpki, *command)
            assert result.returncode == 0, result.stdout + result.stderr
        cls.certificate = (cls.work / "ivy.cer").read_bytes()
        cls.saved = cls.work / "sent.vmcer"
        attachment = f"My certificate.vmcer ({len(cls.certificate)} bytes)"
        scenario = cls.work / "invitation-send.scn"
        scenario.write_text(
            "\n".join([
                f"account {EMAIL} Private; Ivy Example",
                "answer no",
                "start 14",
                "answer ok",
                "click explorer CustomMenuInvite",
                "type To bob@example.net",
                "type Subject [hold] Invitation",
                "send",
                "expect property item Sent false",
                f"expect attachments {attachment}",
                "type Subject Invitation",
                "send",
                "expect property item Sent true",
                f"expect attachments {attachment}",
                f"save attachment 1 {wine_path(cls.saved)}",
                "quit",
                "",
            ]),
            encoding="utf-8",
        )
        cls.run_log = wine(BUILD / "sim/ofcsim.exe", "--register", BUILD / "sim/SimTestAddIn.dll", "--only",
                           "VmOfcX.ComposeRibbon", "--only", "OfficeSim.TestAddIn", wine_path(scenario),
                           cwd=BUILD / "sim")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_one_attachment_after_two_sends(self):
        self.assertEqual(0, self.run_log.returncode, self.run_log.stdout + self.run_log.stderr)

    def test_attachment_is_exactly_the_users_certificate_in_der(self):
        self.assertEqual(self.certificate, self.saved.read_bytes())
        text = subprocess.run(["openssl", "x509", "-inform", "DER", "-in", str(self.saved), "-noout", "-email",
                               "-fingerprint", "-sha256"], capture_output=True, text=True, check=True).stdout
        self.assertIn(EMAIL, text.splitlines())
        expected = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-fingerprint", "-sha256"],
                                  input=self.certificate, capture_output=True, check=True).stdout.decode()
        self.assertIn(expected.strip(), text)

    def test_openssl_verifies_it_against_the_test_authority(self):
        authority = self.work / "authority.pem"
        subprocess.run(["openssl", "x509", "-inform", "DER", "-in", str(BUILD / "pki/authority.cer"), "-out",
                        str(authority)], check=True)
        pem = self.work / "sent.pem"
        subprocess.run(["openssl", "x509", "-inform", "DER", "-in", str(self.saved), "-out", str(pem)], check=True)
        result = subprocess.run(["openssl", "verify", "-CAfile", str(authority), "-purpose", "smimesign", str(pem)],
                                capture_output=True, text=True)
        self.assertEqual(0, result.returncode, result.stdout + result.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
