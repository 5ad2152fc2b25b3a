// OX_CreateInvitation of the installed module. COM runs the Launcher in a surrogate, which creates
// Outlook.Application as a local server: the running simulated Outlook, or a new one that COM
// starts (tools/install-prefix.sh registers ofcsim.exe for the class) with the script stored in
// "AutomationArguments". Outlook loads the add-in, and a new invitation is opened with the
// language dialog answered. The simulated Outlook writes its log, which the test reads when it
// has ended.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <set>
#include <string>
#include <vector>

#include "Installation.h"

namespace {

using PFN_OX_CREATE_INVITATION = HRESULT(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

constexpr wchar_t kSimulatorKey[] = L"Software\\OfficeSim";
constexpr wchar_t kAutomationValue[] = L"AutomationArguments";
constexpr CLSID kOutlookApplication = {0x0006F03A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Outlook answers the restart question of the profile preparation and the invitation's language
// dialog, then shows the new invitation.
constexpr char kInvitationScript[] =
    "answer no\n"
    "start 14\n"
    "expect seen Serving Outlook.Application 0x00000000\n"
    "answer ok\n"
    "await Compose window\n"
    "expect property item Subject Invitation to exchange secure e-mail\n"
    "expect property item Sent false\n"
    "quit\n";

// Outlook without the add-in, until the user quits it.
constexpr char kWithoutAddInScript[] =
    "start 14\n"
    "wait 150000\n"
    "quit\n";

std::set<DWORD> ProcessesNamed(const wchar_t* wszExe) {
  std::set<DWORD> pids;
  HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL bMore = Process32FirstW(hSnapshot, &entry); bMore; bMore = Process32NextW(hSnapshot, &entry)) {
    if (!_wcsicmp(entry.szExeFile, wszExe)) pids.insert(entry.th32ProcessID);
  }
  CloseHandle(hSnapshot);
  return pids;
}

// What the caller's window went through while the invitation was made: its WM_ENABLE states, and
// the waiting dialog that it owned meanwhile (looked for on a timer).
std::vector<bool> g_enableStates;
HWND g_hWaitDialog = nullptr;

BOOL CALLBACK FindOwnedDialog(HWND hWnd, LPARAM lParam) {
  wchar_t wszClass[16] = {};
  GetClassNameW(hWnd, wszClass, ARRAYSIZE(wszClass));
  if (wcscmp(wszClass, L"#32770") || GetWindow(hWnd, GW_OWNER) != reinterpret_cast<HWND>(lParam) ||
      !IsWindowVisible(hWnd))
    return TRUE;
  g_hWaitDialog = hWnd;
  return FALSE;
}

LRESULT CALLBACK OwnerProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_ENABLE) g_enableStates.push_back(wParam != FALSE);
  if (uMsg == WM_TIMER) EnumThreadWindows(GetCurrentThreadId(), FindOwnedDialog, reinterpret_cast<LPARAM>(hWnd));
  return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

class InvitationLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t wszTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszTemp);
    m_wsFolder = std::wstring(wszTemp) + L"olklauncher" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(m_wsFolder.c_str(), nullptr);
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    m_bComInitialized = true;
    m_surrogatesBefore = ProcessesNamed(L"dllhost.exe");
    m_outlooksBefore = ProcessesNamed(L"ofcsim.exe");
    m_hModule = LoadLibraryW(ModulePath().c_str());
    ASSERT_NE(nullptr, m_hModule);
    m_pfnCreateInvitation = GetExport<PFN_OX_CREATE_INVITATION>(m_hModule, "OX_CreateInvitation");
    ASSERT_NE(nullptr, m_pfnCreateInvitation);
    g_enableStates.clear();
    g_hWaitDialog = nullptr;
  }

  // The surrogates that COM started never end by themselves and hold the test's output; an
  // Outlook that did not finish its script is ended too. Both by their process ids. (An Outlook
  // ended so leaves its class registered with COM: the tests let theirs quit.)
  void TearDown() override {
    for (DWORD dwPid : Started(L"dllhost.exe", m_surrogatesBefore)) Terminate(dwPid);
    for (DWORD dwPid : Started(L"ofcsim.exe", m_outlooksBefore)) Terminate(dwPid);
    if (m_hOwner) DestroyWindow(m_hOwner);
    if (m_hModule) FreeLibrary(m_hModule);
    if (m_bComInitialized) CoUninitialize();
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kSimulatorKey, kAutomationValue);
    for (const wchar_t* wszFile : {L"outlook.scn", L"outlook.log"}) DeleteFileW(File(wszFile).c_str());
    RemoveDirectoryW(m_wsFolder.c_str());
  }

  static void Terminate(DWORD dwPid) {
    HANDLE hProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwPid);
    if (!hProcess) return;
    TerminateProcess(hProcess, 1);
    WaitForSingleObject(hProcess, 5000);
    CloseHandle(hProcess);
  }

  std::wstring File(const wchar_t* wszName) const { return m_wsFolder + L"\\" + wszName; }

  // The simulator's arguments for the script, with the module's add-in alone or none.
  std::wstring OutlookArguments(const char* szScript, const wchar_t* wszAddIn) const {
    WriteTextFile(File(L"outlook.scn"), szScript);
    return std::wstring(L"--only ") + wszAddIn + L" --log \"" + File(L"outlook.log") + L"\" \"" + File(L"outlook.scn") +
           L"\"";
  }

  // The arguments with which COM's start of Outlook plays the script.
  void SetAutomationScript(const char* szScript, const wchar_t* wszAddIn) {
    const std::wstring wsArguments = OutlookArguments(szScript, wszAddIn);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CURRENT_USER, kSimulatorKey, kAutomationValue, REG_SZ, wsArguments.c_str(),
                              static_cast<DWORD>((wsArguments.size() + 1) * sizeof(wchar_t))));
  }

  std::set<DWORD> Started(const wchar_t* wszExe, const std::set<DWORD>& before) const {
    std::set<DWORD> started;
    for (DWORD dwPid : ProcessesNamed(wszExe)) {
      if (!before.count(dwPid)) started.insert(dwPid);
    }
    return started;
  }

  // A window of the calling program that watches for the waiting dialog it owns.
  HWND MakeOwner() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"InvitationLauncherOwner";
    RegisterClassW(&windowClass);
    m_hOwner = CreateWindowExW(0, windowClass.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                               nullptr, nullptr, windowClass.hInstance, nullptr);
    if (m_hOwner) SetTimer(m_hOwner, 1, 100, nullptr);
    return m_hOwner;
  }

  HRESULT CreateInvitation(HWND hOwner) {
    char szCommandLine[] = "";
    return m_pfnCreateInvitation(hOwner, nullptr, szCommandLine, SW_SHOWNORMAL);
  }

  // The running Outlook, once it is in the running object table (within 60 s); null when it is not.
  static IDispatch* RunningOutlook() {
    IUnknown* pUnknown = nullptr;
    for (int i = 0; i < 600 && !pUnknown; ++i) {
      if (FAILED(GetActiveObject(kOutlookApplication, nullptr, &pUnknown))) Sleep(100);
    }
    IDispatch* pDispatch = nullptr;
    if (pUnknown) pUnknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch));
    if (pUnknown) pUnknown->Release();
    return pDispatch;
  }

  // The simulated Outlook's log once its last line is there.
  std::string OutlookLog() const {
    std::string sLog;
    for (int i = 0; i < 600 && sLog.find("ofcsim: exit code") == std::string::npos; ++i) {
      Sleep(100);
      sLog = ReadTextFile(File(L"outlook.log"));
    }
    return sLog;
  }

  std::wstring m_wsFolder;
  std::set<DWORD> m_surrogatesBefore;
  std::set<DWORD> m_outlooksBefore;
  bool m_bComInitialized = false;
  HMODULE m_hModule = nullptr;
  HWND m_hOwner = nullptr;
  PFN_OX_CREATE_INVITATION m_pfnCreateInvitation = nullptr;
};

