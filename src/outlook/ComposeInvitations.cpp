// The invitation commands of CComposeRibbon: a new or the open message becomes an invitation,
// sent from the account of the user's certificate; the batch invitation goes to correspondents
// chosen from the trusted contacts and the contacts folder, on the BCC line.
#include <cwctype>
#include <string>

#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "mail/Accounts.h"
#include "mail/AddressBook.h"
#include "mail/Invitations.h"
#include "mail/ItemText.h"
#include "mail/WindowHelpers.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "outlook/ComposeRibbon.h"
#include "res/StringIds.h"
#include "ui/Dialogs.h"
#include "ui/Wizards.h"

namespace {

bool IsBlank(const std::wstring& ws) {
  for (wchar_t wch : ws)
    if (!iswspace(wch)) return false;
  return true;
}

// The address of the certificate's account becomes the item's sending account.
HRESULT SendFromCertificateAccount(const CCertLibrary& certLib, IDispatch* pMailItem, PCCERT_CONTEXT pCert) {
  CLibraryString wsEmail(certLib);
  const HRESULT hr = certLib.GC_GetEmail(pCert, wsEmail.Out());
  return SUCCEEDED(hr) ? PutSendUsingAccount(pMailItem, wsEmail.Get() ? wsEmail.Get() : L"") : hr;
}

// The account of the user's current certificate, else of the first other own certificate that has one.
HRESULT ChooseSendingAccount(CTraceScope& scope, IDispatch* pMailItem) {
  const CCertLibrary certLib;
  PCCERT_CONTEXT pCurrent = nullptr;
  HRESULT hr = certLib.CM_GetMyCert(&pCurrent);
  if (SUCCEEDED(hr)) hr = SendFromCertificateAccount(certLib, pMailItem, pCurrent);
  if (SUCCEEDED(hr)) {
    CertFreeCertificateContext(pCurrent);
    return hr;
  }
  scope.Error("PutSendUsingAccount(current certificate)", hr);
  CLibraryMemory<PCCERT_CONTEXT> certs(certLib);
  DWORD dwCount = 0;
  HRESULT hrEnum = certLib.CM_EnumMyCerts(0, certs.Out(), &dwCount);
  if (FAILED(hrEnum)) dwCount = 0;
  for (DWORD i = 0; i < dwCount; ++i) {
    PCCERT_CONTEXT pCert = certs.Get()[i];
    const bool bCurrent = pCurrent && CertCompareCertificate(X509_ASN_ENCODING, pCert->pCertInfo, pCurrent->pCertInfo);
    if (FAILED(hr) && !bCurrent) hr = SendFromCertificateAccount(certLib, pMailItem, pCert);
    CertFreeCertificateContext(pCert);
  }
  if (pCurrent) CertFreeCertificateContext(pCurrent);
  return hr;
}

// The language of an invitation, asked in the invitation dialog.
std::wstring AskInvitationLanguage(HWND hOwner) {
  const CCertLibrary certLib;
  std::wstring wsLocale;
  CInviteInstructionsDialog(certLib, wsLocale).DoModal(hOwner);
  return wsLocale;
}

}  // namespace

HRESULT CComposeRibbon::AssertNewMailItem(IDispatch** ppMailItem) {
  CTraceScope scope("CComposeRibbon::AssertNewMailItem()");
  if (!ppMailItem) return E_POINTER;
  if (*ppMailItem) {
    CComVariant varSent;
    HRESULT hr = LateBound::GetProperty(*ppMailItem, L"Sent", &varSent);
    if (SUCCEEDED(hr)) hr = varSent.ChangeType(VT_BOOL);
    if (FAILED(hr)) return hr;
    if (varSent.boolVal == VARIANT_FALSE) {
      std::wstring wsSubject, wsBody;
      GetTextProperty(*ppMailItem, L"Subject", &wsSubject);
      GetTextProperty(*ppMailItem, L"Body", &wsBody);
      if (IsBlank(wsSubject) && IsBlank(wsBody)) return S_OK;
      const int iAnswer = VmMessageBox(GetMailItemWindow(*ppMailItem), IDS_MSG_MAKE_INVITATION, IDS_CAPTION,
                                       MB_YESNO | MB_ICONQUESTION);
      return iAnswer == IDYES ? S_OK : E_ABORT;
    }
    (*ppMailItem)->Release();
    *ppMailItem = nullptr;
  }
  CComPtr<IDispatch> cpApplication;
  HRESULT hr = QueryApplication(scope, &cpApplication);
  CComPtr<IDispatch> cpItem;
  if (SUCCEEDED(hr))
    hr = LateBound::GetObjectProperty(cpApplication, L"CreateItem", &cpItem, {CComVariant(LONG{Outlook::olMailItem})});
  if (FAILED(hr)) {
    scope.Error("cpApplication->CreateItem(olMailItem)", hr);
    return hr;
  }
  ChooseSendingAccount(scope, cpItem);
  hr = LateBound::Call(cpItem, L"Display", {CComVariant(false)});
  if (FAILED(hr)) {
    scope.Error("cpMailItem->Display()", hr);
    return hr;
  }
  *ppMailItem = cpItem.Detach();
  return S_OK;
}

HRESULT CComposeRibbon::InvitationItem(IDispatch* pMailItem, CComPtr<IDispatch>& cpItem) {
  IDispatch* pItem = pMailItem;
  if (pItem) pItem->AddRef();
  const HRESULT hr = AssertNewMailItem(&pItem);
  cpItem.Attach(pItem);
  return hr;
}

HRESULT CComposeRibbon::SendInvitation(IDispatch* pMailItem) {
  CTraceScope scope("CComposeRibbon::SendInvitation");
  CComPtr<IDispatch> cpItem;
  HRESULT hr = InvitationItem(pMailItem, cpItem);
  if (FAILED(hr)) return hr;
  const InvitationLanguageChooser chooseLanguage = AskInvitationLanguage;
  return SetupInvitation(cpItem, &chooseLanguage, nullptr);
}

HRESULT CComposeRibbon::SendBatchInvitation(IDispatch* pMailItem) {
  CTraceScope scope("CComposeRibbon::SendBatchInvitation");
  CComPtr<IDispatch> cpItem;
  HRESULT hr = InvitationItem(pMailItem, cpItem);
  if (FAILED(hr)) return hr;
  CComPtr<IDispatch> cpContacts;
  DefaultContactsFolder(cpItem, &cpContacts, scope);

  const CCertLibrary certLib;
  CComBSTR bsRecipients;
  hr = RunInvitationSelectionWizard(certLib, GetMailItemWindow(cpItem), cpContacts, &bsRecipients);
  if (FAILED(hr)) return hr;
  hr = SetupInvitation(cpItem, nullptr, nullptr);
  if (FAILED(hr) || !bsRecipients.Length()) return hr;
  hr = PutTextProperty(cpItem, L"BCC", bsRecipients.c_str());
  if (FAILED(hr)) scope.Error("cpMailItem->put_BCC()", hr);
  return hr;
}
