// The MAPI interface ids this file defines.
#define USES_IID_IMAPISession
#define USES_IID_IMAPITable
#define USES_IID_IMsgServiceAdmin
#define USES_IID_IMAPIProp
#define USES_IID_IProfSect
#define USES_IID_IMessage
#define USES_IID_IAttachment
#define USES_IID_IMailUser
#include <initguid.h>

#include "SimMapi.h"

#include "SimDispatch.h"

#include <mapiguid.h>
#include <mapiutil.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace Sim {
namespace {

constexpr ULONG kPropId(ULONG ulTag) { return ulTag >> 16; }

std::wstring UidText(const void* pv) {
  wchar_t wsz[40] = {};
  StringFromGUID2(*static_cast<const GUID*>(pv), wsz, 40);
  return wsz;
}

std::string HexText(const std::vector<BYTE>& bytes) {
  std::string s;
  char sz[3];
  for (BYTE b : bytes) {
    wsprintfA(sz, "%02X", b);
    s += sz;
  }
  return s;
}

std::vector<BYTE> HexBytes(const std::string& s) {
  std::vector<BYTE> bytes;
  for (size_t i = 0; i + 1 < s.size(); i += 2)
    bytes.push_back(static_cast<BYTE>(std::stoul(s.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Copies one stored property into a value whose memory hangs off pBase.
HRESULT ToValue(const SProp& prop, SPropValue* pValue, void* pBase) {
  pValue->ulPropTag = prop.ulTag;
  pValue->dwAlignPad = 0;
  const ULONG cb = static_cast<ULONG>(prop.data.size());
  switch (PROP_TYPE(prop.ulTag)) {
    case PT_BINARY:
    case PT_STRING8:
    case PT_UNICODE:
    case PT_CLSID: {
      void* pv = nullptr;
      HRESULT hr = MAPIAllocateMore(cb ? cb : 1, pBase, &pv);
      if (FAILED(hr)) return hr;
      if (cb) CopyMemory(pv, prop.data.data(), cb);
      if (PROP_TYPE(prop.ulTag) == PT_BINARY) {
        pValue->Value.bin.cb = cb;
        pValue->Value.bin.lpb = static_cast<BYTE*>(pv);
      } else {
        pValue->Value.lpszA = static_cast<LPSTR>(pv);  // one pointer for the string and GUID members
      }
      return S_OK;
    }
    case PT_MV_BINARY: {
      const std::vector<std::vector<BYTE>> values = MultiBinaryValues(prop);
      SBinary* pBins = nullptr;
      HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(std::max<size_t>(values.size(), 1) * sizeof(SBinary)), pBase,
                                    reinterpret_cast<void**>(&pBins));
      for (size_t i = 0; SUCCEEDED(hr) && i < values.size(); ++i) {
        pBins[i].cb = static_cast<ULONG>(values[i].size());
        hr = MAPIAllocateMore(std::max<ULONG>(pBins[i].cb, 1), pBase, reinterpret_cast<void**>(&pBins[i].lpb));
        if (SUCCEEDED(hr) && pBins[i].cb) CopyMemory(pBins[i].lpb, values[i].data(), pBins[i].cb);
      }
      if (FAILED(hr)) return hr;
      pValue->Value.MVbin.cValues = static_cast<ULONG>(values.size());
      pValue->Value.MVbin.lpbin = pBins;
      return S_OK;
    }
    default:
      ZeroMemory(&pValue->Value, sizeof pValue->Value);
      CopyMemory(&pValue->Value, prop.data.data(), std::min<size_t>(cb, sizeof pValue->Value));
      return S_OK;
  }
}

SProp FromValue(const SPropValue& value) {
  switch (PROP_TYPE(value.ulPropTag)) {
    case PT_BINARY:
      return MakeBinaryProp(value.ulPropTag, value.Value.bin.lpb, value.Value.bin.cb);
    case PT_STRING8:
      return MakeString8Prop(value.ulPropTag, value.Value.lpszA ? value.Value.lpszA : "");
    case PT_UNICODE:
      return MakeUnicodeProp(value.ulPropTag, value.Value.lpszW ? value.Value.lpszW : L"");
    case PT_CLSID:
      return MakeBinaryProp(value.ulPropTag, value.Value.lpguid, sizeof(GUID));
    case PT_MV_BINARY: {
      std::vector<std::vector<BYTE>> values;
      for (ULONG i = 0; i < value.Value.MVbin.cValues; ++i) {
        const SBinary& bin = value.Value.MVbin.lpbin[i];
        values.emplace_back(bin.lpb, bin.lpb + bin.cb);
      }
      return MakeMultiBinaryProp(value.ulPropTag, values);
    }
    default:
      return MakeBinaryProp(value.ulPropTag, &value.Value, sizeof value.Value);
  }
}

HRESULT NewRowSet(ULONG cRows, SRowSet** ppRows) {
  HRESULT hr = MAPIAllocateBuffer(CbNewSRowSet(cRows), reinterpret_cast<void**>(ppRows));
  if (SUCCEEDED(hr)) (*ppRows)->cRows = 0;
  return hr;
}

// Values for the given tags (all stored ones when pTags is null), missing ones as errors.
HRESULT GetValues(const PropMap& props, const SPropTagArray* pTags, ULONG* pcValues, SPropValue** ppValues) {
  std::vector<ULONG> tags;
  if (pTags) {
    tags.assign(pTags->aulPropTag, pTags->aulPropTag + pTags->cValues);
  } else {
    for (const auto& [ulId, prop] : props) tags.push_back(prop.ulTag);
  }
  SPropValue* pValues = nullptr;
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(std::max<size_t>(tags.size(), 1) * sizeof(SPropValue)),
                                  reinterpret_cast<void**>(&pValues));
  if (FAILED(hr)) return hr;
  bool bErrors = false;
  for (size_t i = 0; i < tags.size(); ++i) {
    auto it = props.find(kPropId(tags[i]));
    const bool bTypeMatches = it != props.end() && (PROP_TYPE(tags[i]) == PT_UNSPECIFIED ||
                                                    PROP_TYPE(tags[i]) == PROP_TYPE(it->second.ulTag));
    SCODE sc = bTypeMatches ? S_OK : MAPI_E_NOT_FOUND;
    if (bTypeMatches && PROP_TYPE(it->second.ulTag) == PT_BINARY && it->second.data.size() > kLargeValue) {
      sc = MAPI_E_NOT_ENOUGH_MEMORY;
    }
    if (sc == S_OK) {
      hr = ToValue(it->second, &pValues[i], pValues);
      if (FAILED(hr)) {
        MAPIFreeBuffer(pValues);
        return hr;
      }
      continue;
    }
    pValues[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tags[i]));
    pValues[i].Value.err = sc;
    bErrors = true;
  }
  *pcValues = static_cast<ULONG>(tags.size());
  *ppValues = pValues;
  return bErrors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

// A property opened for writing: a memory stream whose content becomes the property's value
// on Commit, as a store keeps a written stream.
class CPropertyStream final : public CUnknownImpl<IStream> {
 public:
  CPropertyStream(std::shared_ptr<CPropStore> spStore, ULONG ulTag, IStream* pInner)
      : CUnknownImpl({IID_ISequentialStream, IID_IStream}),
        m_spStore(std::move(spStore)),
        m_ulTag(ulTag),
        m_cpInner(pInner) {}
  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) override { return m_cpInner->Read(pv, cb, pcbRead); }
  STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    return m_cpInner->Write(pv, cb, pcbWritten);
  }
  STDMETHOD(Seek)(LARGE_INTEGER liMove, DWORD dwOrigin, ULARGE_INTEGER* pliNew) override {
    return m_cpInner->Seek(liMove, dwOrigin, pliNew);
  }
  STDMETHOD(SetSize)(ULARGE_INTEGER liSize) override { return m_cpInner->SetSize(liSize); }
  STDMETHOD(CopyTo)(IStream* pTo, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override {
    return m_cpInner->CopyTo(pTo, cb, pcbRead, pcbWritten);
  }
  STDMETHOD(Commit)(DWORD) override {
    HGLOBAL hGlobal = nullptr;
    HRESULT hr = GetHGlobalFromStream(m_cpInner, &hGlobal);
    STATSTG stat = {};
    if (SUCCEEDED(hr)) hr = m_cpInner->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    const BYTE* pb = static_cast<const BYTE*>(GlobalLock(hGlobal));
    SProp& prop = m_spStore->m_props[kPropId(m_ulTag)];
    prop.ulTag = m_ulTag;
    prop.data.assign(pb, pb + stat.cbSize.QuadPart);
    GlobalUnlock(hGlobal);
    return S_OK;
  }
  STDMETHOD(Revert)() override { return STG_E_REVERTED; }
  STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHOD(Stat)(STATSTG* pStat, DWORD dwFlags) override { return m_cpInner->Stat(pStat, dwFlags); }
  STDMETHOD(Clone)(IStream** ppStream) override {
    if (ppStream) *ppStream = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::shared_ptr<CPropStore> m_spStore;
  ULONG m_ulTag;
  CComPtr<IStream> m_cpInner;
};

class CTable final : public CUnknownImpl<IMAPITable> {
 public:
  explicit CTable(std::vector<std::vector<SProp>> rows) : CUnknownImpl({IID_IMAPITable}), m_rows(std::move(rows)) {
    for (const SProp& prop : m_rows.empty() ? std::vector<SProp>{} : m_rows.front()) m_columns.push_back(prop.ulTag);
  }
  STDMETHOD(GetLastError)(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(Advise)(ULONG, LPMAPIADVISESINK, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(Unadvise)(ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(GetStatus)(ULONG* pulStatus, ULONG* pulType) override {
    if (!pulStatus || !pulType) return MAPI_E_INVALID_PARAMETER;
    *pulStatus = TBLSTAT_COMPLETE;
    *pulType = TBLTYPE_SNAPSHOT;
    return S_OK;
  }
  STDMETHOD(SetColumns)(LPSPropTagArray pTags, ULONG) override {
    if (!pTags) return MAPI_E_INVALID_PARAMETER;
    m_columns.assign(pTags->aulPropTag, pTags->aulPropTag + pTags->cValues);
    return S_OK;
  }
  STDMETHOD(QueryColumns)(ULONG, LPSPropTagArray* ppTags) override {
    if (!ppTags) return MAPI_E_INVALID_PARAMETER;
    HRESULT hr = MAPIAllocateBuffer(CbNewSPropTagArray(m_columns.size()), reinterpret_cast<void**>(ppTags));
    if (FAILED(hr)) return hr;
    (*ppTags)->cValues = static_cast<ULONG>(m_columns.size());
    std::copy(m_columns.begin(), m_columns.end(), (*ppTags)->aulPropTag);
    return S_OK;
  }
  STDMETHOD(GetRowCount)(ULONG, ULONG* pulCount) override {
    if (!pulCount) return MAPI_E_INVALID_PARAMETER;
    *pulCount = static_cast<ULONG>(m_rows.size());
    return S_OK;
  }
  STDMETHOD(SeekRow)(BOOKMARK bkOrigin, LONG lRowCount, LONG* plSought) override {
    LONG lStart = bkOrigin == BOOKMARK_BEGINNING ? 0
                  : bkOrigin == BOOKMARK_END     ? static_cast<LONG>(m_rows.size())
                                                 : static_cast<LONG>(m_ulCursor);
    const LONG lTarget = std::clamp<LONG>(lStart + lRowCount, 0, static_cast<LONG>(m_rows.size()));
    if (plSought) *plSought = lTarget - lStart;
    m_ulCursor = static_cast<ULONG>(lTarget);
    return S_OK;
  }
  STDMETHOD(SeekRowApprox)(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(QueryPosition)(ULONG* pulRow, ULONG* pulNum, ULONG* pulDenom) override {
    if (!pulRow || !pulNum || !pulDenom) return MAPI_E_INVALID_PARAMETER;
    *pulRow = *pulNum = m_ulCursor;
    *pulDenom = static_cast<ULONG>(m_rows.size());
    return S_OK;
  }
  STDMETHOD(FindRow)(LPSRestriction, BOOKMARK, ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(Restrict)(LPSRestriction, ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(CreateBookmark)(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(FreeBookmark)(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(SortTable)(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(QuerySortOrder)(LPSSortOrderSet*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(QueryRows)(LONG lRowCount, ULONG, LPSRowSet* ppRows) override {
    if (!ppRows || lRowCount < 0) return MAPI_E_INVALID_PARAMETER;
    const ULONG cRows = std::min<ULONG>(static_cast<ULONG>(lRowCount), static_cast<ULONG>(m_rows.size()) - m_ulCursor);
    HRESULT hr = NewRowSet(cRows, ppRows);
    if (FAILED(hr)) return hr;
    SPropTagArray* pTags = nullptr;
    hr = QueryColumns(0, &pTags);
    for (ULONG i = 0; SUCCEEDED(hr) && i < cRows; ++i) {
      PropMap props;
      for (const SProp& prop : m_rows[m_ulCursor + i]) props[kPropId(prop.ulTag)] = prop;
      SRow& row = (*ppRows)->aRow[i];
      row.ulAdrEntryPad = 0;
      hr = GetValues(props, pTags, &row.cValues, &row.lpProps);
      if (hr == MAPI_W_ERRORS_RETURNED) hr = S_OK;
      if (SUCCEEDED(hr)) ++(*ppRows)->cRows;
    }
    MAPIFreeBuffer(pTags);
    if (FAILED(hr)) {
      FreeProws(*ppRows);
      *ppRows = nullptr;
      return hr;
    }
    m_ulCursor += cRows;
    return S_OK;
  }
  STDMETHOD(Abort)() override { return S_OK; }
  STDMETHOD(ExpandRow)(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(CollapseRow)(ULONG, LPBYTE, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(WaitForCompletion)(ULONG, ULONG, ULONG*) override { return S_OK; }
  STDMETHOD(GetCollapseState)(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(SetCollapseState)(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }

 private:
  std::vector<std::vector<SProp>> m_rows;
  std::vector<ULONG> m_columns;
  ULONG m_ulCursor = 0;
};

// IMAPIProp over a property store, for messages, attachments and profile sections.
template <class TBase>
class CPropObject : public CUnknownImpl<TBase> {
 public:
  CPropObject(const IID& iid, std::shared_ptr<CPropStore> spStore)
      : CUnknownImpl<TBase>({IID_IMAPIProp, iid}), m_spStore(std::move(spStore)) {}

  STDMETHOD(GetLastError)(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(SaveChanges)(ULONG) override {
    if (HRESULT hr; FailCall(__builtin_return_address(0), &hr)) return hr;
    ++m_ulSaves;
    OnChanged();
    return S_OK;
  }
  STDMETHOD(GetProps)(LPSPropTagArray pTags, ULONG, ULONG* pcValues, LPSPropValue* ppValues) override {
    if (!pcValues || !ppValues) return MAPI_E_INVALID_PARAMETER;
    if (HRESULT hr; FailCall(__builtin_return_address(0), &hr)) return hr;
    return GetValues(m_spStore->m_props, pTags, pcValues, ppValues);
  }
  STDMETHOD(GetPropList)(ULONG, LPSPropTagArray* ppTags) override {
    if (!ppTags) return MAPI_E_INVALID_PARAMETER;
    HRESULT hr = MAPIAllocateBuffer(CbNewSPropTagArray(m_spStore->m_props.size()), reinterpret_cast<void**>(ppTags));
    if (FAILED(hr)) return hr;
    (*ppTags)->cValues = 0;
    for (const auto& [ulId, prop] : m_spStore->m_props) (*ppTags)->aulPropTag[(*ppTags)->cValues++] = prop.ulTag;
    return S_OK;
  }
  // Binary and string values open as a read-only stream holding a copy of the value.
  STDMETHOD(OpenProperty)(ULONG ulTag, LPCIID piid, ULONG, ULONG ulFlags, LPUNKNOWN* ppUnk) override {
    if (!piid || !ppUnk) return MAPI_E_INVALID_PARAMETER;
    *ppUnk = nullptr;
    if (HRESULT hr; FailCall(__builtin_return_address(0), &hr)) return hr;
    if (!IsEqualIID(*piid, IID_IStream)) return MAPI_E_NO_SUPPORT;
    // MAPI_CREATE starts the value afresh; otherwise the stream starts with the value.
    const bool bCreate = ulFlags & MAPI_CREATE;
    auto it = m_spStore->m_props.find(kPropId(ulTag));
    const bool bFound = it != m_spStore->m_props.end() && it->second.ulTag == ulTag;
    if (!bFound && !bCreate) return MAPI_E_NOT_FOUND;
    CComPtr<IStream> cpStream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &cpStream);
    if (SUCCEEDED(hr) && bFound && !bCreate) {
      hr = cpStream->Write(it->second.data.data(), static_cast<ULONG>(it->second.data.size()), nullptr);
    }
    LARGE_INTEGER liZero = {};
    if (SUCCEEDED(hr)) hr = cpStream->Seek(liZero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    if (ulFlags & (MAPI_CREATE | MAPI_MODIFY)) {
      *ppUnk = new CPropertyStream(m_spStore, ulTag, cpStream);
    } else {
      *ppUnk = cpStream.Detach();
    }
    return S_OK;
  }
  STDMETHOD(SetProps)(ULONG cValues, LPSPropValue pValues, LPSPropProblemArray* ppProblems) override {
    if (!pValues) return MAPI_E_INVALID_PARAMETER;
    if (ppProblems) *ppProblems = nullptr;
    if (HRESULT hr; FailCall(__builtin_return_address(0), &hr)) return hr;
    if (m_spStore->m_bReadOnly) return MAPI_E_NO_ACCESS;
    for (ULONG i = 0; i < cValues; ++i) m_spStore->m_props[kPropId(pValues[i].ulPropTag)] = FromValue(pValues[i]);
    OnChanged();
    return S_OK;
  }
  STDMETHOD(DeleteProps)(LPSPropTagArray pTags, LPSPropProblemArray* ppProblems) override {
    if (!pTags) return MAPI_E_INVALID_PARAMETER;
    if (ppProblems) *ppProblems = nullptr;
    if (m_spStore->m_bReadOnly) return MAPI_E_NO_ACCESS;
    for (ULONG i = 0; i < pTags->cValues; ++i) m_spStore->m_props.erase(kPropId(pTags->aulPropTag[i]));
    OnChanged();
    return S_OK;
  }
  STDMETHOD(CopyTo)
  (ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG, LPSPropProblemArray*) override {
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHOD(CopyProps)(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG, LPSPropProblemArray*) override {
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHOD(GetNamesFromIDs)(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override {
    return MAPI_E_NO_SUPPORT;
  }
  // Named properties get ids from 0x8000 up, one per name, for the life of the store.
  STDMETHOD(GetIDsFromNames)(ULONG cNames, LPMAPINAMEID* ppNames, ULONG ulFlags, LPSPropTagArray* ppTags) override {
    if (!cNames || !ppNames || !ppTags) return MAPI_E_INVALID_PARAMETER;
    HRESULT hr = MAPIAllocateBuffer(CbNewSPropTagArray(cNames), reinterpret_cast<void**>(ppTags));
    if (FAILED(hr)) return hr;
    (*ppTags)->cValues = cNames;
    bool bMissing = false;
    for (ULONG i = 0; i < cNames; ++i) {
      std::wstring wsKey = UidText(ppNames[i]->lpguid);
      if (ppNames[i]->ulKind == MNID_STRING) {
        wsKey += L":" + std::wstring(ppNames[i]->Kind.lpwstrName);
      } else {
        wsKey += L"#" + std::to_wstring(ppNames[i]->Kind.lID);
      }
      auto it = m_spStore->m_named.find(wsKey);
      if (it == m_spStore->m_named.end() && (ulFlags & MAPI_CREATE)) {
        it = m_spStore->m_named.emplace(wsKey, 0x8000 + static_cast<ULONG>(m_spStore->m_named.size())).first;
      }
      bMissing |= it == m_spStore->m_named.end();
      (*ppTags)->aulPropTag[i] =
          it == m_spStore->m_named.end() ? PROP_TAG(PT_ERROR, 0) : PROP_TAG(PT_UNSPECIFIED, it->second);
    }
    return bMissing ? MAPI_W_ERRORS_RETURNED : S_OK;
  }

  CPropStore& Store() { return *m_spStore; }
  ULONG m_ulSaves = 0;

 protected:
  virtual void OnChanged() {}

 private:
  std::shared_ptr<CPropStore> m_spStore;
};

// An attachment works on a copy of its properties: as in a store, what was written reaches the
// message only through SaveChanges, and an attachment created and never saved does not exist.
class CAttach final : public CPropObject<IAttach> {
 public:
  using Commit = std::function<void(const CPropStore&)>;
  CAttach(const CPropStore& store, Commit commit)
      : CPropObject(IID_IAttachment, std::make_shared<CPropStore>(store)), m_commit(std::move(commit)) {}
  STDMETHOD(SaveChanges)(ULONG ulFlags) override {
    m_commit(Store());
    return CPropObject::SaveChanges(ulFlags);
  }

 private:
  Commit m_commit;
};

class CProfSect final : public CPropObject<IProfSect> {
 public:
  CProfSect(std::shared_ptr<CProfile> spProfile, std::shared_ptr<CPropStore> spStore)
      : CPropObject(IID_IProfSect, std::move(spStore)), m_spProfile(std::move(spProfile)) {}

 protected:
  void OnChanged() override { m_spProfile->Save(); }

 private:
  std::shared_ptr<CProfile> m_spProfile;
};

HRESULT OpenSection(const std::shared_ptr<CProfile>& spProfile, LPMAPIUID pUid, LPPROFSECT* ppSection) {
  if (!pUid || !ppSection) return MAPI_E_INVALID_PARAMETER;
  *ppSection = new CProfSect(spProfile, spProfile->Section(*pUid));
  return S_OK;
}

}  // namespace

class CSimMessage final : public CPropObject<IMessage> {
 public:
  CSimMessage() : CPropObject(IID_IMessage, std::make_shared<CPropStore>()) {}

  STDMETHOD(GetAttachmentTable)(ULONG, LPMAPITABLE* ppTable) override {
    std::vector<std::vector<SProp>> rows;
    for (const auto& [ulNum, spAttach] : m_attachments) {
      std::vector<SProp> row;
      for (const auto& [ulId, prop] : spAttach->m_props) row.push_back(prop);
      rows.push_back(std::move(row));
    }
    return CreateTable(std::move(rows), ppTable);
  }
  STDMETHOD(OpenAttach)(ULONG ulNum, LPCIID, ULONG, LPATTACH* ppAttach) override {
    if (!ppAttach) return MAPI_E_INVALID_PARAMETER;
    auto it = m_attachments.find(ulNum);
    if (it == m_attachments.end()) return MAPI_E_NOT_FOUND;
    *ppAttach = new CAttach(*it->second, Saver(ulNum));
    return S_OK;
  }
  STDMETHOD(CreateAttach)(LPCIID, ULONG, ULONG* pulNum, LPATTACH* ppAttach) override {
    if (!pulNum || !ppAttach) return MAPI_E_INVALID_PARAMETER;
    CPropStore store;
    *pulNum = m_ulNextAttach++;
    store.m_props[kPropId(PR_ATTACH_NUM)] = MakeLongProp(PR_ATTACH_NUM, static_cast<LONG>(*pulNum));
    *ppAttach = new CAttach(store, Saver(*pulNum));
    return S_OK;
  }
  STDMETHOD(DeleteAttach)(ULONG ulNum, ULONG, LPMAPIPROGRESS, ULONG) override {
    return m_attachments.erase(ulNum) ? S_OK : MAPI_E_NOT_FOUND;
  }
  STDMETHOD(GetRecipientTable)(ULONG, LPMAPITABLE* ppTable) override { return CreateTable(m_recipients, ppTable); }
  STDMETHOD(ModifyRecipients)(ULONG ulFlags, LPADRLIST pMods) override {
    if (!pMods) return MAPI_E_INVALID_PARAMETER;
    if (!(ulFlags & MODRECIP_ADD)) m_recipients.clear();
    for (ULONG i = 0; i < pMods->cEntries; ++i) {
      std::vector<SProp> row;
      for (ULONG j = 0; j < pMods->aEntries[i].cValues; ++j) row.push_back(FromValue(pMods->aEntries[i].rgPropVals[j]));
      m_recipients.push_back(std::move(row));
    }
    return S_OK;
  }
  STDMETHOD(SubmitMessage)(ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(SetReadFlag)(ULONG) override { return S_OK; }
  const std::map<ULONG, std::shared_ptr<CPropStore>>& Attachments() const { return m_attachments; }
  const std::vector<std::vector<SProp>>& Recipients() const { return m_recipients; }

 private:
  // Keeps what an attachment saved, under its number.
  CAttach::Commit Saver(ULONG ulNum) {
    CComPtr<CSimMessage> cpSelf(this);  // an attachment keeps its message
    return [cpSelf, ulNum](const CPropStore& store) {
      cpSelf->m_attachments[ulNum] = std::make_shared<CPropStore>(store);
    };
  }

  std::map<ULONG, std::shared_ptr<CPropStore>> m_attachments;
  std::vector<std::vector<SProp>> m_recipients;
  ULONG m_ulNextAttach = 0;
};

namespace {

class CServiceAdmin final : public CUnknownImpl<IMsgServiceAdmin> {
 public:
  explicit CServiceAdmin(std::shared_ptr<CProfile> spProfile)
      : CUnknownImpl({IID_IMsgServiceAdmin}), m_spProfile(std::move(spProfile)) {}
  STDMETHOD(GetLastError)(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(GetMsgServiceTable)(ULONG, LPMAPITABLE* ppTable) override {
    std::vector<std::vector<SProp>> rows;
    for (const CProfile::SService& service : m_spProfile->m_services) {
      rows.push_back({MakeString8Prop(PR_SERVICE_NAME_A, service.sName),
                      MakeBinaryProp(PR_SERVICE_UID, &service.uid, sizeof service.uid),
                      MakeString8Prop(PR_DISPLAY_NAME_A, service.sName)});
    }
    return CreateTable(std::move(rows), ppTable);
  }
  STDMETHOD(CreateMsgService)(LPTSTR pszService, LPTSTR, ULONG_PTR, ULONG ulFlags) override {
    if (!pszService) return MAPI_E_INVALID_PARAMETER;
    CProfile::SService service;
    if (ulFlags & MAPI_UNICODE) {
      const std::wstring ws(reinterpret_cast<LPCWSTR>(pszService));
      service.sName.assign(ws.begin(), ws.end());
    } else {
      service.sName = reinterpret_cast<LPCSTR>(pszService);
    }
    CoCreateGuid(reinterpret_cast<GUID*>(&service.uid));
    m_spProfile->m_services.push_back(service);
    m_spProfile->Save();
    return S_OK;
  }
  STDMETHOD(DeleteMsgService)(LPMAPIUID pUid) override {
    CProfile::SService* pService = Find(pUid);
    if (!pService) return MAPI_E_NOT_FOUND;
    m_spProfile->m_services.erase(m_spProfile->m_services.begin() + (pService - m_spProfile->m_services.data()));
    m_spProfile->Save();
    return S_OK;
  }
  STDMETHOD(CopyMsgService)(LPMAPIUID, LPTSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR, ULONG) override {
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHOD(RenameMsgService)(LPMAPIUID, ULONG, LPTSTR) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(ConfigureMsgService)(LPMAPIUID pUid, ULONG_PTR, ULONG, ULONG, LPSPropValue) override {
    CProfile::SService* pService = Find(pUid);
    if (!pService) return MAPI_E_NOT_FOUND;
    ++pService->ulConfigured;
    m_spProfile->Save();
    return S_OK;
  }
  STDMETHOD(OpenProfileSection)(LPMAPIUID pUid, LPCIID, ULONG, LPPROFSECT* ppSection) override {
    return OpenSection(m_spProfile, pUid, ppSection);
  }
  STDMETHOD(MsgServiceTransportOrder)(ULONG, LPMAPIUID, ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(AdminProviders)(LPMAPIUID, ULONG, LPPROVIDERADMIN*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(SetPrimaryIdentity)(LPMAPIUID, ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(GetProviderTable)(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }

 private:
  CProfile::SService* Find(LPMAPIUID pUid) {
    if (!pUid) return nullptr;
    for (CProfile::SService& service : m_spProfile->m_services) {
      if (!memcmp(&service.uid, pUid, sizeof(MAPIUID))) return &service;
    }
    return nullptr;
  }
  std::shared_ptr<CProfile> m_spProfile;
};

class CSession final : public CUnknownImpl<IMAPISession> {
 public:
  CSession(std::shared_ptr<CProfile> spProfile, std::string sProfileName, EntryLookup lookup)
      : CUnknownImpl({IID_IMAPISession}),
        m_spProfile(std::move(spProfile)),
        m_sProfileName(std::move(sProfileName)),
        m_lookup(std::move(lookup)) {}
  STDMETHOD(GetLastError)(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(GetMsgStoresTable)(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(OpenMsgStore)(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG, LPMDB*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(OpenAddressBook)(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(OpenProfileSection)(LPMAPIUID pUid, LPCIID, ULONG, LPPROFSECT* ppSection) override {
    return OpenSection(m_spProfile, pUid, ppSection);
  }
  STDMETHOD(GetStatusTable)(ULONG, LPMAPITABLE* ppTable) override {
    std::vector<std::vector<SProp>> rows = {
        {MakeLongProp(PR_RESOURCE_TYPE, MAPI_SUBSYSTEM), MakeString8Prop(PR_DISPLAY_NAME_A, m_sProfileName)}};
    return CreateTable(std::move(rows), ppTable);
  }
  STDMETHOD(OpenEntry)(ULONG cbEntryId, LPENTRYID pEntryId, LPCIID, ULONG, ULONG* pulType, LPUNKNOWN* ppUnk) override {
    if (!pEntryId || !pulType || !ppUnk) return MAPI_E_INVALID_PARAMETER;
    const BYTE* pb = reinterpret_cast<const BYTE*>(pEntryId);
    *ppUnk = m_lookup ? m_lookup(std::vector<BYTE>(pb, pb + cbEntryId), pulType) : nullptr;
    return *ppUnk ? S_OK : MAPI_E_NOT_FOUND;
  }
  STDMETHOD(CompareEntryIDs)(ULONG cb1, LPENTRYID p1, ULONG cb2, LPENTRYID p2, ULONG, ULONG* pulResult) override {
    if (!p1 || !p2 || !pulResult) return MAPI_E_INVALID_PARAMETER;
    *pulResult = cb1 == cb2 && !memcmp(p1, p2, cb1);
    return S_OK;
  }
  STDMETHOD(Advise)(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(Unadvise)(ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(MessageOptions)(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(QueryDefaultMessageOpt)(LPTSTR, ULONG, ULONG*, LPSPropValue*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(EnumAdrTypes)(ULONG, ULONG*, LPTSTR**) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(QueryIdentity)(ULONG*, LPENTRYID*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(Logoff)(ULONG_PTR, ULONG, ULONG) override { return S_OK; }
  STDMETHOD(SetDefaultStore)(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
  STDMETHOD(AdminServices)(ULONG, LPSERVICEADMIN* ppAdmin) override {
    if (!ppAdmin) return MAPI_E_INVALID_PARAMETER;
    *ppAdmin = new CServiceAdmin(m_spProfile);
    return S_OK;
  }
  STDMETHOD(ShowForm)
  (ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG, ULONG, LPSTR) override {
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHOD(PrepareForm)(LPCIID, LPMESSAGE, ULONG*) override { return MAPI_E_NO_SUPPORT; }

 private:
  std::shared_ptr<CProfile> m_spProfile;
  std::string m_sProfileName;
  EntryLookup m_lookup;
};

class CMailUser final : public CPropObject<IMailUser> {
 public:
  explicit CMailUser(std::shared_ptr<CPropStore> spStore) : CPropObject(IID_IMailUser, std::move(spStore)) {}
};

}  // namespace

SProp MakeBinaryProp(ULONG ulTag, const void* pv, size_t cb) {
  const BYTE* pb = static_cast<const BYTE*>(pv);
  return {ulTag, std::vector<BYTE>(pb, pb + cb)};
}

// Each value as its 32-bit size and its bytes.
SProp MakeMultiBinaryProp(ULONG ulTag, const std::vector<std::vector<BYTE>>& values) {
  SProp prop{ulTag, {}};
  for (const std::vector<BYTE>& value : values) {
    const ULONG cb = static_cast<ULONG>(value.size());
    const BYTE* pb = reinterpret_cast<const BYTE*>(&cb);
    prop.data.insert(prop.data.end(), pb, pb + sizeof cb);
    prop.data.insert(prop.data.end(), value.begin(), value.end());
  }
  return prop;
}

std::vector<std::vector<BYTE>> MultiBinaryValues(const SProp& prop) {
  std::vector<std::vector<BYTE>> values;
  for (size_t pos = 0; pos + sizeof(ULONG) <= prop.data.size();) {
    ULONG cb = 0;
    CopyMemory(&cb, prop.data.data() + pos, sizeof cb);
    pos += sizeof cb;
    values.emplace_back(prop.data.begin() + pos, prop.data.begin() + pos + cb);
    pos += cb;
  }
  return values;
}

SProp MakeUnicodeProp(ULONG ulTag, const std::wstring& ws) {
  return MakeBinaryProp(ulTag, ws.c_str(), (ws.size() + 1) * sizeof(wchar_t));
}

SProp MakeString8Prop(ULONG ulTag, const std::string& s) { return MakeBinaryProp(ulTag, s.c_str(), s.size() + 1); }

SProp MakeLongProp(ULONG ulTag, LONG l) { return MakeBinaryProp(ulTag, &l, sizeof l); }

std::wstring PropText(const SProp& prop) {
  if (PROP_TYPE(prop.ulTag) == PT_UNICODE) return reinterpret_cast<const wchar_t*>(prop.data.data());
  if (PROP_TYPE(prop.ulTag) == PT_STRING8) {
    const std::string s(reinterpret_cast<const char*>(prop.data.data()));
    return std::wstring(s.begin(), s.end());
  }
  return {};
}

HRESULT CreateTable(std::vector<std::vector<SProp>> rows, IMAPITable** ppTable) {
  if (!ppTable) return MAPI_E_INVALID_PARAMETER;
  *ppTable = new CTable(std::move(rows));
  return S_OK;
}

HRESULT CreateMessage(IMessage** ppMessage) {
  if (!ppMessage) return MAPI_E_INVALID_PARAMETER;
  CSimMessage* pMessage = new CSimMessage();
  GUID entryId;
  CoCreateGuid(&entryId);
  pMessage->Store().m_props[kPropId(PR_ENTRYID)] = MakeBinaryProp(PR_ENTRYID, &entryId, sizeof entryId);
  pMessage->Store().m_props[kPropId(PR_MESSAGE_FLAGS)] = MakeLongProp(PR_MESSAGE_FLAGS, MSGFLAG_UNSENT);
  *ppMessage = pMessage;
  return S_OK;
}

CPropStore& MessageStore(IMessage* pMessage) { return static_cast<CSimMessage*>(pMessage)->Store(); }
ULONG MessageSaveCount(IMessage* pMessage) { return static_cast<CSimMessage*>(pMessage)->m_ulSaves; }
const std::vector<std::vector<SProp>>& MessageRecipients(IMessage* pMessage) {
  return static_cast<CSimMessage*>(pMessage)->Recipients();
}

std::vector<PropMap> MessageAttachments(IMessage* pMessage) {
  std::vector<PropMap> attachments;
  for (const auto& [ulNum, spStore] : static_cast<CSimMessage*>(pMessage)->Attachments())
    attachments.push_back(spStore->m_props);
  return attachments;
}

CProfile::CProfile(std::wstring wsPath) : m_wsPath(std::move(wsPath)) { Load(); }

std::shared_ptr<CPropStore> CProfile::Section(const MAPIUID& uid) {
  std::shared_ptr<CPropStore>& spStore = m_sections[UidText(&uid)];
  if (!spStore) spStore = std::make_shared<CPropStore>();
  return spStore;
}

// One line a record: "service NAME UIDHEX CONFIGURED" or "prop {SECTION} TAG HEXVALUE".
void CProfile::Save() const {
  std::ofstream file(m_wsPath.c_str(), std::ios::trunc);
  for (const SService& service : m_services) {
    const BYTE* pb = service.uid.ab;
    file << "service " << service.sName << ' ' << HexText(std::vector<BYTE>(pb, pb + 16)) << ' ' << service.ulConfigured
         << '\n';
  }
  for (const auto& [wsUid, spStore] : m_sections) {
    const std::string sUid(wsUid.begin(), wsUid.end());
    for (const auto& [ulId, prop] : spStore->m_props) {
      char szTag[9];
      wsprintfA(szTag, "%08X", static_cast<unsigned>(prop.ulTag));
      file << "prop " << sUid << ' ' << szTag << ' ' << HexText(prop.data) << '\n';
    }
  }
}

void CProfile::Load() {
  std::ifstream file(m_wsPath.c_str());
  std::string sLine;
  while (std::getline(file, sLine)) {
    std::istringstream line(sLine);
    std::string sKind, sFirst, sSecond, sThird;
    line >> sKind >> sFirst >> sSecond >> sThird;
    if (sKind == "service") {
      SService service;
      service.sName = sFirst;
      const std::vector<BYTE> uid = HexBytes(sSecond);
      if (uid.size() != sizeof service.uid.ab) continue;
      std::copy(uid.begin(), uid.end(), service.uid.ab);
      service.ulConfigured = std::stoul(sThird);
      m_services.push_back(service);
    } else if (sKind == "prop") {
      std::shared_ptr<CPropStore>& spStore = m_sections[std::wstring(sFirst.begin(), sFirst.end())];
      if (!spStore) spStore = std::make_shared<CPropStore>();
      const ULONG ulTag = std::stoul(sSecond, nullptr, 16);
      spStore->m_props[kPropId(ulTag)] = {ulTag, HexBytes(sThird)};
    }
  }
}

HRESULT CreateSession(std::shared_ptr<CProfile> spProfile, const std::string& sProfileName, EntryLookup lookup,
                      IMAPISession** ppSession) {
  if (!ppSession) return MAPI_E_INVALID_PARAMETER;
  *ppSession = new CSession(std::move(spProfile), sProfileName, std::move(lookup));
  return S_OK;
}

HRESULT CreateMailUser(std::shared_ptr<CPropStore> spStore, IMailUser** ppUser) {
  if (!ppUser) return MAPI_E_INVALID_PARAMETER;
  *ppUser = new CMailUser(std::move(spStore));
  return S_OK;
}

}  // namespace Sim