// Outlook is not running: the surrogate starts it. The caller's window is disabled while the
// waiting dialog is up and enabled again afterwards.
TEST_F(InvitationLauncherTest, StartsOutlookThroughTheLauncherWhileTheOwnerWaits) {
  SetAutomationScript(kInvitationScript, L"VmOfcX.ComposeRibbon");
  ASSERT_NE(nullptr, MakeOwner());

  EXPECT_EQ(S_OK, CreateInvitation(m_hOwner));

  EXPECT_EQ((std::vector<bool>{false, true}), g_enableStates);
  EXPECT_TRUE(IsWindowEnabled(m_hOwner));
  EXPECT_NE(nullptr, g_hWaitDialog);
  EXPECT_FALSE(IsWindow(g_hWaitDialog));
  EXPECT_FALSE(Started(L"dllhost.exe", m_surrogatesBefore).empty());
  const std::string sLog = OutlookLog();
  EXPECT_NE(std::string::npos, sLog.find("ofcsim: exit code 0")) << sLog;
}

// Outlook is running: that one opens the invitation, no other is started. Without a window the
// waiting dialog has no owner.
TEST_F(InvitationLauncherTest, UsesTheRunningOutlookWithoutAnOwnerWindow) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring wsCommandLine =
      L"\"" + SimulatorPath() + L"\" " + OutlookArguments(kInvitationScript, L"VmOfcX.ComposeRibbon");
  ASSERT_TRUE(
      CreateProcessW(nullptr, wsCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  CloseHandle(process.hThread);
  // It serves Outlook.Application by the time it is in the running object table.
  IDispatch* pRunning = RunningOutlook();
  ASSERT_NE(nullptr, pRunning) << ReadTextFile(File(L"outlook.log"));
  pRunning->Release();

  EXPECT_EQ(S_OK, CreateInvitation(nullptr));

  std::set<DWORD> others = Started(L"ofcsim.exe", m_outlooksBefore);
  others.erase(process.dwProcessId);
  EXPECT_TRUE(others.empty());
  const std::string sLog = OutlookLog();
  EXPECT_NE(std::string::npos, sLog.find("ofcsim: exit code 0")) << sLog;
  CloseHandle(process.hProcess);
}

// Outlook never loads the add-in: after 10 tries the surrogate gives up, then the caller's own
// process does; the result is "not found" and the waiting dialog goes.
TEST_F(InvitationLauncherTest, GivesUpWhenTheAddInNeverLoads) {
  SetAutomationScript(kWithoutAddInScript, L"VmOfcX.NoSuchAddIn");
  ASSERT_NE(nullptr, MakeOwner());

  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), CreateInvitation(m_hOwner));

  EXPECT_EQ((std::vector<bool>{false, true}), g_enableStates);
  EXPECT_NE(nullptr, g_hWaitDialog);
  EXPECT_FALSE(IsWindow(g_hWaitDialog));
  // The Outlook that COM started is still there; the user ends it.
  IDispatch* pRunning = RunningOutlook();
  ASSERT_NE(nullptr, pRunning);
  DISPID dispidQuit = 0;
  LPOLESTR wszQuit = const_cast<LPOLESTR>(L"Quit");
  DISPPARAMS noArgs = {};
  EXPECT_EQ(S_OK, pRunning->GetIDsOfNames(IID_NULL, &wszQuit, 1, LOCALE_USER_DEFAULT, &dispidQuit));
  EXPECT_EQ(S_OK, pRunning->Invoke(dispidQuit, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &noArgs, nullptr,
                                   nullptr, nullptr));
  pRunning->Release();
  const std::string sLog = OutlookLog();
  EXPECT_NE(std::string::npos, sLog.find("ofcsim: exit code 0")) << sLog;
}

}  // namespace
