#include "ui/MuiDialog.h"

#include "module/ActCtx.h"
#include "module/ResourceStrings.h"

std::wstring CDialogWindow::GetItemText(int nID) const {
  HWND hItem = Item(nID);
  const int cchText = GetWindowTextLengthW(hItem);
  std::wstring wsText(cchText + 1, L'\0');
  wsText.resize(GetWindowTextW(hItem, wsText.data(), cchText + 1));
  return wsText;
}

void CDialogWindow::SetItemString(int nID, UINT nStringID) const { SetItemText(nID, LoadResourceString(nStringID)); }

INT_PTR CMuiDialogImpl::DoModal(HWND hOwner) {
  m_hHolder = FindTemplateModule(m_nTemplateID, RT_DIALOG);
  if (!m_hHolder) return -1;
  m_hOwner = hOwner;
  CVmActCtx actCtx;
  return DialogBoxParamW(m_hHolder, MAKEINTRESOURCEW(m_nTemplateID), hOwner, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMuiDialogImpl::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_INITDIALOG) {
    SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    reinterpret_cast<CMuiDialogImpl*>(lParam)->m_hWnd = hWnd;
  }
  auto* pThis = reinterpret_cast<CMuiDialogImpl*>(GetWindowLongPtrW(hWnd, DWLP_USER));
  return pThis ? pThis->HandleMessage(uMsg, wParam, lParam) : FALSE;
}

INT_PTR CMuiDialogImpl::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  INT_PTR lResult = 0;
  if (OnMessage(uMsg, wParam, lParam, lResult)) return lResult;
  switch (uMsg) {
    case WM_INITDIALOG: {
      m_fixups.Apply(m_hWnd, m_hHolder, m_nTemplateID);
      m_toolTips.Create(m_hWnd, m_nTemplateID);
      const bool bDefaultFocus = OnInitDialog();
      CenterOnOwner(m_hWnd, m_hOwner);
      return bDefaultFocus;
    }
    case WM_COMMAND: {
      const WORD wID = LOWORD(wParam);
      if (wID >= IDOK && wID <= IDNO) {
        if (wID == IDOK) OnOK();
        OnClose(wID);
        EndDialog(wID);
      } else {
        OnCommand(wID, HIWORD(wParam));
      }
      return TRUE;
    }
    case WM_NOTIFY:
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, OnNotify(*reinterpret_cast<const NMHDR*>(lParam)));
      return TRUE;
    case WM_DESTROY:
      m_toolTips.Destroy();
      return FALSE;
    default:
      return FALSE;
  }
}
