#pragma once
// The modeless waiting dialog that OX_CreateInvitation shows while Outlook is started and opens
// the invitation: a marquee progress bar, centred on its owner, no buttons.
#include <windows.h>

#include "ui/MuiDialog.h"

class CWaitOutlookDialog final : public CMuiTemplateWindow {
 public:
  CWaitOutlookDialog();
  ~CWaitOutlookDialog() override;
  CWaitOutlookDialog(const CWaitOutlookDialog&) = delete;
  CWaitOutlookDialog& operator=(const CWaitOutlookDialog&) = delete;

  // The dialog, hidden; null when the template exists nowhere or the window could not be made.
  HWND Create(HWND hOwner);
  void Destroy();

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

  HWND m_hOwner = nullptr;
};
