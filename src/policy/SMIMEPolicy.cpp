#include "policy/SMIMEPolicy.h"

#include <cstring>

#include "documents/CertificateKey.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "res/StringIds.h"

namespace {

// Labels can be checked, shown as text, validated for sending and checked for access; there is
// no editing of our own.
constexpr DWORD kPolicyFlags = 0x1E;

// The classification that the suite's key provider reports now for the certificate's key.
HRESULT ReadKeyClassification(CTraceScope& scope, HWND hwnd, PCCERT_CONTEXT pCert, DWORD* pdwClassification) {
  CCertificateKey key;
  const HRESULT hr = key.Open(pCert, hwnd, scope, CRYPT_ACQUIRE_SILENT_FLAG);
  if (FAILED(hr)) return hr;
  DWORD cbClassification = sizeof *pdwClassification;
  if (!CryptGetProvParam(key.Provider(), VM_PP_KEY_CLASS, reinterpret_cast<BYTE*>(pdwClassification), &cbClassification,
                         VM_PP_ACCESS)) {
    const HRESULT hrParam = LastErrorResult();
    scope.Error("CryptGetProvParam(VM_PP_KEY_CLASS)", hrParam);
    return hrParam;
  }
  return S_OK;
}

// Whether the store holds the same certificate.
bool StoreHolds(HCERTSTORE hStore, PCCERT_CONTEXT pCert) {
  if (!hStore) return false;
  PCCERT_CONTEXT pFound = CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                     CERT_FIND_EXISTING, pCert, nullptr);
  if (!pFound) return false;
  CertFreeCertificateContext(pFound);
  return true;
}

// A fixed, zero-filled global block that the caller frees with GlobalFree.
template <class T>
T* GlobalBlock(SIZE_T cb) {
  return static_cast<T*>(GlobalAlloc(GPTR, cb));
}

}  // namespace

UINT LabelStringId(DWORD dwClassification) {
  const DWORD c = dwClassification;
  if (c & 0x4) {
    if (c & 0x8) return IDS_UNLOCK_STRONG;
    if ((c & 0x3) == 0x3) return IDS_UNLOCK_STRONG_CARD_AND_PASSWORD;
    if (c & 0x1) return IDS_UNLOCK_STRONG_PASSWORD;
    if (c & 0x2) return IDS_UNLOCK_STRONG_SMART_CARD;
    return IDS_UNLOCK_STRONG;
  }
  switch (c) {
    case 0:
      return 0;
    case 1:
      return IDS_UNLOCK_PASSWORD;
    case 2:
      return IDS_UNLOCK_SMART_CARD;
    case 0x10:
      return IDS_UNLOCK_LOGON;
    case 3:
      return IDS_UNLOCK_CARD_AND_PASSWORD;
    default:
      return IDS_UNLOCK_OTHER;
  }
}

HRESULT GetSMimePolicyInterface(LPCSTR pszPolicyOid, REFIID riid, IUnknown** ppUnknown) {
  CTraceScope scope("GetSMimePolicy");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!pszPolicyOid || strcmp(pszPolicyOid, kVmSecurityPolicyOid) != 0) return E_NOINTERFACE;
    return CreateComObject<CSMIMEPolicy>(nullptr, riid, reinterpret_cast<void**>(ppUnknown));
  });
}

void* CSMIMEPolicy::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, Outlook::IID_ISMimePolicySimpleEdit) || IsEqualIID(riid, Outlook::IID_ISMimePolicyFullEdit))
    return static_cast<Outlook::ISMimePolicyFullEdit*>(this);
  if (IsEqualIID(riid, Outlook::IID_ISMimePolicyLabelInfo)) return static_cast<Outlook::ISMimePolicyLabelInfo*>(this);
  if (IsEqualIID(riid, Outlook::IID_ISMimePolicyValidateSend))
    return static_cast<Outlook::ISMimePolicyValidateSend*>(this);
  if (IsEqualIID(riid, Outlook::IID_ISMimePolicyCheckAccess))
    return static_cast<Outlook::ISMimePolicyCheckAccess*>(this);
  return nullptr;
}

HRESULT CSMIMEPolicy::GetPolicyInfo(DWORD, DWORD* pdwPolicyFlags) {
  CTraceScope scope("CSMIMEPolicy::GetPolicyInfo");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!pdwPolicyFlags) return E_POINTER;
    *pdwPolicyFlags = kPolicyFlags;
    return S_OK;
  });
}

// One classification, value 0, whose name is the empty string kept in the name array's own block.
HRESULT CSMIMEPolicy::GetClassifications(DWORD, DWORD* pcClassifications, LPWSTR** ppwszClassifications,
                                         DWORD** ppdwClassifications, DWORD* pdwDefaultClassification) {
  CTraceScope scope("CSMIMEPolicy::GetClassifications");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!pcClassifications || !ppwszClassifications || !ppdwClassifications || !pdwDefaultClassification)
      return E_POINTER;
    *pcClassifications = 1;
    *pdwDefaultClassification = 0;
    auto* pdwValues = GlobalBlock<DWORD>(sizeof(DWORD));
    auto* ppwszNames = GlobalBlock<LPWSTR>(sizeof(LPWSTR) + sizeof(WCHAR));
    if (!pdwValues || !ppwszNames) {
      if (pdwValues) GlobalFree(pdwValues);
      if (ppwszNames) GlobalFree(ppwszNames);
      *ppdwClassifications = nullptr;
      *ppwszClassifications = nullptr;
      return E_OUTOFMEMORY;
    }
    ppwszNames[0] = reinterpret_cast<LPWSTR>(ppwszNames + 1);
    *ppdwClassifications = pdwValues;
    *ppwszClassifications = ppwszNames;
    return S_OK;
  });
}

