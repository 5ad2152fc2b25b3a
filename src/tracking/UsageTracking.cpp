#include "tracking/UsageTracking.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "module/Branding.h"
#include "module/Settings.h"
#include "module/Trace.h"
#include "suite/VmUsageTracking.h"

CVmUsageTrackingWr g_UsageTracker;

LONG CVmUsageTrackingWr::ms_lKxEnvironment = -1;

namespace {

constexpr size_t kMaxValueLength = 12;
constexpr LONG kInstalled = 0x1;
constexpr LONG kOptedIn = 0x2;
constexpr LONGLONG kTicksPerSecond = 10000000;

template <class... TArgs>
std::wstring Format(const wchar_t* wszFormat, TArgs... args) {
  wchar_t wsz[64] = {};
  swprintf(wsz, std::size(wsz), wszFormat, args...);
  return wsz;
}

ULONGLONG Ticks(const SYSTEMTIME& st) {
  FILETIME ft = {};
  SystemTimeToFileTime(&st, &ft);
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::wstring HostName(const wchar_t* wszHostPath) {
  std::wstring wsName = wszHostPath;
  const size_t uSlash = wsName.find_last_of(L"\\/");
  if (uSlash != std::wstring::npos) wsName.erase(0, uSlash + 1);
  const size_t uDot = wsName.rfind(L'.');
  if (uDot != std::wstring::npos) wsName.erase(uDot);
  return wsName;
}

BOOL CALLBACK ComputeEnvironment(PINIT_ONCE, PVOID pvEnvironment, PVOID*) {
  CTraceScope scope("CVmUsageTrackingWr::GetKxEnvironment");
  LONG lEnvironment = 0;
  const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    CComPtr<IVmUsageTracking> cpTracking;
    HRESULT hr = CoCreateInstance(CLSID_VmUsageTracking, nullptr, CLSCTX_ALL, IID_IVmUsageTracking,
                                  reinterpret_cast<void**>(&cpTracking));
    if (SUCCEEDED(hr)) {
      scope.Message("Instantiated");
      VARIANT_BOOL bInstalled = VARIANT_FALSE;
      hr = cpTracking->IsInstalled(&bInstalled);
      if (SUCCEEDED(hr)) scope.Message("installed ? 0x%08X", static_cast<unsigned>(static_cast<USHORT>(bInstalled)));
      if (SUCCEEDED(hr) && bInstalled) {
        lEnvironment |= kInstalled;
        LONG lConsent = 0;
        hr = cpTracking->GetUserConsent(&lConsent);
        scope.Message("user opted in? %d (0x%08X)", static_cast<int>(lConsent), static_cast<unsigned>(hr));
        if (SUCCEEDED(hr) && lConsent == 1) lEnvironment |= kOptedIn;
      }
    }
    if (FAILED(hr)) scope.Error("GetKxEnvironment()", hr);
  }
  if (SUCCEEDED(hrInit)) CoUninitialize();
  *static_cast<LONG*>(pvEnvironment) = lEnvironment;
  scope.Message("ms_lKxEnvironment ? %d", static_cast<int>(lEnvironment));
  return TRUE;
}

}  // namespace

int LaunchPoint(const wchar_t* wszCommandLine) {
  const wchar_t* wszSwitch = wcsstr(wszCommandLine, L"/P");
  if (!wszSwitch) wszSwitch = wcsstr(wszCommandLine, L"-P");
  if (!wszSwitch) return 0;
  const wchar_t wszDigits[3] = {wszSwitch[2], wszSwitch[2] ? wszSwitch[3] : L'\0', L'\0'};
  return static_cast<int>(wcstol(wszDigits, nullptr, 10));
}

CVmUsageTrackingWr::CVmUsageTrackingWr() { GetLocalTime(&m_stStart); }

