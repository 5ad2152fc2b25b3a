// The document operations on the simulated Word, Excel and PowerPoint with the installed
// module's encryption provider: encryption turned on through the object model, Office's
// encryption command for a document that uses the provider, and the refusals the user is told of.
#include <memory>

#include "../../sim/host/SimOffice.h"
#include "UiFixture.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "documents/DocumentOperations.h"
#include "res/StringIds.h"

namespace {

using namespace UiDriver;
using Sim::EDocApp;

constexpr wchar_t kPolicyKey[] =
    L"SOFTWARE\\Policies\\Velmora\\PolicyService\\Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}";

class DocumentOperationsTest : public CUiTest, public ::testing::WithParamInterface<EDocApp> {
 protected:
  void SetUp() override {
    CUiTest::SetUp();
    ForgetUserSettings();
    ForgetUserCertificates();
    ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"me@tessaly.test", L"Me"));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Sim::SOfficeOptions options;
    options.app = GetParam();
    options.onlyAddIns = {L"VmOfcX.EncryptionProvider", L"VmOfcX.SignatureProvider"};
    m_cpApp.Attach(new Sim::COfficeApp(options));
    ASSERT_EQ(S_OK, m_cpApp->Start());
    ASSERT_EQ(2u, m_cpApp->AddIns().size()) << "the module's providers are not registered";
    switch (GetParam()) {
      case EDocApp::Word:
        m_pOperations = std::make_unique<CWordOperations>();
        break;
      case EDocApp::Excel:
        m_pOperations = std::make_unique<CExcelOperations>();
        break;
      case EDocApp::PowerPoint:
        m_pOperations = std::make_unique<CPowerPointOperations>();
        break;
    }
    wchar_t wszFolder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszFolder);
    m_wsPath = std::wstring(wszFolder) + L"operations-test.bin";
  }
  void TearDown() override {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"EncryptionPolicyMSO");
    m_pOperations.reset();
    m_cpApp.Release();
    DeleteFileW(m_wsPath.c_str());
    CoUninitialize();
    CUiTest::TearDown();
  }

  Sim::CSimDocument* NewDocument() {
    Sim::CSimDocument* pDocument = nullptr;
    EXPECT_EQ(S_OK, m_cpApp->NewDocument(L"Figures of the north", &pDocument));
    return pDocument;
  }
  // ApplySecurity while drive answers the dialog or box it shows.
  HRESULT Apply(Sim::CSimDocument* pDocument, DWORD dwFlags, const std::function<void(HWND)>& drive) {
    HRESULT hr = E_UNEXPECTED;
    RunDrivenCall(
        [&] {
          hr = m_pOperations->ApplySecurity(pDocument->Window(), dwFlags);
          return INT_PTR{0};
        },
        drive);
    return hr;
  }
  // Applies encryption and expects exactly the message nTextID, leaving the document as it was.
  void ExpectRefused(Sim::CSimDocument* pDocument, UINT nTextID) {
    std::wstring wsMessage;
    EXPECT_EQ(S_OK, Apply(pDocument, kSecurityEncryptOnly, [&](HWND hBox) {
                wsMessage = StaticTexts(hBox);
                Click(hBox, IDOK);
              }));
    EXPECT_NE(std::wstring::npos, wsMessage.find(LoadResourceString(nTextID))) << wsMessage;
    EXPECT_EQ(L"", pDocument->Provider());
  }
  bool Logged(const std::wstring& ws) const {
    return std::any_of(m_cpApp->m_log.begin(), m_cpApp->m_log.end(),
                       [&](const std::wstring& wsLine) { return wsLine.find(ws) != std::wstring::npos; });
  }

  CComPtr<Sim::COfficeApp> m_cpApp;
  std::unique_ptr<CDocumentOperations> m_pOperations;
  std::wstring m_wsPath;
};

TEST_P(DocumentOperationsTest, EncryptTurnsOnTheProviderAndAgainOpensItsSettingsThroughOfficesCommand) {
  Sim::CSimDocument* pDocument = NewDocument();
  // The provider's new session asks for the recipients.
  EXPECT_EQ(S_OK, Apply(pDocument, kSecurityEncryptOnly, [](HWND hDlg) { Click(hDlg, IDOK); }));
  EXPECT_EQ(kEncryptionProviderId, pDocument->Provider());
  EXPECT_TRUE(Logged(L"SetPasswordEncryptionOptions {0F9A36C7-8501-4224-A39D-054EF270C86F} 3DES 168"));
  EXPECT_TRUE(Logged(L"NewSession 0x00000000 handle 0"));
  // Encrypted by the module already: the settings of the same session, no second one.
  EXPECT_EQ(S_OK,
            Apply(pDocument, kSecurityEncryptOnly | kSecuritySignAndEncrypt, [](HWND hDlg) { Click(hDlg, IDOK); }));
  EXPECT_TRUE(Logged(L"ExecuteMso FileDocumentEncrypt"));
  EXPECT_TRUE(Logged(L"ShowSettings 0x00000000 remove no"));
  EXPECT_FALSE(Logged(L"handle 1"));
  EXPECT_EQ(S_OK, pDocument->SaveAs(m_wsPath));
  EXPECT_TRUE(Logged(L"EncryptStream 0x00000000"));
}

