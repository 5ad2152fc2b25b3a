#include "module/Branding.h"

#include "module/ResourceStrings.h"
#include "module/Settings.h"
#include "module/Trace.h"

namespace {

constexpr wchar_t kProductBrandingKey[] = L"SOFTWARE\\Velmora\\Applications\\Tessaly\\Branding";
constexpr wchar_t kCommonBrandingKey[] = L"SOFTWARE\\Velmora\\Branding\\Common";

}  // namespace

CBranding::CBranding() {
  CTraceScope trace("CBranding::LoadResourceDLL");
  CRegistryKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kProductBrandingKey, KEY_QUERY_VALUE) != ERROR_SUCCESS &&
      key.Open(HKEY_LOCAL_MACHINE, kCommonBrandingKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    trace.Message("Unable to open registry key %s", "SOFTWARE\\Velmora\\Branding\\Common");
    return;
  }
  std::wstring wsPath;
  if (key.ReadString(L"DLLPath", MAX_PATH, wsPath) != ERROR_SUCCESS) {
    trace.Message("Unable to find registry value %s under registry key %s", "DLLPath",
                  "SOFTWARE\\Velmora\\Branding\\Common");
    return;
  }
  m_hModule = LoadLibraryExW(wsPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!m_hModule) trace.Message("Unable to load resource dll, GetLastError returned %u", GetLastError());
}

CBranding::~CBranding() {
  if (m_hModule) FreeLibrary(m_hModule);
}

const CBranding& CBranding::Instance() {
  static const CBranding s_branding;
  return s_branding;
}

std::wstring CBranding::GetString(UINT nID) const {
  std::wstring wsText;
  if (m_hModule) FindModuleString(m_hModule, nID, 0, wsText);
  return wsText;
}
