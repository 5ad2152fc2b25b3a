#include "documents/SignatureProvider.h"

#include <shlwapi.h>

#include <cstdio>
#include <vector>

#include "com/Bstr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "documents/CertificateKey.h"
#include "documents/CryptHandles.h"
#include "documents/ProviderCalls.h"
#include "documents/SignatureObjects.h"
#include "documents/SignatureOptions.h"
#include "module/ActCtx.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "module/ResourceStrings.h"
#include "module/Settings.h"
#include "res/StringIds.h"
#include "tracking/UsageTracking.h"
#include "ui/Dialogs.h"

bool g_bAddingSignature = false;

namespace {

constexpr DWORD kHashPiece = 512;
constexpr wchar_t kSha1Algorithm[] = L"http://www.w3.org/2000/09/xmldsig#sha1";

// Bits of the key provider's unlock report (parameter 4996).
constexpr DWORD kAuthCard = 0x1;
constexpr DWORD kAuthPassword = 0x2;
constexpr DWORD kAuthStrong = 0x4;
constexpr DWORD kAuthStrongOnly = 0x8;

std::wstring HexText(const BYTE* pb, DWORD cb) {
  std::wstring wsHex;
  wchar_t wszByte[3] = {};
  for (DWORD i = 0; i < cb; ++i) {
    swprintf(wszByte, ARRAYSIZE(wszByte), L"%02X", pb[i]);
    wsHex += wszByte;
  }
  return wsHex;
}

HRESULT CertificateThumbprint(PCCERT_CONTEXT pCert, std::vector<BYTE>* pThumbprint) {
  DWORD cb = 0;
  if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, nullptr, &cb)) return LastErrorResult();
  pThumbprint->resize(cb);
  if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, pThumbprint->data(), &cb))
    return LastErrorResult();
  pThumbprint->resize(cb);
  return S_OK;
}

// Reads how the signing key was unlocked, with the key's dialogs owned by hParent.
HRESULT ReadKeyUnlock(CTraceScope& scope, PCCERT_CONTEXT pCert, HWND hParent, DWORD* pdwAuth) {
  CCertificateKey key;
  const HRESULT hr = key.Open(pCert, hParent, scope);
  if (FAILED(hr)) return hr;
  DWORD cbAuth = sizeof(*pdwAuth);
  if (!CryptGetProvParam(key.Provider(), VM_PP_KEY_CLASS, reinterpret_cast<BYTE*>(pdwAuth), &cbAuth, VM_PP_ACCESS)) {
    const HRESULT hrParam = LastErrorResult();
    scope.Error("CryptGetProvParam(4996)", hrParam);
    return hrParam;
  }
  scope.Message("dwAuth = 0x%08X", static_cast<unsigned>(*pdwAuth));
  return S_OK;
}

// The certificate of a SHA-1 thumbprint in hexadecimal, from the own store or the trusted contacts.
PCCERT_CONTEXT FindByThumbprint(const CCertLibrary& certLib, const wchar_t* wszThumbprint) {
  std::vector<BYTE> hash;
  for (size_t i = 0; wszThumbprint[i] && wszThumbprint[i + 1]; i += 2) {
    const std::wstring wsPair = L"0x" + std::wstring(wszThumbprint + i, 2);
    int iByte = 0;
    if (!StrToIntExW(wsPair.c_str(), STIF_SUPPORT_HEX, &iByte)) return nullptr;
    hash.push_back(static_cast<BYTE>(iByte));
  }
  CRYPT_HASH_BLOB blob = {static_cast<DWORD>(hash.size()), hash.data()};
  const auto find = [&](HRESULT hrOpen, HCERTSTORE hStore) -> PCCERT_CONTEXT {
    if (FAILED(hrOpen) || !hStore) return nullptr;
    return CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob,
                                      nullptr);
  };
  {
    const CPersonalStoreScope personalStore(certLib);
    if (PCCERT_CONTEXT pCert = find(personalStore.Result(), personalStore.Store())) return pCert;
  }
  const CBuddyStoreScope buddyStore(certLib);
  return find(buddyStore.Result(), buddyStore.Store());
}

