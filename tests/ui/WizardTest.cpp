// The certificate-success wizard and the invitation-selection wizard, answered page by page.
#include <gmock/gmock.h>

#include <map>
#include <memory>

#include "SimOutlook.h"
#include "UiFixture.h"
// After <windows.h>, which it needs.
#include <versionhelpers.h>

#include "com/LateBound.h"
#include "com/Bstr.h"
#include "com/Variant.h"
#include "module/CertLibrary.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"
#include "ui/Wizards.h"
#include "../support/FileBytes.h"

namespace {

using namespace UiDriver;

// A late-bound object with fixed properties, and "Item(i)" giving the i-th (from 1) of its items:
// enough of an Outlook contacts folder, its Items collection and its contact items.
class CFakeObject : public IDispatch {
 public:
  CFakeObject& Set(const wchar_t* wszName, const CComVariant& value) {
    m_properties[wszName] = value;
    return *this;
  }
  CFakeObject& Add(CFakeObject* pItem) {
    m_items.emplace_back(pItem);
    return *this;
  }
  static CComVariant Object(IDispatch* pDisp) {
    CComVariant var;
    var.vt = VT_DISPATCH;
    var.pdispVal = pDisp;
    pDisp->AddRef();
    return var;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    return S_OK;
  }
  // Owned by the test; counting is not needed.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT, LCID, DISPID* rgDispId) override {
    const std::wstring wsName = rgszNames[0];
    if (wsName == L"Item") {
      *rgDispId = 0;
      return S_OK;
    }
    m_names.push_back(wsName);
    *rgDispId = static_cast<DISPID>(m_names.size());
    return m_properties.count(wsName) ? S_OK : DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispId, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO*,
                                   UINT*) override {
    if (dispId == 0) {
      CComVariant index;
      VariantCopy(&index, &pParams->rgvarg[0]);
      if (FAILED(index.ChangeType(VT_I4)) || index.lVal < 1 || index.lVal > static_cast<long>(m_items.size()))
        return DISP_E_BADINDEX;
      CComVariant item = Object(m_items[index.lVal - 1].get());
      return VariantCopy(pResult, &item);
    }
    return VariantCopy(pResult, &m_properties.at(m_names.at(dispId - 1)));
  }

 private:
  std::map<std::wstring, CComVariant> m_properties;
  std::vector<std::unique_ptr<CFakeObject>> m_items;
  std::vector<std::wstring> m_names;
};

CComVariant TextValue(const wchar_t* wsz) {
  CComVariant var;
  var.vt = VT_BSTR;
  var.bstrVal = SysAllocString(wsz);
  return var;
}

CComVariant Number(long l) {
  CComVariant var;
  var.vt = VT_I4;
  var.lVal = l;
  return var;
}

CFakeObject* Contact(const wchar_t* wszName, const wchar_t* wszEmail, const wchar_t* wszType) {
  auto* pContact = new CFakeObject;
  pContact->Set(L"Class", Number(40)).Set(L"FullName", TextValue(wszName));
  pContact->Set(L"Email1Address", TextValue(wszEmail)).Set(L"Email1AddressType", TextValue(wszType));
  return pContact;
}

std::wstring Base64(PCCERT_CONTEXT pCert) {
  DWORD cch = 0;
  CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64, nullptr, &cch);
  std::wstring ws(cch, L'\0');
  CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64, ws.data(), &cch);
  ws.resize(cch);
  return ws;
}

// Next on the selection page of the invitation-selection wizard, then Finish.
void FinishSelection(HWND hSheet) {
  PressSheetButton(hSheet, PSBTN_NEXT);
  ASSERT_TRUE(WaitForSheetPage(hSheet, 1));
  PressSheetButton(hSheet, PSBTN_FINISH);
}

