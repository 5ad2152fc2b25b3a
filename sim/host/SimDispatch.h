#pragma once
// The simulator's automation objects: members are registered by name and dispatch id,
// and Invoke calls them with the arguments in their natural order.
#include <oaidl.h>
#include <ocidl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SimFaults.h"
#include "com/ComPtr.h"

namespace Sim {

struct SCall {
  WORD wFlags;
  std::vector<VARIANT*> args;  // natural order; a property put's value is last
  VARIANT* pResult;
};
using MemberFn = std::function<HRESULT(SCall&)>;

// Result and argument helpers.
HRESULT SetBstr(VARIANT* pResult, const std::wstring& ws);
HRESULT SetLong(VARIANT* pResult, LONG l);
HRESULT SetBool(VARIANT* pResult, bool b);
HRESULT SetObject(VARIANT* pResult, IUnknown* pUnk);
// The i-th argument, dereferenced when passed by reference; null when missing.
VARIANT* Arg(SCall& call, size_t i);
HRESULT ArgLong(SCall& call, size_t i, LONG* pl);
HRESULT ArgString(SCall& call, size_t i, std::wstring* pws);

// Office raises its own errors as exceptions: DISP_E_EXCEPTION, the error in the exception
// information. Failures of the dispatch layer itself (unknown member, wrong argument) stay as
// they are.
inline HRESULT RaiseError(HRESULT hr, EXCEPINFO* pExcepInfo) {
  if (SUCCEEDED(hr) || HRESULT_FACILITY(hr) == FACILITY_DISPATCH) return hr;
  if (pExcepInfo) {
    *pExcepInfo = {};
    pExcepInfo->bstrSource = SysAllocString(L"OfficeSim");
    wchar_t wszText[64];
    wsprintfW(wszText, L"The operation failed (0x%08X).", static_cast<unsigned>(hr));
    pExcepInfo->bstrDescription = SysAllocString(wszText);
    pExcepInfo->scode = hr;
  }
  return DISP_E_EXCEPTION;
}

// The outgoing interfaces of one object: IConnectionPointContainer and one connection point
// per interface, all answering for the owner's identity.
class CConnectionPoints final : public IConnectionPointContainer {
 public:
  CConnectionPoints(IUnknown* pOwner, const IID& iid);
  ~CConnectionPoints();
  CConnectionPoints(const CConnectionPoints&) = delete;
  CConnectionPoints& operator=(const CConnectionPoints&) = delete;
  void Add(const IID& iid);
  // Calls every sink advised for the interface through IDispatch::Invoke; arguments in natural order.
  HRESULT Fire(const IID& iid, DISPID dispid, std::vector<VARIANT> args);
  // How many sinks are advised for the interface.
  size_t SinkCount(const IID& iid) const;
  // The object's window has closed: Unadvise is refused from now on, each refusal told to fnLog.
  void Close(std::function<void(const std::wstring&)> fnLog) { m_fnClosed = std::move(fnLog); }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return m_pOwner->QueryInterface(riid, ppv); }
  STDMETHOD_(ULONG, AddRef)() override { return m_pOwner->AddRef(); }
  STDMETHOD_(ULONG, Release)() override { return m_pOwner->Release(); }
  STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) override;
  STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppPoint) override;

 private:
  class CPoint;
  IUnknown* m_pOwner;
  std::vector<std::unique_ptr<CPoint>> m_points;
  std::function<void(const std::wstring&)> m_fnClosed;
};

// A by-reference VT_BOOL argument, as the events that can be cancelled pass it.
struct SCancel {
  VARIANT_BOOL bValue = VARIANT_FALSE;
  VARIANT Arg() {
    VARIANT var;
    var.vt = VT_BOOL | VT_BYREF;
    var.pboolVal = &bValue;
    return var;
  }
  bool Cancelled() const { return bValue != VARIANT_FALSE; }
};

// Reference counting and interface lookup: IUnknown, the listed ids and what a derived
// class adds in FindInterface.
template <class TBase>
class CUnknownImpl : public TBase {
 public:
  explicit CUnknownImpl(std::vector<IID> iids = {}) : m_iids(std::move(iids)) {}
  virtual ~CUnknownImpl() = default;
  CUnknownImpl(const CUnknownImpl&) = delete;
  CUnknownImpl& operator=(const CUnknownImpl&) = delete;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (HRESULT hr; FailCall(__builtin_return_address(0), &hr)) return hr;
    *ppv = FindInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return InterlockedIncrement(&m_lRef); }
  STDMETHOD_(ULONG, Release)() override {
    const LONG lRef = InterlockedDecrement(&m_lRef);
    if (!lRef) delete this;
    return lRef;
  }

 protected:
  virtual void* FindInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IUnknown)) return static_cast<TBase*>(this);
    for (const IID& iid : m_iids) {
      if (IsEqualIID(riid, iid)) return static_cast<TBase*>(this);
    }
    return nullptr;
  }

 private:
  std::vector<IID> m_iids;
  volatile LONG m_lRef = 1;
};

