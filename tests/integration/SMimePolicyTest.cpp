// The security label policy module as Outlook's S/MIME engine uses it: found by the policy
// identifier's registry key, created through the entry point it names, called through its
// interfaces' slots, its memory blocks read and freed as Outlook frees them.
#include <gtest/gtest.h>
#include <windows.h>
#include <mapicode.h>

#include <string>
#include <utility>

#include "../support/TestCertificates.h"
#include "Installation.h"
#include "SimLabelPolicy.h"
#include "com/ComPtr.h"
#include "hosts/SMimePolicy.h"
#include "suite/VmCertServices.h"

namespace {

using Outlook::PSMIME_SECURITY_LABEL;
using Outlook::SMIME_SECURITY_LABEL;

constexpr char kPolicyOid[] = "1.3.6.1.4.1.51877.1.2";
constexpr wchar_t kPolicyKey[] =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel\\1.3.6.1.4.1.51877.1.2";

std::wstring ReadPolicyString(const wchar_t* wszName) {
  wchar_t wsz[MAX_PATH] = {};
  DWORD cb = sizeof wsz;
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, wszName, RRF_RT_REG_SZ, nullptr, wsz, &cb))
      << "security label key value";
  return wsz;
}

// Calls slot iSlot of an interface's table, as a caller that knows only the published layout.
template <class... TArgs>
HRESULT CallSlot(IUnknown* pInterface, int iSlot, TArgs... args) {
  using PFN = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, TArgs...);
  return (*reinterpret_cast<PFN**>(pInterface))[iSlot](pInterface, args...);
}

SMIME_SECURITY_LABEL Label(DWORD dwClassification, BOOL bHasClassification = TRUE) {
  return {const_cast<LPSTR>(kPolicyOid), bHasClassification, dwClassification, nullptr, 0, nullptr};
}

// Bytes of the process heap's blocks in use; Outlook's frees must bring it back.
SIZE_T HeapBytesInUse() {
  const HANDLE hHeap = GetProcessHeap();
  SIZE_T cbBusy = 0;
  HeapLock(hHeap);
  PROCESS_HEAP_ENTRY entry = {};
  while (HeapWalk(hHeap, &entry))
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) cbBusy += entry.cbData;
  HeapUnlock(hHeap);
  return cbBusy;
}

class SMimePolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    m_hModule = LoadLibraryW(ReadPolicyString(L"DllPath").c_str());
    ASSERT_NE(nullptr, m_hModule);
    const std::wstring wsFunction = ReadPolicyString(L"FuncName");
    m_pfnGetPolicy =
        GetExport<Outlook::PFNGetSMimePolicy>(m_hModule, std::string(wsFunction.begin(), wsFunction.end()).c_str());
    ASSERT_NE(nullptr, m_pfnGetPolicy);
  }
  void TearDown() override {
    if (m_hModule) FreeLibrary(m_hModule);
    CoUninitialize();
  }

  template <class TInterface>
  CComPtr<TInterface> Policy(REFIID riid) {
    CComPtr<TInterface> cp;
    EXPECT_EQ(S_OK, m_pfnGetPolicy(0, kPolicyOid, CP_ACP, riid, reinterpret_cast<IUnknown**>(&cp)));
    return cp;
  }
  std::wstring Stringized(Outlook::ISMimePolicyLabelInfo* pInfo, DWORD dwClassification, SIZE_T* pcbBlock) {
    SMIME_SECURITY_LABEL label = Label(dwClassification);
    LPWSTR wszLabel = nullptr;
    EXPECT_EQ(S_OK, pInfo->GetStringizedLabel(0, &label, &wszLabel));
    if (!wszLabel) return L"(no text)";
    *pcbBlock = GlobalSize(wszLabel);
    std::wstring wsLabel = wszLabel;
    EXPECT_EQ(nullptr, GlobalFree(wszLabel));
    return wsLabel;
  }

  HMODULE m_hModule = nullptr;
  Outlook::PFNGetSMimePolicy m_pfnGetPolicy = nullptr;
};

