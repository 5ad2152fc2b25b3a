// The setup of a new signature line: with the setup dialog, or from the settings when the ribbon
// adds the line.
#include "documents/SignatureProvider.h"

#include "com/Bstr.h"
#include "documents/CryptHandles.h"
#include "documents/ProviderCalls.h"
#include "documents/SignatureObjects.h"
#include "documents/SignatureOptions.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "module/ResourceStrings.h"
#include "module/Settings.h"
#include "res/StringIds.h"
#include "ui/Dialogs.h"

namespace {

// "DocumentSecurity" bits of signature lines.
constexpr DWORD kNoSignDate = 0x8;
constexpr DWORD kAddTitle = 0x10;

// Writes a confirmed setup back; the options follow from bAddTitle.
HRESULT WriteSetup(IDispatch* pSetup, const std::wstring& wsSigner, const std::wstring& wsInstructions,
                   bool bShowSignDate, CSignatureOptions& options, bool bAddTitle) {
  options.m_bAddTitle = bAddTitle;
  HRESULT hr = SignatureObjects::PutBool(pSetup, L"ShowSignDate", bShowSignDate);
  if (SUCCEEDED(hr)) hr = SignatureObjects::PutString(pSetup, L"SigningInstructions", wsInstructions);
  if (SUCCEEDED(hr)) hr = SignatureObjects::PutString(pSetup, L"SuggestedSigner", wsSigner);
  if (SUCCEEDED(hr)) hr = SignatureObjects::PutBool(pSetup, L"AllowComments", true);
  if (SUCCEEDED(hr)) hr = SignatureObjects::PutString(pSetup, L"AdditionalXml", options.GetXML().c_str());
  return hr;
}

HRESULT EditSetup(HWND hParent, IDispatch* pSetup, CSignatureOptions& options) {
  CComBSTR bsSigner, bsInstructions;
  VARIANT_BOOL bShowSignDate = VARIANT_TRUE;
  VARIANT_BOOL bAddTitle = VARIANT_FALSE;
  if (options.m_bNew) {
    bsInstructions.Attach(LoadResourceStringBSTR(IDS_SIGLINE_INSTRUCTIONS));
  } else {
    bsInstructions = SignatureObjects::GetString(pSetup, L"SigningInstructions");
    bsSigner = SignatureObjects::GetString(pSetup, L"SuggestedSigner");
    bShowSignDate = SignatureObjects::GetBool(pSetup, L"ShowSignDate", true) ? VARIANT_TRUE : VARIANT_FALSE;
    bAddTitle = options.m_bAddTitle ? VARIANT_TRUE : VARIANT_FALSE;
  }
  BSTR bsSignerValue = bsSigner.Detach();
  BSTR bsInstructionsValue = bsInstructions.Detach();
  const INT_PTR iResult =
      CSignatureSetupDialog(bsSignerValue, bsInstructionsValue, bShowSignDate, bAddTitle).DoModal(hParent);
  bsSigner.Attach(bsSignerValue);
  bsInstructions.Attach(bsInstructionsValue);
  if (iResult != IDOK) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  return WriteSetup(pSetup, bsSigner.c_str(), bsInstructions.c_str(), bShowSignDate != VARIANT_FALSE, options,
                    bAddTitle != VARIANT_FALSE);
}

// The ribbon adds the line: the signer is the holder of the certificate the user picks, the
// rest comes from "DocumentSecurity".
HRESULT FillSetupFromSettings(CTraceScope& scope, HWND hParent, IDispatch* pSetup, CSignatureOptions& options) {
  const CCertLibrary certLib;
  const CPersonalStoreScope personalStore(certLib);
  if (FAILED(personalStore.Result())) return personalStore.Result();
  CCertContextHandle pCert;
  HRESULT hr = ChooseOwnCertificate(certLib, hParent, &pCert);
  if (FAILED(hr)) {
    scope.Error("CM_GetMyCertUI()", hr);
    return hr;
  }
  CLibraryString wsSubject(certLib);
  hr = certLib.GC_GetSubjectName(pCert, wsSubject.Out());
  if (FAILED(hr)) {
    scope.Error("GC_GetSubjectName()", hr);
    return hr;
  }
  const DWORD dwDocumentSecurity = GetDocumentSecurity();
  return WriteSetup(pSetup, wsSubject.Get() ? wsSubject.Get() : L"", LoadResourceString(IDS_SIGLINE_INSTRUCTIONS),
                    !(dwDocumentSecurity & kNoSignDate), options, (dwDocumentSecurity & kAddTitle) != 0);
}

}  // namespace

HRESULT CSignatureProvider::ShowSignatureSetup(IUnknown* ParentWindow, Office::SignatureSetup* psigsetup) {
  CTraceScope scope("CSignatureProvider::ShowSignatureSetup");
  return Guarded(scope, [&]() -> HRESULT {
    if (!psigsetup) return E_POINTER;
    const HWND hParent = ParentWindowOf(ParentWindow);
    if (SignatureObjects::GetBool(psigsetup, L"ReadOnly", false)) {
      VmMessageBox(hParent, IDS_MSG_SIGLINE_READ_ONLY, IDS_CAPTION, MB_ICONINFORMATION);
      return S_OK;
    }
    CSignatureOptions options(SignatureObjects::GetString(psigsetup, L"AdditionalXml"));
    if (!g_bAddingSignature) return EditSetup(hParent, psigsetup, options);
    if (options.m_bNew) return FillSetupFromSettings(scope, hParent, psigsetup, options);
    VmMessageBox(hParent, IDS_MSG_SIGLINE_READ_ONLY, IDS_CAPTION, MB_ICONINFORMATION);
    return S_OK;
  });
}
