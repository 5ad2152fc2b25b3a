#pragma once
// The suite's policy service (VmFPApi.dll) as its callers see it: the entry points and the
// records of a policy query. Each call takes an array of records and their count; the
// service fills in every record's result, value type and value.
#include <windows.h>

#include <cstddef>

// Value types of a delivered setting. Only a number and a flag set carry the 32-bit value.
constexpr DWORD VMFP_TYPE_TEXT = 1;
constexpr DWORD VMFP_TYPE_NUMBER = 3;
constexpr DWORD VMFP_TYPE_FLAGS = 4;

// The longest path that the short record holds, without its terminating zero.
constexpr size_t VMFP_SHORT_PATH_MAX = 31;

// What the service answers for one setting (32 bytes, ending both records).
struct VMFP_POLICY_VALUE {
  HRESULT hrResult;
  DWORD dwReserved1;
  DWORD dwType;
  DWORD dwReserved2;
  DWORD dwValue;
  DWORD adwReserved3[3];
};
static_assert(sizeof(VMFP_POLICY_VALUE) == 32);
static_assert(offsetof(VMFP_POLICY_VALUE, dwType) == 8 && offsetof(VMFP_POLICY_VALUE, dwValue) == 16);

// Record of VmFPGetPolicySettingsEx and VmFPSetPolicySettingsEx (40 bytes): result at 8,
// type at 16, value at 24.
struct VMFP_POLICY_SETTING_EX {
  const wchar_t* pwszPath;
  VMFP_POLICY_VALUE value;
};
static_assert(sizeof(VMFP_POLICY_SETTING_EX) == 40);
static_assert(offsetof(VMFP_POLICY_SETTING_EX, value) == 8);

// Record of VmFPGetPolicySettings and VmFPSetPolicySettings (96 bytes), the path held in
// place: result at 64, type at 72, value at 80.
struct VMFP_POLICY_SETTING {
  wchar_t wszPath[VMFP_SHORT_PATH_MAX + 1];
  VMFP_POLICY_VALUE value;
};
static_assert(sizeof(VMFP_POLICY_SETTING) == 96);
static_assert(offsetof(VMFP_POLICY_SETTING, value) == 64);

using PFN_VMFP_INIT = HRESULT(WINAPI*)();
using PFN_VMFP_SETTINGS_EX = HRESULT(WINAPI*)(VMFP_POLICY_SETTING_EX* pSettings, DWORD dwCount);
using PFN_VMFP_SETTINGS = HRESULT(WINAPI*)(VMFP_POLICY_SETTING* pSettings, DWORD dwCount);

extern "C" {
HRESULT WINAPI VmFPInit();
HRESULT WINAPI VmFPGetPolicySettingsEx(VMFP_POLICY_SETTING_EX* pSettings, DWORD dwCount);
HRESULT WINAPI VmFPGetPolicySettings(VMFP_POLICY_SETTING* pSettings, DWORD dwCount);
HRESULT WINAPI VmFPSetPolicySettingsEx(VMFP_POLICY_SETTING_EX* pSettings, DWORD dwCount);
HRESULT WINAPI VmFPSetPolicySettings(VMFP_POLICY_SETTING* pSettings, DWORD dwCount);
}
