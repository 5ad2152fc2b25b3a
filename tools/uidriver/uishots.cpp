// uishots: shows every dialog and wizard page of the module, and the signature line images, in
// each installed language and writes a PNG of each into a folder, for review of layout and texts. Runs in a prefix
// where the module is installed and the user has a certificate and a trusted contact (tools/uidriver-shots.sh). For
// demos it also plays one dialog or wizard.
//
//   uishots FOLDER
//   uishots --email-options            shows the e-mail options (English) for someone else to answer
//   uishots --backup FILE PASSWORD     answers the certificate wizard page by page, backing up to FILE
// A wait that runs out ends the program with exit code 1 and a line naming what it waited for
// and the windows open.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/support/SignatureObjects.h"
#include "UiDriver.h"
#include "documents/SignatureProvider.h"
#include "module/AddInModule.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "res/StringIds.h"
#include "ui/Dialogs.h"
#include "ui/DialogIds.h"
#include "ui/Wizards.h"

namespace {

std::wstring InstalledModule() {
  wchar_t wszFolder[MAX_PATH] = {};
  DWORD cbFolder = sizeof(wszFolder);
  RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora", L"VelmoraPath", RRF_RT_REG_SZ, nullptr, wszFolder, &cbFolder);
  return std::wstring(wszFolder) + L"\\VmOfcX.dll";
}

// Shows the dialog and saves its picture, with the tooltip of control nToolID when not 0; the
// dialog is then cancelled.
bool Shoot(CMuiDialogImpl& dialog, const std::wstring& wsFile, int nToolID = 0) {
  bool bSaved = false;
  std::thread driver([&] {
    HWND hDlg = UiDriver::WaitForDialog(GetCurrentProcessId(), L"");
    if (!hDlg) UiDriver::GiveUp(L"the dialog of " + wsFile);
    bSaved = nToolID ? UiDriver::SavePngWithToolTip(hDlg, nToolID, wsFile) : UiDriver::SavePng(hDlg, wsFile);
    PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
    if (!UiDriver::WaitUntilGone(hDlg)) UiDriver::GiveUp(L"the dialog of " + wsFile + L" to close on Cancel");
  });
  dialog.DoModal(nullptr);
  driver.join();
  wprintf(L"%ls %ls\n", bSaved ? L"wrote" : L"FAILED", wsFile.c_str());
  return bSaved;
}

// The user's default certificate as Base64 text, as a certificate authority's answer gives it.
std::wstring DefaultCertificateText(const CCertLibrary& certLib) {
  PCCERT_CONTEXT pCert = nullptr;
  if (FAILED(certLib.CM_GetMyCert(&pCert))) return std::wstring();
  DWORD cch = 0;
  CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64, nullptr, &cch);
  std::wstring wsText(cch, L'\0');
  CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64, wsText.data(), &cch);
  CertFreeCertificateContext(pCert);
  return wsText;
}

// Shows each page of the wizard in turn (without its checks) and saves its picture.
int ShootWizard(const std::function<HRESULT()>& run, UINT nTitleID, const std::wstring& wsPrefix) {
  int nFailures = 0;
  std::thread driver([&] {
    const std::wstring wsTitle = LoadResourceString(nTitleID);
    HWND hSheet = UiDriver::WaitForDialog(GetCurrentProcessId(), wsTitle);
    if (!hSheet) UiDriver::GiveUp(L"the wizard \"" + wsTitle + L"\"");
    const int nPages = UiDriver::SheetPageCount(hSheet);
    for (int i = 0; i < nPages; ++i) {
      if (!UiDriver::ShowSheetPage(hSheet, i)) UiDriver::GiveUp(L"page " + std::to_wstring(i + 1) + L" of " + wsTitle);
      const std::wstring wsFile = wsPrefix + std::to_wstring(i + 1) + L".png";
      const bool bSaved = UiDriver::SavePng(hSheet, wsFile);
      wprintf(L"%ls %ls\n", bSaved ? L"wrote" : L"FAILED", wsFile.c_str());
      nFailures += bSaved ? 0 : 1;
    }
    // Wine's wizard ignores Cancel on a page it was moved to without Next.
    UiDriver::ShowSheetPage(hSheet, 0);
    UiDriver::PressSheetButton(hSheet, PSBTN_CANCEL);
    if (!UiDriver::WaitUntilGone(hSheet)) UiDriver::GiveUp(L"the wizard \"" + wsTitle + L"\" to close on Cancel");
  });
  run();
  driver.join();
  return nFailures;
}

