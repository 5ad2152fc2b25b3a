#include "mail/MessageSecurity.h"

#define SECURITY_WIN32
#include <security.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "documents/CertificateKey.h"
#include "documents/CryptHandles.h"
#include "mail/Accounts.h"
#include "mail/Invitations.h"
#include "mail/MapiApi.h"
#include "mail/SecurityProfile.h"
#include "mail/WindowHelpers.h"
#include "module/ActCtx.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "res/StringIds.h"

namespace {

// The key stays usable this long after the add-in handed the message to Outlook.
constexpr DWORD kSealUnlockPeriod = 60000;
constexpr DWORD kLocked = static_cast<DWORD>(-1);
constexpr DWORD kMaxKeyName = 260;

HRESULT GetMessage(IDispatch* pMailItem, CTraceScope& trace, IMessage** ppMessage) {
  CComVariant varObject;
  HRESULT hr = LateBound::GetProperty(pMailItem, L"MAPIOBJECT", &varObject);
  if (SUCCEEDED(hr)) {
    hr = (varObject.vt == VT_UNKNOWN || varObject.vt == VT_DISPATCH) && varObject.punkVal
             ? varObject.punkVal->QueryInterface(IID_IMessage, reinterpret_cast<void**>(ppMessage))
             : E_NOINTERFACE;
  }
  if (FAILED(hr)) trace.Error("QueryInterface(IID_IMessage)", hr);
  return hr;
}

HRESULT SetLongProp(IMessage* pMessage, ULONG ulTag, LONG lValue) {
  SPropValue value = {};
  value.ulPropTag = ulTag;
  value.Value.l = lValue;
  return MapiApi::HrSetOneProp(pMessage, &value);
}

// The user's own certificate for the address: the first that the library accepts, in store order.
// Among those rejected for renewal (status 0x2), *ppRenewable gets the one that began last.
PCCERT_CONTEXT FindOwnCertificate(const CCertLibrary& certLib, HCERTSTORE hStore, const wchar_t* wszAddress,
                                  PCCERT_CONTEXT* ppRenewable) {
  PCCERT_CONTEXT pCert = nullptr;
  while ((pCert = CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR,
                                             wszAddress, pCert)) != nullptr) {
    if (certLib.GC_IsVmMyCertificate(pCert) != 1) continue;
    DWORD dwStatus = 0;
    if (certLib.GC_IsCertificateValid(pCert, &dwStatus)) return pCert;
    if (!(dwStatus & VM_CERT_STATUS_RENEW)) continue;
    // On equal starts the one found first stays.
    const PCCERT_CONTEXT pKept = *ppRenewable;
    if (pKept && CompareFileTime(&pCert->pCertInfo->NotBefore, &pKept->pCertInfo->NotBefore) <= 0) continue;
    if (pKept) CertFreeCertificateContext(pKept);
    *ppRenewable = CertDuplicateCertificateContext(pCert);
  }
  return nullptr;
}

// Whether this user holds the certificate's key: the key's name (the provider's parameter 4998)
// is a secret the secret store knows this user to hold.
HRESULT CheckKeyUsable(const CCertLibrary& certLib, PCCERT_CONTEXT pCert, CTraceScope& trace) {
  DWORD cbInfo = 0;
  if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo)) {
    const HRESULT hr = LastErrorResult();
    trace.Error("CertGetCertificateContextProperty(CERT_KEY_PROV_INFO_PROP_ID)", hr);
    return hr;
  }
  std::vector<BYTE> info(cbInfo);
  if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &cbInfo))
    return LastErrorResult();
  const auto* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
  CCryptProvHandle hProv;
  if (!CryptAcquireContextW(&hProv, pInfo->pwszContainerName, pInfo->pwszProvName, pInfo->dwProvType, CRYPT_SILENT)) {
    const HRESULT hr = LastErrorResult();
    trace.Error("CryptAcquireContext()", hr);
    return hr;
  }
  char szKeyName[kMaxKeyName + 1] = {};
  DWORD cbKeyName = kMaxKeyName;
  if (!CryptGetProvParam(hProv, VM_PP_KEY_NAME, reinterpret_cast<BYTE*>(szKeyName), &cbKeyName, VM_PP_ACCESS)) {
    const HRESULT hr = LastErrorResult();
    trace.Error("CryptGetProvParam(4998)", hr);
    return hr;
  }
  wchar_t wszKeyName[kMaxKeyName + 1] = {};
  if (!MultiByteToWideChar(CP_UTF8, 0, szKeyName, static_cast<int>(cbKeyName), wszKeyName, kMaxKeyName))
    return LastErrorResult();
  CComPtr<ISecretManager> cpSecrets;
  HRESULT hr = certLib.CreateSecretManager(&cpSecrets);
  if (FAILED(hr)) {
    trace.Error("CreateSecretManager()", hr);
    return hr;
  }
  wchar_t wszUser[512] = {};
  ULONG cchUser = ARRAYSIZE(wszUser);
  if (!GetUserNameExW(NameSamCompatible, wszUser, &cchUser)) {
    hr = LastErrorResult();
    trace.Error("GetUserNameEx(NameSamCompatible)", hr);
    return hr;
  }
  LPWSTR wszSid = nullptr;
  hr = certLib.StringSidFromUserName(wszUser, &wszSid);
  if (FAILED(hr)) {
    trace.Error("StringSidFromUserName()", hr);
    return hr;
  }
  const BOOL bHolds = cpSecrets->HoldsSecret(wszSid, wszKeyName);
  LocalFree(wszSid);
  trace.Message("User %ls holds the key: %hs", wszUser, bHolds ? "yes" : "no");
  return bHolds ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