// Office's signature document: its stream, loaded with a digital-signature object bound to it.
struct CSignatureDocument {
  HRESULT Load(CTraceScope& scope, IUnknown* pStream) {
    HRESULT hr = QueryStream(scope, pStream, &cpStream);
    if (SUCCEEDED(hr)) hr = PrepareXmlSignature(cpStream, &cpXmlDoc, &cpXmlDSig);
    return hr;
  }
  CComPtr<IStream> cpStream;
  CComPtr<IXMLDOMDocument2> cpXmlDoc;
  CComPtr<MSXML2::IXMLDigitalSignatureEx> cpXmlDSig;
};

// The date and time of a VARIANT date in the user's form; empty when it is none.
std::wstring DateTimeText(const VARIANT& varTime) {
  CComVariant varText;
  if (FAILED(VariantChangeType(&varText, const_cast<VARIANT*>(&varTime), 0, VT_BSTR))) return std::wstring();
  return V_BSTR(&varText) ? V_BSTR(&varText) : L"";
}

}  // namespace

UINT SigningCommentId(DWORD dwAuth) {
  if (!(dwAuth & kAuthStrong)) {
    switch (dwAuth) {
      case 0:
        return 0;
      case kAuthCard:
        return IDS_UNLOCK_PASSWORD;
      case kAuthPassword:
        return IDS_UNLOCK_SMART_CARD;
      case kAuthCard | kAuthPassword:
        return IDS_UNLOCK_CARD_AND_PASSWORD;
      case 16:
        return IDS_UNLOCK_LOGON;
      default:
        return IDS_UNLOCK_OTHER;
    }
  }
  if (dwAuth & kAuthStrongOnly) return IDS_UNLOCK_STRONG;
  switch (dwAuth & (kAuthCard | kAuthPassword)) {
    case kAuthCard | kAuthPassword:
      return IDS_UNLOCK_STRONG_CARD_AND_PASSWORD;
    case kAuthCard:
      return IDS_UNLOCK_STRONG_PASSWORD;
    case kAuthPassword:
      return IDS_UNLOCK_STRONG_SMART_CARD;
    default:
      return IDS_UNLOCK_STRONG;
  }
}

HRESULT ChooseOwnCertificate(const CCertLibrary& certLib, HWND hParent, PCCERT_CONTEXT* ppCert) {
  const CVmActCtx actCtx;
  return certLib.CM_GetMyCertUI(hParent, ppCert);
}

std::wstring CommentWithTitle(const std::wstring& wsTitle, const std::wstring& wsComment) {
  return wsTitle.empty() ? wsComment : wsTitle + L"\n" + wsComment;
}

VM_OFFICE_PROVIDER_IMPL(CSignatureProvider, Office::SignatureProvider, Office::IID_SignatureProvider)

