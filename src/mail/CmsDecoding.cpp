#include "mail/CmsDecoding.h"

#include <algorithm>
#include <string>

namespace {

// Nested elements deeper than this are refused: a hostile message must not exhaust the stack.
constexpr int kMaxDepth = 32;

// One BER element: its tag, and its contents as they stand (for an indefinite length, the
// contents without the end-of-contents octets).
struct SBer {
  BYTE bTag = 0;
  const BYTE* pbContent = nullptr;
  size_t cbContent = 0;
  const BYTE* pbWhole = nullptr;
  size_t cbWhole = 0;
  bool Constructed() const { return bTag & 0x20; }
};

bool ReadBer(const BYTE* pb, size_t cb, SBer* pElement, int iDepth = 0);

// The elements of contents that run to their end (bIndefinite: up to the end-of-contents
// octets); *pcbUsed gets the bytes used, end-of-contents included.
bool ReadElements(const BYTE* pb, size_t cb, bool bIndefinite, int iDepth, std::vector<SBer>* pElements,
                  size_t* pcbUsed) {
  size_t pos = 0;
  while (bIndefinite || pos < cb) {
    if (bIndefinite && cb - pos >= 2 && pb[pos] == 0 && pb[pos + 1] == 0) {
      *pcbUsed = pos + 2;
      return true;
    }
    SBer element;
    if (pos >= cb || !ReadBer(pb + pos, cb - pos, &element, iDepth + 1)) return false;
    if (pElements) pElements->push_back(element);
    pos += element.cbWhole;
  }
  *pcbUsed = pos;
  return true;
}

bool ReadBer(const BYTE* pb, size_t cb, SBer* pElement, int iDepth) {
  if (iDepth > kMaxDepth || cb < 2 || (pb[0] & 0x1F) == 0x1F) return false;
  SBer element;
  element.bTag = pb[0];
  element.pbWhole = pb;
  size_t cbHeader = 2;
  const BYTE bLength = pb[1];
  if (bLength == 0x80) {
    size_t cbUsed = 0;
    if (!element.Constructed() || !ReadElements(pb + 2, cb - 2, true, iDepth, nullptr, &cbUsed)) return false;
    element.pbContent = pb + 2;
    element.cbContent = cbUsed - 2;
    element.cbWhole = 2 + cbUsed;
  } else {
    size_t cbContent = bLength;
    if (bLength & 0x80) {
      const size_t cbLength = bLength & 0x7F;
      if (cbLength > 4 || cb < 2 + cbLength) return false;
      cbContent = 0;
      for (size_t i = 0; i < cbLength; ++i) cbContent = cbContent << 8 | pb[2 + i];
      cbHeader += cbLength;
    }
    if (cbContent > cb - cbHeader) return false;
    element.pbContent = pb + cbHeader;
    element.cbContent = cbContent;
    element.cbWhole = cbHeader + cbContent;
  }
  *pElement = element;
  return true;
}

bool Children(const SBer& element, std::vector<SBer>* pChildren) {
  size_t cbUsed = 0;
  return element.Constructed() && ReadElements(element.pbContent, element.cbContent, false, 0, pChildren, &cbUsed);
}

// The octets of an OCTET STRING (or an implicitly tagged one), primitive or in constructed pieces.
bool Octets(const SBer& element, CByteVector* pOctets, int iDepth = 0) {
  if (!element.Constructed()) {
    pOctets->insert(pOctets->end(), element.pbContent, element.pbContent + element.cbContent);
    return true;
  }
  std::vector<SBer> pieces;
  if (iDepth > kMaxDepth || !Children(element, &pieces)) return false;
  return std::all_of(pieces.begin(), pieces.end(), [&](const SBer& piece) {
    return piece.bTag == 0x04 || piece.bTag == 0x24 ? Octets(piece, pOctets, iDepth + 1) : false;
  });
}

std::string OidText(const SBer& element) {
  if (element.bTag != 0x06 || element.cbContent == 0) return std::string();
  std::string s;
  unsigned long long ull = 0;
  for (size_t i = 0; i < element.cbContent; ++i) {
    ull = ull << 7 | (element.pbContent[i] & 0x7F);
    if (element.pbContent[i] & 0x80) continue;
    if (s.empty()) {
      const unsigned long long ullFirst = ull < 80 ? ull / 40 : 2;
      s = std::to_string(ullFirst) + "." + std::to_string(ull - ullFirst * 40);
    } else {
      s += "." + std::to_string(ull);
    }
    ull = 0;
  }
  return s;
}

// The elements of a SEQUENCE that has at least cMin of them.
bool Sequence(const SBer& element, std::vector<SBer>* pElements, size_t cMin) {
  return element.bTag == 0x30 && Children(element, pElements) && pElements->size() >= cMin;
}

// A CERT_ID of issuer and serial number from an IssuerAndSerialNumber's contents; the serial
// number is kept in pSerial, least significant byte first as CryptoAPI keeps it.
bool IssuerSerialId(const SBer& issuerAndSerial, CByteVector* pSerial, CERT_ID* pId) {
  std::vector<SBer> parts;
  if (!Children(issuerAndSerial, &parts) || parts.size() != 2 || parts[0].bTag != 0x30 || parts[1].bTag != 0x02)
    return false;
  pSerial->assign(parts[1].pbContent, parts[1].pbContent + parts[1].cbContent);
  std::reverse(pSerial->begin(), pSerial->end());
  pId->dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
  pId->IssuerSerialNumber.Issuer = {static_cast<DWORD>(parts[0].cbWhole), const_cast<BYTE*>(parts[0].pbWhole)};
  pId->IssuerSerialNumber.SerialNumber = {static_cast<DWORD>(pSerial->size()), pSerial->data()};
  return true;
}

PCCERT_CONTEXT FindById(HCERTSTORE hStore, const CERT_ID& id) {
  return CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_CERT_ID, &id,
                                    nullptr);
}