// Unlocks the signing key for Outlook's signature; the container name and the key's
// classification (the security label's) are read on the way. Only a missing user key fails.
HRESULT PrepareSealing(PCCERT_CONTEXT pCert, HWND hwndOwner, BSTR* pbsContainer, std::optional<DWORD>* pClassification,
                       CTraceScope& trace) {
  CCertificateKey key;
  const HRESULT hr = key.Open(pCert, hwndOwner, trace);
  if (FAILED(hr)) return hr;
  const DWORD dwPeriod = kSealUnlockPeriod;
  if (!CryptSetProvParam(key.Provider(), VM_PP_UNLOCK_PERIOD, reinterpret_cast<const BYTE*>(&dwPeriod), VM_PP_ACCESS))
    trace.Error("CryptSetProvParam(4995)", LastErrorResult());
  char szContainer[MAX_PATH] = {};
  DWORD cbContainer = sizeof szContainer;
  if (pbsContainer &&
      CryptGetProvParam(key.Provider(), PP_CONTAINER, reinterpret_cast<BYTE*>(szContainer), &cbContainer, 0)) {
    wchar_t wszContainer[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, szContainer, -1, wszContainer, MAX_PATH);
    *pbsContainer = SysAllocString(wszContainer);
    trace.Message("Key container: %ls", wszContainer);
  }
  DWORD dwClassification = 0;
  DWORD cbClassification = sizeof dwClassification;
  if (CryptGetProvParam(key.Provider(), VM_PP_KEY_CLASS, reinterpret_cast<BYTE*>(&dwClassification), &cbClassification,
                        VM_PP_ACCESS)) {
    *pClassification = dwClassification;
    trace.Message("Classification: %u", static_cast<unsigned>(dwClassification));
  }
  return S_OK;
}

// Writes the profile of the chosen certificate, and attaches it to an invitation.
HRESULT WriteProfile(IMessage* pMessage, PCCERT_CONTEXT pCert, DWORD dwInvitationType,
                     const std::optional<DWORD>& classification, CTraceScope& trace) {
  BYTE abHash[20] = {};
  DWORD cbHash = sizeof abHash;
  if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, abHash, &cbHash)) return LastErrorResult();
  std::vector<BYTE> capabilities;
  HRESULT hr = LoadSMimeCapabilities(&capabilities);
  if (FAILED(hr)) {
    trace.Error("LoadSMimeCapabilities()", hr);
    return hr;
  }
  std::vector<BYTE> profile =
      BuildSecurityProfile(LoadResourceString(IDS_SECURITY_PROFILE_NAME), abHash, capabilities, classification);
  // A multi-valued property whose only value is the profile.
  SBinary bin = {static_cast<ULONG>(profile.size()), profile.data()};
  SPropValue value = {};
  value.ulPropTag = kPrSecurityProfile;
  value.Value.MVbin.cValues = 1;
  value.Value.MVbin.lpbin = &bin;
  hr = MapiApi::HrSetOneProp(pMessage, &value);
  if (FAILED(hr)) {
    trace.Error("HrSetOneProp(0x6E031102)", hr);
    return hr;
  }
  if (dwInvitationType == kInvitation || dwInvitationType == kInvitationReply) {
    hr = AttachCertificate(pMessage, pCert, dwInvitationType);
    if (FAILED(hr)) trace.Error("AttachCertificate()", hr);
  }
  return hr;
}