class WizardTest : public CUiTest {
 protected:
  void SetUp() override {
    CUiTest::SetUp();
    ForgetUserCertificates();
    ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"me@tessaly.test", L"Me"));
    wchar_t wszTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszTemp);
    m_wsFolder = std::wstring(wszTemp) + L"vmofcx-wizard";
    RemoveFolder(m_wsFolder);
  }
  void TearDown() override {
    RemoveFolder(m_wsFolder);
    CUiTest::TearDown();
  }

  static void RemoveFolder(const std::wstring& wsFolder) { RunProgram(L"cmd /c rd /s /q \"" + wsFolder + L"\""); }

  // The user's own certificates, the current default first.
  std::vector<std::wstring> OwnCertificatesBase64() const {
    std::vector<std::wstring> result;
    PCCERT_CONTEXT pDefault = nullptr;
    if (SUCCEEDED(m_certLib.CM_GetMyCert(&pDefault))) {
      result.push_back(Base64(pDefault));
      CertFreeCertificateContext(pDefault);
    }
    CLibraryMemory<PCCERT_CONTEXT> certs(m_certLib);
    DWORD dwCount = 0;
    if (SUCCEEDED(m_certLib.CM_EnumMyCerts(0, certs.Out(), &dwCount)))
      for (DWORD i = 0; i < dwCount; ++i) {
        const std::wstring ws = Base64(certs.Get()[i]);
        if (std::find(result.begin(), result.end(), ws) == result.end()) result.push_back(ws);
        CertFreeCertificateContext(certs.Get()[i]);
      }
    return result;
  }

  // Runs a wizard on this thread while drive answers it; a wizard left open is cancelled.
  template <class TRun>
  HRESULT RunWizardDriven(TRun run, const std::function<void(HWND)>& drive) {
    std::thread driver([&] {
      HWND hSheet = WaitForDialog(GetCurrentProcessId(), L"");
      if (!hSheet) GiveUp(L"the wizard of the test");
      drive(hSheet);
      CloseLeftOpen(hSheet, PSM_PRESSBUTTON, PSBTN_CANCEL);
    });
    const HRESULT hr = run();
    driver.join();
    return hr;
  }

  // Presses Next and answers the message box that comes, returning its text.
  static std::wstring NextAnswering(HWND hSheet, int nAnswer) {
    PressSheetButton(hSheet, PSBTN_NEXT);
    HWND hBox = WaitForOwnedDialog(hSheet, 5000);
    if (!hBox) return L"(no message)";
    const std::wstring wsText = StaticTexts(hBox);
    Click(hBox, nAnswer);
    WaitUntilGone(hBox);
    return wsText;
  }

  static void FillBackup(HWND hPage, const std::wstring& wsPath, const wchar_t* wszPassword,
                         const wchar_t* wszConfirmation) {
    SetText(hPage, IDC_BACKUP_PATH, wsPath);
    SetText(hPage, IDC_PASSWORD, wszPassword);
    SetText(hPage, IDC_PASSWORD_CONFIRM, wszConfirmation);
  }

  HRESULT RunCertificateWizard(const std::wstring& wsIssued, IDispatch* pFolder, const std::function<void(HWND)>& drive,
                               BSTR* pbsRecipients = nullptr) {
    CComBSTR bsRecipients;
    const HRESULT hr = RunWizardDriven(
        [&] { return RunCertificateSuccessWizard(m_certLib, nullptr, wsIssued.c_str(), pFolder, &bsRecipients); },
        drive);
    if (pbsRecipients) *pbsRecipients = bsRecipients.Detach();
    return hr;
  }

  const CCertLibrary m_certLib;
  std::wstring m_wsFolder;
};

std::wstring Line(UINT nID) { return LoadResourceString(nID) + L"\n"; }

