#include "mail/WindowHelpers.h"

#include <ole2.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "hosts/Outlook.h"
#include "module/Trace.h"

namespace {

HRESULT GetLong(IDispatch* pDisp, const wchar_t* wszName, LONG* pl, std::initializer_list<VARIANT> args = {}) {
  VARIANT var;
  HRESULT hr = LateBound::GetProperty(pDisp, wszName, &var, args);
  if (SUCCEEDED(hr)) hr = VariantChangeType(&var, &var, 0, VT_I4);
  if (SUCCEEDED(hr)) *pl = var.lVal;
  VariantClear(&var);
  return hr;
}

VARIANT LongArg(LONG l) {
  VARIANT var;
  var.vt = VT_I4;
  var.lVal = l;
  return var;
}

// The desktop's top-level windows, topmost first.
std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND hwnd, LPARAM lParam) {
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool IsOrContains(HWND hwndTop, HWND hwnd) { return hwnd && (hwndTop == hwnd || IsChild(hwndTop, hwnd)); }

}  // namespace

HRESULT GetCurrentMailItem(IDispatch* pWindow, IDispatch** ppMailItem, BOOL* pbReadingPane) {
  CTraceScope trace("GetCurrentMailItem");
  if (!pWindow || !ppMailItem) return E_POINTER;
  *ppMailItem = nullptr;
  CComPtr<IDispatch> cpInspector;
  HRESULT hr = pWindow->QueryInterface(Outlook::IID__Inspector, reinterpret_cast<void**>(&cpInspector));
  CComPtr<IDispatch> cpItem;
  if (SUCCEEDED(hr)) {
    if (pbReadingPane) *pbReadingPane = FALSE;
    hr = LateBound::GetObjectProperty(cpInspector, L"CurrentItem", &cpItem);
    if (FAILED(hr)) {
      trace.Error("cpInspector->get_CurrentItem", hr);
      return hr;
    }
  } else {
    trace.Error("QueryInterface(__uuidof(Outlook::_Inspector))", hr);
    CComPtr<IDispatch> cpExplorer;
    hr = pWindow->QueryInterface(Outlook::IID__Explorer, reinterpret_cast<void**>(&cpExplorer));
    if (FAILED(hr)) {
      trace.Error("QueryInterface(__uuidof(Outlook::_Explorer))", hr);
      return hr;
    }
    LONG lVisible = 0;
    hr = GetLong(cpExplorer, L"IsPaneVisible", &lVisible, {LongArg(Outlook::olPreview)});
    if (FAILED(hr)) {
      trace.Error("cpExplorer->IsPaneVisible(olPreview)", hr);
      return hr;
    }
    if (!lVisible) return E_INVALIDARG;
    if (pbReadingPane) *pbReadingPane = TRUE;
    CComPtr<IDispatch> cpSelection;
    hr = LateBound::GetObjectProperty(cpExplorer, L"Selection", &cpSelection);
    if (FAILED(hr)) {
      trace.Error("cpExplorer->get_Selection", hr);
      return hr;
    }
    LONG lCount = 0;
    hr = GetLong(cpSelection, L"Count", &lCount);
    if (FAILED(hr)) return hr;
    if (lCount != 1) return E_INVALIDARG;
    hr = LateBound::GetObjectProperty(cpSelection, L"Item", &cpItem, {LongArg(1)});
    if (FAILED(hr)) {
      trace.Error("cpSelection->Item(1)", hr);
      return hr;
    }
  }
  hr = cpItem->QueryInterface(Outlook::IID__MailItem, reinterpret_cast<void**>(ppMailItem));
  if (FAILED(hr)) trace.Error("QueryInterface(__uuidof(Outlook::_MailItem))", hr);
  return hr;
}

HWND UnkToHWnd(IUnknown* pWindow) {
  CTraceScope trace("UnkToHWnd");
  if (!pWindow) return nullptr;
  HWND hwnd = nullptr;
  CComPtr<IDispatch> cpInspector;
  if (SUCCEEDED(pWindow->QueryInterface(Outlook::IID__Inspector, reinterpret_cast<void**>(&cpInspector))) &&
      SUCCEEDED(GetWordMailWindowHandle(cpInspector, &hwnd))) {
    return hwnd;
  }
  CComPtr<IOleWindow> cpOleWindow;
  HRESULT hr = pWindow->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&cpOleWindow));
  if (SUCCEEDED(hr)) hr = cpOleWindow->GetWindow(&hwnd);
  if (FAILED(hr)) {
    trace.Error("cpOleWindow->GetWindow()", hr);
    return nullptr;
  }
  trace.Message("Parent Window = 0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hwnd)));
  return hwnd;
}

