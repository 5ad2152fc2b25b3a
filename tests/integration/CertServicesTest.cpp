// The suite's certificate library, secret store and key provider as installed in the test prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>
#define SECURITY_WIN32
#include <secext.h>
#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Installation.h"
#include "suite/VmCertServices.h"
#include "../support/FileBytes.h"

namespace {

constexpr wchar_t kUserStoreKeys[] = L"Software\\Microsoft\\SystemCertificates";

struct CLibrary {
  explicit CLibrary(const wchar_t* wszName) : hModule(LoadLibraryW((InstallFolder() + L"\\" + wszName).c_str())) {}
  ~CLibrary() {
    if (hModule) FreeLibrary(hModule);
  }
  HMODULE hModule;
};

#define ENTRY(lib, name) GetExport<decltype(&::name)>((lib).hModule, #name)

// The fixture empties the user's stores through the registry: the platform's registry-backed
// stores may not persist a deletion made through the store.
void ForgetCertificates() {
  for (const wchar_t* wszStore : {L"MY", L"VelmoraBuddies", L"AddressBook"})
    RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kUserStoreKeys) + L"\\" + wszStore + L"\\Certificates").c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velmora\\CertWorks");
}

std::wstring TestExeFolder() {
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
  std::wstring wsPath = wszPath;
  return wsPath.substr(0, wsPath.find_last_of(L'\\'));
}

// Runs the test PKI tool of this build and returns its exit code.
DWORD RunPki(const std::wstring& wsArguments) {
  std::wstring wsCommand = L"\"" + TestExeFolder() + L"\\..\\tools\\vmpki.exe\" " + wsArguments;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, wsCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return GetLastError();
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD dwExit = 0;
  GetExitCodeProcess(pi.hProcess, &dwExit);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return dwExit;
}

std::wstring CurrentUserSid(const CLibrary& storeMan) {
  wchar_t wszUser[256] = {};
  ULONG cchUser = ARRAYSIZE(wszUser);
  if (!GetUserNameExW(NameSamCompatible, wszUser, &cchUser)) return std::wstring();
  LPWSTR wszSid = nullptr;
  if (FAILED(ENTRY(storeMan, StringSidFromUserName)(wszUser, &wszSid))) return std::wstring();
  std::wstring wsSid = wszSid;
  LocalFree(wszSid);
  return wsSid;
}

// Answers the first dialog box of this process from a helper thread, as the user would: fills in
// the given edit controls and presses a button.
class CDialogAnswer {
 public:
  CDialogAnswer(std::vector<std::pair<int, std::wstring>> fields, int iButton)
      : m_fields(std::move(fields)), m_iButton(iButton), m_thread([this] { Run(); }) {}
  ~CDialogAnswer() {
    m_bStop = true;
    m_thread.join();
  }
  bool Answered() const { return m_bAnswered; }

 private:
  static BOOL CALLBACK FindBox(HWND hwnd, LPARAM lParam) {
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hwnd, &dwPid);
    wchar_t wszClass[16] = {};
    GetClassNameW(hwnd, wszClass, ARRAYSIZE(wszClass));
    if (dwPid != GetCurrentProcessId() || wcscmp(wszClass, L"#32770") != 0 || !IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hwnd;
    return FALSE;
  }
  void Run() {
    while (!m_bStop) {
      HWND hwndBox = nullptr;
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&hwndBox));
      if (hwndBox) {
        for (const auto& [iItem, wsText] : m_fields) SetDlgItemTextW(hwndBox, iItem, wsText.c_str());
        SendMessageW(GetDlgItem(hwndBox, m_iButton), BM_CLICK, 0, 0);
        m_bAnswered = true;
        return;
      }
      Sleep(50);
    }
  }

  std::vector<std::pair<int, std::wstring>> m_fields;
  int m_iButton;
  std::atomic<bool> m_bStop{false};
  std::atomic<bool> m_bAnswered{false};
  std::thread m_thread;
};

class CertServices : public testing::Test {
 protected:
  void SetUp() override {
    ForgetCertificates();
    ASSERT_NE(nullptr, m_certWorks.hModule);
    ASSERT_NE(nullptr, m_storeMan.hModule);
  }
  void TearDown() override { ForgetCertificates(); }

