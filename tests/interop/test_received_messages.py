#!/usr/bin/python3
"""Messages made outside Windows, by OpenSSL and by a few lines of Python, read by the add-in.

Usage: test_received_messages.py BUILD_DIR, in the test prefix (WINEPREFIX). The receiver is an
own user of the prefix (tools/vmpki.exe); the senders' certificates come from the suite's test
authority, issued here with its key, and from an authority of nobody's. tools/mimecheck.exe reads
each message as the Outlook add-in does: whether its signer is a trusted contact already and
whether it would become one. A message changed by one byte is never accepted.
"""
import base64
import datetime
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

from capi_keys import private_key_from_blob
from der import der_oid, tlv

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
SUITE = pathlib.Path(os.environ.get("WINEPREFIX", "")) / "drive_c/Program Files/Velmora/Tessaly"
SUITE_USAGE = x509.ObjectIdentifier("1.3.6.1.4.1.51877.3.1")
CONTENT = b"Content-Type: text/plain; charset=us-ascii\r\n\r\nMeet me at the harbour at six.\r\n"

NOT_FOUND = 0x80070490  # HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
USER_EXISTS = 0x80070524  # HRESULT_FROM_WIN32(ERROR_USER_EXISTS)
ACCESS_DENIED = 0x80070005
RECIPIENT_NOT_FOUND = 0x8009100B


def wine_path(path):
    return "Z:" + str(path).replace("/", "\\")


