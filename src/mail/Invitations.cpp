#include "mail/Invitations.h"

#include <mapiutil.h>
#include <shlwapi.h>

#include <algorithm>

#include "com/ComPtr.h"
#include "mail/ItemText.h"
#include "mail/MapiApi.h"
#include "mail/MessageTable.h"
#include "mail/WindowHelpers.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "res/StringIds.h"

namespace {

CMessageTable g_invitationTable;

constexpr wchar_t kInvitationExtension[] = L".vmcer";
constexpr wchar_t kReplyExtension[] = L".vmcrr";
constexpr size_t kShortNameLength = 8;
enum : LONG { olFormatPlain = 1, olFormatHTML = 2 };

using GetTexts = HRESULT (CCertLibrary::*)(LPCWSTR, LPWSTR*, LPWSTR*) const;

// The certificate library's texts in that language become the item's subject, then its body.
HRESULT WriteTexts(CTraceScope& trace, IDispatch* pMailItem, GetTexts getTexts, LPCWSTR wszLanguage) {
  const CCertLibrary certLib;
  CLibraryString wsBody(certLib), wsSubject(certLib);
  HRESULT hr = (certLib.*getTexts)(wszLanguage, wsBody.Out(), wsSubject.Out());
  if (FAILED(hr)) {
    trace.Error("BM_GetTextBuddy()", hr);
    return hr;
  }
  hr = PutTextProperty(pMailItem, L"Subject", wsSubject.Get() ? wsSubject.Get() : L"");
  if (SUCCEEDED(hr)) hr = PutTextProperty(pMailItem, L"Body", wsBody.Get() ? wsBody.Get() : L"");
  if (FAILED(hr)) trace.Error("pMailItem->put_Body()", hr);
  return hr;
}

// Case-insensitive search; npos when absent.
size_t FindNoCase(const std::wstring& wsText, const std::wstring& wsPart) {
  const wchar_t* pwch = StrStrIW(wsText.c_str(), wsPart.c_str());
  return pwch ? static_cast<size_t>(pwch - wsText.c_str()) : std::wstring::npos;
}

// Deletes the first attachment whose display name is either name.
HRESULT DeleteCertificateAttachment(CTraceScope& trace, IMessage* pMessage, const std::wstring (&names)[2]) {
  CComPtr<IMAPITable> cpTable;
  HRESULT hr = pMessage->GetAttachmentTable(0, &cpTable);
  if (FAILED(hr)) {
    trace.Error("pMessage->GetAttachmentTable()", hr);
    return hr;
  }
  SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
  hr = cpTable->SetColumns(reinterpret_cast<SPropTagArray*>(&columns), 0);
  while (SUCCEEDED(hr)) {
    SRowSet* pRows = nullptr;
    hr = cpTable->QueryRows(16, 0, &pRows);
    if (FAILED(hr) || !pRows->cRows) {
      if (pRows) MapiApi::FreeRows(pRows);
      break;
    }
    for (ULONG i = 0; i < pRows->cRows; ++i) {
      const SPropValue* pNum = MapiApi::FindProp(pRows->aRow[i], PR_ATTACH_NUM);
      if (!pNum) continue;
      CComPtr<IAttach> cpAttach;
      if (FAILED(pMessage->OpenAttach(pNum->Value.l, nullptr, 0, &cpAttach))) continue;
      SizedSPropTagArray(1, nameTag) = {1, {PR_DISPLAY_NAME_W}};
      ULONG cValues = 0;
      SPropValue* pName = nullptr;
      if (FAILED(cpAttach->GetProps(reinterpret_cast<SPropTagArray*>(&nameTag), 0, &cValues, &pName))) continue;
      const bool bMatch = pName->ulPropTag == PR_DISPLAY_NAME_W && (!lstrcmpiW(pName->Value.lpszW, names[0].c_str()) ||
                                                                    !lstrcmpiW(pName->Value.lpszW, names[1].c_str()));
      MapiApi::FreeBuffer(pName);
      if (!bMatch) continue;
      const ULONG ulNum = static_cast<ULONG>(pNum->Value.l);
      MapiApi::FreeRows(pRows);
      cpAttach.Release();
      hr = pMessage->DeleteAttach(ulNum, 0, nullptr, 0);
      if (FAILED(hr)) trace.Error("pMessage->DeleteAttach()", hr);
      return hr;
    }
    MapiApi::FreeRows(pRows);
  }
  if (FAILED(hr)) trace.Error("cpTable->QueryRows()", hr);
  return hr;
}

HRESULT SetOneProp(CTraceScope& trace, IMAPIProp* pProp, ULONG ulTag, const wchar_t* wszText, LONG lValue = 0) {
  SPropValue value = {};
  value.ulPropTag = ulTag;
  if (PROP_TYPE(ulTag) == PT_UNICODE)
    value.Value.lpszW = const_cast<LPWSTR>(wszText);
  else
    value.Value.l = lValue;
  const HRESULT hr = MapiApi::HrSetOneProp(pProp, &value);
  if (FAILED(hr)) trace.Error("HrSetOneProp()", hr);
  return hr;
}

// The certificate's encoded bytes into the attachment's data, through a stream as Outlook writes
// attachment data.
HRESULT WriteAttachmentData(CTraceScope& trace, IAttach* pAttach, PCCERT_CONTEXT pCert) {
  CComPtr<IUnknown> cpUnknown;
  HRESULT hr = pAttach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &cpUnknown);
  CComPtr<IStream> cpData;
  if (SUCCEEDED(hr)) hr = cpUnknown.QueryInterface(IID_IStream, &cpData);
  if (FAILED(hr)) {
    trace.Error("pAttach->OpenProperty(PR_ATTACH_DATA_BIN)", hr);
    return hr;
  }
  CComPtr<IStream> cpSource;
  cpSource.Attach(SHCreateMemStream(pCert->pbCertEncoded, pCert->cbCertEncoded));
  if (!cpSource) return E_OUTOFMEMORY;
  ULARGE_INTEGER cb = {};
  cb.QuadPart = pCert->cbCertEncoded;
  hr = cpSource->CopyTo(cpData, cb, nullptr, nullptr);
  if (SUCCEEDED(hr)) hr = cpData->Commit(STGC_DEFAULT);
  if (FAILED(hr)) {
    trace.Error("cpStream->CopyTo()", hr);
    return hr;
  }
  hr = pAttach->SaveChanges(KEEP_OPEN_READWRITE);
  if (FAILED(hr)) trace.Error("pAttach->SaveChanges()", hr);
  return hr;
}

}  // namespace