TEST_F(SMimePolicyTest, TheSuitesIdentifierAloneGivesTheFiveInterfacesInTheirPublishedSlots) {
  EXPECT_EQ(L"Tessaly Security Policy", ReadPolicyString(L"CommonName"));
  IUnknown* pUnknown = reinterpret_cast<IUnknown*>(&pUnknown);
  for (const char* szOid : {"1.3.6.1.4.1.51877.1.20", "1.3.6.1.4.1.51877.1", " 1.3.6.1.4.1.51877.1.2", ""}) {
    EXPECT_EQ(E_NOINTERFACE, m_pfnGetPolicy(0, szOid, CP_ACP, Outlook::IID_ISMimePolicyLabelInfo, &pUnknown)) << szOid;
  }
  EXPECT_EQ(E_NOINTERFACE, m_pfnGetPolicy(0, kPolicyOid, CP_ACP, IID_IDispatch, &pUnknown));
  EXPECT_EQ(nullptr, pUnknown);
  EXPECT_EQ(E_POINTER, m_pfnGetPolicy(0, kPolicyOid, CP_ACP, IID_IUnknown, nullptr));

  // The full-edit interface extends the simple one in the same table.
  auto cpFull = Policy<IUnknown>(Outlook::IID_ISMimePolicyFullEdit);
  ASSERT_TRUE(cpFull);
  CComPtr<IUnknown> cpSimple;
  EXPECT_EQ(S_OK, cpFull.QueryInterface(Outlook::IID_ISMimePolicySimpleEdit, &cpSimple));
  EXPECT_EQ(cpFull.Get(), cpSimple.Get());
  DWORD dwFlags = 0;
  EXPECT_EQ(S_OK, CallSlot(cpFull, 3, DWORD{0}, &dwFlags));
  EXPECT_EQ(0x1Eu, dwFlags);
  SMIME_SECURITY_LABEL label = Label(0);
  PSMIME_SECURITY_LABEL pLabel = &label;
  EXPECT_EQ(S_OK, CallSlot(cpFull, 6, DWORD{0}, HWND{}, &pLabel));
  EXPECT_EQ(E_NOTIMPL, CallSlot(cpFull, 7, DWORD{0}, HWND{}, &pLabel));
  EXPECT_EQ(E_NOTIMPL, CallSlot(cpFull, 8, DWORD{0}, HWND{}, &pLabel));

  auto cpInfo = Policy<IUnknown>(Outlook::IID_ISMimePolicyLabelInfo);
  ASSERT_TRUE(cpInfo);
  LPWSTR* pwszNone = nullptr;
  EXPECT_EQ(E_NOTIMPL, CallSlot(cpInfo, 3, DWORD{0}, pLabel, pwszNone, pwszNone, pwszNone, pwszNone));
  EXPECT_EQ(E_POINTER, CallSlot(cpInfo, 4, DWORD{0}, pLabel, pwszNone));
  EXPECT_EQ(E_NOTIMPL, CallSlot(cpInfo, 5, DWORD{0}, HWND{}, pLabel));

  // The signer slot refuses a missing certificate as a null argument, the recipient slot as a refusal.
  auto cpSend = Policy<IUnknown>(Outlook::IID_ISMimePolicyValidateSend);
  ASSERT_TRUE(cpSend);
  EXPECT_EQ(E_POINTER, CallSlot(cpSend, 3, DWORD{0}, HWND{}, pLabel, PCCERT_CONTEXT{}));
  EXPECT_EQ(E_ACCESSDENIED, CallSlot(cpSend, 4, DWORD{0}, HWND{}, pLabel, PCCERT_CONTEXT{}));

  auto cpAccess = Policy<IUnknown>(Outlook::IID_ISMimePolicyCheckAccess);
  ASSERT_TRUE(cpAccess);
  EXPECT_EQ(S_OK, CallSlot(cpAccess, 3, DWORD{0}, HWND{}, PSMIME_SECURITY_LABEL{}, PCCERT_CONTEXT{}, PCCERT_CONTEXT{},
                           HCERTSTORE{}));
}

