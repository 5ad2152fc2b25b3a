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

constexpr SMenuText kMenuTexts[] = {
    {kRequestCertItem, IDS_MENU_REQUEST_CERT, IDS_TIP_REQUEST_CERT},
    {L"CustomMenuSign", IDS_MENU_SIGN, IDS_TIP_SIGN},
    {L"CustomMenuSeal", IDS_MENU_SEAL, IDS_TIP_SEAL},
    {L"CustomMenuInvite", IDS_MENU_INVITE, IDS_TIP_INVITE},
    {L"CustomMenuBatchInvite", IDS_MENU_BATCH_INVITE, IDS_TIP_BATCH_INVITE},
};

constexpr SRibbonImage kMenuImages[] = {
    {L"RequestCertImage", IDI_RIBBON_REQUEST_CERT},
    {L"SignImage", IDI_RIBBON_SIGN},
    {L"SealImage", IDI_RIBBON_SEAL},
    {L"InviteImage", IDI_RIBBON_INVITE},
    {L"BatchInviteImage", IDI_RIBBON_BATCH_INVITE},
};

}  // namespace

// Enrolment is for the account that sends the message when there is one, else without address
// or name.
HRESULT CComposeRibbon::RunSuiteCommand(CTraceScope& scope, IDispatch* pItem, HWND hwndOwner,
                                        const std::wstring& wsId) {
  const wchar_t* wszId = wsId.c_str();
  if (!_wcsicmp(wszId, kRequestCertItem)) {
    CComBSTR bsAddress, bsName;
    if (pItem) {
      const HRESULT hr = GetSendUsingAccount(pItem, &bsAddress, &bsName);
      if (FAILED(hr)) scope.Error("GetSendUsingAccount()", hr);
    }
    CVmActCtx actCtx;
    const HRESULT hr = CCertLibrary().CM_ObtainCert(hwndOwner, bsAddress.c_str() ? bsAddress.c_str() : L"",
                                                    bsName.c_str() ? bsName.c_str() : L"", 0);
    if (FAILED(hr)) scope.Error("CM_ObtainCert()", hr);
    return hr;
  }
  if (!_wcsicmp(wszId, L"CustomMenuManage")) {
    LaunchCertificateManager();
  } else if (!_wcsicmp(wszId, L"CustomMenuBuddies")) {
    LaunchBuddyManager();
  } else if (!_wcsicmp(wszId, L"CustomMenuOptions")) {
    CVmActCtx actCtx;
    CEmailOptionsDialog().DoModal(GetActiveWindowHandle(m_spApplication));
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

HRESULT CComposeRibbon::Ribbon_OnLoadExplorer(IDispatch* pRibbon) {
  CTraceScope scope("CComposeRibbon::Ribbon_OnLoadExplorer");
  return QueryRibbonUI(scope, pRibbon, m_spExplorerRibbonUI);
}

HRESULT CComposeRibbon::Ribbon_OnLoadCompose(IDispatch* pRibbon) {
  CTraceScope scope("CComposeRibbon::Ribbon_OnLoadCompose");
  return QueryRibbonUI(scope, pRibbon, m_spComposeRibbonUI);
}

HRESULT CComposeRibbon::Ribbon_OnLoadImage(BSTR* pbstrImageId, IPictureDisp** ppdispImage) {
  CTraceScope scope("CComposeRibbon::Ribbon_OnLoadImage");
  return GuardComEntry(scope, [&] {
    if (!ppdispImage) return E_POINTER;
    *ppdispImage = nullptr;
    if (!pbstrImageId) return E_POINTER;
    const wchar_t* wszImageId = *pbstrImageId ? *pbstrImageId : L"";
    return LoadRibbonImage(scope, wszImageId, kMenuImages, ppdispImage);
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
  return MenuItemText(scope, pControl, pbstrLabel, kMenuTexts, &SMenuText::nLabel);
}

HRESULT CComposeRibbon::Ribbon_GetMenuItemTip(IDispatch* pControl, BSTR* pbstrScreentip) {
  CTraceScope scope("CComposeRibbon::Ribbon_GetMenuItemTip");
  return MenuItemText(scope, pControl, pbstrScreentip, kMenuTexts, &SMenuText::nTip);
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
    // The request is owned by the message's window when it has one.
    CComPtr<IDispatch> cpContext, cpItem;
    if (FAILED(ReadControlContext(scope, pControl, cpContext)) ||
        FAILED(GetCurrentMailItem(cpContext, &cpItem, nullptr)))
      cpItem.Release();
    return RunSuiteCommand(scope, cpItem, cpItem ? GetMailItemWindow(cpItem) : nullptr, wsId);
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
