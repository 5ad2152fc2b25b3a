// The suite's key provider: the platform's enhanced RSA provider underneath, plus the suite's
// private parameters on each key container. Only the entry points defined here differ from the
// platform provider; VmSolvaneCsp.def forwards the others to it.
#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <string>

#include "SolvaneKeys.h"
#include "SuiteHandles.h"
#include "suite/VmCertServices.h"

namespace {

// The cryptographic service provider interface's table (its layout is fixed by the platform).
struct CProvVTable {
  DWORD Version;
  FARPROC FuncVerifyImage;
  FARPROC FuncReturnhWnd;
  DWORD dwProvType;
  BYTE* pbContextInfo;
  DWORD cbContextInfo;
  LPSTR pszProvName;
};

using PFN_CPAcquireContext = BOOL(WINAPI*)(HCRYPTPROV*, LPSTR, DWORD, CProvVTable*);
using PFN_CPGetProvParam = BOOL(WINAPI*)(HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD);
using PFN_CPSetProvParam = BOOL(WINAPI*)(HCRYPTPROV, DWORD, const BYTE*, DWORD);
using PFN_CPGenKey = BOOL(WINAPI*)(HCRYPTPROV, ALG_ID, DWORD, HCRYPTKEY*);
using PFN_CPImportKey = BOOL(WINAPI*)(HCRYPTPROV, const BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY*);

struct CPlatformProvider {
  CPlatformProvider() : hModule(LoadLibraryW(L"rsaenh.dll")) {
    pfnAcquireContext = Resolve<PFN_CPAcquireContext>("CPAcquireContext");
    pfnGetProvParam = Resolve<PFN_CPGetProvParam>("CPGetProvParam");
    pfnSetProvParam = Resolve<PFN_CPSetProvParam>("CPSetProvParam");
    pfnGenKey = Resolve<PFN_CPGenKey>("CPGenKey");
    pfnImportKey = Resolve<PFN_CPImportKey>("CPImportKey");
  }
  template <class T>
  T Resolve(const char* szName) const {
    return hModule ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hModule, szName))) : nullptr;
  }
  bool IsComplete() const {
    return pfnAcquireContext && pfnGetProvParam && pfnSetProvParam && pfnGenKey && pfnImportKey;
  }

  HMODULE hModule;
  PFN_CPAcquireContext pfnAcquireContext;
  PFN_CPGetProvParam pfnGetProvParam;
  PFN_CPSetProvParam pfnSetProvParam;
  PFN_CPGenKey pfnGenKey;
  PFN_CPImportKey pfnImportKey;
};

const CPlatformProvider& Platform() {
  static const CPlatformProvider s_platform;
  return s_platform;
}

BOOL Fail(DWORD dwError) {
  SetLastError(dwError);
  return FALSE;
}

std::wstring ContainerOf(HCRYPTPROV hProv) {
  char szContainer[MAX_PATH] = {};
  DWORD cbContainer = sizeof(szContainer);
  if (!Platform().pfnGetProvParam(hProv, PP_CONTAINER, reinterpret_cast<BYTE*>(szContainer), &cbContainer, 0))
    return std::wstring();
  wchar_t wszContainer[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, szContainer, -1, wszContainer, MAX_PATH);
  return wszContainer;
}

// A key pair entered the container: it gets its record (name and classification).
void RecordKeyPair(HCRYPTPROV hProv) {
  const std::wstring wsContainer = ContainerOf(hProv);
  if (!wsContainer.empty()) EnsureKeyRecord(wsContainer);
}

BOOL CopyOut(const void* pvData, DWORD cbData, BYTE* pbOut, DWORD* pcbOut) {
  if (!pcbOut) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD cbRoom = *pcbOut;
  *pcbOut = cbData;
  if (!pbOut) return TRUE;
  if (cbRoom < cbData) return Fail(ERROR_MORE_DATA);
  memcpy(pbOut, pvData, cbData);
  return TRUE;
}

bool IsPrivateParam(DWORD dwParam) {
  return dwParam == VM_PP_UNLOCK_PERIOD || dwParam == VM_PP_KEY_CLASS || dwParam == VM_PP_KEY_NAME;
}

// This provider's module; GET_MODULE_HANDLE_EX_FLAG_PIN as dwHow keeps it loaded for good.
HMODULE ThisModule(DWORD dwHow = GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) {
  HMODULE hModule = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | dwHow, reinterpret_cast<LPCWSTR>(&ThisModule), &hModule);
  return hModule;
}