HRESULT CSMIMEPolicy::GetDefaultPolicyInfo(DWORD, DWORD* pdwClassification, LPWSTR* pwszPrivacyMark) {
  CTraceScope scope("CSMIMEPolicy::GetDefaultPolicyInfo");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!pdwClassification || !pwszPrivacyMark) return E_POINTER;
    *pdwClassification = 0;
    *pwszPrivacyMark = nullptr;
    return S_OK;
  });
}

HRESULT CSMIMEPolicy::IsLabelValid(DWORD, HWND, Outlook::PSMIME_SECURITY_LABEL* pplabel) {
  CTraceScope scope("CSMIMEPolicy::IsLabelValid");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!pplabel || !*pplabel) return E_POINTER;
    return (*pplabel)->fHasClassification ? S_OK : E_INVALIDARG;
  });
}

HRESULT CSMIMEPolicy::DoAdvancedEdit(DWORD, HWND, Outlook::PSMIME_SECURITY_LABEL*) {
  CTraceScope scope("CSMIMEPolicy::DoAdvancedEdit");
  return E_NOTIMPL;
}

HRESULT CSMIMEPolicy::IsLabelValidAdvanced(DWORD, HWND, Outlook::PSMIME_SECURITY_LABEL*) {
  CTraceScope scope("CSMIMEPolicy::IsLabelValidAdvanced");
  return E_NOTIMPL;
}

HRESULT CSMIMEPolicy::GetLabelAsStrings(DWORD, Outlook::PSMIME_SECURITY_LABEL, LPWSTR*, LPWSTR*, LPWSTR*, LPWSTR*) {
  CTraceScope scope("CSMIMEPolicy::GetLabelAsStrings");
  return E_NOTIMPL;
}

HRESULT CSMIMEPolicy::GetStringizedLabel(DWORD, Outlook::PSMIME_SECURITY_LABEL plabel, LPWSTR* pwszLabel) {
  CTraceScope scope("CSMIMEPolicy::GetStringizedLabel");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!plabel || !pwszLabel) return E_POINTER;
    *pwszLabel = nullptr;
    if (!plabel->fHasClassification) return S_OK;
    scope.Message("plabel->dwClassification = 0x%08X", static_cast<unsigned>(plabel->dwClassification));
    const UINT nID = LabelStringId(plabel->dwClassification);
    const std::wstring wsLabel = nID ? LoadResourceString(nID) : std::wstring();
    scope.Message("wsLabel = %ls", wsLabel.c_str());
    auto* wszBlock = GlobalBlock<WCHAR>((wsLabel.size() + 1) * sizeof(WCHAR));
    if (!wszBlock) return E_OUTOFMEMORY;
    wsLabel.copy(wszBlock, wsLabel.size());
    *pwszLabel = wszBlock;
    return S_OK;
  });
}

HRESULT CSMIMEPolicy::DisplayAdvancedLabelProperties(DWORD, HWND, Outlook::PSMIME_SECURITY_LABEL) {
  CTraceScope scope("CSMIMEPolicy::DisplayAdvancedLabelProperties");
  return E_NOTIMPL;
}

HRESULT CSMIMEPolicy::IsValidLabelSignerCert(DWORD, HWND hwnd, Outlook::PSMIME_SECURITY_LABEL plabel,
                                             PCCERT_CONTEXT pccert) {
  CTraceScope scope("CSMIMEPolicy::IsValidLabelSignerCert");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!plabel || !pccert) return E_POINTER;
    if (!plabel->fHasClassification) return E_INVALIDARG;
    if (!CCertLibrary().GC_IsVmMyCertificate(pccert)) return E_ACCESSDENIED;
    DWORD dwClassification = 0;
    if (FAILED(ReadKeyClassification(scope, hwnd, pccert, &dwClassification))) return E_ACCESSDENIED;
    scope.Message("key classification = 0x%08X", static_cast<unsigned>(dwClassification));
    return dwClassification == plabel->dwClassification ? S_OK : E_ACCESSDENIED;
  });
}

HRESULT CSMIMEPolicy::IsValidLabelRecipientCert(DWORD, HWND, Outlook::PSMIME_SECURITY_LABEL, PCCERT_CONTEXT pccert) {
  CTraceScope scope("CSMIMEPolicy::IsValidLabelRecipientCert");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!pccert) return E_ACCESSDENIED;
    const CCertLibrary certLib;
    if (!certLib.GC_IsVmBuddyCertificate(pccert)) return E_ACCESSDENIED;
    {
      const CPersonalStoreScope personalStore(certLib);
      if (SUCCEEDED(personalStore.Result()) && StoreHolds(personalStore.Store(), pccert)) return S_OK;
    }
    const CBuddyStoreScope buddyStore(certLib);
    return SUCCEEDED(buddyStore.Result()) && StoreHolds(buddyStore.Store(), pccert) ? S_OK : E_ACCESSDENIED;
  });
}

HRESULT CSMIMEPolicy::IsAccessGranted(DWORD, HWND, Outlook::PSMIME_SECURITY_LABEL, PCCERT_CONTEXT, PCCERT_CONTEXT,
                                      HCERTSTORE) {
  CTraceScope scope("CSMIMEPolicy::IsAccessGranted");
  return S_OK;
}
