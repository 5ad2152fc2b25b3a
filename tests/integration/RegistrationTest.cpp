#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "../support/RegistryTree.h"
#include "Installation.h"
#include "com/ComPtr.h"

namespace {

constexpr wchar_t kMachineClasses[] = L"Software\\Classes\\";
constexpr wchar_t kOffice[] = L"Software\\Microsoft\\Office\\";
constexpr wchar_t kSecurityLabels[] = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel";
constexpr wchar_t kPolicyKey[] =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel\\1.3.6.1.4.1.51877.1.2";
constexpr wchar_t kFormRegionsIpmNote[] = L"Software\\Microsoft\\Office\\Outlook\\FormRegions\\IPM.Note";
constexpr wchar_t kLauncherAppId[] = L"Software\\Classes\\AppID\\{BF9EEB7C-184E-477A-9F56-45D3E2B60755}";

struct CAddIn {
  const wchar_t* wszApplication;
  const wchar_t* wszClass;
  const wchar_t* wszFriendlyName;
};

const CAddIn kAddIns[] = {
    {L"Outlook", L"ComposeRibbon", L"Tessaly Add-in"},
    {L"Outlook", L"FormRegionAddIn", L"Tessaly Form Region Add-in"},
    {L"Excel", L"DocumentRibbon", L"Tessaly Add-in"},
    {L"Word", L"DocumentRibbon", L"Tessaly Add-in"},
    {L"PowerPoint", L"DocumentRibbon", L"Tessaly Add-in"},
    {L"Excel", L"EncryptionProvider", L"Tessaly Encryption Provider"},
    {L"Word", L"EncryptionProvider", L"Tessaly Encryption Provider"},
    {L"PowerPoint", L"EncryptionProvider", L"Tessaly Encryption Provider"},
    {L"Excel", L"SignatureProvider", L"Tessaly Signature Provider"},
    {L"Word", L"SignatureProvider", L"Tessaly Signature Provider"},
    {L"PowerPoint", L"SignatureProvider", L"Tessaly Signature Provider"},
};

// Method names in dispatch id order, from 1.
struct CInterface {
  const wchar_t* wszIid;
  std::vector<const wchar_t*> methods;
};

const CInterface kInterfaces[] = {
    {L"{DEC7595A-102B-4B0C-8658-83A33B534811}",
     {L"Ribbon_OnLoadExplorer", L"Ribbon_OnLoadCompose", L"Ribbon_OnLoadImage", L"Ribbon_OnButtonClicked",
      L"Ribbon_GetGroupLabel", L"Ribbon_GetButtonLabel", L"Ribbon_GetMenuItemLabel", L"Ribbon_GetMenuItemTip",
      L"Ribbon_OnMenuItemClicked", L"Ribbon_GetMenuItemVisible", L"SendTrustedContactInvitation"}},
    {L"{556DC957-472A-43A9-B1F2-94E7C61F2382}",
     {L"Ribbon_OnLoad", L"Ribbon_OnLoadImage", L"Ribbon_OnButtonClicked", L"Ribbon_GetGroupLabel",
      L"Ribbon_GetButtonLabel", L"Ribbon_GetMenuItemLabel", L"Ribbon_GetMenuItemTip", L"Ribbon_OnMenuItemClicked",
      L"Ribbon_GetMenuItemVisible", L"Ribbon_GetMenuItemImage"}},
    {L"{6B68F3C0-F56A-49C5-8E66-A56C84F856BC}", {L"CreateInvitation"}},
};

// Keys shared with other programs: unregistration leaves them.
const wchar_t* const kSharedKeys[] = {
    L"Software\\Classes\\CLSID",
    L"Software\\Classes\\AppID",
    L"Software\\Microsoft\\Office\\Outlook\\Addins",
    L"Software\\Microsoft\\Office\\Excel\\Addins",
    L"Software\\Microsoft\\Office\\Word\\Addins",
    L"Software\\Microsoft\\Office\\PowerPoint\\Addins",
    kFormRegionsIpmNote,
    kSecurityLabels,
};

std::wstring Sz(const std::wstring& wsText) { return L"sz:" + wsText; }
std::wstring ProgId(const CClassInfo& info) { return std::wstring(L"VmOfcX.") + info.wszName; }
std::wstring AddInKey(const CAddIn& addIn) {
  return std::wstring(kOffice) + addIn.wszApplication + L"\\Addins\\VmOfcX." + addIn.wszClass;
}
std::wstring ClassKey(const CClassInfo& info) { return std::wstring(kMachineClasses) + L"CLSID\\" + info.wszClsid; }
std::wstring TypeLibKey() { return std::wstring(kMachineClasses) + L"TypeLib\\" + kLibId; }
std::wstring InterfaceKey(const CInterface& itf) { return std::wstring(kMachineClasses) + L"Interface\\" + itf.wszIid; }
CRegistryTree Machine(const std::wstring& wsPath) { return ReadRegistryTree(HKEY_LOCAL_MACHINE, wsPath); }

void ExpectClassRegistered(const CClassInfo& info) {
  SCOPED_TRACE(info.wszName);
  const std::wstring wsDescription = Sz(std::wstring(info.wszName) + L" Class");
  const std::wstring wsClsid = Sz(info.wszClsid);
  const CRegistryTree versioned = {{L"", L""}, {L"|", wsDescription}, {L"CLSID", L""}, {L"CLSID|", wsClsid}};
  EXPECT_EQ(versioned, Machine(kMachineClasses + ProgId(info) + L".1"));
  CRegistryTree independent = versioned;
  independent[L"CurVer"] = L"";
  independent[L"CurVer|"] = Sz(ProgId(info) + L".1");
  EXPECT_EQ(independent, Machine(kMachineClasses + ProgId(info)));

  CRegistryTree classKey = {
      {L"", L""},
      {L"|", wsDescription},
      {L"ProgID", L""},
      {L"ProgID|", Sz(ProgId(info) + L".1")},
      {L"VersionIndependentProgID", L""},
      {L"VersionIndependentProgID|", Sz(ProgId(info))},
      {L"Programmable", L""},
      {L"InprocServer32", L""},
      {L"InprocServer32|", Sz(ModulePath())},
      {L"InprocServer32|ThreadingModel", Sz(info.wszThreadingModel)},
      {L"TypeLib", L""},
      {L"TypeLib|", Sz(kLibId)},
  };
  if (std::wstring(info.wszName) == L"Launcher") classKey[L"|AppID"] = wsClsid;
  EXPECT_EQ(classKey, Machine(ClassKey(info)));
}

void ExpectTypeLibraryRegistered() {
  const CRegistryTree typeLibKey = Machine(TypeLibKey());
  EXPECT_EQ(Sz(L"VmOfcX 1.0 Type Library"), typeLibKey.contains(L"1.0|") ? typeLibKey.at(L"1.0|") : L"missing");
  EXPECT_EQ(Sz(ModulePath()), typeLibKey.contains(L"1.0\\0\\win64|") ? typeLibKey.at(L"1.0\\0\\win64|") : L"missing");

  CComPtr<ITypeLib> cpTypeLib;
  ASSERT_EQ(S_OK, LoadRegTypeLib(ToGuid(kLibId), 1, 0, LOCALE_NEUTRAL, &cpTypeLib));
  for (const CInterface& itf : kInterfaces) {
    SCOPED_TRACE(itf.wszIid);
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, InterfaceKey(itf)));
    CComPtr<ITypeInfo> cpTypeInfo;
    ASSERT_EQ(S_OK, cpTypeLib->GetTypeInfoOfGuid(ToGuid(itf.wszIid), &cpTypeInfo));
    for (size_t i = 0; i < itf.methods.size(); ++i) {
      LPOLESTR wszName = const_cast<LPOLESTR>(itf.methods[i]);
      MEMBERID memid = MEMBERID_NIL;
      EXPECT_EQ(S_OK, cpTypeInfo->GetIDsOfNames(&wszName, 1, &memid)) << itf.methods[i];
      EXPECT_EQ(static_cast<MEMBERID>(i + 1), memid) << itf.methods[i];
    }
  }
}

