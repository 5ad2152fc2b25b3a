#pragma once
// The UI tests play the installed module in this process: VmOfcX.dll of the test prefix gives
// the images and the manifest, its satellite the templates and strings. A dialog runs modally
// on the test's thread while a driver thread answers it as a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../integration/Installation.h"
#include "UiDriver.h"
#include "module/AddInModule.h"
#include "module/ResourceStrings.h"
#include "OwnCertificates.h"
#include "TestAuthority.h"
#include "ui/Dialogs.h"

constexpr LANGID kEnglishUS = 1033;
constexpr LANGID kGermanGermany = 1031;

class CUiTest : public ::testing::Test {
 protected:
  void SetUp() override { UseLanguage(kEnglishUS); }
  void TearDown() override {
    if (m_hSatellite) FreeLibrary(m_hSatellite);
    if (m_hModule) FreeLibrary(m_hModule);
  }

  void UseLanguage(LANGID wLanguage) {
    if (!m_hModule) m_hModule = LoadLibraryW(ModulePath().c_str());
    ASSERT_NE(nullptr, m_hModule) << "VmOfcX.dll is not installed";
    if (m_hSatellite) FreeLibrary(m_hSatellite);
    m_hSatellite = LoadResourceModule(m_hModule, wLanguage);
    ASSERT_NE(nullptr, m_hSatellite);
    m_module.SetModuleInstance(m_hModule);
    m_module.SetResourceInstance(m_hSatellite);
  }

  // Shows the dialog (DoModal) while drive answers it; a dialog that the driver leaves open is
  // cancelled, so that a failing check does not hang the test.
  template <class TDialog>
  INT_PTR RunDriven(TDialog& dialog, const std::function<void(HWND)>& drive) {
    std::thread driver([&] {
      HWND hDlg = UiDriver::WaitForDialog(GetCurrentProcessId(), L"");
      if (!hDlg) return;
      drive(hDlg);
      if (IsWindow(hDlg) && !UiDriver::WaitUntilGone(hDlg, 2000)) PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
    });
    const INT_PTR nResult = dialog.DoModal(nullptr);
    driver.join();
    return nResult;
  }

  CAddInModule m_module{{}};
  HMODULE m_hModule = nullptr;
  HMODULE m_hSatellite = nullptr;
};

// Forgets the user's settings of the module.
inline void ForgetUserSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\Applications\\Tessaly"); }

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

// A contact's certificate from the test authority, valid or long expired.
inline void IssueContact(CCertificateList& certs, const wchar_t* wszEmail, const wchar_t* wszName, bool bExpired) {
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
  if (PCCERT_CONTEXT pCert =
          CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()))) {
    EXPECT_HRESULT_SUCCEEDED(AddToUserStore(kBuddyStore, pCert, CERT_STORE_ADD_REPLACE_EXISTING));
    certs.Add(pCert);
    CertFreeCertificateContext(pCert);
  }
}