def der_int(value):
    return tlv(0x02, value.to_bytes(value.bit_length() // 8 + 1, "big", signed=True))


def issuer_and_serial(cert):
    return tlv(0x30, cert.issuer.public_bytes() + der_int(cert.serial_number))


def signed_data(cert, key, content, chain, preference):
    """A detached SignedData with the signed attributes Outlook writes, the encryption preference
    (1.3.6.1.4.1.311.16.4) naming preference."""
    attributes = [
        tlv(0x30, der_oid("1.2.840.113549.1.9.3") + tlv(0x31, der_oid("1.2.840.113549.1.7.1"))),
        tlv(0x30, der_oid("1.2.840.113549.1.9.5") + tlv(0x31, tlv(0x17, b"261206080000Z"))),
        tlv(0x30, der_oid("1.2.840.113549.1.9.4") + tlv(0x31, tlv(0x04, hashlib.sha256(content).digest()))),
        tlv(0x30, der_oid("1.3.6.1.4.1.311.16.4") + tlv(0x31, issuer_and_serial(preference))),
    ]
    signed = b"".join(sorted(attributes))
    signature = key.sign(tlv(0x31, signed), padding.PKCS1v15(), hashes.SHA256())
    sha256 = tlv(0x30, der_oid("2.16.840.1.101.3.4.2.1") + b"\x05\x00")
    signer = tlv(
        0x30,
        der_int(1)
        + issuer_and_serial(cert)
        + sha256
        + tlv(0xA0, signed)
        + tlv(0x30, der_oid("1.2.840.113549.1.1.1") + b"\x05\x00")
        + tlv(0x04, signature),
    )
    certificates = b"".join(c.public_bytes(serialization.Encoding.DER) for c in chain)
    body = (
        der_int(1)
        + tlv(0x31, sha256)
        + tlv(0x30, der_oid("1.2.840.113549.1.7.1"))
        + tlv(0xA0, certificates)
        + tlv(0x31, signer)
    )
    return tlv(0x30, der_oid("1.2.840.113549.1.7.2") + tlv(0xA0, tlv(0x30, body)))


def base64_lines(data):
    text = base64.b64encode(data).decode()
    return "".join(text[i : i + 64] + "\r\n" for i in range(0, len(text), 64)).encode()


def multipart_signed(content, signature, protocol="application/pkcs7-signature"):
    boundary = b"----=_NextPart_interop"
    return (
        b"MIME-Version: 1.0\r\nContent-Type: multipart/signed; protocol=\""
        + protocol.encode()
        + b"\"; micalg=sha-256; boundary=\""
        + boundary
        + b"\"\r\n\r\nThis is a signed message.\r\n\r\n--"
        + boundary
        + b"\r\n"
        + content
        + b"\r\n--"
        + boundary
        + b"\r\nContent-Type: application/pkcs7-signature; name=\"smime.p7s\"\r\n"
        + b"Content-Transfer-Encoding: base64\r\n\r\n"
        + base64_lines(signature)
        + b"\r\n--"
        + boundary
        + b"--\r\n"
    )


def mixed(text, attachments):
    """A multipart/mixed entity: the text, then each (name, data) attachment."""
    boundary = b"----=_NextPart_mixed"
    entity = b"Content-Type: multipart/mixed; boundary=\"" + boundary + b"\"\r\n\r\n--" + boundary + b"\r\n"
    entity += b"Content-Type: text/plain; charset=us-ascii\r\n\r\n" + text + b"\r\n"
    for name, data in attachments:
        entity += b"--" + boundary + b"\r\nContent-Type: application/octet-stream; name=\"" + name + b"\"\r\n"
        entity += b"Content-Disposition: attachment; filename=\"" + name + b"\"\r\n"
        entity += b"Content-Transfer-Encoding: base64\r\n\r\n" + base64_lines(data)
    return entity + b"--" + boundary + b"--\r\n"


def unescape(text):
    """A text as tools/mimecheck.exe escapes it on one line."""
    escapes = {"\\": "\\", "r": "\r", "n": "\n", "t": "\t"}
    out, pos = "", 0
    while pos < len(text):
        if text[pos] == "\\" and pos + 1 < len(text):
            out += escapes.get(text[pos + 1], text[pos + 1])
            pos += 2
        else:
            out += text[pos]
            pos += 1
    return out


def mail(sender, message):
    """The message with the headers of one from sender to the receiver."""
    return b"From: " + sender + b"\r\nTo: alice@received.test\r\nSubject: Received\r\n" + message


def flip(data, needle, offset=0):
    """data with one byte of the first occurrence of needle changed."""
    pos = data.index(needle) + offset
    return data[:pos] + bytes([data[pos] ^ 0x01]) + data[pos + 1 :]


class ReceivedMessages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix="received-"))
        ca_cert = x509.load_der_x509_certificate((SUITE / "TestCA/authority.cer").read_bytes())
        ca_key = private_key_from_blob((SUITE / "TestCA/authority.key").read_bytes())
        cls.ca = (ca_cert, ca_key)
        cls.bob = cls.issue("bob@received.test", "Bob Sender", *cls.ca)
        cls.dave = cls.issue("dave@received.test", "Dave Contact", *cls.ca)
        other = cls.issue("root@nowhere.test", "Nobody's Authority", None, None)
        cls.mallory = cls.issue("mallory@received.test", "Mallory", *other)
        cls.alice = ("alice@received.test", "Alice Receiver")
        vmpki = lambda *args: subprocess.run(  # noqa: E731
            ["wine", str(BUILD / "tools/vmpki.exe"), *args], check=True, stdout=subprocess.DEVNULL
        )
        vmpki("user", *cls.alice)
        vmpki("export", cls.alice[0], wine_path(cls.work / "alice.cer"), wine_path(cls.work / "alice.key"))
        alice_cert = x509.load_der_x509_certificate((cls.work / "alice.cer").read_bytes())
        alice_key = private_key_from_blob((cls.work / "alice.key").read_bytes())
        cls.own = (alice_cert, alice_key)
        (cls.work / "dave.cer").write_bytes(cls.dave[0].public_bytes(serialization.Encoding.DER))
        vmpki("add-contact", wine_path(cls.work / "dave.cer"))
        cls.pem("ca", ca_cert)
        cls.pem("alice", alice_cert)
        cls.pem("other", other[0])
        for name, (cert, key) in (("bob", cls.bob), ("dave", cls.dave), ("mallory", cls.mallory), ("own", cls.own)):
            cls.pem(name, cert, key)
        (cls.work / "content.txt").write_bytes(CONTENT)
        cls.messages = {}
        cls.make_messages()
        for name, data in cls.messages.items():
            (cls.work / f"{name}.eml").write_bytes(data)
        result = subprocess.run(
            ["wine", str(BUILD / "tools/mimecheck.exe")] + [wine_path(cls.work / f"{n}.eml") for n in cls.messages],
            capture_output=True,
            text=True,
        )
        cls.results = {}
        for line in result.stdout.splitlines():
            path, existing, new = line.split("\t")
            name = path.rsplit("\\", 1)[-1][: -len(".eml")]
            cls.results[name] = [(int(part.split(" ")[1], 16), part.split(" ", 2)[2]) for part in (existing, new)]
        assert len(cls.results) == len(cls.messages), result.stdout + result.stderr
        cls.make_received()
        for name, data in cls.received.items():
            (cls.work / f"outlook-{name}.eml").write_bytes(data)
        result = subprocess.run(
            ["wine", str(BUILD / "tools/mimecheck.exe"), "--outlook", cls.alice[0]]
            + [wine_path(cls.work / f"outlook-{n}.eml") for n in cls.received],
            capture_output=True,
            text=True,
        )
        cls.analysed = {}
        assert result.returncode == 0, result.stdout + result.stderr
        for line in result.stdout.splitlines():
            assert "\t" in line, result.stdout
            path, analysis = line.split("\t")
            name = path.rsplit("\\", 1)[-1][len("outlook-") : -len(".eml")]
            _, kind, code, text = (analysis + " ").split(" ", 3)
            cls.analysed[name] = (int(kind), int(code, 16), unescape(text[:-1]))
        assert len(cls.analysed) == len(cls.received), result.stdout + result.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def issue(cls, email, name, issuer_cert, issuer_key):
        key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        subject = x509.Name(
            [x509.NameAttribute(NameOID.COMMON_NAME, name), x509.NameAttribute(NameOID.EMAIL_ADDRESS, email)]
        )
        now = datetime.datetime.now(datetime.timezone.utc)
        builder = (
            x509.CertificateBuilder()
            .subject_name(subject)
            .issuer_name(issuer_cert.subject if issuer_cert else subject)
            .public_key(key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(now - datetime.timedelta(days=1))
            .not_valid_after(now + datetime.timedelta(days=30))
            .add_extension(x509.BasicConstraints(ca=issuer_cert is None, path_length=None), critical=True)
        )
        if issuer_cert:
            builder = builder.add_extension(
                x509.ExtendedKeyUsage([ExtendedKeyUsageOID.EMAIL_PROTECTION, ExtendedKeyUsageOID.CLIENT_AUTH, SUITE_USAGE]),
                critical=False,
            ).add_extension(x509.SubjectAlternativeName([x509.RFC822Name(email)]), critical=False)
        return builder.sign(issuer_key or key, hashes.SHA256()), key

    @classmethod
    def pem(cls, name, cert, key=None):
        (cls.work / f"{name}.pem").write_bytes(cert.public_bytes(serialization.Encoding.PEM))
        if key:
            (cls.work / f"{name}.key.pem").write_bytes(
                key.private_bytes(
                    serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()
                )
            )

    @classmethod
    def openssl(cls, *args, data=None):
        return subprocess.run(
            ["openssl", *args], cwd=cls.work, input=data, capture_output=True, check=True
        ).stdout

    @classmethod
    def sign(cls, signer, *options, tool="smime"):
        return cls.openssl(
            tool, "-sign", "-crlfeol", "-in", "content.txt", "-signer", f"{signer}.pem", "-inkey", f"{signer}.key.pem",
            *options,
        )

    @classmethod
    def encrypt(cls, message, cipher, recipient="alice"):
        return cls.openssl("smime", "-encrypt", "-crlfeol", f"-{cipher}", f"{recipient}.pem", data=message)

    @classmethod
    def make_messages(cls):
        m = cls.messages
        m["bob-detached"] = cls.sign("bob", "-certfile", "ca.pem")
        m["bob-detached-cms"] = cls.sign("bob", "-certfile", "ca.pem", tool="cms")
        m["bob-detached-no-issuer"] = cls.sign("bob")
        m["bob-opaque"] = cls.sign("bob", "-nodetach", "-certfile", "ca.pem")
        m["bob-opaque-no-issuer"] = cls.sign("bob", "-nodetach")
        # Without signed attributes the signature covers the content itself.
        m["bob-detached-noattr"] = cls.sign("bob", "-certfile", "ca.pem", "-noattr")
        m["bob-opaque-noattr"] = cls.sign("bob", "-nodetach", "-certfile", "ca.pem", "-noattr")
        m["bob-3des"] = cls.encrypt(m["bob-detached"], "des3")
        m["bob-aes128"] = cls.encrypt(m["bob-detached"], "aes128")
        m["bob-aes256"] = cls.encrypt(m["bob-opaque"], "aes256")
        m["bob-for-someone-else"] = cls.encrypt(m["bob-detached"], "des3", recipient="other")
        m["dave-without-preference"] = cls.sign("dave", "-certfile", "ca.pem")
        m["own"] = cls.sign("own", "-certfile", "ca.pem")
        m["mallory"] = cls.sign("mallory", "-certfile", "other.pem")
        m["plain"] = b"MIME-Version: 1.0\r\n" + CONTENT
        dave_cert, dave_key = cls.dave
        with_preference = signed_data(dave_cert, dave_key, CONTENT, [dave_cert, cls.ca[0]], dave_cert)
        m["dave-preference"] = multipart_signed(CONTENT, with_preference)
        # The other spelling of the protocol than the signature's own content type.
        m["dave-preference-other-spelling"] = multipart_signed(CONTENT, with_preference, "application/x-pkcs7-signature")
        bob_cert = cls.bob[0]
        # Dave names Bob's certificate as his: not taken for Dave's.
        foreign = signed_data(dave_cert, dave_key, CONTENT, [dave_cert, cls.ca[0]], bob_cert)
        m["dave-names-another"] = multipart_signed(CONTENT, foreign, "application/pkcs7-signature")
        # One byte changed: in the content, in the signed attributes, in the signature.
        m["tampered-content-detached"] = flip(m["bob-detached"], b"harbour")
        m["tampered-content-noattr"] = flip(m["bob-detached-noattr"], b"harbour")
        m["tampered-content-preference"] = multipart_signed(flip(CONTENT, b"harbour"), with_preference)
        m["tampered-attributes"] = multipart_signed(CONTENT, flip(with_preference, b"261206080000Z"))
        m["tampered-signature"] = multipart_signed(CONTENT, flip(with_preference, bytes(with_preference[-8:])))
        opaque_der = cls.openssl(
            "smime", "-sign", "-nodetach", "-binary", "-in", "content.txt", "-signer", "bob.pem", "-inkey",
            "bob.key.pem", "-certfile", "ca.pem", "-outform", "DER",
        )
        m["tampered-content-opaque"] = (
            b"MIME-Version: 1.0\r\nContent-Type: application/pkcs7-mime; smime-type=signed-data; name=smime.p7m\r\n"
            + b"Content-Transfer-Encoding: base64\r\n\r\n"
            + base64_lines(flip(opaque_der, b"harbour"))
        )

    @classmethod
    def make_received(cls):
        """Messages as they reach the receiver's inbox, with sender headers and attachments."""
        m = cls.messages
        bob, dave = b"Bob Sender <bob@received.test>", b"Dave Contact <dave@received.test>"
        r = cls.received = {}
        for name in ("bob-detached", "bob-detached-no-issuer", "bob-detached-noattr", "bob-opaque", "bob-3des",
                     "bob-aes128", "dave-preference", "dave-without-preference", "own", "plain",
                     "tampered-content-preference", "tampered-content-opaque", "tampered-content-noattr"):
            r[name] = mail(dave if name.startswith("dave") else bob, m[name])
        dave_cert, dave_key = cls.dave
        invitation = mixed(b"Please make me a trusted contact.", [(b"Dave Contact.vmcer", dave_cert.public_bytes(serialization.Encoding.DER))])
        signature = signed_data(dave_cert, dave_key, invitation, [dave_cert, cls.ca[0]], dave_cert)
        r["dave-invitation"] = mail(dave, b"MIME-Version: 1.0\r\n" + multipart_signed(invitation, signature))
        ca = b"Certificate Authority <ca@ca.tessaly.example>"
        cls.issued_der = cls.own[0].public_bytes(serialization.Encoding.DER)
        cls.issued_text = cls.own[0].public_bytes(serialization.Encoding.PEM)
        for name, attachments in (
            ("answer-der", [(b"Alice Receiver.vmpfx", cls.issued_der)]),
            ("answer-text", [(b"answer.VMPFX", cls.issued_text)]),
            ("request-own", [(b"notes.txt", b"x"), (b"enrol.vmcarr", b" alice@received.test ,  Alice Receiver \r\n")]),
            ("request-other", [(b"enrol.vmcarr", b"zed@other.test, Zed")]),
        ):
            r[name] = mail(ca, b"MIME-Version: 1.0\r\n" + mixed(b"For you.", attachments))

    def result(self, name):
        return self.results[name]

    def test_a_new_signer_of_the_authority_is_offered_with_name_and_address(self):
        for name in ("bob-detached", "bob-detached-cms", "bob-opaque", "bob-opaque-no-issuer", "bob-detached-noattr",
                     "bob-opaque-noattr"):
            with self.subTest(name):
                (existing, _), (new, text) = self.result(name)
                self.assertEqual(NOT_FOUND, existing)
                self.assertEqual((0, "Bob Sender [bob@received.test]"), (new, text))

    def test_a_detached_signature_without_the_issuer_names_no_contact(self):
        self.assertEqual(NOT_FOUND, self.result("bob-detached-no-issuer")[1][0])

    def test_messages_encrypted_for_the_user_are_decrypted_first(self):
        for name in ("bob-3des", "bob-aes128", "bob-aes256"):
            with self.subTest(name):
                self.assertEqual((0, "Bob Sender [bob@received.test]"), self.result(name)[1])
        self.assertEqual(RECIPIENT_NOT_FOUND, self.result("bob-for-someone-else")[1][0])

    def test_a_trusted_contact_is_found_by_the_encryption_preference_only(self):
        for name in ("dave-preference", "dave-preference-other-spelling"):
            with self.subTest(name):
                self.assertEqual((0, "Dave Contact [dave@received.test]"), self.result(name)[0])
        self.assertEqual(NOT_FOUND, self.result("dave-without-preference")[0][0])
        self.assertEqual(NOT_FOUND, self.result("dave-names-another")[0][0])

    def test_the_users_own_and_foreign_certificates_are_not_captured(self):
        self.assertEqual(USER_EXISTS, self.result("own")[1][0])
        self.assertEqual(ACCESS_DENIED, self.result("mallory")[1][0])
        self.assertEqual([(NOT_FOUND, ""), (NOT_FOUND, "")], self.result("plain"))

    def test_a_message_changed_by_one_byte_is_never_accepted(self):
        for name in (
            "tampered-content-detached",
            "tampered-content-noattr",
            "tampered-content-preference",
            "tampered-attributes",
            "tampered-signature",
            "tampered-content-opaque",
        ):
            with self.subTest(name):
                (existing, _), (new, _) = self.result(name)
                self.assertTrue(existing & 0x80000000 and existing != NOT_FOUND, hex(existing))
                self.assertTrue(new & 0x80000000 and new != NOT_FOUND, hex(new))


    def test_outlook_items_are_analysed_by_kind(self):
        bob_text, dave_text = "Bob Sender [bob@received.test]", "Dave Contact [dave@received.test]"
        for name in ("bob-detached", "bob-detached-noattr", "bob-opaque", "bob-3des", "bob-aes128"):
            with self.subTest(name):
                self.assertEqual((1, 0, bob_text), self.analysed[name])
        self.assertEqual((0, NOT_FOUND, ""), self.analysed["bob-detached-no-issuer"])
        self.assertEqual((2, 0, dave_text), self.analysed["dave-preference"])
        # Without the preference a trusted contact's signature is taken for a new signer's.
        self.assertEqual((1, 0, dave_text), self.analysed["dave-without-preference"])
        # A trusted contact's invitation still offers its action.
        self.assertEqual((1, 0, dave_text), self.analysed["dave-invitation"])
        self.assertEqual((0, 0x800CCEE2, ""), self.analysed["plain"])
        self.assertEqual((0, USER_EXISTS, ""), self.analysed["own"])
        for name in ("tampered-content-preference", "tampered-content-opaque", "tampered-content-noattr"):
            with self.subTest(name):
                kind, code, _ = self.analysed[name]
                self.assertTrue(kind == 0 and code & 0x80000000 and code != NOT_FOUND, hex(code))

    def test_authority_answers_and_requests_for_the_receiver_are_recognised(self):
        self.assertEqual((3, 0, base64.b64encode(self.issued_der).decode()), self.analysed["answer-der"])
        self.assertEqual((3, 0, self.issued_text.decode()), self.analysed["answer-text"])
        self.assertEqual((4, 0, " alice@received.test ,  Alice Receiver \r\n"), self.analysed["request-own"])
        self.assertEqual((0, 0x800CCEE2, ""), self.analysed["request-other"])

    def test_hostile_messages_end_in_a_kind_or_an_error(self):
        """A generated corpus of a few hundred broken messages: each is analysed, none stops the process."""
        import random

        rng = random.Random(15)
        bases = [self.received[n] for n in ("bob-detached", "bob-3des", "dave-preference", "answer-der")]
        bases.append(mail(b"Bob <bob@received.test>", self.messages["bob-opaque"]))
        corpus = []
        for base in bases:
            corpus += [base[: rng.randrange(len(base))] for _ in range(30)]
            for _ in range(30):
                pos = rng.randrange(len(base))
                corpus.append(base[:pos] + bytes([rng.randrange(256)]) + base[pos + 1 :])
        for depth in (40, 400):
            nested = CONTENT
            for level in range(depth):
                kind = b"signed; protocol=\"application/pkcs7-signature\"" if level % 2 else b"mixed"
                nested = (b"Content-Type: multipart/" + kind + b"; boundary=\"b%d\"\r\n\r\n--b%d\r\n" % (level, level)
                          + nested + b"\r\n--b%d--\r\n" % level)
            corpus.append(mail(b"x@y.test", b"MIME-Version: 1.0\r\n" + nested))
        corpus.append(b"From: x@y.test\r\nSubject: " + b"A" * 1_000_000 + b"\r\nMIME-Version: 1.0\r\n" + CONTENT)
        corpus.append(mail(b"x@y.test", b"MIME-Version: 1.0\r\nContent-Type: text/plain; " + b"p=1; " * 50_000 + b"\r\n\r\nx\r\n"))
        # PKCS #7 whose lengths lie, and BER nested without end.
        opaque = b"MIME-Version: 1.0\r\nContent-Type: application/pkcs7-mime; smime-type=%s\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        for kind in (b"signed-data", b"enveloped-data"):
            for der in (b"\x30\x84\xff\xff\xff\xff" + bytes(64), b"\x30\x80" * 20_000, b"\x30\x82\x01\x00\x06\x09" + bytes(10),
                        tlv(0x30, der_oid("1.2.840.113549.1.7.3") + tlv(0xA0, b"\x30\x80" + b"\x24\x80" * 5_000))):
                corpus.append(mail(b"x@y.test", opaque % kind + base64_lines(der)))
        # A certificate bag of a thousand certificates around a good signature.
        dave_cert, dave_key = self.dave
        bag = signed_data(dave_cert, dave_key, CONTENT, [self.ca[0]] * 999 + [dave_cert], dave_cert)
        corpus.append(mail(b"Dave <dave@received.test>", b"MIME-Version: 1.0\r\n" + multipart_signed(CONTENT, bag)))
        names = [b".vmpfx", b"..vmcarr", b"a.vmpfx.", b"x" * 10_000 + b".vmpfx", b"..\\..\\evil.vmcarr", b"",
                 b"=?utf-8?B?w6TDtsO8LnZtcGZ4?=", b"nul\x00.vmpfx", b"a.VMCARR"]
        for name in names:
            corpus.append(mail(b"x@y.test", b"MIME-Version: 1.0\r\n" + mixed(b"odd", [(name, b"\x30\x82" + bytes(3))])))
        folder = self.work / "corpus"
        folder.mkdir()
        for i, data in enumerate(corpus):
            (folder / f"{i:04d}.eml").write_bytes(data)
        result = subprocess.run(
            ["wine", str(BUILD / "tools/mimecheck.exe"), "--outlook", self.alice[0]]
            + [wine_path(folder / f"{i:04d}.eml") for i in range(len(corpus))],
            capture_output=True,
            text=True,
            timeout=600,
        )
        self.assertEqual(0, result.returncode, result.stderr[-2000:])
        lines = result.stdout.splitlines()
        self.assertEqual(len(corpus), len(lines), result.stdout[-2000:])
        for line in lines:
            kind, code = line.split("\t")[1].split(" ")[1:3]
            self.assertIn(int(kind), range(5), line)
            self.assertTrue(int(code, 16) == 0 or int(kind) == 0, line)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
