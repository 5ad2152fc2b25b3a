#include "documents/EncryptionSessionData.h"

#include <new>
#include <string>

#include "documents/CertificateKey.h"
#include "module/CertLibrary.h"
#include "module/Trace.h"

namespace {

constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kKeyMaterialSize = 48;

HRESULT AcquireVerifyContext(const wchar_t* wszProvider, HCRYPTPROV* phProv) {
  return CryptAcquireContextW(phProv, nullptr, wszProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ? S_OK
                                                                                                : LastErrorResult();
}

HRESULT WriteCounted(IStream* pStream, const void* pv, ULONG cb, ULONG* pcbTotal) {
  ULONG cbWritten = 0;
  const HRESULT hr = pStream->Write(pv, cb, &cbWritten);
  if (SUCCEEDED(hr)) *pcbTotal += cbWritten;
  return hr;
}

// A length followed by that many bytes.
HRESULT WriteField(IStream* pStream, const BYTE* pb, DWORD cb, ULONG* pcbTotal) {
  HRESULT hr = WriteCounted(pStream, &cb, sizeof(cb), pcbTotal);
  if (SUCCEEDED(hr)) hr = WriteCounted(pStream, pb, cb, pcbTotal);
  return hr;
}

// A stream may answer a read with fewer bytes than asked before its end: read on until all came.
// A stream that ends before is damaged provider data, not a shorter field.
HRESULT ReadExact(IStream* pStream, void* pv, ULONG cb) {
  BYTE* pb = static_cast<BYTE*>(pv);
  for (ULONG cbDone = 0; cbDone < cb;) {
    ULONG cbRead = 0;
    const HRESULT hr = pStream->Read(pb + cbDone, cb - cbDone, &cbRead);
    if (FAILED(hr)) return hr;
    if (cbRead == 0) return E_FAIL;
    cbDone += cbRead;
  }
  return S_OK;
}

HRESULT ReadField(IStream* pStream, std::vector<BYTE>* pField) {
  DWORD cb = 0;
  HRESULT hr = ReadExact(pStream, &cb, sizeof(cb));
  if (FAILED(hr)) return hr;
  if (cb > kMaxSessionFieldSize) return E_FAIL;
  try {
    pField->resize(cb);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return ReadExact(pStream, pField->data(), cb);
}

PCCERT_CONTEXT FindByIssuerSerial(HCERTSTORE hStore, std::vector<BYTE>& issuer, std::vector<BYTE>& serial) {
  CERT_ID certId = {};
  certId.dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
  certId.IssuerSerialNumber.Issuer = {static_cast<DWORD>(issuer.size()), issuer.data()};
  certId.IssuerSerialNumber.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
  return CertFindCertificateInStore(hStore, kCertEncoding, 0, CERT_FIND_CERT_ID, &certId, nullptr);
}

unsigned TraceValue(PCCERT_CONTEXT pCert) { return static_cast<unsigned>(reinterpret_cast<UINT_PTR>(pCert)); }

std::wstring CertName(PCCERT_CONTEXT pCert, DWORD dwType) {
  wchar_t wszName[256] = {};
  CertGetNameStringW(pCert, dwType, 0, nullptr, wszName, ARRAYSIZE(wszName));
  return wszName;
}

// Decrypts the wrapped key material with the certificate's private key; false when that key is not
// at hand or does not fit.
bool UnwrapKey(CTraceScope& scope, PCCERT_CONTEXT pCert, HWND hParentWindow, std::vector<BYTE>* pWrapped) {
  CCertificateKey key;
  if (FAILED(key.Open(pCert, hParentWindow, scope))) return false;
  DWORD cbData = static_cast<DWORD>(pWrapped->size());
  if (!CryptDecrypt(key.Key(), 0, TRUE, 0, pWrapped->data(), &cbData)) return false;
  pWrapped->resize(cbData);
  return true;
}

}  // namespace

HRESULT CContentKey::Derive(const BYTE* pbKey, DWORD cbKey) {
  CTraceScope scope("CContentKey::Derive");
  HRESULT hr = AcquireVerifyContext(MS_ENHANCED_PROV_W, &m_hProv);
  if (FAILED(hr)) {
    scope.Error("hProv.InitVerifyContext()", hr);
    return hr;
  }
  if (!CryptCreateHash(m_hProv, CALG_SHA1, 0, 0, &m_hHash)) {
    hr = LastErrorResult();
    scope.Error("hHash.Initialize()", hr);
    return hr;
  }
  scope.Message("Session data size = %u", cbKey);
  if (!CryptHashData(m_hHash, pbKey, cbKey, 0)) {
    hr = LastErrorResult();
    scope.Error("hHash.AddData()", hr);
    return hr;
  }
  if (!CryptDeriveKey(m_hProv, CALG_3DES, m_hHash, CRYPT_EXPORTABLE, &m_hKey)) {
    hr = LastErrorResult();
    scope.Error("hKey.Initialize()", hr);
  }
  return hr;
}

CEncryptionSessionData::CEncryptionSessionData(const CEncryptionSessionData& other) { *this = other; }

CEncryptionSessionData& CEncryptionSessionData::operator=(const CEncryptionSessionData& other) {
  if (this == &other) return *this;
  Reset();
  SetRecipients(other.m_aRecipients);
  if (other.m_cbKey) {
    m_pbKey = new BYTE[other.m_cbKey];
    memcpy(m_pbKey, other.m_pbKey, other.m_cbKey);
    m_cbKey = other.m_cbKey;
  }
  return *this;
}

CEncryptionSessionData::~CEncryptionSessionData() { Reset(); }

void CEncryptionSessionData::FreeKey() {
  if (m_pbKey) SecureZeroMemory(m_pbKey, m_cbKey);
  delete[] m_pbKey;
  m_pbKey = nullptr;
  m_cbKey = 0;
}

void CEncryptionSessionData::ReleaseRecipients() {
  for (PCCERT_CONTEXT pCert : m_aRecipients) CertFreeCertificateContext(pCert);
  m_aRecipients.clear();
}

void CEncryptionSessionData::Reset() {
  FreeKey();
  ReleaseRecipients();
}

void CEncryptionSessionData::SetRecipients(std::span<const PCCERT_CONTEXT> recipients) {
  // The source may be this record's own list.
  std::vector<PCCERT_CONTEXT> aRecipients;
  aRecipients.reserve(recipients.size());
  for (PCCERT_CONTEXT pCert : recipients) aRecipients.push_back(CertDuplicateCertificateContext(pCert));
  ReleaseRecipients();
  m_aRecipients = std::move(aRecipients);
}

void CEncryptionSessionData::AddRecipient(PCCERT_CONTEXT pCert) {
  m_aRecipients.push_back(CertDuplicateCertificateContext(pCert));
}

HRESULT CEncryptionSessionData::GenerateSessionKey() {
  CTraceScope scope("CEncryptionSessionData::GenerateSessionKey");
  FreeKey();
  CCryptProvHandle hProv;
  HRESULT hr = AcquireVerifyContext(MS_DEF_PROV_W, &hProv);
  if (FAILED(hr)) return hr;
  BYTE* pbKey = new (std::nothrow) BYTE[kKeyMaterialSize];
  if (!pbKey) return E_OUTOFMEMORY;
  if (!CryptGenRandom(hProv, kKeyMaterialSize, pbKey)) {
    hr = LastErrorResult();
    scope.Error("CryptGenRandom()", hr);
    delete[] pbKey;
    return hr;
  }
  m_pbKey = pbKey;
  m_cbKey = kKeyMaterialSize;
  return S_OK;
}

HRESULT CEncryptionSessionData::WriteSessionData(IStream* pStream, ULONG* pcbWritten) const {
  CTraceScope scope("CEncryptionSessionData::WriteSessionData");
  *pcbWritten = 0;
  CCryptProvHandle hProv;
  HRESULT hr = AcquireVerifyContext(MS_ENHANCED_PROV_W, &hProv);
  if (FAILED(hr)) return hr;
  if (m_aRecipients.empty()) return E_FAIL;
  const DWORD ulRecipientCount = static_cast<DWORD>(m_aRecipients.size());
  hr = WriteCounted(pStream, &ulRecipientCount, sizeof(ulRecipientCount), pcbWritten);
  for (auto it = m_aRecipients.begin(); SUCCEEDED(hr) && it != m_aRecipients.end(); ++it) {
    const CERT_INFO* pInfo = (*it)->pCertInfo;
    CCryptKeyHandle hKey;
    if (!CryptImportPublicKeyInfo(hProv, kCertEncoding, const_cast<CERT_PUBLIC_KEY_INFO*>(&pInfo->SubjectPublicKeyInfo),
                                  &hKey)) {
      hr = LastErrorResult();
      scope.Error("CryptImportPublicKeyInfo()", hr);
      break;
    }
    DWORD cbWrapped = m_cbKey;
    CryptEncrypt(hKey, 0, TRUE, 0, nullptr, &cbWrapped, 0);
    std::vector<BYTE> wrapped;
    try {
      wrapped.resize(cbWrapped);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (cbWrapped < m_cbKey) {
      hr = HRESULT_FROM_WIN32(ERROR_MORE_DATA);
      break;
    }
    memcpy(wrapped.data(), m_pbKey, m_cbKey);
    DWORD cbData = m_cbKey;
    if (!CryptEncrypt(hKey, 0, TRUE, 0, wrapped.data(), &cbData, cbWrapped)) {
      hr = LastErrorResult();
      scope.Error("CryptEncrypt()", hr);
      // The buffer may still hold the key material in the clear.
      SecureZeroMemory(wrapped.data(), wrapped.size());
      break;
    }
    hr = WriteField(pStream, wrapped.data(), cbData, pcbWritten);
    if (SUCCEEDED(hr)) hr = WriteField(pStream, pInfo->Issuer.pbData, pInfo->Issuer.cbData, pcbWritten);
    if (SUCCEEDED(hr)) hr = WriteField(pStream, pInfo->SerialNumber.pbData, pInfo->SerialNumber.cbData, pcbWritten);
  }
  if (FAILED(hr)) scope.Error("pStream->Write()", hr);
  return hr;
}

HRESULT CEncryptionSessionData::ReadSessionData(HWND hParentWindow, IStream* pStream) {
  CTraceScope scope("CEncryptionSessionData::ReadSessionData");
  Reset();
  DWORD ulRecipientCount = 0;
  HRESULT hr = ReadExact(pStream, &ulRecipientCount, sizeof(ulRecipientCount));
  if (FAILED(hr)) return hr;
  scope.Message("ulRecipientCount = %u", ulRecipientCount);
  if (ulRecipientCount > kMaxSessionRecipients) return E_FAIL;

  const CCertLibrary certLib;
  const CPersonalStoreScope personalStore(certLib);
  if (FAILED(personalStore.Result())) return personalStore.Result();
  const CBuddyStoreScope buddyStore(certLib);
  if (FAILED(buddyStore.Result())) return buddyStore.Result();

  bool bCertificateFound = false;
  std::vector<BYTE> wrapped, issuer, serial;
  for (DWORD i = 0; SUCCEEDED(hr) && i < ulRecipientCount; ++i) {
    hr = ReadField(pStream, &wrapped);
    if (SUCCEEDED(hr)) hr = ReadField(pStream, &issuer);
    if (SUCCEEDED(hr)) hr = ReadField(pStream, &serial);
    if (FAILED(hr)) break;

    CCertContextHandle cert(FindByIssuerSerial(personalStore.Store(), issuer, serial));
    scope.Message("CertFindCertificateInStore(hMyCertStore) = %X", TraceValue(cert));
    if (!cert) {
      CCertContextHandle contact(FindByIssuerSerial(buddyStore.Store(), issuer, serial));
      scope.Message("CertFindCertificateInStore(hBuddyCertStore) = %X", TraceValue(contact));
      if (contact) m_aRecipients.push_back(contact.Detach());
      continue;
    }
    if (!bCertificateFound && UnwrapKey(scope, cert, hParentWindow, &wrapped)) {
      m_pbKey = wrapped.empty() ? nullptr : new (std::nothrow) BYTE[wrapped.size()];
      if (m_pbKey) {
        memcpy(m_pbKey, wrapped.data(), wrapped.size());
        m_cbKey = static_cast<DWORD>(wrapped.size());
      }
      // The buffer is used again for the next field: the key material stays only in m_pbKey.
      SecureZeroMemory(wrapped.data(), wrapped.size());
      if (!wrapped.empty() && !m_pbKey) {
        hr = E_OUTOFMEMORY;
        break;
      }
      bCertificateFound = true;
      scope.Message("Owner = %ls <%ls>", CertName(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE).c_str(),
                    CertName(cert, CERT_NAME_EMAIL_TYPE).c_str());
    }
    m_aRecipients.push_back(cert.Detach());
  }
  scope.Message("bCertificateFound = %d", bCertificateFound ? 1 : 0);
  if (!bCertificateFound) hr = E_ACCESSDENIED;
  if (FAILED(hr)) {
    Reset();
    scope.Error("ReadSessionData()", hr);
  }
  return hr;
}
