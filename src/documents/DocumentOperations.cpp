#include "documents/DocumentOperations.h"

#include <oleidl.h>

#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "documents/DocumentSecurityFlags.h"
#include "documents/SignatureProvider.h"
#include "hosts/OfficeDocuments.h"
#include "mail/ItemText.h"
#include "module/MessageBox.h"
#include "module/PolicyService.h"
#include "module/Settings.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "tracking/UsageTracking.h"
#include "ui/Dialogs.h"

namespace {

HRESULT GetBoolProperty(IDispatch* pDisp, const wchar_t* wszName, bool* pb) {
  CComVariant var;
  HRESULT hr = LateBound::GetProperty(pDisp, wszName, &var);
  // PowerPoint answers with a tri-state, whose true is -1 like VARIANT_TRUE.
  if (SUCCEEDED(hr)) hr = var.ChangeType(VT_BOOL);
  if (SUCCEEDED(hr)) *pb = var.boolVal != VARIANT_FALSE;
  return hr;
}

// The window's handle owns the messages; Office's windows give it through IOleWindow.
HWND OwnerOf(IDispatch* pWindow) {
  CComPtr<IOleWindow> cpOleWindow;
  HWND hwnd = nullptr;
  if (SUCCEEDED(pWindow->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&cpOleWindow))))
    cpOleWindow->GetWindow(&hwnd);
  return hwnd;
}

void ShowError(HWND hOwner, UINT nTextID) { VmMessageBox(hOwner, nTextID, IDS_CAPTION, MB_OK | MB_ICONERROR); }

constexpr UINT kQuestion = MB_YESNO | MB_ICONQUESTION;

// Whether Office says that its prepare menu (encryption, signatures) is not enabled for the document in front.
bool PrepareMenuDisabled(IDispatch* pCommandBars) {
  CComVariant varEnabled;
  return SUCCEEDED(LateBound::Call(pCommandBars, L"GetEnabledMso", {CComVariant(L"FilePrepareMenu")}, &varEnabled)) &&
         SUCCEEDED(varEnabled.ChangeType(VT_BOOL)) && varEnabled.boolVal == VARIANT_FALSE;
}

HRESULT GetCommandBars(IDispatch* pDocument, IDispatch** ppCommandBars) {
  CComPtr<IDispatch> cpApplication;
  const HRESULT hr = LateBound::GetObjectProperty(pDocument, L"Application", &cpApplication);
  return FAILED(hr) ? hr : LateBound::GetObjectProperty(cpApplication, L"CommandBars", ppCommandBars);
}

// Office's own command, through the application's command bars.
HRESULT ExecuteMso(IDispatch* pDocument, const wchar_t* wszIdMso) {
  CComPtr<IDispatch> cpCommandBars;
  HRESULT hr = GetCommandBars(pDocument, &cpCommandBars);
  if (SUCCEEDED(hr)) hr = LateBound::Call(cpCommandBars, L"ExecuteMso", {CComVariant(wszIdMso)});
  return hr;
}

// The module's provider with 3DES of 168 bits, file properties encrypted too; Office then opens
// a session with the provider.
HRESULT SetEncryptionOptions(IDispatch* pDocument) {
  return LateBound::Call(
      pDocument, L"SetPasswordEncryptionOptions",
      {CComVariant(kEncryptionProviderId), CComVariant(L"3DES"), CComVariant(LONG{168}), CComVariant(true)});
}

// Word: the Open XML document and template formats with the default one (12 to 16) and their
// flat XML forms (19 to 22).
bool WordFormatAccepted(LONG lFormat) { return (lFormat >= 12 && lFormat <= 16) || (lFormat >= 19 && lFormat <= 22); }
// Excel: the 2007 binary workbook and the Open XML workbook, template and add-in formats.
bool ExcelFormatAccepted(LONG lFormat) { return lFormat >= 50 && lFormat <= 55; }

