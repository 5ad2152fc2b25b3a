#include "documents/DocumentRibbon.h"

#include <optional>
#include <string>

#include "com/Bstr.h"
#include "module/ActCtx.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "module/Settings.h"
#include "res/StringIds.h"
#include "res/resource.h"
#include "tracking/UsageTracking.h"
#include "ui/PropertySheetHost.h"

CDocumentRibbon* g_pDocumentRibbon = nullptr;

namespace {

constexpr wchar_t kRequestCertItem[] = L"CustomMenuRequestCert";
constexpr wchar_t kSignatureLineItem[] = L"CustomMenuAddSignatureLine";

constexpr SMenuText kMenuTexts[] = {
    {kRequestCertItem, IDS_MENU_REQUEST_CERT, IDS_TIP_REQUEST_CERT},
    {L"CustomMenuSign", IDS_MENU_SIGN_DOCUMENT, IDS_TIP_SIGN_DOCUMENT},
    {kSignatureLineItem, IDS_MENU_ADD_SIGNATURE_LINE, IDS_TIP_ADD_SIGNATURE_LINE},
    {L"CustomMenuEncrypt", IDS_MENU_ENCRYPT_DOCUMENT, IDS_TIP_ENCRYPT_DOCUMENT},
    {L"CustomMenuRemoveEncryption", IDS_MENU_REMOVE_ENCRYPTION, IDS_TIP_REMOVE_ENCRYPTION},
};

constexpr SRibbonImage kMenuImages[] = {
    {L"RequestCertImage", IDI_RIBBON_REQUEST_CERT},
    {L"SignImage", IDI_RIBBON_SIGN_DOCUMENT},
    {L"EncryptImage", IDI_RIBBON_ENCRYPT},
    {L"RemoveEncryptionImage", IDI_RIBBON_REMOVE_ENCRYPTION},
};

// The ribbon of each application, with the operations object it works through.
struct SApplicationRibbon {
  const wchar_t* wszRibbonId;
  std::unique_ptr<CDocumentOperations> (*pfnCreate)();
};
template <class T>
std::unique_ptr<CDocumentOperations> CreateOperations() {
  return std::make_unique<T>();
}
constexpr SApplicationRibbon kApplicationRibbons[] = {
    {L"Microsoft.Word.Document", CreateOperations<CWordOperations>},
    {L"Microsoft.Excel.Workbook", CreateOperations<CExcelOperations>},
    {L"Microsoft.PowerPoint.Presentation", CreateOperations<CPowerPointOperations>},
};

// The callbacks that need the operations object have none after an unknown ribbon id.
HRESULT NoOperations(CTraceScope& scope) {
  scope.Error("no operations object for this ribbon", E_UNEXPECTED);
  return E_UNEXPECTED;
}

}  // namespace

CDocumentRibbon::CDocumentRibbon(IUnknown* pOuter)
    : COfficeAddIn(pOuter), m_nBalloonDelay(static_cast<int>(ReadUserSetting(kDocumentBalloon))) {}

CDocumentRibbon::~CDocumentRibbon() {
  CTraceScope scope("CDocumentRibbon::FinalRelease");
  if (m_nTimer) KillTimer(nullptr, m_nTimer);
  if (g_pDocumentRibbon == this) g_pDocumentRibbon = nullptr;
  m_watcher.Stop(scope);
  // The ribbon lives until the application shuts down, so it sends the usage report, once its
  // watcher has stopped.
  g_UsageTracker.SendReport();
}

HRESULT CDocumentRibbon::FinalConstruct() {
  CTraceScope scope("CDocumentRibbon::FinalConstruct");
  const HRESULT hr = m_watcher.Create();
  if (FAILED(hr)) {
    scope.Error("CreateEvent()", hr);
    return hr;
  }
  g_pDocumentRibbon = this;
  m_nTimer = SetTimer(nullptr, 0, CCertificateWatcher::kRefreshPeriod, OnTimer);
  return S_OK;
}

void* CDocumentRibbon::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IDocumentRibbon)) {
    return static_cast<IDocumentRibbon*>(this);
  }
  if (IsEqualIID(riid, Office::IID_IDTExtensibility2)) return static_cast<Office::IDTExtensibility2*>(this);
  if (IsEqualIID(riid, Office::IID_IRibbonExtensibility)) return static_cast<Office::IRibbonExtensibility*>(this);
  return nullptr;
}

void CALLBACK CDocumentRibbon::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  try {
    if (g_pDocumentRibbon) g_pDocumentRibbon->Tick();
  } catch (...) {
    CTraceScope scope("CDocumentRibbon::OnTimer");
    scope.Error("", E_UNEXPECTED);
  }
}

// Labels and visibility are asked again: the certificate request item goes once a certificate
// exists. Then the balloon's countdown; the balloon goes when its time is up.
void CDocumentRibbon::Tick() {
  if (m_watcher.TakeSignal()) {
    CTraceScope scope("CDocumentRibbon::OnTimer");
    if (m_spRibbonUI) m_spRibbonUI->Invalidate();
  }
  BalloonCountdownTick(m_nBalloonDelay, m_nBalloonDuration, m_balloon, &tooltip_t::hide, kDocumentBalloon,
                       [this] { return ShowBalloonPrompt(); });
}

