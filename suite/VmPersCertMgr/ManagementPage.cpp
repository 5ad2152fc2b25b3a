// Stand-in of the suite's management libraries. VmPersCertMgr.dll (the user's own
// certificates) and VmTrustContMgr.dll (the trusted contacts) are built from this file, each
// with its store as VM_PAGE_STORE, and hand out one property page through VmGetPropertyPage.
#include <windows.h>
#include <commctrl.h>
#include <cryptuiapi.h>
#include <prsht.h>

#include "ManagementPage.h"
#include "OwnCertificates.h"
#include "SuiteHandles.h"

namespace {

HINSTANCE g_hInstance = nullptr;

// The page's certificates, freed with the page.

void AddColumns(HWND hList) {
  RECT rc = {};
  GetClientRect(hList, &rc);
  const int acx[] = {rc.right * 3 / 10, rc.right * 4 / 10, rc.right * 3 / 10 - GetSystemMetrics(SM_CXVSCROLL)};
  const UINT anTitles[] = {IDS_COLUMN_NAME, IDS_COLUMN_EMAIL, IDS_COLUMN_VALID_UNTIL};
  for (int i = 0; i < 3; ++i) {
    wchar_t wszTitle[64] = {};
    LoadStringW(g_hInstance, anTitles[i], wszTitle, ARRAYSIZE(wszTitle));
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = acx[i];
    column.pszText = wszTitle;
    column.iSubItem = i;
    ListView_InsertColumn(hList, i, &column);
  }
}

void FillList(HWND hList, HCERTSTORE hStore) {
  for (PCCERT_CONTEXT pCert = hStore ? CertEnumCertificatesInStore(hStore, nullptr) : nullptr; pCert;
       pCert = CertEnumCertificatesInStore(hStore, pCert)) {
    wchar_t wszName[256] = {}, wszEmail[256] = {}, wszDate[64] = {};
    CertGetNameStringW(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, wszName, ARRAYSIZE(wszName));
    CertGetNameStringW(pCert, CERT_NAME_EMAIL_TYPE, 0, nullptr, wszEmail, ARRAYSIZE(wszEmail));
    SYSTEMTIME st = {};
    FileTimeToSystemTime(&pCert->pCertInfo->NotAfter, &st);
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, wszDate, ARRAYSIZE(wszDate));
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = ListView_GetItemCount(hList);
    item.pszText = wszName;
    item.lParam = reinterpret_cast<LPARAM>(CertDuplicateCertificateContext(pCert));
    const int iRow = ListView_InsertItem(hList, &item);
    ListView_SetItemText(hList, iRow, 1, wszEmail);
    ListView_SetItemText(hList, iRow, 2, wszDate);
  }
}

PCCERT_CONTEXT SelectedCertificate(HWND hList) {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = ListView_GetNextItem(hList, -1, LVNI_SELECTED);
  return item.iItem >= 0 && ListView_GetItem(hList, &item) ? reinterpret_cast<PCCERT_CONTEXT>(item.lParam) : nullptr;
}

void ViewCertificate(HWND hPage, PCCERT_CONTEXT pCert) {
  if (!pCert) return;
  CRYPTUI_VIEWCERTIFICATE_STRUCTW view = {};
  view.dwSize = sizeof(view);
  view.hwndParent = hPage;
  view.dwFlags = CRYPTUI_DISABLE_EDITPROPERTIES | CRYPTUI_DISABLE_ADDTOSTORE;
  view.pCertContext = pCert;
  BOOL bChanged = FALSE;
  CryptUIDlgViewCertificateW(&view, &bChanged);
}

INT_PTR CALLBACK PageProc(HWND hPage, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  HWND hList = GetDlgItem(hPage, IDC_CERT_LIST);
  switch (uMsg) {
    case WM_INITDIALOG: {
      ListView_SetExtendedListViewStyle(hList, LVS_EX_FULLROWSELECT);
      AddColumns(hList);
      CCertStore hStore(OpenUserStore(VM_PAGE_STORE));
      FillList(hList, hStore);
      EnableWindow(GetDlgItem(hPage, IDC_VIEW_CERT), FALSE);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_VIEW_CERT && HIWORD(wParam) == BN_CLICKED)
        ViewCertificate(hPage, SelectedCertificate(hList));
      return TRUE;
    case WM_NOTIFY: {
      const auto* pHdr = reinterpret_cast<const NMHDR*>(lParam);
      if (pHdr->hwndFrom == hList && pHdr->code == LVN_ITEMCHANGED)
        EnableWindow(GetDlgItem(hPage, IDC_VIEW_CERT), SelectedCertificate(hList) != nullptr);
      else if (pHdr->hwndFrom == hList && pHdr->code == NM_DBLCLK)
        ViewCertificate(hPage, SelectedCertificate(hList));
      return TRUE;
    }
    case WM_DESTROY:
      for (int i = 0; i < ListView_GetItemCount(hList); ++i) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = i;
        if (ListView_GetItem(hList, &item) && item.lParam)
          CertFreeCertificateContext(reinterpret_cast<PCCERT_CONTEXT>(item.lParam));
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) g_hInstance = hInstance;
  return TRUE;
}

// Page dwIndex of the library; HRESULT_FROM_WIN32(ERROR_NOT_FOUND) after the last.
extern "C" HRESULT WINAPI VmGetPropertyPage(HPROPSHEETPAGE* phPage, DWORD dwIndex) {
  if (!phPage) return E_POINTER;
  *phPage = nullptr;
  if (dwIndex > 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  PROPSHEETPAGEW page = {};
  page.dwSize = sizeof(page);
  page.hInstance = g_hInstance;
  page.pszTemplate = MAKEINTRESOURCEW(IDD_CERT_PAGE);
  page.pfnDlgProc = PageProc;
  *phPage = CreatePropertySheetPageW(&page);
  return *phPage ? S_OK : LastErrorResult();
}
