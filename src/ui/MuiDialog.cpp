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

bool CMuiTemplateWindow::FindTemplate() {
  m_hHolder = FindTemplateModule(m_nTemplateID, RT_DIALOG);
  return m_hHolder != nullptr;
}

void CMuiTemplateWindow::ApplyTemplate() {
  m_fixups.Apply(m_hWnd, m_hHolder, m_nTemplateID);
  m_toolTips.Create(m_hWnd, m_nTemplateID);
}

INT_PTR CMuiTemplateWindow::HandleSharedMessage(UINT uMsg, LPARAM lParam) {
  switch (uMsg) {
    case WM_NOTIFY:
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, HandleNotify(*reinterpret_cast<const NMHDR*>(lParam)));
      return TRUE;
    case WM_DESTROY:
      m_toolTips.Destroy();
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CMuiDialogImpl::DoModal(HWND hOwner) {
  if (!FindTemplate()) return -1;
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
      ApplyTemplate();
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
    default:
      return HandleSharedMessage(uMsg, lParam);
  }
}