HRESULT SetupInvitation(IDispatch* pMailItem, const InvitationLanguageChooser* pChooseLanguage, LPCWSTR wszLanguage) {
  CTraceScope trace("SetupInvitation()");
  if (!pMailItem) return E_POINTER;
  const CMailItemKey key(pMailItem);
  if (!key.IsValid()) return E_INVALIDARG;
  HRESULT hr = PutTextProperty(pMailItem, L"Subject", L"");
  if (SUCCEEDED(hr)) hr = PutTextProperty(pMailItem, L"Body", L"");
  if (FAILED(hr)) {
    trace.Error("pMailItem->put_Body()", hr);
    return hr;
  }
  std::wstring wsLanguage = wszLanguage ? wszLanguage : L"";
  if (pChooseLanguage) wsLanguage = (*pChooseLanguage)(GetMailItemWindow(pMailItem));
  trace.Message("Language = %ls", wsLanguage.c_str());
  hr = WriteTexts(trace, pMailItem, &CCertLibrary::BM_GetTextBuddyRequest, wsLanguage.c_str());
  if (FAILED(hr)) return hr;
  g_invitationTable.Replace(key, kInvitation);
  return S_OK;
}

HRESULT SetupInvitationReply(IDispatch* pMailItem, LPCWSTR wszLanguage) {
  CTraceScope trace("SetupInvitationReply()");
  if (!pMailItem) return E_POINTER;
  const CMailItemKey key(pMailItem);
  if (!key.IsValid()) return E_INVALIDARG;
  const HRESULT hr = WriteTexts(trace, pMailItem, &CCertLibrary::BM_GetTextBuddyReply, wszLanguage);
  if (FAILED(hr)) return hr;
  g_invitationTable.Replace(key, kInvitationReply);
  return S_OK;
}

