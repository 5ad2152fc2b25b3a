#include "mail/ReceivedMail.h"

#include <mapiutil.h>
#include <shlwapi.h>

#include <functional>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "hosts/ConverterSession.h"
#include "mail/Accounts.h"
#include "mail/MailItemKey.h"
#include "mail/MapiApi.h"
#include "mail/MimeMessage.h"
#include "module/CertLibrary.h"
#include "module/Trace.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr LONG kRowBatch = 50;

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

// Calls visit with each attachment's file name (the long file name, else the display name, else
// the short file name) and the attachment, until it returns true.
HRESULT ForEachAttachment(IMessage* pMessage, CTraceScope& trace,
                          const std::function<bool(const wchar_t*, IAttach*)>& visit) {
  CComPtr<IMAPITable> cpTable;
  HRESULT hr = pMessage->GetAttachmentTable(0, &cpTable);
  SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
  if (SUCCEEDED(hr)) hr = cpTable->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0);
  if (FAILED(hr)) {
    trace.Error("GetAttachmentTable()", hr);
    return hr;
  }
  for (;;) {
    SRowSet* pRows = nullptr;
    hr = cpTable->QueryRows(kRowBatch, 0, &pRows);
    if (FAILED(hr) || !pRows) return hr;
    const ULONG cRows = pRows->cRows;
    bool bDone = false;
    for (ULONG i = 0; i < cRows && !bDone; ++i) {
      const SPropValue* pNum = MapiApi::FindProp(pRows->aRow[i], PR_ATTACH_NUM);
      CComPtr<IAttach> cpAttach;
      if (!pNum || FAILED(pMessage->OpenAttach(pNum->Value.l, nullptr, 0, &cpAttach))) continue;
      SizedSPropTagArray(3, names) = {3, {PR_ATTACH_LONG_FILENAME_W, PR_DISPLAY_NAME_W, PR_ATTACH_FILENAME_W}};
      ULONG cValues = 0;
      SPropValue* pValues = nullptr;
      if (FAILED(cpAttach->GetProps(reinterpret_cast<LPSPropTagArray>(&names), 0, &cValues, &pValues))) continue;
      const wchar_t* wszName = L"";
      for (ULONG j = 0; j < cValues && !*wszName; ++j) {
        if (PROP_TYPE(pValues[j].ulPropTag) == PT_UNICODE && pValues[j].Value.lpszW) wszName = pValues[j].Value.lpszW;
      }
      bDone = visit(wszName, cpAttach);
      MapiApi::FreeBuffer(pValues);
    }
    MapiApi::FreeRows(pRows);
    if (bDone || cRows == 0) return S_OK;
  }
}

// 8-bit text in the thread's code page.
std::wstring AnsiText(const BYTE* pb, ULONG cb) {
  const auto* psz = reinterpret_cast<const char*>(pb);
  std::wstring ws(MultiByteToWideChar(CP_THREAD_ACP, 0, psz, static_cast<int>(cb), nullptr, 0), L'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, psz, static_cast<int>(cb), ws.data(), static_cast<int>(ws.size()));
  return ws;
}

// The item's message as its store holds it: opened anew through the session by its entry id.
HRESULT OpenStoredMessage(IDispatch* pMailItem, CTraceScope& trace, IMessage** ppMessage) {
  CComPtr<IMessage> cpMessage;
  HRESULT hr = GetItemMessage(pMailItem, trace, &cpMessage);
  if (FAILED(hr)) return hr;
  CTaskMemory entryId;
  if (FAILED(GetBinaryProp(cpMessage, PR_ENTRYID, &entryId.pb, &entryId.cb))) return cpMessage.CopyTo(ppMessage);
  CComPtr<IMAPISession> cpSession;
  hr = GetSession(pMailItem, trace, &cpSession);
  ULONG ulType = 0;
  CComPtr<IUnknown> cpEntry;
  if (SUCCEEDED(hr))
    hr = cpSession->OpenEntry(entryId.cb, reinterpret_cast<LPENTRYID>(entryId.pb), &IID_IMessage, 0, &ulType, &cpEntry);
  if (SUCCEEDED(hr)) hr = cpEntry.QueryInterface(IID_IMessage, ppMessage);
  if (FAILED(hr)) trace.Error("OpenEntry(PR_ENTRYID)", hr);
  return hr;
}

HRESULT GetMessageClass(IMessage* pMessage, std::wstring* pwsClass) {
  SizedSPropTagArray(1, tags) = {1, {PR_MESSAGE_CLASS_W}};
  ULONG cValues = 0;
  SPropValue* pValues = nullptr;
  HRESULT hr = pMessage->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &cValues, &pValues);
  if (SUCCEEDED(hr)) {
    hr = cValues == 1 && pValues[0].ulPropTag == PR_MESSAGE_CLASS_W ? S_OK : MAPI_E_NOT_FOUND;
    if (SUCCEEDED(hr)) *pwsClass = pValues[0].Value.lpszW;
  }
  MapiApi::FreeBuffer(pValues);
  return hr;
}

}  // namespace

