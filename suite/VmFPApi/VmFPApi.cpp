// Stand-in of the suite's policy service. Policies live in the machine registry: the setting
// "<key path>\<name>" is the value <name> of HKLM\SOFTWARE\Policies\Velmora\PolicyService\<key path>.
// A REG_DWORD is delivered as a number, a string as text without a value; a missing value
// answers ERROR_FILE_NOT_FOUND in its record.
#include <windows.h>

#include <string>

#include "suite/VmFPApi.h"

namespace {

constexpr wchar_t kPolicyRoot[] = L"SOFTWARE\\Policies\\Velmora\\PolicyService";

struct CPolicyValue {
  std::wstring wsKey;
  std::wstring wsName;
};

bool SplitPath(const std::wstring& wsPath, CPolicyValue& value) {
  const size_t nSeparator = wsPath.rfind(L'\\');
  value.wsKey = kPolicyRoot;
  if (nSeparator != std::wstring::npos) value.wsKey += L'\\' + wsPath.substr(0, nSeparator);
  value.wsName = nSeparator == std::wstring::npos ? wsPath : wsPath.substr(nSeparator + 1);
  return !value.wsName.empty();
}

void GetSetting(const std::wstring& wsPath, VMFP_POLICY_VALUE& value) {
  CPolicyValue policy;
  if (!SplitPath(wsPath, policy)) {
    value.hrResult = E_INVALIDARG;
    return;
  }
  DWORD dwRegType = REG_NONE;
  DWORD dwData = 0;
  DWORD cbData = sizeof(dwData);
  // A value longer than a DWORD answers ERROR_MORE_DATA, which still tells its type.
  const LSTATUS lStatus = RegGetValueW(HKEY_LOCAL_MACHINE, policy.wsKey.c_str(), policy.wsName.c_str(),
                                       RRF_RT_ANY | RRF_NOEXPAND, &dwRegType, &dwData, &cbData);
  if (lStatus != ERROR_SUCCESS && lStatus != ERROR_MORE_DATA) {
    value.hrResult = HRESULT_FROM_WIN32(lStatus);
  } else if (dwRegType == REG_DWORD) {
    value.hrResult = S_OK;
    value.dwType = VMFP_TYPE_NUMBER;
    value.dwValue = dwData;
  } else if (dwRegType == REG_SZ || dwRegType == REG_EXPAND_SZ) {
    value.hrResult = S_OK;
    value.dwType = VMFP_TYPE_TEXT;
    value.dwValue = 0;
  } else {
    value.hrResult = HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE);
  }
}

void SetSetting(const std::wstring& wsPath, VMFP_POLICY_VALUE& value) {
  CPolicyValue policy;
  if (!SplitPath(wsPath, policy) || (value.dwType != VMFP_TYPE_NUMBER && value.dwType != VMFP_TYPE_FLAGS)) {
    value.hrResult = E_INVALIDARG;
    return;
  }
  value.hrResult = HRESULT_FROM_WIN32(RegSetKeyValueW(HKEY_LOCAL_MACHINE, policy.wsKey.c_str(), policy.wsName.c_str(),
                                                      REG_DWORD, &value.dwValue, sizeof(value.dwValue)));
}

const wchar_t* PathOf(const VMFP_POLICY_SETTING_EX& record) { return record.pwszPath ? record.pwszPath : L""; }

std::wstring PathOf(const VMFP_POLICY_SETTING& record) {
  return std::wstring(record.wszPath, wcsnlen(record.wszPath, VMFP_SHORT_PATH_MAX + 1));
}

// Applies pfnAction to every record; the call itself fails only for a missing array.
template <class TRecord>
HRESULT ForEachRecord(TRecord* pSettings, DWORD dwCount, void (*pfnAction)(const std::wstring&, VMFP_POLICY_VALUE&)) {
  if (!pSettings || dwCount == 0) return E_INVALIDARG;
  try {
    for (DWORD i = 0; i < dwCount; ++i) pfnAction(PathOf(pSettings[i]), pSettings[i].value);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace

HRESULT WINAPI VmFPInit() { return S_OK; }

HRESULT WINAPI VmFPGetPolicySettingsEx(VMFP_POLICY_SETTING_EX* pSettings, DWORD dwCount) {
  return ForEachRecord(pSettings, dwCount, GetSetting);
}

HRESULT WINAPI VmFPGetPolicySettings(VMFP_POLICY_SETTING* pSettings, DWORD dwCount) {
  return ForEachRecord(pSettings, dwCount, GetSetting);
}

HRESULT WINAPI VmFPSetPolicySettingsEx(VMFP_POLICY_SETTING_EX* pSettings, DWORD dwCount) {
  return ForEachRecord(pSettings, dwCount, SetSetting);
}

HRESULT WINAPI VmFPSetPolicySettings(VMFP_POLICY_SETTING* pSettings, DWORD dwCount) {
  return ForEachRecord(pSettings, dwCount, SetSetting);
}
