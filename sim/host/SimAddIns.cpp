#include "SimAddIns.h"

#include <algorithm>

namespace Sim {

std::vector<SAddInEntry> ListAddIns(const std::wstring& wsApp, const std::vector<std::wstring>& only) {
  std::vector<SAddInEntry> entries;
  const std::wstring wsKey = L"Software\\Microsoft\\Office\\" + wsApp + L"\\Addins";
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wsKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return entries;
  wchar_t wszName[256];
  for (DWORD dwIndex = 0;; ++dwIndex) {
    DWORD cchName = 256;
    if (RegEnumKeyExW(hKey, dwIndex, wszName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    DWORD dwBehavior = 0, cbBehavior = sizeof dwBehavior;
    wchar_t wszDescription[256] = {};
    DWORD cbDescription = sizeof wszDescription - sizeof(wchar_t);
    RegGetValueW(hKey, wszName, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &dwBehavior, &cbBehavior);
    RegGetValueW(hKey, wszName, L"Description", RRF_RT_REG_SZ, nullptr, wszDescription, &cbDescription);
    const bool bListed = only.empty() || std::any_of(only.begin(), only.end(), [&](const std::wstring& ws) {
                           return !lstrcmpiW(ws.c_str(), wszName);
                         });
    if (dwBehavior == 3 && bListed) entries.push_back({wszName, wszDescription});
  }
  RegCloseKey(hKey);
  return entries;
}

CComPtr<CComAddIn> ConnectAddIn(IDispatch* pApplication, const SAddInEntry& entry, CCollection* pComAddIns,
                                Office::IDTExtensibility2** ppAddIn,
                                const std::function<void(const std::wstring&)>& log) {
  CLSID clsid = {};
  CComPtr<Office::IDTExtensibility2> cpAddIn;
  HRESULT hr = CLSIDFromProgID(entry.wsProgId.c_str(), &clsid);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, Office::IID_IDTExtensibility2,
                          reinterpret_cast<void**>(&cpAddIn));
  CComPtr<CComAddIn> cpComAddIn;
  if (FAILED(hr)) {
    log(L"Load failed " + entry.wsProgId + L" " + HresultText(hr));
    return cpComAddIn;
  }
  cpComAddIn.Attach(new CComAddIn(entry.wsProgId, clsid, entry.wsDescription));
  pComAddIns->m_items.push_back(cpComAddIn.Get());
  SAFEARRAY* psaCustom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  hr = cpAddIn->OnConnection(pApplication, Office::ext_cm_Startup, cpComAddIn, &psaCustom);
  SafeArrayDestroy(psaCustom);
  log(L"OnConnection " + entry.wsProgId + L" " + HresultText(hr));
  cpComAddIn->m_bConnect = SUCCEEDED(hr);
  if (SUCCEEDED(hr)) *ppAddIn = cpAddIn.Detach();
  return cpComAddIn;
}

HRESULT ComAddInsItem(const CCollection& comAddIns, SCall& call) {
  const auto& items = comAddIns.m_items;
  VARIANT* pIndex = Arg(call, 0);
  if (pIndex && pIndex->vt == VT_BSTR) {
    const wchar_t* pwszProgId = pIndex->bstrVal ? pIndex->bstrVal : L"";
    for (const CComPtr<IDispatch>& cpItem : items) {
      if (!lstrcmpiW(static_cast<CComAddIn*>(cpItem.Get())->m_wsProgId.c_str(), pwszProgId))
        return SetObject(call.pResult, cpItem);
    }
    return DISP_E_BADINDEX;
  }
  LONG lIndex = 0;
  const HRESULT hr = ArgLong(call, 0, &lIndex);
  if (FAILED(hr)) return hr;
  if (lIndex < 1 || static_cast<size_t>(lIndex) > items.size()) return DISP_E_BADINDEX;
  return SetObject(call.pResult, items[lIndex - 1]);
}

}  // namespace Sim