TEST_F(SMimePolicyTest, EditingOffersOneUnnamedClassificationInBlocksTheCallerFrees) {
  auto cpEdit = Policy<Outlook::ISMimePolicySimpleEdit>(Outlook::IID_ISMimePolicySimpleEdit);
  ASSERT_TRUE(cpEdit);
  DWORD cClassifications = 7, dwDefault = 7;
  LPWSTR* pwszNames = nullptr;
  DWORD* pdwValues = nullptr;
  EXPECT_EQ(E_POINTER, cpEdit->GetClassifications(0, nullptr, &pwszNames, &pdwValues, &dwDefault));
  EXPECT_EQ(E_POINTER, cpEdit->GetClassifications(0, &cClassifications, nullptr, &pdwValues, &dwDefault));
  EXPECT_EQ(E_POINTER, cpEdit->GetClassifications(0, &cClassifications, &pwszNames, nullptr, &dwDefault));
  EXPECT_EQ(E_POINTER, cpEdit->GetClassifications(0, &cClassifications, &pwszNames, &pdwValues, nullptr));

  ASSERT_EQ(S_OK, cpEdit->GetClassifications(0, &cClassifications, &pwszNames, &pdwValues, &dwDefault));
  EXPECT_EQ(1u, cClassifications);
  EXPECT_EQ(0u, dwDefault);
  ASSERT_TRUE(pwszNames && pdwValues);
  // Fixed blocks: the pointer is its own handle.
  EXPECT_EQ(static_cast<HGLOBAL>(pdwValues), GlobalHandle(pdwValues));
  EXPECT_EQ(static_cast<HGLOBAL>(pwszNames), GlobalHandle(pwszNames));
  EXPECT_EQ(4u, GlobalSize(pdwValues));
  EXPECT_EQ(0u, pdwValues[0]);
  EXPECT_EQ(10u, GlobalSize(pwszNames));
  const BYTE* pbNames = reinterpret_cast<const BYTE*>(pwszNames);
  EXPECT_EQ(reinterpret_cast<const BYTE*>(pwszNames[0]), pbNames + sizeof(LPWSTR));
  EXPECT_EQ(0, pbNames[8]);
  EXPECT_EQ(0, pbNames[9]);
  EXPECT_EQ(nullptr, GlobalFree(pdwValues));
  EXPECT_EQ(nullptr, GlobalFree(pwszNames));

  DWORD dwClassification = 7;
  LPWSTR wszMark = reinterpret_cast<LPWSTR>(&dwClassification);
  EXPECT_EQ(S_OK, cpEdit->GetDefaultPolicyInfo(0, &dwClassification, &wszMark));
  EXPECT_EQ(0u, dwClassification);
  EXPECT_EQ(nullptr, wszMark);
  EXPECT_EQ(E_POINTER, cpEdit->GetDefaultPolicyInfo(0, nullptr, &wszMark));
  EXPECT_EQ(E_POINTER, cpEdit->GetPolicyInfo(0, nullptr));
  SMIME_SECURITY_LABEL unclassified = Label(5, FALSE);
  PSMIME_SECURITY_LABEL pLabel = &unclassified;
  EXPECT_EQ(E_INVALIDARG, cpEdit->IsLabelValid(0, nullptr, &pLabel));
  pLabel = nullptr;
  EXPECT_EQ(E_POINTER, cpEdit->IsLabelValid(0, nullptr, &pLabel));
}

