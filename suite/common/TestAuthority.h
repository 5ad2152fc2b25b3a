#pragma once
// The suite's local test certificate authority. Its certificate ("authority.cer", DER) and
// signing key ("authority.key", a private key blob) live in the folder "TestCA" of the
// suite's folder; the PKI tool makes them once and every machine of a test shares them.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "SuiteHandles.h"

// Extended key usage the authority puts in every certificate it issues to a user of the suite.
constexpr char kSuiteUsageOid[] = "1.3.6.1.4.1.51877.3.1";

// The suite's folder (HKLM\SOFTWARE\Velmora "VelmoraPath"), empty when not installed.
std::wstring SuiteFolder();
std::wstring AuthorityFolder();

HRESULT ReadFileBytes(const std::wstring& wsPath, std::vector<BYTE>* pData);
HRESULT WriteFileBytes(const std::wstring& wsPath, const std::vector<BYTE>& data);

HRESULT ExportPublicKey(HCRYPTPROV hProv, DWORD dwKeySpec, std::vector<BYTE>* pInfo);

// A point in time relative to now.
FILETIME FileTimeFromNow(LONGLONG llDays);

class CTestAuthority {
 public:
  // Makes the authority's key and certificate in wsFolder unless they are there (S_FALSE).
  static HRESULT Create(const std::wstring& wsFolder);

  HRESULT Load(const std::wstring& wsFolder);
  PCCERT_CONTEXT Certificate() const { return m_cert.Get(); }
  // Signed by this authority, whatever its validity period.
  bool HasIssued(PCCERT_CONTEXT pCert) const;
  // A user certificate (the suite's usage, e-mail protection) for that key, name and address.
  HRESULT Issue(const CERT_PUBLIC_KEY_INFO& keyInfo, const std::wstring& wsEmail, const std::wstring& wsName,
                const FILETIME& ftNotBefore, const FILETIME& ftNotAfter, std::vector<BYTE>* pDer) const;

 private:
  std::wstring m_wsFolder;
  CCertContext m_cert;
};

// Whether the certificate carries the suite's usage.
bool HasSuiteUsage(PCCERT_CONTEXT pCert);