// The content key of one KeyTransRecipientInfo, with the private key of the recipient's
// certificate in hStore. RSA gives its output least significant byte first.
HRESULT DecryptContentKey(const SBer& recipientInfo, HCERTSTORE hStore, CByteVector* pKey) {
  std::vector<SBer> fields, algorithm;
  if (!Sequence(recipientInfo, &fields, 4) || fields[1].bTag != 0x30 || !Sequence(fields[2], &algorithm, 1))
    return CRYPT_E_RECIPIENT_NOT_FOUND;
  CByteVector serial;
  CERT_ID id = {};
  if (OidText(algorithm[0]) != szOID_RSA_RSA || !IssuerSerialId(fields[1], &serial, &id))
    return CRYPT_E_RECIPIENT_NOT_FOUND;
  CCertContextHandle pCert(FindById(hStore, id));
  if (!pCert) return CRYPT_E_RECIPIENT_NOT_FOUND;
  HCRYPTPROV hProvRaw = 0;
  DWORD dwKeySpec = 0;
  BOOL bRelease = FALSE;
  if (!CryptAcquireCertificatePrivateKey(pCert, 0, nullptr, &hProvRaw, &dwKeySpec, &bRelease)) return LastErrorResult();
  CCryptProvHandle hProv;
  if (bRelease) hProv.Attach(hProvRaw);
  CCryptKeyHandle hKey;
  CByteVector key;
  if (!Octets(fields[3], &key)) return CRYPT_E_BAD_ENCODE;
  std::reverse(key.begin(), key.end());
  DWORD cbKey = static_cast<DWORD>(key.size());
  if (!CryptGetUserKey(hProvRaw, dwKeySpec, &hKey) || !CryptDecrypt(hKey, 0, TRUE, 0, key.data(), &cbKey))
    return LastErrorResult();
  key.resize(cbKey);
  *pKey = std::move(key);
  return S_OK;
}

struct SCipher {
  const char* szOid;
  ALG_ID algId;
  DWORD cbKey;
  DWORD cbIv;
};
constexpr SCipher kCiphers[] = {{szOID_RSA_DES_EDE3_CBC, CALG_3DES, 24, 8},
                                {"2.16.840.1.101.3.4.1.2", CALG_AES_128, 16, 16},
                                {"2.16.840.1.101.3.4.1.22", CALG_AES_192, 24, 16},
                                {"2.16.840.1.101.3.4.1.42", CALG_AES_256, 32, 16}};

