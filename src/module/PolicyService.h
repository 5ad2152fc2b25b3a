#pragma once
// Administrative policy, read through the suite's policy service (VmFPApi.dll) under the path
// "Applications\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\<setting>". Each setting is a 32-bit
// value whose bit 0x1 carries the policy; the caller presets the default, which stays when the
// service delivers nothing.
#include <windows.h>

#include "module/DllLoader.h"
#include "suite/VmFPApi.h"

// Default 1: set forbids offering certificates published in the directory.
inline constexpr wchar_t kPublishingPolicy[] = L"PublishingPolicy";
// Default 0: set forbids sealing e-mail.
inline constexpr wchar_t kEncryptionPolicyEmail[] = L"EncryptionPolicyEmail";
// Default 0: set forbids encrypting Office documents.
inline constexpr wchar_t kEncryptionPolicyMSO[] = L"EncryptionPolicyMSO";
constexpr DWORD POLICY_BIT = 0x1;

class CVmFPApiLoader : public LibHelper::CDLLLoader {
 public:
  // Loads the service under the module's activation context, resolves its entry points and
  // initialises it. Without the library, VmFPInit or a successful VmFPInit, no query reaches it.
  explicit CVmFPApiLoader(const wchar_t* wszLibrary = L"VmFPApi.dll");

  // The record's result when the service answered, else HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
  // *pdwValue, preset with the caller's default, changes only when a 32-bit value was delivered.
  HRESULT fGetPolicySetting(const wchar_t* wszName, DWORD* pdwValue) const;

 private:
  PFN_VMFP_INIT m_pfnInit = nullptr;
  PFN_VMFP_SETTINGS_EX m_pfnGetPolicySettingsEx = nullptr;
  PFN_VMFP_SETTINGS m_pfnGetPolicySettings = nullptr;
  // Resolved with the others; the module never sets policy.
  PFN_VMFP_SETTINGS_EX m_pfnSetPolicySettingsEx = nullptr;
  PFN_VMFP_SETTINGS m_pfnSetPolicySettings = nullptr;
};

// The process's loader, created on first use and destroyed when the module unloads.
const CVmFPApiLoader& GetPolicyLoader();

// True exactly when "PublishingPolicy" (default 1) has bit 0x1 clear.
bool IsPublishingAllowed(const CVmFPApiLoader& loader = GetPolicyLoader());
// False when publishing is not allowed; otherwise whether "ShowPublishedCerts" is present and non-zero.
bool GetShowPublishedCerts(const CVmFPApiLoader& loader = GetPolicyLoader());
void SetShowPublishedCerts(bool bShow);
