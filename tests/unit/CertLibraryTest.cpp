#include "module/CertLibrary.h"

#include <gtest/gtest.h>

#include <string>

#include "module/CleanupList.h"

namespace {

std::wstring SuiteFolder() {
  wchar_t wszPath[MAX_PATH] = {};
  DWORD cchPath = MAX_PATH;
  return ReadInstallPath(wszPath, &cchPath, KEY_WOW64_64KEY) == ERROR_SUCCESS ? wszPath : L"";
}

std::wstring TempFolder(const wchar_t* wszName) {
  wchar_t wszTemp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, wszTemp);
  const std::wstring wsFolder = std::wstring(wszTemp) + wszName;
  CreateDirectoryW(wsFolder.c_str(), nullptr);
  return wsFolder;
}

TEST(CertLibrary, MissingLibraryFailsEveryCallWithoutOpeningAnything) {
  const CCertLibrary certLib(TempFolder(L"NoSuite").c_str());
  const HRESULT hrMissing = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(hrMissing, certLib.CM_EnumMyCerts(0, nullptr, nullptr));
  EXPECT_EQ(hrMissing, certLib.CM_ClosePersonalStore());
  EXPECT_EQ(hrMissing, certLib.StringSidFromUserName(L"VM\\root", nullptr));
  EXPECT_EQ(0, certLib.GC_IsVmMyCertificate(nullptr));
  EXPECT_FALSE(certLib.GC_IsVmBuddyCertificate(nullptr));
  DWORD dwStatus = 0;
  EXPECT_FALSE(certLib.GC_IsCertificateValid(nullptr, &dwStatus));
  EXPECT_EQ(VM_CERT_STATUS_INVALID, dwStatus);

  CLibraryString wsUrl(certLib);
  EXPECT_EQ(hrMissing, certLib.GC_GetSoftwareURL(wsUrl.Out()));
  EXPECT_EQ(nullptr, wsUrl.Get());
  const CBuddyStoreScope buddyStore(certLib);
  EXPECT_EQ(hrMissing, buddyStore.Result());
  EXPECT_EQ(nullptr, buddyStore.Store());
}

TEST(CertLibrary, LibraryWithoutTheEntryPointFailsThatCall) {
  const std::wstring wsSuite = SuiteFolder();
  ASSERT_FALSE(wsSuite.empty()) << "the suite is not installed in this prefix";
  // A library of the suite under the other's name: it loads, but has none of its entry points.
  const std::wstring wsFolder = TempFolder(L"WrongSuite");
  ASSERT_TRUE(CopyFileW((wsSuite + L"\\VmStoreMan.dll").c_str(), (wsFolder + L"\\VmCertWorks.dll").c_str(), FALSE));
  {
    const CCertLibrary certLib(wsFolder.c_str());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), certLib.CM_OpenPersonalStore(nullptr));
  }
  DeleteFileW((wsFolder + L"\\VmCertWorks.dll").c_str());
}

TEST(CertLibrary, ScopesCloseWhatTheyOpenedAndMemoryGoesBackToTheLibrary) {
  ASSERT_FALSE(SuiteFolder().empty()) << "the suite is not installed in this prefix";
  const CCertLibrary certLib;
  {
    const CPersonalStoreScope personalStore(certLib);
    ASSERT_EQ(S_OK, personalStore.Result());
    EXPECT_NE(nullptr, personalStore.Store());
  }
  // The scope's close was the only one the library expected.
  EXPECT_EQ(E_UNEXPECTED, certLib.CM_ClosePersonalStore());

  CLibraryString wsBody(certLib);
  CLibraryString wsSubject(certLib);
  ASSERT_EQ(S_OK, certLib.BM_GetTextBuddyRequest(L"00000407", wsBody.Out(), wsSubject.Out()));
  EXPECT_NE(nullptr, wcsstr(wsSubject.Get(), L"Einladung"));
  ASSERT_EQ(S_OK, certLib.BM_GetTextBuddyRequest(nullptr, wsBody.Out(), wsSubject.Out()));
  EXPECT_NE(nullptr, wcsstr(wsSubject.Get(), L"Invitation"));

  ISecretManager* pManager = nullptr;
  ASSERT_EQ(S_OK, certLib.CreateSecretManager(&pManager));
  LPWSTR wszSid = nullptr;
  EXPECT_EQ(S_OK, pManager->GetCurrentUserSid(&wszSid));
  EXPECT_EQ(0, wcsncmp(wszSid, L"S-1-5-", 6));
  LocalFree(wszSid);
  pManager->Release();
}

}  // namespace