TEST_F(SMimePolicyTest, EachClassificationReadsAsTheTextOfItsRow) {
  auto cpInfo = Policy<Outlook::ISMimePolicyLabelInfo>(Outlook::IID_ISMimePolicyLabelInfo);
  ASSERT_TRUE(cpInfo);
  const std::pair<DWORD, const wchar_t*> rows[] = {
      {0xC, L"Strong protection"},
      {0x4 | 0x8 | 0x3, L"Strong protection"},
      {0x7, L"Strong protection: key unlocked with a smart card and a password"},
      {0x5, L"Strong protection: key unlocked with a password"},
      {0x6, L"Strong protection: key unlocked with a smart card"},
      {0x4, L"Strong protection"},
      {0x14, L"Strong protection"},
      {0x1, L"Key unlocked with a password"},
      {0x2, L"Key unlocked with a smart card"},
      {0x10, L"Key unlocked by the Windows logon"},
      {0x3, L"Key unlocked with a smart card and a password"},
      {0x20, L"Key unlocked in another way"},
      {0x8, L"Key unlocked in another way"},
      {0x0, L""},
  };
  for (const auto& [dwClassification, wszText] : rows) {
    SIZE_T cbBlock = 0;
    EXPECT_EQ(wszText, Stringized(cpInfo, dwClassification, &cbBlock)) << std::hex << dwClassification;
    EXPECT_EQ((wcslen(wszText) + 1) * sizeof(wchar_t), cbBlock) << std::hex << dwClassification;
  }
  SMIME_SECURITY_LABEL unclassified = Label(5, FALSE);
  LPWSTR wszLabel = reinterpret_cast<LPWSTR>(&unclassified);
  EXPECT_EQ(S_OK, cpInfo->GetStringizedLabel(0, &unclassified, &wszLabel));
  EXPECT_EQ(nullptr, wszLabel);
  EXPECT_EQ(E_POINTER, cpInfo->GetStringizedLabel(0, nullptr, &wszLabel));
}

// Blocks freed as Outlook frees them leave nothing behind, however often the policy is asked.
TEST_F(SMimePolicyTest, RepeatedCallsLeaveNoMemoryBehind) {
  auto cpEdit = Policy<Outlook::ISMimePolicySimpleEdit>(Outlook::IID_ISMimePolicySimpleEdit);
  auto cpInfo = Policy<Outlook::ISMimePolicyLabelInfo>(Outlook::IID_ISMimePolicyLabelInfo);
  ASSERT_TRUE(cpEdit && cpInfo);
  const auto askAndFree = [&] {
    DWORD cClassifications = 0, dwDefault = 0;
    LPWSTR* pwszNames = nullptr;
    DWORD* pdwValues = nullptr;
    SMIME_SECURITY_LABEL label = Label(0x5);
    LPWSTR wszLabel = nullptr;
    const bool bAnswered =
        cpEdit->GetClassifications(0, &cClassifications, &pwszNames, &pdwValues, &dwDefault) == S_OK &&
        cpInfo->GetStringizedLabel(0, &label, &wszLabel) == S_OK;
    return bAnswered && !GlobalFree(pdwValues) && !GlobalFree(pwszNames) && !GlobalFree(wszLabel);
  };
  ASSERT_TRUE(askAndFree());
  const SIZE_T cbBefore = HeapBytesInUse();
  int nFailed = 0;
  for (int i = 0; i < 5000; ++i) nFailed += askAndFree() ? 0 : 1;
  EXPECT_EQ(0, nFailed);
  // 5000 lost blocks would be at least 100 KB.
  EXPECT_LT(HeapBytesInUse(), cbBefore + 16 * 1024);
}

