// Settings and policy as administrators and users set them with reg.exe, read by the module's
// accessors, and the policy service, branding DLL and satellites that tools/install-prefix.sh
// installed.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Installation.h"
#include "module/ActCtx.h"
#include "module/AddInModule.h"
#include "module/PolicyService.h"
#include "module/ResourceStrings.h"
#include "module/Settings.h"
#include "res/StringIds.h"

namespace {

constexpr wchar_t kUserKey[] = L"HKCU\\SOFTWARE\\Velmora\\Applications\\Tessaly";
constexpr wchar_t kPolicyKey[] =
    L"HKLM\\SOFTWARE\\Policies\\Velmora\\PolicyService\\Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}";

DWORD Reg(const std::wstring& wsArguments) { return RunProgram(L"reg.exe " + wsArguments); }

std::wstring Quoted(const wchar_t* wsz) { return L"\"" + std::wstring(wsz) + L"\""; }

BOOL CALLBACK AddBlock(HMODULE, LPCWSTR, LPWSTR wszName, LONG_PTR lParam) {
  if (IS_INTRESOURCE(wszName)) reinterpret_cast<std::set<UINT>*>(lParam)->insert(LOWORD(wszName));
  return TRUE;
}

// The ids of a module's non-empty strings.
std::set<UINT> StringIds(HMODULE hModule) {
  std::set<UINT> blocks;
  EnumResourceNamesW(hModule, RT_STRING, AddBlock, reinterpret_cast<LONG_PTR>(&blocks));
  std::set<UINT> ids;
  for (UINT nBlock : blocks) {
    for (UINT nID = (nBlock - 1) * 16; nID < nBlock * 16; ++nID) {
      std::wstring wsText;
      if (FindModuleString(hModule, nID, 0, wsText)) ids.insert(nID);
    }
  }
  return ids;
}

TEST(SettingsInPrefix, UserSettingsWrittenWithRegAreRead) {
  ASSERT_EQ(0u, Reg(L"add " + Quoted(kUserKey) + L" /v EmailSecurity /t REG_DWORD /d 5 /f"));
  ASSERT_EQ(0u, Reg(L"add " + Quoted(kUserKey) + L" /v SignerTitle /t REG_SZ /d \"Team lead\" /f"));
  EXPECT_EQ(5u, ReadUserSetting(kEmailSecurity));
  EXPECT_EQ(L"Team lead", ReadUserString(kSignerTitle));
  EXPECT_EQ(5u, ReadUserSetting(kDocumentBalloon));
  EXPECT_EQ(0u, Reg(L"delete " + Quoted(kUserKey) + L" /f"));
  EXPECT_EQ(0u, ReadUserSetting(kEmailSecurity));
}

TEST(SettingsInPrefix, BinDirIsReadFromThe32BitView) {
  const std::wstring wsKey = L"add HKLM\\SOFTWARE\\Velmora\\Applications /v BinDir /t REG_SZ /f ";
  ASSERT_EQ(0u, Reg(wsKey + L"/d \"C:\\Program Files (x86)\\Velmora\\Bin\" /reg:32"));
  ASSERT_EQ(0u, Reg(wsKey + L"/d \"C:\\Elsewhere\" /reg:64"));
  EXPECT_EQ(L"C:\\Program Files (x86)\\Velmora\\Bin", ReadBinDir());
  // The suite's folder as installed: later tests open its console.
  EXPECT_EQ(0u, Reg(wsKey + L"/d " + Quoted(InstallFolder().c_str()) + L" /reg:32"));
  Reg(L"delete HKLM\\SOFTWARE\\Velmora\\Applications /v BinDir /f /reg:64");
}

TEST(SettingsInPrefix, APolicySetForTheServiceReachesTheModule) {
  ASSERT_EQ(0u, Reg(L"add " + Quoted(kPolicyKey) + L" /v EncryptionPolicyMSO /t REG_DWORD /d 1 /f"));
  ASSERT_EQ(0u, Reg(L"add " + Quoted(kPolicyKey) + L" /v PublishingPolicy /t REG_DWORD /d 0 /f"));
  // Text is no number: the caller's default stays.
  ASSERT_EQ(0u, Reg(L"add " + Quoted(kPolicyKey) + L" /v EncryptionPolicyEmail /t REG_SZ /d 1 /f"));

  const CVmFPApiLoader loader;
  DWORD dwValue = 0;
  EXPECT_EQ(S_OK, loader.fGetPolicySetting(kEncryptionPolicyMSO, &dwValue));
  EXPECT_EQ(1u, dwValue);
  dwValue = 0;
  EXPECT_EQ(S_OK, loader.fGetPolicySetting(kEncryptionPolicyEmail, &dwValue));
  EXPECT_EQ(0u, dwValue);
  EXPECT_TRUE(IsPublishingAllowed(loader));

  EXPECT_EQ(0u, Reg(L"delete " + Quoted(kPolicyKey) + L" /f"));
  dwValue = 1;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), loader.fGetPolicySetting(kPublishingPolicy, &dwValue));
  EXPECT_EQ(1u, dwValue);
}