// Word and Excel sign without a line when the flags say so, PowerPoint always.
TEST_P(DocumentOperationsTest, SigningAddsTheModulesSignatureAndAsksBeforeSigningAgain) {
  Sim::CSimDocument* pDocument = NewDocument();
  ASSERT_EQ(S_OK, pDocument->SaveAs(m_wsPath));
  const DWORD dwFlags = GetParam() == EDocApp::PowerPoint ? 0 : kSecurityNoSignatureLine;
  // The provider tells the user that the signature was added.
  EXPECT_EQ(S_OK, Apply(pDocument, dwFlags, [](HWND hBox) { Click(hBox, IDOK); }));
  CComVariant varSignatures, varCount, varSignature, varLine;
  ASSERT_EQ(S_OK, LateBound::GetProperty(pDocument, L"Signatures", &varSignatures));
  ASSERT_EQ(S_OK, LateBound::GetProperty(varSignatures.pdispVal, L"Count", &varCount));
  EXPECT_EQ(1, varCount.lVal);
  ASSERT_EQ(S_OK, LateBound::GetProperty(varSignatures.pdispVal, L"Item", &varSignature, {CComVariant(LONG{1})}));
  ASSERT_EQ(S_OK, LateBound::GetProperty(varSignature.pdispVal, L"IsSignatureLine", &varLine));
  EXPECT_EQ(VARIANT_FALSE, varLine.boolVal);
  // Signed by the module already: No shows the signatures pane and adds nothing.
  std::wstring wsQuestion;
  EXPECT_EQ(S_OK, Apply(pDocument, dwFlags, [&](HWND hBox) {
              wsQuestion = StaticTexts(hBox);
              Click(hBox, IDNO);
            }));
  EXPECT_NE(std::wstring::npos, wsQuestion.find(LoadResourceString(IDS_MSG_SIGN_AGAIN))) << wsQuestion;
  EXPECT_TRUE(Logged(L"Signatures pane shown"));
  varCount.Clear();
  ASSERT_EQ(S_OK, LateBound::GetProperty(varSignatures.pdispVal, L"Count", &varCount));
  EXPECT_EQ(1, varCount.lVal);
}

TEST_P(DocumentOperationsTest, PolicyPasswordFormatAndReadOnlyRefuseWithTheirMessage) {
  Sim::CSimDocument* pDocument = NewDocument();
  const DWORD dwForbidden = 1;
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"EncryptionPolicyMSO", REG_DWORD,
                                           &dwForbidden, sizeof(dwForbidden)));
  ExpectRefused(pDocument, IDS_MSG_POLICY_NO_DOCUMENT_ENCRYPTION);
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"EncryptionPolicyMSO");

  ASSERT_EQ(S_OK, LateBound::PutProperty(pDocument, L"Password", CComVariant(L"secret")));
  ExpectRefused(pDocument, IDS_MSG_PASSWORD_PROTECTED);
  ASSERT_EQ(S_OK, LateBound::PutProperty(pDocument, L"Password", CComVariant(L"")));

  // Word's 97-2003 document (0) and Excel's 97-2003 workbook (56); PowerPoint does not check.
  if (GetParam() != EDocApp::PowerPoint) {
    const LONG lOldFormat = GetParam() == EDocApp::Word ? 0 : 56;
    ASSERT_EQ(S_OK, LateBound::Call(pDocument, L"SaveAs", {CComVariant(m_wsPath.c_str()), CComVariant(lOldFormat)}));
    ExpectRefused(pDocument, IDS_MSG_FORMAT_NOT_SUPPORTED);
  }

  ASSERT_EQ(S_OK, pDocument->SaveAs(m_wsPath));
  Sim::CSimDocument* pReadOnly = nullptr;
  ASSERT_EQ(S_OK, m_cpApp->OpenDocument(m_wsPath, true, &pReadOnly));
  ExpectRefused(pReadOnly, IDS_MSG_READ_ONLY);
  EXPECT_FALSE(Logged(L"NewSession"));
}

std::string AppName(const ::testing::TestParamInfo<EDocApp>& info) {
  constexpr const char* kNames[] = {"Word", "Excel", "PowerPoint"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Applications, DocumentOperationsTest,
                         ::testing::Values(EDocApp::Word, EDocApp::Excel, EDocApp::PowerPoint), AppName);

}  // namespace
