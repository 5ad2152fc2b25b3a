// The compose and explorer ribbons of CComposeRibbon: the ribbon documents, the callbacks that
// Office calls by name, and the entry point other programs of the suite reach through COMAddIns.
#include <olectl.h>

#include <optional>
#include <string>

#include "com/Bstr.h"
#include "com/CriticalSection.h"
#include "mail/Accounts.h"
#include "mail/WindowHelpers.h"
#include "module/ActCtx.h"
#include "module/AddInModule.h"
#include "module/Branding.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "module/Settings.h"
#include "outlook/ComposeRibbon.h"
#include "res/StringIds.h"
#include "res/resource.h"
#include "ui/Dialogs.h"
#include "ui/PropertySheetHost.h"

namespace {

constexpr wchar_t kComposeRibbonId[] = L"Microsoft.Outlook.Mail.Compose";
constexpr wchar_t kExplorerRibbonId[] = L"Microsoft.Outlook.Explorer";
constexpr wchar_t kRequestCertItem[] = L"CustomMenuRequestCert";

struct SMenuText {
  const wchar_t* wszControlId;
  UINT nLabel;
  UINT nTip;
};
constexpr SMenuText kMenuTexts[] = {
    {kRequestCertItem, IDS_MENU_REQUEST_CERT, IDS_TIP_REQUEST_CERT},
    {L"CustomMenuSign", IDS_MENU_SIGN, IDS_TIP_SIGN},
    {L"CustomMenuSeal", IDS_MENU_SEAL, IDS_TIP_SEAL},
    {L"CustomMenuInvite", IDS_MENU_INVITE, IDS_TIP_INVITE},
    {L"CustomMenuBatchInvite", IDS_MENU_BATCH_INVITE, IDS_TIP_BATCH_INVITE},
    {L"CustomMenuManage", IDS_MENU_MANAGE, IDS_TIP_MANAGE},
    {L"CustomMenuBuddies", IDS_MENU_BUDDIES, IDS_TIP_BUDDIES},
    {L"CustomMenuOptions", IDS_MENU_OPTIONS, IDS_TIP_OPTIONS},
    {L"CustomMenuHelp", IDS_MENU_HELP, IDS_TIP_HELP},
};

const SMenuText* FindMenuText(const std::wstring& wsControlId) {
  for (const SMenuText& text : kMenuTexts) {
    if (wsControlId == text.wszControlId) return &text;
  }
  return nullptr;
}

// The control's Id, after making sure that it is an IRibbonControl.
HRESULT ReadControlId(CTraceScope& scope, IDispatch* pControl, std::wstring* pwsId) {
  CComPtr<Office::IRibbonControl> cpControl;
  HRESULT hr =
      pControl ? pControl->QueryInterface(Office::IID_IRibbonControl, reinterpret_cast<void**>(&cpControl)) : E_POINTER;
  if (FAILED(hr)) {
    scope.Error("QueryInterface(__uuidof(Office::IRibbonControl))", hr);
    return hr;
  }
  CComBSTR bsId;
  hr = cpControl->get_Id(&bsId);
  if (FAILED(hr)) {
    scope.Error("cpControl->get_Id()", hr);
    return hr;
  }
  *pwsId = bsId.c_str() ? bsId.c_str() : L"";
  scope.Message("Control ID = %ls", pwsId->c_str());
  return S_OK;
}

// The control's Context: the window it is shown in.
HRESULT ReadControlContext(CTraceScope& scope, IDispatch* pControl, CComPtr<IDispatch>& cpContext) {
  CComPtr<Office::IRibbonControl> cpControl;
  HRESULT hr = pControl->QueryInterface(Office::IID_IRibbonControl, reinterpret_cast<void**>(&cpControl));
  if (SUCCEEDED(hr)) hr = cpControl->get_Context(&cpContext);
  if (SUCCEEDED(hr) && !cpContext) hr = E_FAIL;
  if (FAILED(hr)) scope.Error("cpControl->get_Context()", hr);
  return hr;
}

// Answers a text callback with the text that textFor gives the control's id; no text is E_NOTIMPL.
template <class F>
HRESULT ControlText(CTraceScope& scope, IDispatch* pControl, BSTR* pbstrText, F textFor) {
  return GuardComEntry(scope, [&] {
    std::wstring wsId;
    const HRESULT hr = ReadControlId(scope, pControl, &wsId);
    if (FAILED(hr)) return hr;
    if (!pbstrText) return E_POINTER;
    const std::optional<std::wstring> text = textFor(wsId);
    if (!text) return E_NOTIMPL;
    // A text that exists in no resource module: Office shows nothing rather than an empty label.
    if (text->empty()) {
      scope.Error("LoadResourceString()", HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
      return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    *pbstrText = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    return *pbstrText ? S_OK : E_OUTOFMEMORY;
  });
}

// The ribbon document of a resource, its single-byte text widened with the thread's ANSI code page.
HRESULT LoadRibbonXml(UINT nResource, BSTR* pbstrXml) {
  const HMODULE hModule = g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr;
  const HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(nResource), MAKEINTRESOURCEW(10));
  const HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : nullptr;
  const char* pText = hData ? static_cast<const char*>(LockResource(hData)) : nullptr;
  if (!pText) return HRESULT_FROM_WIN32(GetLastError());
  const int cb = static_cast<int>(SizeofResource(hModule, hResource));
  const int cch = MultiByteToWideChar(CP_THREAD_ACP, 0, pText, cb, nullptr, 0);
  *pbstrXml = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
  if (!*pbstrXml) return E_OUTOFMEMORY;
  MultiByteToWideChar(CP_THREAD_ACP, 0, pText, cb, *pbstrXml, cch);
  return S_OK;
}

struct SRibbonImage {
  const wchar_t* wszImageId;
  UINT nIcon;
};
constexpr SRibbonImage kMenuImages[] = {
    {L"RequestCertImage", IDI_RIBBON_REQUEST_CERT},
    {L"SignImage", IDI_RIBBON_SIGN},
    {L"SealImage", IDI_RIBBON_SEAL},
    {L"InviteImage", IDI_RIBBON_INVITE},
    {L"BatchInviteImage", IDI_RIBBON_BATCH_INVITE},
    {L"ManageImage", IDI_RIBBON_MANAGE},
    {L"BuddiesImage", IDI_RIBBON_BUDDIES},
    {L"OptionsImage", IDI_RIBBON_OPTIONS},
    {L"HelpImage", IDI_RIBBON_HELP},
};

// The large button's face is the branding DLL's; scaled down by the common controls where they
// can, which draws it better than a stretched copy.
HICON LoadButtonIcon() {
  const HMODULE hBranding = CBranding::LoadResourceDLL();
  if (!hBranding) return nullptr;
  using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  const auto pfnScaleDown = reinterpret_cast<LoadIconWithScaleDownFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
  HICON hIcon = nullptr;
  if (pfnScaleDown && SUCCEEDED(pfnScaleDown(hBranding, MAKEINTRESOURCEW(IDI_BRAND_BUTTON), 32, 32, &hIcon)))
    return hIcon;
  return static_cast<HICON>(LoadImageW(hBranding, MAKEINTRESOURCEW(IDI_BRAND_BUTTON), IMAGE_ICON, 32, 32, LR_SHARED));
}

// The icon of a ribbon image id (any letter case); null for an unknown id or an icon that does not load.
HICON LoadRibbonIcon(const wchar_t* wszImageId) {
  if (!_wcsicmp(wszImageId, L"ButtonImage")) return LoadButtonIcon();
  for (const SRibbonImage& image : kMenuImages) {
    if (_wcsicmp(wszImageId, image.wszImageId)) continue;
    const HMODULE hModule = g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr;
    return static_cast<HICON>(LoadImageW(hModule, MAKEINTRESOURCEW(image.nIcon), IMAGE_ICON, 16, 16, LR_SHARED));
  }
  return nullptr;
}

// Enrols the user: for the account that sends the message of the control's window when it has one,
// else without owner window, address or name.
HRESULT RequestCertificate(CTraceScope& scope, IDispatch* pControl) {
  CComPtr<IDispatch> cpContext, cpItem;
  CComBSTR bsAddress, bsName;
  HWND hwndMessage = nullptr;
  if (SUCCEEDED(ReadControlContext(scope, pControl, cpContext)) &&
      SUCCEEDED(GetCurrentMailItem(cpContext, &cpItem, nullptr))) {
    const HRESULT hr = GetSendUsingAccount(cpItem, &bsAddress, &bsName);
    if (FAILED(hr)) scope.Error("GetSendUsingAccount()", hr);
    hwndMessage = GetMailItemWindow(cpItem);
  }
  CVmActCtx actCtx;
  const HRESULT hr = CCertLibrary().CM_ObtainCert(hwndMessage, bsAddress.c_str() ? bsAddress.c_str() : L"",
                                                  bsName.c_str() ? bsName.c_str() : L"", 0);
  if (FAILED(hr)) scope.Error("CM_ObtainCert()", hr);
  return hr;
}

// The menu commands that lead to the suite's tools rather than to a message.
HRESULT RunSuiteCommand(CTraceScope& scope, IDispatch* pApplication, IDispatch* pControl, const std::wstring& wsId) {
  const wchar_t* wszId = wsId.c_str();
  if (!_wcsicmp(wszId, kRequestCertItem)) return RequestCertificate(scope, pControl);
  if (!_wcsicmp(wszId, L"CustomMenuManage")) {
    LaunchCertificateManager();
  } else if (!_wcsicmp(wszId, L"CustomMenuBuddies")) {
    LaunchBuddyManager();
  } else if (!_wcsicmp(wszId, L"CustomMenuOptions")) {
    CVmActCtx actCtx;
    CEmailOptionsDialog().DoModal(GetActiveWindowHandle(pApplication));
  } else if (!_wcsicmp(wszId, L"CustomMenuHelp")) {
    CVmActCtx actCtx;
    const HRESULT hr = CCertLibrary().GC_HtmlHelp(L"1_1_3_3.html");
    if (FAILED(hr)) scope.Error("GC_HtmlHelp()", hr);
  } else {
    scope.Error("unknown menu command", E_NOTIMPL);
    return E_NOTIMPL;
  }
  return S_OK;
}

}  // namespace

// A store that cannot be opened counts as none.
bool HasPersonalCertificate() {
  CCertLibrary certLib;
  CPersonalStoreScope personalStore(certLib);
  if (FAILED(personalStore.Result())) return false;
  DWORD dwCount = 0;
  return SUCCEEDED(certLib.CM_EnumMyCerts(0, nullptr, &dwCount)) && dwCount > 0;
}

HRESULT CComposeRibbon::LoadTypeInfo() {
  if (m_cpTypeInfo) return S_OK;
  wchar_t wszPath[MAX_PATH] = {};
  const HMODULE hModule = g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr;
  if (!GetModuleFileNameW(hModule, wszPath, MAX_PATH)) return HRESULT_FROM_WIN32(GetLastError());
  CComPtr<ITypeLib> cpTypeLib;
  HRESULT hr = LoadTypeLibEx(wszPath, REGKIND_NONE, &cpTypeLib);
  if (SUCCEEDED(hr)) hr = cpTypeLib->GetTypeInfoOfGuid(IID_IComposeRibbon, &m_cpTypeInfo);
  return hr;
}

HRESULT CComposeRibbon::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 1;
  return S_OK;
}