// A 32-bit value as a signed number (-1 locks).
std::wstring LongText(const void* pv) {
  LONG lValue = 0;
  memcpy(&lValue, pv, sizeof(lValue));
  return std::to_wstring(lValue);
}

// The private parameters' work; the entry points below record each call.
BOOL GetPrivateParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pcbData, DWORD dwFlags,
                     std::wstring* pwsValue) {
  if (dwFlags != VM_PP_ACCESS) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
  CSolvaneKeyRecord record;
  const std::wstring wsContainer = ContainerOf(hProv);
  if (wsContainer.empty() || FAILED(ReadKeyRecord(HKEY_CURRENT_USER, wsContainer, &record)))
    return Fail(static_cast<DWORD>(NTE_NO_KEY));
  if (dwParam == VM_PP_KEY_NAME) {
    char szName[MAX_PATH] = {};
    const int cbName = WideCharToMultiByte(CP_UTF8, 0, record.wsName.c_str(), -1, szName, MAX_PATH, nullptr, nullptr);
    if (cbName <= 0) return Fail(GetLastError());
    *pwsValue = record.wsName;
    return CopyOut(szName, static_cast<DWORD>(cbName), pbData, pcbData);
  }
  const DWORD dwValue = dwParam == VM_PP_KEY_CLASS ? record.dwClass : record.dwUnlockPeriod;
  *pwsValue = LongText(&dwValue);
  return CopyOut(&dwValue, sizeof(dwValue), pbData, pcbData);
}

BOOL SetPrivateParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  if (dwFlags != VM_PP_ACCESS) return Fail(static_cast<DWORD>(NTE_BAD_FLAGS));
  if (dwParam == VM_PP_KEY_NAME) return Fail(static_cast<DWORD>(NTE_BAD_TYPE));
  if (!pbData) return Fail(ERROR_INVALID_PARAMETER);
  DWORD dwValue = 0;
  memcpy(&dwValue, pbData, sizeof(dwValue));
  const std::wstring wsContainer = ContainerOf(hProv);
  const HRESULT hr =
      wsContainer.empty()
          ? NTE_NO_KEY
          : WriteKeyValue(wsContainer, dwParam == VM_PP_KEY_CLASS ? kValueClass : kValueUnlockPeriod, dwValue);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return Fail(static_cast<DWORD>(NTE_NO_KEY));
  return SUCCEEDED(hr) ? TRUE : Fail(static_cast<DWORD>(hr));
}

// One line a call, appended for every process of the user: "TIME PID get|set PARAM VALUE RESULT CONTAINER".
void LogParameter(HCRYPTPROV hProv, const wchar_t* wszOperation, DWORD dwParam, const std::wstring& wsValue,
                  BOOL bDone) {
  const DWORD dwError = bDone ? ERROR_SUCCESS : GetLastError();
  SYSTEMTIME st;
  GetSystemTime(&st);
  wchar_t wszLine[512] = {};
  swprintf(wszLine, ARRAYSIZE(wszLine), L"%04u-%02u-%02uT%02u:%02u:%02u.%03uZ %lu %ls %lu %ls 0x%08lX %ls\r\n",
           st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, GetCurrentProcessId(),
           wszOperation, dwParam, wsValue.c_str(),
           dwError ? static_cast<unsigned long>(HRESULT_FROM_WIN32(dwError)) : 0ul, ContainerOf(hProv).c_str());
  char szLine[1024] = {};
  const int cbLine = WideCharToMultiByte(CP_UTF8, 0, wszLine, -1, szLine, sizeof(szLine), nullptr, nullptr) - 1;
  // Appends from every process land whole, one after the other.
  HANDLE hFile = CreateFileW(ParameterLogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return;
  DWORD cbWritten = 0;
  if (cbLine > 0) WriteFile(hFile, szLine, static_cast<DWORD>(cbLine), &cbWritten, nullptr);
  CloseHandle(hFile);
  SetLastError(dwError);
}

// The platform provider answers with the name it was called by.
constexpr char kProviderNameA[] = "Velmora RSA Solvane CSP";
constexpr wchar_t kProviderKey[] = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\" VM_SOLVANE_PROV_NAME;

}  // namespace

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPSTR szContainer, DWORD dwFlags, CProvVTable* pVTable) {
  if (!Platform().IsComplete()) return Fail(static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL));
  // The system loads a provider for each context and frees it at the release; the static C++ runtime
  // linked in keeps about 73 KB of every load (and, under Wine, two handles): once it gives out a
  // context, this provider stays loaded.
  ThisModule(GET_MODULE_HANDLE_EX_FLAG_PIN);
  // The platform provider takes its strength from the name it is called by.
  CProvVTable vtable{};
  if (pVTable) vtable = *pVTable;
  vtable.pszProvName = const_cast<LPSTR>(MS_ENHANCED_PROV_A);
  if (!Platform().pfnAcquireContext(phProv, szContainer, dwFlags, &vtable)) return FALSE;
  if ((dwFlags & CRYPT_DELETEKEYSET) && szContainer && *szContainer) {
    wchar_t wszContainer[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, szContainer, -1, wszContainer, MAX_PATH);
    DeleteKeyRecord(wszContainer);
  }
  return TRUE;
}