bool CDocumentRibbon::ShowBalloonPrompt() {
  CTraceScope scope("CDocumentRibbon::ShowBalloonPrompt()");
  const HWND hwnd = GetActiveWindow();
  RECT rc = {};
  if (!hwnd) {
    scope.Error("GetActiveWindow()", E_FAIL);
  } else if (SUCCEEDED(FindRibbonControl(scope, hwnd, L"Ribbon", nullptr, LoadResourceString(IDS_DOCUMENT_BUTTON),
                                         ROLE_SYSTEM_SPLITBUTTON, &rc))) {
    return ShowBalloonAt(scope, m_balloon, hwnd, rc, IDS_CAPTION, IDS_BALLOON_DOCUMENT);
  }
  return false;
}

HRESULT CDocumentRibbon::GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) {
  CTraceScope scope("CDocumentRibbon::GetCustomUI");
  return GuardComEntry(scope, [&]() -> HRESULT {
    const wchar_t* wszId = RibbonID ? RibbonID : L"";
    scope.Message("RibbonID = %ls", wszId);
    if (RibbonXml) *RibbonXml = nullptr;
    m_pOperations.reset();
    for (const SApplicationRibbon& ribbon : kApplicationRibbons) {
      if (!_wcsicmp(wszId, ribbon.wszRibbonId)) m_pOperations = ribbon.pfnCreate();
    }
    if (!m_pOperations) return E_NOTIMPL;
    if (!RibbonXml) return E_POINTER;
    return LoadRibbonXml(IDR_RIBBON_DOCUMENT, RibbonXml);
  });
}

HRESULT CDocumentRibbon::Ribbon_OnLoad(IDispatch* pRibbon) {
  CTraceScope scope("CDocumentRibbon::Ribbon_OnLoad");
  const HRESULT hr = QueryRibbonUI(scope, pRibbon, m_spRibbonUI);
  if (SUCCEEDED(hr)) m_watcher.Start(scope);
  return hr;
}

HRESULT CDocumentRibbon::Ribbon_OnLoadImage(BSTR bstrImageId, IDispatch** ppdispImage) {
  CTraceScope scope("CDocumentRibbon::Ribbon_OnLoadImage");
  return GuardComEntry(scope, [&] {
    if (!ppdispImage) return E_POINTER;
    *ppdispImage = nullptr;
    IPictureDisp* pPicture = nullptr;
    const HRESULT hr = LoadRibbonImage(scope, bstrImageId ? bstrImageId : L"", kMenuImages, &pPicture);
    *ppdispImage = pPicture;
    return hr;
  });
}

HRESULT CDocumentRibbon::Ribbon_GetGroupLabel(IDispatch* pControl, BSTR* pbstrLabel) {
  CTraceScope scope("CDocumentRibbon::Ribbon_GetGroupLabel");
  return ControlText(scope, pControl, pbstrLabel, [](const std::wstring&) -> std::optional<std::wstring> {
    return LoadResourceString(IDS_GROUP_LABEL);
  });
}

HRESULT CDocumentRibbon::Ribbon_GetButtonLabel(IDispatch* pControl, BSTR* pbstrLabel) {
  CTraceScope scope("CDocumentRibbon::Ribbon_GetButtonLabel");
  return ControlText(scope, pControl, pbstrLabel, [](const std::wstring&) -> std::optional<std::wstring> {
    return LoadResourceString(IDS_DOCUMENT_BUTTON);
  });
}

HRESULT CDocumentRibbon::Ribbon_GetMenuItemLabel(IDispatch* pControl, BSTR* pbstrLabel) {
  CTraceScope scope("CDocumentRibbon::Ribbon_GetMenuItemLabel");
  return MenuItemText(scope, pControl, pbstrLabel, kMenuTexts, &SMenuText::nLabel);
}

HRESULT CDocumentRibbon::Ribbon_GetMenuItemTip(IDispatch* pControl, BSTR* pbstrScreentip) {
  CTraceScope scope("CDocumentRibbon::Ribbon_GetMenuItemTip");
  return MenuItemText(scope, pControl, pbstrScreentip, kMenuTexts, &SMenuText::nTip);
}

HRESULT CDocumentRibbon::Ribbon_OnButtonClicked(IDispatch* pControl) {
  CTraceScope scope("CDocumentRibbon::Ribbon_OnButtonClicked");
  return GuardComEntry(scope, [&] {
    CComPtr<IDispatch> cpContext;
    const HRESULT hr = ReadControlContext(scope, pControl, cpContext);
    if (FAILED(hr)) return hr;
    return m_pOperations ? m_pOperations->ApplyDefaultSecurity(cpContext) : NoOperations(scope);
  });
}

