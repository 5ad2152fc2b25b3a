#pragma once
// The user's certificates and trusted contacts in the test prefix: made with the suite's test
// authority and tools, forgotten again.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "../integration/Installation.h"
#include "OwnCertificates.h"
#include "TestAuthority.h"

// Forgets the user's own certificates, trusted contacts and default certificate.
inline void ForgetUserCertificates() {
  for (const wchar_t* wszStore : {kMyStore, kBuddyStore})
    RegDeleteTreeW(HKEY_CURRENT_USER,
                   (std::wstring(L"Software\\Microsoft\\SystemCertificates\\") + wszStore + L"\\Certificates").c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velmora\\CertWorks");
}

// A certificate of the user's own, with its key in the suite's provider (tools/vmpki.exe).
inline void MakeOwnCertificate(const wchar_t* wszEmail, const wchar_t* wszName) {
  wchar_t wszExe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszExe, MAX_PATH);
  const std::wstring wsTools = std::wstring(wszExe).substr(0, std::wstring(wszExe).rfind(L'\\')) + L"\\..\\tools";
  ASSERT_EQ(0u, RunProgram(L"\"" + wsTools + L"\\vmpki.exe\" user " + wszEmail + L" \"" + wszName + L"\""))
      << "vmpki user";
}

// A contact's certificate from the test authority, valid or long expired, in no store; the
// caller frees it. Null (and a failure) when it cannot be made.
inline PCCERT_CONTEXT IssueContactCertificate(const wchar_t* wszEmail, const wchar_t* wszName, bool bExpired) {
  CTestAuthority authority;
  HCRYPTPROV hProv = 0;
  HCRYPTKEY hKey = 0;
  std::vector<BYTE> publicKey, der;
  HRESULT hr = authority.Load(AuthorityFolder());
  if (SUCCEEDED(hr) && CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      CryptGenKey(hProv, AT_KEYEXCHANGE, 2048u << 16, &hKey))
    hr = ExportPublicKey(hProv, AT_KEYEXCHANGE, &publicKey);
  if (SUCCEEDED(hr) && !publicKey.empty())
    hr = authority.Issue(*reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(publicKey.data()), wszEmail, wszName,
                         FileTimeFromNow(bExpired ? -60 : -1), FileTimeFromNow(bExpired ? -30 : 365), &der);
  if (hKey) CryptDestroyKey(hKey);
  if (hProv) CryptReleaseContext(hProv, 0);
  EXPECT_FALSE(der.empty()) << std::hex << hr;
  return der.empty() ? nullptr
                     : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
}
