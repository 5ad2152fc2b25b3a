#include "ui/Wizards.h"

#include <versionhelpers.h>

#include <string>
#include <vector>

#include "module/ActCtx.h"
#include "module/Branding.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/WizardPages.h"

namespace {

// Missing from mingw's prsht.h.
constexpr DWORD kPshAeroWizard = 0x00004000;

// Shows the pages as a wizard on hOwner; a page that cannot be made fails the whole wizard.
HRESULT RunWizard(HWND hOwner, UINT nTitleID, const std::vector<CMuiPropertyPageImpl*>& pages,
                  CInviteSelectionPage* pSelection, BSTR* pbsRecipients) {
  CTraceScope trace("RunWizard()");
  if (!pbsRecipients) return E_POINTER;
  *pbsRecipients = nullptr;
  CVmActCtx actCtx;
  std::vector<HPROPSHEETPAGE> handles;
  for (size_t i = 0; i < pages.size(); ++i) {
    DWORD dwButtons = i == 0 ? PSWIZB_NEXT : PSWIZB_BACK | PSWIZB_NEXT;
    if (i + 1 == pages.size()) dwButtons = (i == 0 ? 0 : PSWIZB_BACK) | PSWIZB_FINISH;
    pages[i]->SetWizardButtons(dwButtons);
    HPROPSHEETPAGE hPage = pages[i]->Create();
    if (!hPage) {
      const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
      trace.Error("CreatePropertySheetPageW()", hr);
      for (HPROPSHEETPAGE hMade : handles) DestroyPropertySheetPage(hMade);
      return hr;
    }
    handles.push_back(hPage);
  }
  const std::wstring wsTitle = LoadResourceString(nTitleID);
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof(header);
  header.hwndParent = hOwner;
  header.pszCaption = wsTitle.c_str();
  header.nPages = static_cast<UINT>(handles.size());
  header.phpage = handles.data();
  if (IsWindowsVistaOrGreater()) {
    header.dwFlags = PSH_WIZARD | kPshAeroWizard | PSH_NOCONTEXTHELP;
  } else {
    header.dwFlags = PSH_WIZARD97 | PSH_HEADER | PSH_NOCONTEXTHELP;
    header.hInstance = CBranding::LoadResourceDLL();
    header.pszbmHeader = MAKEINTRESOURCEW(IDB_BRAND_WIZARD_HEADER);
  }
  const INT_PTR nResult = PropertySheetW(&header);
  trace.Message("PropertySheet = %d", static_cast<int>(nResult));
  if (nResult < 0) {
    const DWORD dwError = GetLastError();
    return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
  }
  if (nResult == 0) return E_ABORT;
  if (pSelection) *pbsRecipients = pSelection->DetachResult();
  return S_OK;
}

}  // namespace

HRESULT RunCertificateSuccessWizard(const CCertLibrary& certLib, HWND hOwner, const wchar_t* wszIssued,
                                    IDispatch* pContactsFolder, BSTR* pbsRecipients) {
  CTraceScope trace("RunCertificateSuccessWizard()");
  CCertSuccessSetDefaultPage setDefault(certLib, wszIssued ? wszIssued : L"");
  CCertificateBackupPage backup;
  CInviteSelectionPage selection(certLib, pContactsFolder);
  CInvitationCompletePage complete;
  std::vector<CMuiPropertyPageImpl*> pages = {&setDefault, &backup};
  const bool bOffersContacts = !selection.GetContacts().empty();
  if (bOffersContacts) pages.push_back(&selection);
  pages.push_back(&complete);
  const HRESULT hr =
      RunWizard(hOwner, IDS_CERT_WIZARD_TITLE, pages, bOffersContacts ? &selection : nullptr, pbsRecipients);
  if (FAILED(hr)) trace.Error("RunWizard()", hr);
  return hr;
}

HRESULT RunInvitationSelectionWizard(const CCertLibrary& certLib, HWND hOwner, IDispatch* pContactsFolder,
                                     BSTR* pbsRecipients) {
  CTraceScope trace("RunInvitationSelectionWizard()");
  CInviteSelectionPage selection(certLib, pContactsFolder);
  CInvitationCompletePage complete;
  const HRESULT hr = RunWizard(hOwner, IDS_BATCH_INVITE_TITLE, {&selection, &complete}, &selection, pbsRecipients);
  if (FAILED(hr)) trace.Error("RunWizard()", hr);
  return hr;
}