  // The user's own certificates as the library lists them (each freed by the caller).
  std::vector<PCCERT_CONTEXT> OwnCertificates() {
    PCCERT_CONTEXT* ppCerts = nullptr;
    DWORD dwCount = 0;
    EXPECT_EQ(S_OK, ENTRY(m_certWorks, CM_EnumMyCerts)(0, &ppCerts, &dwCount));
    std::vector<PCCERT_CONTEXT> certs(ppCerts, ppCerts + dwCount);
    ENTRY(m_certWorks, GC_Deallocate)(ppCerts);
    return certs;
  }

  DWORD CountOwn() {
    DWORD dwCount = 0;
    EXPECT_EQ(S_OK, ENTRY(m_certWorks, CM_EnumMyCerts)(0, nullptr, &dwCount));
    return dwCount;
  }

  std::wstring Email(PCCERT_CONTEXT pCert) {
    LPWSTR wszEmail = nullptr;
    if (FAILED(ENTRY(m_certWorks, GC_GetEmail)(pCert, &wszEmail))) return std::wstring();
    std::wstring wsEmail = wszEmail;
    ENTRY(m_certWorks, GC_Deallocate)(wszEmail);
    return wsEmail;
  }

  PCCERT_CONTEXT IssueContact(const wchar_t* wszEmail, const wchar_t* wszName) {
    const std::wstring wsFile = TestExeFolder() + L"\\contact.cer";
    if (RunPki(std::wstring(L"contact ") + wszEmail + L" \"" + wszName + L"\" \"" + wsFile + L"\"") != 0)
      return nullptr;
    const std::vector<BYTE> der = ReadFileBytes(wsFile);
    return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  }

  CLibrary m_certWorks{L"VmCertWorks.dll"};
  CLibrary m_storeMan{L"VmStoreMan.dll"};
};

