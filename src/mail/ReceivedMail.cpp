#include "mail/ReceivedMail.h"

#include <vector>

#include "com/ComPtr.h"
#include "mail/MimeMessage.h"
#include "module/CertLibrary.h"
#include "module/Trace.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool IsIssuerOf(PCCERT_CONTEXT pIssuer, PCCERT_CONTEXT pCert) {
  return pIssuer != pCert &&
         CertCompareCertificateName(X509_ASN_ENCODING, &pIssuer->pCertInfo->Subject, &pCert->pCertInfo->Issuer);
}

// The end certificate of the chain a detached signature carries: of the certificates issued by
// another one among them, the last that issued none. Null when no certificate's issuer is there.
PCCERT_CONTEXT ChooseEndCertificate(HCERTSTORE hStore) {
  std::vector<PCCERT_CONTEXT> certs;
  PCCERT_CONTEXT pCert = nullptr;
  while ((pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr)
    certs.push_back(CertDuplicateCertificateContext(pCert));
  std::vector<PCCERT_CONTEXT> issued;
  for (PCCERT_CONTEXT pCandidate : certs) {
    for (PCCERT_CONTEXT pOther : certs) {
      if (IsIssuerOf(pOther, pCandidate)) {
        issued.push_back(pCandidate);
        break;
      }
    }
  }
  PCCERT_CONTEXT pEnd = nullptr;
  for (auto it = issued.rbegin(); it != issued.rend() && !pEnd; ++it) {
    bool bIssuedOther = false;
    for (PCCERT_CONTEXT pOther : certs) bIssuedOther = bIssuedOther || IsIssuerOf(*it, pOther);
    if (!bIssuedOther) pEnd = CertDuplicateCertificateContext(*it);
  }
  for (PCCERT_CONTEXT pOwned : certs) CertFreeCertificateContext(pOwned);
  return pEnd;
}

std::wstring Trimmed(const std::wstring& ws) {
  const size_t first = ws.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return std::wstring();
  return ws.substr(first, ws.find_last_not_of(L" \t\r\n") - first + 1);
}

}  // namespace

HRESULT AddNewBuddy(IStream* pMime, BSTR* pbsText, PCCERT_CONTEXT* ppCertificate) {
  CTraceScope trace("AddNewBuddy()");
  if (ppCertificate) *ppCertificate = nullptr;
  if (!pMime || !pbsText) return E_POINTER;
  *pbsText = nullptr;
  CComPtr<IMimeMessage> cpMessage;
  CVerifiedSignature signature;
  HRESULT hr = LoadVerifiedMessage(pMime, &cpMessage, &signature);
  if (FAILED(hr)) return hr;
  DWORD dwFlags = 0;
  CMimeMessage::GetFlags(cpMessage, &dwFlags);
  trace.Message("dwFlags = 0x%08X", dwFlags);
  if (hr == S_FALSE) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  CCertContextHandle pSigner(signature.SignerCertificate(0));
  HBODY hRoot = nullptr;
  const bool bDetached = SUCCEEDED(cpMessage->GetBody(IBL_ROOT, nullptr, &hRoot)) &&
                         cpMessage->IsContentType(hRoot, "multipart", "signed") == S_OK;
  // A detached signature names its signer by the chain it carries, which must end in the signer.
  CCertContextHandle pCert(bDetached ? ChooseEndCertificate(signature.Certificates())
                                     : CertDuplicateCertificateContext(pSigner));
  if (!pCert || !pSigner ||
      !CertCompareCertificate(kEncoding, static_cast<PCCERT_CONTEXT>(pCert)->pCertInfo,
                              static_cast<PCCERT_CONTEXT>(pSigner)->pCertInfo))
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  CCertLibrary certLib;
  {
    CPersonalStoreScope personalStore(certLib);
    if (FAILED(personalStore.Result())) {
      trace.Error("CM_OpenPersonalStore()", personalStore.Result());
      return personalStore.Result();
    }
    CCertContextHandle pOwn(
        CertFindCertificateInStore(personalStore.Store(), kEncoding, 0, CERT_FIND_EXISTING, pCert, nullptr));
    if (pOwn) return HRESULT_FROM_WIN32(ERROR_USER_EXISTS);
  }
  hr = GetContactText(certLib, pCert, pbsText);
  if (FAILED(hr)) {
    trace.Error("GetContactText()", hr);
    return hr;
  }
  if (ppCertificate) *ppCertificate = pCert.Detach();
  return S_OK;
}

void ParseEnterpriseRequest(LPCWSTR wszRequest, std::wstring& wsAddress, std::wstring& wsFullName) {
  CTraceScope trace("ParseEnterpriseRequest()");
  wsAddress.clear();
  wsFullName.clear();
  const std::wstring wsRequest = wszRequest ? wszRequest : L"";
  const size_t posComma = wsRequest.find(L',');
  if (posComma == std::wstring::npos) return;
  wsAddress = Trimmed(wsRequest.substr(0, posComma));
  wsFullName = Trimmed(wsRequest.substr(posComma + 1));
  trace.Message("E-mail address: %ls", wsAddress.c_str());
  trace.Message("User full name: %ls", wsFullName.c_str());
}