HRESULT CSignatureProvider::GetProviderDetail(Office::SignatureProviderDetail sigprovdet, VARIANT* pvarDesc) {
  CTraceScope scope("CSignatureProvider::GetProviderDetail");
  return Guarded(scope, [&]() -> HRESULT {
    if (!pvarDesc) return E_POINTER;
    VariantClear(pvarDesc);
    switch (sigprovdet) {
      case Office::sigprovdetUrl:
        scope.Message("sigprovdetUrl");
        return SoftwareUrl(scope, pvarDesc);
      case Office::sigprovdetHashAlgorithm:
        scope.Message("sigprovdetHashAlgorithm");
        V_VT(pvarDesc) = VT_BSTR;
        V_BSTR(pvarDesc) = SysAllocString(kSha1Algorithm);
        return S_OK;
      case Office::sigprovdetUIOnly:
      case Office::sigprovdetUseOfficeUI:
      case Office::sigprovdetUseOfficeStampUI:
        scope.Message(sigprovdet == Office::sigprovdetUIOnly        ? "sigprovdetUIOnly"
                      : sigprovdet == Office::sigprovdetUseOfficeUI ? "sigprovdetUseOfficeUI"
                                                                    : "sigprovdetUseOfficeStampUI");
        V_VT(pvarDesc) = VT_BOOL;
        V_BOOL(pvarDesc) = sigprovdet == Office::sigprovdetUIOnly ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    scope.Message("Unknown provider detail %d", static_cast<int>(sigprovdet));
    return E_NOTIMPL;
  });
}

HRESULT CSignatureProvider::HashStream(IUnknown* QueryContinue, IUnknown* Stream, SAFEARRAY** psigHashStream) {
  CTraceScope scope("CSignatureProvider::HashStream");
  return Guarded(scope, [&]() -> HRESULT {
    if (!psigHashStream) return E_POINTER;
    *psigHashStream = nullptr;
    CComPtr<IStream> cpStream;
    HRESULT hr = QueryStream(scope, Stream, &cpStream);
    if (FAILED(hr)) return hr;
    CComPtr<Office::IQueryContinue> cpQueryContinue;
    hr = QueryContinue
             ? QueryContinue->QueryInterface(Office::IID_IQueryContinue, reinterpret_cast<void**>(&cpQueryContinue))
             : E_NOINTERFACE;
    if (FAILED(hr)) {
      scope.Error("QueryInterface(__uuidof(IQueryContinue))", hr);
      return hr;
    }
    CCryptProvHandle hProv;
    CCryptHashHandle hHash;
    if (!CryptAcquireContextW(&hProv, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash))
      return LastErrorResult();
    BYTE buffer[kHashPiece];
    for (;;) {
      if (cpQueryContinue->ContinueCallback() != S_OK) return E_ABORT;
      ULONG cbRead = 0;
      if (FAILED(cpStream->Read(buffer, sizeof(buffer), &cbRead)) || cbRead == 0) break;
      if (!CryptHashData(hHash, buffer, cbRead, 0)) return LastErrorResult();
    }
    DWORD cbHash = 0;
    DWORD cbSize = sizeof(cbHash);
    if (!CryptGetHashParam(hHash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&cbHash), &cbSize, 0)) return LastErrorResult();
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, cbHash);
    if (!psa) return E_OUTOFMEMORY;
    void* pvData = nullptr;
    hr = SafeArrayAccessData(psa, &pvData);
    if (SUCCEEDED(hr)) {
      if (!CryptGetHashParam(hHash, HP_HASHVAL, static_cast<BYTE*>(pvData), &cbHash, 0)) hr = LastErrorResult();
      SafeArrayUnaccessData(psa);
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(psa);
      return hr;
    }
    *psigHashStream = psa;
    return S_OK;
  });
}

HRESULT CSignatureProvider::ShowSigningCeremony(IUnknown* ParentWindow, Office::SignatureSetup* psigsetup,
                                                Office::SignatureInfo* psiginfo) {
  CTraceScope scope("CSignatureProvider::ShowSigningCeremony");
  return Guarded(scope, [&]() -> HRESULT {
    const HWND hParent = ParentWindowOf(ParentWindow);
    const HRESULT hr = [&]() -> HRESULT {
      const CCertLibrary certLib;
      const CPersonalStoreScope personalStore(certLib);
      if (FAILED(personalStore.Result())) return personalStore.Result();
      CCertContextHandle pCert;
      HRESULT hrStep = ChooseOwnCertificate(certLib, hParent, &pCert);
      if (FAILED(hrStep)) return hrStep;
      if (!pCert) return E_FAIL;
      std::vector<BYTE> thumbprint;
      hrStep = CertificateThumbprint(pCert, &thumbprint);
      if (SUCCEEDED(hrStep))
        hrStep =
            LateBound::Call(psiginfo, L"SelectCertificateDetailByThumbprint",
                            {CComVariant(HexText(thumbprint.data(), static_cast<DWORD>(thumbprint.size())).c_str())});
      if (FAILED(hrStep)) {
        scope.Error("SelectCertificateDetailByThumbprint()", hrStep);
        return hrStep;
      }
      DWORD dwAuth = 0;
      hrStep = ReadKeyUnlock(scope, pCert, hParent, &dwAuth);
      if (FAILED(hrStep)) return hrStep;
      const UINT nCommentId = SigningCommentId(dwAuth);
      std::wstring wsComment = nCommentId ? LoadResourceString(nCommentId) : std::wstring();
      scope.Message("bsComment = %ls", wsComment.c_str());
      CLibraryString wsSubject(certLib);
      hrStep = certLib.GC_GetSubjectName(pCert, wsSubject.Out());
      if (FAILED(hrStep)) return hrStep;
      if (psigsetup && CSignatureOptions(SignatureObjects::GetString(psigsetup, L"AdditionalXml")).m_bAddTitle)
        wsComment = CommentWithTitle(ReadUserString(kSignerTitle), wsComment);
      hrStep = SignatureObjects::PutString(psiginfo, L"SignatureText", wsSubject.Get() ? wsSubject.Get() : L"");
      if (SUCCEEDED(hrStep)) hrStep = SignatureObjects::PutString(psiginfo, L"SignatureComment", wsComment);
      return hrStep;
    }();
    switch (hr) {
      case NTE_NO_KEY:
      case NTE_BAD_KEYSET:
        VmMessageBox(hParent, IDS_MSG_KEY_NOT_USABLE, IDS_CAPTION, MB_ICONERROR);
        break;
      case NTE_KEYSET_ENTRY_BAD:
        VmMessageBox(hParent, IDS_MSG_KEY_DAMAGED, IDS_CAPTION, MB_ICONERROR);
        break;
      case S_OK:
      case E_ABORT:
      case E_FAIL:
      case HRESULT_FROM_WIN32(ERROR_CANCELLED):
        break;
      default:
        if (FAILED(hr)) VmMessageBox(hParent, SystemErrorText(static_cast<DWORD>(hr)), IDS_CAPTION, MB_ICONERROR);
    }
    return hr;
  });
}

