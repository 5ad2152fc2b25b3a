// The user's own-certificate store ("MY") and the trusted contacts' store.
#include <cstring>

#include "CertWorks.h"
#include "suite/VmCertServices.h"

namespace {

std::wstring NameText(CERT_NAME_BLOB* pName) {
  wchar_t wszName[512] = {};
  CertNameToStrW(X509_ASN_ENCODING, pName, CERT_X500_NAME_STR, wszName, ARRAYSIZE(wszName));
  return wszName;
}

}  // namespace

HRESULT HandOutString(const std::wstring& wsText, LPWSTR* pwszOut) {
  return CopyOutString(wsText, pwszOut, [](size_t cb) { return HeapAlloc(g_hHeap, 0, cb); });
}

HRESULT HandOutCertificates(const std::vector<CCertContext>& certs, PCCERT_CONTEXT** pppCerts, DWORD* pdwCount) {
  if (!pdwCount) return E_POINTER;
  *pdwCount = static_cast<DWORD>(certs.size());
  if (!pppCerts) return S_OK;
  *pppCerts = nullptr;
  if (certs.empty()) return S_OK;
  *pppCerts = static_cast<PCCERT_CONTEXT*>(HeapAlloc(g_hHeap, 0, certs.size() * sizeof(PCCERT_CONTEXT)));
  if (!*pppCerts) return E_OUTOFMEMORY;
  for (size_t i = 0; i < certs.size(); ++i) (*pppCerts)[i] = CertDuplicateCertificateContext(certs[i].Get());
  return S_OK;
}

HRESULT CSharedStore::Open(HCERTSTORE* phStore) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (!m_hStore) {
    m_hStore = OpenUserStore(m_wszName);
    if (!m_hStore) return LastErrorResult();
  }
  ++m_cOpen;
  if (phStore) *phStore = m_hStore;
  return S_OK;
}

HRESULT CSharedStore::Close() {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  if (m_cOpen == 0) return E_UNEXPECTED;
  if (--m_cOpen == 0) {
    CertCloseStore(m_hStore, 0);
    m_hStore = nullptr;
  }
  return S_OK;
}

HRESULT CSharedStore::ReadAll(std::vector<CCertContext>* pCerts) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  CCertStore hOwnStore;
  HCERTSTORE hStore = m_hStore;
  if (!hStore) {
    hOwnStore.Reset(OpenUserStore(m_wszName));
    if (!hOwnStore) return LastErrorResult();
    hStore = hOwnStore;
  }
  pCerts->clear();
  for (PCCERT_CONTEXT pCert = nullptr; (pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr;)
    pCerts->emplace_back(CertDuplicateCertificateContext(pCert));
  return S_OK;
}

bool CSharedStore::Contains(PCCERT_CONTEXT pCert) {
  std::vector<CCertContext> certs;
  if (FAILED(ReadAll(&certs))) return false;
  for (const CCertContext& cert : certs)
    if (CertCompareCertificate(X509_ASN_ENCODING, cert.Get()->pCertInfo, pCert->pCertInfo)) return true;
  return false;
}

HRESULT CSharedStore::Add(PCCERT_CONTEXT pCert, DWORD dwDisposition) {
  std::lock_guard<std::recursive_mutex> lock(m_mutex);
  const HRESULT hr = AddToUserStore(m_wszName, pCert, dwDisposition);
  if (SUCCEEDED(hr) && m_hStore)
    CertAddCertificateContextToStore(m_hStore, pCert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  return hr;
}

CSharedStore& PersonalStore() {
  static CSharedStore s_store(kMyStore);
  return s_store;
}

CSharedStore& BuddyStore() {
  static CSharedStore s_store(kBuddyStore);
  return s_store;
}

extern "C" {

HRESULT WINAPI CM_OpenPersonalStore(HCERTSTORE* phStore) { return PersonalStore().Open(phStore); }

HRESULT WINAPI CM_ClosePersonalStore() { return PersonalStore().Close(); }

HRESULT WINAPI CM_EnumMyCerts(DWORD, PCCERT_CONTEXT** pppCerts, DWORD* pdwCount) {
  return HandOutCertificates(OwnCertificates(), pppCerts, pdwCount);
}

HRESULT WINAPI BM_OpenBuddyStore(HCERTSTORE* phStore) { return BuddyStore().Open(phStore); }

HRESULT WINAPI BM_CloseBuddyStore() { return BuddyStore().Close(); }

HRESULT WINAPI BM_EnumBuddies(PCCERT_CONTEXT** pppCerts, DWORD* pdwCount) {
  if (!pppCerts) return E_POINTER;
  std::vector<CCertContext> certs;
  const HRESULT hr = BuddyStore().ReadAll(&certs);
  return SUCCEEDED(hr) ? HandOutCertificates(certs, pppCerts, pdwCount) : hr;
}

HRESULT WINAPI BM_InstallBuddy(PCCERT_CONTEXT pCert, DWORD) {
  if (!pCert) return E_POINTER;
  if (BuddyStore().Contains(pCert)) return CRYPT_E_EXISTS;
  // A contact's certificate comes without anything of the sender's machine.
  CCertContext bare(CertCreateCertificateContext(X509_ASN_ENCODING, pCert->pbCertEncoded, pCert->cbCertEncoded));
  if (!bare) return LastErrorResult();
  return BuddyStore().Add(bare, CERT_STORE_ADD_NEW);
}

// Certificates that the directory publishes for its users reach this machine in the user's
// "AddressBook" store; the entry names the user by distinguished name. Names are compared in
// their text form: the same name may be encoded with other string types.
HRESULT WINAPI BM_InstallPublishedBuddies(LPCWSTR wszEntry, DWORD dwEntryType) {
  if (!wszEntry) return E_POINTER;
  if (dwEntryType != VM_ENTRY_X500_DN) return E_INVALIDARG;
  DWORD cbName = 0;
  if (!CertStrToNameW(X509_ASN_ENCODING, wszEntry, CERT_X500_NAME_STR, nullptr, nullptr, &cbName, nullptr))
    return LastErrorResult();
  std::vector<BYTE> name(cbName);
  if (!CertStrToNameW(X509_ASN_ENCODING, wszEntry, CERT_X500_NAME_STR, nullptr, name.data(), &cbName, nullptr))
    return LastErrorResult();
  CERT_NAME_BLOB entryName = {cbName, name.data()};
  const std::wstring wsEntry = NameText(&entryName);

  CCertStore hPublished(OpenUserStore(L"AddressBook"));
  if (!hPublished) return LastErrorResult();
  HRESULT hr = CRYPT_E_NOT_FOUND;
  for (PCCERT_CONTEXT pCert = nullptr; (pCert = CertEnumCertificatesInStore(hPublished, pCert)) != nullptr;) {
    if (_wcsicmp(NameText(&pCert->pCertInfo->Subject).c_str(), wsEntry.c_str()) != 0) continue;
    const HRESULT hrInstall = BM_InstallBuddy(pCert, 0);
    if (hr == CRYPT_E_NOT_FOUND || SUCCEEDED(hrInstall)) hr = hrInstall;
  }
  return hr;
}

}  // extern "C"