const CDocumentOperations::SApplication kWord = {"CWordOperations::ApplySecurity()",
                                                 "QueryInterface(__uuidof(Word::Window))",
                                                 Word::IID_Window,
                                                 L"Document",
                                                 L"SaveFormat",
                                                 WordFormatAccepted,
                                                 false,
                                                 false,
                                                 true,
                                                 false};
const CDocumentOperations::SApplication kExcel = {"CExcelOperations::ApplySecurity()",
                                                  "QueryInterface(__uuidof(Excel::Window))",
                                                  Excel::IID_Window,
                                                  L"Parent",
                                                  L"FileFormat",
                                                  ExcelFormatAccepted,
                                                  true,
                                                  true,
                                                  true,
                                                  true};
const CDocumentOperations::SApplication kPowerPoint = {"CPowerPointOperations::ApplySecurity()",
                                                       "QueryInterface(__uuidof(PowerPoint::DocumentWindow))",
                                                       PowerPoint::IID_DocumentWindow,
                                                       L"Presentation",
                                                       nullptr,
                                                       nullptr,
                                                       false,
                                                       true,
                                                       false,
                                                       false};

}  // namespace

HRESULT CDocumentOperations::ShowOptions() {
  CDocumentOptionsDialog dialog(!SignatureLinesUnsupported());
  dialog.DoModal(GetActiveWindow());
  return S_OK;
}

HRESULT CDocumentOperations::ApplySecurityChoice(IDispatch* pWindow, bool bSign, bool bEncrypt) {
  DWORD dwFlags = GetDocumentSecurity() & ~(kSecuritySignAndEncrypt | kSecurityEncryptOnly);
  if (!bSign) dwFlags |= kSecurityEncryptOnly;
  if (bEncrypt) dwFlags |= kSecuritySignAndEncrypt;
  // Neither: Office's encryption command runs with the provider asked to remove encryption.
  g_bRemoveEncryptionRequested = !bSign && !bEncrypt;
  if (g_bRemoveEncryptionRequested) dwFlags |= kSecuritySignAndEncrypt;
  return ApplySecurity(pWindow, dwFlags);
}

HRESULT CDocumentOperations::ApplyDefaultSecurity(IDispatch* pWindow) {
  g_bRemoveEncryptionRequested = false;
  return ApplySecurity(pWindow, GetDocumentSecurity());
}

HRESULT CDocumentOperations::ApplyTo(const SApplication& app, IDispatch* pWindow, DWORD dwFlags) {
  CTraceScope scope(app.szScope);
  if (!pWindow) return E_POINTER;
  CComPtr<IDispatch> cpWindow;
  HRESULT hr = pWindow->QueryInterface(app.iidWindow, reinterpret_cast<void**>(&cpWindow));
  scope.Message("%s = 0x%08X", app.szWindowQuery, static_cast<unsigned>(hr));
  if (FAILED(hr)) return hr;
  CComPtr<IDispatch> cpDocument;
  hr = LateBound::GetObjectProperty(cpWindow, app.wszDocument, &cpDocument);
  if (FAILED(hr)) return hr;
  const HWND hOwner = OwnerOf(cpWindow);
  bool bReadOnly = false;
  hr = GetBoolProperty(cpDocument, L"ReadOnly", &bReadOnly);
  if (FAILED(hr)) return hr;
  if (bReadOnly) {
    ShowError(hOwner, IDS_MSG_READ_ONLY);
    return S_OK;
  }
  if (dwFlags & (kSecuritySignAndEncrypt | kSecurityEncryptOnly)) {
    bool bStop = false;
    hr = Encrypt(app, cpDocument, hOwner, &bStop);
    if (bStop) return hr;
  }
  if (dwFlags & kSecurityEncryptOnly) return hr;
  return Sign(app, cpDocument, hOwner, !(dwFlags & kSecurityNoSignatureLine));
}