DWORD GetInvitationType(IDispatch* pMailItem) {
  CTraceScope trace("GetInvitationType()");
  const CMailItemKey key(pMailItem);
  DWORD dwType = kInvitationNone;
  if (key.IsValid()) g_invitationTable.Find(key, &dwType);
  trace.Message("Invitation type = %u", static_cast<unsigned>(dwType));
  return dwType;
}

HRESULT RemoveInvitationData(const CMailItemKey& key) {
  CTraceScope trace("RemoveInvitationData()");
  if (!key.IsValid()) return E_INVALIDARG;
  g_invitationTable.Take(key, nullptr);
  trace.Message("Invitation records left: %u", static_cast<unsigned>(g_invitationTable.Count()));
  return S_OK;
}

HRESULT AttachCertificate(IMessage* pMessage, PCCERT_CONTEXT pCert, DWORD dwType) {
  CTraceScope trace("AttachCertificate()");
  if (!pMessage || !pCert) return E_POINTER;
  if (dwType != kInvitation && dwType != kInvitationReply) return E_INVALIDARG;
  const std::wstring wsBase = LoadResourceString(IDS_ATTACHMENT_BASE_NAME);
  const std::wstring names[2] = {wsBase + kInvitationExtension, wsBase + kReplyExtension};
  HRESULT hr = DeleteCertificateAttachment(trace, pMessage, names);
  if (FAILED(hr)) return hr;

  ULONG ulNum = 0;
  CComPtr<IAttach> cpAttach;
  hr = pMessage->CreateAttach(nullptr, 0, &ulNum, &cpAttach);
  if (FAILED(hr)) {
    trace.Error("pMessage->CreateAttach()", hr);
    return hr;
  }
  const std::wstring& wsName = names[dwType == kInvitation ? 0 : 1];
  const std::wstring wsShortName = wsBase.substr(0, kShortNameLength);
  hr = SetOneProp(trace, cpAttach, PR_ATTACH_METHOD, nullptr, ATTACH_BY_VALUE);
  if (SUCCEEDED(hr)) hr = SetOneProp(trace, cpAttach, PR_ATTACH_FILENAME_W, wsShortName.c_str());
  if (SUCCEEDED(hr)) hr = SetOneProp(trace, cpAttach, PR_ATTACH_LONG_FILENAME_W, wsName.c_str());
  if (SUCCEEDED(hr)) hr = SetOneProp(trace, cpAttach, PR_DISPLAY_NAME_W, wsName.c_str());
  return SUCCEEDED(hr) ? WriteAttachmentData(trace, cpAttach, pCert) : hr;
}

HRESULT InsertAdvertisement(IDispatch* pMailItem) {
  CTraceScope trace("InsertAdvertisement()");
  if (!pMailItem) return E_POINTER;
  const std::wstring wsAdvert = LoadResourceString(IDS_ADVERT_TEXT);
  LONG lFormat = 0;
  HRESULT hr = GetLongProperty(pMailItem, L"BodyFormat", &lFormat);
  if (FAILED(hr)) {
    trace.Error("pMailItem->get_BodyFormat()", hr);
    return hr;
  }
  trace.Message("Body format = %d", static_cast<int>(lFormat));
  if (lFormat != olFormatPlain && lFormat != olFormatHTML) return S_OK;
  const wchar_t* wszMember = lFormat == olFormatPlain ? L"Body" : L"HTMLBody";
  std::wstring wsBody;
  hr = GetTextProperty(pMailItem, wszMember, &wsBody);
  if (FAILED(hr)) {
    trace.Error("pMailItem->get_Body()", hr);
    return hr;
  }
  if (FindNoCase(wsBody, wsAdvert) != std::wstring::npos) return S_OK;
  if (lFormat == olFormatPlain) {
    wsBody += FormatResourceString(IDS_ADVERT_PLAIN, wsAdvert);
  } else {
    const size_t iEnd = FindNoCase(wsBody, L"</body>");
    if (iEnd == std::wstring::npos) return S_OK;
    wsBody.insert(iEnd, FormatResourceString(IDS_ADVERT_HTML, wsAdvert));
  }
  hr = PutTextProperty(pMailItem, wszMember, wsBody);
  if (FAILED(hr)) trace.Error("pMailItem->put_Body()", hr);
  return hr;
}
