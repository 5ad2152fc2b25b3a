// Entry points of VmOfcX.dll.
#include <windows.h>

#include "dll/ClassMap.h"
#include "module/Branding.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"

namespace {
CAddInModule g_module(GetClassMap());
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) {
    VmTraceNS::SetModuleHandle(hInstance);
    // Strings and dialogs come from the satellite of the user's language when there is one.
    const HMODULE hResource = LoadResourceModule(hInstance, 0);
    if (hResource && hResource != hInstance) g_module.SetResourceInstance(hResource);
    g_module.SetModuleInstance(hInstance);
    CBranding::LoadResourceDLL();
    return g_module.IsInitialized() ? TRUE : FALSE;
  }
  if (dwReason == DLL_PROCESS_DETACH) VmTraceNS::Shutdown();
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  CTraceScope trace("::DllGetClassObject");
  return GuardComEntry(trace, [&] { return g_module.GetClassObject(rclsid, riid, ppv); });
}

STDAPI DllRegisterServer() {
  CTraceScope trace("::DllRegisterServer");
  return GuardComEntry(trace, [&] {
    const HRESULT hr = g_module.RegisterServer();
    if (FAILED(hr)) trace.Error("RegisterServer()", hr);
    return hr;
  });
}

STDAPI DllUnregisterServer() {
  CTraceScope trace("::DllUnregisterServer");
  return GuardComEntry(trace, [&] {
    const HRESULT hr = g_module.UnregisterServer();
    if (FAILED(hr)) trace.Error("UnregisterServer()", hr);
    return hr;
  });
}

// Registration is always machine-wide, so the command line is not read.
STDAPI DllInstall(BOOL bInstall, LPCWSTR) {
  CTraceScope trace("::DllInstall");
  if (!bInstall) return DllUnregisterServer();
  const HRESULT hr = DllRegisterServer();
  if (FAILED(hr)) DllUnregisterServer();
  return hr;
}
