// The management launchers for the installed module: the suite's console when the machine names
// the suite's program folder and the console is there, else OX_ShowProperties in rundll32.exe;
// and the console itself.
#include <filesystem>
#include <optional>

#include "../support/RegistrySandbox.h"
#include "../unit/TraceFixture.h"
#include "UiFixture.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/PropertySheetHost.h"

namespace {

using namespace UiDriver;

constexpr int kCertList = 1001;  // the management libraries' page
constexpr wchar_t kApplicationsKey[] = L"SOFTWARE\\Velmora\\Applications";
constexpr wchar_t kConsoleTitle[] = L"Tessaly User Console";
constexpr wchar_t kViewClass[] = L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}";

std::string Narrow(const std::wstring& ws) { return std::string(ws.begin(), ws.end()); }

bool Contains(const std::vector<std::string>& texts, const std::string& s) {
  return std::find(texts.begin(), texts.end(), s) != texts.end();
}

// The file name of a process's executable.
std::wstring ImageName(DWORD dwPid) {
  HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwPid);
  wchar_t wszPath[MAX_PATH] = {};
  DWORD cch = MAX_PATH;
  if (hProcess && !QueryFullProcessImageNameW(hProcess, 0, wszPath, &cch)) wszPath[0] = L'\0';
  if (hProcess) CloseHandle(hProcess);
  return std::filesystem::path(wszPath).filename().wstring();
}

// A window of another program, titled wsTitle, and its process.
struct SProgramWindow {
  HWND hWnd = nullptr;
  HANDLE hProcess = nullptr;
  ~SProgramWindow() {
    if (hProcess) CloseHandle(hProcess);
  }
};

void WaitForProgramWindow(const wchar_t* wszImage, const std::wstring& wsTitle, SProgramWindow* pWindow) {
  pWindow->hWnd = WaitForWindow([&](HWND hWnd) {
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    return dwPid != GetCurrentProcessId() && WindowText(hWnd) == wsTitle &&
           CompareStringOrdinal(ImageName(dwPid).c_str(), -1, wszImage, -1, TRUE) == CSTR_EQUAL;
  });
  ASSERT_NE(nullptr, pWindow->hWnd) << "no window \"" << Narrow(wsTitle) << "\" of " << Narrow(wszImage);
  DWORD dwPid = 0;
  GetWindowThreadProcessId(pWindow->hWnd, &dwPid);
  pWindow->hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwPid);
}

// Closes a sheet of another program and waits for its end; its exit code. The press is posted:
// the sheet's modal loop looks whether it has ended only when a posted message wakes it.
DWORD CloseSheet(const SProgramWindow& sheet) {
  PostMessageW(sheet.hWnd, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  DWORD dwExitCode = MAXDWORD;
  if (WaitForSingleObject(sheet.hProcess, kWaitMs) == WAIT_OBJECT_0) GetExitCodeProcess(sheet.hProcess, &dwExitCode);
  return dwExitCode;
}

struct SLauncher {
  void (*pfnLaunch)();
  const char* szTraceName;
  const wchar_t* wszView;  // the console's title for it
  int nSheetPage;
  const wchar_t* wszLibrary;
  int nRows;  // the certificates its page lists in these tests
};

// The user has one certificate of their own and two trusted contacts.
const SLauncher kLaunchers[] = {
    {LaunchCertificateManager, "CertMgr", L"Certificates", 304, L"VmPersCertMgr.dll", 1},
    {LaunchBuddyManager, "BuddyMgr", L"Trusted Contacts", 303, L"VmTrustContMgr.dll", 2},
};

class LauncherTest : public CUiTest {
 protected:
  void SetUp() override {
    CUiTest::SetUp();
    m_wsSuite = InstallFolder();
    m_wsSheetTitle = LoadResourceString(IDS_CAPTION);
    ForgetUserCertificates();
    ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"me@tessaly.test", L"Me"));
    IssueContact(m_contacts, L"alice@tessaly.test", L"Alice", false);
    IssueContact(m_contacts, L"bob@tessaly.test", L"Bob", false);
    wchar_t wszTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszTemp);
    m_dir = std::filesystem::path(wszTemp) / (L"vmofcx-launch-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(m_dir);
    // From here the machine values this process reads are the test's own: the launchers' programs do not
    // see them, so only this process traces.
    m_sandbox.emplace();
    m_registry.emplace();
    m_registry->SetDword(L"SOFTWARE\\Velmora\\Tracing", L"DoTrace", 1);
    m_registry->SetString(L"SOFTWARE\\Velmora\\Tracing", L"FileName", (m_dir / L"launch.trc3").wstring());
    StartTracing();
  }
  void TearDown() override {
    VmTraceNS::Shutdown();
    m_registry.reset();
    m_sandbox.reset();
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
    CUiTest::TearDown();
  }

  void SetBinDir(const std::wstring& wsFolder) {
    m_registry->SetString(kApplicationsKey, L"BinDir", wsFolder, REG_SZ, KEY_WOW64_32KEY);
  }
  CTraceFile Trace() {
    VmTraceNS::Shutdown();
    CTraceFile file = ReadTraceFile(m_dir / L"launch.trc3");
    StartTracing();
    return file;
  }

  // The launcher's fallback: rundll32.exe runs this module's OX_ShowProperties with the library.
  void ExpectSheetInRundll32(const SLauncher& launcher) {
    launcher.pfnLaunch();
    SProgramWindow sheet;
    ASSERT_NO_FATAL_FAILURE(WaitForProgramWindow(L"rundll32.exe", m_wsSheetTitle, &sheet));
    EXPECT_EQ(launcher.nRows, ListRowCount(GetDlgItem(SheetPage(sheet.hWnd), kCertList))) << launcher.szTraceName;
    CloseSheet(sheet);

    const CTraceFile trace = Trace();
    const std::string sPath = "\"" + Narrow(m_wsSuite) + "\\VmOfcX.dll\"";
    const std::vector<std::string> messages = trace.Texts('U');
    EXPECT_TRUE(Contains(trace.Texts('>'), launcher.szTraceName));
    EXPECT_TRUE(Contains(trace.Texts('>'), "KxSecurityManager"));
    EXPECT_TRUE(Contains(messages, "Go!"));
    EXPECT_TRUE(Contains(messages, "Path: " + sPath));
    EXPECT_TRUE(Contains(messages, "Command: " + sPath + ",OX_ShowProperties " + std::to_string(launcher.nSheetPage) +
                                       "," + Narrow(launcher.wszLibrary)))
        << ::testing::PrintToString(messages);
    EXPECT_FALSE(trace.Texts('E').empty()) << "the console's failure is traced";
  }

  CCertificateList m_contacts;
  std::wstring m_wsSuite;
  std::wstring m_wsSheetTitle;  // as the machine's branding names the product
  std::filesystem::path m_dir;
  std::optional<CRegistrySandbox> m_sandbox;
  std::optional<CRegistryValues> m_registry;
};

