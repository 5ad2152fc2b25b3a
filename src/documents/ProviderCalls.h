#pragma once
// What Office's document providers share at their boundary: the window that Office names, the
// stream arguments, the guard around every operation and IDispatch from the Office type library.
#include <objidl.h>
#include <oaidl.h>
#include <windows.h>

#include "module/Trace.h"

// The window of ParentWindow's IOleWindow; the active window when it has none.
HWND ParentWindowOf(IUnknown* pParentWindow);

// The IMarshal of the free-threaded marshaler that a provider aggregates, as FindInterface hands
// it out: its interfaces count on the controlling unknown, and the caller adds the reference.
void* MarshalerInterface(IUnknown* pMarshaler);

// Asks an argument for IStream; a failure is traced as the request.
HRESULT QueryStream(CTraceScope& scope, IUnknown* pUnknown, IStream** ppStream);

// Every operation is a boundary: no exception reaches Office, and the result is traced.
template <class TOperation>
HRESULT Guarded(CTraceScope& scope, TOperation operation) {
  HRESULT hr = E_UNEXPECTED;
  try {
    hr = operation();
  } catch (...) {
    scope.Error("", E_UNEXPECTED);
    return E_UNEXPECTED;
  }
  scope.Message("hr = 0x%08X", static_cast<unsigned>(hr));
  return hr;
}

// IDispatch of a provider's dual interface iid, described by the Office type library 2.4.
namespace OfficeDispatch {
HRESULT GetTypeInfoCount(REFIID iid, UINT* pctinfo);
HRESULT GetTypeInfo(REFIID iid, UINT iTInfo, ITypeInfo** ppTInfo);
HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId);
HRESULT Invoke(REFIID iid, IDispatch* pThis, DISPID dispIdMember, WORD wFlags, DISPPARAMS* pDispParams,
               VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);
}  // namespace OfficeDispatch

// The suite's software web address (GC_GetSoftwareURL) as a VT_BSTR, for GetProviderDetail.
HRESULT SoftwareUrl(CTraceScope& scope, VARIANT* pValue);

// Defines what a provider class shares with the others: FinalConstruct aggregating the
// free-threaded marshaler into m_cpMarshaler, FindInterface for its interface, IDispatch,
// IDTExtensibility2 and IMarshal, and the IDispatch methods (declared by VM_DISPATCH_METHODS).
#define VM_OFFICE_PROVIDER_IMPL(TClass, TInterface, iid)                                                               \
  HRESULT TClass::FinalConstruct() { return CoCreateFreeThreadedMarshaler(GetControllingUnknown(), &m_cpMarshaler); }  \
  void* TClass::FindInterface(REFIID riid) {                                                                           \
    if (IsEqualIID(riid, iid) || IsEqualIID(riid, IID_IDispatch)) return static_cast<TInterface*>(this);               \
    if (IsEqualIID(riid, Office::IID_IDTExtensibility2)) return static_cast<Office::IDTExtensibility2*>(this);         \
    if (IsEqualIID(riid, IID_IMarshal)) return MarshalerInterface(m_cpMarshaler);                                      \
    return nullptr;                                                                                                    \
  }                                                                                                                    \
  HRESULT TClass::GetTypeInfoCount(UINT* pctinfo) { return OfficeDispatch::GetTypeInfoCount(iid, pctinfo); }           \
  HRESULT TClass::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {                                                \
    return OfficeDispatch::GetTypeInfo(iid, iTInfo, ppTInfo);                                                          \
  }                                                                                                                    \
  HRESULT TClass::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {                    \
    return OfficeDispatch::GetIDsOfNames(iid, rgszNames, cNames, rgDispId);                                            \
  }                                                                                                                    \
  HRESULT TClass::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult, \
                         EXCEPINFO* pExcepInfo, UINT* puArgErr) {                                                      \
    return OfficeDispatch::Invoke(iid, static_cast<TInterface*>(this), dispIdMember, wFlags, pDispParams, pVarResult,  \
                                  pExcepInfo, puArgErr);                                                               \
  }