TEST_F(CertServices, ObtainedCertificateHasItsKeyInTheSuiteProviderAndTheUserHoldsIt) {
  HCERTSTORE hOpenBefore = nullptr;
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_OpenPersonalStore)(&hOpenBefore));
  EXPECT_EQ(0u, CountOwn());

  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_ObtainCert)(nullptr, L"alice@example.org", L"Alice Example", 0));

  // Seen through the handle that was open during the enrolment, and by a new handle of "MY".
  PCCERT_CONTEXT pSeen = CertFindCertificateInStore(hOpenBefore, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR,
                                                    L"alice@example.org", nullptr);
  EXPECT_NE(nullptr, pSeen);
  CertFreeCertificateContext(pSeen);
  EXPECT_EQ(S_OK, ENTRY(m_certWorks, CM_ClosePersonalStore)());
  HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  PCCERT_CONTEXT pCert =
      CertFindCertificateInStore(hMy, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR, L"alice@example.org", nullptr);
  ASSERT_NE(nullptr, pCert);
  EXPECT_EQ(1, ENTRY(m_certWorks, GC_IsVmMyCertificate)(pCert));
  DWORD dwStatus = 0xFF;
  EXPECT_TRUE(ENTRY(m_certWorks, GC_IsCertificateValid)(pCert, &dwStatus));
  EXPECT_EQ(0u, dwStatus);
  EXPECT_EQ(L"alice@example.org", Email(pCert));

  HCRYPTPROV hProv = 0;
  DWORD dwKeySpec = 0;
  BOOL bRelease = FALSE;
  ASSERT_TRUE(
      CryptAcquireCertificatePrivateKey(pCert, CRYPT_ACQUIRE_NO_HEALING, nullptr, &hProv, &dwKeySpec, &bRelease));
  char szProvider[128] = {};
  DWORD cbProvider = sizeof(szProvider);
  ASSERT_TRUE(CryptGetProvParam(hProv, PP_NAME, reinterpret_cast<BYTE*>(szProvider), &cbProvider, 0));
  EXPECT_STREQ("Velmora RSA Solvane CSP", szProvider);

  char szKeyName[261] = {};
  DWORD cbKeyName = sizeof(szKeyName);
  EXPECT_FALSE(CryptGetProvParam(hProv, VM_PP_KEY_NAME, reinterpret_cast<BYTE*>(szKeyName), &cbKeyName, 0));
  EXPECT_EQ(static_cast<DWORD>(NTE_BAD_FLAGS), GetLastError());
  cbKeyName = sizeof(szKeyName);
  ASSERT_TRUE(CryptGetProvParam(hProv, VM_PP_KEY_NAME, reinterpret_cast<BYTE*>(szKeyName), &cbKeyName, VM_PP_ACCESS));
  EXPECT_EQ(strlen(szKeyName) + 1, cbKeyName);

  DWORD dwClass = 0;
  DWORD cbClass = sizeof(dwClass);
  EXPECT_TRUE(CryptGetProvParam(hProv, VM_PP_KEY_CLASS, reinterpret_cast<BYTE*>(&dwClass), &cbClass, VM_PP_ACCESS));
  const DWORD dwUnlock = 60000;
  EXPECT_TRUE(CryptSetProvParam(hProv, VM_PP_UNLOCK_PERIOD, reinterpret_cast<const BYTE*>(&dwUnlock), VM_PP_ACCESS));
  DWORD dwRead = 0;
  DWORD cbRead = sizeof(dwRead);
  EXPECT_TRUE(CryptGetProvParam(hProv, VM_PP_UNLOCK_PERIOD, reinterpret_cast<BYTE*>(&dwRead), &cbRead, VM_PP_ACCESS));
  EXPECT_EQ(dwUnlock, dwRead);
  if (bRelease) CryptReleaseContext(hProv, 0);

  wchar_t wszKeyName[261] = {};
  MultiByteToWideChar(CP_UTF8, 0, szKeyName, -1, wszKeyName, ARRAYSIZE(wszKeyName));
  ISecretManager* pManager = nullptr;
  ASSERT_EQ(S_OK, ENTRY(m_storeMan, CreateSecretManager)(&pManager));
  const std::wstring wsSid = CurrentUserSid(m_storeMan);
  ASSERT_FALSE(wsSid.empty());
  EXPECT_TRUE(pManager->HoldsSecret(wsSid.c_str(), wszKeyName));
  EXPECT_FALSE(pManager->HoldsSecret(wsSid.c_str(), L"solvane:{00000000-0000-0000-0000-000000000000}"));
  EXPECT_FALSE(pManager->HoldsSecret(L"S-1-5-21-0-0-0-500", wszKeyName));
  pManager->Release();

  CertFreeCertificateContext(pCert);
  CertCloseStore(hMy, 0);
}

