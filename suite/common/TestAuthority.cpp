#include "TestAuthority.h"

#include <cstring>

namespace {

constexpr wchar_t kCertFile[] = L"\\authority.cer";
constexpr wchar_t kKeyFile[] = L"\\authority.key";
constexpr wchar_t kAuthorityName[] = L"Velmora Tessaly Test Authority";
constexpr DWORD kRsaBits = 2048;

class CFile {
 public:
  explicit CFile(HANDLE h) : m_h(h) {}
  ~CFile() {
    if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
  }
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  operator HANDLE() const { return m_h; }
  bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }

 private:
  HANDLE m_h;
};

HRESULT Encode(LPCSTR szStructType, const void* pvStruct, std::vector<BYTE>* pEncoded) {
  DWORD cbEncoded = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, szStructType, pvStruct, 0, nullptr, nullptr, &cbEncoded))
    return LastErrorResult();
  pEncoded->resize(cbEncoded);
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, szStructType, pvStruct, 0, nullptr, pEncoded->data(), &cbEncoded))
    return LastErrorResult();
  pEncoded->resize(cbEncoded);
  return S_OK;
}

// CN (and E when an address is given) as UTF-8 and IA5 strings.
HRESULT EncodeName(const std::wstring& wsName, const std::wstring& wsEmail, std::vector<BYTE>* pEncoded) {
  CERT_RDN_ATTR attrs[2] = {};
  attrs[0].pszObjId = const_cast<LPSTR>(szOID_COMMON_NAME);
  attrs[0].dwValueType = CERT_RDN_UTF8_STRING;
  attrs[0].Value.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(wsName.c_str()));
  attrs[1].pszObjId = const_cast<LPSTR>(szOID_RSA_emailAddr);
  attrs[1].dwValueType = CERT_RDN_IA5_STRING;
  attrs[1].Value.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(wsEmail.c_str()));
  CERT_RDN rdns[2] = {{1, &attrs[0]}, {1, &attrs[1]}};
  CERT_NAME_INFO nameInfo = {wsEmail.empty() ? 1u : 2u, rdns};
  return Encode(X509_UNICODE_NAME, &nameInfo, pEncoded);
}

struct CExtensionList {
  std::vector<std::vector<BYTE>> values;
  std::vector<CERT_EXTENSION> extensions;
  HRESULT Add(LPCSTR szOid, BOOL bCritical, LPCSTR szStructType, const void* pvStruct) {
    std::vector<BYTE> value;
    HRESULT hr = Encode(szStructType, pvStruct, &value);
    if (FAILED(hr)) return hr;
    values.push_back(std::move(value));
    extensions.push_back({const_cast<LPSTR>(szOid), bCritical, {0, nullptr}});
    return S_OK;
  }
  // Points the extensions at their values once the list is complete.
  CERT_EXTENSION* Finish() {
    for (size_t i = 0; i < extensions.size(); ++i)
      extensions[i].Value = {static_cast<DWORD>(values[i].size()), values[i].data()};
    return extensions.data();
  }
};

HRESULT AddUsageExtensions(bool bAuthority, const std::wstring& wsEmail, CExtensionList* pList) {
  CERT_BASIC_CONSTRAINTS2_INFO basic = {bAuthority ? TRUE : FALSE, FALSE, 0};
  HRESULT hr = pList->Add(szOID_BASIC_CONSTRAINTS2, TRUE, X509_BASIC_CONSTRAINTS2, &basic);
  BYTE bUsage = bAuthority ? (CERT_KEY_CERT_SIGN_KEY_USAGE | CERT_CRL_SIGN_KEY_USAGE)
                           : (CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_NON_REPUDIATION_KEY_USAGE |
                              CERT_KEY_ENCIPHERMENT_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE);
  CRYPT_BIT_BLOB usageBits = {1, &bUsage, 0};
  if (SUCCEEDED(hr)) hr = pList->Add(szOID_KEY_USAGE, TRUE, X509_KEY_USAGE, &usageBits);
  if (bAuthority || FAILED(hr)) return hr;

  LPSTR rgszUsages[] = {const_cast<LPSTR>(szOID_PKIX_KP_EMAIL_PROTECTION), const_cast<LPSTR>(szOID_PKIX_KP_CLIENT_AUTH),
                        const_cast<LPSTR>(kSuiteUsageOid)};
  CERT_ENHKEY_USAGE enhanced = {ARRAYSIZE(rgszUsages), rgszUsages};
  hr = pList->Add(szOID_ENHANCED_KEY_USAGE, FALSE, X509_ENHANCED_KEY_USAGE, &enhanced);
  if (FAILED(hr) || wsEmail.empty()) return hr;
  CERT_ALT_NAME_ENTRY mailbox = {};
  mailbox.dwAltNameChoice = CERT_ALT_NAME_RFC822_NAME;
  mailbox.pwszRfc822Name = const_cast<LPWSTR>(wsEmail.c_str());
  CERT_ALT_NAME_INFO altNames = {1, &mailbox};
  return pList->Add(szOID_SUBJECT_ALT_NAME2, FALSE, X509_ALTERNATE_NAME, &altNames);
}

