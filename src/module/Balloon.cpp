#include "module/Balloon.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <cstddef>
#include <vector>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "module/ResourceStrings.h"

namespace {

// mingw's library has a wrong IID_IAccessible.
constexpr IID kIIDAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr wchar_t kLowerRibbonValue[] = L"Lower Ribbon";
constexpr DWORD kTooltipStyle = WS_POPUP | TTS_CLOSE | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP;
constexpr UINT kToolFlags = TTF_TRACK | TTF_TRANSPARENT;
constexpr UINT_PTR kToolId = 1;
constexpr int kMaxTipWidth = 250;
constexpr int kTitleIconInfo = 1;
constexpr int kMouseSlack = 4;
// The tool record grew with common controls 6; older ones refuse the longer record.
constexpr UINT kToolInfoSize = sizeof(TTTOOLINFOW);
constexpr UINT kOldToolInfoSize = offsetof(TTTOOLINFOW, lParam);
#ifdef _WIN64
static_assert(kToolInfoSize == 72 && kOldToolInfoSize == 56);
#endif
// A broken accessible tree must not send the search round in circles.
constexpr int kMaxSearchDepth = 24;

// Whether the common controls that make the tooltip window are version 6 or later.
bool HasNewCommonControls() {
  const HMODULE hComCtl = GetModuleHandleW(L"comctl32.dll");
  const auto pfnGetVersion =
      hComCtl ? reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(hComCtl, "DllGetVersion")))
              : nullptr;
  DLLVERSIONINFO info = {sizeof info, 0, 0, 0, 0};
  return pfnGetVersion && SUCCEEDED(pfnGetVersion(&info)) && info.dwMajorVersion >= 6;
}

VARIANT ChildVariant(LONG lChild) {
  VARIANT var;
  VariantInit(&var);
  var.vt = VT_I4;
  var.lVal = lChild;
  return var;
}

struct SWindowSearch {
  const wchar_t* wszClass;
  const wchar_t* wszTitle;
  HWND hwndFound;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam) {
  auto* pSearch = reinterpret_cast<SWindowSearch*>(lParam);
  wchar_t wsz[256] = {};
  if (pSearch->wszClass && (!GetClassNameW(hwnd, wsz, 256) || wcscmp(wsz, pSearch->wszClass))) return TRUE;
  if (pSearch->wszTitle) {
    wsz[0] = 0;
    GetWindowTextW(hwnd, wsz, 256);
    if (wcscmp(wsz, pSearch->wszTitle)) return TRUE;
  }
  pSearch->hwndFound = hwnd;
  return FALSE;
}

POINT MouseInClient(HWND hwndOwner) {
  POINT pt = {};
  GetCursorPos(&pt);
  ScreenToClient(hwndOwner, &pt);
  return pt;
}

}  // namespace

tooltip_t::~tooltip_t() {
  if (hwndTip) DestroyWindow(hwndTip);
}

bool tooltip_t::create(HWND owner) {
  if (hwndTip) return true;
  hwndTip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, kTooltipStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, owner, nullptr, nullptr, nullptr);
  if (!hwndTip) return false;
  hwndOwner = owner;
  newCommonControls = HasNewCommonControls();
  TTTOOLINFOW info = {};
  info.cbSize = newCommonControls ? kToolInfoSize : kOldToolInfoSize;
  info.uFlags = kToolFlags;
  info.hwnd = owner;
  info.uId = kToolId;
  info.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(hwndTip, TTM_ADDTOOL, 0, reinterpret_cast<LPARAM>(&info));
  SendMessageW(hwndTip, TTM_SETMAXTIPWIDTH, 0, kMaxTipWidth);
  return true;
}

