// uishots: shows every dialog of the module in each installed language and writes a PNG of
// each into a folder, for review of layout and texts. Runs in a prefix where the module is
// installed and the user has a certificate (tools/uidriver-shots.sh).
//
//   uishots FOLDER
//   uishots --email-options     shows the e-mail options (English) for someone else to answer
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "UiDriver.h"
#include "module/AddInModule.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "ui/Dialogs.h"

namespace {

std::wstring InstalledModule() {
  wchar_t wszFolder[MAX_PATH] = {};
  DWORD cbFolder = sizeof(wszFolder);
  RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora", L"VelmoraPath", RRF_RT_REG_SZ, nullptr, wszFolder, &cbFolder);
  return std::wstring(wszFolder) + L"\\VmOfcX.dll";
}

// Shows the dialog and saves its picture; the dialog is then cancelled.
bool Shoot(CMuiDialogImpl& dialog, const std::wstring& wsFile) {
  bool bSaved = false;
  std::thread driver([&] {
    HWND hDlg = UiDriver::WaitForDialog(GetCurrentProcessId(), L"");
    if (!hDlg) return;
    bSaved = UiDriver::SavePng(hDlg, wsFile);
    PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
  });
  dialog.DoModal(nullptr);
  driver.join();
  wprintf(L"%ls %ls\n", bSaved ? L"wrote" : L"FAILED", wsFile.c_str());
  return bSaved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fputws(L"usage: uishots FOLDER | --email-options\n", stderr);
    return 2;
  }
  const std::wstring wsFolder = argv[1];
  CAddInModule module({});
  const HMODULE hModule = LoadLibraryW(InstalledModule().c_str());
  if (!hModule) return 1;
  module.SetModuleInstance(hModule);
  if (wsFolder == L"--email-options") {
    module.SetResourceInstance(LoadResourceModule(hModule, 1033));
    CEmailOptionsDialog email;
    const INT_PTR nResult = email.DoModal(nullptr);
    wprintf(L"The e-mail options closed with %d.\n", static_cast<int>(nResult));
    return 0;
  }
  CreateDirectoryW(wsFolder.c_str(), nullptr);
  OleInitialize(nullptr);
  const CCertLibrary certLib;
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
    SysFreeString(bsSigner);
    SysFreeString(bsInstructions);
    module.SetResourceInstance(nullptr);
    FreeLibrary(hSatellite);
  }
  if (pContact) CertFreeCertificateContext(pContact);
  return nFailures ? 1 : 0;
}
