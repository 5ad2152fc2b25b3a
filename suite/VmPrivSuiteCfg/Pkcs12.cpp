#include "Pkcs12.h"

#include <algorithm>
#include <utility>

#include "SuiteHandles.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr DWORD kIterations = 2048;
constexpr size_t kSaltSize = 8;
// SHA-1: output and block size.
constexpr size_t kHashSize = 20;
constexpr size_t kBlockSize = 64;
// Purposes of derived bytes (RFC 7292 B.3).
constexpr BYTE kKeyMaterial = 1, kIvMaterial = 2, kMacMaterial = 3;

const Bytes kOidData = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const Bytes kOidSha1 = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};
const Bytes kOidRsa = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const Bytes kOidPbe3Des = {0x06, 0x0A, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x03};
const Bytes kOidShroudedKeyBag = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x02};
const Bytes kOidCertBag = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x03};
const Bytes kOidX509Certificate = {0x06, 0x0A, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x16, 0x01};
const Bytes kOidLocalKeyId = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x15};
const Bytes kNull = {0x05, 0x00};

Bytes Tlv(BYTE bTag, const Bytes& content) {
  Bytes out = {bTag};
  const size_t cb = content.size();
  if (cb < 0x80) {
    out.push_back(static_cast<BYTE>(cb));
  } else {
    Bytes length;
    for (size_t n = cb; n; n >>= 8) length.insert(length.begin(), static_cast<BYTE>(n & 0xFF));
    out.push_back(static_cast<BYTE>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Sequence(std::initializer_list<Bytes> parts) { return Tlv(0x30, Concat(parts)); }
Bytes Set(std::initializer_list<Bytes> parts) { return Tlv(0x31, Concat(parts)); }
Bytes OctetString(const Bytes& content) { return Tlv(0x04, content); }
Bytes Explicit0(const Bytes& content) { return Tlv(0xA0, content); }

// A non-negative INTEGER from big-endian bytes.
Bytes Integer(Bytes value) {
  value.erase(value.begin(), std::find_if(value.begin(), value.end(), [](BYTE b) { return b != 0; }));
  if (value.empty() || (value.front() & 0x80)) value.insert(value.begin(), 0);
  return Tlv(0x02, value);
}

Bytes Integer(DWORD dwValue) {
  return Integer(Bytes{static_cast<BYTE>(dwValue >> 24), static_cast<BYTE>(dwValue >> 16),
                       static_cast<BYTE>(dwValue >> 8), static_cast<BYTE>(dwValue)});
}

// Little-endian bytes of the blob, as a big-endian INTEGER.
Bytes LittleEndianInteger(const BYTE* pb, size_t cb) {
  return Integer(Bytes(std::make_reverse_iterator(pb + cb), std::make_reverse_iterator(pb)));
}

HRESULT Sha1(HCRYPTPROV hProv, const Bytes& data, Bytes* pHash) {
  HCRYPTHASH hHash = 0;
  if (!CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash)) return LastErrorResult();
  // pHash may be the data itself.
  Bytes hash(kHashSize);
  DWORD cbHash = kHashSize;
  const bool bOk = CryptHashData(hHash, data.data(), static_cast<DWORD>(data.size()), 0) &&
                   CryptGetHashParam(hHash, HP_HASHVAL, hash.data(), &cbHash, 0);
  const HRESULT hr = bOk ? S_OK : LastErrorResult();
  CryptDestroyHash(hHash);
  if (bOk) *pHash = std::move(hash);
  return hr;
}

// The password as the key derivation wants it: big-endian UTF-16 with a final null.
Bytes PasswordBytes(const std::wstring& wsPassword) {
  Bytes out;
  for (wchar_t wch : wsPassword) {
    out.push_back(static_cast<BYTE>(wch >> 8));
    out.push_back(static_cast<BYTE>(wch & 0xFF));
  }
  out.insert(out.end(), {0, 0});
  return out;
}

Bytes Repeat(const Bytes& value, size_t cbMultiple) {
  Bytes out;
  if (value.empty()) return out;
  const size_t cbOut = cbMultiple * ((value.size() + cbMultiple - 1) / cbMultiple);
  for (size_t i = 0; i < cbOut; ++i) out.push_back(value[i % value.size()]);
  return out;
}

// RFC 7292 appendix B.2 with SHA-1.
HRESULT DeriveBytes(HCRYPTPROV hProv, BYTE bPurpose, const Bytes& password, const Bytes& salt, size_t cbWanted,
                    Bytes* pOut) {
  const Bytes diversifier(kBlockSize, bPurpose);
  Bytes input = Concat({Repeat(salt, kBlockSize), Repeat(password, kBlockSize)});
  pOut->clear();
  while (pOut->size() < cbWanted) {
    Bytes a;
    HRESULT hr = Sha1(hProv, Concat({diversifier, input}), &a);
    for (DWORD i = 1; SUCCEEDED(hr) && i < kIterations; ++i) hr = Sha1(hProv, a, &a);
    if (FAILED(hr)) return hr;
    pOut->insert(pOut->end(), a.begin(), a.end());
    const Bytes b = Repeat(a, kBlockSize);
    // Each block of the input becomes (block + B + 1) mod 2^512.
    for (size_t iBlock = 0; iBlock < input.size(); iBlock += kBlockSize) {
      unsigned uCarry = 1;
      for (size_t k = kBlockSize; k-- > 0;) {
        uCarry += input[iBlock + k] + b[k];
        input[iBlock + k] = static_cast<BYTE>(uCarry);
        uCarry >>= 8;
      }
    }
  }
  pOut->resize(cbWanted);
  return S_OK;
}

HRESULT HmacSha1(HCRYPTPROV hProv, const Bytes& key, const Bytes& data, Bytes* pMac) {
  Bytes inner(kBlockSize, 0x36), outer(kBlockSize, 0x5C);
  for (size_t i = 0; i < key.size(); ++i) {
    inner[i] ^= key[i];
    outer[i] ^= key[i];
  }
  Bytes innerHash;
  const HRESULT hr = Sha1(hProv, Concat({inner, data}), &innerHash);
  return FAILED(hr) ? hr : Sha1(hProv, Concat({outer, innerHash}), pMac);
}

HRESULT Encrypt3DesCbc(HCRYPTPROV hProv, const Bytes& key, const Bytes& iv, const Bytes& plain, Bytes* pCipher) {
  struct {
    BLOBHEADER header;
    DWORD cbKey;
    BYTE key[24];
  } blob = {{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_3DES}, 24, {}};
  std::copy(key.begin(), key.end(), blob.key);
  CCryptKey hKey;
  if (!CryptImportKey(hProv, reinterpret_cast<const BYTE*>(&blob), sizeof(blob), 0, 0, &hKey) ||
      !CryptSetKeyParam(hKey, KP_IV, iv.data(), 0))
    return LastErrorResult();
  SecureZeroMemory(blob.key, sizeof(blob.key));
  // PKCS #5 padding adds one to eight bytes.
  *pCipher = plain;
  pCipher->resize(plain.size() + 8);
  DWORD cbData = static_cast<DWORD>(plain.size());
  if (!CryptEncrypt(hKey, 0, TRUE, 0, pCipher->data(), &cbData, static_cast<DWORD>(pCipher->size())))
    return LastErrorResult();
  pCipher->resize(cbData);
  return S_OK;
}

// PKCS #1 RSAPrivateKey inside a PKCS #8 PrivateKeyInfo, from a PRIVATEKEYBLOB.
HRESULT PrivateKeyInfo(const Bytes& blob, Bytes* pInfo) {
  if (blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) return NTE_BAD_KEY;
  const auto* pRsa = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
  const size_t cbModulus = pRsa->bitlen / 8, cbHalf = pRsa->bitlen / 16;
  if (pRsa->magic != 0x32415352 || blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + 2 * cbModulus + 5 * cbHalf)
    return NTE_BAD_KEY;
  const BYTE* pb = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
  const Bytes modulus = LittleEndianInteger(pb, cbModulus);
  const Bytes prime1 = LittleEndianInteger(pb + cbModulus, cbHalf);
  const Bytes prime2 = LittleEndianInteger(pb + cbModulus + cbHalf, cbHalf);
  const Bytes exponent1 = LittleEndianInteger(pb + cbModulus + 2 * cbHalf, cbHalf);
  const Bytes exponent2 = LittleEndianInteger(pb + cbModulus + 3 * cbHalf, cbHalf);
  const Bytes coefficient = LittleEndianInteger(pb + cbModulus + 4 * cbHalf, cbHalf);
  const Bytes privateExponent = LittleEndianInteger(pb + cbModulus + 5 * cbHalf, cbModulus);
  const Bytes rsaKey = Sequence({Integer(DWORD{0}), modulus, Integer(pRsa->pubexp), privateExponent, prime1, prime2,
                                 exponent1, exponent2, coefficient});
  *pInfo = Sequence({Integer(DWORD{0}), Sequence({kOidRsa, kNull}), OctetString(rsaKey)});
  return S_OK;
}

Bytes LocalKeyIdAttributes(PCCERT_CONTEXT pCert) {
  Bytes hash(kHashSize);
  DWORD cbHash = kHashSize;
  CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, hash.data(), &cbHash);
  return Set({Sequence({kOidLocalKeyId, Set({OctetString(hash)})})});
}

HRESULT Random(HCRYPTPROV hProv, size_t cb, Bytes* pOut) {
  pOut->assign(cb, 0);
  return CryptGenRandom(hProv, static_cast<DWORD>(cb), pOut->data()) ? S_OK : LastErrorResult();
}

Bytes DataContentInfo(const Bytes& content) { return Sequence({kOidData, Explicit0(OctetString(content))}); }

}  // namespace