void tooltip_t::show(int x, int y) {
  CTraceScope scope("tooltip_t::show");
  POINT pt = {x, y};
  ClientToScreen(hwndOwner, &pt);
  TTTOOLINFOW info = {};
  info.cbSize = newCommonControls ? kToolInfoSize : kOldToolInfoSize;
  info.hwnd = hwndOwner;
  info.uId = kToolId;
  info.lpszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(hwndTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
  if (!title.empty()) SendMessageW(hwndTip, TTM_SETTITLEW, kTitleIconInfo, reinterpret_cast<LPARAM>(title.c_str()));
  SendMessageW(hwndTip, TTM_TRACKPOSITION, 0, MAKELPARAM(pt.x, pt.y));
  SendMessageW(hwndTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&info));
  lastMouse = MouseInClient(hwndOwner);
  scope.Message("last mouse pos: x=%d, y=%d", static_cast<int>(lastMouse.x), static_cast<int>(lastMouse.y));
  visible = true;
}

void tooltip_t::hide() {
  if (visible && hwndTip) {
    TTTOOLINFOW info = {};
    info.cbSize = newCommonControls ? kToolInfoSize : kOldToolInfoSize;
    info.hwnd = hwndOwner;
    info.uId = kToolId;
    SendMessageW(hwndTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&info));
  }
  visible = false;
}

void tooltip_t::autohide() {
  if (!visible) return;
  CTraceScope scope("tooltip_t::autohide");
  const POINT pt = MouseInClient(hwndOwner);
  const RECT rcLimits = {lastMouse.x - kMouseSlack, lastMouse.y - kMouseSlack, lastMouse.x + kMouseSlack,
                         lastMouse.y + kMouseSlack};
  scope.Message("rcLimits: x1=%d, y1=%d, x2=%d, y2=%d", static_cast<int>(rcLimits.left), static_cast<int>(rcLimits.top),
                static_cast<int>(rcLimits.right), static_cast<int>(rcLimits.bottom));
  scope.Message("mouse pos x=%d, y=%d", static_cast<int>(pt.x), static_cast<int>(pt.y));
  if (pt.x >= rcLimits.left && pt.x <= rcLimits.right && pt.y >= rcLimits.top && pt.y <= rcLimits.bottom) return;
  hide();
  lastMouse = pt;
}

HWND FindDescendantWindow(HWND parent, const wchar_t* wszClass, const wchar_t* wszTitle) {
  SWindowSearch search = {wszClass, wszTitle, nullptr};
  EnumChildWindows(parent, MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.hwndFound;
}

HRESULT CAccessibleNode::FromWindow(HWND hwnd) {
  m_cpAccessible.Release();
  m_lChild = CHILDID_SELF;
  return AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIIDAccessible,
                                    reinterpret_cast<void**>(&m_cpAccessible));
}

HRESULT CAccessibleNode::FindChildByValue(const std::wstring& wsValue, LONG lRole, CAccessibleNode* pFound) const {
  return FindChild(&IAccessible::get_accValue, wsValue, lRole, true, 0, pFound);
}

HRESULT CAccessibleNode::FindChildByName(const std::wstring& wsName, LONG lRole, CAccessibleNode* pFound) const {
  return FindChild(&IAccessible::get_accName, wsName, lRole, false, 0, pFound);
}

bool CAccessibleNode::Matches(TextGetter pfnText, const std::wstring& wsText, LONG lRole) const {
  CComVariant varRole;
  if (FAILED(m_cpAccessible->get_accRole(ChildVariant(m_lChild), &varRole)) || varRole.vt != VT_I4 ||
      varRole.lVal != lRole) {
    return false;
  }
  CComBSTR bsText;
  return SUCCEEDED((m_cpAccessible->*pfnText)(ChildVariant(m_lChild), &bsText)) && bsText.c_str() &&
         wsText == bsText.c_str();
}