// The provider's record of its private parameters: every call, refused ones too, in order, with
// the caller's process and the container.
TEST_F(CertServices, PrivateParameterCallsAreLoggedInOrder) {
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_ObtainCert)(nullptr, L"logan@example.org", L"Logan Example", 0));
  HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  PCCERT_CONTEXT pCert =
      CertFindCertificateInStore(hMy, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR, L"logan@example.org", nullptr);
  ASSERT_NE(nullptr, pCert);
  HCRYPTPROV hProv = 0;
  DWORD dwKeySpec = 0;
  BOOL bRelease = FALSE;
  ASSERT_TRUE(
      CryptAcquireCertificatePrivateKey(pCert, CRYPT_ACQUIRE_NO_HEALING, nullptr, &hProv, &dwKeySpec, &bRelease));
  char szContainer[MAX_PATH] = {};
  DWORD cbContainer = sizeof(szContainer);
  ASSERT_TRUE(CryptGetProvParam(hProv, PP_CONTAINER, reinterpret_cast<BYTE*>(szContainer), &cbContainer, 0));

  wchar_t wszAppData[MAX_PATH] = {};
  ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, wszAppData));
  const std::wstring wsLog = std::wstring(wszAppData) + L"\\Velmora\\Solvane\\Parameters.log";
  const size_t cbBefore = ReadFileBytes(wsLog).size();
  DWORD dwValue = 0;
  DWORD cbValue = sizeof(dwValue);
  EXPECT_FALSE(CryptGetProvParam(hProv, VM_PP_KEY_CLASS, reinterpret_cast<BYTE*>(&dwValue), &cbValue, 0));
  for (const LONG lPeriod : {60000L, -1L})
    EXPECT_TRUE(CryptSetProvParam(hProv, VM_PP_UNLOCK_PERIOD, reinterpret_cast<const BYTE*>(&lPeriod), VM_PP_ACCESS));
  EXPECT_TRUE(CryptGetProvParam(hProv, VM_PP_KEY_CLASS, reinterpret_cast<BYTE*>(&dwValue), &cbValue, VM_PP_ACCESS));
  if (bRelease) CryptReleaseContext(hProv, 0);
  CertFreeCertificateContext(pCert);
  CertCloseStore(hMy, 0);

  // Each line: time, process, operation, parameter, value, result, container.
  const std::vector<BYTE> bytes = ReadFileBytes(wsLog);
  ASSERT_GT(bytes.size(), cbBefore);
  std::string sNew(bytes.begin() + static_cast<ptrdiff_t>(cbBefore), bytes.end());
  std::vector<std::string> calls;
  for (size_t nEnd; (nEnd = sNew.find("\r\n")) != std::string::npos; sNew.erase(0, nEnd + 2)) {
    const std::string sLine = sNew.substr(0, nEnd);
    EXPECT_EQ('Z', sLine[23]) << sLine;
    calls.push_back(sLine.substr(25));
  }
  const std::string sPid = std::to_string(GetCurrentProcessId()) + " ";
  const std::string sContainer = std::string(" ") + szContainer;
  EXPECT_EQ((std::vector<std::string>{
                sPid + "get 4996 - 0x80090009" + sContainer, sPid + "set 4995 60000 0x00000000" + sContainer,
                sPid + "set 4995 -1 0x00000000" + sContainer, sPid + "get 4996 1 0x00000000" + sContainer}),
            calls);
}

TEST_F(CertServices, ContactIsInstalledOnceAndIsNoOwnCertificate) {
  PCCERT_CONTEXT pContact = IssueContact(L"carol@example.org", L"Carol Contact");
  ASSERT_NE(nullptr, pContact);
  EXPECT_TRUE(ENTRY(m_certWorks, GC_IsVmBuddyCertificate)(pContact));
  EXPECT_EQ(0, ENTRY(m_certWorks, GC_IsVmMyCertificate)(pContact));

  ASSERT_EQ(S_OK, ENTRY(m_certWorks, BM_OpenBuddyStore)(nullptr));
  EXPECT_EQ(S_OK, ENTRY(m_certWorks, BM_InstallBuddy)(pContact, 0));
  EXPECT_EQ(CRYPT_E_EXISTS, ENTRY(m_certWorks, BM_InstallBuddy)(pContact, 0));
  PCCERT_CONTEXT* ppBuddies = nullptr;
  DWORD dwCount = 0;
  EXPECT_EQ(S_OK, ENTRY(m_certWorks, BM_EnumBuddies)(&ppBuddies, &dwCount));
  ASSERT_EQ(1u, dwCount);
  EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, ppBuddies[0]->pCertInfo, pContact->pCertInfo));
  CertFreeCertificateContext(ppBuddies[0]);
  ENTRY(m_certWorks, GC_Deallocate)(ppBuddies);
  EXPECT_EQ(S_OK, ENTRY(m_certWorks, BM_CloseBuddyStore)());
  EXPECT_EQ(E_UNEXPECTED, ENTRY(m_certWorks, BM_CloseBuddyStore)());

  // Still there for the next process.
  EXPECT_EQ(CRYPT_E_EXISTS, ENTRY(m_certWorks, BM_InstallBuddy)(pContact, 0));
  CertFreeCertificateContext(pContact);
}

