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
#include "../support/TestCertificates.h"
#include "UiDriver.h"
#include "module/AddInModule.h"
#include "module/ResourceStrings.h"
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
    return RunDrivenCall([&] { return dialog.DoModal(nullptr); }, drive);
  }
  // The same for any call that shows a dialog modally.
  static INT_PTR RunDrivenCall(const std::function<INT_PTR()>& call, const std::function<void(HWND)>& drive) {
    std::thread driver([&] {
      HWND hDlg = UiDriver::WaitForDialog(GetCurrentProcessId(), L"");
      if (!hDlg) UiDriver::GiveUp(L"the dialog of the test");
      drive(hDlg);
      CloseLeftOpen(hDlg, WM_COMMAND, IDCANCEL);
    });
    const INT_PTR nResult = call();
    driver.join();
    return nResult;
  }

  // Closes a window that the driver left open with its Cancel (uMsg, wParam), after cancelling
  // the boxes over it. A window that stays ends the test program: its modal loop would wait for good.
  static void CloseLeftOpen(HWND hWnd, UINT uMsg, WPARAM wParam) {
    if (!IsWindow(hWnd) || UiDriver::WaitUntilGone(hWnd, 2000)) return;
    while (HWND hBox = UiDriver::WaitForOwnedDialog(hWnd, 0)) {
      PostMessageW(hBox, WM_COMMAND, IDCANCEL, 0);
      if (!UiDriver::WaitUntilGone(hBox)) UiDriver::GiveUp(L"a box left open to close on Cancel");
    }
    PostMessageW(hWnd, uMsg, wParam, 0);
    if (!UiDriver::WaitUntilGone(hWnd)) UiDriver::GiveUp(L"a window left open to close on Cancel");
  }

  CAddInModule m_module{{}};
  HMODULE m_hModule = nullptr;
  HMODULE m_hSatellite = nullptr;
};

// Forgets the user's settings of the module.
inline void ForgetUserSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\Applications\\Tessaly"); }

// A contact's certificate from the test authority, valid or long expired, among the trusted contacts.
inline void IssueContact(CCertificateList& certs, const wchar_t* wszEmail, const wchar_t* wszName, bool bExpired) {
  if (PCCERT_CONTEXT pCert = IssueContactCertificate(wszEmail, wszName, bExpired)) {
    EXPECT_HRESULT_SUCCEEDED(AddToUserStore(kBuddyStore, pCert, CERT_STORE_ADD_REPLACE_EXISTING));
    certs.Add(pCert);
    CertFreeCertificateContext(pCert);
  }
}
