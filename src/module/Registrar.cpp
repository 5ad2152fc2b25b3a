#include "module/Registrar.h"

#include <oleauto.h>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "module/RegistryScript.h"
#include "module/Trace.h"

namespace {

// Some calls fail without setting an error code; they must not pass for success.
HRESULT LastError() {
  const DWORD dwError = GetLastError();
  return dwError != ERROR_SUCCESS ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

HRESULT GetModulePath(HMODULE hModule, std::wstring* pwsPath) {
  std::wstring wsPath(MAX_PATH, L'\0');
  for (;;) {
    const DWORD cch = GetModuleFileNameW(hModule, wsPath.data(), static_cast<DWORD>(wsPath.size()));
    if (cch == 0) return LastError();
    if (cch < wsPath.size()) {
      wsPath.resize(cch);
      *pwsPath = std::move(wsPath);
      return S_OK;
    }
    wsPath.resize(wsPath.size() * 2);  // truncated
  }
}

// The scripts are stored as UTF-8 text.
HRESULT LoadScript(HMODULE hModule, UINT nResourceId, std::wstring* pwsScript) {
  HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(nResourceId), L"REGISTRY");
  HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : nullptr;
  const char* pchText = hData ? static_cast<const char*>(LockResource(hData)) : nullptr;
  if (!pchText) return LastError();
  const int cbText = static_cast<int>(SizeofResource(hModule, hResource));
  if (cbText == 0) return S_OK;
  const int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pchText, cbText, nullptr, 0);
  if (cch == 0) return LastError();
  pwsScript->resize(cch);
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pchText, cbText, pwsScript->data(), cch);
  return S_OK;
}

// Removes the library by its own id, version and locale; one that is not registered has nothing
// to remove, so that unregistering twice succeeds.
HRESULT RemoveTypeLib(ITypeLib* pTypeLib) {
  TLIBATTR* pAttr = nullptr;
  HRESULT hr = pTypeLib->GetLibAttr(&pAttr);
  if (FAILED(hr)) return hr;
  CComBSTR bsRegisteredPath;
  hr = QueryPathOfRegTypeLib(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum, pAttr->lcid, &bsRegisteredPath);
  if (hr == TYPE_E_LIBNOTREGISTERED)
    hr = S_OK;
  else
    hr = UnRegisterTypeLib(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum, pAttr->lcid, SYS_WIN64);
  pTypeLib->ReleaseTLibAttr(pAttr);
  return hr;
}

// The library is the module's TYPELIB 1 resource, so its path is the module's.
HRESULT UpdateTypeLibrary(HMODULE hModule, bool bRegister) {
  CTraceScope trace(bRegister ? "::RegisterTypeLibrary" : "::UnregisterTypeLibrary");
  std::wstring wsPath;
  CComPtr<ITypeLib> cpTypeLib;
  HRESULT hr = GetModulePath(hModule, &wsPath);
  if (SUCCEEDED(hr)) hr = LoadTypeLibEx(wsPath.c_str(), REGKIND_NONE, &cpTypeLib);
  if (FAILED(hr)) {
    trace.Error("LoadTypeLibEx()", hr);
    return hr;
  }
  hr = bRegister ? RegisterTypeLib(cpTypeLib, wsPath.data(), nullptr) : RemoveTypeLib(cpTypeLib);
  if (FAILED(hr)) trace.Error(bRegister ? "RegisterTypeLib()" : "UnRegisterTypeLib()", hr);
  return hr;
}

}  // namespace

HRESULT RunRegistryScript(const std::wstring& wsScript, const CReplacements& replacements, bool bRegister) {
  CTraceScope trace("::RunRegistryScript");
  std::vector<CScriptRoot> roots;
  std::wstring wsError;
  HRESULT hr = ParseRegistryScript(wsScript, replacements, &roots, &wsError);
  if (FAILED(hr)) {
    trace.Message("%ls", wsError.c_str());
    trace.Error("ParseRegistryScript()", hr);
    return hr;
  }
  hr = ApplyRegistryScript(roots, bRegister);
  if (FAILED(hr)) trace.Error(bRegister ? "register" : "unregister", hr);
  return hr;
}

HRESULT UpdateRegistryFromResource(HMODULE hModule, UINT nResourceId, bool bRegister) {
  CTraceScope trace("::UpdateRegistryFromResource");
  trace.Message("resource %u, %s", nResourceId, bRegister ? "register" : "unregister");
  std::wstring wsScript;
  HRESULT hr = LoadScript(hModule, nResourceId, &wsScript);
  if (FAILED(hr)) {
    trace.Error("LoadScript()", hr);
    return hr;
  }
  std::wstring wsModule;
  hr = GetModulePath(hModule, &wsModule);
  if (FAILED(hr)) {
    trace.Error("GetModulePath()", hr);
    return hr;
  }
  return RunRegistryScript(wsScript, {{L"MODULE", wsModule}}, bRegister);
}

HRESULT RegisterTypeLibrary(HMODULE hModule) { return UpdateTypeLibrary(hModule, true); }

HRESULT UnregisterTypeLibrary(HMODULE hModule) { return UpdateTypeLibrary(hModule, false); }
