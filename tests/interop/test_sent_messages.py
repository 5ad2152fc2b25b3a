#!/usr/bin/python3
"""What the module's add-in sends, read from the mail drop with tools nobody here wrote.

Usage: test_sent_messages.py BUILD_DIR, inside a Wine session whose prefix has the suite and the
module installed. Alice (key classification 3, Bob and Dave trusted contacts, Carol only in
Outlook's contacts) plays sim/scenarios/demo-send.scn through the registered add-in; the simulated Outlook's S/MIME
engine signs, seals and drops the messages. OpenSSL verifies and decrypts them; the signed
attributes and the invitation's certificate are taken apart here. Then, with a second account and
certificate, she plays sent-again.scn beside the simulator's test add-in, which keeps back her
invitation once; the key provider's record of its private parameters tells which key container
each sealed message unlocked and locked again.
"""
import email
import email.policy
import os
import pathlib
import subprocess
import sys
import unittest

from cryptography import x509
from cryptography.hazmat.primitives import serialization

from capi_keys import private_key_from_blob
from test_smime_messages import CAPABILITIES, LABEL_POLICY, der_oid, openssl, signed_attributes, tlv

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
OUT = BUILD / "sent-messages"
DROP = OUT / "drop"
SCENARIO = pathlib.Path(__file__).resolve().parents[2] / "sim/scenarios/demo-send.scn"
SENT_AGAIN = pathlib.Path(__file__).resolve().parent / "sent-again.scn"
CLASSIFICATION = 3


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


def wine(*args, **kwargs):
    return subprocess.run(["wine", *map(str, args)], capture_output=True, text=True, errors="replace", check=False,
                          **kwargs)


def vmpki(*args):
    result = wine(BUILD / "tools/vmpki.exe", *args)
    assert result.returncode == 0, result.stdout + result.stderr


