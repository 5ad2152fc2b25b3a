#pragma once
// A registry subtree read into a flat map that tests compare as a whole, so that a
// missing, extra or changed key or value shows in one diff:
//   "Sub\Key"      -> ""                 (the key itself; "" is the subtree's top)
//   "Sub\Key|Name" -> "sz:text", "dword:3", "binary:00a1ff" ("Sub\Key|" is the default value)
// Keys are read in the 64-bit view.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

using CRegistryTree = std::map<std::wstring, std::wstring>;

inline std::wstring FormatRegistryValue(DWORD dwType, const std::vector<BYTE>& data) {
  if (dwType == REG_SZ) {
    std::wstring wsText(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    if (wsText.empty() || wsText.back() != L'\0') return L"sz without terminator:" + wsText;
    wsText.pop_back();
    return L"sz:" + wsText;
  }
  if (dwType == REG_DWORD && data.size() == sizeof(DWORD)) {
    return L"dword:" + std::to_wstring(*reinterpret_cast<const DWORD*>(data.data()));
  }
  std::wstring wsText = dwType == REG_BINARY ? L"binary:" : L"type " + std::to_wstring(dwType) + L":";
  for (BYTE b : data) {
    wsText += L"0123456789abcdef"[b >> 4];
    wsText += L"0123456789abcdef"[b & 15];
  }
  return wsText;
}

inline void ReadRegistryKey(HKEY hKey, const std::wstring& wsRelative, CRegistryTree* pTree) {
  (*pTree)[wsRelative] = L"";
  DWORD cSubKeys = 0, cchMaxSubKey = 0, cValues = 0, cchMaxValueName = 0, cbMaxValue = 0;
  if (RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, &cSubKeys, &cchMaxSubKey, nullptr, &cValues, &cchMaxValueName,
                       &cbMaxValue, nullptr, nullptr) != ERROR_SUCCESS) {
    (*pTree)[wsRelative] = L"unreadable";
    return;
  }
  for (DWORD i = 0; i < cValues; ++i) {
    std::wstring wsName(cchMaxValueName + 1, L'\0');
    DWORD cchName = static_cast<DWORD>(wsName.size());
    std::vector<BYTE> data(cbMaxValue);
    DWORD cbData = static_cast<DWORD>(data.size());
    DWORD dwType = 0;
    if (RegEnumValueW(hKey, i, wsName.data(), &cchName, nullptr, &dwType, data.data(), &cbData) != ERROR_SUCCESS) {
      (*pTree)[wsRelative + L"|#" + std::to_wstring(i)] = L"unreadable";
      continue;
    }
    wsName.resize(cchName);
    data.resize(cbData);
    (*pTree)[wsRelative + L"|" + wsName] = FormatRegistryValue(dwType, data);
  }
  for (DWORD i = 0; i < cSubKeys; ++i) {
    std::wstring wsName(cchMaxSubKey + 1, L'\0');
    DWORD cchName = static_cast<DWORD>(wsName.size());
    if (RegEnumKeyExW(hKey, i, wsName.data(), &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    wsName.resize(cchName);
    const std::wstring wsChild = wsRelative.empty() ? wsName : wsRelative + L"\\" + wsName;
    HKEY hChild = nullptr;
    if (RegOpenKeyExW(hKey, wsName.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &hChild) != ERROR_SUCCESS) {
      (*pTree)[wsChild] = L"unreadable";
      continue;
    }
    ReadRegistryKey(hChild, wsChild, pTree);
    RegCloseKey(hChild);
  }
}

// Empty when the key does not exist.
inline CRegistryTree ReadRegistryTree(HKEY hRoot, const std::wstring& wsPath) {
  CRegistryTree tree;
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(hRoot, wsPath.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &hKey) != ERROR_SUCCESS) return tree;
  ReadRegistryKey(hKey, L"", &tree);
  RegCloseKey(hKey);
  return tree;
}

inline bool RegistryKeyExists(HKEY hRoot, const std::wstring& wsPath) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(hRoot, wsPath.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &hKey) != ERROR_SUCCESS) return false;
  RegCloseKey(hKey);
  return true;
}