template <class TBase = IDispatch>
class CDispatchImpl : public CUnknownImpl<TBase> {
 public:
  explicit CDispatchImpl(std::vector<IID> iids = {}) : CUnknownImpl<TBase>(std::move(iids)) {}

  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
    if (!rgszNames || !rgDispId || !cNames) return E_POINTER;
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    if (HRESULT hr; FailCall(__builtin_return_address(0), &hr)) return hr;
    for (const SMember& member : m_members) {
      if (!lstrcmpiW(member.wsName.c_str(), rgszNames[0])) {
        rgDispId[0] = member.dispid;
        return cNames > 1 ? DISP_E_UNKNOWNNAME : S_OK;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHOD(Invoke)
  (DISPID dispid, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO* pExcepInfo,
   UINT*) override {
    if (HRESULT hr; FailCall(__builtin_return_address(0), &hr)) {
      if (pResult) VariantInit(pResult);
      return RaiseError(hr, pExcepInfo);
    }
    for (const SMember& member : m_members) {
      if (member.dispid != dispid) continue;
      SCall call{wFlags, {}, pResult};
      for (UINT i = pParams ? pParams->cArgs : 0; i > 0; --i) call.args.push_back(&pParams->rgvarg[i - 1]);
      if (pResult) VariantInit(pResult);
      return RaiseError(member.fn(call), pExcepInfo);
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  // A member of an id already present replaces it.
  void AddMember(const wchar_t* wszName, DISPID dispid, MemberFn fn) {
    for (SMember& member : m_members) {
      if (member.dispid == dispid) {
        member = {wszName, dispid, std::move(fn)};
        return;
      }
    }
    m_members.push_back({wszName, dispid, std::move(fn)});
  }

  // Raises an event of an outgoing interface; without sinks nothing happens.
  HRESULT Fire(const IID& iid, DISPID dispid, std::vector<VARIANT> args = {}) {
    return m_pEvents ? m_pEvents->Fire(iid, dispid, std::move(args)) : S_OK;
  }
  size_t SinkCount(const IID& iid) const { return m_pEvents ? m_pEvents->SinkCount(iid) : 0; }
  // The object belongs to a closed window (see CConnectionPoints::Close).
  void CloseEvents(const std::function<void(const std::wstring&)>& fnLog) {
    if (m_pEvents) m_pEvents->Close(fnLog);
  }
  // Declares an outgoing interface that sinks can advise.
  void AddEvents(const IID& iid) {
    if (m_pEvents) {
      m_pEvents->Add(iid);
    } else {
      m_pEvents = std::make_unique<CConnectionPoints>(static_cast<IDispatch*>(this), iid);
    }
  }

 protected:
  void* FindInterface(REFIID riid) override {
    if (IsEqualIID(riid, IID_IDispatch)) return static_cast<IDispatch*>(this);
    if (m_pEvents && IsEqualIID(riid, IID_IConnectionPointContainer)) return m_pEvents.get();
    return CUnknownImpl<TBase>::FindInterface(riid);
  }

 private:
  struct SMember {
    std::wstring wsName;
    DISPID dispid;
    MemberFn fn;
  };
  std::vector<SMember> m_members;
  std::unique_ptr<CConnectionPoints> m_pEvents;
};

using CDispatch = CDispatchImpl<IDispatch>;

// Count and Item(1-based index) over a list of objects.
class CCollection : public CDispatch {
 public:
  explicit CCollection(std::vector<IID> iids);
  std::vector<CComPtr<IDispatch>> m_items;
};

// A VARIANT cleared at scope exit.
class CVariant : public VARIANT {
 public:
  CVariant() { VariantInit(this); }
  explicit CVariant(IDispatch* pDisp) {
    vt = VT_DISPATCH;
    pdispVal = pDisp;
    if (pDisp) pDisp->AddRef();
  }
  explicit CVariant(bool b) {
    vt = VT_BOOL;
    boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  }
  explicit CVariant(const std::wstring& ws) {
    vt = VT_BSTR;
    bstrVal = SysAllocString(ws.c_str());
  }
  explicit CVariant(LONG l) {
    vt = VT_I4;
    lVal = l;
  }
  ~CVariant() { VariantClear(this); }
  CVariant(const CVariant&) = delete;
  CVariant& operator=(const CVariant&) = delete;
  HRESULT ChangeType(VARTYPE vtNew) { return VariantChangeType(this, this, 0, vtNew); }
};

// A new object as a counted pointer (objects start with one reference).
template <class T, class... A>
CComPtr<T> MakeObject(A&&... args) {
  CComPtr<T> cp;
  cp.Attach(new T(std::forward<A>(args)...));
  return cp;
}

}  // namespace Sim
