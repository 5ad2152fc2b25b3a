// Office's signing in the simulated Word, Excel and PowerPoint with the simulator's own test
// provider: the order of the provider's calls, the signature in the package, and its verdict
// when the document is opened again, untouched or changed.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "SimOffice.h"
#include "SimZip.h"
#include "com/LateBound.h"

namespace {

using Sim::CSimDocument;
using Sim::CVariant;
using Sim::EDocApp;

constexpr wchar_t kProvider[] = L"{5B1E0C6A-2F4D-4E7B-9A3C-7D2E1F0B8C41}";

std::wstring Folder() {
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
  std::wstring ws(wszPath);
  return ws.substr(0, ws.find_last_of(L'\\')) + L"\\..\\sim\\";
}

HRESULT CallExport(HMODULE hDll, const char* szName) {
  using PFN = HRESULT(WINAPI*)();
  auto pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hDll, szName)));
  return pfn ? pfn() : E_FAIL;
}

// The error that Office raised for a method call: the exception's code, as Office raises its
// errors as exceptions; the call's own result when it raised none.
HRESULT RaisedError(IDispatch* pObject, const wchar_t* wszMethod, std::vector<VARIANT> args = {}) {
  LPOLESTR pszName = const_cast<LPOLESTR>(wszMethod);
  DISPID dispid = 0;
  HRESULT hr = pObject->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid);
  if (FAILED(hr)) return hr;
  std::reverse(args.begin(), args.end());
  DISPPARAMS params = {args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  EXCEPINFO excepInfo = {};
  CVariant varResult;
  hr =
      pObject->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &varResult, &excepInfo, nullptr);
  SysFreeString(excepInfo.bstrSource);
  SysFreeString(excepInfo.bstrDescription);
  SysFreeString(excepInfo.bstrHelpFile);
  return hr == DISP_E_EXCEPTION ? excepInfo.scode : hr;
}

class SimSignatures : public ::testing::TestWithParam<EDocApp> {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The provider; MSXML 5's classes are those the prefix has registered.
    m_hProvider = LoadLibraryW((Folder() + L"SimTestSignatureProvider.dll").c_str());
    ASSERT_NE(nullptr, m_hProvider);
    ASSERT_EQ(S_OK, CallExport(m_hProvider, "DllRegisterServer"));
    Sim::SOfficeOptions options;
    options.app = GetParam();
    options.onlyAddIns = {L"OfficeSim.TestSignatureProvider"};
    m_cpApp.Attach(new Sim::COfficeApp(options));
    ASSERT_EQ(S_OK, m_cpApp->Start());
    wchar_t wszFolder[MAX_PATH] = {}, wszFile[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszFolder);
    GetTempFileNameW(wszFolder, L"sig", 0, wszFile);
    m_wsPath = wszFile;
  }
  void TearDown() override {
    m_cpApp.Release();
    DeleteFileW(m_wsPath.c_str());
    if (m_hProvider) CallExport(m_hProvider, "DllUnregisterServer"), FreeLibrary(m_hProvider);
    CoUninitialize();
  }

  // The user's signing certificate, issued by the test authority, its key in the suite's provider.
  static void SetUpTestSuite() {
    // Only this certificate in "MY": other tests leave theirs (registry stores do not persist deletions).
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\SystemCertificates\\MY\\Certificates");
    std::wstring wsCommand = L"\"" + Folder() + L"..\\tools\\vmpki.exe\" user signer@tessaly.test \"Sam Signer\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, wsCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD dwExit = 1;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_EQ(0u, dwExit);
  }

  CComPtr<IDispatch> Signatures(IDispatch* pDocument) {
    CVariant var;
    EXPECT_EQ(S_OK, LateBound::GetProperty(pDocument, L"Signatures", &var));
    return var.vt == VT_DISPATCH ? var.pdispVal : nullptr;
  }
  CComPtr<IDispatch> Item(IDispatch* pSignatures, LONG i) {
    CVariant var, varIndex(i);
    EXPECT_EQ(S_OK, LateBound::GetProperty(pSignatures, L"Item", &var, {varIndex}));
    return var.vt == VT_DISPATCH ? var.pdispVal : nullptr;
  }
  std::wstring Value(IDispatch* pDisp, const wchar_t* pwszName) {
    CVariant var;
    EXPECT_EQ(S_OK, LateBound::GetProperty(pDisp, pwszName, &var));
    if (var.vt == VT_BOOL) return var.boolVal ? L"True" : L"False";
    return SUCCEEDED(var.ChangeType(VT_BSTR)) && var.bstrVal ? var.bstrVal : L"";
  }
  // The host's log from that line on, without the parts' names of HashStream.
  std::vector<std::wstring> LogSince(size_t iFirst) {
    std::vector<std::wstring> log;
    for (size_t i = iFirst; i < m_cpApp->m_log.size(); ++i) {
      const std::wstring& ws = m_cpApp->m_log[i];
      log.push_back(!ws.compare(0, 11, L"HashStream ") ? L"HashStream" : ws);
    }
    log.erase(std::unique(log.begin(), log.end()), log.end());
    return log;
  }
  // A new document, saved once: Excel signs only a workbook that has been saved.
  CSimDocument* NewSavedDocument(const wchar_t* wszText) {
    CSimDocument* pDocument = nullptr;
    EXPECT_EQ(S_OK, m_cpApp->NewDocument(wszText, &pDocument));
    CVariant varPath(m_wsPath);
    EXPECT_EQ(S_OK, LateBound::Call(pDocument, L"SaveAs", {varPath}));
    return pDocument;
  }
  CSimDocument* Reopen(CSimDocument* pDocument) {
    CVariant varPath(m_wsPath);
    EXPECT_EQ(S_OK, LateBound::Call(pDocument, L"SaveAs", {varPath}));
    EXPECT_EQ(S_OK, m_cpApp->CloseDocument(pDocument));
    CSimDocument* pOpened = nullptr;
    EXPECT_EQ(S_OK, m_cpApp->OpenDocument(m_wsPath, false, &pOpened));
    return pOpened;
  }

  HMODULE m_hProvider = nullptr;
  CComPtr<Sim::COfficeApp> m_cpApp;
  std::wstring m_wsPath;
};

