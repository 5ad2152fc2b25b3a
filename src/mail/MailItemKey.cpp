#include "mail/MailItemKey.h"

#include <mapiutil.h>

#include <cwchar>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "mail/MapiApi.h"
#include "mail/MessageTable.h"
#include "module/Trace.h"

namespace {

CMessageTable g_securityTable;

void AppendHex(CComBSTR& bs, const BYTE* pb, ULONG cb) {
  std::wstring ws(bs.c_str());
  wchar_t wsz[3];
  for (ULONG i = 0; i < cb; ++i) {
    swprintf(wsz, 3, L"%02X", pb[i]);
    ws += wsz;
  }
  bs = CComBSTR(ws.c_str());
}

}  // namespace

HRESULT GetBinaryProp(IMAPIProp* pProp, ULONG ulTag, BYTE** ppb, ULONG* pcb) {
  CTraceScope trace("GetBinaryProp()");
  if (!ppb || !pcb) return E_POINTER;
  *ppb = nullptr;
  *pcb = 0;
  if (PROP_TYPE(ulTag) != PT_BINARY || !pProp) return E_INVALIDARG;

  // GetProps rather than HrGetOneProp: Wine's helper turns every property error into
  // MAPI_E_NOT_FOUND, and the lack of memory must be told apart.
  SizedSPropTagArray(1, tags) = {1, {ulTag}};
  ULONG cValues = 0;
  SPropValue* pValue = nullptr;
  HRESULT hr = pProp->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &cValues, &pValue);
  // A missing property is an answer; the call itself failing is not.
  if (FAILED(hr)) trace.Error("pProp->GetProps()", hr);
  if (SUCCEEDED(hr) && (cValues != 1 || PROP_TYPE(pValue->ulPropTag) == PT_ERROR)) {
    hr = cValues == 1 ? pValue->Value.err : MAPI_E_NOT_FOUND;
    MapiApi::FreeBuffer(pValue);
  }
  if (SUCCEEDED(hr)) {
    *ppb = static_cast<BYTE*>(CoTaskMemAlloc(pValue->Value.bin.cb ? pValue->Value.bin.cb : 1));
    if (*ppb) {
      CopyMemory(*ppb, pValue->Value.bin.lpb, pValue->Value.bin.cb);
      *pcb = pValue->Value.bin.cb;
    }
    MapiApi::FreeBuffer(pValue);
    return *ppb ? S_OK : E_OUTOFMEMORY;
  }
  if (hr != MAPI_E_NOT_ENOUGH_MEMORY) return hr;

  // Too large for one read: the value is read through its stream.
  CComPtr<IUnknown> cpUnknown;
  hr = pProp->OpenProperty(ulTag, &IID_IStream, STGM_READ, 0, &cpUnknown);
  if (FAILED(hr)) {
    trace.Error("pProp->OpenProperty(IID_IStream)", hr);
    return hr;
  }
  CComPtr<IStream> cpStream;
  hr = cpUnknown.QueryInterface(IID_IStream, &cpStream);
  if (FAILED(hr)) return hr;
  std::vector<BYTE> bytes;
  BYTE abChunk[8192];
  ULONG cbRead = 0;
  while (SUCCEEDED(hr = cpStream->Read(abChunk, sizeof abChunk, &cbRead)) && cbRead) {
    bytes.insert(bytes.end(), abChunk, abChunk + cbRead);
  }
  if (FAILED(hr)) {
    trace.Error("cpStream->Read()", hr);
    return hr;
  }
  *ppb = static_cast<BYTE*>(CoTaskMemAlloc(bytes.empty() ? 1 : bytes.size()));
  if (!*ppb) return E_OUTOFMEMORY;
  CopyMemory(*ppb, bytes.data(), bytes.size());
  *pcb = static_cast<ULONG>(bytes.size());
  return S_OK;
}

