// The simulated Word, Excel and PowerPoint through their object models, as add-ins reach them:
// document state, plain files, and refusals where a custom provider is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "SimOffice.h"
#include "SimZip.h"
#include "com/LateBound.h"

namespace {

using Sim::CSimDocument;
using Sim::CVariant;
using Sim::EDocApp;

std::wstring ValueOf(IDispatch* pDisp, const wchar_t* wszName) {
  CVariant var;
  EXPECT_EQ(S_OK, LateBound::GetProperty(pDisp, wszName, &var));
  if (var.vt == VT_BOOL) return var.boolVal ? L"true" : L"false";
  return SUCCEEDED(var.ChangeType(VT_BSTR)) && var.bstrVal ? var.bstrVal : L"";
}

std::vector<BYTE> FileBytes(const std::wstring& wsPath) {
  std::ifstream file(wsPath.c_str(), std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& wsPath, const std::vector<BYTE>& bytes) {
  std::ofstream file(wsPath.c_str(), std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class SimOffice : public ::testing::TestWithParam<EDocApp> {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Sim::SOfficeOptions options;
    options.app = GetParam();
    options.onlyAddIns = {L"No.Such.AddIn"};
    m_cpApp.Attach(new Sim::COfficeApp(options));
    ASSERT_EQ(S_OK, m_cpApp->Start());
    wchar_t wszFolder[MAX_PATH] = {}, wszFile[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszFolder);
    GetTempFileNameW(wszFolder, L"doc", 0, wszFile);
    m_wsPath = wszFile;
  }
  void TearDown() override {
    m_cpApp.Release();
    DeleteFileW(m_wsPath.c_str());
    CoUninitialize();
  }

  CComPtr<Sim::COfficeApp> m_cpApp;
  std::wstring m_wsPath;
};

TEST_P(SimOffice, DocumentsKeepTheirStateAndPlainFilesOpenAgain) {
  CSimDocument* pDocument = nullptr;
  ASSERT_EQ(S_OK, m_cpApp->NewDocument(L"Plain words", &pDocument));
  const bool bExcel = GetParam() == EDocApp::Excel;
  EXPECT_EQ(GetParam() == EDocApp::Word ? L"12"
            : bExcel                    ? L"51"
                                        : L"24",
            ValueOf(pDocument, bExcel ? L"FileFormat" : L"SaveFormat"));
  EXPECT_EQ(L"false", ValueOf(pDocument, L"HasPassword"));
  CVariant varPassword(std::wstring(L"secret"));
  ASSERT_EQ(S_OK, LateBound::PutProperty(pDocument, L"Password", varPassword));
  EXPECT_EQ(L"true", ValueOf(pDocument, L"HasPassword"));
  // A provider by name only is stored; a class id that no connected add-in has is refused.
  CVariant varName(std::wstring(L"Microsoft Enhanced RSA and AES Cryptographic Provider")),
      varAlgorithm(std::wstring(L"AES")), varLength(LONG{128}), varProperties(true);
  ASSERT_EQ(S_OK, LateBound::Call(pDocument, L"SetPasswordEncryptionOptions",
                                  {varName, varAlgorithm, varLength, varProperties}));
  EXPECT_EQ(L"128", ValueOf(pDocument, L"PasswordEncryptionKeyLength"));
  CVariant varClassId(std::wstring(L"{0F9A36C7-8501-4224-A39D-054EF270C86F}"));
  // Office raises the error (REGDB_E_CLASSNOTREG) as an exception.
  EXPECT_EQ(DISP_E_EXCEPTION, LateBound::Call(pDocument, L"SetPasswordEncryptionOptions",
                                              {varClassId, varAlgorithm, varLength, varProperties}));
  EXPECT_EQ(varName.bstrVal, ValueOf(pDocument, L"PasswordEncryptionProvider"));
  EXPECT_EQ(E_NOTIMPL, m_cpApp->ExecuteMso(L"FileDocumentEncrypt"));
  EXPECT_EQ(E_INVALIDARG, m_cpApp->ExecuteMso(L"NoSuchCommand"));

  CVariant varPath(m_wsPath);
  ASSERT_EQ(S_OK, LateBound::Call(pDocument, L"SaveAs", {varPath}));
  ASSERT_EQ(S_OK, m_cpApp->CloseDocument(pDocument));
  EXPECT_EQ(nullptr, m_cpApp->ActiveDocument());
  ASSERT_EQ(S_OK, m_cpApp->OpenDocument(m_wsPath, true, &pDocument));
  EXPECT_EQ(L"Plain words", pDocument->Text());
  EXPECT_EQ(L"true", ValueOf(pDocument, L"ReadOnly"));
  CVariant varWindow;
  ASSERT_EQ(S_OK, LateBound::GetProperty(m_cpApp, L"ActiveWindow", &varWindow));
  CComPtr<IOleWindow> cpOleWindow;
  HWND hwnd = nullptr;
  ASSERT_EQ(S_OK, varWindow.pdispVal->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&cpOleWindow)));
  ASSERT_EQ(S_OK, cpOleWindow->GetWindow(&hwnd));
  EXPECT_TRUE(IsWindowVisible(hwnd));
}

TEST_P(SimOffice, APlainSaveIsTheApplicationsPackageAndDamagedFilesDoNotOpen) {
  const std::wstring wsText = L"Sales & <costs>\nsecond line";
  CSimDocument* pDocument = nullptr;
  ASSERT_EQ(S_OK, m_cpApp->NewDocument(wsText, &pDocument));
  ASSERT_EQ(S_OK, pDocument->SaveAs(m_wsPath));
  const std::vector<BYTE> saved = FileBytes(m_wsPath);
  std::wstring wsRead, wsWhy;
  ASSERT_EQ(S_OK, Sim::ReadPackage(GetParam(), saved, &wsRead, &wsWhy)) << wsWhy;
  EXPECT_EQ(wsText, wsRead);
  // Text that XML cannot carry is refused and the file stays as it was.
  pDocument->SetText(L"form feed \f");
  EXPECT_EQ(E_INVALIDARG, pDocument->SaveAs(m_wsPath));
  EXPECT_EQ(saved, FileBytes(m_wsPath));

  std::vector<BYTE> damaged = saved;
  const std::string sSales = "Sales";
  const auto itSales = std::search(damaged.begin(), damaged.end(), sSales.begin(), sSales.end());
  ASSERT_NE(damaged.end(), itSales);
  *itSales = 's';  // no longer what its CRC-32 says
  const EDocApp other = GetParam() == EDocApp::Word ? EDocApp::Excel : EDocApp::Word;
  std::vector<BYTE> otherPackage;
  ASSERT_EQ(S_OK, Sim::MakePackage(other, L"x", &otherPackage, &wsWhy));
  const std::vector<std::pair<std::vector<BYTE>, HRESULT>> files = {
      {damaged, HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)},
      {std::vector<BYTE>(saved.begin(), saved.end() - 1), HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)},
      {otherPackage, HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)}};
  for (const auto& [bytes, hrExpected] : files) {
    WriteBytes(m_wsPath, bytes);
    m_cpApp->m_log.clear();
    CSimDocument* pOpened = nullptr;
    EXPECT_EQ(hrExpected, m_cpApp->OpenDocument(m_wsPath, false, &pOpened));
    EXPECT_EQ(pDocument, m_cpApp->ActiveDocument());
    // The reason is logged next to the path.
    EXPECT_TRUE(std::any_of(m_cpApp->m_log.begin(), m_cpApp->m_log.end(),
                            [&](const std::wstring& ws) { return ws.rfind(L"Open " + m_wsPath + L": ", 0) == 0; }));
  }
}

INSTANTIATE_TEST_SUITE_P(Applications, SimOffice,
                         ::testing::Values(EDocApp::Word, EDocApp::Excel, EDocApp::PowerPoint));

}  // namespace