// Steps 4 to 10: the certificate, its checks, the sealing and the profile.
HRESULT ApplySignature(IDispatch* pMailItem, IMessage* pMessage, BOOL bSeal, BSTR* pbsContainer, CTraceScope& trace) {
  const HWND hwndOwner = GetMailItemWindow(pMailItem);
  CCertLibrary certLib;
  PCCERT_CONTEXT pFound = nullptr;
  CCertContextHandle hRenewable;
  CComBSTR bsAddress, bsName;
  {
    CPersonalStoreScope personalStore(certLib);
    HRESULT hr = personalStore.Result();
    if (FAILED(hr)) {
      trace.Error("CM_OpenPersonalStore()", hr);
      return hr;
    }
    hr = GetSendUsingAccount(pMailItem, &bsAddress, &bsName);
    if (FAILED(hr)) return hr;
    if (!bsAddress.Length()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    trace.Message("Sender: %ls [%ls]", bsName.c_str() ? bsName.c_str() : L"", bsAddress.c_str());
    pFound = FindOwnCertificate(certLib, personalStore.Store(), bsAddress.c_str(), &hRenewable);
  }
  const CCertContextHandle hCert(pFound);
  if (hCert) {
    const HRESULT hr = CheckKeyUsable(certLib, hCert, trace);
    if (FAILED(hr)) {
      VmMessageBox(hwndOwner, IDS_MSG_KEY_NOT_USABLE, IDS_CAPTION, MB_OK | MB_ICONERROR);
      return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
  } else {
    const bool bRenew = hRenewable != nullptr;
    const std::wstring wsText =
        FormatResourceString(bRenew ? IDS_MSG_RENEW_CERTIFICATE : IDS_MSG_OBTAIN_CERTIFICATE, bsAddress.c_str());
    if (VmMessageBox(hwndOwner, wsText, IDS_CAPTION, MB_YESNO | MB_ICONQUESTION) == IDYES) {
      CVmActCtx actCtx;
      const HRESULT hr = bRenew ? certLib.CM_RenewCertificate(hwndOwner, hRenewable)
                                : certLib.CM_ObtainCert(hwndOwner, bsAddress.c_str(), bsName.c_str(), 0);
      trace.Message("%hs = 0x%08X", bRenew ? "CM_RenewCertificate()" : "CM_ObtainCert()", static_cast<unsigned>(hr));
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  trace.Message("Found a certificate");
  const DWORD dwInvitationType = GetInvitationType(pMailItem);
  std::optional<DWORD> classification;
  if (dwInvitationType == kInvitationNone && bSeal) {
    const HRESULT hr = PrepareSealing(hCert, hwndOwner, pbsContainer, &classification, trace);
    if (FAILED(hr)) return hr;
  }
  return WriteProfile(pMessage, hCert, dwInvitationType, classification, trace);
}

class COutgoingMessageSecurity final : public IMessageSecurity {
 public:
  HRESULT SetMessageSecurity(IDispatch* pMailItem, BOOL bSign, BOOL bSeal, BSTR* pbsContainer) override {
    return ::SetMessageSecurity(pMailItem, bSign, bSeal, pbsContainer);
  }
};

}  // namespace

HRESULT SetMessageSecurity(IDispatch* pMailItem, BOOL bSign, BOOL bSeal, BSTR* pbsContainer) {
  CTraceScope trace("SetMessageSecurity()");
  if (!pMailItem) return E_POINTER;
  if (pbsContainer) *pbsContainer = nullptr;
  trace.Message("Sign: %d, seal: %d", bSign ? 1 : 0, bSeal ? 1 : 0);
  CComPtr<IMessage> cpMessage;
  HRESULT hr = GetMessage(pMailItem, trace, &cpMessage);
  if (SUCCEEDED(hr) && bSign) hr = ApplySignature(pMailItem, cpMessage, bSeal, pbsContainer, trace);
  if (SUCCEEDED(hr)) {
    hr = SetLongProp(cpMessage, kPrSecurityFlags, (bSign ? kSecurityFlagSign : 0) | (bSeal ? kSecurityFlagSeal : 0));
    if (FAILED(hr)) trace.Error("HrSetOneProp(PR_SECURITY_FLAGS)", hr);
  }
  // A message that does not go locks its key again at once and keeps no container.
  if (FAILED(hr) && pbsContainer && *pbsContainer) {
    LockKeyContainer(*pbsContainer);
    SysFreeString(std::exchange(*pbsContainer, nullptr));
  }
  trace.Message("Result: 0x%08X", static_cast<unsigned>(hr));
  return hr;
}

IMessageSecurity& OutgoingMessageSecurity() {
  static COutgoingMessageSecurity s_security;
  return s_security;
}

void LockKeyContainer(const wchar_t* wszContainer) {
  CTraceScope trace("LockKeyContainer()");
  if (!wszContainer || !*wszContainer) return;
  CCryptProvHandle hProv;
  if (!CryptAcquireContextW(&hProv, wszContainer, VM_SOLVANE_PROV_NAME, PROV_RSA_FULL, 0)) {
    trace.Error("CryptAcquireContext()", LastErrorResult());
    return;
  }
  const DWORD dwLocked = kLocked;
  if (!CryptSetProvParam(hProv, VM_PP_UNLOCK_PERIOD, reinterpret_cast<const BYTE*>(&dwLocked), VM_PP_ACCESS))
    trace.Error("CryptSetProvParam(4995)", LastErrorResult());
}
