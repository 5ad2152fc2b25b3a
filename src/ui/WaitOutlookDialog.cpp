#include "ui/WaitOutlookDialog.h"

#include <commctrl.h>

#include "module/ActCtx.h"
#include "ui/DialogIds.h"

CWaitOutlookDialog::CWaitOutlookDialog() : CMuiTemplateWindow(IDD_WAIT_OUTLOOK) {}

CWaitOutlookDialog::~CWaitOutlookDialog() { Destroy(); }

HWND CWaitOutlookDialog::Create(HWND hOwner) {
  if (!FindTemplate()) return nullptr;
  m_hOwner = hOwner;
  CVmActCtx actCtx;
  return CreateDialogParamW(m_hHolder, MAKEINTRESOURCEW(m_nTemplateID), hOwner, DialogProc,
                            reinterpret_cast<LPARAM>(this));
}

void CWaitOutlookDialog::Destroy() {
  if (m_hWnd) DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

INT_PTR CALLBACK CWaitOutlookDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM, LPARAM lParam) {
  if (uMsg == WM_INITDIALOG) {
    auto* pThis = reinterpret_cast<CWaitOutlookDialog*>(lParam);
    SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    pThis->m_hWnd = hWnd;
    pThis->ApplyTemplate();
    HWND hProgress = pThis->Item(IDC_WAIT_PROGRESS);
    SetWindowLongPtrW(hProgress, GWL_STYLE, GetWindowLongPtrW(hProgress, GWL_STYLE) | PBS_MARQUEE);
    SendMessageW(hProgress, PBM_SETMARQUEE, TRUE, 0);
    CenterOnOwner(hWnd, pThis->m_hOwner);
    return TRUE;
  }
  auto* pThis = reinterpret_cast<CWaitOutlookDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
  return pThis ? pThis->HandleSharedMessage(uMsg, lParam) : FALSE;
}
