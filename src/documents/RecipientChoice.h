#pragma once
// How the encryption provider lets the user choose a session's recipients and see them. The
// recipient and details dialogs of the user interface answer this; tests put in their own.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

class CRecipientChooser {
 public:
  virtual ~CRecipientChooser() = default;
  // IDOK with the chosen certificates, each holding its own reference: the checked contacts, then
  // the user's own certificate last. Any other result when the user cancels or cannot choose.
  virtual INT_PTR Choose(HWND hParent, const std::vector<PCCERT_CONTEXT>* pPreselected,
                         std::vector<PCCERT_CONTEXT>* pChosen) = 0;
  // Shows a session's recipients read-only, until the user closes it.
  virtual void ShowDetails(HWND hParent, const std::vector<PCCERT_CONTEXT>& recipients) = 0;
};

// The chooser in use; pChooser null puts the module's own back.
CRecipientChooser& RecipientChooser();
void SetRecipientChooser(CRecipientChooser* pChooser);
