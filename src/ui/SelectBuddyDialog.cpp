#include "ui/Dialogs.h"

#include <objsel.h>
#include <iads.h>

#include "com/ComPtr.h"
#include "module/ActCtx.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "module/PolicyService.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"

namespace {

constexpr wchar_t kHelpTopic[] = L"1_1_3_5_4.html";
constexpr ULONG kPickerScopeTypes = 0xE;
constexpr ULONG kPickerScopeFlags = 0x2C0;
constexpr ULONG kPickerUplevelFilter = 0x7F2;
constexpr ULONG kPickerDownlevelFilter = 0x80200007;

// How a control follows the dialog's size: its left/top edge moves, its width/height grows.
enum : UINT { kMoveX = 1, kMoveY = 2, kSizeX = 4, kSizeY = 8 };
struct CResizeRule {
  int nID;
  UINT uRule;
};
constexpr CResizeRule kResizeRules[] = {
    {IDC_RECIPIENT_LIST, kSizeX | kSizeY}, {IDC_SHOW_PUBLISHED, kMoveY | kSizeX},
    {IDC_ADD_PUBLISHED, kMoveY},           {IDOK, kMoveX | kMoveY},
    {IDCANCEL, kMoveX | kMoveY},
};

}  // namespace

void CCertificateList::Clear() {
  for (PCCERT_CONTEXT pCert : m_certs) CertFreeCertificateContext(pCert);
  m_certs.clear();
}

CSelectBuddyDialog::CSelectBuddyDialog(const CCertLibrary& certLib, const std::vector<PCCERT_CONTEXT>& preselected)
    : CMuiDialogImpl(IDD_SELECT_BUDDY), m_certLib(certLib), m_preselected(preselected) {}

bool CSelectBuddyDialog::OnInitDialog() {
  CTraceScope trace("CSelectBuddyDialog::OnInitDialog");
  PCCERT_CONTEXT pOwn = nullptr;
  HRESULT hr = S_OK;
  {
    CPersonalStoreScope personalStore(m_certLib);
    CVmActCtx actCtx;
    hr = FAILED(personalStore.Result()) ? personalStore.Result() : m_certLib.CM_GetMyCertUI(m_hWnd, &pOwn);
  }
  if (FAILED(hr) || !pOwn) {
    trace.Error("CM_GetMyCertUI()", hr);
    EndDialog(0);
    return true;
  }
  m_ownCertificate.Add(pOwn);
  CertFreeCertificateContext(pOwn);
  if (m_certLib.GC_IsVmMyCertificate(m_ownCertificate.Get().front()) != 1) {
    VmMessageBox(m_hWnd, IDS_MSG_KEY_NOT_USABLE, IDS_CAPTION, MB_OK | MB_ICONERROR);
    EndDialog(0);
    return true;
  }
  m_list.Attach(Item(IDC_RECIPIENT_LIST), true);
  ShowItem(IDC_SHOW_PUBLISHED, IsPublishingAllowed());
  const bool bShowPublished = GetShowPublishedCerts();
  SetChecked(IDC_SHOW_PUBLISHED, bShowPublished);
  ShowItem(IDC_ADD_PUBLISHED, bShowPublished);
  FillList();

  RECT rcWindow = {}, rcClient = {};
  GetWindowRect(m_hWnd, &rcWindow);
  GetClientRect(m_hWnd, &rcClient);
  m_minSize = {rcWindow.right - rcWindow.left, rcWindow.bottom - rcWindow.top};
  m_clientSize = {rcClient.right, rcClient.bottom};
  const int cxGrip = GetSystemMetrics(SM_CXVSCROLL), cyGrip = GetSystemMetrics(SM_CYHSCROLL);
  m_hGripper = CreateWindowExW(0, L"SCROLLBAR", L"", WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN,
                               rcClient.right - cxGrip, rcClient.bottom - cyGrip, cxGrip, cyGrip, m_hWnd, nullptr,
                               reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(m_hWnd, GWLP_HINSTANCE)), nullptr);
  return true;
}

