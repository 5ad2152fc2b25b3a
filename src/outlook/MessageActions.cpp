#include "outlook/MessageActions.h"

#include <commctrl.h>

#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "documents/CryptHandles.h"
#include "hosts/Outlook.h"
#include "mail/Accounts.h"
#include "mail/AddressBook.h"
#include "mail/Invitations.h"
#include "mail/ItemText.h"
#include "mail/MimeMessage.h"
#include "mail/WindowHelpers.h"
#include "module/ActCtx.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "outlook/ComposeRibbon.h"
#include "res/StringIds.h"
#include "ui/Wizards.h"

namespace {

// From this version Outlook drops a contact installed before the reply's window opened.
constexpr int kFirstReinstallingOutlook = 14;
constexpr int kFirstSubclassedReplyOutlook = 12;
constexpr UINT_PTR kReplySubclassId = 1;

HRESULT GetApplication(IDispatch* pMailItem, CComPtr<IDispatch>& cpApplication) {
  return LateBound::GetObjectProperty(pMailItem, L"Application", &cpApplication);
}

// The message's window, else the active window object's, else the active window.
HWND OwnerWindow(IDispatch* pMailItem, IDispatch* pApplication) {
  HWND hwnd = GetMailItemWindow(pMailItem);
  if (!hwnd && pApplication) hwnd = GetActiveWindowHandle(pApplication);
  return hwnd ? hwnd : GetActiveWindow();
}

HRESULT RequestEnterpriseCertificate(const CCertLibrary& certLib, HWND hwnd, LPCWSTR wszRequest) {
  std::wstring wsAddress, wsFullName;
  ParseEnterpriseRequest(wszRequest, wsAddress, wsFullName);
  const CVmActCtx actCtx;
  return certLib.CM_RequestCert(hwnd, wsAddress.c_str(), wsFullName.c_str(), 1);
}

// The e-mail address of a certificate given as Base64 text; empty when it has none.
std::wstring IssuedCertificateEmail(CTraceScope& trace, const CCertLibrary& certLib, LPCWSTR wszIssued) {
  DWORD cb = 0;
  std::vector<BYTE> der;
  if (CryptStringToBinaryW(wszIssued, 0, CRYPT_STRING_BASE64_ANY, nullptr, &cb, nullptr, nullptr)) {
    der.resize(cb);
    if (!CryptStringToBinaryW(wszIssued, 0, CRYPT_STRING_BASE64_ANY, der.data(), &cb, nullptr, nullptr)) der.clear();
  }
  CCertContextHandle pCert(der.empty() ? nullptr
                                       : CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                                      der.data(), static_cast<DWORD>(der.size())));
  if (!pCert) {
    trace.Error("CertCreateCertificateContext()", HRESULT_FROM_WIN32(GetLastError()));
    return std::wstring();
  }
  CLibraryString wsEmail(certLib);
  if (FAILED(certLib.GC_GetEmail(pCert, wsEmail.Out())) || !wsEmail.Get()) return std::wstring();
  return wsEmail.Get();
}