TEST_F(WizardTest, BackupPageRefusesBadPasswordsAndIncompletePaths) {
  const std::wstring wsPath = m_wsFolder + L"\\mine.vmpsm";
  const HRESULT hr = RunCertificateWizard(OwnCertificatesBase64().front(), nullptr, [&](HWND hSheet) {
    // One certificate: it becomes the default without asking.
    EXPECT_FALSE(IsVisible(SheetPage(hSheet), IDC_MAKE_DEFAULT));
    PressSheetButton(hSheet, PSBTN_NEXT);
    ASSERT_TRUE(WaitForSheetPage(hSheet, 1));
    HWND hPage = SheetPage(hSheet);
    EXPECT_EQ(LoadResourceString(IDS_BACKUP_INTRO), Text(hPage, IDC_PAGE_CAPTION));
    const struct {
      std::wstring wsPath;
      const wchar_t* wszPassword;
      const wchar_t* wszConfirmation;
      UINT nMessage;
    } cases[] = {{wsPath, L"", L"", IDS_MSG_PASSWORD_EMPTY},
                 {wsPath, L"secret1", L"", IDS_MSG_PASSWORD_MISMATCH},
                 {wsPath, L"secret1", L"secret2", IDS_MSG_PASSWORD_MISMATCH},
                 {wsPath, L"abcde", L"abcde", IDS_MSG_PASSWORD_SHORT},
                 {L"mine.vmpsm", L"secret1", L"secret1", IDS_MSG_BACKUP_PATH_INCOMPLETE}};
    for (const auto& check : cases) {
      FillBackup(hPage, check.wsPath, check.wszPassword, check.wszConfirmation);
      EXPECT_EQ(Line(check.nMessage), NextAnswering(hSheet, IDOK))
          << check.wszPassword << L"/" << check.wszConfirmation;
      EXPECT_EQ(1, SheetPageIndex(hSheet));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_wsFolder.c_str()));
    PressSheetButton(hSheet, PSBTN_CANCEL);
  });
  EXPECT_EQ(E_ABORT, hr);
}

TEST_F(WizardTest, BackupGetsItsExtensionCreatesTheFolderAndAsksBeforeReplacing) {
  const std::wstring wsIssued = OwnCertificatesBase64().front();
  const std::wstring wsBackup = m_wsFolder + L"\\keys\\mine.vmpsm";
  CComBSTR bsRecipients;
  HRESULT hr = RunCertificateWizard(
      wsIssued, nullptr,
      [&](HWND hSheet) {
        PressSheetButton(hSheet, PSBTN_NEXT);
        ASSERT_TRUE(WaitForSheetPage(hSheet, 1));
        HWND hPage = SheetPage(hSheet);
        FillBackup(hPage, m_wsFolder + L"\\keys\\mine.txt", L"secret1", L"secret1");
        EXPECT_EQ(Line(IDS_MSG_CREATE_FOLDER), NextAnswering(hSheet, IDNO));
        EXPECT_EQ(1, SheetPageIndex(hSheet));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_wsFolder.c_str()));
        EXPECT_EQ(Line(IDS_MSG_CREATE_FOLDER), NextAnswering(hSheet, IDYES));
        // No trusted contacts and no folder: the last page follows the backup.
        ASSERT_TRUE(WaitForSheetPage(hSheet, 2));
        EXPECT_EQ(wsBackup, Text(hPage, IDC_BACKUP_PATH));
        EXPECT_EQ(LoadResourceString(IDS_INVITATION_COMPLETE), Text(SheetPage(hSheet), IDC_COMPLETE_TEXT));
        // Back and Next again: the file is there now.
        PressSheetButton(hSheet, PSBTN_BACK);
        ASSERT_TRUE(WaitForSheetPage(hSheet, 1));
        EXPECT_EQ(Line(IDS_MSG_REPLACE_FILE), NextAnswering(hSheet, IDYES));
        ASSERT_TRUE(WaitForSheetPage(hSheet, 2));
        PressSheetButton(hSheet, PSBTN_FINISH);
      },
      &bsRecipients);
  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ(nullptr, static_cast<BSTR>(bsRecipients));
  // The contents and the password are checked with OpenSSL (tests/interop).
  const std::vector<BYTE> first = ReadFileBytes(wsBackup);
  CRYPT_DATA_BLOB blob = {static_cast<DWORD>(first.size()), const_cast<BYTE*>(first.data())};
  ASSERT_TRUE(PFXIsPFXBlob(&blob));

  // A second backup to the same file, typed without an extension.
  hr = RunCertificateWizard(wsIssued, nullptr, [&](HWND hSheet) {
    PressSheetButton(hSheet, PSBTN_NEXT);
    ASSERT_TRUE(WaitForSheetPage(hSheet, 1));
    FillBackup(SheetPage(hSheet), m_wsFolder + L"\\keys\\mine", L"other-secret", L"other-secret");
    EXPECT_EQ(Line(IDS_MSG_REPLACE_FILE), NextAnswering(hSheet, IDNO));
    EXPECT_EQ(1, SheetPageIndex(hSheet));
    EXPECT_EQ(Line(IDS_MSG_REPLACE_FILE), NextAnswering(hSheet, IDYES));
    ASSERT_TRUE(WaitForSheetPage(hSheet, 2));
    PressSheetButton(hSheet, PSBTN_FINISH);
  });
  EXPECT_EQ(S_OK, hr);
  const std::vector<BYTE> second = ReadFileBytes(wsBackup);
  blob = {static_cast<DWORD>(second.size()), const_cast<BYTE*>(second.data())};
  EXPECT_TRUE(PFXIsPFXBlob(&blob));
  EXPECT_NE(first, second);
}