TEST_F(LauncherTest, TheConsoleInTheSuitesFolderOpensTheView) {
  SetBinDir(m_wsSuite);
  for (const SLauncher& launcher : kLaunchers) {
    launcher.pfnLaunch();
    SProgramWindow console;
    ASSERT_NO_FATAL_FAILURE(
        WaitForProgramWindow(L"VmUserConsole.exe", std::wstring(kConsoleTitle) + L" - " + launcher.wszView, &console));
    // The console finds its libraries in its working folder.
    EXPECT_EQ(launcher.nRows, ListRowCount(GetDlgItem(SheetPage(console.hWnd), kCertList))) << launcher.szTraceName;
    EXPECT_EQ(0u, CloseSheet(console));
  }
  const CTraceFile trace = Trace();
  for (const char* szScope : {"CertMgr", "BuddyMgr", "KxSecurityManager"})
    EXPECT_TRUE(Contains(trace.Texts('>'), szScope)) << szScope;
  EXPECT_FALSE(Contains(trace.Texts('U'), "Go!"));
  EXPECT_TRUE(trace.Texts('E').empty());
}

TEST_F(LauncherTest, WithoutTheSuitesFolderTheSheetOpensInRundll32) {
  for (const SLauncher& launcher : kLaunchers) ExpectSheetInRundll32(launcher);
}

TEST_F(LauncherTest, AFolderWithoutTheConsoleOpensTheSheetInRundll32) {
  SetBinDir(m_dir.wstring());
  for (const SLauncher& launcher : kLaunchers) ExpectSheetInRundll32(launcher);
}

TEST_F(LauncherTest, TheConsoleRejectsAnUnknownView) {
  for (const std::wstring& wsArguments :
       {std::wstring(kViewClass) + L":3", std::wstring(L"{00000000-0000-0000-0000-000000000000}:1"), std::wstring()}) {
    std::wstring wsCommand = L"\"" + m_wsSuite + L"\\VmUserConsole.exe\" " + wsArguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, wsCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    HWND hBox = WaitForDialog(process.dwProcessId, kConsoleTitle);
    EXPECT_NE(nullptr, hBox) << Narrow(wsArguments);
    if (hBox) {
      EXPECT_NE(std::wstring::npos, StaticTexts(hBox).find(L"Unknown view \"" + wsArguments + L"\"."));
      Click(hBox, IDOK);
    }
    DWORD dwExitCode = MAXDWORD;
    if (WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process.hProcess, &dwExitCode);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), dwExitCode) << Narrow(wsArguments);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

}  // namespace