BOOL WINAPI CPGenKey(HCRYPTPROV hProv, ALG_ID algId, DWORD dwFlags, HCRYPTKEY* phKey) {
  if (!Platform().pfnGenKey(hProv, algId, dwFlags, phKey)) return FALSE;
  if (algId == AT_KEYEXCHANGE || algId == AT_SIGNATURE || algId == CALG_RSA_KEYX || algId == CALG_RSA_SIGN)
    RecordKeyPair(hProv);
  return TRUE;
}

BOOL WINAPI CPImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD cbData, HCRYPTKEY hPubKey, DWORD dwFlags,
                        HCRYPTKEY* phKey) {
  if (!Platform().pfnImportKey(hProv, pbData, cbData, hPubKey, dwFlags, phKey)) return FALSE;
  if (cbData >= sizeof(BLOBHEADER) && reinterpret_cast<const BLOBHEADER*>(pbData)->bType == PRIVATEKEYBLOB)
    RecordKeyPair(hProv);
  return TRUE;
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pcbData, DWORD dwFlags) {
  if (dwParam == PP_NAME) return CopyOut(kProviderNameA, sizeof(kProviderNameA), pbData, pcbData);
  if (!IsPrivateParam(dwParam)) return Platform().pfnGetProvParam(hProv, dwParam, pbData, pcbData, dwFlags);
  std::wstring wsValue = L"-";
  const BOOL bDone = GetPrivateParam(hProv, dwParam, pbData, pcbData, dwFlags, &wsValue);
  LogParameter(hProv, L"get", dwParam, wsValue, bDone);
  return bDone;
}

BOOL WINAPI CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  // The owner of the key's dialogs: the platform provider refuses it (it has no dialogs), and this one
  // shows none.
  if (dwParam == PP_CLIENT_HWND) return pbData ? TRUE : Fail(ERROR_INVALID_PARAMETER);
  if (!IsPrivateParam(dwParam)) return Platform().pfnSetProvParam(hProv, dwParam, pbData, dwFlags);
  const BOOL bDone = SetPrivateParam(hProv, dwParam, pbData, dwFlags);
  LogParameter(hProv, L"set", dwParam, pbData ? LongText(pbData) : L"-", bDone);
  return bDone;
}

// Registers the provider with the system under its name, as type PROV_RSA_FULL.
HRESULT WINAPI DllRegisterServer() {
  wchar_t wszPath[MAX_PATH] = {};
  if (!GetModuleFileNameW(ThisModule(), wszPath, MAX_PATH)) return LastErrorResult();
  CRegKey hKey;
  LONG lResult = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                 nullptr, &hKey, nullptr);
  if (lResult != ERROR_SUCCESS) return HRESULT_FROM_WIN32(lResult);
  const DWORD dwType = PROV_RSA_FULL;
  lResult = RegSetValueExW(hKey, L"Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(wszPath),
                           static_cast<DWORD>((wcslen(wszPath) + 1) * sizeof(wchar_t)));
  if (lResult == ERROR_SUCCESS)
    lResult = RegSetValueExW(hKey, L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwType), sizeof(dwType));
  return HRESULT_FROM_WIN32(lResult);
}

HRESULT WINAPI DllUnregisterServer() {
  const LONG lResult = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, KEY_WOW64_64KEY, 0);
  return lResult == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(lResult);
}

}  // extern "C"