HRESULT CAccessibleNode::FindChild(TextGetter pfnText, const std::wstring& wsText, LONG lRole, bool bWholeOnly,
                                   int nDepth, CAccessibleNode* pFound) const {
  if (!m_cpAccessible || m_lChild != CHILDID_SELF || nDepth > kMaxSearchDepth) return E_FAIL;
  LONG cChildren = 0;
  HRESULT hr = m_cpAccessible->get_accChildCount(&cChildren);
  if (FAILED(hr) || cChildren <= 0) return FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  std::vector<CComVariant> children(static_cast<size_t>(cChildren));
  LONG cObtained = 0;
  hr = AccessibleChildren(m_cpAccessible, 0, cChildren, children.data(), &cObtained);
  if (FAILED(hr)) return hr;
  for (LONG i = 0; i < cObtained; ++i) {
    CAccessibleNode child;
    const VARIANT& var = children[static_cast<size_t>(i)];
    if (var.vt == VT_DISPATCH && var.pdispVal) {
      if (FAILED(var.pdispVal->QueryInterface(kIIDAccessible, reinterpret_cast<void**>(&child.m_cpAccessible))))
        continue;
    } else if (var.vt == VT_I4 && !bWholeOnly) {
      child.m_cpAccessible = m_cpAccessible;
      child.m_lChild = var.lVal;
    } else {
      continue;
    }
    if (child.Matches(pfnText, wsText, lRole)) {
      *pFound = child;
      return S_OK;
    }
    if (SUCCEEDED(child.FindChild(pfnText, wsText, lRole, bWholeOnly, nDepth + 1, pFound))) return S_OK;
  }
  return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT CAccessibleNode::GetLocation(RECT* prcScreen) const {
  if (!m_cpAccessible) return E_FAIL;
  LONG x = 0, y = 0, cx = 0, cy = 0;
  const HRESULT hr = m_cpAccessible->accLocation(&x, &y, &cx, &cy, ChildVariant(m_lChild));
  if (SUCCEEDED(hr)) *prcScreen = {x, y, x + cx, y + cy};
  return hr;
}

HRESULT FindRibbonControl(CTraceScope& scope, HWND hwnd, const wchar_t* wszRibbonClass, const wchar_t* wszRibbonTitle,
                          const std::wstring& wsName, LONG lRole, RECT* prcScreen) {
  const HWND hwndRibbon = FindDescendantWindow(hwnd, wszRibbonClass, wszRibbonTitle);
  if (!hwndRibbon) {
    scope.Error("FindDescendantWindow()", HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  CAccessibleNode oWindowNode, oRibbonNode, oControlNode;
  HRESULT hr = oWindowNode.FromWindow(hwndRibbon);
  if (FAILED(hr)) {
    scope.Error("AccessibleObjectFromWindow()", hr);
    return hr;
  }
  hr = oWindowNode.FindChildByValue(kLowerRibbonValue, ROLE_SYSTEM_PANE, &oRibbonNode);
  if (FAILED(hr)) {
    scope.Error("oWindowNode.FindChildByValue()", hr);
    return hr;
  }
  hr = oRibbonNode.FindChildByName(wsName, lRole, &oControlNode);
  if (FAILED(hr)) {
    scope.Error("oRibbonNode.FindChildByName()", hr);
    return hr;
  }
  hr = oControlNode.GetLocation(prcScreen);
  if (FAILED(hr)) scope.Error("oControlNode.GetLocation()", hr);
  return hr;
}

bool ShowBalloonAt(CTraceScope& scope, tooltip_t& tooltip, HWND hwnd, const RECT& rcScreen, UINT nTitle, UINT nText) {
  POINT corners[2] = {{rcScreen.left, rcScreen.top}, {rcScreen.right, rcScreen.bottom}};
  MapWindowPoints(nullptr, hwnd, corners, 2);
  if (!tooltip.create(hwnd)) {
    scope.Error("tooltip_t::create()", E_FAIL);
    return false;
  }
  tooltip.hide();
  tooltip.text = LoadResourceString(nText);
  tooltip.title = LoadResourceString(nTitle);
  tooltip.show((corners[0].x + corners[1].x) / 2, (corners[0].y + corners[1].y) / 2);
  return true;
}

void BalloonCountdownTick(int& nCount, int& nDelay, tooltip_t& tooltip, void (tooltip_t::*pfnAfter)(),
                          const CDwordSetting& setting, const std::function<bool()>& showPrompt) {
  if (nCount > 0) {
    --nCount;
    if (!nCount && showPrompt()) {
      WriteUserSetting(setting, 0);
      return;
    }
  }
  if (tooltip.visible && nDelay > 0) {
    --nDelay;
    return;
  }
  (tooltip.*pfnAfter)();
}