class SMimePolicySendTest : public SMimePolicyTest {
 protected:
  void SetUp() override {
    SMimePolicyTest::SetUp();
    ForgetUserCertificates();
    ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"signer@tessaly.test", L"Sally Signer"));
    const HCERTSTORE hStore = OpenUserStore(kMyStore);
    ASSERT_NE(nullptr, hStore);
    m_pSigner = CertFindCertificateInStore(hStore, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR, L"signer@tessaly.test",
                                           nullptr);
    CertCloseStore(hStore, 0);
    ASSERT_NE(nullptr, m_pSigner);
    m_pContact = IssueContactCertificate(L"carla@tessaly.test", L"Carla Contact", false);
    ASSERT_NE(nullptr, m_pContact);
    m_cpSend = Policy<Outlook::ISMimePolicyValidateSend>(Outlook::IID_ISMimePolicyValidateSend);
    ASSERT_TRUE(m_cpSend);
  }
  void TearDown() override {
    m_cpSend.Release();
    if (m_pContact) CertFreeCertificateContext(m_pContact);
    if (m_pSigner) CertFreeCertificateContext(m_pSigner);
    ForgetUserCertificates();
    SMimePolicyTest::TearDown();
  }
  // What the suite's key provider reports for the signer's key from now on.
  void SetKeyClassification(DWORD dwClassification) {
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bRelease = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_pSigner, CRYPT_ACQUIRE_SILENT_FLAG, nullptr, &hProv, &dwKeySpec,
                                                  &bRelease));
    EXPECT_TRUE(
        CryptSetProvParam(hProv, VM_PP_KEY_CLASS, reinterpret_cast<const BYTE*>(&dwClassification), VM_PP_ACCESS));
    if (bRelease) CryptReleaseContext(hProv, 0);
  }

  PCCERT_CONTEXT m_pSigner = nullptr;
  PCCERT_CONTEXT m_pContact = nullptr;
  CComPtr<Outlook::ISMimePolicyValidateSend> m_cpSend;
};

TEST_F(SMimePolicySendTest, TheSignerIsAcceptedOnlyWhileItsKeyReportsTheLabelsClassification) {
  SMIME_SECURITY_LABEL label = Label(0x5);
  ASSERT_NO_FATAL_FAILURE(SetKeyClassification(0x5));
  EXPECT_EQ(S_OK, m_cpSend->IsValidLabelSignerCert(0, nullptr, &label, m_pSigner));
  ASSERT_NO_FATAL_FAILURE(SetKeyClassification(0x6));
  EXPECT_EQ(E_ACCESSDENIED, m_cpSend->IsValidLabelSignerCert(0, nullptr, &label, m_pSigner));
  label.dwClassification = 0x6;
  EXPECT_EQ(S_OK, m_cpSend->IsValidLabelSignerCert(0, nullptr, &label, m_pSigner));

  // A contact's certificate is not the user's own.
  EXPECT_EQ(E_ACCESSDENIED, m_cpSend->IsValidLabelSignerCert(0, nullptr, &label, m_pContact));
  SMIME_SECURITY_LABEL unclassified = Label(0x6, FALSE);
  EXPECT_EQ(E_INVALIDARG, m_cpSend->IsValidLabelSignerCert(0, nullptr, &unclassified, m_pSigner));
  EXPECT_EQ(E_POINTER, m_cpSend->IsValidLabelSignerCert(0, nullptr, nullptr, m_pSigner));
}

TEST_F(SMimePolicySendTest, ARecipientMustBeATrustedContactInOneOfTheStores) {
  SMIME_SECURITY_LABEL label = Label(0x5);
  EXPECT_EQ(E_ACCESSDENIED, m_cpSend->IsValidLabelRecipientCert(0, nullptr, &label, m_pContact));
  ASSERT_HRESULT_SUCCEEDED(AddToUserStore(kBuddyStore, m_pContact, CERT_STORE_ADD_REPLACE_EXISTING));
  EXPECT_EQ(S_OK, m_cpSend->IsValidLabelRecipientCert(0, nullptr, &label, m_pContact));
  // The user's own certificate is found in the personal store.
  EXPECT_EQ(S_OK, m_cpSend->IsValidLabelRecipientCert(0, nullptr, &label, m_pSigner));
  // The label is not looked at.
  EXPECT_EQ(S_OK, m_cpSend->IsValidLabelRecipientCert(0, nullptr, nullptr, m_pContact));
  EXPECT_EQ(E_ACCESSDENIED, m_cpSend->IsValidLabelRecipientCert(0, nullptr, &label, nullptr));
}

