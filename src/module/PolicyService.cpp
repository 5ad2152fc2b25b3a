#include "module/PolicyService.h"

#include <string>

#include "module/ActCtx.h"
#include "module/Settings.h"
#include "module/Trace.h"

namespace {

constexpr wchar_t kPolicyPath[] = L"Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\";

// Asks the service for one record; returns the record's result when the call succeeded.
template <class TRecord, class TFunction>
HRESULT QueryRecord(TFunction pfnGet, TRecord& record, DWORD* pdwValue, HRESULT hr, CTraceScope& trace,
                    const char* szSucceeded) {
  if (FAILED(pfnGet(&record, 1))) return hr;
  const VMFP_POLICY_VALUE& value = record.value;
  if (SUCCEEDED(value.hrResult) && (value.dwType == VMFP_TYPE_NUMBER || value.dwType == VMFP_TYPE_FLAGS)) {
    *pdwValue = value.dwValue;
    trace.Message(szSucceeded, value.hrResult, *pdwValue);
  }
  return value.hrResult;
}

}  // namespace

CVmFPApiLoader::CVmFPApiLoader(const wchar_t* wszLibrary) {
  CTraceScope trace("CVmFPApiLoader::CVmFPApiLoader");
  {
    // The module's manifest applies to the service and whatever it loads.
    CVmActCtx actCtx;
    if (!Load(wszLibrary)) trace.Error("LoadLibrary(VmFPApi.dll)", HRESULT_FROM_WIN32(GetLastError()));
  }
  m_pfnInit = GetProc<PFN_VMFP_INIT>("VmFPInit");
  m_pfnGetPolicySettingsEx = GetProc<PFN_VMFP_SETTINGS_EX>("VmFPGetPolicySettingsEx");
  m_pfnGetPolicySettings = GetProc<PFN_VMFP_SETTINGS>("VmFPGetPolicySettings");
  m_pfnSetPolicySettingsEx = GetProc<PFN_VMFP_SETTINGS_EX>("VmFPSetPolicySettingsEx");
  m_pfnSetPolicySettings = GetProc<PFN_VMFP_SETTINGS>("VmFPSetPolicySettings");

  const HRESULT hr = m_pfnInit ? m_pfnInit() : E_NOTIMPL;
  if (FAILED(hr)) {
    trace.Error("VmFPInit()", hr);
    // The library stays loaded until the loader goes; only its entry points are forgotten.
    m_pfnGetPolicySettingsEx = nullptr;
    m_pfnGetPolicySettings = nullptr;
    m_pfnSetPolicySettingsEx = nullptr;
    m_pfnSetPolicySettings = nullptr;
  }
}

HRESULT CVmFPApiLoader::fGetPolicySetting(const wchar_t* wszName, DWORD* pdwValue) const {
  CTraceScope trace("CVmFPApiLoader::fGetPolicySetting");
  if (!wszName || !pdwValue) return E_POINTER;
  HRESULT hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  const std::wstring wsPath = kPolicyPath + std::wstring(wszName);
  trace.Message("Setting: %ls", wsPath.c_str());
  if (m_pfnGetPolicySettingsEx) {
    VMFP_POLICY_SETTING_EX setting = {};
    setting.pwszPath = wsPath.c_str();
    hr = QueryRecord(m_pfnGetPolicySettingsEx, setting, pdwValue, hr, trace,
                     "Ex() succeeded (0x%08X), setting = 0x%08X");
  } else if (m_pfnGetPolicySettings && wsPath.size() <= VMFP_SHORT_PATH_MAX) {
    VMFP_POLICY_SETTING setting = {};
    wsPath.copy(setting.wszPath, VMFP_SHORT_PATH_MAX);
    hr =
        QueryRecord(m_pfnGetPolicySettings, setting, pdwValue, hr, trace, "...() succeeded (0x%08X), setting = 0x%08X");
  }
  trace.Message("finally, hr = 0x%08X", hr);
  return hr;
}

const CVmFPApiLoader& GetPolicyLoader() {
  static const CVmFPApiLoader s_loader;
  return s_loader;
}

bool IsPublishingAllowed(const CVmFPApiLoader& loader) {
  DWORD dwPolicy = 1;
  loader.fGetPolicySetting(kPublishingPolicy, &dwPolicy);
  return (dwPolicy & POLICY_BIT) == 0;
}

bool GetShowPublishedCerts(const CVmFPApiLoader& loader) {
  return IsPublishingAllowed(loader) && ReadUserSetting(kShowPublishedCerts) != 0;
}

void SetShowPublishedCerts(bool bShow) { WriteUserSetting(kShowPublishedCerts, bShow ? 1 : 0); }