CMailItemKey::CMailItemKey(IDispatch* pMailItem) {
  CTraceScope trace("CMailItemKey::CMailItemKey");
  if (!pMailItem) return;
  VARIANT varObject;
  HRESULT hr = LateBound::GetProperty(pMailItem, L"MAPIOBJECT", &varObject);
  if (FAILED(hr)) {
    trace.Error("pMailItem->get_MAPIOBJECT", hr);
    return;
  }
  CComPtr<IUnknown> cpUnknown;
  if (varObject.vt == VT_UNKNOWN || varObject.vt == VT_DISPATCH)
    cpUnknown.Attach(varObject.punkVal);
  else
    VariantClear(&varObject);
  CComPtr<IMessage> cpMessage;
  hr = cpUnknown ? cpUnknown.QueryInterface(IID_IMessage, &cpMessage) : E_NOINTERFACE;
  if (FAILED(hr)) {
    trace.Error("cpUnknown->QueryInterface", hr);
    return;
  }

  BYTE* pb = nullptr;
  ULONG cb = 0;
  if (SUCCEEDED(GetBinaryProp(cpMessage, PR_RECORD_KEY, &pb, &cb))) {
    AppendHex(m_bsRecordKey, pb, cb);
    CoTaskMemFree(pb);
  }
  if (SUCCEEDED(GetBinaryProp(cpMessage, PR_SEARCH_KEY, &pb, &cb))) {
    AppendHex(m_bsSearchKey, pb, cb);
    CoTaskMemFree(pb);
  } else {
    // A new message has none yet: it gets one now and keeps it when Outlook saves it.
    GUID guid;
    CoCreateGuid(&guid);
    SPropValue value = {};
    value.ulPropTag = PR_SEARCH_KEY;
    value.Value.bin.cb = sizeof guid;
    value.Value.bin.lpb = reinterpret_cast<BYTE*>(&guid);
    hr = MapiApi::HrSetOneProp(cpMessage, &value);
    // A key the message does not keep would never find its records again: the key stays invalid.
    if (FAILED(hr))
      trace.Error("HrSetOneProp(PR_SEARCH_KEY)", hr);
    else
      AppendHex(m_bsSearchKey, value.Value.bin.lpb, value.Value.bin.cb);
  }
  trace.Message("Search key = %ls", m_bsSearchKey.c_str());
  trace.Message("Record key = %ls", m_bsRecordKey.c_str());
}

bool CMailItemKey::operator==(const CMailItemKey& other) const {
  if (CompareStringW(LOCALE_USER_DEFAULT, 0, SearchKey(), -1, other.SearchKey(), -1) == CSTR_EQUAL) return true;
  return m_bsRecordKey.Length() && other.m_bsRecordKey.Length() &&
         CompareStringW(LOCALE_USER_DEFAULT, 0, RecordKey(), -1, other.RecordKey(), -1) == CSTR_EQUAL;
}

HRESULT PresetMessageSecurity(IDispatch* pMailItem, BOOL bSign, BOOL bSeal) {
  CTraceScope trace("PresetMessageSecurity()");
  if (!pMailItem) return E_POINTER;
  const CMailItemKey key(pMailItem);
  if (!key.IsValid()) return E_INVALIDARG;
  g_securityTable.Replace(key, (bSign ? kSecuritySign : 0) | (bSeal ? kSecuritySeal : 0));
  return S_OK;
}

HRESULT ApplyMessageSecurity(IDispatch* pMailItem, BSTR* pbsContainer, IMessageSecurity& security) {
  CTraceScope trace("ApplyMessageSecurity()");
  if (!pMailItem) return E_POINTER;
  const CMailItemKey key(pMailItem);
  if (!key.IsValid()) return E_INVALIDARG;
  DWORD dwFlags = 0;
  if (!g_securityTable.Take(key, &dwFlags)) {
    trace.Message("No Vm security");
    return S_OK;
  }
  return security.SetMessageSecurity(pMailItem, (dwFlags & kSecuritySign) != 0, (dwFlags & kSecuritySeal) != 0,
                                     pbsContainer);
}

HRESULT RemoveMessageSecurityData(const CMailItemKey& key) {
  CTraceScope trace("RemoveMessageSecurityData()");
  if (!key.IsValid()) return E_INVALIDARG;
  g_securityTable.Take(key, nullptr);
  // Records of messages that never close would stay for the life of the process.
  trace.Message("Security records left: %u", static_cast<unsigned>(g_securityTable.Count()));
  return S_OK;
}