HRESULT CDocumentRibbon::RunOnContext(CTraceScope& scope, IDispatch* pControl, bool bSign, bool bEncrypt) {
  CComPtr<IDispatch> cpContext;
  const HRESULT hr = ReadControlContext(scope, pControl, cpContext);
  if (FAILED(hr)) return hr;
  return m_pOperations ? m_pOperations->ApplySecurityChoice(cpContext, bSign, bEncrypt) : NoOperations(scope);
}

// The item chooses between signing with a visible line and without: bit 0x4 of "DocumentSecurity".
HRESULT CDocumentRibbon::ToggleSignatureLine() {
  WriteUserSetting(kDocumentSecurity, ReadUserSetting(kDocumentSecurity) ^ kSecurityNoSignatureLine);
  return m_spRibbonUI ? m_spRibbonUI->InvalidateControl(CComBSTR(kSignatureLineItem)) : S_OK;
}

HRESULT CDocumentRibbon::Ribbon_OnMenuItemClicked(IDispatch* pControl) {
  CTraceScope scope("CDocumentRibbon::Ribbon_OnMenuItemClicked");
  return GuardComEntry(scope, [&]() -> HRESULT {
    std::wstring wsId;
    const HRESULT hr = ReadControlId(scope, pControl, &wsId);
    if (FAILED(hr)) return hr;
    const auto is = [&wsId](const wchar_t* wszItem) { return !_wcsicmp(wsId.c_str(), wszItem); };
    if (is(L"CustomMenuSign")) return RunOnContext(scope, pControl, true, false);
    if (is(L"CustomMenuEncrypt")) return RunOnContext(scope, pControl, false, true);
    // Neither: the operations ask the encryption provider to remove the document's encryption.
    if (is(L"CustomMenuRemoveEncryption")) return RunOnContext(scope, pControl, false, false);
    if (is(kSignatureLineItem)) return ToggleSignatureLine();
    if (is(kRequestCertItem)) {
      CVmActCtx actCtx;
      const HRESULT hrObtain = CCertLibrary().CM_ObtainCert(GetActiveWindow(), nullptr, nullptr, 0);
      if (FAILED(hrObtain)) scope.Error("CM_ObtainCert()", hrObtain);
      return hrObtain;
    }
    if (is(L"CustomMenuManage")) {
      LaunchCertificateManager();
    } else if (is(L"CustomMenuBuddies")) {
      LaunchBuddyManager();
    } else if (is(L"CustomMenuOptions")) {
      if (!m_pOperations) return NoOperations(scope);
      m_pOperations->ShowOptions();
      if (m_spRibbonUI) m_spRibbonUI->InvalidateControl(CComBSTR(kSignatureLineItem));
    } else if (is(L"CustomMenuHelp")) {
      CVmActCtx actCtx;
      const HRESULT hrHelp = CCertLibrary().GC_HtmlHelp(L"1_1_3_4.html");
      if (FAILED(hrHelp)) scope.Error("GC_HtmlHelp()", hrHelp);
    } else {
      scope.Error("unknown menu command", E_NOTIMPL);
      return E_NOTIMPL;
    }
    return S_OK;
  });
}

HRESULT CDocumentRibbon::Ribbon_GetMenuItemVisible(IDispatch* pControl, VARIANT_BOOL* pvarfVisible) {
  CTraceScope scope("CDocumentRibbon::Ribbon_GetMenuItemVisible");
  return GuardComEntry(scope, [&] {
    std::wstring wsId;
    const HRESULT hr = ReadControlId(scope, pControl, &wsId);
    if (FAILED(hr)) return hr;
    if (!pvarfVisible) return E_POINTER;
    bool bVisible = false;
    if (!_wcsicmp(wsId.c_str(), kSignatureLineItem)) {
      if (!m_pOperations) return NoOperations(scope);
      bVisible = !m_pOperations->SignatureLinesUnsupported();
    } else if (!_wcsicmp(wsId.c_str(), kRequestCertItem)) {
      bVisible = !HasPersonalCertificate();
    } else {
      return E_NOTIMPL;
    }
    *pvarfVisible = bVisible ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT CDocumentRibbon::Ribbon_GetMenuItemImage(IDispatch* pControl, IDispatch** ppdispImage) {
  CTraceScope scope("CDocumentRibbon::Ribbon_GetMenuItemImage");
  return GuardComEntry(scope, [&] {
    std::wstring wsId;
    const HRESULT hr = ReadControlId(scope, pControl, &wsId);
    if (FAILED(hr)) return hr;
    if (!ppdispImage) return E_POINTER;
    *ppdispImage = nullptr;
    if (_wcsicmp(wsId.c_str(), kSignatureLineItem)) return E_NOTIMPL;
    // Only while a signature line is wanted; no image otherwise.
    if (GetDocumentSecurity() & kSecurityNoSignatureLine) return E_FAIL;
    IPictureDisp* pPicture = nullptr;
    const HRESULT hrPicture = ModuleIconPicture(scope, IDI_RIBBON_SIGNATURE_LINE, &pPicture);
    *ppdispImage = pPicture;
    return hrPicture;
  });
}
