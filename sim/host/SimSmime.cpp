#include "SimSmime.h"

#include "SimLabelPolicy.h"

#include <shlobj.h>
#include <wincrypt.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace Sim {
namespace {

constexpr char kSecurityLabelOid[] = "1.2.840.113549.1.9.16.2.2";  // ESS security label

// Owners of the CryptoAPI handles used here.
struct SStoreClose {
  void operator()(HCERTSTORE h) const { CertCloseStore(h, 0); }
};
struct SCertFree {
  void operator()(PCCERT_CONTEXT p) const { CertFreeCertificateContext(p); }
};
struct SMsgClose {
  void operator()(HCRYPTMSG h) const { CryptMsgClose(h); }
};
using CStore = std::unique_ptr<void, SStoreClose>;
using CCert = std::unique_ptr<const CERT_CONTEXT, SCertFree>;
using CMsg = std::unique_ptr<void, SMsgClose>;

class CProv {
 public:
  CProv() = default;
  CProv(const CProv&) = delete;
  CProv& operator=(const CProv&) = delete;
  ~CProv() {
    if (m_h) CryptReleaseContext(m_h, 0);
  }
  HCRYPTPROV m_h = 0;
};

class CKey {
 public:
  CKey() = default;
  CKey(const CKey&) = delete;
  CKey& operator=(const CKey&) = delete;
  ~CKey() {
    if (m_h) CryptDestroyKey(m_h);
  }
  HCRYPTKEY m_h = 0;
};

HRESULT LastError() {
  const DWORD dwError = GetLastError();
  return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

// DER, written and checked by hand: the platform has no encoder for several of these types.
Bytes Tlv(BYTE bTag, const Bytes& content) {
  Bytes out{bTag};
  if (content.size() < 0x80) {
    out.push_back(static_cast<BYTE>(content.size()));
  } else {
    Bytes length;
    for (size_t cb = content.size(); cb; cb >>= 8) length.insert(length.begin(), static_cast<BYTE>(cb));
    out.push_back(static_cast<BYTE>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Oid(const char* szOid) {
  std::vector<unsigned long> arcs;
  for (const char* p = szOid; *p;) {
    char* pEnd = nullptr;
    arcs.push_back(strtoul(p, &pEnd, 10));
    p = *pEnd ? pEnd + 1 : pEnd;
  }
  Bytes content{static_cast<BYTE>(arcs[0] * 40 + arcs[1])};
  for (size_t i = 2; i < arcs.size(); ++i) {
    Bytes arc{static_cast<BYTE>(arcs[i] & 0x7F)};
    for (unsigned long ul = arcs[i] >> 7; ul; ul >>= 7) arc.insert(arc.begin(), static_cast<BYTE>(0x80 | (ul & 0x7F)));
    content.insert(content.end(), arc.begin(), arc.end());
  }
  return Tlv(0x06, content);
}

Bytes Blob(const BYTE* pb, DWORD cb) { return Bytes(pb, pb + cb); }

// IssuerAndSerialNumber's contents: the issuer's name and the serial number (stored least
// significant byte first, as encoded).
Bytes IssuerAndSerial(PCCERT_CONTEXT pCert) {
  const CERT_INFO& info = *pCert->pCertInfo;
  Bytes serial = Blob(info.SerialNumber.pbData, info.SerialNumber.cbData);
  std::reverse(serial.begin(), serial.end());
  return Cat({Blob(info.Issuer.pbData, info.Issuer.cbData), Tlv(0x02, serial)});
}

// The element at pb: its tag and the size of header and contents; false when it is not whole.
bool ReadElement(const BYTE* pb, size_t cb, BYTE* pbTag, size_t* pcbHeader, size_t* pcbContent) {
  if (cb < 2) return false;
  *pbTag = pb[0];
  size_t cbContent = pb[1], cbHeader = 2;
  if (cbContent & 0x80) {
    const size_t cbLength = cbContent & 0x7F;
    if (cbLength == 0 || cbLength > 4 || cb < 2 + cbLength || pb[2] == 0) return false;
    cbContent = 0;
    for (size_t i = 0; i < cbLength; ++i) cbContent = cbContent << 8 | pb[2 + i];
    if (cbContent < 0x80) return false;
    cbHeader += cbLength;
  }
  *pcbHeader = cbHeader;
  *pcbContent = cbContent;
  return cbHeader + cbContent <= cb;
}

// The contents of a value that is exactly one element of that tag; its elements' tags.
bool Elements(const Bytes& value, BYTE bTag, std::vector<Bytes>* pElements) {
  BYTE bActual = 0;
  size_t cbHeader = 0, cbContent = 0;
  if (!ReadElement(value.data(), value.size(), &bActual, &cbHeader, &cbContent) || bActual != bTag ||
      cbHeader + cbContent != value.size()) {
    return false;
  }
  for (size_t pos = cbHeader; pos < value.size();) {
    size_t cbItemHeader = 0, cbItem = 0;
    if (!ReadElement(value.data() + pos, value.size() - pos, &bActual, &cbItemHeader, &cbItem)) return false;
    pElements->emplace_back(value.begin() + pos, value.begin() + pos + cbItemHeader + cbItem);
    pos += cbItemHeader + cbItem;
  }
  return true;
}

// The contents of one whole element, its header left out.
Bytes Contents(const Bytes& element) {
  BYTE bTag = 0;
  size_t cbHeader = 0, cbContent = 0;
  if (!ReadElement(element.data(), element.size(), &bTag, &cbHeader, &cbContent)) return Bytes();
  return Bytes(element.begin() + static_cast<std::ptrdiff_t>(cbHeader), element.end());
}

// SMIMECapabilities: a sequence of sequences, each beginning with an object identifier.
bool IsCapabilities(const Bytes& value) {
  std::vector<Bytes> capabilities;
  if (!Elements(value, 0x30, &capabilities) || capabilities.empty()) return false;
  return std::all_of(capabilities.begin(), capabilities.end(), [](const Bytes& capability) {
    std::vector<Bytes> parts;
    return Elements(capability, 0x30, &parts) && !parts.empty() && parts[0][0] == 0x06;
  });
}

// ESSSecurityLabel: a set of the policy identifier and optionally the classification, a
// privacy mark and categories.
bool IsSecurityLabel(const Bytes& value) {
  std::vector<Bytes> parts;
  return Elements(value, 0x31, &parts) && !parts.empty() && parts[0][0] == 0x06 &&
         (parts.size() < 2 || parts[1][0] == 0x02 || parts[1][0] == 0x13 || parts[1][0] == 0x0C || parts[1][0] == 0x31);
}

struct SRecord {
  WORD wTag;
  const BYTE* pb;
  size_t cb;
};

std::string Utf8(const std::wstring& ws) {
  std::string s(WideCharToMultiByte(CP_UTF8, 0, ws.data(), static_cast<int>(ws.size()), nullptr, 0, nullptr, nullptr),
                '\0');
  WideCharToMultiByte(CP_UTF8, 0, ws.data(), static_cast<int>(ws.size()), s.data(), static_cast<int>(s.size()), nullptr,
                      nullptr);
  return s;
}

std::wstring Lower(std::wstring ws) {
  CharLowerBuffW(ws.data(), static_cast<DWORD>(ws.size()));
  return ws;
}

CStore OpenUserStore(const wchar_t* wszName) {
  return CStore(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                              CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG,
                              wszName));
}

CCert FindByHash(HCERTSTORE hStore, const Bytes& hash) {
  CRYPT_HASH_BLOB blob = {static_cast<DWORD>(hash.size()), const_cast<BYTE*>(hash.data())};
  return CCert(hStore ? CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                   CERT_FIND_SHA1_HASH, &blob, nullptr)
                      : nullptr);
}

// The first certificate of the store for that address that is valid now (and, when asked,
// that has a private key).
CCert FindByAddress(HCERTSTORE hStore, const std::wstring& wsAddress, bool bWithKey) {
  PCCERT_CONTEXT pCert = nullptr;
  while (hStore && (pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) {
    wchar_t wszEmail[256] = {};
    CertGetNameStringW(pCert, CERT_NAME_EMAIL_TYPE, 0, nullptr, wszEmail, ARRAYSIZE(wszEmail));
    DWORD cbInfo = 0;
    if (!lstrcmpiW(wszEmail, wsAddress.c_str()) && CertVerifyTimeValidity(nullptr, pCert->pCertInfo) == 0 &&
        (!bWithKey || CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo))) {
      return CCert(pCert);
    }
  }
  return nullptr;
}

// The certificates a signature carries: the signer's chain as far as the machine knows it.
std::vector<CCert> Chain(PCCERT_CONTEXT pCert) {
  std::vector<CCert> certs;
  CERT_CHAIN_PARA para = {sizeof para, {}};
  PCCERT_CHAIN_CONTEXT pChain = nullptr;
  if (CertGetCertificateChain(nullptr, pCert, nullptr, nullptr, &para, 0, nullptr, &pChain) && pChain->cChain) {
    const CERT_SIMPLE_CHAIN& chain = *pChain->rgpChain[0];
    for (DWORD i = 0; i < chain.cElement; ++i)
      certs.emplace_back(CertDuplicateCertificateContext(chain.rgpElement[i]->pCertContext));
  }
  if (pChain) CertFreeCertificateChain(pChain);
  if (certs.empty()) certs.emplace_back(CertDuplicateCertificateContext(pCert));
  return certs;
}

Bytes UtcTimeNow() {
  SYSTEMTIME st;
  GetSystemTime(&st);
  char sz[16];
  wsprintfA(sz, "%02u%02u%02u%02u%02u%02uZ", st.wYear % 100, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
  return Tlv(0x17, Bytes(sz, sz + lstrlenA(sz)));
}

// The private key of a signing certificate through its key provider. Like Outlook, the engine acquires
// it once and keeps it for the process (under Wine every acquisition of a key container also keeps
// a registry key open: docs/platform-notes.md).
struct SSigningKey {
  HCRYPTPROV hProv;
  DWORD dwKeySpec;
};

HRESULT SigningKey(PCCERT_CONTEXT pSigner, SSigningKey* pKey) {
  static std::mutex s_mutex;
  static std::map<Bytes, SSigningKey> s_keys;  // by the certificate's SHA-1 hash
  BYTE abHash[20] = {};
  DWORD cbHash = sizeof abHash;
  DWORD cbInfo = 0;
  if (!CertGetCertificateContextProperty(pSigner, CERT_SHA1_HASH_PROP_ID, abHash, &cbHash) ||
      !CertGetCertificateContextProperty(pSigner, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo))
    return LastError();
  const std::lock_guard<std::mutex> lock(s_mutex);
  const auto found = s_keys.find(Bytes(abHash, abHash + cbHash));
  if (found != s_keys.end()) return *pKey = found->second, S_OK;
  std::vector<BYTE> info(cbInfo);
  if (!CertGetCertificateContextProperty(pSigner, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &cbInfo)) return LastError();
  const auto* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
  HCRYPTPROV hProv = 0;
  if (!CryptAcquireContextW(&hProv, pInfo->pwszContainerName, pInfo->pwszProvName, pInfo->dwProvType,
                            pInfo->dwFlags & CRYPT_MACHINE_KEYSET))
    return LastError();
  *pKey = s_keys[Bytes(abHash, abHash + cbHash)] = {hProv, pInfo->dwKeySpec};
  return S_OK;
}

// A detached SignedData over the content, with the signed attributes Outlook adds; the
// platform adds the content type and the message digest.
HRESULT Sign(const std::string& sContent, PCCERT_CONTEXT pSigner, PCCERT_CONTEXT pEncryption,
             const SSecurityProfile& profile, Bytes* pSignature) {
  SSigningKey key = {};
  const HRESULT hr = SigningKey(pSigner, &key);
  if (FAILED(hr)) return hr;
  const Bytes preference = IssuerAndSerial(pEncryption);
  struct SAttribute {
    const char* szOid;
    Bytes value;
  };
  std::vector<SAttribute> attributes = {
      {szOID_RSA_signingTime, UtcTimeNow()},
      {szOID_RSA_SMIMECapabilities, profile.capabilities},
      {"1.2.840.113549.1.9.16.2.11", Tlv(0xA0, preference)},
      {"1.3.6.1.4.1.311.16.4", Tlv(0x30, preference)},
  };
  if (!profile.label.empty()) attributes.push_back({kSecurityLabelOid, profile.label});
  std::vector<CRYPT_ATTR_BLOB> values(attributes.size());
  std::vector<CRYPT_ATTRIBUTE> authAttributes(attributes.size());
  for (size_t i = 0; i < attributes.size(); ++i) {
    values[i] = {static_cast<DWORD>(attributes[i].value.size()), attributes[i].value.data()};
    authAttributes[i] = {const_cast<LPSTR>(attributes[i].szOid), 1, &values[i]};
  }
  CMSG_SIGNER_ENCODE_INFO signer = {};
  signer.cbSize = sizeof signer;
  signer.pCertInfo = pSigner->pCertInfo;
  signer.hCryptProv = key.hProv;
  signer.dwKeySpec = key.dwKeySpec;
  signer.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
  signer.cAuthAttr = static_cast<DWORD>(authAttributes.size());
  signer.rgAuthAttr = authAttributes.data();
  const std::vector<CCert> chain = Chain(pSigner);
  std::vector<CERT_BLOB> certBlobs;
  for (const CCert& cert : chain) certBlobs.push_back({cert->cbCertEncoded, cert->pbCertEncoded});
  CMSG_SIGNED_ENCODE_INFO info = {};
  info.cbSize = sizeof info;
  info.cSigners = 1;
  info.rgSigners = &signer;
  info.cCertEncoded = static_cast<DWORD>(certBlobs.size());
  info.rgCertEncoded = certBlobs.data();
  CMsg msg(CryptMsgOpenToEncode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, CMSG_DETACHED_FLAG, CMSG_SIGNED, &info,
                                nullptr, nullptr));
  DWORD cbSignature = 0;
  if (!msg ||
      !CryptMsgUpdate(msg.get(), reinterpret_cast<const BYTE*>(sContent.data()), static_cast<DWORD>(sContent.size()),
                      TRUE) ||
      !CryptMsgGetParam(msg.get(), CMSG_CONTENT_PARAM, 0, nullptr, &cbSignature)) {
    return LastError();
  }
  pSignature->resize(cbSignature);
  if (!CryptMsgGetParam(msg.get(), CMSG_CONTENT_PARAM, 0, pSignature->data(), &cbSignature)) return LastError();
  pSignature->resize(cbSignature);
  return S_OK;
}

// EnvelopedData (RFC 5652) for these recipients: Triple DES in CBC mode with a random IV, the
// content key transported with each recipient's RSA key. The platform's encoder writes no IV,
// so the structure is written here.
HRESULT Envelope(const std::string& sContent, const std::vector<PCCERT_CONTEXT>& recipients, Bytes* pEnveloped) {
  CProv prov;
  CKey contentKey;
  BYTE iv[8];
  if (!CryptAcquireContextW(&prov.m_h, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptGenKey(prov.m_h, CALG_3DES, CRYPT_EXPORTABLE, &contentKey.m_h) ||
      !CryptGenRandom(prov.m_h, sizeof iv, iv) || !CryptSetKeyParam(contentKey.m_h, KP_IV, iv, 0)) {
    return LastError();
  }
  Bytes recipientInfos;
  for (PCCERT_CONTEXT pCert : recipients) {
    CKey publicKey;
    DWORD cbBlob = 0;
    if (!CryptImportPublicKeyInfo(prov.m_h, X509_ASN_ENCODING, &pCert->pCertInfo->SubjectPublicKeyInfo,
                                  &publicKey.m_h) ||
        !CryptExportKey(contentKey.m_h, publicKey.m_h, SIMPLEBLOB, 0, nullptr, &cbBlob)) {
      return LastError();
    }
    Bytes blob(cbBlob);
    if (!CryptExportKey(contentKey.m_h, publicKey.m_h, SIMPLEBLOB, 0, blob.data(), &cbBlob)) return LastError();
    // After the blob header and the algorithm: the encrypted key, least significant byte first.
    Bytes encryptedKey(blob.begin() + sizeof(BLOBHEADER) + sizeof(ALG_ID), blob.begin() + cbBlob);
    std::reverse(encryptedKey.begin(), encryptedKey.end());
    const Bytes keyTransport = Tlv(0x30, Cat({Oid(szOID_RSA_RSA), Bytes{0x05, 0x00}}));
    recipientInfos = Cat({recipientInfos, Tlv(0x30, Cat({Tlv(0x02, {0}), Tlv(0x30, IssuerAndSerial(pCert)),
                                                         keyTransport, Tlv(0x04, encryptedKey)}))});
  }
  DWORD cbData = static_cast<DWORD>(sContent.size());
  Bytes encrypted(sContent.begin(), sContent.end());
  encrypted.resize(sContent.size() + 8);
  if (!CryptEncrypt(contentKey.m_h, 0, TRUE, 0, encrypted.data(), &cbData, static_cast<DWORD>(encrypted.size())))
    return LastError();
  encrypted.resize(cbData);
  const Bytes contentAlgorithm = Tlv(0x30, Cat({Oid(szOID_RSA_DES_EDE3_CBC), Tlv(0x04, Bytes(iv, iv + sizeof iv))}));
  const Bytes encryptedContentInfo = Tlv(0x30, Cat({Oid(szOID_RSA_data), contentAlgorithm, Tlv(0x80, encrypted)}));
  const Bytes envelopedData = Tlv(0x30, Cat({Tlv(0x02, {0}), Tlv(0x31, recipientInfos), encryptedContentInfo}));
  *pEnveloped = Tlv(0x30, Cat({Oid(szOID_RSA_envelopedData), Tlv(0xA0, envelopedData)}));
  return S_OK;
}

// The content key of one KeyTransRecipientInfo, when the store holds the recipient's
// certificate with its key; RSA gives its output least significant byte first.
HRESULT UnwrapContentKey(HCERTSTORE hStore, const Bytes& recipientInfo, Bytes* pKey) {
  std::vector<Bytes> fields, issuerSerial;
  if (!Elements(recipientInfo, 0x30, &fields) || fields.size() != 4 || !Elements(fields[1], 0x30, &issuerSerial) ||
      issuerSerial.size() != 2 || fields[3][0] != 0x04) {
    return CRYPT_E_BAD_ENCODE;
  }
  Bytes serial = Contents(issuerSerial[1]);
  std::reverse(serial.begin(), serial.end());
  CERT_INFO info = {};
  info.Issuer = {static_cast<DWORD>(issuerSerial[0].size()), issuerSerial[0].data()};
  info.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
  const CCert cert(hStore ? CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                       CERT_FIND_SUBJECT_CERT, &info, nullptr)
                          : nullptr);
  if (!cert) return CRYPT_E_RECIPIENT_NOT_FOUND;
  HCRYPTPROV hProv = 0;
  DWORD dwKeySpec = 0;
  BOOL bRelease = FALSE;
  if (!CryptAcquireCertificatePrivateKey(cert.get(), 0, nullptr, &hProv, &dwKeySpec, &bRelease)) return LastError();
  CProv prov;
  if (bRelease) prov.m_h = hProv;
  CKey userKey;
  if (!CryptGetUserKey(hProv, dwKeySpec, &userKey.m_h)) return LastError();
  Bytes key = Contents(fields[3]);
  std::reverse(key.begin(), key.end());
  DWORD cbKey = static_cast<DWORD>(key.size());
  if (!CryptDecrypt(userKey.m_h, 0, TRUE, 0, key.data(), &cbKey)) return LastError();
  key.resize(cbKey);
  *pKey = std::move(key);
  return S_OK;
}

// MIME text.
std::string Base64Lines(const BYTE* pb, size_t cb) {
  DWORD cch = 0;
  if (!cb || !CryptBinaryToStringA(pb, static_cast<DWORD>(cb), CRYPT_STRING_BASE64, nullptr, &cch)) return "";
  std::string s(cch, '\0');
  CryptBinaryToStringA(pb, static_cast<DWORD>(cb), CRYPT_STRING_BASE64, s.data(), &cch);
  // Wine counts up to two characters more than it writes for some lengths: the text ends at its end.
  s.resize(strnlen(s.data(), std::min<size_t>(cch, s.size())));
  return s;
}

bool IsPlainAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// A header's text: as it is when it is plain ASCII, else an encoded word (RFC 2047).
std::string HeaderText(const std::wstring& ws) {
  const std::string s = Utf8(ws);
  if (IsPlainAscii(s)) return s;
  std::string sEncoded = Base64Lines(reinterpret_cast<const BYTE*>(s.data()), s.size());
  sEncoded.erase(std::remove_if(sEncoded.begin(), sEncoded.end(), [](char c) { return c == '\r' || c == '\n'; }),
                 sEncoded.end());
  return "=?utf-8?B?" + sEncoded + "?=";
}

std::string Mailbox(const SMailAddress& address) {
  const std::string sAddress = Utf8(address.wsAddress);
  if (address.wsName.empty() || address.wsName == address.wsAddress) return sAddress;
  std::string sName = HeaderText(address.wsName);
  if (sName.compare(0, 2, "=?") != 0) {
    std::string sQuoted = "\"";
    for (char c : sName) sQuoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
    sName = sQuoted + "\"";
  }
  return sName + " <" + sAddress + ">";
}

std::string AddressLine(const char* szHeader, const std::vector<SMailAddress>& recipients, LONG lType) {
  std::string sLine;
  for (const SMailAddress& recipient : recipients) {
    if (recipient.lType != lType) continue;
    sLine += (sLine.empty() ? std::string(szHeader) + ": " : std::string(",\r\n ")) + Mailbox(recipient);
  }
  return sLine.empty() ? sLine : sLine + "\r\n";
}

std::string NewToken() {
  GUID guid;
  CoCreateGuid(&guid);
  char sz[40];
  wsprintfA(sz, "%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", guid.Data1, guid.Data2, guid.Data3, guid.Data4[0],
            guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return sz;
}

std::string DateHeader() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  SYSTEMTIME st;
  GetSystemTime(&st);
  char sz[64];
  wsprintfA(sz, "Date: %s, %02u %s %04u %02u:%02u:%02u +0000\r\n", kDays[st.wDayOfWeek], st.wDay,
            kMonths[st.wMonth - 1], st.wYear, st.wHour, st.wMinute, st.wSecond);
  return sz;
}

// An entity: its headers, an empty line, its body.
std::string Base64Entity(const std::string& sHeaders, const BYTE* pb, size_t cb) {
  return sHeaders + "Content-Transfer-Encoding: base64\r\n\r\n" + Base64Lines(pb, cb);
}

std::string TextEntity(const std::wstring& wsBody) {
  std::string sText;
  const std::string sBody = Utf8(wsBody);
  for (size_t i = 0; i < sBody.size(); ++i) {
    if (sBody[i] == '\r' && i + 1 < sBody.size() && sBody[i + 1] == '\n') continue;
    sText += sBody[i] == '\n' || sBody[i] == '\r' ? std::string("\r\n") : std::string(1, sBody[i]);
  }
  const char* const szType = "Content-Type: text/plain; charset=\"utf-8\"\r\n";
  bool bSevenBit = true;
  size_t cchLine = 0;
  for (char c : sText) {
    cchLine = c == '\n' ? 0 : cchLine + 1;
    bSevenBit = bSevenBit && cchLine <= 998 && (c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F));
  }
  if (bSevenBit) return std::string(szType) + "Content-Transfer-Encoding: 7bit\r\n\r\n" + sText;
  return Base64Entity(szType, reinterpret_cast<const BYTE*>(sText.data()), sText.size());
}

std::string ContentEntity(const SOutgoingMail& mail) {
  const std::string sText = TextEntity(mail.wsBody);
  if (mail.attachments.empty()) return sText;
  const std::string sBoundary = "----=_NextPart_" + NewToken();
  std::string sEntity = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + sBoundary +
                        "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + sBoundary + "\r\n" +
                        sText + "\r\n";
  for (const SMailAttachment& attachment : mail.attachments) {
    const std::string sName = HeaderText(attachment.wsFileName);
    sEntity += "--" + sBoundary + "\r\n" +
               Base64Entity("Content-Type: application/octet-stream;\r\n\tname=\"" + sName +
                                "\"\r\nContent-Disposition: attachment;\r\n\tfilename=\"" + sName + "\"\r\n",
                            attachment.data.data(), attachment.data.size()) +
               "\r\n";
  }
  return sEntity + "--" + sBoundary + "--\r\n";
}

std::string SignedEntity(const std::string& sContent, const Bytes& signature) {
  const std::string sBoundary = "----=_NextPart_" + NewToken();
  return "Content-Type: multipart/signed;\r\n\tprotocol=\"application/x-pkcs7-signature\";\r\n\tmicalg=SHA1;\r\n\t"
         "boundary=\"" +
         sBoundary + "\"\r\n\r\nThis is a cryptographically signed message in MIME format.\r\n\r\n--" + sBoundary +
         "\r\n" + sContent + "\r\n--" + sBoundary + "\r\n" +
         Base64Entity(
             "Content-Type: application/x-pkcs7-signature;\r\n\tname=\"smime.p7s\"\r\n"
             "Content-Disposition: attachment;\r\n\tfilename=\"smime.p7s\"\r\n",
             signature.data(), signature.size()) +
         "\r\n--" + sBoundary + "--\r\n";
}

std::string EnvelopedEntity(const Bytes& enveloped) {
  return Base64Entity(
      "Content-Type: application/x-pkcs7-mime;\r\n\tsmime-type=enveloped-data;\r\n\tname=\"smime.p7m\"\r\n"
      "Content-Disposition: attachment;\r\n\tfilename=\"smime.p7m\"\r\n",
      enveloped.data(), enveloped.size());
}

std::wstring CertificateName(PCCERT_CONTEXT pCert) {
  wchar_t wsz[256] = {};
  CertGetNameStringW(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, wsz, ARRAYSIZE(wsz));
  return wsz;
}

// The certificates to encrypt for: each recipient's (trusted contacts, then the contacts
// folder), and the sender's last. Recipients without one are named in the log.
std::vector<CCert> EncryptionCertificates(const SOutgoingMail& mail, PCCERT_CONTEXT pSender,
                                          const ContactCertificate& contactCertificate,
                                          std::vector<std::wstring>* pLog) {
  std::vector<CCert> certs;
  const CStore buddies = OpenUserStore(L"VelmoraBuddies");
  for (const SMailAddress& recipient : mail.recipients) {
    CCert cert = FindByAddress(buddies.get(), recipient.wsAddress, false);
    if (!cert) {
      const Bytes der = contactCertificate ? contactCertificate(recipient.wsAddress) : Bytes();
      if (!der.empty())
        cert.reset(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    }
    if (cert) {
      pLog->push_back(L"Encrypted for " + recipient.wsAddress);
      certs.push_back(std::move(cert));
    } else {
      pLog->push_back(L"No certificate for " + recipient.wsAddress + L": not encrypted for them");
    }
  }
  certs.emplace_back(CertDuplicateCertificateContext(pSender));
  return certs;
}

}  // namespace

HRESULT ParseSecurityProfile(const Bytes& profile, SSecurityProfile* pProfile) {
  std::vector<SRecord> records;
  for (size_t pos = 0; pos < profile.size();) {
    if (profile.size() - pos < 4) return MAPI_E_CORRUPT_DATA;
    const WORD wTag = static_cast<WORD>(profile[pos] | profile[pos + 1] << 8);
    const size_t cbRecord = profile[pos + 2] | profile[pos + 3] << 8;
    if (cbRecord < 4 || cbRecord > profile.size() - pos) return MAPI_E_CORRUPT_DATA;
    records.push_back({wTag, profile.data() + pos + 4, cbRecord - 4});
    pos += cbRecord;
  }
  // The records in their order; the label alone may be missing.
  static const WORD kOrder[] = {0x0001, 0x0006, 0x0020, 0x000B, 0x0051, 0x0022, 0x0009, 0x0002, 0x0050};
  if (records.size() != ARRAYSIZE(kOrder) && records.size() != ARRAYSIZE(kOrder) - 1) return MAPI_E_CORRUPT_DATA;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].wTag != kOrder[i]) return MAPI_E_CORRUPT_DATA;
  }
  auto Value = [](const SRecord& record) { return Bytes(record.pb, record.pb + record.cb); };
  static const DWORD kNumbers[] = {1, 1, 7};
  for (size_t i = 0; i < ARRAYSIZE(kNumbers); ++i) {
    DWORD dw = 0;
    if (records[i].cb != sizeof dw) return MAPI_E_CORRUPT_DATA;
    CopyMemory(&dw, records[i].pb, sizeof dw);
    if (dw != kNumbers[i]) return MAPI_E_CORRUPT_DATA;
  }
  const SRecord& ansiName = records[3];
  const SRecord& unicodeName = records[4];
  if (ansiName.cb < 1 || ansiName.pb[ansiName.cb - 1] != 0 ||
      std::find(ansiName.pb, ansiName.pb + ansiName.cb, 0) != ansiName.pb + ansiName.cb - 1) {
    return MAPI_E_CORRUPT_DATA;
  }
  if (unicodeName.cb < 2 || unicodeName.cb % 2) return MAPI_E_CORRUPT_DATA;
  std::wstring wsName(unicodeName.cb / 2, L'\0');
  CopyMemory(wsName.data(), unicodeName.pb, unicodeName.cb);
  if (wsName.find(L'\0') != wsName.size() - 1) return MAPI_E_CORRUPT_DATA;
  wsName.pop_back();
  if (records[5].cb != 20 || records[6].cb != 20) return MAPI_E_CORRUPT_DATA;
  SSecurityProfile parsed{std::string(reinterpret_cast<const char*>(ansiName.pb), ansiName.cb - 1),
                          wsName,
                          Value(records[5]),
                          Value(records[6]),
                          Value(records[7]),
                          records.size() > 8 ? Value(records[8]) : Bytes()};
  if (!IsCapabilities(parsed.capabilities) || (records.size() > 8 && !IsSecurityLabel(parsed.label)))
    return MAPI_E_CORRUPT_DATA;
  *pProfile = std::move(parsed);
  return S_OK;
}

