#include "AddInServer.h"

#include <unknwn.h>

#include <string>

namespace Sim {

volatile LONG g_lAddInObjects = 0;

namespace {

HMODULE g_hModule = nullptr;

class CFactory final : public IClassFactory {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(CreateInstance)(IUnknown* pOuter, REFIID riid, void** ppv) override {
    return pOuter ? CLASS_E_NOAGGREGATION : g_addInServer.create(riid, ppv);
  }
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }
};
CFactory g_factory;

LSTATUS SetString(const std::wstring& wsKey, const wchar_t* wszName, const std::wstring& wsValue) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, wsKey.c_str(), wszName, REG_SZ, wsValue.c_str(),
                         static_cast<DWORD>((wsValue.size() + 1) * sizeof(wchar_t)));
}

std::wstring AddInKey(const wchar_t* wszApp) {
  return std::wstring(L"Software\\Microsoft\\Office\\") + wszApp + L"\\Addins\\" + g_addInServer.wszProgId;
}

}  // namespace
}  // namespace Sim

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) Sim::g_hModule = hInstance;
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!IsEqualCLSID(rclsid, Sim::g_addInServer.clsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return Sim::g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return Sim::g_lAddInObjects ? S_FALSE : S_OK; }

// The class and its ProgID, and an add-in of each application that loads at start-up.
STDAPI DllRegisterServer() {
  using Sim::SetString;
  const Sim::SAddInServer& server = Sim::g_addInServer;
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(Sim::g_hModule, wszPath, MAX_PATH);
  const std::wstring wsClsidKey = std::wstring(L"Software\\Classes\\CLSID\\") + server.wszClsid;
  LSTATUS status = SetString(wsClsidKey + L"\\InprocServer32", nullptr, wszPath);
  if (!status) status = SetString(wsClsidKey + L"\\InprocServer32", L"ThreadingModel", server.wszThreadingModel);
  if (!status) status = SetString(wsClsidKey + L"\\ProgID", nullptr, server.wszProgId);
  if (!status)
    status = SetString(std::wstring(L"Software\\Classes\\") + server.wszProgId + L"\\CLSID", nullptr, server.wszClsid);
  const DWORD dwBehavior = 3;
  for (const wchar_t* wszApp : server.apps) {
    if (!status) status = SetString(Sim::AddInKey(wszApp), L"Description", server.wszDescription);
    if (!status)
      status = RegSetKeyValueW(HKEY_LOCAL_MACHINE, Sim::AddInKey(wszApp).c_str(), L"LoadBehavior", REG_DWORD,
                               &dwBehavior, sizeof dwBehavior);
  }
  return HRESULT_FROM_WIN32(status);
}

STDAPI DllUnregisterServer() {
  const Sim::SAddInServer& server = Sim::g_addInServer;
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\CLSID\\") + server.wszClsid).c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\") + server.wszProgId).c_str());
  for (const wchar_t* wszApp : server.apps) RegDeleteTreeW(HKEY_LOCAL_MACHINE, Sim::AddInKey(wszApp).c_str());
  return S_OK;
}
