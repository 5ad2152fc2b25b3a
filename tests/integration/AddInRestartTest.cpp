// Restarting Outlook after the profile preparation added the address-book service: the simulated
// Outlook quits and a restarter (the installed module in rundll32.exe) starts it again.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Installation.h"

namespace {

std::string Narrow(const std::wstring& ws) { return std::string(ws.begin(), ws.end()); }

class AddInRestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t wszTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszTemp);
    m_wsFolder = std::wstring(wszTemp) + L"olkrestart" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(m_wsFolder.c_str(), nullptr);
  }
  void TearDown() override {
    for (const wchar_t* wszFile : {L"\\first.scn", L"\\second.scn", L"\\first.log", L"\\second.log", L"\\profile"}) {
      DeleteFileW((m_wsFolder + wszFile).c_str());
    }
    RemoveDirectoryW(m_wsFolder.c_str());
  }
  std::wstring File(const wchar_t* wszName) const { return m_wsFolder + L"\\" + wszName; }

  std::wstring m_wsFolder;
};

// The first start adds "VMSRVC" and asks to restart; the user agrees. The simulator quits, the
// restarter starts it again without arguments, and the new Outlook finds the profile prepared:
// the service configured once, the safe-senders entry kept, and no second question.
TEST_F(AddInRestartTest, OutlookQuitsAndComesBackWithThePreparedProfile) {
  const std::wstring wsCommon = L"--only VmOfcX.ComposeRibbon --profile \"" + File(L"profile") + L"\"";
  WriteTextFile(File(L"first.scn"), "relaunch " + Narrow(wsCommon) + " --log \"" + Narrow(File(L"second.log")) +
                                        "\" \"" + Narrow(File(L"second.scn")) +
                                        "\"\n"
                                        "answer yes\n"
                                        "start 14\n"
                                        "expect service VMSRVC 1\n"
                                        "wait 30000\n");
  WriteTextFile(File(L"second.scn"),
                "start 14\n"
                "expect seen OnStartupComplete VmOfcX.ComposeRibbon 0x00000000\n"
                "expect service VMSRVC 1\n"
                "expect safesenders @ca.tessaly.example\n"
                "quit\n");
  const DWORD dwExitCode = RunProgram(L"\"" + SimulatorPath() + L"\" " + wsCommon + L" --log \"" + File(L"first.log") +
                                      L"\" \"" + File(L"first.scn") + L"\"");
  const std::string sFirst = ReadTextFile(File(L"first.log"));
  ASSERT_EQ(0u, dwExitCode) << sFirst;
  EXPECT_NE(std::string::npos, sFirst.find("Outlook quit at an add-in's request")) << sFirst;

  // The restarted simulator writes its log's last line when it ends.
  std::string sSecond;
  for (int i = 0; i < 600 && sSecond.find("ofcsim: exit code") == std::string::npos; ++i) {
    Sleep(100);
    sSecond = ReadTextFile(File(L"second.log"));
  }
  EXPECT_NE(std::string::npos, sSecond.find("ofcsim: exit code 0")) << sSecond;
}

// While a restarter is at work (its mutex exists), a second one tells the others by the
// registered message of the executable's name and ends without waiting for Outlook.
TEST_F(AddInRestartTest, SecondRestarterBroadcastsAndEnds) {
  HANDLE hMutex = CreateMutexW(nullptr, FALSE, L"ofcsim.exe");
  ASSERT_NE(nullptr, hMutex);
  ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  HWND hwnd =
      CreateWindowExW(0, L"STATIC", L"listener", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, hwnd);
  const UINT uMessage = RegisterWindowMessageW(L"ofcsim.exe");

  // This test's own process stands for Outlook: it does not end, so only a restarter that
  // gives way at once ends before the wait for Outlook would.
  const DWORD dwExitCode = RunProgram(L"rundll32.exe \"" + ModulePath() + L"\",OX_Restart " +
                                      std::to_wstring(GetCurrentProcessId()) + L"," + SimulatorPath());
  EXPECT_EQ(0u, dwExitCode);
  MSG msg;
  bool bHeard = false;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) bHeard = bHeard || msg.message == uMessage;
  EXPECT_TRUE(bHeard);
  DestroyWindow(hwnd);
  CloseHandle(hMutex);
}

}  // namespace