HRESULT CDocumentOperations::Sign(const SApplication& app, IDispatch* pDocument, HWND hOwner, bool bSignatureLine) {
  if (app.bSaveBeforeSigning) {
    // A workbook that was never saved cannot be signed: Office's prepare menu says so. Saving
    // it asks the user where; one still unsaved then was cancelled, which is no error.
    bool bHasPassword = false;
    CComPtr<IDispatch> cpCommandBars;
    if (SUCCEEDED(GetBoolProperty(pDocument, L"HasPassword", &bHasPassword)) && !bHasPassword &&
        SUCCEEDED(GetCommandBars(pDocument, &cpCommandBars)) && PrepareMenuDisabled(cpCommandBars)) {
      LateBound::Call(cpCommandBars, L"ExecuteMso", {CComVariant(L"FileSave")});
      if (PrepareMenuDisabled(cpCommandBars)) return S_OK;
    }
  }
  CComPtr<IDispatch> cpSignatures;
  HRESULT hr = LateBound::GetObjectProperty(pDocument, L"Signatures", &cpSignatures);
  if (FAILED(hr)) return hr;
  if (HasOurSignature(cpSignatures) && VmMessageBox(hOwner, IDS_MSG_SIGN_AGAIN, IDS_CAPTION, kQuestion) != IDYES)
    return LateBound::PutProperty(cpSignatures, L"ShowSignaturesPane", CComVariant(true));
  bSignatureLine = bSignatureLine && app.bSignatureLines;
  bool bCanAddLine = false;
  if (bSignatureLine && SUCCEEDED(GetBoolProperty(cpSignatures, L"CanAddSignatureLine", &bCanAddLine)) &&
      !bCanAddLine) {
    if (VmMessageBox(hOwner, IDS_MSG_NO_SIGNATURE_LINE, IDS_CAPTION, kQuestion) != IDYES) return S_OK;
    bSignatureLine = false;
  }
  hr = AddSignature(cpSignatures, !bSignatureLine);
  if (FAILED(hr)) {
    ShowError(hOwner, IDS_MSG_SIGN_FAILED);
    return S_OK;
  }
  return hr;
}

bool CDocumentOperations::HasOurSignature(IDispatch* pSignatures) {
  CTraceScope scope("CDocumentOperations::HasOurSignature()");
  LONG lCount = 0;
  GetLongProperty(pSignatures, L"Count", &lCount);
  scope.Message("Number of signatures = %d", static_cast<int>(lCount));
  for (LONG i = 1; i <= lCount; ++i) {
    CComVariant varSignature;
    HRESULT hr = LateBound::GetProperty(pSignatures, L"Item", &varSignature, {CComVariant(i)});
    if (SUCCEEDED(hr) && (varSignature.vt != VT_DISPATCH || !varSignature.pdispVal)) hr = E_FAIL;
    if (FAILED(hr)) {
      scope.Error("pSignatures->get_Item()", hr);
      continue;
    }
    scope.Message("- Signature %d", static_cast<int>(i));
    CComPtr<IDispatch> cpSetup, cpDetails;
    std::wstring wsProvider;
    if (SUCCEEDED(LateBound::GetObjectProperty(varSignature.pdispVal, L"Setup", &cpSetup))) {
      GetTextProperty(cpSetup, L"SignatureProvider", &wsProvider);
      scope.Message("  Provider (from signature setup) is %ls", wsProvider.c_str());
    } else if (SUCCEEDED(LateBound::GetObjectProperty(varSignature.pdispVal, L"Details", &cpDetails))) {
      GetTextProperty(cpDetails, L"SignatureProvider", &wsProvider);
      scope.Message("  Provider (from signature info) is %ls", wsProvider.c_str());
    }
    if (!lstrcmpiW(wsProvider.c_str(), kSignatureProviderId)) {
      scope.Message("  Match!");
      return true;
    }
  }
  scope.Message("No match!");
  return false;
}

