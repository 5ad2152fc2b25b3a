#pragma once
// What every dialog and page of the module does with its template: the template comes from
// the satellite resource module when that has it (else from the module itself), its icon and
// bitmap controls show images of the main module, its combo boxes get the strings stored with
// the template, and control texts get their brand tokens replaced.
#include <windows.h>

#include <string>
#include <vector>

// The module that holds resource nID of that type: the satellite first, then the module; null
// when neither has it.
HMODULE FindTemplateModule(UINT nID, LPCWSTR wszType);

// One control of a dialog template, as far as the fix-ups need it.
struct CTemplateItem {
  DWORD dwStyle = 0;
  int nID = 0;
  WORD wClassOrdinal = 0;  // 0x80 button ... 0x85 combo box; 0 when the class is named
  WORD wTitleOrdinal = 0;  // a resource id given instead of a text; 0 when none
  RECT rcDialogUnits = {};
};

// The controls of a DIALOG or DIALOGEX template; empty when it is not one.
std::vector<CTemplateItem> ParseDialogTemplate(const void* pTemplate, DWORD cbTemplate);

// Applies the fix-ups to a dialog just created from template nID of hHolder, and destroys the
// images it loaded when it is destroyed itself.
class CTemplateFixups {
 public:
  CTemplateFixups() = default;
  ~CTemplateFixups();
  CTemplateFixups(const CTemplateFixups&) = delete;
  CTemplateFixups& operator=(const CTemplateFixups&) = delete;

  void Apply(HWND hDlg, HMODULE hHolder, UINT nID);

 private:
  void SetImages(HWND hDlg, const std::vector<CTemplateItem>& items);

  std::vector<std::pair<HANDLE, UINT>> m_images;  // handle and IMAGE_ICON or IMAGE_BITMAP
};

// Adds the combo-box strings of a dialog-init resource (codes 0x0403 add-string, 0x1234
// insert-item, ANSI texts); stops at the first failure.
void AddComboInitStrings(HWND hDlg, const BYTE* pbData, DWORD cbData);
// Replaces the brand tokens in the dialog's caption and its controls' texts.
void ReplaceBrandTokensInTexts(HWND hDlg);
// Narrows a caption control to its text and draws an etched line in the rest of its width.
void AddSeparatorLine(HWND hDlg, int nCaptionID);
// Centres the window on its owner (on the work area without one), kept inside the work area.
void CenterOnOwner(HWND hWnd, HWND hOwner);