HRESULT GetWordMailWindowHandle(IDispatch* pInspector, HWND* phwnd) {
  CTraceScope trace("GetWordMailWindowHandle");
  if (!phwnd) return E_POINTER;
  if (!pInspector) return E_INVALIDARG;
  *phwnd = nullptr;
  CComPtr<IDispatch> cpEditor;
  HRESULT hr = LateBound::GetObjectProperty(pInspector, L"WordEditor", &cpEditor);
  if (FAILED(hr)) return hr;
  trace.Message("Obtained Word Editor");
  CComPtr<IDispatch> cpDocument;
  hr = cpEditor->QueryInterface(Word::IID__Document, reinterpret_cast<void**>(&cpDocument));
  if (FAILED(hr)) return hr;
  CComPtr<IDispatch> cpWindow;
  hr = LateBound::GetObjectProperty(cpDocument, L"ActiveWindow", &cpWindow);
  if (FAILED(hr)) return hr;
  trace.Message("Obtained Active Window");

  VARIANT varCaption;
  hr = LateBound::GetProperty(cpWindow, L"Caption", &varCaption);
  if (FAILED(hr)) return hr;
  trace.Message("Word Editor Caption: %ls", varCaption.vt == VT_BSTR && varCaption.bstrVal ? varCaption.bstrVal : L"");
  // Word reports no handle: the window is the one whose title becomes a fresh GUID.
  GUID guid;
  CoCreateGuid(&guid);
  wchar_t wszGuid[40] = {};
  StringFromGUID2(guid, wszGuid, 40);
  VARIANT varGuid;
  varGuid.vt = VT_BSTR;
  varGuid.bstrVal = SysAllocString(wszGuid);
  hr = LateBound::PutProperty(cpWindow, L"Caption", varGuid);
  VariantClear(&varGuid);
  if (SUCCEEDED(hr)) {
    wchar_t wszTitle[40] = {};
    HWND hwndForeground = GetForegroundWindow();
    if (hwndForeground && GetWindowTextW(hwndForeground, wszTitle, 40) && !wcscmp(wszTitle, wszGuid)) {
      *phwnd = hwndForeground;
      trace.Message("Foreground Window = 0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(*phwnd)));
    } else {
      *phwnd = FindWindowExW(nullptr, nullptr, L"OpusApp", wszGuid);
      trace.Message("Found Window = 0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(*phwnd)));
    }
  }
  const HRESULT hrRestore = LateBound::PutProperty(cpWindow, L"Caption", varCaption);
  VariantClear(&varCaption);
  if (FAILED(hrRestore)) trace.Error("cpWindow->put_Caption", hrRestore);
  if (FAILED(hr)) return hr;
  return *phwnd ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT GetActiveWordMailWindow(IDispatch* pApplication, IDispatch** ppInspector) {
  CTraceScope trace("GetActiveWordMailWindow");
  if (!pApplication || !ppInspector) return E_POINTER;
  *ppInspector = nullptr;
  CComPtr<IDispatch> cpInspectors;
  HRESULT hr = LateBound::GetObjectProperty(pApplication, L"Inspectors", &cpInspectors);
  LONG lCount = 0;
  if (SUCCEEDED(hr)) hr = GetLong(cpInspectors, L"Count", &lCount);
  if (FAILED(hr)) {
    trace.Error("cpInspectors->get_Count", hr);
    return hr;
  }
  trace.Message("Inspectors count = %d", static_cast<int>(lCount));
  std::vector<std::pair<HWND, CComPtr<IDispatch>>> noted;
  for (LONG i = 1; i <= lCount; ++i) {
    CComPtr<IDispatch> cpInspector;
    HWND hwnd = nullptr;
    if (SUCCEEDED(LateBound::GetObjectProperty(cpInspectors, L"Item", &cpInspector, {LongArg(i)})) &&
        SUCCEEDED(GetWordMailWindowHandle(cpInspector, &hwnd))) {
      noted.emplace_back(hwnd, cpInspector);
    }
  }
  for (HWND hwndTop : TopLevelWindows()) {
    for (const auto& [hwnd, cpInspector] : noted) {
      if (hwnd != hwndTop && GetAncestor(hwnd, GA_ROOT) != hwndTop) continue;
      trace.Message("Active Window = 0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hwnd)));
      return cpInspector.CopyTo(ppInspector);
    }
  }
  return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT GetApplicationActiveWindow(IDispatch* pApplication, IDispatch** ppWindow) {
  CTraceScope trace("GetApplicationActiveWindow");
  if (!pApplication || !ppWindow) return E_POINTER;
  *ppWindow = nullptr;
  CComPtr<IDispatch> cpApplication;
  HRESULT hr = pApplication->QueryInterface(Outlook::IID__Application, reinterpret_cast<void**>(&cpApplication));
  if (FAILED(hr)) {
    trace.Error("QueryInterface(__uuidof(Outlook::_Application))", hr);
    return hr;
  }
  CComPtr<IDispatch> cpExplorer;
  hr = LateBound::GetObjectProperty(cpApplication, L"ActiveExplorer", &cpExplorer);
  if (FAILED(hr)) {
    trace.Error("cpApplication->ActiveExplorer()", hr);
    return hr;
  }
  IDispatch* pAnswer = cpExplorer;
  CComPtr<IDispatch> cpInspector;
  if (SUCCEEDED(GetActiveWordMailWindow(cpApplication, &cpInspector))) {
    const HWND hwndExplorer = UnkToHWnd(cpExplorer);
    const HWND hwndInspector = UnkToHWnd(cpInspector);
    // From the bottom up: the first window met is the lower one.
    const std::vector<HWND> windows = TopLevelWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
      const bool bExplorer = IsOrContains(*it, hwndExplorer);
      const bool bInspector = IsOrContains(*it, hwndInspector);
      if (!bExplorer && !bInspector) continue;
      if (bExplorer && !bInspector) pAnswer = cpInspector;
      break;
    }
  }
  return pAnswer->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(ppWindow));
}

HWND GetMailItemWindow(IDispatch* pMailItem) {
  CComPtr<IDispatch> cpInspector;
  if (!pMailItem || FAILED(LateBound::GetObjectProperty(pMailItem, L"GetInspector", &cpInspector))) return nullptr;
  const HWND hwnd = UnkToHWnd(cpInspector);
  return hwnd && IsWindowVisible(hwnd) ? hwnd : nullptr;
}

HWND GetActiveWindowHandle(IDispatch* pApplication) {
  CComPtr<IDispatch> cpWindow;
  return SUCCEEDED(GetApplicationActiveWindow(pApplication, &cpWindow)) ? UnkToHWnd(cpWindow) : nullptr;
}