HRESULT SignCertificate(HCRYPTPROV hSigner, const CERT_NAME_BLOB& issuer, const std::vector<BYTE>& subject,
                        const CERT_PUBLIC_KEY_INFO& keyInfo, const FILETIME& ftNotBefore, const FILETIME& ftNotAfter,
                        bool bAuthority, const std::wstring& wsEmail, std::vector<BYTE>* pDer) {
  BYTE rgbSerial[16] = {};
  if (!CryptGenRandom(hSigner, sizeof(rgbSerial), rgbSerial)) return LastErrorResult();
  // Little-endian: keep the number positive and of full length.
  rgbSerial[15] = static_cast<BYTE>((rgbSerial[15] & 0x7F) | 0x40);

  CExtensionList extensions;
  HRESULT hr = AddUsageExtensions(bAuthority, wsEmail, &extensions);
  if (FAILED(hr)) return hr;

  CERT_INFO info = {};
  info.dwVersion = CERT_V3;
  info.SerialNumber = {sizeof(rgbSerial), rgbSerial};
  info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
  info.Issuer = issuer;
  info.NotBefore = ftNotBefore;
  info.NotAfter = ftNotAfter;
  info.Subject = {static_cast<DWORD>(subject.size()), const_cast<BYTE*>(subject.data())};
  info.SubjectPublicKeyInfo = keyInfo;
  info.cExtension = static_cast<DWORD>(extensions.extensions.size());
  info.rgExtension = extensions.Finish();

  CRYPT_ALGORITHM_IDENTIFIER algorithm = {const_cast<LPSTR>(szOID_RSA_SHA256RSA), {0, nullptr}};
  DWORD cbDer = 0;
  if (!CryptSignAndEncodeCertificate(hSigner, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info,
                                     &algorithm, nullptr, nullptr, &cbDer))
    return LastErrorResult();
  pDer->resize(cbDer);
  if (!CryptSignAndEncodeCertificate(hSigner, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info,
                                     &algorithm, nullptr, pDer->data(), &cbDer))
    return LastErrorResult();
  pDer->resize(cbDer);
  return S_OK;
}

HRESULT AcquireSigner(HCRYPTPROV* phProv) {
  return CryptAcquireContextW(phProv, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)
             ? S_OK
             : LastErrorResult();
}

}  // namespace

std::wstring SuiteFolder() {
  CRegKey hKey;
  wchar_t wszPath[MAX_PATH] = {};
  DWORD cbPath = sizeof(wszPath);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora", 0, KEY_READ | KEY_WOW64_64KEY, &hKey) != ERROR_SUCCESS ||
      RegGetValueW(hKey, nullptr, L"VelmoraPath", RRF_RT_REG_SZ, nullptr, wszPath, &cbPath) != ERROR_SUCCESS)
    return std::wstring();
  return wszPath;
}

std::wstring AuthorityFolder() {
  const std::wstring wsSuite = SuiteFolder();
  return wsSuite.empty() ? wsSuite : wsSuite + L"\\TestCA";
}

HRESULT ReadFileBytes(const std::wstring& wsPath, std::vector<BYTE>* pData) {
  CFile hFile(CreateFileW(wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr));
  if (!hFile.IsValid()) return LastErrorResult();
  LARGE_INTEGER liSize = {};
  if (!GetFileSizeEx(hFile, &liSize)) return LastErrorResult();
  if (liSize.QuadPart > 16 * 1024 * 1024) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  pData->resize(static_cast<size_t>(liSize.QuadPart));
  DWORD cbRead = 0;
  if (!ReadFile(hFile, pData->data(), static_cast<DWORD>(pData->size()), &cbRead, nullptr)) return LastErrorResult();
  pData->resize(cbRead);
  return S_OK;
}