// EncryptedContentInfo decrypted with the content key.
HRESULT DecryptContent(const SBer& encryptedContentInfo, const CByteVector& key, CByteVector* pContent) {
  std::vector<SBer> fields, algorithm;
  if (!Sequence(encryptedContentInfo, &fields, 3) || !Sequence(fields[1], &algorithm, 2) ||
      (fields[2].bTag != 0x80 && fields[2].bTag != 0xA0))
    return CRYPT_E_BAD_ENCODE;
  const std::string sOid = OidText(algorithm[0]);
  const auto pCipher = std::find_if(std::begin(kCiphers), std::end(kCiphers),
                                    [&](const SCipher& cipher) { return sOid == cipher.szOid; });
  if (pCipher == std::end(kCiphers)) return CRYPT_E_UNKNOWN_ALGO;
  CByteVector iv, content;
  if (algorithm[1].bTag != 0x04 || !Octets(algorithm[1], &iv) || iv.size() != pCipher->cbIv ||
      key.size() != pCipher->cbKey || !Octets(fields[2], &content))
    return CRYPT_E_BAD_ENCODE;
  CByteVector blob(sizeof(BLOBHEADER) + sizeof(DWORD));
  auto* pHeader = reinterpret_cast<BLOBHEADER*>(blob.data());
  *pHeader = {PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, pCipher->algId};
  const DWORD cbKey = pCipher->cbKey;
  CopyMemory(blob.data() + sizeof(BLOBHEADER), &cbKey, sizeof cbKey);
  blob.insert(blob.end(), key.begin(), key.end());
  CCryptProvHandle hProv;
  CCryptKeyHandle hKey;
  DWORD cbContent = static_cast<DWORD>(content.size());
  if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
      !CryptImportKey(hProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &hKey) ||
      !CryptSetKeyParam(hKey, KP_IV, iv.data(), 0) || !CryptDecrypt(hKey, 0, TRUE, 0, content.data(), &cbContent)) {
    SecureZeroMemory(blob.data(), blob.size());
    return LastErrorResult();
  }
  SecureZeroMemory(blob.data(), blob.size());
  content.resize(cbContent);
  *pContent = std::move(content);
  return S_OK;
}

}  // namespace

HRESULT DecryptEnvelopedData(const BYTE* pb, size_t cb, HCERTSTORE hStore, CByteVector* pContent) {
  // ContentInfo { envelopedData, [0] EnvelopedData { version, [originatorInfo,] recipientInfos, encryptedContentInfo }
  // }
  SBer contentInfo;
  std::vector<SBer> info, explicitContent, fields, recipients;
  if (!ReadBer(pb, cb, &contentInfo) || !Sequence(contentInfo, &info, 2) ||
      OidText(info[0]) != szOID_RSA_envelopedData || info[1].bTag != 0xA0 || !Children(info[1], &explicitContent) ||
      explicitContent.size() != 1 || !Sequence(explicitContent[0], &fields, 3))
    return CRYPT_E_BAD_ENCODE;
  const size_t iRecipients = fields[1].bTag == 0xA0 ? 2 : 1;
  if (fields.size() < iRecipients + 2 || fields[iRecipients].bTag != 0x31 ||
      !Children(fields[iRecipients], &recipients))
    return CRYPT_E_BAD_ENCODE;
  HRESULT hr = CRYPT_E_RECIPIENT_NOT_FOUND;
  for (const SBer& recipient : recipients) {
    CByteVector key;
    hr = DecryptContentKey(recipient, hStore, &key);
    if (hr == CRYPT_E_RECIPIENT_NOT_FOUND) continue;
    if (SUCCEEDED(hr)) hr = DecryptContent(fields[iRecipients + 1], key, pContent);
    SecureZeroMemory(key.data(), key.size());
    break;
  }
  return hr;
}