const std::vector<std::wstring> kDetails = {L"GetProviderDetail 0 0x00000000", L"GetProviderDetail 1 0x00000000",
                                            L"GetProviderDetail 2 0x00000000", L"GetProviderDetail 3 0x00000000",
                                            L"GetProviderDetail 4 0x00000000"};

TEST_P(SimSignatures, SignedDocumentKeepsAValidSignatureAcrossSaveAndOpen) {
  CSimDocument* pDocument = NewSavedDocument(L"Signed words\nsecond line");
  ASSERT_TRUE(pDocument);
  CComPtr<IDispatch> cpSignatures = Signatures(pDocument);
  ASSERT_TRUE(cpSignatures);
  const size_t iLog = m_cpApp->m_log.size();
  CVariant varProvider{std::wstring(kProvider)}, varSignature;
  ASSERT_EQ(S_OK, LateBound::Call(cpSignatures, L"AddNonVisibleSignature", {varProvider}, &varSignature))
      << ::testing::PrintToString(LogSince(iLog));
  std::vector<std::wstring> expected = kDetails;
  expected.insert(expected.end(), {L"ShowSigningCeremony 0x00000000", L"HashStream", L"SignXmlDsig 0x00000000",
                                   L"NotifySignatureAdded 0x00000000"});
  EXPECT_EQ(expected, LogSince(iLog));
  EXPECT_EQ(L"Sam Signer", Value(varSignature.pdispVal, L"Signer"));

  CSimDocument* pOpened = Reopen(pDocument);
  ASSERT_NE(nullptr, pOpened);
  EXPECT_EQ(L"Signed words\nsecond line", pOpened->Text());
  cpSignatures = Signatures(pOpened);
  EXPECT_EQ(L"1", Value(cpSignatures, L"Count"));
  CComPtr<IDispatch> cpSignature = Item(cpSignatures, 1);
  ASSERT_TRUE(cpSignature);
  EXPECT_EQ(L"True", Value(cpSignature, L"IsValid")) << ::testing::PrintToString(m_cpApp->m_log);
  EXPECT_EQ(L"Sam Signer", Value(cpSignature, L"Signer"));
  EXPECT_NE(m_cpApp->m_log.end(),
            std::find(m_cpApp->m_log.begin(), m_cpApp->m_log.end(), L"VerifyXmlDsig 0x00000000 contverres 3"));

  // The package holds the signature beside the origin part, and the package relationships name it.
  std::ifstream file(m_wsPath.c_str(), std::ios::binary);
  std::vector<Sim::SZipEntry> entries;
  std::wstring wsWhy;
  ASSERT_EQ(S_OK, Sim::ReadZip(std::vector<BYTE>(std::istreambuf_iterator<char>(file), {}), &entries, &wsWhy));
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.sName);
  for (const char* psz :
       {"_xmlsignatures/origin.sigs", "_xmlsignatures/_rels/origin.sigs.rels", "_xmlsignatures/sig1.xml"})
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), psz)) << psz;
}

TEST_P(SimSignatures, OnlyExcelRefusesToSignWhatWasNeverSaved) {
  CSimDocument* pDocument = nullptr;
  ASSERT_EQ(S_OK, m_cpApp->NewDocument(L"Never saved", &pDocument));
  CVariant varProvider{std::wstring(kProvider)};
  EXPECT_EQ(GetParam() == EDocApp::Excel ? static_cast<HRESULT>(0x800A03EC) : S_OK,
            RaisedError(Signatures(pDocument), L"AddNonVisibleSignature", {varProvider}));
}

