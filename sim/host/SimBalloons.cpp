#include "SimBalloons.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace Sim {
namespace {

// The watches of the thread (an application started again may overlap the one before): the hook
// has no context of its own.
thread_local std::vector<std::map<HWND, SBalloon>*> t_watches;
thread_local HHOOK t_hHook = nullptr;

bool IsTooltip(HWND hwnd) {
  wchar_t wszClass[64] = {};
  return GetClassNameW(hwnd, wszClass, 64) && !wcscmp(wszClass, TOOLTIPS_CLASSW);
}

// The version of the module whose window procedure the tooltip has.
DWORD ComCtlMajorVersion(HWND hwnd) {
  HMODULE hModule = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(GetClassLongPtrW(hwnd, GCLP_WNDPROC)), &hModule);
  const auto pfnGetVersion = reinterpret_cast<DLLGETVERSIONPROC>(
      reinterpret_cast<void*>(hModule ? GetProcAddress(hModule, "DllGetVersion") : nullptr));
  DLLVERSIONINFO info = {sizeof info, 0, 0, 0, 0};
  return pfnGetVersion && SUCCEEDED(pfnGetVersion(&info)) ? info.dwMajorVersion : 0;
}

void Observe(const CWPSTRUCT& msg, std::map<HWND, SBalloon>& balloons) {
  const UINT m = msg.message;
  if (m != TTM_ADDTOOLW && m != TTM_UPDATETIPTEXTW && m != TTM_SETTITLEW && m != TTM_TRACKPOSITION &&
      m != TTM_TRACKACTIVATE && m != WM_DESTROY) {
    return;
  }
  if (!IsTooltip(msg.hwnd)) return;
  if (m == WM_DESTROY) {
    balloons.erase(msg.hwnd);
    return;
  }
  SBalloon& balloon = balloons[msg.hwnd];
  const auto* pInfo = reinterpret_cast<const TTTOOLINFOW*>(msg.lParam);
  if (m == TTM_ADDTOOLW && pInfo) {
    balloon.cbToolInfo = pInfo->cbSize;
    balloon.dwComCtlMajor = ComCtlMajorVersion(msg.hwnd);
  } else if (m == TTM_UPDATETIPTEXTW && pInfo && pInfo->lpszText && !IS_INTRESOURCE(pInfo->lpszText)) {
    balloon.wsText = pInfo->lpszText;
  } else if (m == TTM_SETTITLEW && msg.lParam) {
    balloon.wsTitle = reinterpret_cast<const wchar_t*>(msg.lParam);
  } else if (m == TTM_TRACKPOSITION) {
    balloon.ptStem = {static_cast<SHORT>(LOWORD(msg.lParam)), static_cast<SHORT>(HIWORD(msg.lParam))};
  } else if (m == TTM_TRACKACTIVATE) {
    balloon.bTracking = msg.wParam != FALSE;
  }
}

}  // namespace

// One hook for the thread while any watch lives.
CBalloonWatch::CBalloonWatch() {
  if (t_watches.empty()) t_hHook = SetWindowsHookExW(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
  t_watches.push_back(&m_balloons);
}

CBalloonWatch::~CBalloonWatch() {
  t_watches.erase(std::find(t_watches.begin(), t_watches.end(), &m_balloons));
  if (t_watches.empty() && t_hHook) UnhookWindowsHookEx(std::exchange(t_hHook, nullptr));
}

LRESULT CALLBACK CBalloonWatch::Hook(int nCode, WPARAM wParam, LPARAM lParam) {
  const auto* pMessage = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (nCode == HC_ACTION && pMessage) {
    for (std::map<HWND, SBalloon>* pBalloons : t_watches) Observe(*pMessage, *pBalloons);
  }
  return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

std::map<HWND, SBalloon> CBalloonWatch::Shown() const {
  std::map<HWND, SBalloon> shown;
  for (const auto& [hwnd, balloon] : m_balloons) {
    if (balloon.bTracking && IsWindow(hwnd) && IsWindowVisible(hwnd)) shown.emplace(hwnd, balloon);
  }
  return shown;
}

}  // namespace Sim