HRESULT WritePkcs12(const std::vector<CPfxEntry>& entries, const std::wstring& wsPassword, Bytes* pPfx) {
  CCryptProv hProv;
  if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return LastErrorResult();
  const Bytes password = PasswordBytes(wsPassword);
  Bytes certBags, keyBags;
  for (const CPfxEntry& entry : entries) {
    const Bytes attributes = LocalKeyIdAttributes(entry.pCert);
    const Bytes der(entry.pCert->pbCertEncoded, entry.pCert->pbCertEncoded + entry.pCert->cbCertEncoded);
    const Bytes certBag = Sequence({kOidX509Certificate, Explicit0(OctetString(der))});
    certBags = Concat({certBags, Sequence({kOidCertBag, Explicit0(certBag), attributes})});

    Bytes info, salt, key, iv, encrypted;
    HRESULT hr = PrivateKeyInfo(entry.privateKey, &info);
    if (SUCCEEDED(hr)) hr = Random(hProv, kSaltSize, &salt);
    if (SUCCEEDED(hr)) hr = DeriveBytes(hProv, kKeyMaterial, password, salt, 24, &key);
    if (SUCCEEDED(hr)) hr = DeriveBytes(hProv, kIvMaterial, password, salt, 8, &iv);
    if (SUCCEEDED(hr)) hr = Encrypt3DesCbc(hProv, key, iv, info, &encrypted);
    SecureZeroMemory(info.data(), info.size());
    if (FAILED(hr)) return hr;
    const Bytes algorithm = Sequence({kOidPbe3Des, Sequence({OctetString(salt), Integer(kIterations)})});
    const Bytes shrouded = Sequence({algorithm, OctetString(encrypted)});
    keyBags = Concat({keyBags, Sequence({kOidShroudedKeyBag, Explicit0(shrouded), attributes})});
  }
  const Bytes authenticatedSafe = Sequence({DataContentInfo(Tlv(0x30, certBags)), DataContentInfo(Tlv(0x30, keyBags))});
  Bytes macSalt, macKey, mac;
  HRESULT hr = Random(hProv, kSaltSize, &macSalt);
  if (SUCCEEDED(hr)) hr = DeriveBytes(hProv, kMacMaterial, password, macSalt, kHashSize, &macKey);
  if (SUCCEEDED(hr)) hr = HmacSha1(hProv, macKey, authenticatedSafe, &mac);
  if (FAILED(hr)) return hr;
  const Bytes macData =
      Sequence({Sequence({Sequence({kOidSha1, kNull}), OctetString(mac)}), OctetString(macSalt), Integer(kIterations)});
  *pPfx = Sequence({Integer(DWORD{3}), DataContentInfo(authenticatedSafe), macData});
  return S_OK;
}
