#include "SolvaneKeys.h"

#include <shlobj.h>

#include "SuiteHandles.h"

namespace {

std::wstring RecordPath(const std::wstring& wsContainer) {
  return std::wstring(kSolvaneKeysPath) + L"\\" + wsContainer;
}

DWORD ReadDword(HKEY hKey, const wchar_t* wszValue, DWORD dwDefault) {
  DWORD dwData = 0;
  DWORD cbData = sizeof(dwData);
  return RegGetValueW(hKey, nullptr, wszValue, RRF_RT_REG_DWORD, nullptr, &dwData, &cbData) == ERROR_SUCCESS
             ? dwData
             : dwDefault;
}

}  // namespace

HRESULT EnsureKeyRecord(const std::wstring& wsContainer) {
  CRegKey hKey;
  DWORD dwDisposition = 0;
  LONG lResult = RegCreateKeyExW(HKEY_CURRENT_USER, RecordPath(wsContainer).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &hKey, &dwDisposition);
  if (lResult != ERROR_SUCCESS) return HRESULT_FROM_WIN32(lResult);
  if (dwDisposition == REG_OPENED_EXISTING_KEY) return S_OK;

  std::wstring wsName;
  const HRESULT hr = NewGuidName(L"solvane:", &wsName);
  if (FAILED(hr)) return hr;
  lResult = RegSetValueExW(hKey, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(wsName.c_str()),
                           static_cast<DWORD>((wsName.size() + 1) * sizeof(wchar_t)));
  if (lResult == ERROR_SUCCESS) {
    const DWORD dwClass = kDefaultKeyClass;
    lResult = RegSetValueExW(hKey, kValueClass, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwClass), sizeof(dwClass));
  }
  return HRESULT_FROM_WIN32(lResult);
}

HRESULT ReadKeyRecord(HKEY hUserRoot, const std::wstring& wsContainer, CSolvaneKeyRecord* pRecord) {
  CRegKey hKey;
  LONG lResult = RegOpenKeyExW(hUserRoot, RecordPath(wsContainer).c_str(), 0, KEY_READ, &hKey);
  if (lResult != ERROR_SUCCESS) return HRESULT_FROM_WIN32(lResult);
  wchar_t wszName[MAX_PATH] = {};
  DWORD cbName = sizeof(wszName);
  lResult = RegGetValueW(hKey, nullptr, L"Name", RRF_RT_REG_SZ, nullptr, wszName, &cbName);
  if (lResult != ERROR_SUCCESS) return HRESULT_FROM_WIN32(lResult);
  pRecord->wsContainer = wsContainer;
  pRecord->wsName = wszName;
  pRecord->dwClass = ReadDword(hKey, kValueClass, kDefaultKeyClass);
  pRecord->dwUnlockPeriod = ReadDword(hKey, kValueUnlockPeriod, static_cast<DWORD>(-1));
  return S_OK;
}

HRESULT WriteKeyValue(const std::wstring& wsContainer, const wchar_t* wszValue, DWORD dwData) {
  CRegKey hKey;
  LONG lResult = RegOpenKeyExW(HKEY_CURRENT_USER, RecordPath(wsContainer).c_str(), 0, KEY_SET_VALUE, &hKey);
  if (lResult == ERROR_SUCCESS)
    lResult = RegSetValueExW(hKey, wszValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwData), sizeof(dwData));
  return HRESULT_FROM_WIN32(lResult);
}

HRESULT DeleteKeyRecord(const std::wstring& wsContainer) {
  const LONG lResult = RegDeleteTreeW(HKEY_CURRENT_USER, RecordPath(wsContainer).c_str());
  return lResult == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(lResult);
}

std::vector<CSolvaneKeyRecord> ReadKeyRecords(HKEY hUserRoot) {
  std::vector<CSolvaneKeyRecord> records;
  CRegKey hKeys;
  if (RegOpenKeyExW(hUserRoot, kSolvaneKeysPath, 0, KEY_READ, &hKeys) != ERROR_SUCCESS) return records;
  wchar_t wszContainer[MAX_PATH];
  for (DWORD dwIndex = 0;; ++dwIndex) {
    DWORD cchContainer = ARRAYSIZE(wszContainer);
    if (RegEnumKeyExW(hKeys, dwIndex, wszContainer, &cchContainer, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    CSolvaneKeyRecord record;
    if (SUCCEEDED(ReadKeyRecord(hUserRoot, wszContainer, &record))) records.push_back(record);
  }
  return records;
}

std::wstring ParameterLogPath() {
  wchar_t wszFolder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, wszFolder))) return L"";
  std::wstring wsPath = std::wstring(wszFolder) + L"\\Velmora";
  CreateDirectoryW(wsPath.c_str(), nullptr);
  wsPath += L"\\Solvane";
  CreateDirectoryW(wsPath.c_str(), nullptr);
  return wsPath + L"\\Parameters.log";
}
