#include "outlook/DispEventHandler.h"

#include <new>

#include "com/ComPtr.h"
#include "module/Trace.h"

namespace {

HRESULT FindConnectionPoint(IUnknown* pSource, REFIID iidEvents, IConnectionPoint** ppPoint) {
  CComPtr<IConnectionPointContainer> cpContainer;
  HRESULT hr = pSource ? pSource->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpContainer))
                       : E_POINTER;
  if (SUCCEEDED(hr)) hr = cpContainer->FindConnectionPoint(iidEvents, ppPoint);
  return hr;
}

}  // namespace

HRESULT CDispEventHandler::Advise(IUnknown* pSource, REFIID iidEvents, Handler handler, DWORD* pdwCookie) {
  CTraceScope scope("CDispEventHandler::Advise");
  *pdwCookie = 0;
  CComPtr<IConnectionPoint> cpPoint;
  HRESULT hr = FindConnectionPoint(pSource, iidEvents, &cpPoint);
  if (FAILED(hr)) {
    scope.Error("FindConnectionPoint()", hr);
    return hr;
  }
  CDispEventHandler* pSink = new (std::nothrow) CDispEventHandler(iidEvents, std::move(handler));
  if (!pSink) return E_OUTOFMEMORY;
  hr = cpPoint->Advise(pSink, pdwCookie);
  pSink->Release();
  if (FAILED(hr)) scope.Error("cpConnectionPoint->Advise()", hr);
  return hr;
}

HRESULT CDispEventHandler::Unadvise(IUnknown* pSource, REFIID iidEvents, DWORD dwCookie) {
  CTraceScope scope("CDispEventHandler::Unadvise");
  CComPtr<IConnectionPoint> cpPoint;
  HRESULT hr = FindConnectionPoint(pSource, iidEvents, &cpPoint);
  if (SUCCEEDED(hr)) hr = cpPoint->Unadvise(dwCookie);
  if (FAILED(hr)) scope.Error("cpConnectionPoint->Unadvise()", hr);
  return hr;
}

HRESULT CDispEventHandler::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, m_iidEvents)) {
    return E_NOINTERFACE;
  }
  *ppv = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

ULONG CDispEventHandler::AddRef() { return InterlockedIncrement(&m_lRefCount); }

ULONG CDispEventHandler::Release() {
  const LONG lCount = InterlockedDecrement(&m_lRefCount);
  if (!lCount) delete this;
  return lCount;
}

HRESULT CDispEventHandler::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT CDispEventHandler::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return DISP_E_BADINDEX;
}

// Sources call sinks by dispatch id only.
HRESULT CDispEventHandler::GetIDsOfNames(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) {
  for (UINT i = 0; rgDispId && i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT CDispEventHandler::Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                                  EXCEPINFO*, UINT*) {
  CTraceScope scope("CDispEventHandler::Invoke");
  // A handler may disconnect its own sink (a window's Close): the sink outlives the call.
  const CComPtr<IDispatch> cpSelf(this);
  return GuardComEntry(scope, [&] { return m_handler(dispIdMember, pDispParams); });
}
