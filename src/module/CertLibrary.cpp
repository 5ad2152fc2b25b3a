#include "module/CertLibrary.h"

#include <string>
#include <type_traits>

#include "module/CleanupList.h"
#include "module/Trace.h"

namespace {

HRESULT LastError() {
  const DWORD dwError = GetLastError();
  return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

}  // namespace

CCertLibrary::CCertLibrary(const wchar_t* wszFolder) {
  std::wstring wsFolder;
  if (wszFolder) {
    wsFolder = wszFolder;
  } else {
    wchar_t wszInstallPath[MAX_PATH] = {};
    DWORD cchInstallPath = MAX_PATH;
    const LONG lResult = ReadInstallPath(wszInstallPath, &cchInstallPath, KEY_WOW64_64KEY);
    if (lResult != ERROR_SUCCESS) {
      CTraceScope trace("CCertLibrary::CCertLibrary");
      m_certWorks.hrLoad = m_storeMan.hrLoad = HRESULT_FROM_WIN32(lResult);
      trace.Error("ReadInstallPath()", m_certWorks.hrLoad);
      return;
    }
    wsFolder = wszInstallPath;
  }
  m_certWorks = Bind(wsFolder.c_str(), L"VmCertWorks.dll");
  m_storeMan = Bind(wsFolder.c_str(), L"VmStoreMan.dll");
}

CCertLibrary::~CCertLibrary() {
  for (const CBinding* pBinding : {&m_certWorks, &m_storeMan})
    if (pBinding->hModule) FreeLibrary(pBinding->hModule);
}

CCertLibrary::CBinding CCertLibrary::Bind(const wchar_t* wszFolder, const wchar_t* wszName) {
  CBinding binding;
  const std::wstring wsPath = std::wstring(wszFolder) + L"\\" + wszName;
  binding.hModule = LoadLibraryExW(wsPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  binding.hrLoad = binding.hModule ? S_OK : LastError();
  if (!binding.hModule) {
    CTraceScope trace("CCertLibrary::Bind");
    trace.Message("Library = %ls", wsPath.c_str());
    trace.Error("LoadLibraryExW()", binding.hrLoad);
  }
  return binding;
}

template <class TFunction, class... TArgs>
auto CCertLibrary::Call(const CBinding& binding, const char* szName, TArgs... args) const {
  using TResult = std::invoke_result_t<TFunction*, TArgs...>;
  HRESULT hr = binding.hrLoad;
  // Through void (*)(), which any function pointer type converts to without a warning.
  auto* pfn = binding.hModule
                  ? reinterpret_cast<TFunction*>(reinterpret_cast<void (*)()>(GetProcAddress(binding.hModule, szName)))
                  : nullptr;
  if (pfn) return pfn(args...);
  if (binding.hModule) hr = LastError();
  CTraceScope trace("CCertLibrary::Call");
  trace.Error(szName, hr);
  if constexpr (std::is_same_v<TResult, HRESULT>)
    return hr;
  else if constexpr (!std::is_void_v<TResult>)
    return TResult{};
}

// Each operation passes its arguments to the entry point of the same name and type.
#define VM_CERTWORKS_CALL(name, ...) Call<decltype(::name)>(m_certWorks, #name, __VA_ARGS__)

HRESULT CCertLibrary::CM_OpenPersonalStore(HCERTSTORE* phStore) const {
  return VM_CERTWORKS_CALL(CM_OpenPersonalStore, phStore);
}
HRESULT CCertLibrary::CM_ClosePersonalStore() const {
  return Call<decltype(::CM_ClosePersonalStore)>(m_certWorks, "CM_ClosePersonalStore");
}
HRESULT CCertLibrary::CM_EnumMyCerts(DWORD dwReserved, PCCERT_CONTEXT** pppCerts, DWORD* pdwCount) const {
  return VM_CERTWORKS_CALL(CM_EnumMyCerts, dwReserved, pppCerts, pdwCount);
}
HRESULT CCertLibrary::CM_GetMyCert(PCCERT_CONTEXT* ppCert) const { return VM_CERTWORKS_CALL(CM_GetMyCert, ppCert); }
HRESULT CCertLibrary::CM_GetMyCertUI(HWND hwndOwner, PCCERT_CONTEXT* ppCert) const {
  return VM_CERTWORKS_CALL(CM_GetMyCertUI, hwndOwner, ppCert);
}
HRESULT CCertLibrary::CM_SelectMyCert(PCCERT_CONTEXT pCert) const { return VM_CERTWORKS_CALL(CM_SelectMyCert, pCert); }
HRESULT CCertLibrary::CM_ObtainCert(HWND hwndOwner, LPCWSTR wszEmail, LPCWSTR wszName, DWORD dwFlags) const {
  return VM_CERTWORKS_CALL(CM_ObtainCert, hwndOwner, wszEmail, wszName, dwFlags);
}
HRESULT CCertLibrary::CM_RequestCert(HWND hwndOwner, LPCWSTR wszEmail, LPCWSTR wszName, DWORD dwFlags) const {
  return VM_CERTWORKS_CALL(CM_RequestCert, hwndOwner, wszEmail, wszName, dwFlags);
}
HRESULT CCertLibrary::CM_RenewCertificate(HWND hwndOwner, PCCERT_CONTEXT pOldCert) const {
  return VM_CERTWORKS_CALL(CM_RenewCertificate, hwndOwner, pOldCert);
}
HRESULT CCertLibrary::CM_InstallCertResponse(HWND hwndOwner, LPCWSTR wszResponse, LPWSTR* pwszIssued) const {
  return VM_CERTWORKS_CALL(CM_InstallCertResponse, hwndOwner, wszResponse, pwszIssued);
}
HRESULT CCertLibrary::BM_OpenBuddyStore(HCERTSTORE* phStore) const {
  return VM_CERTWORKS_CALL(BM_OpenBuddyStore, phStore);
}
HRESULT CCertLibrary::BM_CloseBuddyStore() const {
  return Call<decltype(::BM_CloseBuddyStore)>(m_certWorks, "BM_CloseBuddyStore");
}
HRESULT CCertLibrary::BM_EnumBuddies(PCCERT_CONTEXT** pppCerts, DWORD* pdwCount) const {
  return VM_CERTWORKS_CALL(BM_EnumBuddies, pppCerts, pdwCount);
}
HRESULT CCertLibrary::BM_InstallBuddy(PCCERT_CONTEXT pCert, DWORD dwFlags) const {
  return VM_CERTWORKS_CALL(BM_InstallBuddy, pCert, dwFlags);
}
HRESULT CCertLibrary::BM_InstallPublishedBuddies(LPCWSTR wszEntry, DWORD dwEntryType) const {
  return VM_CERTWORKS_CALL(BM_InstallPublishedBuddies, wszEntry, dwEntryType);
}
HRESULT CCertLibrary::BM_GetTextBuddyRequest(LPCWSTR wszLanguage, LPWSTR* pwszBody, LPWSTR* pwszSubject) const {
  return VM_CERTWORKS_CALL(BM_GetTextBuddyRequest, wszLanguage, pwszBody, pwszSubject);
}
HRESULT CCertLibrary::BM_GetTextBuddyReply(LPCWSTR wszLanguage, LPWSTR* pwszBody, LPWSTR* pwszSubject) const {
  return VM_CERTWORKS_CALL(BM_GetTextBuddyReply, wszLanguage, pwszBody, pwszSubject);
}
HRESULT CCertLibrary::GC_GetEmail(PCCERT_CONTEXT pCert, LPWSTR* pwszEmail) const {
  return VM_CERTWORKS_CALL(GC_GetEmail, pCert, pwszEmail);
}
HRESULT CCertLibrary::GC_GetSubjectName(PCCERT_CONTEXT pCert, LPWSTR* pwszName) const {
  return VM_CERTWORKS_CALL(GC_GetSubjectName, pCert, pwszName);
}
BOOL CCertLibrary::GC_IsCertificateValid(PCCERT_CONTEXT pCert, DWORD* pdwStatus) const {
  if (pdwStatus) *pdwStatus = VM_CERT_STATUS_INVALID;
  return VM_CERTWORKS_CALL(GC_IsCertificateValid, pCert, pdwStatus);
}
int CCertLibrary::GC_IsVmMyCertificate(PCCERT_CONTEXT pCert) const {
  return VM_CERTWORKS_CALL(GC_IsVmMyCertificate, pCert);
}
BOOL CCertLibrary::GC_IsVmBuddyCertificate(PCCERT_CONTEXT pCert) const {
  return VM_CERTWORKS_CALL(GC_IsVmBuddyCertificate, pCert);
}
HRESULT CCertLibrary::GC_GetSoftwareURL(LPWSTR* pwszUrl) const { return VM_CERTWORKS_CALL(GC_GetSoftwareURL, pwszUrl); }
HRESULT CCertLibrary::GC_EnumSupportedLocales(LCID** ppLocales, DWORD* pdwCount) const {
  return VM_CERTWORKS_CALL(GC_EnumSupportedLocales, ppLocales, pdwCount);
}
HRESULT CCertLibrary::GC_HtmlHelp(LPCWSTR wszTopic) const { return VM_CERTWORKS_CALL(GC_HtmlHelp, wszTopic); }
void CCertLibrary::GC_Deallocate(void* pv) const {
  // Nothing was handed out that needs freeing.
  if (pv) VM_CERTWORKS_CALL(GC_Deallocate, pv);
}
HRESULT CCertLibrary::CreateSecretManager(ISecretManager** ppManager) const {
  return Call<decltype(::CreateSecretManager)>(m_storeMan, "CreateSecretManager", ppManager);
}
HRESULT CCertLibrary::StringSidFromUserName(LPCWSTR wszUserName, LPWSTR* pwszSid) const {
  return Call<decltype(::StringSidFromUserName)>(m_storeMan, "StringSidFromUserName", wszUserName, pwszSid);
}
