#pragma once
// CMuiPropertyPageImpl: the base of the module's wizard pages. The page's template comes from
// the satellite resource module like a dialog's (CTemplateFixups); the page object outlives
// the sheet that shows it. Controls get the tooltips of the template (CToolTipDialog).
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>

#include "ui/MuiDialog.h"

class CMuiPropertyPageImpl : public CMuiTemplateWindow {
 public:
  // nHeaderTitleID: string shown in the wizard's header, 0 for none.
  CMuiPropertyPageImpl(UINT nTemplateID, UINT nHeaderTitleID, bool bHasHelp);
  ~CMuiPropertyPageImpl() override = default;
  CMuiPropertyPageImpl(const CMuiPropertyPageImpl&) = delete;
  CMuiPropertyPageImpl& operator=(const CMuiPropertyPageImpl&) = delete;

  // The page for a sheet; null (last error set) when the template exists nowhere.
  HPROPSHEETPAGE Create();
  // The wizard buttons the page shows (PSWIZB_*), given by the wizard that holds it.
  void SetWizardButtons(DWORD dwButtons) { m_dwWizardButtons = dwButtons; }

 protected:
  virtual bool OnInitDialog() { return true; }
  // False keeps the wizard on this page.
  virtual bool OnWizardNext() { return true; }
  virtual void OnCommand(WORD /*wID*/, WORD /*wCode*/) {}
  // The page's help button.
  virtual void OnHelp() {}
  // Shows a message about one control and puts the focus there; the page stays.
  void ComplainAt(int nID, UINT nTextID, UINT nCaptionID) const;

 private:
  static INT_PTR CALLBACK PageProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
  // The wizard's notifications; the others go to OnNotify.
  LRESULT HandleNotify(const NMHDR& hdr) override;

  std::wstring m_wsHeaderTitle;
  bool m_bHasHelp;
  DWORD m_dwWizardButtons = PSWIZB_NEXT;
};
