// Stand-in of the suite's usage-tracking component (docs/usage-tracking.md). Whether it counts as
// installed is the machine value "Installed" of HKLM\SOFTWARE\Velmora\UsageTracking, the user's
// consent the value "Consent" of the same key under HKCU. Each report is appended, UTF-8 and
// followed by an empty line, to "UsageReports.txt" beside this DLL.
#include <windows.h>

#include <new>
#include <string>

#include "SuiteHandles.h"
#include "suite/VmUsageTracking.h"

namespace {

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Velmora\\UsageTracking";
constexpr wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{FC38B03D-0921-4C97-B736-7CFE5DDA1E5C}";

volatile LONG g_lObjects = 0;

HMODULE ThisModule() {
  HMODULE hModule = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &hModule);
  return hModule;
}

DWORD ReadSetting(HKEY hRoot, const wchar_t* wszName) {
  DWORD dwValue = 0;
  DWORD cbValue = sizeof dwValue;
  if (RegGetValueW(hRoot, kSettingsKey, wszName, RRF_RT_REG_DWORD, nullptr, &dwValue, &cbValue) != ERROR_SUCCESS)
    return 0;
  return dwValue;
}

HRESULT AppendReport(const wchar_t* wszReport) {
  wchar_t wszPath[MAX_PATH] = {};
  if (!GetModuleFileNameW(ThisModule(), wszPath, MAX_PATH)) return LastErrorResult();
  std::wstring wsPath = wszPath;
  wsPath.replace(wsPath.find_last_of(L'\\') + 1, std::wstring::npos, L"UsageReports.txt");
  const int cbText = WideCharToMultiByte(CP_UTF8, 0, wszReport, -1, nullptr, 0, nullptr, nullptr);
  std::string sText(cbText > 0 ? cbText - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wszReport, -1, sText.data(), cbText, nullptr, nullptr);
  sText += "\n";
  const HANDLE hFile = CreateFileW(wsPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return LastErrorResult();
  DWORD cbWritten = 0;
  const BOOL bWritten = WriteFile(hFile, sText.data(), static_cast<DWORD>(sText.size()), &cbWritten, nullptr);
  const HRESULT hr = bWritten ? S_OK : LastErrorResult();
  CloseHandle(hFile);
  return hr;
}

class CUsageTracking final : public IVmUsageTracking {
 public:
  CUsageTracking() { InterlockedIncrement(&g_lObjects); }
  ~CUsageTracking() { InterlockedDecrement(&g_lObjects); }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IVmUsageTracking) ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return InterlockedIncrement(&m_lRefs); }
  STDMETHOD_(ULONG, Release)() override {
    const LONG lRefs = InterlockedDecrement(&m_lRefs);
    if (!lRefs) delete this;
    return lRefs;
  }

  STDMETHOD(IsInstalled)(VARIANT_BOOL* pbInstalled) override {
    if (!pbInstalled) return E_POINTER;
    *pbInstalled = ReadSetting(HKEY_LOCAL_MACHINE, L"Installed") == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHOD(GetUserConsent)(LONG* plConsent) override {
    if (!plConsent) return E_POINTER;
    *plConsent = static_cast<LONG>(ReadSetting(HKEY_CURRENT_USER, L"Consent"));
    return S_OK;
  }
  STDMETHOD(SendReport)(BSTR bsReport) override {
    if (!bsReport || !*bsReport) return E_INVALIDARG;
    return AppendReport(bsReport);
  }

 private:
  volatile LONG m_lRefs = 1;
};

class CClassObject final : public IClassFactory {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  // One static object for the life of the DLL.
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(CreateInstance)(IUnknown* pOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pOuter) return CLASS_E_NOAGGREGATION;
    auto* pObject = new (std::nothrow) CUsageTracking;
    if (!pObject) return E_OUTOFMEMORY;
    const HRESULT hr = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return hr;
  }
  STDMETHOD(LockServer)(BOOL bLock) override {
    bLock ? InterlockedIncrement(&g_lObjects) : InterlockedDecrement(&g_lObjects);
    return S_OK;
  }
};

CClassObject g_classObject;

HRESULT SetString(HKEY hKey, const wchar_t* wszName, const std::wstring& wsValue) {
  return HRESULT_FROM_WIN32(RegSetValueExW(hKey, wszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(wsValue.c_str()),
                                           static_cast<DWORD>((wsValue.size() + 1) * sizeof(wchar_t))));
}

}  // namespace

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_VmUsageTracking)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_classObject.QueryInterface(riid, ppv);
}

HRESULT WINAPI DllCanUnloadNow() { return g_lObjects ? S_FALSE : S_OK; }

HRESULT WINAPI DllRegisterServer() {
  wchar_t wszPath[MAX_PATH] = {};
  if (!GetModuleFileNameW(ThisModule(), wszPath, MAX_PATH)) return LastErrorResult();
  CRegKey hKey;
  const std::wstring wsServerKey = std::wstring(kClassKey) + L"\\InprocServer32";
  const LONG lResult = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wsServerKey.c_str(), 0, nullptr, 0,
                                       KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &hKey, nullptr);
  if (lResult != ERROR_SUCCESS) return HRESULT_FROM_WIN32(lResult);
  HRESULT hr = SetString(hKey, nullptr, wszPath);
  if (SUCCEEDED(hr)) hr = SetString(hKey, L"ThreadingModel", L"Both");
  return hr;
}

HRESULT WINAPI DllUnregisterServer() {
  const LONG lResult = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey);
  return lResult == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(lResult);
}

}  // extern "C"