// Installs an authority's answer, runs the certificate-success wizard and shows an invitation to
// the correspondents chosen there, sent from the account of the new certificate's address.
HRESULT InstallAuthorityAnswer(CTraceScope& trace, const CCertLibrary& certLib, IDispatch* pMailItem,
                               IDispatch* pApplication, HWND hwnd, LPCWSTR wszText, DWORD* pdwDone) {
  CLibraryString wsIssued(certLib);
  HRESULT hr;
  {
    const CVmActCtx actCtx;
    hr = certLib.CM_InstallCertResponse(hwnd, wszText, wsIssued.Out());
  }
  if (FAILED(hr)) {
    trace.Error("CM_InstallCertResponse()", hr);
    return hr;
  }
  if (pdwDone) *pdwDone = 1;
  const std::wstring wsIssuedText = wsIssued.Get() ? wsIssued.Get() : L"";
  CComPtr<IDispatch> cpContacts;
  DefaultContactsFolder(pMailItem, &cpContacts, trace);
  CComBSTR bsRecipients;
  hr = RunCertificateSuccessWizard(certLib, hwnd, wsIssuedText.c_str(), cpContacts, &bsRecipients);
  if (FAILED(hr)) trace.Error("RunCertificateSuccessWizard()", hr);
  const std::wstring wsEmail = IssuedCertificateEmail(trace, certLib, wsIssuedText.c_str());

  CComPtr<IDispatch> cpInvitation;
  hr = LateBound::GetObjectProperty(pApplication, L"CreateItem", &cpInvitation,
                                    {CComVariant(LONG{Outlook::olMailItem})});
  if (FAILED(hr)) {
    trace.Error("cpApplication->CreateItem(olMailItem)", hr);
    return hr;
  }
  hr = SetupInvitation(cpInvitation, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  if (bsRecipients.Length()) {
    hr = PutTextProperty(cpInvitation, L"To", bsRecipients.c_str());
    if (FAILED(hr)) trace.Error("cpMailItem->put_To()", hr);
  }
  if (!wsEmail.empty()) {
    trace.Message("E-mail in the certificate: %ls", wsEmail.c_str());
    hr = PutSendUsingAccount(cpInvitation, wsEmail.c_str());
    if (FAILED(hr)) trace.Error("PutSendUsingAccount()", hr);
  }
  hr = LateBound::Call(cpInvitation, L"Display", {CComVariant(false)});
  if (FAILED(hr)) trace.Error("cpMailItem->Display()", hr);
  return hr;
}

// Without a certificate of their own the user is offered one; the capture waits for a later try.
HRESULT OfferOwnCertificate(CTraceScope& trace, const CCertLibrary& certLib, IDispatch* pMailItem, HWND hwnd) {
  if (VmMessageBox(hwnd, IDS_MSG_NO_CERTIFICATE, IDS_CAPTION, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    CComBSTR bsAddress, bsName;
    const HRESULT hr = GetReceivedBy(pMailItem, &bsAddress, &bsName);
    if (FAILED(hr)) trace.Error("GetReceivedBy()", hr);
    const CVmActCtx actCtx;
    const HRESULT hrObtain = certLib.CM_ObtainCert(hwnd, bsAddress.c_str(), bsName.c_str(), 0);
    if (FAILED(hrObtain)) trace.Error("CM_ObtainCert()", hrObtain);
  }
  return E_ABORT;
}

bool HasOwnCertificate(CTraceScope& trace, const CCertLibrary& certLib) {
  CLibraryMemory<PCCERT_CONTEXT> certs(certLib);
  DWORD dwCount = 0;
  const HRESULT hr = certLib.CM_EnumMyCerts(0, certs.Out(), &dwCount);
  if (FAILED(hr)) {
    trace.Error("CM_EnumMyCerts()", hr);
    dwCount = 0;
  }
  for (DWORD i = 0; i < dwCount; ++i) CertFreeCertificateContext(certs.Get()[i]);
  return dwCount != 0;
}

// An invalid certificate is installed only when the user says so.
bool AcceptInvalidCertificate(const CCertLibrary& certLib, PCCERT_CONTEXT pCertificate, HWND hwnd) {
  DWORD dwStatus = 0;
  if (certLib.GC_IsCertificateValid(pCertificate, &dwStatus)) return true;
  const UINT nReason = dwStatus & VM_CERT_STATUS_INVALID ? IDS_CERT_REASON_INVALID
                       : dwStatus & VM_CERT_STATUS_RENEW ? IDS_CERT_REASON_EXPIRED
                                                         : IDS_CERT_REASON_OTHER;
  const std::wstring wsText = FormatResourceString(IDS_MSG_CERT_NOT_VALID, LoadResourceString(nReason));
  return VmMessageBox(hwnd, wsText, IDS_CAPTION, MB_YESNO | MB_ICONWARNING) == IDYES;
}

HRESULT InstallBuddy(const CCertLibrary& certLib, PCCERT_CONTEXT pCertificate) {
  const CBuddyStoreScope buddyStore(certLib);
  if (FAILED(buddyStore.Result())) return buddyStore.Result();
  return certLib.BM_InstallBuddy(pCertificate, 0);
}

// The signer becomes a trusted contact and a safe sender; S_OK also when the user lets an
// existing contact stand.
HRESULT InstallContact(CTraceScope& trace, const CCertLibrary& certLib, IDispatch* pApplication, HWND hwnd,
                       LPCWSTR wszText, PCCERT_CONTEXT pCertificate, BOOL bIsReply, DWORD* pdwDone) {
  const std::wstring wsContact = wszText ? wszText : L"";
  HRESULT hr = InstallBuddy(certLib, pCertificate);
  if (hr == CRYPT_E_EXISTS) {
    const int iAnswer = VmMessageBox(hwnd, FormatResourceString(IDS_MSG_CONTACT_EXISTS, wsContact), IDS_CAPTION,
                                     MB_OKCANCEL | MB_ICONWARNING);
    return iAnswer == IDOK ? S_OK : E_ABORT;
  }
  if (FAILED(hr)) {
    trace.Error("BM_InstallBuddy()", hr);
    return hr;
  }
  if (pdwDone) *pdwDone = 1;
  CLibraryString wsEmail(certLib);
  if (SUCCEEDED(certLib.GC_GetEmail(pCertificate, wsEmail.Out())) && wsEmail.Get()) {
    const HRESULT hrSafe = AddToSafeSenders(pApplication, wsEmail.Get());
    if (FAILED(hrSafe)) trace.Error("AddToSafeSenders()", hrSafe);
  }
  VmMessageBox(hwnd, FormatResourceString(bIsReply ? IDS_MSG_CONTACT_ADDED_REPLY : IDS_MSG_CONTACT_ADDED, wsContact),
               IDS_CAPTION, MB_OK | MB_ICONINFORMATION);
  return S_OK;
}

// Answers an invitation with a reply that carries the user's certificate, shown for sending.
HRESULT ShowInvitationReply(CTraceScope& trace, const CCertLibrary& certLib, IDispatch* pMailItem,
                            IDispatch* pApplication, PCCERT_CONTEXT pCertificate) {
  CComPtr<IDispatch> cpReply;
  HRESULT hr = LateBound::GetObjectProperty(pMailItem, L"Reply", &cpReply);
  if (FAILED(hr)) {
    trace.Error("pMailItem->Reply()", hr);
    return hr;
  }
  hr = SetupInvitationReply(cpReply, nullptr);
  if (FAILED(hr)) return hr;
  hr = LateBound::Call(cpReply, L"Display", {CComVariant(false)});
  if (FAILED(hr)) {
    trace.Error("cpReply->Display()", hr);
    return hr;
  }
  const int nVersion = GetOutlookVersion(pApplication);
  if (nVersion >= kFirstReinstallingOutlook) {
    const HRESULT hrAgain = InstallBuddy(certLib, pCertificate);
    if (FAILED(hrAgain) && hrAgain != CRYPT_E_EXISTS) trace.Error("BM_InstallBuddy()", hrAgain);
  }
  if (nVersion >= kFirstSubclassedReplyOutlook) {
    const HWND hwndReply = GetMailItemWindow(cpReply);
    if (hwndReply) CReplyWindow::Attach(hwndReply);
  }
  return S_OK;
}

}  // namespace

HRESULT ProcessMessage(IDispatch* pMailItem, DWORD dwKind, LPCWSTR wszText, PCCERT_CONTEXT pCertificate, BOOL bIsReply,
                       DWORD* pdwDone) {
  CTraceScope trace("ProcessMessage");
  try {
    if (pdwDone) *pdwDone = 0;
    if (!pMailItem) return E_INVALIDARG;
    CComPtr<IDispatch> cpApplication;
    HRESULT hr = GetApplication(pMailItem, cpApplication);
    if (FAILED(hr)) {
      trace.Error("pMailItem->get_Application()", hr);
      return hr;
    }
    const HWND hwnd = OwnerWindow(pMailItem, cpApplication);
    trace.Message("Parent Window = 0x%08X, Valid = %d, Visible = %d", static_cast<unsigned>(HandleToUlong(hwnd)),
                  IsWindow(hwnd), IsWindowVisible(hwnd));
    const CCertLibrary certLib;
    if (dwKind == kKindEnterpriseRequest) return RequestEnterpriseCertificate(certLib, hwnd, wszText);
    if (dwKind == kKindAuthorityAnswer)
      return InstallAuthorityAnswer(trace, certLib, pMailItem, cpApplication, hwnd, wszText, pdwDone);
    if (!HasOwnCertificate(trace, certLib)) return OfferOwnCertificate(trace, certLib, pMailItem, hwnd);
    if (!pCertificate) return E_INVALIDARG;
    if (!AcceptInvalidCertificate(certLib, pCertificate, hwnd)) return E_ABORT;
    hr = InstallContact(trace, certLib, cpApplication, hwnd, wszText, pCertificate, bIsReply, pdwDone);
    if (FAILED(hr) || bIsReply) return hr;
    return ShowInvitationReply(trace, certLib, pMailItem, cpApplication, pCertificate);
  } catch (...) {
    trace.Error("", E_UNEXPECTED);
    return E_UNEXPECTED;
  }
}

bool CReplyWindow::Attach(HWND hwnd) {
  auto* pReplyWindow = new CReplyWindow(hwnd);
  if (SetWindowSubclass(hwnd, SubclassProc, kReplySubclassId, reinterpret_cast<DWORD_PTR>(pReplyWindow))) return true;
  delete pReplyWindow;
  return false;
}

LRESULT CALLBACK CReplyWindow::SubclassProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR dwRefData) {
  auto* pThis = reinterpret_cast<CReplyWindow*>(dwRefData);
  if (uMsg == WM_NCACTIVATE && wParam) return TRUE;
  if (uMsg == WM_NCACTIVATE || uMsg == WM_NCDESTROY) {
    RemoveWindowSubclass(pThis->m_hwnd, SubclassProc, kReplySubclassId);
    delete pThis;
  }
  return DefSubclassProc(hwnd, uMsg, wParam, lParam);
}
