#pragma once
// A simulated Outlook in this process, with a profile file of its own per test.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "SimOutlook.h"
#include "com/ComPtr.h"

class COutlookTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    wchar_t wszFolder[MAX_PATH] = {}, wszFile[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszFolder);
    GetTempFileNameW(wszFolder, L"olp", 0, wszFile);
    m_wsProfile = wszFile;
    DeleteFileW(wszFile);
  }
  void TearDown() override {
    Stop();
    DeleteFileW(m_wsProfile.c_str());
    CoUninitialize();
  }
  Sim::COutlook* Start(Sim::SOutlookOptions options = {}) {
    options.wsProfilePath = m_wsProfile;
    // The simulator's own add-in only: the module's add-in registered in the prefix asks
    // questions at start-up that these tests do not answer.
    if (options.onlyAddIns.empty()) options.onlyAddIns = {L"OfficeSim.TestAddIn"};
    Stop();
    m_cpOutlook.Attach(new Sim::COutlook(options));
    EXPECT_EQ(S_OK, m_cpOutlook->Start());
    return m_cpOutlook;
  }
  IDispatch* App() { return m_cpOutlook; }
  // Outlook ends by quitting: its connected add-ins hold it until they are disconnected.
  void Stop() {
    if (m_cpOutlook) m_cpOutlook->Quit();
    m_cpOutlook.Release();
  }

  std::wstring m_wsProfile;
  CComPtr<Sim::COutlook> m_cpOutlook;
};