HRESULT WriteFileBytes(const std::wstring& wsPath, const std::vector<BYTE>& data) {
  CFile hFile(CreateFileW(wsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile.IsValid()) return LastErrorResult();
  DWORD cbWritten = 0;
  return WriteFile(hFile, data.data(), static_cast<DWORD>(data.size()), &cbWritten, nullptr) ? S_OK : LastErrorResult();
}

FILETIME FileTimeFromNow(LONGLONG llDays) {
  FILETIME ftNow = {};
  GetSystemTimeAsFileTime(&ftNow);
  ULARGE_INTEGER uli = {{ftNow.dwLowDateTime, ftNow.dwHighDateTime}};
  uli.QuadPart += llDays * 24LL * 3600LL * 10000000LL;
  return {uli.LowPart, uli.HighPart};
}

HRESULT CTestAuthority::Create(const std::wstring& wsFolder) {
  if (GetFileAttributesW((wsFolder + kCertFile).c_str()) != INVALID_FILE_ATTRIBUTES) return S_FALSE;
  if (!CreateDirectoryW(wsFolder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return LastErrorResult();

  CCryptProv hProv;
  HRESULT hr = AcquireSigner(&hProv);
  if (FAILED(hr)) return hr;
  CCryptKey hKey;
  if (!CryptGenKey(hProv, AT_SIGNATURE, (kRsaBits << 16) | CRYPT_EXPORTABLE, &hKey)) return LastErrorResult();
  std::vector<BYTE> keyInfo;
  std::vector<BYTE> name;
  hr = ExportPublicKey(hProv, AT_SIGNATURE, &keyInfo);
  if (SUCCEEDED(hr)) hr = EncodeName(kAuthorityName, std::wstring(), &name);
  if (FAILED(hr)) return hr;

  const CERT_NAME_BLOB issuer = {static_cast<DWORD>(name.size()), name.data()};
  std::vector<BYTE> der;
  hr = SignCertificate(hProv, issuer, name, *reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(keyInfo.data()),
                       FileTimeFromNow(-1), FileTimeFromNow(3650), true, std::wstring(), &der);
  if (FAILED(hr)) return hr;

  DWORD cbBlob = 0;
  if (!CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, nullptr, &cbBlob)) return LastErrorResult();
  std::vector<BYTE> blob(cbBlob);
  if (!CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, blob.data(), &cbBlob)) return LastErrorResult();
  hr = WriteFileBytes(wsFolder + kKeyFile, blob);
  SecureZeroMemory(blob.data(), blob.size());
  return SUCCEEDED(hr) ? WriteFileBytes(wsFolder + kCertFile, der) : hr;
}

HRESULT CTestAuthority::Load(const std::wstring& wsFolder) {
  std::vector<BYTE> der;
  HRESULT hr = ReadFileBytes(wsFolder + kCertFile, &der);
  if (FAILED(hr)) return hr;
  m_cert.Reset(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (!m_cert) return LastErrorResult();
  m_wsFolder = wsFolder;
  return S_OK;
}

bool CTestAuthority::HasIssued(PCCERT_CONTEXT pCert) const {
  if (!m_cert || !pCert) return false;
  return CertCompareCertificateName(X509_ASN_ENCODING, &pCert->pCertInfo->Issuer, &m_cert.Get()->pCertInfo->Subject) &&
         CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                           const_cast<CERT_CONTEXT*>(pCert), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                           const_cast<CERT_CONTEXT*>(m_cert.Get()), 0, nullptr);
}

HRESULT CTestAuthority::Issue(const CERT_PUBLIC_KEY_INFO& keyInfo, const std::wstring& wsEmail,
                              const std::wstring& wsName, const FILETIME& ftNotBefore, const FILETIME& ftNotAfter,
                              std::vector<BYTE>* pDer) const {
  if (!m_cert) return E_UNEXPECTED;
  std::vector<BYTE> blob;
  HRESULT hr = ReadFileBytes(m_wsFolder + kKeyFile, &blob);
  CCryptProv hProv;
  if (SUCCEEDED(hr)) hr = AcquireSigner(&hProv);
  CCryptKey hKey;
  if (SUCCEEDED(hr) && !CryptImportKey(hProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &hKey))
    hr = LastErrorResult();
  SecureZeroMemory(blob.data(), blob.size());
  std::vector<BYTE> subject;
  if (SUCCEEDED(hr)) hr = EncodeName(wsName, wsEmail, &subject);
  if (FAILED(hr)) return hr;
  return SignCertificate(hProv, m_cert.Get()->pCertInfo->Subject, subject, keyInfo, ftNotBefore, ftNotAfter, false,
                         wsEmail, pDer);
}

HRESULT ExportPublicKey(HCRYPTPROV hProv, DWORD dwKeySpec, std::vector<BYTE>* pInfo) {
  DWORD cbInfo = 0;
  if (!CryptExportPublicKeyInfo(hProv, dwKeySpec, X509_ASN_ENCODING, nullptr, &cbInfo)) return LastErrorResult();
  pInfo->resize(cbInfo);
  if (!CryptExportPublicKeyInfo(hProv, dwKeySpec, X509_ASN_ENCODING,
                                reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(pInfo->data()), &cbInfo))
    return LastErrorResult();
  return S_OK;
}

bool HasSuiteUsage(PCCERT_CONTEXT pCert) {
  DWORD cbUsage = 0;
  if (!CertGetEnhancedKeyUsage(pCert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &cbUsage)) return false;
  std::vector<BYTE> usage(cbUsage);
  auto* pUsage = reinterpret_cast<CERT_ENHKEY_USAGE*>(usage.data());
  if (!CertGetEnhancedKeyUsage(pCert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, pUsage, &cbUsage)) return false;
  for (DWORD i = 0; i < pUsage->cUsageIdentifier; ++i)
    if (strcmp(pUsage->rgpszUsageIdentifier[i], kSuiteUsageOid) == 0) return true;
  return false;
}
