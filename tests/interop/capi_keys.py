"""CryptoAPI key blobs as keys of Python's cryptography, for the checks outside Windows."""
import struct

from cryptography.hazmat.primitives.asymmetric import rsa


def private_key_from_blob(blob):
    """A CryptoAPI PRIVATEKEYBLOB (RSA2, little-endian numbers) as a key of Python's cryptography."""
    magic, bits, e = struct.unpack_from("<4sII", blob, 8)
    assert magic == b"RSA2", magic
    pos = 20

    def number(size):
        nonlocal pos
        value = int.from_bytes(blob[pos : pos + size], "little")
        pos += size
        return value

    n, p, q = number(bits // 8), number(bits // 16), number(bits // 16)
    dmp1, dmq1, iqmp, d = number(bits // 16), number(bits // 16), number(bits // 16), number(bits // 8)
    return rsa.RSAPrivateNumbers(p, q, d, dmp1, dmq1, iqmp, rsa.RSAPublicNumbers(e, n)).private_key()