// The installed module as this process's module, as DllMain sets it up inside VmOfcX.dll.
class InstalledModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_hModule = LoadLibraryW(ModulePath().c_str());
    ASSERT_NE(nullptr, m_hModule);
    m_module.SetModuleInstance(m_hModule);
    m_hSatellite = LoadResourceModule(m_hModule, 0);
    m_module.SetResourceInstance(m_hSatellite);
  }
  void TearDown() override {
    if (m_hSatellite) FreeLibrary(m_hSatellite);
    FreeLibrary(m_hModule);
  }

  CAddInModule m_module{{}};
  HMODULE m_hModule = nullptr;
  HMODULE m_hSatellite = nullptr;
};

TEST_F(InstalledModuleTest, StringsComeInEnglishAndGermanWithTheProductName) {
  ASSERT_NE(nullptr, m_hSatellite) << "no satellite for the user's language";
  EXPECT_EQ(L"Tessaly", LoadResourceString(IDS_CAPTION));
  EXPECT_EQ(L"Secure Send", LoadResourceString(IDS_SECURE_SEND, 1033));
  EXPECT_EQ(L"Sicher senden", LoadResourceString(IDS_SECURE_SEND, 1031));
  // Austrian German has no satellite of its own, nor a neutral German one: English answers.
  EXPECT_EQ(L"Secure Send", LoadResourceString(IDS_SECURE_SEND, 3079));
}

TEST_F(InstalledModuleTest, BothSatellitesHoldTheSameStrings) {
  const std::wstring wsFolder = InstallFolder();
  std::set<UINT> ids[2];
  int i = 0;
  for (const wchar_t* wszLanguage : {L"\\en-US", L"\\de-DE"}) {
    const std::wstring wsPath = wsFolder + wszLanguage + L"\\VmOfcX.dll.mui";
    const HMODULE hSatellite = LoadLibraryExW(wsPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, hSatellite) << wsPath;
    ids[i++] = StringIds(hSatellite);
    FreeLibrary(hSatellite);
  }
  EXPECT_EQ(ids[0], ids[1]);
  for (UINT nID : {IDS_CAPTION, IDS_MSG_RESTART_OUTLOOK, IDS_MSG_POLICY_NO_DOCUMENT_ENCRYPTION, IDS_UNLOCK_PASSWORD})
    EXPECT_EQ(1u, ids[0].count(nID)) << nID;
}

TEST_F(InstalledModuleTest, TheActivationContextBindsCommonControls6) {
  // The module imports comctl32 (wizards, property sheets): its isolation manifest binds that
  // import to version 6 from the side-by-side store, and so does the context for later loads.
  wchar_t wszImported[MAX_PATH] = {};
  GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), wszImported, MAX_PATH);
  EXPECT_NE(std::wstring::npos, std::wstring(wszImported).find(L"common-controls_6595b64144ccf1df_6.0."))
      << wszImported;
  const CVmActCtx actCtx;
  ASSERT_TRUE(actCtx.IsActive());
  const HMODULE hControls = LoadLibraryW(L"comctl32.dll");
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(hControls, wszPath, MAX_PATH);
  FreeLibrary(hControls);
  EXPECT_NE(std::wstring::npos, std::wstring(wszPath).find(L"common-controls_6595b64144ccf1df_6.0.")) << wszPath;
}

}  // namespace