class SentMessages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        OUT.mkdir(exist_ok=True)
        for old in DROP.glob("*/*.eml"):
            old.unlink()
        for store in ("MY", "VelmoraBuddies"):
            wine("reg", "delete", rf"HKCU\Software\Microsoft\SystemCertificates\{store}\Certificates", "/f")
        wine("reg", "delete", r"HKCU\Software\Velmora\Solvane\Keys", "/f")
        vmpki("user", "alice@example.org", "Alice Example")
        keys = wine("reg", "query", r"HKCU\Software\Velmora\Solvane\Keys")
        containers = [line.strip() for line in keys.stdout.splitlines() if "\\Keys\\" in line]
        assert len(containers) == 1, keys.stdout
        wine("reg", "add", containers[0], "/v", "Classification", "/t", "REG_DWORD", "/d", str(CLASSIFICATION), "/f")
        vmpki("export", "alice@example.org", winpath(OUT / "alice.cer"), winpath(OUT / "alice.key"))
        vmpki("contact", "bob@example.org", "Bob Builder", winpath(OUT / "bob.cer"))
        vmpki("add-contact", winpath(OUT / "bob.cer"))
        vmpki("contact", "dave@example.org", "Dave Example", winpath(OUT / "dave.cer"))
        vmpki("add-contact", winpath(OUT / "dave.cer"))
        vmpki("contact", "carol@example.org", "Carol Stranger", winpath(OUT / "carol.cer"))
        env = dict(os.environ, OUT=winpath(OUT))
        cls.played = wine(BUILD / "sim/ofcsim.exe", "--only", "VmOfcX.ComposeRibbon", SCENARIO, env=env,
                          cwd=BUILD / "sim")
        vmpki("user", "alice@work.example", "Alice Example")
        keys = wine("reg", "query", r"HKCU\Software\Velmora\Solvane\Keys")
        work = [line.strip() for line in keys.stdout.splitlines() if "\\Keys\\" in line and line.strip() != containers[0]]
        assert len(work) == 1, keys.stdout
        cls.containers = {address: key.rsplit("\\", 1)[1]
                          for address, key in (("alice@example.org", containers[0]), ("alice@work.example", work[0]))}
        log = next(pathlib.Path(os.environ["WINEPREFIX"]).glob("drive_c/users/*/AppData/Local/Velmora/Solvane"))
        log = log / "Parameters.log"
        before = log.stat().st_size
        cls.played_again = wine(BUILD / "sim/ofcsim.exe", "--register", BUILD / "sim/SimTestAddIn.dll", "--only",
                                "VmOfcX.ComposeRibbon", "--only", "OfficeSim.TestAddIn", SENT_AGAIN, env=env,
                                cwd=BUILD / "sim")
        cls.parameters = [line.split() for line in log.read_bytes()[before:].decode().splitlines()]
        cls.alice = x509.load_der_x509_certificate((OUT / "alice.cer").read_bytes())
        (OUT / "alice.pem").write_bytes(cls.alice.public_bytes(serialization.Encoding.PEM))
        key = private_key_from_blob((OUT / "alice.key").read_bytes())
        (OUT / "alice.key.pem").write_bytes(key.private_bytes(serialization.Encoding.PEM,
                                                              serialization.PrivateFormat.PKCS8,
                                                              serialization.NoEncryption()))
        authority = x509.load_der_x509_certificate((BUILD / "pki/authority.cer").read_bytes())
        (OUT / "ca.pem").write_bytes(authority.public_bytes(serialization.Encoding.PEM))

    def test_the_scenarios_ran_to_their_end(self):
        for played in (self.played, self.played_again):
            self.assertEqual(0, played.returncode, played.stdout + played.stderr)

    def message(self, subject, recipient="bob@example.org"):
        found = [p.read_bytes() for p in (DROP / recipient).glob("*.eml")
                 if email.message_from_bytes(p.read_bytes(), policy=email.policy.default)["Subject"] == subject]
        self.assertEqual(1, len(found), f"one message {subject!r} for {recipient}")
        return found[0]

    def verify(self, entity):
        """OpenSSL's verification against the authority: the signed content, and the signer's attributes."""
        (OUT / "entity.eml").write_bytes(entity)
        result = openssl("cms", "-verify", "-in", str(OUT / "entity.eml"), "-CAfile", str(OUT / "ca.pem"),
                         "-signer", str(OUT / "signer.pem"), "-out", str(OUT / "content"))
        self.assertEqual(0, result.returncode, result.stderr.decode())
        self.assertEqual(self.alice, x509.load_pem_x509_certificate((OUT / "signer.pem").read_bytes()))
        signature = email.message_from_bytes(entity, policy=email.policy.default).get_payload()[1]
        return (OUT / "content").read_bytes(), signed_attributes(signature.get_payload(decode=True))

    def test_a_signed_message_verifies_with_alices_certificate_the_capabilities_and_her_key_preference(self):
        content, attrs = self.verify(self.message("Signed"))
        self.assertIn(b"Meet me at the harbour at six.", content)
        self.assertEqual([CAPABILITIES], attrs[der_oid("1.2.840.113549.1.9.15")])
        serial = self.alice.serial_number
        issuer_and_serial = self.alice.issuer.public_bytes() + tlv(0x02, serial.to_bytes((serial.bit_length() + 8) // 8, "big"))
        self.assertEqual([tlv(0xA0, issuer_and_serial)], attrs[der_oid("1.2.840.113549.1.9.16.2.11")])
        self.assertEqual([tlv(0x30, issuer_and_serial)], attrs[der_oid("1.3.6.1.4.1.311.16.4")])
        self.assertNotIn(der_oid("1.2.840.113549.1.9.16.2.2"), attrs, "no label on a message that is not sealed")

    def test_a_sealed_message_opens_with_alices_key_and_carries_her_keys_classification(self):
        sealed = self.message("Sealed")
        self.assertEqual("application/x-pkcs7-mime",
                         email.message_from_bytes(sealed, policy=email.policy.default).get_content_type())
        (OUT / "sealed.eml").write_bytes(sealed)
        result = openssl("cms", "-decrypt", "-in", str(OUT / "sealed.eml"), "-inkey", str(OUT / "alice.key.pem"),
                         "-recip", str(OUT / "alice.pem"))
        self.assertEqual(0, result.returncode, result.stderr.decode())
        content, attrs = self.verify(result.stdout)
        self.assertIn(b"Bring the charts.", content)
        label = tlv(0x31, der_oid(LABEL_POLICY) + tlv(0x02, bytes([CLASSIFICATION])))
        self.assertEqual([label], attrs[der_oid("1.2.840.113549.1.9.16.2.2")])
        printed = openssl("cms", "-cmsout", "-print", "-inform", "SMIME", "-in", str(OUT / "sealed.eml"))
        self.assertEqual(2, printed.stdout.count(b"d.ktri:"), "for Bob and Alice")

    def opened(self, subject):
        """A sealed message decrypted with Alice's key, and its signed content verified."""
        (OUT / "opened.eml").write_bytes(self.message(subject))
        result = openssl("cms", "-decrypt", "-in", str(OUT / "opened.eml"), "-inkey", str(OUT / "alice.key.pem"),
                         "-recip", str(OUT / "alice.pem"))
        self.assertEqual(0, result.returncode, result.stderr.decode())
        return self.verify(result.stdout)

    def test_outlook_2007s_compose_ribbon_signs_and_seals(self):
        signed = self.message("Signed in 2007")
        self.assertEqual("multipart/signed",
                         email.message_from_bytes(signed, policy=email.policy.default).get_content_type())
        self.assertIn(b"Signed from the older ribbon.", self.verify(signed)[0])
        content, attrs = self.opened("Sealed in 2007")
        self.assertIn(b"Sealed from the older ribbon.", content)
        self.assertIn(der_oid("1.2.840.113549.1.9.16.2.2"), attrs, "a sealed message carries the label")

    def test_the_split_buttons_face_signs_and_seals_as_the_setting_says(self):
        signed = self.message("Face signs")
        self.assertEqual("multipart/signed",
                         email.message_from_bytes(signed, policy=email.policy.default).get_content_type())
        content, _ = self.verify(signed)
        self.assertIn(b"Signed by the button.", content)
        self.assertIn(b"Sealed by the button.", self.opened("Face seals")[0])

    def test_a_batch_invitation_reaches_both_contacts_without_showing_them_to_each_other(self):
        for recipient in ("bob@example.org", "dave@example.org"):
            invitation = self.message("Invitation to exchange secure e-mail", recipient)
            headers = email.message_from_bytes(invitation, policy=email.policy.default)
            self.assertIsNone(headers["Bcc"])
            self.assertNotIn(b"dave@example.org" if recipient == "bob@example.org" else b"bob@example.org",
                             invitation.split(b"\r\n\r\n", 1)[0])
            content, _ = self.verify(invitation)
            vmcer = [part for part in email.message_from_bytes(content, policy=email.policy.default).iter_attachments()
                     if part.get_filename().endswith(".vmcer")]
            self.assertEqual(self.alice.public_bytes(serialization.Encoding.DER), vmcer[0].get_payload(decode=True))

    def test_the_policy_refused_carol_so_nothing_went_to_her(self):
        self.assertFalse(list((DROP / "carol@example.org").glob("*.eml")))

    def test_an_invitation_is_signed_not_sealed_and_carries_alices_certificate(self):
        content, attrs = self.verify(self.message("Invitation"))
        self.assertNotIn(der_oid("1.2.840.113549.1.9.16.2.2"), attrs)
        inner = email.message_from_bytes(content, policy=email.policy.default)
        attachments = list(inner.iter_attachments())
        self.assertEqual(1, len(attachments))
        self.assertTrue(attachments[0].get_filename().endswith(".vmcer"), attachments[0].get_filename())
        der = attachments[0].get_payload(decode=True)
        self.assertEqual(self.alice.public_bytes(serialization.Encoding.DER), der)
        read = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-email"], input=der,
                              capture_output=True, check=False)
        self.assertEqual(b"alice@example.org", read.stdout.strip())


    def test_an_invitation_sent_again_from_its_window_carries_one_certificate(self):
        self.assertFalse([p for p in (DROP / "bob@example.org").glob("*.eml") if b"[hold]" in p.read_bytes()])
        content, _ = self.verify(self.message("Invitation sent again"))
        attachments = list(email.message_from_bytes(content, policy=email.policy.default).iter_attachments())
        self.assertEqual([".vmcer"], [pathlib.PurePath(a.get_filename()).suffix for a in attachments])
        self.assertEqual(self.alice.public_bytes(serialization.Encoding.DER), attachments[0].get_payload(decode=True))

    def test_each_sealed_message_unlocks_and_locks_again_its_own_accounts_key(self):
        # Each line: time, process, operation, parameter, value, result, container.
        for address, container in self.containers.items():
            calls = [(line[2], line[4], line[5]) for line in self.parameters if line[3] == "4995" and line[6] == container]
            self.assertEqual([("set", "60000", "0x00000000"), ("set", "-1", "0x00000000")], calls, address)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
