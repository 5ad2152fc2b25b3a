#include "module/Settings.h"

#include <vector>

namespace {

constexpr wchar_t kUserSettingsKey[] = L"SOFTWARE\\Velmora\\Applications\\Tessaly";
constexpr DWORD kStringValueMax = MAX_PATH;

}  // namespace

CRegistryKey::~CRegistryKey() { Close(); }

void CRegistryKey::Close() {
  if (m_hKey) RegCloseKey(m_hKey);
  m_hKey = nullptr;
}

LSTATUS CRegistryKey::Open(HKEY hRoot, const wchar_t* wszPath, REGSAM samDesired) {
  Close();
  return RegOpenKeyExW(hRoot, wszPath, 0, samDesired, &m_hKey);
}

LSTATUS CRegistryKey::Create(HKEY hRoot, const wchar_t* wszPath, REGSAM samDesired) {
  Close();
  return RegCreateKeyExW(hRoot, wszPath, 0, nullptr, REG_OPTION_NON_VOLATILE, samDesired, nullptr, &m_hKey, nullptr);
}

DWORD CRegistryKey::ReadDword(const wchar_t* wszName, DWORD dwDefault) const {
  DWORD dwType = REG_NONE;
  DWORD dwValue = 0;
  DWORD cbValue = sizeof(dwValue);
  const LSTATUS lStatus =
      RegQueryValueExW(m_hKey, wszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cbValue);
  return lStatus == ERROR_SUCCESS && dwType == REG_DWORD && cbValue == sizeof(dwValue) ? dwValue : dwDefault;
}

LSTATUS CRegistryKey::ReadString(const wchar_t* wszName, DWORD cchMax, std::wstring& wsValue) const {
  std::vector<wchar_t> buffer(cchMax + 1, L'\0');
  DWORD dwType = REG_NONE;
  DWORD cbValue = cchMax * sizeof(wchar_t);
  const LSTATUS lStatus =
      RegQueryValueExW(m_hKey, wszName, nullptr, &dwType, reinterpret_cast<BYTE*>(buffer.data()), &cbValue);
  if (lStatus != ERROR_SUCCESS) return lStatus;
  if (dwType != REG_SZ && dwType != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  // The extra element ends a value stored without its terminating zero.
  wsValue.assign(buffer.data());
  return ERROR_SUCCESS;
}

LSTATUS CRegistryKey::WriteDword(const wchar_t* wszName, DWORD dwValue) const {
  return RegSetValueExW(m_hKey, wszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
}

LSTATUS CRegistryKey::WriteString(const wchar_t* wszName, const std::wstring& wsValue) const {
  const DWORD cbValue = static_cast<DWORD>((wsValue.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(m_hKey, wszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(wsValue.c_str()), cbValue);
}

DWORD ReadUserSetting(const CDwordSetting& setting) {
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, kUserSettingsKey, KEY_READ) != ERROR_SUCCESS) return setting.dwDefault;
  return key.ReadDword(setting.wszName, setting.dwDefault);
}

void WriteUserSetting(const CDwordSetting& setting, DWORD dwValue) {
  CRegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, kUserSettingsKey, KEY_READ | KEY_WRITE) == ERROR_SUCCESS)
    key.WriteDword(setting.wszName, dwValue);
}

std::wstring ReadUserString(const wchar_t* wszName) {
  std::wstring wsValue;
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, kUserSettingsKey, KEY_READ) == ERROR_SUCCESS)
    key.ReadString(wszName, kStringValueMax, wsValue);
  return wsValue;
}

void WriteUserString(const wchar_t* wszName, const std::wstring& wsValue) {
  CRegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, kUserSettingsKey, KEY_READ | KEY_WRITE) == ERROR_SUCCESS)
    key.WriteString(wszName, wsValue);
}

DWORD GetDocumentSecurity() { return ReadUserSetting(kDocumentSecurity); }

std::wstring ReadBinDir() {
  std::wstring wsValue;
  CRegistryKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Applications", KEY_READ | KEY_WOW64_32KEY) == ERROR_SUCCESS)
    key.ReadString(L"BinDir", kStringValueMax, wsValue);
  return wsValue;
}