HRESULT CSignatureProvider::SignXmlDsig(IUnknown*, Office::SignatureSetup*, Office::SignatureInfo*,
                                        IUnknown* XmlDsigStream) {
  CTraceScope scope("CSignatureProvider::SignXmlDsig");
  return Guarded(scope, [&]() -> HRESULT {
    CSignatureDocument document;
    HRESULT hr = document.Load(scope, XmlDsigStream);
    if (FAILED(hr)) return hr;
    {
      const CCertLibrary certLib;
      const CPersonalStoreScope personalStore(certLib);
      if (FAILED(personalStore.Result())) return personalStore.Result();
      CCertContextHandle pCert;
      hr = certLib.CM_GetMyCert(&pCert);
      if (FAILED(hr)) {
        scope.Error("CM_GetMyCert()", hr);
        return hr;
      }
      CComPtr<MSXML2::IXMLDSigKeyEx> cpKey;
      hr = document.cpXmlDSig->createKeyFromCertContext(static_cast<PCCERT_CONTEXT>(pCert), &cpKey);
      if (FAILED(hr)) {
        scope.Error("cpXmlDSig->createKeyFromCertContext", hr);
        return hr;
      }
      CComPtr<MSXML2::IXMLDSigKey> cpSignedKey;
      hr = document.cpXmlDSig->sign(cpKey, MSXML2::CERTIFICATES, &cpSignedKey);
      if (FAILED(hr)) {
        scope.Error("cpXmlDSig->sign", hr);
        return hr;
      }
    }
    const ULARGE_INTEGER uliZero = {};
    const LARGE_INTEGER liZero = {};
    hr = document.cpStream->SetSize(uliZero);
    if (SUCCEEDED(hr)) hr = document.cpStream->Seek(liZero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    VARIANT varTarget;
    VariantInit(&varTarget);
    V_VT(&varTarget) = VT_UNKNOWN;
    V_UNKNOWN(&varTarget) = document.cpStream;
    return document.cpXmlDoc->save(varTarget);
  });
}

HRESULT CSignatureProvider::NotifySignatureAdded(IUnknown* ParentWindow, Office::SignatureSetup*,
                                                 Office::SignatureInfo*) {
  CTraceScope scope("CSignatureProvider::NotifySignatureAdded");
  return Guarded(scope, [&]() -> HRESULT {
    CountFeatureUse(kDocumentSignedCounter);
    VmMessageBox(ParentWindowOf(ParentWindow), IDS_MSG_SIGNATURE_ADDED, IDS_CAPTION, MB_ICONINFORMATION);
    return S_OK;
  });
}

HRESULT CSignatureProvider::VerifyXmlDsig(IUnknown*, Office::SignatureSetup*, Office::SignatureInfo*,
                                          IUnknown* XmlDsigStream, Office::ContentVerificationResults* pcontverres,
                                          Office::CertificateVerificationResults*) {
  CTraceScope scope("CSignatureProvider::VerifyXmlDsig");
  return Guarded(scope, [&]() -> HRESULT {
    if (!pcontverres) return E_POINTER;
    CSignatureDocument document;
    HRESULT hr = document.Load(scope, XmlDsigStream);
    if (FAILED(hr)) return hr;
    CComPtr<MSXML2::IXMLDSigKey> cpKey;
    hr = document.cpXmlDSig->verify(nullptr, &cpKey);
    if (FAILED(hr)) {
      scope.Error("cpXmlDSig->verify", hr);
      return hr;
    }
    *pcontverres = hr == S_OK ? Office::contverresValid : Office::contverresModified;
    return hr;
  });
}

HRESULT CSignatureProvider::ShowSignatureDetails(IUnknown* ParentWindow, Office::SignatureSetup*,
                                                 Office::SignatureInfo* psiginfo, IUnknown* XmlDsigStream,
                                                 Office::ContentVerificationResults*,
                                                 Office::CertificateVerificationResults*) {
  CTraceScope scope("CSignatureProvider::ShowSignatureDetails");
  return Guarded(scope, [&]() -> HRESULT {
    const HWND hParent = ParentWindowOf(ParentWindow);
    CSignatureDocument document;
    HRESULT hr = document.Load(scope, XmlDsigStream);
    bool bValid = false;
    CCertContextHandle pSigner;
    if (SUCCEEDED(hr)) {
      CComPtr<MSXML2::IXMLDSigKey> cpKey;
      bValid = document.cpXmlDSig->verify(nullptr, &cpKey) == S_OK;
      CComPtr<MSXML2::IXMLDSigKeyEx> cpKeyEx;
      const HRESULT hrKey =
          cpKey ? cpKey->QueryInterface(MSXML2::IID_IXMLDSigKeyEx, reinterpret_cast<void**>(&cpKeyEx)) : E_POINTER;
      if (FAILED(hrKey)) scope.Error("QueryInterface(__uuidof(MSXML2::IXMLDSigKeyEx))", hrKey);
      const void* pvCert = nullptr;
      if (cpKeyEx && SUCCEEDED(cpKeyEx->getVerifyingCertificateContext(&pvCert)) && pvCert)
        pSigner.Attach(CertDuplicateCertificateContext(static_cast<PCCERT_CONTEXT>(pvCert)));
    } else {
      CComVariant varContent, varCertificate;
      LateBound::GetProperty(psiginfo, L"ContentVerificationResults", &varContent);
      LateBound::GetProperty(psiginfo, L"CertificateVerificationResults", &varCertificate);
      const LONG lContent = SUCCEEDED(varContent.ChangeType(VT_I4)) ? V_I4(&varContent) : 0;
      const LONG lCertificate = SUCCEEDED(varCertificate.ChangeType(VT_I4)) ? V_I4(&varCertificate) : 0;
      scope.Message("contverres = %d", static_cast<int>(lContent));
      scope.Message("certverres = %d", static_cast<int>(lCertificate));
      bValid = lContent == Office::contverresValid && lCertificate == Office::certverresValid;
    }
    const CCertLibrary certLib;
    if (!pSigner) {
      CComVariant varThumbprint;
      SignatureObjects::GetDetail(psiginfo, L"GetCertificateDetail", Office::certdetThumbprint, &varThumbprint);
      scope.Message("V_VT(&vTP) = 0x%08X", static_cast<unsigned>(V_VT(&varThumbprint)));
      if (V_VT(&varThumbprint) != VT_BSTR) return DISP_E_TYPEMISMATCH;
      pSigner.Attach(FindByThumbprint(certLib, V_BSTR(&varThumbprint) ? V_BSTR(&varThumbprint) : L""));
    }
    if (bValid) {
      DWORD dwCertFlags = 0;
      bValid = certLib.GC_IsCertificateValid(pSigner, &dwCertFlags) != FALSE;
      scope.Message("dwCertFlags = 0x%08X", static_cast<unsigned>(dwCertFlags));
    }
    CComVariant varSigningTime;
    SignatureObjects::GetDetail(psiginfo, L"GetSignatureDetail", Office::sigdetLocalSigningTime, &varSigningTime);
    const CComBSTR bsComment = SignatureObjects::GetString(psiginfo, L"SignatureComment");
    CSignatureDetailsDialog(certLib, bValid, pSigner, DateTimeText(varSigningTime), bsComment.c_str()).DoModal(hParent);
    return S_OK;
  });
}