HRESULT CComposeRibbon::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
  if (!ppTInfo) return E_POINTER;
  *ppTInfo = nullptr;
  if (iTInfo) return DISP_E_BADINDEX;
  const HRESULT hr = LoadTypeInfo();
  return SUCCEEDED(hr) ? m_cpTypeInfo.CopyTo(ppTInfo) : hr;
}

HRESULT CComposeRibbon::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
  const HRESULT hr = LoadTypeInfo();
  return SUCCEEDED(hr) ? DispGetIDsOfNames(m_cpTypeInfo, rgszNames, cNames, rgDispId) : hr;
}

HRESULT CComposeRibbon::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                               VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  const HRESULT hr = LoadTypeInfo();
  return SUCCEEDED(hr) ? DispInvoke(static_cast<IComposeRibbon*>(this), m_cpTypeInfo, dispIdMember, wFlags, pDispParams,
                                    pVarResult, pExcepInfo, puArgErr)
                       : hr;
}

HRESULT CComposeRibbon::GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) {
  CTraceScope scope("CComposeRibbon::GetCustomUI");
  return GuardComEntry(scope, [&]() -> HRESULT {
    scope.Message("RibbonID = %ls", RibbonID ? RibbonID : L"");
    if (!RibbonXml) return E_POINTER;
    *RibbonXml = nullptr;
    const wchar_t* wszId = RibbonID ? RibbonID : L"";
    if (!_wcsicmp(wszId, kComposeRibbonId)) return LoadRibbonXml(IDR_RIBBON_COMPOSE, RibbonXml);
    if (!_wcsicmp(wszId, kExplorerRibbonId)) return LoadRibbonXml(IDR_RIBBON_EXPLORER, RibbonXml);
    return E_NOTIMPL;
  });
}