HRESULT ComposeMime(const SOutgoingMail& mail, const ContactCertificate& contactCertificate, std::string* psMime,
                    std::vector<std::wstring>* pLog) {
  const bool bSign = mail.lSecurityFlags & kSecuritySign;
  const bool bSeal = mail.lSecurityFlags & kSecurityEncrypt;
  SSecurityProfile profile;
  const bool bProfile = !mail.profiles.empty();
  if (bProfile) {
    HRESULT hr = mail.profiles.size() == 1 ? ParseSecurityProfile(mail.profiles[0], &profile) : MAPI_E_CORRUPT_DATA;
    if (FAILED(hr)) return pLog->push_back(L"The security profile is not valid"), hr;
  } else if (bSign) {
    return pLog->push_back(L"Signing needs a security profile"), MAPI_E_NOT_FOUND;
  }
  std::string sEntity = ContentEntity(mail);
  if (bSign || bSeal) {
    const CStore my = OpenUserStore(L"MY");
    // Without a profile Outlook's default settings apply: the account's own certificate.
    CCert signer =
        bProfile ? FindByHash(my.get(), profile.signingHash) : FindByAddress(my.get(), mail.from.wsAddress, true);
    CCert encryption = bProfile ? FindByHash(my.get(), profile.encryptionHash) : nullptr;
    if (!signer || (bProfile && !encryption)) {
      pLog->push_back(L"No certificate of the user for this message");
      return MAPI_E_NOT_FOUND;
    }
    if (!encryption) encryption.reset(CertDuplicateCertificateContext(signer.get()));
    const std::vector<CCert> certs =
        bSeal ? EncryptionCertificates(mail, encryption.get(), contactCertificate, pLog) : std::vector<CCert>();
    std::vector<PCCERT_CONTEXT> recipients;
    for (const CCert& cert : certs) recipients.push_back(cert.get());
    // A labelled message is sent only when the label's policy module accepts it.
    if (bSign && !profile.label.empty()) {
      SSecurityLabel label;
      HRESULT hr = DecodeSecurityLabel(profile.label, &label);
      if (SUCCEEDED(hr)) hr = ValidateLabelForSending(label, nullptr, signer.get(), recipients, pLog);
      if (FAILED(hr)) return pLog->push_back(L"The security label was refused"), hr;
    }
    if (bSign) {
      Bytes signature;
      HRESULT hr = Sign(sEntity, signer.get(), encryption.get(), profile, &signature);
      if (FAILED(hr)) return pLog->push_back(L"Signing failed"), hr;
      pLog->push_back(L"Signed by " + CertificateName(signer.get()) +
                      (profile.label.empty() ? std::wstring() : std::wstring(L" with a security label")));
      sEntity = SignedEntity(sEntity, signature);
    }
    if (bSeal) {
      Bytes enveloped;
      HRESULT hr = Envelope(sEntity, recipients, &enveloped);
      if (FAILED(hr)) return pLog->push_back(L"Encryption failed"), hr;
      sEntity = EnvelopedEntity(enveloped);
    }
  }
  const std::wstring& wsFrom = mail.from.wsAddress;
  *psMime = "From: " + Mailbox(mail.from) + "\r\n" + AddressLine("To", mail.recipients, MAPI_TO) +
            AddressLine("Cc", mail.recipients, MAPI_CC) + "Subject: " + HeaderText(mail.wsSubject) + "\r\n" +
            DateHeader() + "Message-ID: <" + NewToken() + "@" + Utf8(wsFrom.substr(wsFrom.find(L'@') + 1)) +
            ">\r\nMIME-Version: 1.0\r\n" + sEntity;
  return S_OK;
}

