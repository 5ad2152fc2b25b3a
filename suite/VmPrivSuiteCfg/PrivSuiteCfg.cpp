// Stand-in of the suite's configuration library: the credential backup. VmBackupData hands out
// the user's own certificates with their private keys as a PKCS #12 file protected by the
// caller's password (the ".vmpsm" format, docs/credential-backup.md). Wine's
// PFXExportCertStoreEx is a stub, so the file is written by Pkcs12.cpp.
#include <windows.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <vector>

#include "OwnCertificates.h"
#include "Pkcs12.h"
#include "SuiteHandles.h"

namespace {

constexpr DWORD kAllCredentials = 0xFFFFFFFF;

bool HasPrivateKey(PCCERT_CONTEXT pCert) {
  DWORD cbInfo = 0;
  return CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo) != FALSE;
}

HRESULT ExportPrivateKey(PCCERT_CONTEXT pCert, std::vector<BYTE>* pBlob) {
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hKeyProv = 0;
  DWORD dwKeySpec = 0;
  BOOL bFree = FALSE;
  if (!CryptAcquireCertificatePrivateKey(pCert, CRYPT_ACQUIRE_SILENT_FLAG, nullptr, &hKeyProv, &dwKeySpec, &bFree))
    return LastErrorResult();
  CCryptProv hProv(bFree ? hKeyProv : 0);
  CCryptKey hKey;
  DWORD cbBlob = 0;
  if (!CryptGetUserKey(hKeyProv, dwKeySpec, &hKey) || !CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, nullptr, &cbBlob))
    return LastErrorResult();
  pBlob->resize(cbBlob);
  if (!CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, pBlob->data(), &cbBlob)) return LastErrorResult();
  pBlob->resize(cbBlob);
  return S_OK;
}

// The own certificates chosen by the selector (every one, or the one at that position), each
// with its private key.
HRESULT CollectCredentials(HCERTSTORE hMy, DWORD dwSelector, std::vector<CPfxEntry>* pEntries) {
  DWORD dwIndex = 0;
  for (PCCERT_CONTEXT pCert = CertEnumCertificatesInStore(hMy, nullptr); pCert;
       pCert = CertEnumCertificatesInStore(hMy, pCert)) {
    if (!HasPrivateKey(pCert)) continue;
    if (dwSelector == kAllCredentials || dwSelector == dwIndex) {
      CPfxEntry entry = {CertDuplicateCertificateContext(pCert), {}};
      const HRESULT hr = ExportPrivateKey(pCert, &entry.privateKey);
      pEntries->push_back(std::move(entry));
      if (FAILED(hr)) {
        CertFreeCertificateContext(pCert);
        return hr;
      }
    }
    ++dwIndex;
  }
  return pEntries->empty() ? CRYPT_E_NOT_FOUND : S_OK;
}

}  // namespace

// hwndOwner: for the key provider's prompts. *pvarData receives a one-dimensional byte array.
extern "C" HRESULT WINAPI VmBackupData(HWND, DWORD dwSelector, LPCWSTR wszPassword, VARIANT* pvarData) {
  if (!pvarData || !wszPassword) return E_POINTER;
  VariantInit(pvarData);
  CCertStore hMy(OpenUserStore(kMyStore));
  if (!hMy) return LastErrorResult();
  std::vector<CPfxEntry> entries;
  std::vector<BYTE> pfx;
  HRESULT hr = CollectCredentials(hMy, dwSelector, &entries);
  if (SUCCEEDED(hr)) hr = WritePkcs12(entries, wszPassword, &pfx);
  for (CPfxEntry& entry : entries) {
    SecureZeroMemory(entry.privateKey.data(), entry.privateKey.size());
    CertFreeCertificateContext(entry.pCert);
  }
  if (FAILED(hr)) return hr;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(pfx.size()));
  if (!psa) return E_OUTOFMEMORY;
  void* pData = nullptr;
  hr = SafeArrayAccessData(psa, &pData);
  if (FAILED(hr)) {
    SafeArrayDestroy(psa);
    return hr;
  }
  CopyMemory(pData, pfx.data(), pfx.size());
  SafeArrayUnaccessData(psa);
  pvarData->vt = VT_ARRAY | VT_UI1;
  pvarData->parray = psa;
  return S_OK;
}
