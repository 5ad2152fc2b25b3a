#include "module/TraceSettings.h"

#include <initializer_list>

namespace VmTraceNS {
namespace {

constexpr wchar_t kTracingKey[] = L"SOFTWARE\\Velmora\\Tracing";
constexpr DWORD kMaxComponentName = 260;

bool EqualsIgnoringAsciiCase(const wchar_t* wsz1, const wchar_t* wsz2) {
  auto lower = [](wchar_t wch) { return wch >= L'A' && wch <= L'Z' ? static_cast<wchar_t>(wch - L'A' + L'a') : wch; };
  for (;; ++wsz1, ++wsz2) {
    if (lower(*wsz1) != lower(*wsz2)) return false;
    if (!*wsz1) return true;
  }
}

// Calls fnVisit with each value name of the subkey until it returns true; a missing subkey is an empty list.
template <class F>
void VisitValueNames(HKEY hKey, REGSAM samView, const wchar_t* wszSubkey, F fnVisit) {
  HKEY hSubkey = nullptr;
  if (!hKey || RegOpenKeyExW(hKey, wszSubkey, 0, KEY_READ | samView, &hSubkey) != ERROR_SUCCESS) return;
  for (DWORD dwIndex = 0;; ++dwIndex) {
    wchar_t wszName[kMaxComponentName + 1];
    DWORD cchName = kMaxComponentName + 1;
    const LSTATUS lr = RegEnumValueW(hSubkey, dwIndex, wszName, &cchName, nullptr, nullptr, nullptr, nullptr);
    if (lr == ERROR_INSUFFICIENT_BUFFER) continue;
    if (lr != ERROR_SUCCESS || fnVisit(wszName)) break;
  }
  RegCloseKey(hSubkey);
}

}  // namespace

CTracingKey::CTracingKey() {
  for (REGSAM samView : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTracingKey, 0, KEY_READ | samView, &m_hKey) == ERROR_SUCCESS) {
      m_samView = samView;
      return;
    }
    m_hKey = nullptr;
  }
}

CTracingKey::~CTracingKey() {
  if (m_hKey) RegCloseKey(m_hKey);
}

DWORD CTracingKey::ReadDword(const wchar_t* wszName, DWORD dwDefault) const {
  DWORD dwType = 0, dwValue = 0, cbValue = sizeof(dwValue);
  if (!m_hKey ||
      RegQueryValueExW(m_hKey, wszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cbValue) !=
          ERROR_SUCCESS ||
      dwType != REG_DWORD || cbValue != sizeof(dwValue))
    return dwDefault;
  return dwValue;
}

LSTATUS CTracingKey::ReadString(const wchar_t* wszName, wchar_t* wszValue, DWORD cchValue) const {
  if (!m_hKey) return ERROR_FILE_NOT_FOUND;
  DWORD cbValue = cchValue * sizeof(wchar_t);
  const LSTATUS lr = RegGetValueW(m_hKey, nullptr, wszName, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                  nullptr, wszValue, &cbValue);
  return lr == ERROR_UNSUPPORTED_TYPE ? ERROR_FILE_NOT_FOUND : lr;
}

DWORD CTracingKey::ReadFlags() const {
  if (!m_hKey) return 0;
  DWORD dwFlags = 0;
  if (ReadDword(L"TraceToFile", 1) == 1) dwFlags |= TRACE_FLAG_TO_FILE;
  if (ReadDword(L"NewFileAlways", 1) != 0) dwFlags |= TRACE_FLAG_NEW_FILE_ALWAYS;
  if (ReadDword(L"DoTrace", 0) != 0) dwFlags |= TRACE_FLAG_ON;
  if (ReadDword(L"DoLog", 0) != 0) dwFlags |= TRACE_FLAG_LOG;
  if (ReadDword(L"DoProfiling", 0) != 0) dwFlags |= TRACE_FLAG_PROFILING;
  return dwFlags;
}

bool CTracingKey::IsComponentTraced(const wchar_t* wszComponent) const {
  bool bTraced = true;
  VisitValueNames(m_hKey, m_samView, L"ComponentsNOT", [&](const wchar_t* wszName) {
    if (EqualsIgnoringAsciiCase(wszName, wszComponent)) bTraced = false;
    return !bTraced;
  });
  // A non-empty "Components" list decides last: a component named in both lists is traced.
  VisitValueNames(m_hKey, m_samView, L"Components", [&](const wchar_t* wszName) {
    bTraced = EqualsIgnoringAsciiCase(wszName, wszComponent);
    return bTraced;
  });
  return bTraced;
}

}  // namespace VmTraceNS
