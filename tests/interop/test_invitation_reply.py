#!/usr/bin/python3
"""Checks Bob's invitation reply of the form region's round trip with OpenSSL.

Usage: test_invitation_reply.py BUILD_DIR, after tests/integration/regions/round-trip.sh left the
reply in BUILD_DIR/regions/reply.eml. OpenSSL verifies its signature against the suite's test
authority; the reply carries Bob's certificate as ".vmcrr", which OpenSSL reads as DER.
"""
import email
import email.policy
import pathlib
import subprocess
import sys
import unittest

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
OUT = BUILD / "regions"


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=False)


class InvitationReply(unittest.TestCase):
    def test_bobs_reply_is_signed_by_him_and_carries_his_certificate(self):
        authority = openssl("x509", "-inform", "DER", "-in", str(BUILD / "pki/authority.cer"))
        self.assertEqual(0, authority.returncode, authority.stderr.decode())
        (OUT / "ca.pem").write_bytes(authority.stdout)
        reply = (OUT / "reply.eml").read_bytes()
        self.assertEqual("Invitation accepted: secure e-mail", email.message_from_bytes(reply, policy=email.policy.default)["Subject"])
        verified = openssl("cms", "-verify", "-in", str(OUT / "reply.eml"), "-CAfile", str(OUT / "ca.pem"),
                           "-signer", str(OUT / "signer.pem"))
        self.assertEqual(0, verified.returncode, verified.stderr.decode())
        signer = openssl("x509", "-in", str(OUT / "signer.pem"), "-noout", "-email")
        self.assertEqual(b"bob@tessaly.test", signer.stdout.strip())

        inner = email.message_from_bytes(verified.stdout, policy=email.policy.default)
        attachments = [part for part in inner.iter_attachments() if part.get_filename().endswith(".vmcrr")]
        self.assertEqual(1, len(attachments))
        certificate = openssl("x509", "-inform", "DER", "-noout", "-email", "-fingerprint",
                              data=attachments[0].get_payload(decode=True))
        self.assertEqual(0, certificate.returncode, certificate.stderr.decode())
        fingerprint = openssl("x509", "-in", str(OUT / "signer.pem"), "-noout", "-email", "-fingerprint")
        self.assertEqual(fingerprint.stdout, certificate.stdout, "the attachment is the signer's certificate")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