HRESULT CVerifiedSignature::Verify(const BYTE* pbSignature, size_t cbSignature, const BYTE* pbContent,
                                   size_t cbContent) {
  constexpr DWORD dwEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  m_hStore.Close();
  m_hMsg.Attach(CryptMsgOpenToDecode(dwEncoding, pbContent ? CMSG_DETACHED_FLAG : 0, 0, 0, nullptr, nullptr));
  DWORD dwType = 0, cbType = sizeof dwType, cSigners = 0, cbSigners = sizeof cSigners;
  if (!m_hMsg || !CryptMsgUpdate(m_hMsg, pbSignature, static_cast<DWORD>(cbSignature), TRUE) ||
      (pbContent && !CryptMsgUpdate(m_hMsg, pbContent, static_cast<DWORD>(cbContent), TRUE)) ||
      !CryptMsgGetParam(m_hMsg, CMSG_TYPE_PARAM, 0, &dwType, &cbType))
    return LastErrorResult();
  if (dwType != CMSG_SIGNED) return CRYPT_E_INVALID_MSG_TYPE;
  if (!CryptMsgGetParam(m_hMsg, CMSG_SIGNER_COUNT_PARAM, 0, &cSigners, &cbSigners)) return LastErrorResult();
  m_hStore.Attach(CertOpenStore(CERT_STORE_PROV_MSG, dwEncoding, 0, 0, m_hMsg));
  if (!m_hStore) return LastErrorResult();
  if (cSigners == 0) return CRYPT_E_NO_SIGNER;
  for (DWORD i = 0; i < cSigners; ++i) {
    CCertContextHandle pSigner(SignerCertificate(i));
    if (!pSigner) return CRYPT_E_NO_SIGNER;
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para = {sizeof para, 0, i, CMSG_VERIFY_SIGNER_CERT,
                                               const_cast<CERT_CONTEXT*>(static_cast<PCCERT_CONTEXT>(pSigner))};
    if (!CryptMsgControl(m_hMsg, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para)) return LastErrorResult();
    // With signed attributes the signature covers them; the content is covered by their message digest.
    if (SignedAttributes(i).empty()) continue;
    const CByteVector digest = SignedAttribute(i, szOID_RSA_messageDigest);
    DWORD cbHash = 0;
    if (!CryptMsgGetParam(m_hMsg, CMSG_COMPUTED_HASH_PARAM, i, nullptr, &cbHash)) return LastErrorResult();
    CByteVector hash(cbHash);
    if (!CryptMsgGetParam(m_hMsg, CMSG_COMPUTED_HASH_PARAM, i, hash.data(), &cbHash)) return LastErrorResult();
    hash.resize(cbHash);
    SBer value;
    CByteVector octets;
    if (!ReadBer(digest.data(), digest.size(), &value) || value.bTag != 0x04 || !Octets(value, &octets) ||
        octets != hash)
      return CRYPT_E_HASH_VALUE;
  }
  return S_OK;
}

PCCERT_CONTEXT CVerifiedSignature::SignerCertificate(DWORD dwSigner) const {
  DWORD cbInfo = 0;
  if (!m_hMsg || !m_hStore || !CryptMsgGetParam(m_hMsg, CMSG_SIGNER_CERT_INFO_PARAM, dwSigner, nullptr, &cbInfo))
    return nullptr;
  CByteVector info(cbInfo);
  if (!CryptMsgGetParam(m_hMsg, CMSG_SIGNER_CERT_INFO_PARAM, dwSigner, info.data(), &cbInfo)) return nullptr;
  return CertGetSubjectCertificateFromStore(m_hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                            reinterpret_cast<PCERT_INFO>(info.data()));
}

// Windows reports a signer without signed attributes with CRYPT_E_ATTRIBUTES_MISSING, Wine with
// success and no bytes.
CByteVector CVerifiedSignature::SignedAttributes(DWORD dwSigner) const {
  DWORD cbAttributes = 0;
  if (!m_hMsg || !CryptMsgGetParam(m_hMsg, CMSG_SIGNER_AUTH_ATTR_PARAM, dwSigner, nullptr, &cbAttributes) ||
      cbAttributes < sizeof(CRYPT_ATTRIBUTES))
    return CByteVector();
  CByteVector attributes(cbAttributes);
  if (!CryptMsgGetParam(m_hMsg, CMSG_SIGNER_AUTH_ATTR_PARAM, dwSigner, attributes.data(), &cbAttributes) ||
      !reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data())->cAttr)
    return CByteVector();
  return attributes;
}

CByteVector CVerifiedSignature::SignedAttribute(DWORD dwSigner, const char* szOid) const {
  const CByteVector attributes = SignedAttributes(dwSigner);
  if (attributes.empty()) return CByteVector();
  const auto* pAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data());
  for (DWORD i = 0; i < pAttributes->cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = pAttributes->rgAttr[i];
    if (attribute.cValue && !lstrcmpA(attribute.pszObjId, szOid))
      return CByteVector(attribute.rgValue[0].pbData, attribute.rgValue[0].pbData + attribute.rgValue[0].cbData);
  }
  return CByteVector();
}

PCCERT_CONTEXT FindPreferredCertificate(const CByteVector& preference, HCERTSTORE hStore) {
  SBer value;
  CByteVector serial;
  CERT_ID id = {};
  if (!hStore || !ReadBer(preference.data(), preference.size(), &value) || value.cbWhole != preference.size() ||
      (value.bTag != 0x30 && value.bTag != 0xA0) || !IssuerSerialId(value, &serial, &id))
    return nullptr;
  return FindById(hStore, id);
}