TEST_F(CertServices, PublishedContactIsFoundByDistinguishedName) {
  PCCERT_CONTEXT pContact = IssueContact(L"dave@example.org", L"Dave Published");
  ASSERT_NE(nullptr, pContact);
  HCERTSTORE hPublished = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"AddressBook");
  ASSERT_TRUE(CertAddCertificateContextToStore(hPublished, pContact, CERT_STORE_ADD_NEW, nullptr));
  CertCloseStore(hPublished, 0);
  wchar_t wszDn[256] = {};
  CertNameToStrW(X509_ASN_ENCODING, &pContact->pCertInfo->Subject, CERT_X500_NAME_STR, wszDn, ARRAYSIZE(wszDn));

  EXPECT_EQ(CRYPT_E_NOT_FOUND,
            ENTRY(m_certWorks, BM_InstallPublishedBuddies)(L"CN=Nobody, E=nobody@example.org", VM_ENTRY_X500_DN));
  EXPECT_EQ(S_OK, ENTRY(m_certWorks, BM_InstallPublishedBuddies)(wszDn, VM_ENTRY_X500_DN));
  EXPECT_EQ(CRYPT_E_EXISTS, ENTRY(m_certWorks, BM_InstallBuddy)(pContact, 0));
  CertFreeCertificateContext(pContact);
}

TEST_F(CertServices, ExpiredCertificateAsksForRenewalAndIsRenewed) {
  ASSERT_EQ(0u, RunPki(L"user erin@example.org \"Erin Expired\" --expired"));
  std::vector<PCCERT_CONTEXT> certs = OwnCertificates();
  ASSERT_EQ(1u, certs.size());
  DWORD dwStatus = 0;
  EXPECT_FALSE(ENTRY(m_certWorks, GC_IsCertificateValid)(certs[0], &dwStatus));
  EXPECT_EQ(VM_CERT_STATUS_RENEW, dwStatus);

  EXPECT_EQ(S_OK, ENTRY(m_certWorks, CM_RenewCertificate)(nullptr, certs[0]));
  PCCERT_CONTEXT pCurrent = nullptr;
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_GetMyCert)(&pCurrent));
  EXPECT_TRUE(ENTRY(m_certWorks, GC_IsCertificateValid)(pCurrent, nullptr));
  EXPECT_EQ(L"erin@example.org", Email(pCurrent));
  EXPECT_FALSE(CertCompareCertificate(X509_ASN_ENCODING, pCurrent->pCertInfo, certs[0]->pCertInfo));
  CertFreeCertificateContext(pCurrent);
  for (PCCERT_CONTEXT pCert : certs) CertFreeCertificateContext(pCert);
  EXPECT_EQ(2u, CountOwn());
}

TEST_F(CertServices, CertificateOfAnotherAuthorityIsNotValid) {
  wchar_t wszSubject[] = L"CN=Mallory, E=mallory@example.org";
  BYTE rgbName[256] = {};
  DWORD cbName = sizeof(rgbName);
  ASSERT_TRUE(CertStrToNameW(X509_ASN_ENCODING, wszSubject, CERT_X500_NAME_STR, nullptr, rgbName, &cbName, nullptr));
  CERT_NAME_BLOB name = {cbName, rgbName};
  PCCERT_CONTEXT pForeign = CertCreateSelfSignCertificate(0, &name, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, pForeign);
  DWORD dwStatus = 0;
  EXPECT_FALSE(ENTRY(m_certWorks, GC_IsCertificateValid)(pForeign, &dwStatus));
  EXPECT_EQ(VM_CERT_STATUS_INVALID, dwStatus);
  EXPECT_FALSE(ENTRY(m_certWorks, GC_IsVmBuddyCertificate)(pForeign));
  EXPECT_EQ(CERT_E_ISSUERCHAINING, ENTRY(m_certWorks, CM_RenewCertificate)(nullptr, pForeign));
  CertFreeCertificateContext(pForeign);
}

TEST_F(CertServices, WaitingThreadSeesTheCertificateAddedEvent) {
  HANDLE hAdded = CreateEventW(nullptr, TRUE, FALSE, VM_CERT_ADDED_EVENT);
  HANDLE hWaiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, hAdded);
  DWORD dwWait = WAIT_FAILED;
  std::thread waiter([&] {
    SetEvent(hWaiting);
    // Bounded only so that a broken library fails the test instead of hanging it.
    dwWait = WaitForSingleObject(hAdded, 120000);
  });
  WaitForSingleObject(hWaiting, INFINITE);
  EXPECT_EQ(S_OK, ENTRY(m_certWorks, CM_ObtainCert)(nullptr, L"frank@example.org", L"Frank Waiter", 0));
  waiter.join();
  EXPECT_EQ(WAIT_OBJECT_0, dwWait);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hAdded, 0)) << "left set";
  CloseHandle(hWaiting);
  CloseHandle(hAdded);
}