void CSelectBuddyDialog::FillList() {
  CTraceScope trace("CSelectBuddyDialog::FillList");
  m_list.Clear();
  m_listed.Clear();
  CBuddyStoreScope buddyStore(m_certLib);
  if (FAILED(buddyStore.Result())) {
    trace.Error("BM_OpenBuddyStore()", buddyStore.Result());
    return;
  }
  CLibraryMemory<PCCERT_CONTEXT> buddies(m_certLib);
  DWORD dwCount = 0;
  const HRESULT hr = m_certLib.BM_EnumBuddies(buddies.Out(), &dwCount);
  if (FAILED(hr)) trace.Error("BM_EnumBuddies()", hr);
  for (DWORD i = 0; SUCCEEDED(hr) && i < dwCount; ++i) {
    PCCERT_CONTEXT pCert = buddies.Get()[i];
    bool bPreselected = false;
    for (PCCERT_CONTEXT pWanted : m_preselected)
      bPreselected = bPreselected || CertCompareCertificate(X509_ASN_ENCODING, pWanted->pCertInfo, pCert->pCertInfo);
    if (bPreselected || m_certLib.GC_IsCertificateValid(pCert, nullptr)) {
      CLibraryString wsName(m_certLib), wsEmail(m_certLib);
      m_certLib.GC_GetSubjectName(pCert, wsName.Out());
      m_certLib.GC_GetEmail(pCert, wsEmail.Out());
      m_listed.Add(pCert);
      const int iRow = m_list.AddRow(wsName.Get() ? wsName.Get() : L"", wsEmail.Get() ? wsEmail.Get() : L"",
                                     static_cast<LPARAM>(m_listed.Get().size() - 1));
      m_list.CheckRow(iRow, bPreselected);
    }
    CertFreeCertificateContext(pCert);
  }
}

void CSelectBuddyDialog::OnOK() {
  m_result.Clear();
  for (int iRow = m_list.GetRowCount() - 1; iRow >= 0; --iRow)
    if (m_list.IsRowChecked(iRow)) m_result.Add(m_listed.Get()[m_list.GetRowData(iRow)]);
  m_result.Add(m_ownCertificate.Get().front());
}

void CSelectBuddyDialog::OnCommand(WORD wID, WORD wCode) {
  if (wCode != BN_CLICKED) return;
  if (wID == IDC_SHOW_PUBLISHED) {
    const bool bShow = IsChecked(IDC_SHOW_PUBLISHED);
    SetShowPublishedCerts(bShow);
    ShowItem(IDC_ADD_PUBLISHED, bShow);
    FillList();
  } else if (wID == IDC_ADD_PUBLISHED) {
    OnAddPublished();
  }
}

LRESULT CSelectBuddyDialog::OnNotify(const NMHDR& hdr) {
  m_list.OnNotify(hdr);
  return 0;
}

bool CSelectBuddyDialog::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, INT_PTR& lResult) {
  switch (uMsg) {
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {m_minSize.cx, m_minSize.cy};
      return true;
    case WM_SIZE:
      if (m_hGripper) LayOut(LOWORD(lParam), HIWORD(lParam));
      return true;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != SC_CONTEXTHELP) return false;
      m_certLib.GC_HtmlHelp(kHelpTopic);
      lResult = TRUE;
      return true;
    default:
      return false;
  }
}

