#pragma once
// CToolTipDialog: the tooltips of a dialog or property page made from a template of the
// module. Each child control whose tooltip string (IDS_TOOLTIP of the template and the control,
// ui/DialogIds.h) exists becomes a tool of one tooltip control owned by the window.
#include <windows.h>

class CToolTipDialog {
 public:
  CToolTipDialog() = default;
  ~CToolTipDialog() { Destroy(); }
  CToolTipDialog(const CToolTipDialog&) = delete;
  CToolTipDialog& operator=(const CToolTipDialog&) = delete;

  // Makes the tooltip control of hDlg, created from template nTemplateID, when at least one of
  // its controls has a text; the texts come with their brand tokens replaced.
  void Create(HWND hDlg, UINT nTemplateID);
  // Goes with the window: a page's tooltip would otherwise live on with the sheet that owns it.
  void Destroy();
  // Null when no control has a text.
  HWND GetToolTip() const { return m_hToolTip; }

 private:
  HWND m_hToolTip = nullptr;
};