HRESULT AddNewBuddy(IStream* pMime, BSTR* pbsText, PCCERT_CONTEXT* ppCertificate) {
  if (ppCertificate) *ppCertificate = nullptr;
  if (!pMime || !pbsText) return E_POINTER;
  *pbsText = nullptr;
  CComPtr<IMimeMessage> cpMessage;
  CVerifiedSignature signature;
  const HRESULT hr = LoadVerifiedMessage(pMime, &cpMessage, &signature);
  return SUCCEEDED(hr) ? AddNewBuddy(cpMessage, signature, pbsText, ppCertificate) : hr;
}

HRESULT AddNewBuddy(IMimeMessage* pMessage, const CVerifiedSignature& signature, BSTR* pbsText,
                    PCCERT_CONTEXT* ppCertificate) {
  CTraceScope trace("AddNewBuddy()");
  DWORD dwFlags = 0;
  CMimeMessage::GetFlags(pMessage, &dwFlags);
  trace.Message("dwFlags = 0x%08X", dwFlags);
  if (!(dwFlags & IMF_SIGNED)) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  CCertContextHandle pSigner(signature.SignerCertificate(0));
  HBODY hRoot = nullptr;
  const bool bDetached = SUCCEEDED(pMessage->GetBody(IBL_ROOT, nullptr, &hRoot)) &&
                         pMessage->IsContentType(hRoot, "multipart", "signed") == S_OK;
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
  const HRESULT hr = GetContactText(certLib, pCert, pbsText);
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

BOOL AttachmentExists(IDispatch* pMailItem, LPCWSTR wszExt) {
  CTraceScope trace("AttachmentExists()");
  trace.Message("wszExt = %ls", wszExt);
  CComPtr<IMessage> cpMessage;
  BOOL bRes = FALSE;
  if (SUCCEEDED(GetItemMessage(pMailItem, trace, &cpMessage))) {
    ForEachAttachment(cpMessage, trace, [&](const wchar_t* wszName, IAttach*) {
      bRes = !lstrcmpiW(PathFindExtensionW(wszName), wszExt);
      return bRes != FALSE;
    });
  }
  trace.Message("bRes = %d", bRes);
  return bRes;
}

BOOL IsInvitationReply(IDispatch* pMailItem) { return AttachmentExists(pMailItem, L".vmcrr"); }

BOOL IsFromCertAuthority(IDispatch* pMailItem, BSTR* pbsText, DWORD* pdwKind) {
  CTraceScope trace("IsFromCertAuthority()");
  CComPtr<IMessage> cpMessage;
  if (FAILED(GetItemMessage(pMailItem, trace, &cpMessage))) return FALSE;
  BOOL bFound = FALSE;
  ForEachAttachment(cpMessage, trace, [&](const wchar_t* wszName, IAttach* pAttach) {
    const wchar_t* wszExt = PathFindExtensionW(wszName);
    const bool bAnswer = !lstrcmpiW(wszExt, L".vmpfx");
    if (!bAnswer && lstrcmpiW(wszExt, L".vmcarr")) return false;
    CTaskMemory data;
    HRESULT hr = ReadWholeProperty(pAttach, PR_ATTACH_DATA_BIN, &data.pb, &data.cb);
    if (FAILED(hr)) {
      trace.Error("OpenProperty(PR_ATTACH_DATA_BIN)", hr);
      return false;
    }
    std::wstring wsText;
    if (bAnswer && data.cb >= 2 && data.pb[0] == 0x30 && data.pb[1] == 0x82) {
      DWORD cch = 0;
      constexpr DWORD dwFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
      if (!CryptBinaryToStringW(data.pb, data.cb, dwFlags, nullptr, &cch)) return false;
      wsText.resize(cch);
      if (!CryptBinaryToStringW(data.pb, data.cb, dwFlags, wsText.data(), &cch)) return false;
      wsText.resize(cch);
    } else {
      wsText = AnsiText(data.pb, data.cb);
    }
    if (!bAnswer) {
      std::wstring wsAddress, wsFullName;
      ParseEnterpriseRequest(wsText.c_str(), wsAddress, wsFullName);
      CComBSTR bsReceivedBy;
      if (wsAddress.empty() || FAILED(GetReceivedBy(pMailItem, &bsReceivedBy, nullptr)) ||
          lstrcmpiW(wsAddress.c_str(), bsReceivedBy.c_str()))
        return false;
    }
    *pdwKind = bAnswer ? kKindAuthorityAnswer : kKindEnterpriseRequest;
    *pbsText = SysAllocStringLen(wsText.data(), static_cast<UINT>(wsText.size()));
    bFound = *pbsText != nullptr;
    return true;
  });
  return bFound;
}

HRESULT AnalyzeMessage(IDispatch* pMailItem, DWORD* pdwKind, BSTR* pbsText, PCCERT_CONTEXT* ppCertificate) {
  CTraceScope trace("AnalyzeMessage()");
  if (pdwKind) *pdwKind = kKindNone;
  if (pbsText) *pbsText = nullptr;
  if (ppCertificate) *ppCertificate = nullptr;
  if (!pMailItem) return E_INVALIDARG;
  if (!pdwKind) return E_POINTER;
  CComBSTR bsText;
  DWORD dwKind = kKindNone;
  if (IsFromCertAuthority(pMailItem, &bsText, &dwKind)) {
    *pdwKind = dwKind;
    if (pbsText) *pbsText = bsText.Detach();
    return S_OK;
  }
  CComPtr<IMessage> cpMessage;
  HRESULT hr = OpenStoredMessage(pMailItem, trace, &cpMessage);
  if (FAILED(hr)) return hr;
  std::wstring wsClass;
  hr = GetMessageClass(cpMessage, &wsClass);
  if (FAILED(hr)) {
    trace.Error("HrGetOneProp(PR_MESSAGE_CLASS_W)", hr);
    return hr;
  }
  if (!lstrcmpiW(wsClass.c_str(), L"IPM.Note.SMIME") || !lstrcmpiW(wsClass.c_str(), L"IPM.Note.Secure")) {
    trace.Message("Encrypted message, may be signed");
  } else if (!lstrcmpiW(wsClass.c_str(), L"IPM.Note.SMIME.MultipartSigned") ||
             !lstrcmpiW(wsClass.c_str(), L"IPM.Note.Secure.Sign")) {
    trace.Message("Signed message");
  } else {
    return kNotSignedOrEncrypted;
  }
  CComPtr<Olk::IConverterSession> cpConverter;
  hr = CoCreateInstance(Olk::CLSID_IConverterSession, nullptr, CLSCTX_INPROC_SERVER, Olk::IID_IConverterSession,
                        reinterpret_cast<void**>(&cpConverter));
  if (FAILED(hr)) {
    trace.Error("CoCreateInstance(CLSID_IConverterSession)", hr);
    return hr;
  }
  CComPtr<IStream> cpMime;
  hr = CreateGrowingStream(&cpMime);
  if (SUCCEEDED(hr)) hr = cpConverter->MAPIToMIMEStm(cpMessage, cpMime, Olk::CCSF_SMTP);
  if (FAILED(hr)) {
    trace.Error("MAPIToMIMEStm()", hr);
    return hr;
  }
  // Decoded once for both questions: a large message costs its loading and verification once.
  CComPtr<IMimeMessage> cpDecoded;
  CVerifiedSignature signature;
  hr = LoadVerifiedMessage(cpMime, &cpDecoded, &signature);
  if (FAILED(hr)) return hr;
  CComBSTR bsContact;
  CCertContextHandle pCert;
  hr = FindExistingBuddy(signature, &bsContact, &pCert);
  if (SUCCEEDED(hr)) {
    dwKind = AttachmentExists(pMailItem, L".vmcer") ? kKindNewSigner : kKindTrustedContact;
  } else {
    hr = AddNewBuddy(cpDecoded, signature, &bsContact, &pCert);
    if (FAILED(hr)) return hr;
    dwKind = kKindNewSigner;
  }
  *pdwKind = dwKind;
  if (pbsText) *pbsText = bsContact.Detach();
  if (ppCertificate) *ppCertificate = pCert.Detach();
  return S_OK;
}