void Log(const std::wstring& wsLine) { wprintf(L"   %ls\n", wsLine.c_str()); }

// Answers the certificate wizard as a user who backs up to wsFile, page by page: Next on each
// page, the backup's path and password typed in, questions answered Yes, Finish on the last.
int PlayBackup(const CCertLibrary& certLib, const std::wstring& wsFile, const std::wstring& wsPassword) {
  const auto fillBackup = [&](HWND hPage) {
    UiDriver::SetText(hPage, IDC_BACKUP_PATH, wsFile);
    UiDriver::SetText(hPage, IDC_PASSWORD, wsPassword);
    UiDriver::SetText(hPage, IDC_PASSWORD_CONFIRM, wsPassword);
    Log(L"backup file \"" + wsFile + L"\", password typed twice");
  };
  const std::vector<UiDriver::SWizardPage> pages = {{L"new certificate", IDC_MAKE_DEFAULT, nullptr},
                                                    {L"backup", IDC_BACKUP_PATH, fillBackup},
                                                    {L"invitations", IDC_INVITE_LIST, nullptr, true},
                                                    {L"complete", IDC_COMPLETE_TEXT, nullptr}};
  std::thread driver([&] {
    const std::wstring wsTitle = LoadResourceString(IDS_CERT_WIZARD_TITLE);
    HWND hSheet = UiDriver::WaitForDialog(GetCurrentProcessId(), wsTitle);
    if (!hSheet) UiDriver::GiveUp(L"the wizard \"" + wsTitle + L"\"");
    Log(L"wizard \"" + wsTitle + L"\"");
    const std::wstring wsFailure = UiDriver::PlayWizard(hSheet, pages, Log);
    if (!wsFailure.empty()) UiDriver::Abandon(wsFailure);
  });
  BSTR bsRecipients = nullptr;
  const HRESULT hr =
      RunCertificateSuccessWizard(certLib, nullptr, DefaultCertificateText(certLib).c_str(), nullptr, &bsRecipients);
  driver.join();
  SysFreeString(bsRecipients);
  wprintf(L"The wizard ended with 0x%08X.\n", static_cast<unsigned>(hr));
  return SUCCEEDED(hr) ? 0 : 1;
}

