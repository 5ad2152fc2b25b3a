// OX_ShowProperties of the installed module with the suite's management libraries, and the
// system's certificate viewer opened from the module's windows.
#include "UiFixture.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "ui/DialogIds.h"
#include "ui/PropertySheetHost.h"

namespace {

using namespace UiDriver;

// The management libraries' page.
constexpr int kCertList = 1001;
constexpr int kViewCertificate = 1002;

using PFN_RUNDLL_ENTRY = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

class PropertiesTest : public CUiTest {
 protected:
  void SetUp() override {
    CUiTest::SetUp();
    ForgetUserCertificates();
    ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"me@tessaly.test", L"Me"));
    IssueContact(m_contacts, L"alice@tessaly.test", L"Alice", false);
  }

  // Calls the export as rundll32 does, on this thread, while drive answers what it shows.
  void ShowProperties(const char* szCommandLine, const std::function<void(HWND)>& drive) {
    const auto pfnShow = GetExport<PFN_RUNDLL_ENTRY>(m_hModule, "OX_ShowProperties");
    ASSERT_NE(nullptr, pfnShow);
    std::string sCommandLine = szCommandLine;
    std::thread driver([&] {
      HWND hWnd = WaitForDialog(GetCurrentProcessId(), L"Tessaly");
      if (!hWnd) GiveUp(L"the window of OX_ShowProperties");
      drive(hWnd);
      if (SheetPage(hWnd))
        CloseLeftOpen(hWnd, PSM_PRESSBUTTON, PSBTN_CANCEL);
      else
        CloseLeftOpen(hWnd, WM_CLOSE, 0);
    });
    pfnShow(nullptr, nullptr, sCommandLine.data(), SW_SHOWNORMAL);
    driver.join();
  }

  CCertificateList m_contacts;
};

// The system's certificate viewer, a property sheet opened on the window or one of its pages
// (Wine's has no owner).
HWND WaitForViewer(HWND hWindow, HWND hPage) {
  return WaitForWindow(
      [&](HWND hWnd) {
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hWnd, &dwPid);
        HWND hOwner = GetWindow(hWnd, GW_OWNER);
        return dwPid == GetCurrentProcessId() && hWnd != hWindow && (hOwner == hWindow || hOwner == hPage || !hOwner) &&
               SheetPage(hWnd) != nullptr;
      },
      10000);
}

std::vector<std::wstring> Column(HWND hList, int iColumn) {
  std::vector<std::wstring> texts;
  for (int i = 0; i < ListRowCount(hList); ++i) texts.push_back(ListText(hList, i, iColumn));
  return texts;
}

TEST_F(PropertiesTest, CertificatePagesListTheOwnCertificatesAndShowThemInTheViewer) {
  bool bShown = false;
  ShowProperties("304,VmPersCertMgr.dll", [&](HWND hSheet) {
    bShown = true;
    HWND hPage = SheetPage(hSheet);
    ASSERT_NE(nullptr, hPage);
    HWND hList = GetDlgItem(hPage, kCertList);
    EXPECT_EQ(std::vector<std::wstring>{L"me@tessaly.test"}, Column(hList, 1));
    EXPECT_FALSE(IsEnabled(hPage, kViewCertificate));
    ListSelect(hList, {0});
    ASSERT_TRUE(IsEnabled(hPage, kViewCertificate));
    Click(hPage, kViewCertificate);
    HWND hViewer = WaitForViewer(hSheet, hPage);
    ASSERT_NE(nullptr, hViewer) << "the certificate viewer";
    Click(hViewer, IDOK);
    EXPECT_TRUE(WaitUntilGone(hViewer));
    PressSheetButton(hSheet, PSBTN_CANCEL);
  });
  EXPECT_TRUE(bShown);
}

TEST_F(PropertiesTest, ContactPagesListTheTrustedContacts) {
  ShowProperties("0,VmTrustContMgr.dll", [&](HWND hSheet) {
    EXPECT_EQ(std::vector<std::wstring>{L"alice@tessaly.test"}, Column(GetDlgItem(SheetPage(hSheet), kCertList), 1));
    PressSheetButton(hSheet, PSBTN_CANCEL);
  });
}