TEST_F(WizardTest, WithSeveralCertificatesTheUserChoosesWhetherTheNewOneBecomesTheDefault) {
  ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"me@tessaly.test", L"Me Too"));
  const std::vector<std::wstring> before = OwnCertificatesBase64();
  ASSERT_EQ(2u, before.size());
  const std::wstring& wsIssued = before[1];
  for (const bool bMakeDefault : {false, true}) {
    const HRESULT hr = RunCertificateWizard(wsIssued, nullptr, [&](HWND hSheet) {
      HWND hPage = SheetPage(hSheet);
      EXPECT_TRUE(IsVisible(hPage, IDC_MAKE_DEFAULT));
      EXPECT_TRUE(IsChecked(hPage, IDC_MAKE_DEFAULT));
      UiDriver::SetChecked(hPage, IDC_MAKE_DEFAULT, bMakeDefault);
      PressSheetButton(hSheet, PSBTN_NEXT);
      ASSERT_TRUE(WaitForSheetPage(hSheet, 1));
      PressSheetButton(hSheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(E_ABORT, hr);
    EXPECT_EQ(bMakeDefault ? wsIssued : before[0], OwnCertificatesBase64().front()) << bMakeDefault;
  }
}

TEST_F(WizardTest, SelectionOffersValidContactsAndFolderContactsAndReturnsTheCheckedAddresses) {
  CCertificateList contacts;
  IssueContact(contacts, L"alice@tessaly.test", L"Alice", false);
  IssueContact(contacts, L"carol@tessaly.test", L"Carol", true);
  CFakeObject folder, items;
  items.Add(Contact(L"Zoe", L"zoe@tessaly.test", L"SMTP"))
      .Add(Contact(L"Alice Again", L"ALICE@tessaly.test", L"SMTP"))
      .Add(Contact(L"Xaver", L"/o=Org/cn=xaver", L"EX"))
      .Add(Contact(L"Nobody", L"", L"SMTP"))
      .Add(&(new CFakeObject)->Set(L"Class", Number(43)));
  items.Set(L"Count", Number(5));
  folder.Set(L"Items", CFakeObject::Object(&items));

  CComBSTR bsRecipients;
  const HRESULT hr =
      RunWizardDriven([&] { return RunInvitationSelectionWizard(m_certLib, nullptr, &folder, &bsRecipients); },
                      [&](HWND hSheet) {
                        EXPECT_EQ(LoadResourceString(IDS_BATCH_INVITE_TITLE), WindowText(hSheet));
                        HWND hPage = SheetPage(hSheet);
                        HWND hList = GetDlgItem(hPage, IDC_INVITE_LIST);
                        ASSERT_EQ(2, ListRowCount(hList));
                        EXPECT_EQ(L"alice@tessaly.test", ListText(hList, 0, 1));
                        EXPECT_EQ(L"Zoe", ListText(hList, 1, 0));
                        EXPECT_EQ(L"zoe@tessaly.test", ListText(hList, 1, 1));
                        EXPECT_EQ(Line(IDS_MSG_NOBODY_CHOSEN), NextAnswering(hSheet, IDNO));
                        EXPECT_EQ(0, SheetPageIndex(hSheet));
                        Click(hPage, IDC_SELECT_ALL);
                        EXPECT_TRUE(ListIsChecked(hList, 0) && ListIsChecked(hList, 1));
                        Click(hPage, IDC_SELECT_NONE);
                        EXPECT_FALSE(ListIsChecked(hList, 0) || ListIsChecked(hList, 1));
                        Click(hPage, IDC_SELECT_ALL);
                        FinishSelection(hSheet);
                      });
  EXPECT_EQ(S_OK, hr);
  EXPECT_STREQ(L"alice@tessaly.test; zoe@tessaly.test", bsRecipients.c_str());
}

TEST_F(WizardTest, SelectionLooksUpTheAddressOfAContactOfAnotherTypeInTheAddressBook) {
  CCertificateList contacts;
  IssueContact(contacts, L"alice@tessaly.test", L"Alice", false);
  Sim::SOutlookOptions options;
  options.wsProfilePath = m_wsFolder + L".profile";
  CComPtr<Sim::COutlook> cpOutlook;
  cpOutlook.Attach(new Sim::COutlook(options));
  const Sim::SContact folderContacts[] = {
      {L"Xaver", L"EX", L"/o=Org/cn=xaver", L"xaver@tessaly.test", L"/o=Org/cn=xaver"},
      // An entry without an SMTP address gives its e-mail address.
      {L"Yvonne", L"X400", L"c=de;s=yvonne", L"", L"yvonne@tessaly.test"},
      // Nothing in the address book: not offered.
      {L"Walter", L"EX", L"/o=Org/cn=walter", L"", L""},
      // Offered already, as a trusted contact and as a looked-up address.
      {L"Alice at work", L"EX", L"/o=Org/cn=alice", L"Alice@Tessaly.test", L""},
      {L"Xaver at home", L"SMTP", L"XAVER@tessaly.test", L"", L""},
  };
  for (const Sim::SContact& contact : folderContacts) ASSERT_EQ(S_OK, cpOutlook->AddContact(contact));
  CComVariant varFolder;
  VARIANT varKind = {};
  varKind.vt = VT_I4;
  varKind.lVal = 10;  // olFolderContacts
  ASSERT_EQ(S_OK, LateBound::Call(cpOutlook->NameSpace(), L"GetDefaultFolder", {varKind}, &varFolder));
  ASSERT_EQ(VT_DISPATCH, varFolder.vt);

  CComBSTR bsRecipients;
  const HRESULT hr = RunWizardDriven(
      [&] { return RunInvitationSelectionWizard(m_certLib, nullptr, varFolder.pdispVal, &bsRecipients); },
      [&](HWND hSheet) {
        HWND hPage = SheetPage(hSheet);
        HWND hList = GetDlgItem(hPage, IDC_INVITE_LIST);
        std::vector<std::wstring> rows;
        for (int i = 0; i < ListRowCount(hList); ++i)
          rows.push_back(ListText(hList, i, 0) + L" " + ListText(hList, i, 1));
        EXPECT_EQ((std::vector<std::wstring>{L"Alice alice@tessaly.test", L"Xaver xaver@tessaly.test",
                                             L"Yvonne yvonne@tessaly.test"}),
                  rows);
        Click(hPage, IDC_SELECT_ALL);
        FinishSelection(hSheet);
      });
  EXPECT_EQ(S_OK, hr);
  EXPECT_STREQ(L"alice@tessaly.test; xaver@tessaly.test; yvonne@tessaly.test", bsRecipients.c_str());
  DeleteFileW(options.wsProfilePath.c_str());
}

TEST_F(WizardTest, CertificateWizardOffersTheSelectionWhenThereAreContacts) {
  CCertificateList contacts;
  IssueContact(contacts, L"alice@tessaly.test", L"Alice", false);
  const std::wstring wsIssued = OwnCertificatesBase64().front();
  CComBSTR bsRecipients;
  const HRESULT hr = RunCertificateWizard(
      wsIssued, nullptr,
      [&](HWND hSheet) {
        EXPECT_EQ(LoadResourceString(IDS_CERT_WIZARD_TITLE), WindowText(hSheet));
        PressSheetButton(hSheet, PSBTN_NEXT);
        ASSERT_TRUE(WaitForSheetPage(hSheet, 1));
        FillBackup(SheetPage(hSheet), m_wsFolder + L"\\mine", L"secret1", L"secret1");
        EXPECT_EQ(Line(IDS_MSG_CREATE_FOLDER), NextAnswering(hSheet, IDYES));
        ASSERT_TRUE(WaitForSheetPage(hSheet, 2));
        HWND hList = GetDlgItem(SheetPage(hSheet), IDC_INVITE_LIST);
        ASSERT_EQ(1, ListRowCount(hList));
        ListClickCheckBox(hList, 0);
        PressSheetButton(hSheet, PSBTN_NEXT);
        ASSERT_TRUE(WaitForSheetPage(hSheet, 3));
        PressSheetButton(hSheet, PSBTN_FINISH);
      },
      &bsRecipients);
  EXPECT_EQ(S_OK, hr);
  EXPECT_STREQ(L"alice@tessaly.test", bsRecipients.c_str());
}

// The play the demo uses: page by page, Next where the wizard offers it, Finish on the last; a
// play that expects another page than the wizard shows fails with the windows open.
TEST_F(WizardTest, APlayGoesPageByPageAndFailsOnAPageItDidNotExpect) {
  CCertificateList contacts;
  IssueContact(contacts, L"alice@tessaly.test", L"Alice", false);
  const std::wstring wsIssued = OwnCertificatesBase64().front();
  const auto fillBackup = [&](HWND hPage) { FillBackup(hPage, m_wsFolder + L"\\mine", L"secret1", L"secret1"); };
  std::vector<std::wstring> log;
  const auto record = [&](const std::wstring& wsLine) { log.push_back(wsLine); };
  std::wstring wsFailure = L"(not played)";
  const std::vector<SWizardPage> pages = {{L"new certificate", IDC_MAKE_DEFAULT, nullptr},
                                          {L"backup", IDC_BACKUP_PATH, fillBackup},
                                          {L"invitations", IDC_INVITE_LIST, nullptr, true},
                                          {L"complete", IDC_COMPLETE_TEXT, nullptr}};
  EXPECT_EQ(S_OK, RunCertificateWizard(wsIssued, nullptr,
                                       [&](HWND hSheet) { wsFailure = PlayWizard(hSheet, pages, record); }));
  EXPECT_EQ(L"", wsFailure);
  EXPECT_EQ((std::vector<std::wstring>{L"page 1 \"Your New Certificate\" (new certificate): Next",
                                       L"page 2 \"Certificate Backup\" (backup): Next",
                                       L"question, answered Yes: The folder does not exist. Create it?",
                                       L"page 3 \"Invite Contacts\" (invitations): Next",
                                       L"question, answered Yes: You have not chosen anyone to invite. "
                                       L"Continue without sending invitations?",
                                       L"page 4 \"Invitation\" (complete): Finish"}),
            log);

  // Without the backup page the play stops where the wizard shows it, and leaves it open.
  const std::vector<SWizardPage> wrong = {{L"new certificate", IDC_MAKE_DEFAULT, nullptr},
                                          {L"complete", IDC_COMPLETE_TEXT, nullptr}};
  EXPECT_EQ(E_ABORT, RunCertificateWizard(wsIssued, nullptr, [&](HWND hSheet) {
              wsFailure = PlayWizard(hSheet, wrong, record);
              EXPECT_TRUE(IsWindowVisible(hSheet));
            }));
  EXPECT_THAT(wsFailure, ::testing::StartsWith(L"FAILED: the wizard shows page \"Certificate Backup\" where "
                                               L"\"complete\" was expected\nwindows open:\n"));
  // Wine titles a wizard after its current page.
  EXPECT_THAT(wsFailure, ::testing::HasSubstr(L"  ui_tests.exe (process "));
  EXPECT_THAT(wsFailure, ::testing::HasSubstr(L": #32770 \"Certificate Backup\", page 2 of 4 \"Certificate Backup\", "
                                              L"buttons < Back | Next > | Cancel\n"));
}

TEST_F(WizardTest, EveryPageHasTheGermanTooltipsOfItsOwnControls) {
  CCertificateList contacts;
  IssueContact(contacts, L"alice@tessaly.test", L"Alice", false);
  UseLanguage(kGermanGermany);
  std::vector<std::map<int, std::wstring>> pages;
  RunCertificateWizard(OwnCertificatesBase64().front(), nullptr, [&](HWND hSheet) {
    // Shown in turn without their checks; a page makes its controls when first shown.
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(ShowSheetPage(hSheet, i));
      pages.push_back(ToolTips(SheetPage(hSheet)));
    }
    ASSERT_TRUE(ShowSheetPage(hSheet, 1));
    EXPECT_EQ(pages[1][IDC_PASSWORD], HoverToolTip(SheetPage(hSheet), IDC_PASSWORD));
    // Wine's wizard ignores Cancel on a page it was moved to without Next.
    ShowSheetPage(hSheet, 0);
    PressSheetButton(hSheet, PSBTN_CANCEL);
  });
  ASSERT_EQ(4u, pages.size());
  // The check box is hidden with one certificate, yet its tip is there for when it shows.
  EXPECT_EQ((std::map<int, std::wstring>{
                {IDC_MAKE_DEFAULT, L"Macht das neue Zertifikat zu dem, mit dem Tessaly signiert und verschlüsselt."}}),
            pages[0]);
  EXPECT_EQ(4u, pages[1].size());
  EXPECT_EQ(L"Ordner und Namen der Sicherungsdatei auswählen.", pages[1][IDC_BROWSE]);
  for (int nID : {IDC_BACKUP_PATH, IDC_PASSWORD, IDC_PASSWORD_CONFIRM}) EXPECT_FALSE(pages[1][nID].empty()) << nID;
  EXPECT_EQ(3u, pages[2].size());
  EXPECT_EQ(L"Markiert alle Korrespondenten der Liste.", pages[2][IDC_SELECT_ALL]);
  for (int nID : {IDC_INVITE_LIST, IDC_SELECT_NONE}) EXPECT_FALSE(pages[2][nID].empty()) << nID;
  // The last page has texts only.
  EXPECT_TRUE(pages[3].empty());
}

}  // namespace

