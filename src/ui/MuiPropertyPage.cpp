#include "ui/MuiPropertyPage.h"

#include "module/MessageBox.h"
#include "module/ResourceStrings.h"

CMuiPropertyPageImpl::CMuiPropertyPageImpl(UINT nTemplateID, UINT nHeaderTitleID, bool bHasHelp)
    : CMuiTemplateWindow(nTemplateID), m_bHasHelp(bHasHelp) {
  if (nHeaderTitleID) m_wsHeaderTitle = LoadResourceString(nHeaderTitleID);
}

HPROPSHEETPAGE CMuiPropertyPageImpl::Create() {
  if (!FindTemplate()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  PROPSHEETPAGEW page = {};
  page.dwSize = sizeof(page);
  page.dwFlags = PSP_DEFAULT | (m_bHasHelp ? PSP_HASHELP : 0);
  if (!m_wsHeaderTitle.empty()) {
    page.dwFlags |= PSP_USEHEADERTITLE;
    page.pszHeaderTitle = m_wsHeaderTitle.c_str();
  }
  page.hInstance = m_hHolder;
  page.pszTemplate = MAKEINTRESOURCEW(m_nTemplateID);
  page.pfnDlgProc = PageProc;
  page.lParam = reinterpret_cast<LPARAM>(this);
  return CreatePropertySheetPageW(&page);
}

INT_PTR CALLBACK CMuiPropertyPageImpl::PageProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_INITDIALOG) {
    auto* pThis = reinterpret_cast<CMuiPropertyPageImpl*>(reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
    SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pThis));
    pThis->m_hWnd = hWnd;
  }
  auto* pThis = reinterpret_cast<CMuiPropertyPageImpl*>(GetWindowLongPtrW(hWnd, DWLP_USER));
  return pThis ? pThis->HandleMessage(uMsg, wParam, lParam) : FALSE;
}

INT_PTR CMuiPropertyPageImpl::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_INITDIALOG:
      ApplyTemplate();
      return OnInitDialog();
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    default:
      return HandleSharedMessage(uMsg, lParam);
  }
}

LRESULT CMuiPropertyPageImpl::HandleNotify(const NMHDR& hdr) {
  switch (hdr.code) {
    case PSN_SETACTIVE:
      PropSheet_SetWizButtons(GetParent(m_hWnd), m_dwWizardButtons);
      return 0;
    case PSN_WIZNEXT:
      // -1 refuses the change of page.
      return OnWizardNext() ? 0 : -1;
    case PSN_HELP:
      OnHelp();
      return 0;
    default:
      return OnNotify(hdr);
  }
}

void CMuiPropertyPageImpl::ComplainAt(int nID, UINT nTextID, UINT nCaptionID) const {
  VmMessageBox(m_hWnd, nTextID, nCaptionID, MB_OK | MB_ICONWARNING);
  HWND hItem = Item(nID);
  SetFocus(hItem);
  SendMessageW(hItem, EM_SETSEL, 0, -1);
}