// Waits, answering what is sent to this thread's windows, until hWnd is the foreground window.
bool WaitForForeground(HWND hWnd) {
  const ULONGLONG ullEnd = GetTickCount64() + kWaitMs;
  while (GetForegroundWindow() != hWnd && GetTickCount64() < ullEnd) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(50);
  }
  return GetForegroundWindow() == hWnd;
}

TEST_F(PropertiesTest, ThePrivateMessageBringsTheSheetBackToTheFront) {
  ShowProperties("304,VmPersCertMgr.dll", [&](HWND hSheet) {
    // A window of the driver's thread takes the foreground from the sheet's thread.
    HWND hOther = CreateWindowExW(0, L"STATIC", L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(hOther);
    ASSERT_TRUE(WaitForForeground(hOther));
    PostMessageW(hSheet, COfcPropertySheet::kActivateMessage, 0, 0);
    EXPECT_TRUE(WaitForForeground(hSheet));
    DestroyWindow(hOther);
    PressSheetButton(hSheet, PSBTN_CANCEL);
  });
}

TEST_F(PropertiesTest, ALibraryWithoutPagesIsReportedAndAMissingOneShowsNothing) {
  std::wstring wsMessage;
  // The policy service is a library of the suite without property pages.
  ShowProperties("0,VmFPApi.dll", [&](HWND hBox) {
    wsMessage = StaticTexts(hBox);
    Click(hBox, IDOK);
  });
  EXPECT_EQ(SystemErrorText(ERROR_PROC_NOT_FOUND) + L"\n", wsMessage);

  // Without a library nothing is shown: a window would keep these calls from returning.
  const auto pfnShow = GetExport<PFN_RUNDLL_ENTRY>(m_hModule, "OX_ShowProperties");
  char szMissing[] = "0,NoSuchManager.dll";
  pfnShow(nullptr, nullptr, szMissing, SW_SHOWNORMAL);
  char szNoLibrary[] = "304";
  pfnShow(nullptr, nullptr, szNoLibrary, SW_SHOWNORMAL);
}

TEST_F(PropertiesTest, ALibraryOfferingPagesWithoutEndFillsOneSheetAndIsAskedNoFurther) {
  // The library beside this program; loaded here too, to read how often it was asked.
  char szPath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  strcpy(strrchr(szPath, '\\') + 1, "EndlessPages.dll");
  HMODULE hPages = LoadLibraryA(szPath);
  ASSERT_NE(nullptr, hPages) << szPath;
  const auto pfnPagesAsked = GetExport<LONG(WINAPI*)()>(hPages, "PagesAsked");
  ASSERT_NE(nullptr, pfnPagesAsked);
  int cTabs = 0;
  ShowProperties((std::string("0,") + szPath).c_str(),
                 [&](HWND hSheet) { cTabs = TabCtrl_GetItemCount(PropSheet_GetTabControl(hSheet)); });
  EXPECT_EQ(MAXPROPPAGES, cTabs);
  EXPECT_EQ(MAXPROPPAGES + 1, pfnPagesAsked());
  FreeLibrary(hPages);
}

TEST_F(PropertiesTest, SignatureDetailsShowTheSignerInTheViewer) {
  const CCertLibrary certLib;
  CSignatureDetailsDialog dialog(certLib, true, m_contacts.Get()[0], L"", L"");
  RunDriven(dialog, [](HWND hDlg) {
    Click(hDlg, IDC_VIEW_CERTIFICATE);
    HWND hViewer = WaitForViewer(hDlg, hDlg);
    ASSERT_NE(nullptr, hViewer) << "the certificate viewer";
    Click(hViewer, IDOK);
    EXPECT_TRUE(WaitUntilGone(hViewer));
    EXPECT_TRUE(IsWindow(hDlg));
    Click(hDlg, IDCANCEL);
  });
}

}  // namespace