// The line images of the four kinds, with long texts and with the fields that may be missing
// left out, each saved as a PNG.
int ShootLineImages(const std::wstring& wsPrefix) {
  using namespace SignatureFakes;
  CComPtr<Office::SignatureProvider> cpProvider;
  if (FAILED(CreateComObject<CSignatureProvider>(nullptr, Office::IID_SignatureProvider,
                                                 reinterpret_cast<void**>(&cpProvider))))
    return 1;
  CComPtr<CSetup> cpSetup = Make<CSetup>(), cpEmptySetup = Make<CSetup>();
  cpSetup->m_values[L"SuggestedSigner"] = CComVariant(L"Mia Example");
  cpSetup->m_values[L"SigningInstructions"] = CComVariant(L"Please check the figures on pages 3 to 5 before you sign.");
  cpSetup->m_values[L"ShowSignDate"] = CComVariant(true);
  CComPtr<CInfo> cpInfo = Make<CInfo>(), cpLongInfo = Make<CInfo>(), cpBareInfo = Make<CInfo>();
  cpInfo->m_values[L"SignatureText"] = CComVariant(L"Mia Example");
  cpInfo->m_values[L"SignatureComment"] = CComVariant(L"Director\nStrong protection: key unlocked with a password");
  cpInfo->SetSigningTime({2024, 5, 3, 1, 10, 0, 0, 0});
  cpLongInfo->m_values[L"SignatureText"] = CComVariant(L"Maximiliane Alexandra von Sonnenberg-Example");
  cpLongInfo->m_values[L"SignatureComment"] = CComVariant(
      L"Approved for the board of directors after the review of the annual report, the auditors' letter "
      L"and the minutes of the last three meetings, with the corrections agreed on the phone");
  cpLongInfo->SetSigningTime({2024, 12, 2, 31, 23, 59, 0, 0});
  cpBareInfo->m_values[L"SignatureText"] = CComVariant(L"Mia Example");
  struct SShot {
    const wchar_t* wszName;
    Office::SignatureLineImage kind;
    CSetup* pSetup;
    CInfo* pInfo;
  };
  const SShot shots[] = {
      {L"201-line-software-required", Office::siglnimgSoftwareRequired, nullptr, nullptr},
      {L"202-line-unsigned", Office::siglnimgUnsigned, cpSetup, nullptr},
      {L"202-line-unsigned-without-setup-texts", Office::siglnimgUnsigned, cpEmptySetup, nullptr},
      {L"203-line-signed-valid", Office::siglnimgSignedValid, cpSetup, cpInfo},
      {L"203-line-signed-valid-long-texts", Office::siglnimgSignedValid, cpSetup, cpLongInfo},
      {L"203-line-signed-valid-without-comment-and-date", Office::siglnimgSignedValid, cpEmptySetup, cpBareInfo},
      {L"204-line-signed-invalid", Office::siglnimgSignedInvalid, cpSetup, cpInfo},
  };
  int nFailures = 0;
  for (const SShot& shot : shots) {
    CComPtr<IPictureDisp> cpPictureDisp;
    CComPtr<IPicture> cpPicture;
    OLE_HANDLE hBitmap = 0;
    const std::wstring wsFile = wsPrefix + shot.wszName + L".png";
    const bool bSaved = SUCCEEDED(cpProvider->GenerateSignatureLineImage(shot.kind, shot.pSetup, shot.pInfo, nullptr,
                                                                         &cpPictureDisp)) &&
                        SUCCEEDED(cpPictureDisp->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&cpPicture))) &&
                        SUCCEEDED(cpPicture->get_Handle(&hBitmap)) &&
                        UiDriver::SaveBitmapPng(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(hBitmap)), wsFile);
    wprintf(L"%ls %ls\n", bSaved ? L"wrote" : L"FAILED", wsFile.c_str());
    nFailures += bSaved ? 0 : 1;
  }
  return nFailures;
}

