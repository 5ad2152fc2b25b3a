#include "documents/RecipientChoice.h"

#include "module/CertLibrary.h"
#include "ui/Dialogs.h"

namespace {

// The recipient dialog for a choice, the details dialog for a read-only look.
class CDialogChooser final : public CRecipientChooser {
 public:
  INT_PTR Choose(HWND hParent, const std::vector<PCCERT_CONTEXT>* pPreselected,
                 std::vector<PCCERT_CONTEXT>* pChosen) override {
    const CCertLibrary certLib;
    const std::vector<PCCERT_CONTEXT> none;
    CSelectBuddyDialog dialog(certLib, pPreselected ? *pPreselected : none);
    const INT_PTR iResult = dialog.DoModal(hParent);
    if (iResult == IDOK)
      for (PCCERT_CONTEXT pCert : dialog.GetResult()) pChosen->push_back(CertDuplicateCertificateContext(pCert));
    return iResult;
  }
  void ShowDetails(HWND hParent, const std::vector<PCCERT_CONTEXT>& recipients) override {
    const CCertLibrary certLib;
    CEncryptionDetailsDialog(certLib, recipients).DoModal(hParent);
  }
};

CDialogChooser g_dialogChooser;
CRecipientChooser* g_pRecipientChooser = &g_dialogChooser;

}  // namespace

CRecipientChooser& RecipientChooser() { return *g_pRecipientChooser; }

void SetRecipientChooser(CRecipientChooser* pChooser) { g_pRecipientChooser = pChooser ? pChooser : &g_dialogChooser; }
