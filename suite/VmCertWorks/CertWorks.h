#pragma once
// What the parts of the certificate library share: its allocator, its two stores, the
// suite's authority and the user's own certificates.
#include <windows.h>
#include <wincrypt.h>

#include <mutex>
#include <string>
#include <vector>

#include "OwnCertificates.h"
#include "SuiteHandles.h"
#include "TestAuthority.h"

extern HINSTANCE g_hInstance;
extern HANDLE g_hHeap;

// Copies into the library's heap (freed with GC_Deallocate).
HRESULT HandOutString(const std::wstring& wsText, LPWSTR* pwszOut);
HRESULT HandOutCertificates(const std::vector<CCertContext>& certs, PCCERT_CONTEXT** pppCerts, DWORD* pdwCount);

// A system store of the current user that callers keep open between an open and a close.
class CSharedStore {
 public:
  explicit CSharedStore(const wchar_t* wszName) : m_wszName(wszName) {}
  HRESULT Open(HCERTSTORE* phStore);
  HRESULT Close();
  // Every certificate of the store as it is now.
  HRESULT ReadAll(std::vector<CCertContext>* pCerts);
  // Whether the same certificate is in the store.
  bool Contains(PCCERT_CONTEXT pCert);
  // Adds for good and, while callers hold the store open, to their handle too: the platform
  // may not show one handle's additions through another that is already open.
  HRESULT Add(PCCERT_CONTEXT pCert, DWORD dwDisposition);

 private:
  const wchar_t* m_wszName;
  std::recursive_mutex m_mutex;
  HCERTSTORE m_hStore = nullptr;
  LONG m_cOpen = 0;
};

CSharedStore& PersonalStore();
CSharedStore& BuddyStore();

// The suite's authority, or null when it is not installed.
const CTestAuthority* Authority();
bool IsOwnCertificate(PCCERT_CONTEXT pCert);
std::vector<CCertContext> OwnCertificates();
// Puts an issued certificate with its key into the user's store, makes it current and tells
// the suite's programs.
HRESULT InstallOwnCertificate(const std::vector<BYTE>& der, const std::wstring& wsContainer);
HRESULT SelectCurrent(PCCERT_CONTEXT pCert);
