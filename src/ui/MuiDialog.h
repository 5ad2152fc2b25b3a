#pragma once
// CMuiDialogImpl: the base of the module's modal dialogs. The template comes from the satellite
// resource module (CTemplateFixups), the dialog is centred on its owner, and the commands 1 to 7
// (IDOK to IDNO) close it with their id; only IDOK calls OnOK, which saves. Controls get the
// tooltips of the template (CToolTipDialog).
#include <windows.h>

#include <string>

#include "ui/MuiTemplate.h"
#include "ui/ToolTipDialog.h"

// A wait cursor for the scope.
class CWaitCursor {
 public:
  CWaitCursor() : m_hOld(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
  ~CWaitCursor() { SetCursor(m_hOld); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

 private:
  HCURSOR m_hOld;
};

// Control helpers shared by dialogs and property pages.
class CDialogWindow {
 public:
  HWND GetHwnd() const { return m_hWnd; }

 protected:
  HWND Item(int nID) const { return GetDlgItem(m_hWnd, nID); }
  std::wstring GetItemText(int nID) const;
  void SetItemText(int nID, const std::wstring& wsText) const { SetDlgItemTextW(m_hWnd, nID, wsText.c_str()); }
  bool IsChecked(int nID) const { return IsDlgButtonChecked(m_hWnd, nID) == BST_CHECKED; }
  void SetChecked(int nID, bool bChecked) const { CheckDlgButton(m_hWnd, nID, bChecked ? BST_CHECKED : BST_UNCHECKED); }
  void ShowItem(int nID, bool bShow) const { ShowWindow(Item(nID), bShow ? SW_SHOW : SW_HIDE); }
  void EnableItem(int nID, bool bEnable) const { EnableWindow(Item(nID), bEnable); }
  // The localised string with its brand tokens replaced.
  void SetItemString(int nID, UINT nStringID) const;

  HWND m_hWnd = nullptr;
};

// A dialog or page made from a template of the module's resource modules: the template's fix-ups
// and tooltips when it opens, notifications answered through DWLP_MSGRESULT.
class CMuiTemplateWindow : public CDialogWindow {
 protected:
  explicit CMuiTemplateWindow(UINT nTemplateID) : m_nTemplateID(nTemplateID) {}
  virtual ~CMuiTemplateWindow() = default;

  // False when no resource module holds the template.
  bool FindTemplate();
  // At WM_INITDIALOG, before the window's own initialisation.
  void ApplyTemplate();
  // WM_NOTIFY and WM_DESTROY; FALSE for every other message.
  INT_PTR HandleSharedMessage(UINT uMsg, LPARAM lParam);
  virtual LRESULT HandleNotify(const NMHDR& hdr) { return OnNotify(hdr); }
  virtual LRESULT OnNotify(const NMHDR& /*hdr*/) { return 0; }

  const UINT m_nTemplateID;
  HMODULE m_hHolder = nullptr;

 private:
  CTemplateFixups m_fixups;
  CToolTipDialog m_toolTips;
};

class CMuiDialogImpl : public CMuiTemplateWindow {
 public:
  explicit CMuiDialogImpl(UINT nTemplateID) : CMuiTemplateWindow(nTemplateID) {}
  ~CMuiDialogImpl() override = default;
  CMuiDialogImpl(const CMuiDialogImpl&) = delete;
  CMuiDialogImpl& operator=(const CMuiDialogImpl&) = delete;

  // The id of the command that closed it; -1 when the template exists nowhere or the dialog
  // could not be created.
  INT_PTR DoModal(HWND hOwner);

 protected:
  // False when it has set the focus itself.
  virtual bool OnInitDialog() { return true; }
  virtual void OnOK() {}
  // Every closing command (1 to 7), after OnOK.
  virtual void OnClose(WORD /*wID*/) {}
  // Commands other than 1 to 7.
  virtual void OnCommand(WORD /*wID*/, WORD /*wCode*/) {}
  // Any other message; true when handled, with the dialog procedure's answer in lResult.
  virtual bool OnMessage(UINT /*uMsg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, INT_PTR& /*lResult*/) { return false; }
  void EndDialog(INT_PTR nResult) const { ::EndDialog(m_hWnd, nResult); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);

  HWND m_hOwner = nullptr;
};