void ExpectRegistered() {
  for (const CClassInfo& info : kModuleClasses) ExpectClassRegistered(info);
  EXPECT_EQ((CRegistryTree{{L"", L""},
                           {L"|", Sz(L"Launcher Class")},
                           {L"|DllSurrogate", Sz(L"")},
                           {L"|RunAs", Sz(L"Interactive User")}}),
            Machine(kLauncherAppId));
  for (const CAddIn& addIn : kAddIns) {
    EXPECT_EQ(
        (CRegistryTree{{L"", L""}, {L"|FriendlyName", Sz(addIn.wszFriendlyName)}, {L"|LoadBehavior", L"dword:3"}}),
        Machine(AddInKey(addIn)))
        << addIn.wszApplication << " " << addIn.wszClass;
  }
  const CRegistryTree ipmNote = Machine(kFormRegionsIpmNote);
  EXPECT_EQ(Sz(L"=VmOfcX.FormRegionAddIn"), ipmNote.contains(L"|VmOfcX") ? ipmNote.at(L"|VmOfcX") : L"missing");
  EXPECT_EQ((CRegistryTree{{L"", L""},
                           {L"|CommonName", Sz(L"Tessaly Security Policy")},
                           {L"|DllPath", Sz(ModulePath())},
                           {L"|FuncName", Sz(L"GetSMimePolicy")},
                           {L"|OtherInfo", L"dword:0"}}),
            Machine(kPolicyKey));
  ExpectTypeLibraryRegistered();
}