HRESULT CDocumentOperations::AddSignature(IDispatch* pSignatures, bool bNoSignatureLine) {
  CTraceScope scope("CDocumentOperations::AddSignature()");
  // The signature provider fills a new line's setup from the settings instead of asking.
  g_bAddingSignature = true;
  CComVariant varSignature;
  HRESULT hr;
  if (bNoSignatureLine) {
    hr = LateBound::Call(pSignatures, L"AddNonVisibleSignature", {CComVariant(kSignatureProviderId)}, &varSignature);
  } else {
    hr = LateBound::Call(pSignatures, L"AddSignatureLine", {CComVariant(kSignatureProviderId)}, &varSignature);
    if (SUCCEEDED(hr)) hr = varSignature.vt == VT_DISPATCH && varSignature.pdispVal ? S_OK : E_FAIL;
    if (SUCCEEDED(hr)) hr = LateBound::Call(varSignature.pdispVal, L"Sign");
  }
  g_bAddingSignature = false;
  if (FAILED(hr)) scope.Error("adding the signature", hr);
  return hr;
}

HRESULT CDocumentOperations::Encrypt(const SApplication& app, IDispatch* pDocument, HWND hOwner, bool* pbStop) {
  CTraceScope scope("CDocumentOperations::Encrypt()");
  *pbStop = true;
  DWORD dwPolicy = 0;
  if (SUCCEEDED(GetPolicyLoader().fGetPolicySetting(kEncryptionPolicyMSO, &dwPolicy)) && (dwPolicy & POLICY_BIT)) {
    ShowError(hOwner, IDS_MSG_POLICY_NO_DOCUMENT_ENCRYPTION);
    return S_OK;
  }
  bool bHasPassword = false;
  HRESULT hr = GetBoolProperty(pDocument, L"HasPassword", &bHasPassword);
  if (FAILED(hr)) return hr;
  if (app.wszFormat) {
    LONG lFormat = 0;
    hr = GetLongProperty(pDocument, app.wszFormat, &lFormat);
    if (FAILED(hr)) return hr;
    scope.Message("Format = %d", static_cast<int>(lFormat));
    if (!app.pfnFormatAccepted(lFormat)) {
      ShowError(hOwner, IDS_MSG_FORMAT_NOT_SUPPORTED);
      return S_OK;
    }
  }
  std::wstring wsProvider;
  hr = GetTextProperty(pDocument, L"EncryptionProvider", &wsProvider);
  if (FAILED(hr)) return hr;
  if (!lstrcmpiW(wsProvider.c_str(), kEncryptionProviderId)) {
    // Encrypted by this module already: Office's command reaches the provider's settings.
    if (app.bOptionsBeforeCommand) hr = SetEncryptionOptions(pDocument);
    if (SUCCEEDED(hr)) hr = ExecuteMso(pDocument, L"FileDocumentEncrypt");
  } else if (bHasPassword) {
    ShowError(hOwner, IDS_MSG_PASSWORD_PROTECTED);
    return S_OK;
  } else {
    // The provider consumes the request while Office opens the session.
    const bool bRemoval = g_bRemoveEncryptionRequested;
    hr = SetEncryptionOptions(pDocument);
    if (SUCCEEDED(hr) && !bRemoval) CountFeatureUse(kDocumentEncryptedCounter);
    if (FAILED(hr) && bRemoval && app.bRemovalFailureAborts) hr = E_ABORT;
  }
  if (FAILED(hr)) {
    scope.Error("turning on encryption", hr);
    if (hr != E_ABORT) ShowError(hOwner, IDS_MSG_ENCRYPT_FAILED);
    return S_OK;
  }
  *pbStop = false;
  return hr;
}

HRESULT CWordOperations::ApplySecurity(IDispatch* pWindow, DWORD dwFlags) { return ApplyTo(kWord, pWindow, dwFlags); }

HRESULT CExcelOperations::ApplySecurity(IDispatch* pWindow, DWORD dwFlags) { return ApplyTo(kExcel, pWindow, dwFlags); }

HRESULT CPowerPointOperations::ApplySecurity(IDispatch* pWindow, DWORD dwFlags) {
  return ApplyTo(kPowerPoint, pWindow, dwFlags);
}