void CSelectBuddyDialog::LayOut(int cx, int cy) {
  const int dx = cx - m_clientSize.cx, dy = cy - m_clientSize.cy;
  if (!dx && !dy) return;
  for (const CResizeRule& rule : kResizeRules) {
    HWND hItem = Item(rule.nID);
    RECT rc = {};
    GetWindowRect(hItem, &rc);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    SetWindowPos(hItem, nullptr, rc.left + (rule.uRule & kMoveX ? dx : 0), rc.top + (rule.uRule & kMoveY ? dy : 0),
                 rc.right - rc.left + (rule.uRule & kSizeX ? dx : 0),
                 rc.bottom - rc.top + (rule.uRule & kSizeY ? dy : 0), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  m_clientSize = {cx, cy};
  const int cxGrip = GetSystemMetrics(SM_CXVSCROLL), cyGrip = GetSystemMetrics(SM_CYHSCROLL);
  SetWindowPos(m_hGripper, nullptr, cx - cxGrip, cy - cyGrip, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CSelectBuddyDialog::OnAddPublished() {
  CTraceScope trace("CSelectBuddyDialog::OnAddPublished");
  CComPtr<IDsObjectPicker> cpPicker;
  HRESULT hr = CoCreateInstance(CLSID_DsObjectPicker, nullptr, CLSCTX_INPROC_SERVER, IID_IDsObjectPicker,
                                reinterpret_cast<void**>(&cpPicker));
  DSOP_SCOPE_INIT_INFO scope = {};
  scope.cbSize = sizeof(scope);
  scope.flType = kPickerScopeTypes;
  scope.flScope = kPickerScopeFlags;
  scope.FilterFlags.Uplevel.flBothModes = kPickerUplevelFilter;
  scope.FilterFlags.flDownlevel = kPickerDownlevelFilter;
  DSOP_INIT_INFO init = {};
  init.cbSize = sizeof(init);
  init.cDsScopeInfos = 1;
  init.aDsScopeInfos = &scope;
  init.flOptions = DSOP_FLAG_MULTISELECT;
  if (SUCCEEDED(hr)) hr = cpPicker->Initialize(&init);
  CComPtr<IDataObject> cpSelection;
  if (SUCCEEDED(hr)) hr = cpPicker->InvokeDialog(m_hWnd, &cpSelection);
  if (hr != S_OK || !cpSelection) {
    // S_FALSE: nobody picked, as when the user cancels or the platform's picker cannot show itself.
    trace.Error("IDsObjectPicker", hr);
    return;
  }
  CWaitCursor waitCursor;
  FORMATETC format = {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_DSOP_DS_SELECTION_LIST)), nullptr,
                      DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  hr = cpSelection->GetData(&format, &medium);
  if (FAILED(hr)) {
    trace.Error("cpSelection->GetData()", hr);
    return;
  }
  CComPtr<IADsPathname> cpPathname;
  hr = CoCreateInstance(CLSID_Pathname, nullptr, CLSCTX_INPROC_SERVER, IID_IADsPathname,
                        reinterpret_cast<void**>(&cpPathname));
  const auto* pList = static_cast<const DS_SELECTION_LIST*>(GlobalLock(medium.hGlobal));
  {
    CBuddyStoreScope buddyStore(m_certLib);
    for (ULONG i = 0; SUCCEEDED(hr) && pList && i < pList->cItems; ++i) {
      BSTR bsPath = SysAllocString(pList->aDsSelection[i].pwzADsPath);
      BSTR bsDn = nullptr;
      hr = cpPathname->Set(bsPath, ADS_SETTYPE_FULL);
      if (SUCCEEDED(hr)) hr = cpPathname->Retrieve(ADS_FORMAT_X500_DN, &bsDn);
      if (SUCCEEDED(hr)) m_certLib.BM_InstallPublishedBuddies(bsDn, 1);
      SysFreeString(bsDn);
      SysFreeString(bsPath);
    }
  }
  GlobalUnlock(medium.hGlobal);
  ReleaseStgMedium(&medium);
  if (FAILED(hr)) trace.Error("cpPathname", hr);
  FillList();
}

CEncryptionDetailsDialog::CEncryptionDetailsDialog(const CCertLibrary& certLib,
                                                   const std::vector<PCCERT_CONTEXT>& recipients)
    : CMuiDialogImpl(IDD_ENCRYPTION_DETAILS), m_certLib(certLib), m_recipients(recipients) {}

bool CEncryptionDetailsDialog::OnInitDialog() {
  m_list.Attach(Item(IDC_RECIPIENT_LIST), false);
  for (PCCERT_CONTEXT pCert : m_recipients) {
    CLibraryString wsName(m_certLib), wsEmail(m_certLib);
    m_certLib.GC_GetSubjectName(pCert, wsName.Out());
    m_certLib.GC_GetEmail(pCert, wsEmail.Out());
    m_list.AddRow(wsName.Get() ? wsName.Get() : L"", wsEmail.Get() ? wsEmail.Get() : L"", 0);
  }
  return true;
}

LRESULT CEncryptionDetailsDialog::OnNotify(const NMHDR& hdr) {
  m_list.OnNotify(hdr);
  return 0;
}