TEST_F(CertServices, EnterpriseRequestIsInstalledFromTheAuthoritysAnswer) {
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_RequestCert)(nullptr, L"grace@example.org", L"Grace Enterprise", 1));
  EXPECT_EQ(0u, CountOwn());
  const std::vector<BYTE> answer = ReadFileBytes(InstallFolder() + L"\\TestCA\\Answers\\grace@example.org.vmpfx");
  ASSERT_GT(answer.size(), 2u);
  EXPECT_EQ(0x30, answer[0]);
  DWORD cchText = 0;
  CryptBinaryToStringW(answer.data(), static_cast<DWORD>(answer.size()), CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF,
                       nullptr, &cchText);
  std::wstring wsText(cchText, L'\0');
  CryptBinaryToStringW(answer.data(), static_cast<DWORD>(answer.size()), CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF,
                       wsText.data(), &cchText);
  wsText.resize(cchText);

  LPWSTR wszIssued = nullptr;
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_InstallCertResponse)(nullptr, wsText.c_str(), &wszIssued));
  EXPECT_EQ(wsText, wszIssued);
  ENTRY(m_certWorks, GC_Deallocate)(wszIssued);
  std::vector<PCCERT_CONTEXT> certs = OwnCertificates();
  ASSERT_EQ(1u, certs.size());
  EXPECT_EQ(1, ENTRY(m_certWorks, GC_IsVmMyCertificate)(certs[0]));
  CertFreeCertificateContext(certs[0]);
  // The key is no longer pending.
  EXPECT_EQ(NTE_NO_KEY, ENTRY(m_certWorks, CM_InstallCertResponse)(nullptr, wsText.c_str(), &wszIssued));
}

TEST_F(CertServices, SelectedCertificateBecomesCurrent) {
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_ObtainCert)(nullptr, L"heidi@example.org", L"Heidi First", 0));
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_ObtainCert)(nullptr, L"heidi@example.org", L"Heidi Second", 0));
  PCCERT_CONTEXT pCurrent = nullptr;
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_GetMyCert)(&pCurrent));
  wchar_t wszName[64] = {};
  CertGetNameStringW(pCurrent, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, wszName, ARRAYSIZE(wszName));
  EXPECT_STREQ(L"Heidi Second", wszName);
  CertFreeCertificateContext(pCurrent);

  std::vector<PCCERT_CONTEXT> certs = OwnCertificates();
  ASSERT_EQ(2u, certs.size());
  PCCERT_CONTEXT pOther =
      CertCompareCertificate(X509_ASN_ENCODING, certs[0]->pCertInfo, pCurrent->pCertInfo) ? certs[1] : certs[0];
  EXPECT_EQ(S_OK, ENTRY(m_certWorks, CM_SelectMyCert)(pOther));
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_GetMyCert)(&pCurrent));
  EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, pCurrent->pCertInfo, pOther->pCertInfo));
  CertFreeCertificateContext(pCurrent);
  for (PCCERT_CONTEXT pCert : certs) CertFreeCertificateContext(pCert);
}

TEST_F(CertServices, EnrolmentAsksTheUserForWhatTheCallerDidNotKnow) {
  constexpr int kEmailItem = 1001;
  constexpr int kNameItem = 1002;
  {
    CDialogAnswer answer({{kEmailItem, L"ivy@example.org"}, {kNameItem, L"Ivy Asked"}}, IDOK);
    EXPECT_EQ(S_OK, ENTRY(m_certWorks, CM_ObtainCert)(nullptr, nullptr, L"", 0));
    EXPECT_TRUE(answer.Answered());
  }
  std::vector<PCCERT_CONTEXT> certs = OwnCertificates();
  ASSERT_EQ(1u, certs.size());
  EXPECT_EQ(L"ivy@example.org", Email(certs[0]));
  {
    CDialogAnswer answer({}, IDCANCEL);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED),
              ENTRY(m_certWorks, CM_ObtainCert)(nullptr, L"ivy@example.org", nullptr, 0));
  }
  EXPECT_EQ(1u, CountOwn());

  // With two own certificates the user chooses; cancelling the choice gives none.
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, CM_ObtainCert)(nullptr, L"ivy@example.org", L"Ivy Again", 0));
  PCCERT_CONTEXT pChosen = nullptr;
  {
    CDialogAnswer answer({}, IDCANCEL);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED), ENTRY(m_certWorks, CM_GetMyCertUI)(nullptr, &pChosen));
  }
  EXPECT_EQ(nullptr, pChosen);
  CertFreeCertificateContext(certs[0]);
}