void ExpectUnregistered() {
  for (const CClassInfo& info : kModuleClasses) {
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + ProgId(info) + L".1")) << info.wszName;
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kMachineClasses + ProgId(info))) << info.wszName;
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, ClassKey(info))) << info.wszName;
  }
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kLauncherAppId));
  for (const CAddIn& addIn : kAddIns) EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, AddInKey(addIn)));
  EXPECT_FALSE(Machine(kFormRegionsIpmNote).contains(L"|VmOfcX"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kPolicyKey));
  for (const wchar_t* wszShared : kSharedKeys)
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, wszShared)) << wszShared;

  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, TypeLibKey() + L"\\1.0"));
  for (const CInterface& itf : kInterfaces) EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, InterfaceKey(itf)));
  CComPtr<ITypeLib> cpTypeLib;
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(ToGuid(kLibId), 1, 0, LOCALE_NEUTRAL, &cpTypeLib));
}

std::string ReadFileBytes(const std::wstring& wsPath) {
  std::ifstream file(std::filesystem::path(wsPath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string Utf16Bytes(const std::wstring& wsText) {
  return std::string(reinterpret_cast<const char*>(wsText.data()), wsText.size() * sizeof(wchar_t));
}

// Every test leaves the prefix registered, as the other tests expect it.
class RegistrationTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(0u, RunRegsvr32(L"/s")); }
  static std::wstring CleanupListPath() { return InstallFolder() + L"\\Cleanup.txt"; }
};

TEST_F(RegistrationTest, Regsvr32WritesExactlyTheRegistrationEntries) {
  ASSERT_EQ(0u, RunRegsvr32(L"/u /s"));
  ASSERT_EQ(0u, RunRegsvr32(L"/s"));
  ExpectRegistered();
  // Registering over an existing registration changes nothing.
  ASSERT_EQ(0u, RunRegsvr32(L"/s"));
  ExpectRegistered();
}

TEST_F(RegistrationTest, UnregistrationRemovesTheEntriesAndListsThePerUserSettings) {
  std::string sExpected = ReadFileBytes(CleanupListPath());
  if (sExpected.empty()) sExpected = "\xFF\xFE";
  sExpected += Utf16Bytes(
      L"HKU\tSOFTWARE\\Velmora\\Applications\\Tessaly\t1\tDocumentBalloon\r\n"
      L"HKU\tSOFTWARE\\Velmora\\Applications\\Tessaly\t1\tEmailBalloon\r\n"
      L"HKU\tSOFTWARE\\Velmora\\Applications\\Tessaly\t1\tDocumentSecurity\r\n"
      L"HKU\tSOFTWARE\\Velmora\\Applications\\Tessaly\t1\tEmailSecurity\r\n"
      L"HKU\tSOFTWARE\\Velmora\\Applications\\Tessaly\t1\tSignerTitle\r\n"
      L"HKU\tSOFTWARE\\Velmora\\Applications\\Tessaly\t1\tLastVisitedTab\r\n"
      L"HKU\tSOFTWARE\\Velmora\\Applications\\Tessaly\t4\r\n"
      L"HKU\tSOFTWARE\\Velmora\\Applications\t4\r\n");
  ASSERT_EQ(0u, RunRegsvr32(L"/u /s"));
  ExpectUnregistered();
  EXPECT_EQ(sExpected, ReadFileBytes(CleanupListPath()));
}

TEST_F(RegistrationTest, UnregistrationSucceedsWithTheCleanupListHeldOpenAndWhenRepeated) {
  const std::string sBefore = ReadFileBytes(CleanupListPath());
  HANDLE hFile = CreateFileW(CleanupListPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
  const DWORD dwExitCode = RunRegsvr32(L"/u /s");
  const DWORD dwRepeatedExitCode = RunRegsvr32(L"/u /s");
  CloseHandle(hFile);
  EXPECT_EQ(0u, dwExitCode);
  EXPECT_EQ(0u, dwRepeatedExitCode);
  ExpectUnregistered();
  EXPECT_EQ(sBefore, ReadFileBytes(CleanupListPath()));
}

TEST_F(RegistrationTest, DllInstallRegistersMachineWideWhateverItsCommandLine) {
  HMODULE hModule = LoadLibraryW(ModulePath().c_str());
  ASSERT_NE(nullptr, hModule);
  const auto pfnDllInstall = GetExport<HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR)>(hModule, "DllInstall");
  ASSERT_NE(nullptr, pfnDllInstall);
  const CRegistryTree userClasses = ReadRegistryTree(HKEY_CURRENT_USER, L"Software\\Classes");
  for (const wchar_t* wszCommandLine : {L"user", static_cast<const wchar_t*>(nullptr)}) {
    SCOPED_TRACE(wszCommandLine ? "command line \"user\"" : "no command line");
    EXPECT_EQ(S_OK, pfnDllInstall(FALSE, wszCommandLine));
    ExpectUnregistered();
    EXPECT_EQ(S_OK, pfnDllInstall(TRUE, wszCommandLine));
    ExpectRegistered();
    EXPECT_EQ(userClasses, ReadRegistryTree(HKEY_CURRENT_USER, L"Software\\Classes"));
  }
  FreeLibrary(hModule);
}

}  // namespace