HRESULT CComposeRibbon::StoreRibbonUI(CTraceScope& scope, IDispatch* pRibbon, CComPtr<Office::IRibbonUI>& cpTarget) {
  return GuardComEntry(scope, [&] {
    CComPtr<Office::IRibbonUI> cpRibbonUI;
    const HRESULT hr =
        pRibbon ? pRibbon->QueryInterface(Office::IID_IRibbonUI, reinterpret_cast<void**>(&cpRibbonUI)) : E_POINTER;
    if (FAILED(hr)) {
      scope.Error("QueryInterface(__uuidof(Office::IRibbonUI))", hr);
      return hr;
    }
    cpTarget = cpRibbonUI;
    return S_OK;
  });
}

HRESULT CComposeRibbon::Ribbon_OnLoadExplorer(IDispatch* pRibbon) {
  CTraceScope scope("CComposeRibbon::Ribbon_OnLoadExplorer");
  return StoreRibbonUI(scope, pRibbon, m_spExplorerRibbonUI);
}

HRESULT CComposeRibbon::Ribbon_OnLoadCompose(IDispatch* pRibbon) {
  CTraceScope scope("CComposeRibbon::Ribbon_OnLoadCompose");
  return StoreRibbonUI(scope, pRibbon, m_spComposeRibbonUI);
}