TEST_F(CertServices, InvitationTextsFollowTheLanguage) {
  auto request = [&](const wchar_t* wszLanguage, std::wstring* pwsSubject) {
    LPWSTR wszBody = nullptr;
    LPWSTR wszSubject = nullptr;
    const HRESULT hr = ENTRY(m_certWorks, BM_GetTextBuddyRequest)(wszLanguage, &wszBody, &wszSubject);
    if (SUCCEEDED(hr)) *pwsSubject = wszSubject;
    ENTRY(m_certWorks, GC_Deallocate)(wszBody);
    ENTRY(m_certWorks, GC_Deallocate)(wszSubject);
    return hr;
  };
  std::wstring wsDefault, wsEnglish, wsGerman, wsSwiss, wsFrench;
  EXPECT_EQ(S_OK, request(nullptr, &wsDefault));
  EXPECT_EQ(S_OK, request(L"00000409", &wsEnglish));
  EXPECT_EQ(S_OK, request(L"00000407", &wsGerman));
  EXPECT_EQ(S_OK, request(L"00000807", &wsSwiss));
  EXPECT_EQ(S_OK, request(L"0000040C", &wsFrench));
  EXPECT_EQ(E_INVALIDARG, request(L"German", &wsFrench));
  EXPECT_EQ(wsDefault, wsEnglish);
  EXPECT_EQ(wsEnglish, wsFrench);
  EXPECT_NE(wsEnglish, wsGerman);
  EXPECT_EQ(wsGerman, wsSwiss);

  LPWSTR wszBody = nullptr;
  LPWSTR wszSubject = nullptr;
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, BM_GetTextBuddyReply)(L"", &wszBody, &wszSubject));
  EXPECT_NE(wsEnglish, wszSubject);
  ENTRY(m_certWorks, GC_Deallocate)(wszBody);
  ENTRY(m_certWorks, GC_Deallocate)(wszSubject);

  LCID* pLocales = nullptr;
  DWORD dwCount = 0;
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, GC_EnumSupportedLocales)(&pLocales, &dwCount));
  const std::vector<LCID> locales(pLocales, pLocales + dwCount);
  CoTaskMemFree(pLocales);
  EXPECT_EQ((std::vector<LCID>{0x0409, 0x0407}), locales);
}

TEST_F(CertServices, HelpTopicIsRememberedAndOnlyATopicIsAccepted) {
  EXPECT_EQ(E_INVALIDARG, ENTRY(m_certWorks, GC_HtmlHelp)(L"..\\..\\windows\\notepad.exe"));
  EXPECT_EQ(E_INVALIDARG, ENTRY(m_certWorks, GC_HtmlHelp)(L""));
  // No help is installed in the test prefix: the topic is only remembered.
  EXPECT_EQ(S_FALSE, ENTRY(m_certWorks, GC_HtmlHelp)(L"1_1_3_3.html"));
  wchar_t wszTopic[64] = {};
  DWORD cbTopic = sizeof(wszTopic);
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, L"Software\\Velmora\\CertWorks", L"LastHelpTopic",
                                        RRF_RT_REG_SZ, nullptr, wszTopic, &cbTopic));
  EXPECT_STREQ(L"1_1_3_3.html", wszTopic);

  LPWSTR wszUrl = nullptr;
  ASSERT_EQ(S_OK, ENTRY(m_certWorks, GC_GetSoftwareURL)(&wszUrl));
  EXPECT_EQ(0, wcsncmp(wszUrl, L"https://", 8));
  ENTRY(m_certWorks, GC_Deallocate)(wszUrl);
}

}  // namespace
