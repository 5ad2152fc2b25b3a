#include "OwnCertificates.h"

#include "TestAuthority.h"
#include "suite/VmCertServices.h"

HRESULT CreateSuiteKeyPair(std::wstring* pwsContainer, std::vector<BYTE>* pPublicKey) {
  std::wstring wsContainer;
  HRESULT hr = NewGuidName(L"Tessaly-", &wsContainer);
  if (FAILED(hr)) return hr;

  CCryptProv hProv;
  if (!CryptAcquireContextW(&hProv, wsContainer.c_str(), VM_SOLVANE_PROV_NAME, PROV_RSA_FULL, CRYPT_NEWKEYSET))
    return LastErrorResult();
  CCryptKey hKey;
  if (!CryptGenKey(hProv, AT_KEYEXCHANGE, (2048u << 16) | CRYPT_EXPORTABLE, &hKey)) return LastErrorResult();
  hr = ExportPublicKey(hProv, AT_KEYEXCHANGE, pPublicKey);
  if (SUCCEEDED(hr)) *pwsContainer = wsContainer;
  return hr;
}

HRESULT CreateOwnCertificate(const BYTE* pbDer, DWORD cbDer, const std::wstring& wsContainer, PCCERT_CONTEXT* ppCert) {
  CCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, pbDer, cbDer));
  if (!cert) return LastErrorResult();
  CRYPT_KEY_PROV_INFO keyInfo = {};
  keyInfo.pwszContainerName = const_cast<LPWSTR>(wsContainer.c_str());
  keyInfo.pwszProvName = const_cast<LPWSTR>(VM_SOLVANE_PROV_NAME);
  keyInfo.dwProvType = PROV_RSA_FULL;
  keyInfo.dwKeySpec = AT_KEYEXCHANGE;
  if (!CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &keyInfo)) return LastErrorResult();
  *ppCert = cert.Detach();
  return S_OK;
}

HCERTSTORE OpenUserStore(const wchar_t* wszStore) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, wszStore);
}

HRESULT AddToUserStore(const wchar_t* wszStore, PCCERT_CONTEXT pCert, DWORD dwDisposition) {
  CCertStore hStore(OpenUserStore(wszStore));
  if (!hStore) return LastErrorResult();
  return CertAddCertificateContextToStore(hStore, pCert, dwDisposition, nullptr) ? S_OK : LastErrorResult();
}