HRESULT CComposeRibbon::Ribbon_OnLoadImage(BSTR* pbstrImageId, IPictureDisp** ppdispImage) {
  CTraceScope scope("CComposeRibbon::Ribbon_OnLoadImage");
  return GuardComEntry(scope, [&] {
    if (!ppdispImage) return E_POINTER;
    *ppdispImage = nullptr;
    if (!pbstrImageId) return E_POINTER;
    const wchar_t* wszImageId = *pbstrImageId ? *pbstrImageId : L"";
    scope.Message("Image ID = %ls", wszImageId);
    const HICON hIcon = LoadRibbonIcon(wszImageId);
    if (!hIcon) {
      scope.Error("LoadRibbonIcon()", E_NOTIMPL);
      return E_NOTIMPL;
    }
    // The icons are shared or live as long as Office keeps the picture: the picture does not own them.
    PICTDESC desc = {sizeof desc, PICTYPE_ICON, {}};
    desc.icon.hicon = hIcon;
    const HRESULT hr = OleCreatePictureIndirect(&desc, IID_IPictureDisp, FALSE, reinterpret_cast<void**>(ppdispImage));
    if (FAILED(hr)) scope.Error("OleCreatePictureIndirect()", hr);
    return hr;
  });
}

HRESULT CComposeRibbon::Ribbon_GetGroupLabel(IDispatch* pControl, BSTR* pbstrLabel) {
  CTraceScope scope("CComposeRibbon::Ribbon_GetGroupLabel");
  return ControlText(scope, pControl, pbstrLabel, [](const std::wstring&) -> std::optional<std::wstring> {
    return LoadResourceString(IDS_GROUP_LABEL);
  });
}

HRESULT CComposeRibbon::Ribbon_GetButtonLabel(IDispatch* pControl, BSTR* pbstrLabel) {
  CTraceScope scope("CComposeRibbon::Ribbon_GetButtonLabel");
  return ControlText(scope, pControl, pbstrLabel, [](const std::wstring& wsId) -> std::optional<std::wstring> {
    if (wsId == L"CustomButton") return LoadResourceString(IDS_SECURE_SEND);
    if (wsId == L"CustomMenu") return GetBrandString(IDS_BRAND_SHORT_PRODUCT);
    return std::nullopt;
  });
}

