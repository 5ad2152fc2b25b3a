// The mail balloon prompt of CComposeRibbon: once, a few seconds after Outlook has started with
// the profile ready, a balloon points at the add-in's button in the active window.
#include <oleacc.h>

#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "mail/WindowHelpers.h"
#include "module/Branding.h"
#include "module/ResourceStrings.h"
#include "module/Balloon.h"
#include "outlook/ComposeRibbon.h"
#include "res/StringIds.h"

namespace {

constexpr int kFirstExplorerRibbon = 14;

LONG LongProperty(IDispatch* pDisp, const wchar_t* wszName, HRESULT* phr) {
  CComVariant var;
  if (SUCCEEDED(*phr)) *phr = LateBound::GetProperty(pDisp, wszName, &var);
  if (SUCCEEDED(*phr)) *phr = var.ChangeType(VT_I4);
  return SUCCEEDED(*phr) ? var.lVal : 0;
}

// The screen rectangle of the add-in's pop-up (caption string 400) on a main window's "Standard" bar.
HRESULT FindCommandBarPopup(CTraceScope& scope, IDispatch* pExplorer, RECT* prcScreen) {
  CComPtr<IDispatch> cpCommandBars, cpBar, cpControls, cpPopup;
  HRESULT hr = LateBound::GetObjectProperty(pExplorer, L"CommandBars", &cpCommandBars);
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpCommandBars, L"Item", &cpBar, {CComVariant(L"Standard")});
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpBar, L"Controls", &cpControls);
  const LONG lCount = LongProperty(cpControls, L"Count", &hr);
  if (FAILED(hr)) {
    scope.Error("cpBar->get_Controls()", hr);
    return hr;
  }
  const std::wstring wsCaption = LoadResourceString(IDS_GROUP_LABEL);
  for (LONG lIndex = 1; lIndex <= lCount && !cpPopup; ++lIndex) {
    CComPtr<IDispatch> cpControl;
    CComVariant varCaption;
    if (SUCCEEDED(LateBound::GetObjectProperty(cpControls, L"Item", &cpControl, {CComVariant(lIndex)})) &&
        SUCCEEDED(LateBound::GetProperty(cpControl, L"Caption", &varCaption)) && varCaption.vt == VT_BSTR &&
        varCaption.bstrVal && wsCaption == varCaption.bstrVal) {
      cpPopup = cpControl;
    }
  }
  if (!cpPopup) {
    scope.Error("cpControls->Item()", HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  const LONG lLeft = LongProperty(cpPopup, L"Left", &hr);
  const LONG lTop = LongProperty(cpPopup, L"Top", &hr);
  const LONG lWidth = LongProperty(cpPopup, L"Width", &hr);
  const LONG lHeight = LongProperty(cpPopup, L"Height", &hr);
  if (FAILED(hr)) {
    scope.Error("cpPopup->get_Left/Top/Width/Height()", hr);
    return hr;
  }
  *prcScreen = {lLeft, lTop, lLeft + lWidth, lTop + lHeight};
  return S_OK;
}

}  // namespace

bool CComposeRibbon::ShowBalloonPrompt() {
  CTraceScope scope("CComposeRibbon::ShowBalloonPrompt()");
  return GuardComEntry(scope, [&]() -> HRESULT {
           if (!m_bProfileReady) return E_ABORT;
           CComPtr<IDispatch> cpWindow;
           HRESULT hr = GetApplicationActiveWindow(m_spApplication, &cpWindow);
           if (FAILED(hr)) {
             scope.Error("GetApplicationActiveWindow()", hr);
             return hr;
           }
           const HWND hwnd = UnkToHWnd(cpWindow);
           if (!hwnd) {
             scope.Error("UnkToHWnd()", E_FAIL);
             return E_FAIL;
           }
           CComPtr<IDispatch> cpExplorer;
           const bool bExplorer =
               SUCCEEDED(cpWindow->QueryInterface(Outlook::IID__Explorer, reinterpret_cast<void**>(&cpExplorer)));
           RECT rc = {};
           if (!bExplorer) {
             hr = FindRibbonControl(scope, hwnd, nullptr, L"Ribbon", LoadResourceString(IDS_SECURE_SEND),
                                    ROLE_SYSTEM_SPLITBUTTON, &rc);
           } else if (GetOutlookVersion(m_spApplication) >= kFirstExplorerRibbon) {
             hr = FindRibbonControl(scope, hwnd, nullptr, L"Ribbon", GetBrandString(IDS_BRAND_SHORT_PRODUCT),
                                    ROLE_SYSTEM_BUTTONDROPDOWN, &rc);
           } else {
             hr = FindCommandBarPopup(scope, cpExplorer, &rc);
           }
           if (FAILED(hr)) return hr;
           return ShowBalloonAt(scope, m_tooltip, hwnd, rc, IDS_CAPTION, IDS_BALLOON_MAIL) ? S_OK : E_FAIL;
         }) == S_OK;
}