TEST_P(SimSignatures, ChangedPartIsFoundOnOpen) {
  CSimDocument* pDocument = NewSavedDocument(L"Original words");
  ASSERT_TRUE(pDocument);
  CVariant varProvider{std::wstring(kProvider)}, varSignature;
  ASSERT_EQ(S_OK, LateBound::Call(Signatures(pDocument), L"AddNonVisibleSignature", {varProvider}, &varSignature));
  CVariant varPath(m_wsPath);
  ASSERT_EQ(S_OK, LateBound::Call(pDocument, L"SaveAs", {varPath}));
  ASSERT_EQ(S_OK, m_cpApp->CloseDocument(pDocument));

  // Another program changes the text part and leaves the signature as it was.
  std::ifstream file(m_wsPath.c_str(), std::ios::binary);
  std::vector<Sim::SZipEntry> entries;
  std::wstring wsWhy;
  ASSERT_EQ(S_OK, Sim::ReadZip(std::vector<BYTE>(std::istreambuf_iterator<char>(file), {}), &entries, &wsWhy));
  file.close();
  bool bChanged = false;
  for (auto& entry : entries) {
    std::string sData(entry.data.begin(), entry.data.end());
    const size_t i = sData.find("Original");
    if (i == std::string::npos) continue;
    sData.replace(i, 8, "Forged  ");
    entry.data.assign(sData.begin(), sData.end());
    bChanged = true;
  }
  ASSERT_TRUE(bChanged);
  const std::vector<BYTE> zip = Sim::WriteZip(entries);
  std::ofstream(m_wsPath.c_str(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));

  CSimDocument* pOpened = nullptr;
  ASSERT_EQ(S_OK, m_cpApp->OpenDocument(m_wsPath, false, &pOpened));
  EXPECT_EQ(L"Forged   words", pOpened->Text());
  CComPtr<IDispatch> cpSignature = Item(Signatures(pOpened), 1);
  ASSERT_TRUE(cpSignature);
  EXPECT_EQ(L"False", Value(cpSignature, L"IsValid"));
  EXPECT_NE(m_cpApp->m_log.end(),
            std::find(m_cpApp->m_log.begin(), m_cpApp->m_log.end(), L"VerifyXmlDsig 0x00000000 contverres 4"));
}

TEST_P(SimSignatures, SignatureLineIsSetUpDrawnAndSigned) {
  CSimDocument* pDocument = NewSavedDocument(L"Please sign");
  ASSERT_TRUE(pDocument);
  CComPtr<IDispatch> cpSignatures = Signatures(pDocument);
  CVariant varProvider{std::wstring(kProvider)}, varLine;
  if (GetParam() == EDocApp::PowerPoint) {
    // PowerPoint has no signature lines.
    EXPECT_EQ(L"False", Value(cpSignatures, L"CanAddSignatureLine"));
    EXPECT_EQ(E_NOTIMPL, RaisedError(cpSignatures, L"AddSignatureLine", {varProvider}));
    return;
  }
  size_t iLog = m_cpApp->m_log.size();
  ASSERT_EQ(S_OK, LateBound::Call(cpSignatures, L"AddSignatureLine", {varProvider}, &varLine));
  std::vector<std::wstring> expected = kDetails;
  expected.insert(expected.end(), {L"ShowSignatureSetup 0x00000000", L"GenerateSignatureLineImage 1 0x00000000"});
  EXPECT_EQ(expected, LogSince(iLog));
  CVariant varSetup;
  ASSERT_EQ(S_OK, LateBound::GetProperty(varLine.pdispVal, L"Setup", &varSetup));
  EXPECT_EQ(L"Test Signer", Value(varSetup.pdispVal, L"SuggestedSigner"));
  EXPECT_EQ(L"False", Value(varLine.pdispVal, L"IsSigned"));

  iLog = m_cpApp->m_log.size();
  ASSERT_EQ(S_OK, LateBound::Call(varLine.pdispVal, L"Sign"));
  EXPECT_EQ((std::vector<std::wstring>{L"ShowSigningCeremony 0x00000000", L"GenerateSignatureLineImage 2 0x00000000",
                                       L"GenerateSignatureLineImage 3 0x00000000", L"HashStream",
                                       L"SignXmlDsig 0x00000000", L"NotifySignatureAdded 0x00000000"}),
            LogSince(iLog));
  // A signed signature is not signed twice.
  EXPECT_EQ(E_ACCESSDENIED, RaisedError(varLine.pdispVal, L"Sign"));

  CComPtr<IDispatch> cpSignature = Item(Signatures(Reopen(pDocument)), 1);
  ASSERT_TRUE(cpSignature);
  EXPECT_EQ(L"True", Value(cpSignature, L"IsSignatureLine"));
  EXPECT_EQ(L"True", Value(cpSignature, L"IsValid"));
}

INSTANTIATE_TEST_SUITE_P(
    Apps, SimSignatures, ::testing::Values(EDocApp::Word, EDocApp::Excel, EDocApp::PowerPoint), [](const auto& info) {
      return std::string(info.param == EDocApp::Word ? "Word" : info.param == EDocApp::Excel ? "Excel" : "PowerPoint");
    });

}  // namespace