// Shows the e-mail options for someone else to answer (uidriver), within a bound.
int ShowEmailOptions() {
  CEmailOptionsDialog email;
  std::thread watcher([] {
    HWND hDlg = UiDriver::WaitForDialog(GetCurrentProcessId(), L"");
    if (!hDlg) UiDriver::GiveUp(L"the e-mail options");
    if (!UiDriver::WaitUntilGone(hDlg, UiDriver::kPageWaitMs))
      UiDriver::GiveUp(L"someone to answer the e-mail options");
  });
  const INT_PTR nResult = email.DoModal(nullptr);
  watcher.join();
  wprintf(L"The e-mail options closed with %d.\n", static_cast<int>(nResult));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Whoever reads the output sees the last step reached, also when the process is ended.
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 2 && !(argc == 4 && std::wstring(argv[1]) == L"--backup")) {
    fputws(L"usage: uishots FOLDER | --email-options | --backup FILE PASSWORD\n", stderr);
    return 2;
  }
  const std::wstring wsFolder = argv[1];
  CAddInModule module({});
  const HMODULE hModule = LoadLibraryW(InstalledModule().c_str());
  if (!hModule) return 1;
  module.SetModuleInstance(hModule);
  if (wsFolder == L"--email-options") {
    module.SetResourceInstance(LoadResourceModule(hModule, 1033));
    return ShowEmailOptions();
  }
  OleInitialize(nullptr);
  const CCertLibrary certLib;
  if (wsFolder == L"--backup") {
    module.SetResourceInstance(LoadResourceModule(hModule, 1033));
    return PlayBackup(certLib, argv[2], argv[3]);
  }
  CreateDirectoryW(wsFolder.c_str(), nullptr);
  PCCERT_CONTEXT pContact = nullptr;
  {
    CLibraryMemory<PCCERT_CONTEXT> own(certLib);
    DWORD dwCount = 0;
    if (SUCCEEDED(certLib.CM_EnumMyCerts(0, own.Out(), &dwCount)) && dwCount) {
      pContact = CertDuplicateCertificateContext(own.Get()[0]);
      for (DWORD i = 0; i < dwCount; ++i) CertFreeCertificateContext(own.Get()[i]);
    }
  }
  const std::vector<PCCERT_CONTEXT> recipients =
      pContact ? std::vector<PCCERT_CONTEXT>{pContact} : std::vector<PCCERT_CONTEXT>{};
  int nFailures = 0;
  for (const auto& [wLanguage, wszName] : {std::pair<LANGID, const wchar_t*>{1033, L"en-US"}, {1031, L"de-DE"}}) {
    const HMODULE hSatellite = LoadResourceModule(hModule, wLanguage);
    if (!hSatellite) continue;
    module.SetResourceInstance(hSatellite);
    const std::wstring wsPrefix = wsFolder + L"\\" + wszName + L"-";
    BSTR bsSigner = SysAllocString(L"A. Signer"), bsInstructions = SysAllocString(L"Please check the figures.");
    VARIANT_BOOL bShowDate = VARIANT_TRUE, bAddTitle = VARIANT_FALSE;
    std::wstring wsLocale;
    CEmailOptionsDialog email;
    CDocumentOptionsDialog document(true), documentReduced(false);
    CSelectBuddyDialog selectBuddy(certLib, recipients);
    CInviteInstructionsDialog language(certLib, wsLocale);
    CEncryptionDetailsDialog details(certLib, recipients);
    CSignatureDetailsDialog signature(certLib, true, pContact, L"2024-05-01 10:00", L"Approved.\nSee page 2.");
    CSignatureSetupDialog setup(bsSigner, bsInstructions, bShowDate, bAddTitle);
    const std::pair<CMuiDialogImpl*, const wchar_t*> shots[] = {
        {&email, L"101-email-options"},
        {&document, L"102-document-options"},
        {&documentReduced, L"102-document-options-without-signature-lines"},
        {&selectBuddy, L"103-select-recipients"},
        {&language, L"104-invitation-language"},
        {&details, L"105-encryption-details"},
        {&signature, L"106-signature-details"},
        {&setup, L"113-signature-setup"}};
    for (const auto& [pDialog, wszShot] : shots) nFailures += Shoot(*pDialog, wsPrefix + wszShot + L".png") ? 0 : 1;
    CEmailOptionsDialog emailTip;
    nFailures += Shoot(emailTip, wsPrefix + L"101-email-options-tooltip.png", IDC_EMAIL_SEAL) ? 0 : 1;
    const std::wstring wsIssued = DefaultCertificateText(certLib);
    nFailures += ShootWizard(
        [&] {
          BSTR bsRecipients = nullptr;
          const HRESULT hr = RunCertificateSuccessWizard(certLib, nullptr, wsIssued.c_str(), nullptr, &bsRecipients);
          SysFreeString(bsRecipients);
          return hr;
        },
        IDS_CERT_WIZARD_TITLE, wsPrefix + L"wizard-certificate-page-");
    nFailures += ShootWizard(
        [&] {
          BSTR bsRecipients = nullptr;
          const HRESULT hr = RunInvitationSelectionWizard(certLib, nullptr, nullptr, &bsRecipients);
          SysFreeString(bsRecipients);
          return hr;
        },
        IDS_BATCH_INVITE_TITLE, wsPrefix + L"wizard-invitation-page-");
    nFailures += ShootLineImages(wsPrefix);
    SysFreeString(bsSigner);
    SysFreeString(bsInstructions);
    module.SetResourceInstance(nullptr);
    FreeLibrary(hSatellite);
  }
  if (pContact) CertFreeCertificateContext(pContact);
  return nFailures ? 1 : 0;
}