// Where the sheet puts its pages: below the brand's header in a wizard-97 sheet, at the top otherwise.
int PageTop(HWND hSheet) {
  RECT rcPage = {};
  GetWindowRect(SheetPage(hSheet), &rcPage);
  POINT ptTop = {rcPage.left, rcPage.top};
  ScreenToClient(hSheet, &ptTop);
  return ptTop.y;
}

// Systems before version 6 get a wizard-97 sheet with the brand's header bitmap. The platform
// reports 6.1 here, so the test runs again in a copy of this program that it takes for 5.2.
TEST_F(WizardTest, BeforeVersion6TheWizardIsAWizard97SheetWithTheBrandHeader) {
  constexpr int kHeaderHeight = 40;
  int nPageTop = -1;
  RunCertificateWizard(OwnCertificatesBase64().front(), nullptr, [&](HWND hSheet) {
    nPageTop = PageTop(hSheet);
    PressSheetButton(hSheet, PSBTN_CANCEL);
  });
  if (!IsWindowsVistaOrGreater()) {
    EXPECT_GE(nPageTop, kHeaderHeight);
    return;
  }
  EXPECT_GE(nPageTop, 0);
  EXPECT_LT(nPageTop, kHeaderHeight);
  // Beside this program, where the test tools are found.
  wchar_t wszSelf[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszSelf, MAX_PATH);
  const std::wstring wsSelf = wszSelf;
  const std::wstring wsCopy = wsSelf.substr(0, wsSelf.rfind(L'\\') + 1) + L"ui_tests_version5.exe";
  ASSERT_TRUE(CopyFileW(wszSelf, wsCopy.c_str(), FALSE));
  constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\ui_tests_version5.exe";
  constexpr wchar_t kVersion[] = L"winxp64";
  RegSetKeyValueW(HKEY_CURRENT_USER, kAppDefaults, L"Version", REG_SZ, kVersion, sizeof(kVersion));
  EXPECT_EQ(0u, RunProgram(L"\"" + wsCopy + L"\" --gtest_filter=WizardTest.BeforeVersion6*"));
  RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
  DeleteFileW(wsCopy.c_str());
}
