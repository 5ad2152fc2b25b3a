#include "SimDispatch.h"

#include <olectl.h>

#include <map>

namespace Sim {

class CConnectionPoints::CPoint final : public IConnectionPoint {
 public:
  CPoint(CConnectionPoints* pContainer, const IID& iid) : m_pContainer(pContainer), m_iid(iid) {}
  const IID& Iid() const { return m_iid; }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint) ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return m_pContainer->AddRef(); }
  STDMETHOD_(ULONG, Release)() override { return m_pContainer->Release(); }
  STDMETHOD(GetConnectionInterface)(IID* piid) override {
    if (!piid) return E_POINTER;
    *piid = m_iid;
    return S_OK;
  }
  STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppContainer) override {
    if (!ppContainer) return E_POINTER;
    *ppContainer = m_pContainer;
    AddRef();
    return S_OK;
  }
  STDMETHOD(Advise)(IUnknown* pSink, DWORD* pdwCookie) override {
    if (!pSink || !pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    // The sink answers for the event interface, or at least for IDispatch as script sinks do.
    CComPtr<IDispatch> cpSink;
    if (FAILED(pSink->QueryInterface(m_iid, reinterpret_cast<void**>(&cpSink))) &&
        FAILED(pSink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&cpSink)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    *pdwCookie = ++m_dwLastCookie;
    m_sinks[*pdwCookie] = cpSink;
    return S_OK;
  }
  STDMETHOD(Unadvise)(DWORD dwCookie) override {
    // Office refuses it on the objects of a closed window: the sink stays and holds its owner.
    if (m_pContainer->m_fnClosed) {
      m_pContainer->m_fnClosed(L"Refused Unadvise: the window is closed");
      return E_FAIL;
    }
    return m_sinks.erase(dwCookie) ? S_OK : CONNECT_E_NOCONNECTION;
  }
  STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }

  size_t SinkCount() const { return m_sinks.size(); }

  HRESULT Fire(DISPID dispid, std::vector<VARIANT>& reversed) {
    // A sink may unadvise while it is called: call the ones advised when the event began.
    std::vector<CComPtr<IDispatch>> sinks;
    for (const auto& [dwCookie, cpSink] : m_sinks) sinks.push_back(cpSink);
    HRESULT hrFirst = S_OK;
    for (IDispatch* pSink : sinks) {
      DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
      const HRESULT hr =
          pSink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
      if (FAILED(hr) && SUCCEEDED(hrFirst)) hrFirst = hr;
    }
    return hrFirst;
  }

 private:
  CConnectionPoints* m_pContainer;
  IID m_iid;
  std::map<DWORD, CComPtr<IDispatch>> m_sinks;
  DWORD m_dwLastCookie = 0;
};

CConnectionPoints::CConnectionPoints(IUnknown* pOwner, const IID& iid) : m_pOwner(pOwner) { Add(iid); }

CConnectionPoints::~CConnectionPoints() = default;

void CConnectionPoints::Add(const IID& iid) { m_points.push_back(std::make_unique<CPoint>(this, iid)); }

size_t CConnectionPoints::SinkCount(const IID& iid) const {
  for (const auto& pPoint : m_points) {
    if (IsEqualIID(pPoint->Iid(), iid)) return pPoint->SinkCount();
  }
  return 0;
}

HRESULT CConnectionPoints::Fire(const IID& iid, DISPID dispid, std::vector<VARIANT> args) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  for (const auto& pPoint : m_points) {
    if (IsEqualIID(pPoint->Iid(), iid)) return pPoint->Fire(dispid, reversed);
  }
  return E_NOINTERFACE;
}

STDMETHODIMP CConnectionPoints::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CConnectionPoints::FindConnectionPoint(REFIID riid, IConnectionPoint** ppPoint) {
  if (!ppPoint) return E_POINTER;
  *ppPoint = nullptr;
  for (const auto& pPoint : m_points) {
    if (IsEqualIID(pPoint->Iid(), riid)) {
      *ppPoint = pPoint.get();
      pPoint->AddRef();
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT SetBstr(VARIANT* pResult, const std::wstring& ws) {
  if (!pResult) return S_OK;
  pResult->vt = VT_BSTR;
  pResult->bstrVal = SysAllocStringLen(ws.data(), static_cast<UINT>(ws.size()));
  return pResult->bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetLong(VARIANT* pResult, LONG l) {
  if (!pResult) return S_OK;
  pResult->vt = VT_I4;
  pResult->lVal = l;
  return S_OK;
}

HRESULT SetBool(VARIANT* pResult, bool b) {
  if (!pResult) return S_OK;
  pResult->vt = VT_BOOL;
  pResult->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT SetObject(VARIANT* pResult, IUnknown* pUnk) {
  if (!pResult) return S_OK;
  IDispatch* pDisp = nullptr;
  if (pUnk && SUCCEEDED(pUnk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDisp)))) {
    pResult->vt = VT_DISPATCH;
    pResult->pdispVal = pDisp;
    return S_OK;
  }
  pResult->vt = pUnk ? VT_UNKNOWN : VT_DISPATCH;
  pResult->punkVal = pUnk;
  if (pUnk) pUnk->AddRef();
  return S_OK;
}

VARIANT* Arg(SCall& call, size_t i) {
  if (i >= call.args.size()) return nullptr;
  VARIANT* pArg = call.args[i];
  if (pArg->vt == (VT_VARIANT | VT_BYREF)) return pArg->pvarVal;
  if (pArg->vt == VT_ERROR && pArg->scode == DISP_E_PARAMNOTFOUND) return nullptr;
  return pArg;
}

HRESULT ArgLong(SCall& call, size_t i, LONG* pl) {
  VARIANT* pArg = Arg(call, i);
  if (!pArg) return DISP_E_PARAMNOTFOUND;
  VARIANT var;
  VariantInit(&var);
  HRESULT hr = VariantChangeType(&var, pArg, 0, VT_I4);
  if (SUCCEEDED(hr)) *pl = var.lVal;
  return hr;
}

HRESULT ArgString(SCall& call, size_t i, std::wstring* pws) {
  VARIANT* pArg = Arg(call, i);
  if (!pArg) return DISP_E_PARAMNOTFOUND;
  VARIANT var;
  VariantInit(&var);
  HRESULT hr = VariantChangeType(&var, pArg, 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  pws->assign(var.bstrVal ? var.bstrVal : L"", SysStringLen(var.bstrVal));
  VariantClear(&var);
  return S_OK;
}

CCollection::CCollection(std::vector<IID> iids) : CDispatch(std::move(iids)) {
  AddMember(L"Count", 0x50, [this](SCall& call) { return SetLong(call.pResult, static_cast<LONG>(m_items.size())); });
  AddMember(L"Item", DISPID_VALUE, [this](SCall& call) {
    LONG lIndex = 0;
    HRESULT hr = ArgLong(call, 0, &lIndex);
    if (FAILED(hr)) return hr;
    if (lIndex < 1 || static_cast<size_t>(lIndex) > m_items.size()) return DISP_E_BADINDEX;
    return SetObject(call.pResult, m_items[lIndex - 1]);
  });
}

}  // namespace Sim