HRESULT CVmUsageTrackingWr::AddValue(const std::wstring& wsCategory, size_t uIndex, const std::wstring& wsValue,
                                     int iMode) {
  try {
    auto it =
        std::find_if(m_report.begin(), m_report.end(), [&](const auto& entry) { return entry.first == wsCategory; });
    if (it == m_report.end()) it = m_report.insert(m_report.end(), {wsCategory, {}});
    std::vector<std::wstring>& values = it->second;
    if (values.size() <= uIndex) values.resize(uIndex + 1);
    std::wstring& wsStored = values[uIndex];
    switch (iMode) {
      case kAddDecimal:
        wsStored = Format(
            L"%d", static_cast<int>(wcstol(wsStored.c_str(), nullptr, 10) + wcstol(wsValue.c_str(), nullptr, 10)));
        break;
      case kOrHexadecimal:
        wsStored = Format(L"0x%08X", static_cast<unsigned>(wcstoul(wsStored.c_str(), nullptr, 16) |
                                                           wcstoul(wsValue.c_str(), nullptr, 16)));
        break;
      default:
        wsStored = wsValue;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

bool CVmUsageTrackingWr::IsWithinRange(LONG lIndex, LONG lMin, LONG lMax) {
  if (lIndex >= lMin && lIndex <= lMax) return true;
  CTraceScope scope("CVmUsageTrackingWr::IsWithinRange");
  scope.Message("index is out of range: %d * [%d..%d]", static_cast<int>(lIndex), static_cast<int>(lMin),
                static_cast<int>(lMax));
  return false;
}

HRESULT CVmUsageTrackingWr::PutDiagnosticResult(LONG lIndex, const wchar_t* wszText, int iMode) {
  CTraceScope scope("CVmUsageTrackingWr::PutDiagnosticResult");
  HRESULT hr = E_INVALIDARG;
  if (wszText && *wszText && IsWithinRange(lIndex, 1, 9)) hr = AddValue(L"d", lIndex, wszText, iMode);
  scope.Error("PutDiagnosticResult()", hr);
  return hr;
}

HRESULT CVmUsageTrackingWr::PutDiagnosticResult(LONG lIndex, LONG lNumber, int iMode, bool bHexadecimal) {
  const std::wstring wsNumber =
      bHexadecimal ? Format(L"0x%08X", static_cast<unsigned>(lNumber)) : Format(L"%d", static_cast<int>(lNumber));
  return PutDiagnosticResult(lIndex, wsNumber.c_str(), iMode);
}

std::wstring CVmUsageTrackingWr::ProductVersion() {
  if (!m_wsProductVersion.empty()) return m_wsProductVersion;
  CRegistryKey key;
  const std::wstring wsKey = L"SOFTWARE\\Velmora\\Products\\" + GetBrandString(IDS_BRAND_VERSION_PRODUCT);
  if (key.Open(HKEY_LOCAL_MACHINE, wsKey.c_str(), KEY_READ) != ERROR_SUCCESS ||
      key.ReadString(L"Version", MAX_PATH, m_wsProductVersion) != ERROR_SUCCESS || m_wsProductVersion.empty()) {
    m_wsProductVersion = L"0.0.0.0";
  }
  return m_wsProductVersion;
}

std::wstring CVmUsageTrackingWr::Duration() const {
  CTraceScope scope("CVmUsageTrackingWr::Duration");
  if (m_bNoDuration) {
    scope.Message("No duration reported");
    return L"00.00.00.00";
  }
  SYSTEMTIME stNow = {};
  GetLocalTime(&stNow);
  const ULONGLONG ullNow = Ticks(stNow);
  const ULONGLONG ullStart = Ticks(m_stStart);
  const auto llSeconds =
      static_cast<LONGLONG>((ullNow > ullStart ? ullNow - ullStart : 0) + kTicksPerSecond / 2) / kTicksPerSecond;
  const std::wstring wsDuration =
      Format(L"%02d.%02d.%02d.%02d", static_cast<int>(llSeconds / 86400), static_cast<int>(llSeconds / 3600 % 24),
             static_cast<int>(llSeconds / 60 % 60), static_cast<int>(llSeconds % 60));
  scope.Message("duration: %ls", wsDuration.c_str());
  return wsDuration;
}

void CVmUsageTrackingWr::SetReportFields(const wchar_t* wszCommandLine, const wchar_t* wszHostPath) {
  const std::wstring wsFields[] = {m_wsProductCode, ProductVersion(), L"1", Format(L"%d", LaunchPoint(wszCommandLine)),
                                   Duration(),      m_wsIdentifier};
  for (size_t i = 0; i < std::size(wsFields); ++i) AddValue(L"a", i, wsFields[i], kReplace);
  AddValue(L"d", 0, HostName(wszHostPath), kReplace);
}

std::wstring CVmUsageTrackingWr::ReportText() const {
  std::wstring wsText;
  for (const auto& [wsCategory, values] : m_report) {
    for (size_t i = 0; i < values.size(); ++i) {
      std::wstring wsValue = values[i];
      if (wsCategory == L"d") {
        wsValue = Format(L"%lu", static_cast<unsigned long>(i)) + wsValue;
      } else if (wsValue.empty()) {
        wsValue = L"0";
      }
      wsValue.resize(std::min(wsValue.size(), kMaxValueLength));
      wsText += wsCategory + Format(L"%d", static_cast<int>(i)) + L"\t" + wsValue + L"\n";
    }
  }
  return wsText;
}

LONG CVmUsageTrackingWr::GetKxEnvironment() {
  static INIT_ONCE s_once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&s_once, ComputeEnvironment, &ms_lKxEnvironment, nullptr);
  return ms_lKxEnvironment;
}

HRESULT CVmUsageTrackingWr::SendReport() {
  CTraceScope scope("CVmUsageTrackingWr::SendReport");
  if ((GetKxEnvironment() & (kInstalled | kOptedIn)) != (kInstalled | kOptedIn)) {
    scope.Message("not ready to send.");
    return S_FALSE;
  }
  const HRESULT hr = GuardComEntry(scope, [&]() -> HRESULT {
    wchar_t wszHost[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, wszHost, MAX_PATH);
    SetReportFields(GetCommandLineW(), wszHost);
    CComBSTR bsReport(ReportText().c_str());
    const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hrSend;
    {
      CComPtr<IVmUsageTracking> cpTracking;
      hrSend = CoCreateInstance(CLSID_VmUsageTracking, nullptr, CLSCTX_ALL, IID_IVmUsageTracking,
                                reinterpret_cast<void**>(&cpTracking));
      if (SUCCEEDED(hrSend)) hrSend = cpTracking->SendReport(bsReport);
    }
    m_report.clear();
    m_dwState = 0;
    if (SUCCEEDED(hrInit)) CoUninitialize();
    return hrSend;
  });
  scope.Error("SendReport()", hr);
  return hr;
}