// The simulated Outlook's engine finds the module by the label's policy identifier, as Outlook does,
// and asks it about the signer and each recipient before it sends.
TEST_F(SMimePolicySendTest, OutlooksEngineAsksTheModuleOfTheLabelsPolicy) {
  // SET { OBJECT IDENTIFIER 1.3.6.1.4.1.51877.1.2, INTEGER 5 }
  const std::vector<BYTE> der = {0x31, 0x0F, 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01,
                                 0x83, 0x95, 0x25, 0x01, 0x02, 0x02, 0x01, 0x05};
  Sim::SSecurityLabel label;
  ASSERT_EQ(S_OK, Sim::DecodeSecurityLabel(der, &label));
  EXPECT_EQ(kPolicyOid, label.sPolicy);
  EXPECT_TRUE(label.bHasClassification);
  EXPECT_EQ(5u, label.dwClassification);
  EXPECT_EQ(MAPI_E_CORRUPT_DATA, Sim::DecodeSecurityLabel({der.begin(), der.end() - 1}, &label));

  ASSERT_HRESULT_SUCCEEDED(AddToUserStore(kBuddyStore, m_pContact, CERT_STORE_ADD_REPLACE_EXISTING));
  const PCCERT_CONTEXT pStranger = IssueContactCertificate(L"sam@tessaly.test", L"Sam Stranger", false);
  ASSERT_NE(nullptr, pStranger);
  ASSERT_NO_FATAL_FAILURE(SetKeyClassification(0x5));
  std::vector<std::wstring> log;
  EXPECT_EQ(S_OK, Sim::ValidateLabelForSending(label, nullptr, m_pSigner, {m_pContact}, &log));
  EXPECT_EQ(E_ACCESSDENIED, Sim::ValidateLabelForSending(label, nullptr, m_pSigner, {m_pContact, pStranger}, &log));
  EXPECT_EQ(L"The security policy refused recipient 2", log.back());
  CertFreeCertificateContext(pStranger);
  ASSERT_NO_FATAL_FAILURE(SetKeyClassification(0x6));
  EXPECT_EQ(E_ACCESSDENIED, Sim::ValidateLabelForSending(label, nullptr, m_pSigner, {m_pContact}, &log));
  EXPECT_EQ(L"The security policy refused the signer", log.back());

  // A policy without a registered module cannot be honoured.
  label.sPolicy = "1.3.6.1.4.1.51877.1.9";
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            Sim::ValidateLabelForSending(label, nullptr, m_pSigner, {m_pContact}, &log));
}

// Before it shows a received labelled message, the simulated Outlook asks the module of the label's
// policy whether the user may read it and for the label's text, which it frees as Outlook does.
TEST_F(SMimePolicyTest, OutlookReadsTheLabelsTextFromTheModuleOfItsPolicy) {
  std::vector<std::wstring> log;
  std::wstring wsText;
  EXPECT_EQ(S_OK, Sim::ReadLabel({kPolicyOid, true, 0x5}, nullptr, &wsText, &log));
  EXPECT_EQ(L"Strong protection: key unlocked with a password", wsText);
  EXPECT_EQ(S_OK, Sim::ReadLabel({kPolicyOid, false, 0x5}, nullptr, &wsText, &log));
  EXPECT_EQ(L"", wsText);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            Sim::ReadLabel({"1.3.6.1.4.1.51877.1.9", true, 0x5}, nullptr, &wsText, &log));
  EXPECT_EQ(L"No security policy module for 1.3.6.1.4.1.51877.1.9", log.back());
}

}  // namespace
