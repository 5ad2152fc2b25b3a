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

HRESULT CreateAddIn(const std::wstring& wsProgId, CLSID* pClsid, Office::IDTExtensibility2** ppAddIn) {
  HRESULT hr = CLSIDFromProgID(wsProgId.c_str(), pClsid);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(*pClsid, nullptr, CLSCTX_INPROC_SERVER, Office::IID_IDTExtensibility2,
                          reinterpret_cast<void**>(ppAddIn));
  return hr;
}

}  // namespace Sim
