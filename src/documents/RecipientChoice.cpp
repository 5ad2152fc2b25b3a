#include "documents/RecipientChoice.h"

#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "module/Trace.h"
#include "res/StringIds.h"

namespace {

// Until the module carries its recipient dialog, every trusted contact is chosen, in the
// dialog's order (last listed first), followed by the user's own certificate.
class CAllContactsChooser final : public CRecipientChooser {
 public:
  INT_PTR Choose(HWND hParent, const std::vector<PCCERT_CONTEXT>*, std::vector<PCCERT_CONTEXT>* pChosen) override {
    CTraceScope scope("CAllContactsChooser::Choose");
    const CCertLibrary certLib;
    PCCERT_CONTEXT pMyCert = nullptr;
    HRESULT hr = certLib.CM_GetMyCertUI(hParent, &pMyCert);
    if (FAILED(hr)) {
      scope.Error("CM_GetMyCertUI()", hr);
      return 0;
    }
    if (certLib.GC_IsVmMyCertificate(pMyCert) != 1) {
      CertFreeCertificateContext(pMyCert);
      VmMessageBox(hParent, IDS_MSG_KEY_NOT_USABLE, IDS_CAPTION, MB_ICONERROR);
      return 0;
    }
    CLibraryMemory<PCCERT_CONTEXT> contacts(certLib);
    DWORD dwCount = 0;
    hr = certLib.BM_EnumBuddies(contacts.Out(), &dwCount);
    if (FAILED(hr)) scope.Error("BM_EnumBuddies()", hr);
    for (DWORD i = SUCCEEDED(hr) ? dwCount : 0; i > 0; --i) pChosen->push_back(contacts.Get()[i - 1]);
    pChosen->push_back(pMyCert);
    return IDOK;
  }
  void ShowDetails(HWND, const std::vector<PCCERT_CONTEXT>&) override {}
};

CAllContactsChooser g_allContactsChooser;
CRecipientChooser* g_pRecipientChooser = &g_allContactsChooser;

}  // namespace

CRecipientChooser& RecipientChooser() { return *g_pRecipientChooser; }

void SetRecipientChooser(CRecipientChooser* pChooser) {
  g_pRecipientChooser = pChooser ? pChooser : &g_allContactsChooser;
}