HRESULT DropMail(const std::wstring& wsDropFolder, const SOutgoingMail& mail, const std::string& sMime) {
  const std::string sToken = NewToken();
  const std::wstring wsName = L"\\" + std::wstring(sToken.begin(), sToken.end()) + L".eml";
  for (const SMailAddress& recipient : mail.recipients) {
    const std::wstring wsFolder = wsDropFolder + L"\\" + Lower(recipient.wsAddress);
    const int iResult = SHCreateDirectoryExW(nullptr, wsFolder.c_str(), nullptr);
    if (iResult != ERROR_SUCCESS && iResult != ERROR_ALREADY_EXISTS) return HRESULT_FROM_WIN32(iResult);
    HANDLE hFile = CreateFileW((wsFolder + wsName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return LastError();
    DWORD cbWritten = 0;
    const BOOL bWritten = WriteFile(hFile, sMime.data(), static_cast<DWORD>(sMime.size()), &cbWritten, nullptr);
    const HRESULT hr = bWritten ? S_OK : LastError();
    CloseHandle(hFile);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ReadInternetMessage(const std::wstring& wsFile, std::string* psMime) {
  HANDLE hFile = CreateFileW(wsFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return LastError();
  psMime->clear();
  char sz[4096];
  DWORD cbRead = 0;
  BOOL bRead = FALSE;
  while ((bRead = ReadFile(hFile, sz, sizeof sz, &cbRead, nullptr)) && cbRead) psMime->append(sz, cbRead);
  const HRESULT hr = bRead ? S_OK : LastError();
  CloseHandle(hFile);
  return hr;
}

std::wstring InternetHeader(const std::string& sMime, const char* szName) {
  const std::string sHeaders = sMime.substr(0, sMime.find("\r\n\r\n"));
  const std::string sPrefix = std::string("\r\n") + szName + ":";
  const std::string sText = "\r\n" + sHeaders;
  size_t pos = 0;
  for (; (pos = sText.find("\r\n", pos)) != std::string::npos; pos += 2) {
    if (!lstrcmpiA(sText.substr(pos, sPrefix.size()).c_str(), sPrefix.c_str())) break;
  }
  if (pos == std::string::npos) return L"";
  std::string sValue;
  for (pos += sPrefix.size(); pos < sText.size(); ++pos) {
    // A line that begins with white space continues the header.
    if (sText.compare(pos, 2, "\r\n") == 0) {
      if (pos + 2 >= sText.size() || (sText[pos + 2] != ' ' && sText[pos + 2] != '\t')) break;
      ++pos;
      continue;
    }
    sValue += sText[pos];
  }
  sValue.erase(0, sValue.find_first_not_of(" \t"));
  if (sValue.compare(0, 10, "=?utf-8?B?") == 0 && sValue.size() > 12) {
    const std::string sEncoded = sValue.substr(10, sValue.size() - 12);
    DWORD cb = 0;
    CryptStringToBinaryA(sEncoded.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &cb, nullptr, nullptr);
    std::string sDecoded(cb, '\0');
    CryptStringToBinaryA(sEncoded.c_str(), 0, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(sDecoded.data()), &cb,
                         nullptr, nullptr);
    sValue = sDecoded;
  }
  std::wstring ws(MultiByteToWideChar(CP_UTF8, 0, sValue.data(), static_cast<int>(sValue.size()), nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, sValue.data(), static_cast<int>(sValue.size()), ws.data(),
                      static_cast<int>(ws.size()));
  return ws;
}

std::wstring InternetMessageClass(const std::string& sMime) {
  const std::wstring wsType = Lower(InternetHeader(sMime, "Content-Type"));
  if (wsType.rfind(L"multipart/signed", 0) == 0) return L"IPM.Note.SMIME.MultipartSigned";
  if (wsType.rfind(L"application/x-pkcs7-mime", 0) == 0 || wsType.rfind(L"application/pkcs7-mime", 0) == 0)
    return L"IPM.Note.SMIME";
  return L"IPM.Note";
}

HRESULT OpenEnvelope(const Bytes& enveloped, std::string* psContent) {
  std::vector<Bytes> contentInfo, explicitContent, envelopedData, recipientInfos, contentFields, algorithm;
  if (!Elements(enveloped, 0x30, &contentInfo) || contentInfo.size() != 2 ||
      contentInfo[0] != Oid(szOID_RSA_envelopedData) || !Elements(contentInfo[1], 0xA0, &explicitContent) ||
      explicitContent.size() != 1 || !Elements(explicitContent[0], 0x30, &envelopedData) || envelopedData.size() != 3 ||
      !Elements(envelopedData[1], 0x31, &recipientInfos) || !Elements(envelopedData[2], 0x30, &contentFields) ||
      contentFields.size() != 3 || contentFields[2][0] != 0x80 || !Elements(contentFields[1], 0x30, &algorithm) ||
      algorithm.size() != 2) {
    return CRYPT_E_BAD_ENCODE;
  }
  const Bytes iv = Contents(algorithm[1]);
  if (algorithm[0] != Oid(szOID_RSA_DES_EDE3_CBC) || algorithm[1][0] != 0x04 || iv.size() != 8)
    return CRYPT_E_UNKNOWN_ALGO;
  const CStore my = OpenUserStore(L"MY");
  Bytes key;
  HRESULT hr = CRYPT_E_RECIPIENT_NOT_FOUND;
  for (size_t i = 0; i < recipientInfos.size() && FAILED(hr); ++i)
    hr = UnwrapContentKey(my.get(), recipientInfos[i], &key);
  if (FAILED(hr)) return hr;
  Bytes blob(sizeof(BLOBHEADER) + sizeof(DWORD));
  *reinterpret_cast<BLOBHEADER*>(blob.data()) = {PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_3DES};
  *reinterpret_cast<DWORD*>(blob.data() + sizeof(BLOBHEADER)) = static_cast<DWORD>(key.size());
  blob.insert(blob.end(), key.begin(), key.end());
  SecureZeroMemory(key.data(), key.size());
  CProv prov;
  CKey contentKey;
  Bytes content = Contents(contentFields[2]);
  DWORD cbContent = static_cast<DWORD>(content.size());
  const bool bDecrypted =
      CryptAcquireContextW(&prov.m_h, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      CryptImportKey(prov.m_h, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &contentKey.m_h) &&
      CryptSetKeyParam(contentKey.m_h, KP_IV, iv.data(), 0) &&
      CryptDecrypt(contentKey.m_h, 0, TRUE, 0, content.data(), &cbContent);
  SecureZeroMemory(blob.data(), blob.size());
  if (!bDecrypted) return LastError();
  psContent->assign(content.begin(), content.begin() + cbContent);
  return S_OK;
}

HRESULT SignerLabel(const Bytes& signedData, bool bDetached, Bytes* pLabel) {
  pLabel->clear();
  CMsg msg(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, bDetached ? CMSG_DETACHED_FLAG : 0, 0, 0,
                                nullptr, nullptr));
  DWORD cbAttributes = 0;
  if (!msg || !CryptMsgUpdate(msg.get(), signedData.data(), static_cast<DWORD>(signedData.size()), TRUE) ||
      !CryptMsgGetParam(msg.get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0, nullptr, &cbAttributes)) {
    return LastError();
  }
  std::vector<ULONGLONG> buffer((cbAttributes + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
  const auto* pAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
  if (!CryptMsgGetParam(msg.get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0, buffer.data(), &cbAttributes)) return LastError();
  for (DWORD i = 0; i < pAttributes->cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = pAttributes->rgAttr[i];
    if (strcmp(attribute.pszObjId, kSecurityLabelOid) || attribute.cValue != 1) continue;
    *pLabel = Blob(attribute.rgValue[0].pbData, attribute.rgValue[0].cbData);
    return S_OK;
  }
  return S_FALSE;
}

}  // namespace Sim