HRESULT CComposeRibbon::Ribbon_GetMenuItemLabel(IDispatch* pControl, BSTR* pbstrLabel) {
  CTraceScope scope("CComposeRibbon::Ribbon_GetMenuItemLabel");
  return ControlText(scope, pControl, pbstrLabel, [](const std::wstring& wsId) -> std::optional<std::wstring> {
    const SMenuText* pText = FindMenuText(wsId);
    return pText ? std::optional(LoadResourceString(pText->nLabel)) : std::nullopt;
  });
}

HRESULT CComposeRibbon::Ribbon_GetMenuItemTip(IDispatch* pControl, BSTR* pbstrScreentip) {
  CTraceScope scope("CComposeRibbon::Ribbon_GetMenuItemTip");
  return ControlText(scope, pControl, pbstrScreentip, [](const std::wstring& wsId) -> std::optional<std::wstring> {
    const SMenuText* pText = FindMenuText(wsId);
    return pText ? std::optional(LoadResourceString(pText->nTip)) : std::nullopt;
  });
}

HRESULT CComposeRibbon::Ribbon_GetMenuItemVisible(IDispatch* pControl, VARIANT_BOOL* pvarfVisible) {
  CTraceScope scope("CComposeRibbon::Ribbon_GetMenuItemVisible");
  return GuardComEntry(scope, [&] {
    std::wstring wsId;
    const HRESULT hr = ReadControlId(scope, pControl, &wsId);
    if (FAILED(hr)) return hr;
    if (!pvarfVisible) return E_POINTER;
    if (_wcsicmp(wsId.c_str(), kRequestCertItem)) return E_NOTIMPL;
    *pvarfVisible = HasPersonalCertificate() ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT CComposeRibbon::Ribbon_OnButtonClicked(IDispatch* pControl) {
  CTraceScope scope("CComposeRibbon::Ribbon_OnButtonClicked");
  return SendCurrentItem(pControl, TRUE, (ReadUserSetting(kEmailSecurity) & kEmailSecuritySeal) != 0, TRUE);
}

HRESULT CComposeRibbon::Ribbon_OnMenuItemClicked(IDispatch* pControl) {
  CTraceScope scope("CComposeRibbon::Ribbon_OnMenuItemClicked");
  return GuardComEntry(scope, [&] {
    std::wstring wsId;
    HRESULT hr = ReadControlId(scope, pControl, &wsId);
    if (FAILED(hr)) return hr;
    if (!_wcsicmp(wsId.c_str(), L"CustomMenuSign")) return SendCurrentItem(pControl, TRUE, FALSE, FALSE);
    if (!_wcsicmp(wsId.c_str(), L"CustomMenuSeal")) return SendCurrentItem(pControl, TRUE, TRUE, FALSE);
    const bool bInvite = !_wcsicmp(wsId.c_str(), L"CustomMenuInvite");
    if (bInvite || !_wcsicmp(wsId.c_str(), L"CustomMenuBatchInvite")) {
      // From a compose window the message being written becomes the invitation; from a main
      // window a new message does, even when the reading pane shows one.
      CComPtr<IDispatch> cpContext, cpItem;
      hr = ReadControlContext(scope, pControl, cpContext);
      if (FAILED(hr)) return hr;
      BOOL bReadingPane = TRUE;
      if (FAILED(GetCurrentMailItem(cpContext, &cpItem, &bReadingPane)) || bReadingPane) cpItem.Release();
      return bInvite ? SendInvitation(cpItem) : SendBatchInvitation(cpItem);
    }
    return RunSuiteCommand(scope, m_spApplication, pControl, wsId);
  });
}

HRESULT CComposeRibbon::SendTrustedContactInvitation() {
  CTraceScope scope("CComposeRibbon::SendTrustedContactInvitation");
  return GuardComEntry(scope, [&] {
    HRESULT hr = S_OK;
    {
      CCriticalSectionLock lock(&m_csProfile);
      if (!IsProfileActive()) {
        hr = HRESULT_FROM_WIN32(ERROR_CANCELLED);
      } else if (!m_bProfileReady) {
        hr = InitializeProfile();
      }
    }
    if (FAILED(hr)) return hr;
    return SendInvitation(nullptr);
  });
}
