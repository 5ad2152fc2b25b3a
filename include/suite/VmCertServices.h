#pragma once
// The suite's certificate services as their callers see them: the entry points of the
// certificate library (VmCertWorks.dll) and of the secret store (VmStoreMan.dll), the secret
// manager interface, and the private parameters of the suite's key provider.
//
// Strings and arrays that the certificate library hands out are freed with GC_Deallocate,
// except the locale array of GC_EnumSupportedLocales (CoTaskMemFree); certificates with
// CertFreeCertificateContext. StringSidFromUserName's string is freed with LocalFree.
// The store handles of CM_OpenPersonalStore and BM_OpenBuddyStore belong to the library and
// stay valid until the matching close; each open is matched by one close.
#include <windows.h>
#include <objbase.h>
#include <wincrypt.h>

// The key provider behind the user's own certificates (PROV_RSA_FULL).
#define VM_SOLVANE_PROV_NAME L"Velmora RSA Solvane CSP"
// Private provider parameters; each is accepted only with VM_PP_ACCESS as the flags.
constexpr DWORD VM_PP_UNLOCK_PERIOD = 4995;  // set/read, 32-bit: milliseconds the key stays unlocked, -1 locks
constexpr DWORD VM_PP_KEY_CLASS = 4996;      // read (the suite's tools also set it), 32-bit
constexpr DWORD VM_PP_KEY_NAME = 4998;       // read: the key's name, UTF-8 with its terminating zero
constexpr DWORD VM_PP_ACCESS = 0x5A3E71D4;

// Set and reset by the suite when the user obtains a personal certificate.
#define VM_CERT_ADDED_EVENT L"Velmora Personal Certificate Added"

// GC_IsCertificateValid status bits.
constexpr DWORD VM_CERT_STATUS_INVALID = 0x1;  // not issued by the suite's authority, or not yet valid
constexpr DWORD VM_CERT_STATUS_RENEW = 0x2;    // expired: renewal applies

extern "C" {
HRESULT WINAPI CM_OpenPersonalStore(HCERTSTORE* phStore);
HRESULT WINAPI CM_ClosePersonalStore();
HRESULT WINAPI CM_EnumMyCerts(DWORD dwReserved, PCCERT_CONTEXT** pppCerts, DWORD* pdwCount);
HRESULT WINAPI CM_GetMyCert(PCCERT_CONTEXT* ppCert);
HRESULT WINAPI CM_GetMyCertUI(HWND hwndOwner, PCCERT_CONTEXT* ppCert);
HRESULT WINAPI CM_SelectMyCert(PCCERT_CONTEXT pCert);
HRESULT WINAPI CM_ObtainCert(HWND hwndOwner, LPCWSTR wszEmail, LPCWSTR wszName, DWORD dwFlags);
HRESULT WINAPI CM_RequestCert(HWND hwndOwner, LPCWSTR wszEmail, LPCWSTR wszName, DWORD dwFlags);
HRESULT WINAPI CM_RenewCertificate(HWND hwndOwner, PCCERT_CONTEXT pOldCert);
HRESULT WINAPI CM_InstallCertResponse(HWND hwndOwner, LPCWSTR wszResponse, LPWSTR* pwszIssued);
HRESULT WINAPI BM_OpenBuddyStore(HCERTSTORE* phStore);
HRESULT WINAPI BM_CloseBuddyStore();
HRESULT WINAPI BM_EnumBuddies(PCCERT_CONTEXT** pppCerts, DWORD* pdwCount);
HRESULT WINAPI BM_InstallBuddy(PCCERT_CONTEXT pCert, DWORD dwFlags);
HRESULT WINAPI BM_InstallPublishedBuddies(LPCWSTR wszEntry, DWORD dwEntryType);
HRESULT WINAPI BM_GetTextBuddyRequest(LPCWSTR wszLanguage, LPWSTR* pwszBody, LPWSTR* pwszSubject);
HRESULT WINAPI BM_GetTextBuddyReply(LPCWSTR wszLanguage, LPWSTR* pwszBody, LPWSTR* pwszSubject);
HRESULT WINAPI GC_GetEmail(PCCERT_CONTEXT pCert, LPWSTR* pwszEmail);
HRESULT WINAPI GC_GetSubjectName(PCCERT_CONTEXT pCert, LPWSTR* pwszName);
BOOL WINAPI GC_IsCertificateValid(PCCERT_CONTEXT pCert, DWORD* pdwStatus);
int WINAPI GC_IsVmMyCertificate(PCCERT_CONTEXT pCert);
BOOL WINAPI GC_IsVmBuddyCertificate(PCCERT_CONTEXT pCert);
HRESULT WINAPI GC_GetSoftwareURL(LPWSTR* pwszUrl);
HRESULT WINAPI GC_EnumSupportedLocales(LCID** ppLocales, DWORD* pdwCount);
HRESULT WINAPI GC_HtmlHelp(LPCWSTR wszTopic);
void WINAPI GC_Deallocate(void* pv);
}

// BM_InstallPublishedBuddies entry types.
constexpr DWORD VM_ENTRY_X500_DN = 1;

// The secret store's view of which user holds which secret. Key names of a user's keys in
// the suite's key provider are secrets that user holds.
struct ISecretManager : public IUnknown {
  // The current user's SID text (LocalFree).
  virtual HRESULT STDMETHODCALLTYPE GetCurrentUserSid(LPWSTR* pwszSid) = 0;
  virtual HRESULT STDMETHODCALLTYPE CountSecrets(LPCWSTR wszSid, DWORD* pdwCount) = 0;
  // The name of secret dwIndex of that user (CoTaskMemFree).
  virtual HRESULT STDMETHODCALLTYPE GetSecretName(LPCWSTR wszSid, DWORD dwIndex, LPWSTR* pwszName) = 0;
  // The key container that keeps the secret (CoTaskMemFree).
  virtual HRESULT STDMETHODCALLTYPE GetSecretContainer(LPCWSTR wszSid, LPCWSTR wszName, LPWSTR* pwszContainer) = 0;
  // Nonzero when the user of that SID holds the named secret.
  virtual BOOL STDMETHODCALLTYPE HoldsSecret(LPCWSTR wszSid, LPCWSTR wszName) = 0;
};

inline constexpr IID IID_ISecretManager = {
    0x6E2B7A51, 0x3C0D, 0x4F8E, {0x9B, 0x1A, 0x52, 0xD4, 0xC7, 0xE0, 0xA9, 0x13}};

extern "C" {
HRESULT WINAPI CreateSecretManager(ISecretManager** ppManager);
HRESULT WINAPI StringSidFromUserName(LPCWSTR wszUserName, LPWSTR* pwszSid);
}
