#pragma once
// The suite's certificate library (VmCertWorks.dll) and secret store (VmStoreMan.dll), bound at
// run time from the suite's folder. Where a library or an entry point is missing, each call
// traces the failure and fails: HRESULT operations with the loader's error, the others with
// "no" (GC_IsCertificateValid then reports VM_CERT_STATUS_INVALID).
//
//   CCertLibrary certLib;
//   CPersonalStoreScope personalStore(certLib);   // CM_OpenPersonalStore ... CM_ClosePersonalStore
//   CLibraryString wsEmail(certLib);
//   certLib.GC_GetEmail(pCert, wsEmail.Out());
#include <windows.h>

#include "suite/VmCertServices.h"

class CCertLibrary {
 public:
  // wszFolder: where the libraries are; null for the suite's folder ("VelmoraPath").
  explicit CCertLibrary(const wchar_t* wszFolder = nullptr);
  ~CCertLibrary();
  CCertLibrary(const CCertLibrary&) = delete;
  CCertLibrary& operator=(const CCertLibrary&) = delete;

  HRESULT CM_OpenPersonalStore(HCERTSTORE* phStore) const;
  HRESULT CM_ClosePersonalStore() const;
  HRESULT CM_EnumMyCerts(DWORD dwReserved, PCCERT_CONTEXT** pppCerts, DWORD* pdwCount) const;
  HRESULT CM_GetMyCert(PCCERT_CONTEXT* ppCert) const;
  HRESULT CM_GetMyCertUI(HWND hwndOwner, PCCERT_CONTEXT* ppCert) const;
  HRESULT CM_SelectMyCert(PCCERT_CONTEXT pCert) const;
  HRESULT CM_ObtainCert(HWND hwndOwner, LPCWSTR wszEmail, LPCWSTR wszName, DWORD dwFlags) const;
  HRESULT CM_RequestCert(HWND hwndOwner, LPCWSTR wszEmail, LPCWSTR wszName, DWORD dwFlags) const;
  HRESULT CM_RenewCertificate(HWND hwndOwner, PCCERT_CONTEXT pOldCert) const;
  HRESULT CM_InstallCertResponse(HWND hwndOwner, LPCWSTR wszResponse, LPWSTR* pwszIssued) const;
  HRESULT BM_OpenBuddyStore(HCERTSTORE* phStore) const;
  HRESULT BM_CloseBuddyStore() const;
  HRESULT BM_EnumBuddies(PCCERT_CONTEXT** pppCerts, DWORD* pdwCount) const;
  HRESULT BM_InstallBuddy(PCCERT_CONTEXT pCert, DWORD dwFlags) const;
  HRESULT BM_InstallPublishedBuddies(LPCWSTR wszEntry, DWORD dwEntryType) const;
  HRESULT BM_GetTextBuddyRequest(LPCWSTR wszLanguage, LPWSTR* pwszBody, LPWSTR* pwszSubject) const;
  HRESULT BM_GetTextBuddyReply(LPCWSTR wszLanguage, LPWSTR* pwszBody, LPWSTR* pwszSubject) const;
  HRESULT GC_GetEmail(PCCERT_CONTEXT pCert, LPWSTR* pwszEmail) const;
  HRESULT GC_GetSubjectName(PCCERT_CONTEXT pCert, LPWSTR* pwszName) const;
  BOOL GC_IsCertificateValid(PCCERT_CONTEXT pCert, DWORD* pdwStatus) const;
  int GC_IsVmMyCertificate(PCCERT_CONTEXT pCert) const;
  BOOL GC_IsVmBuddyCertificate(PCCERT_CONTEXT pCert) const;
  HRESULT GC_GetSoftwareURL(LPWSTR* pwszUrl) const;
  HRESULT GC_EnumSupportedLocales(LCID** ppLocales, DWORD* pdwCount) const;
  HRESULT GC_HtmlHelp(LPCWSTR wszTopic) const;
  void GC_Deallocate(void* pv) const;
  HRESULT CreateSecretManager(ISecretManager** ppManager) const;
  HRESULT StringSidFromUserName(LPCWSTR wszUserName, LPWSTR* pwszSid) const;

 private:
  struct CBinding {
    HMODULE hModule = nullptr;
    HRESULT hrLoad = E_UNEXPECTED;
  };
  static CBinding Bind(const wchar_t* wszFolder, const wchar_t* wszName);
  template <class TFunction, class... TArgs>
  auto Call(const CBinding& binding, const char* szName, TArgs... args) const;

  CBinding m_certWorks;
  CBinding m_storeMan;
};

// One opening of a store of the library, closed when the scope ends.
template <HRESULT (CCertLibrary::*Open)(HCERTSTORE*) const, HRESULT (CCertLibrary::*Close)() const>
class CCertStoreScope {
 public:
  explicit CCertStoreScope(const CCertLibrary& certLib) : m_certLib(certLib), m_hr((certLib.*Open)(&m_hStore)) {}
  ~CCertStoreScope() {
    if (SUCCEEDED(m_hr)) (m_certLib.*Close)();
  }
  CCertStoreScope(const CCertStoreScope&) = delete;
  CCertStoreScope& operator=(const CCertStoreScope&) = delete;
  HRESULT Result() const { return m_hr; }
  // Belongs to the library; valid for the scope.
  HCERTSTORE Store() const { return m_hStore; }

 private:
  const CCertLibrary& m_certLib;
  HCERTSTORE m_hStore = nullptr;
  HRESULT m_hr;
};

using CPersonalStoreScope = CCertStoreScope<&CCertLibrary::CM_OpenPersonalStore, &CCertLibrary::CM_ClosePersonalStore>;
using CBuddyStoreScope = CCertStoreScope<&CCertLibrary::BM_OpenBuddyStore, &CCertLibrary::BM_CloseBuddyStore>;

// Memory that the certificate library handed out, freed with its GC_Deallocate.
template <class T>
class CLibraryMemory {
 public:
  explicit CLibraryMemory(const CCertLibrary& certLib) : m_certLib(certLib) {}
  ~CLibraryMemory() { m_certLib.GC_Deallocate(m_p); }
  CLibraryMemory(const CLibraryMemory&) = delete;
  CLibraryMemory& operator=(const CLibraryMemory&) = delete;
  T** Out() {
    m_certLib.GC_Deallocate(m_p);
    m_p = nullptr;
    return &m_p;
  }
  T* Get() const { return m_p; }

 private:
  const CCertLibrary& m_certLib;
  T* m_p = nullptr;
};

using CLibraryString = CLibraryMemory<wchar_t>;
