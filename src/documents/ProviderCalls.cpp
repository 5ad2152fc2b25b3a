#include "documents/ProviderCalls.h"

#include <oleidl.h>

#include "com/ComPtr.h"
#include "hosts/EncryptionProvider.h"
#include "module/CertLibrary.h"

HWND ParentWindowOf(IUnknown* pParentWindow) {
  CComPtr<IOleWindow> cpOleWindow;
  HWND hWnd = nullptr;
  if (pParentWindow &&
      SUCCEEDED(pParentWindow->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&cpOleWindow))) &&
      SUCCEEDED(cpOleWindow->GetWindow(&hWnd)) && hWnd)
    return hWnd;
  return GetActiveWindow();
}

void* MarshalerInterface(IUnknown* pMarshaler) {
  IUnknown* pMarshal = nullptr;
  if (!pMarshaler || FAILED(pMarshaler->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&pMarshal))))
    return nullptr;
  pMarshal->Release();
  return pMarshal;
}

HRESULT QueryStream(CTraceScope& scope, IUnknown* pUnknown, IStream** ppStream) {
  const HRESULT hr =
      pUnknown ? pUnknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(ppStream)) : E_NOINTERFACE;
  if (FAILED(hr)) scope.Error("QueryInterface(__uuidof(IStream))", hr);
  return hr;
}

HRESULT SoftwareUrl(CTraceScope& scope, VARIANT* pValue) {
  const CCertLibrary certLib;
  CLibraryString wsUrl(certLib);
  const HRESULT hr = certLib.GC_GetSoftwareURL(wsUrl.Out());
  if (FAILED(hr)) {
    scope.Error("GC_GetSoftwareURL()", hr);
    return hr;
  }
  V_VT(pValue) = VT_BSTR;
  V_BSTR(pValue) = SysAllocString(wsUrl.Get());
  return S_OK;
}

namespace OfficeDispatch {

namespace {

HRESULT LoadTypeInfo(REFIID iid, ITypeInfo** ppTInfo) {
  CComPtr<ITypeLib> cpTypeLib;
  HRESULT hr = LoadRegTypeLib(Office::LIBID_Office, 2, 4, LOCALE_NEUTRAL, &cpTypeLib);
  if (SUCCEEDED(hr)) hr = cpTypeLib->GetTypeInfoOfGuid(iid, ppTInfo);
  return hr;
}

}  // namespace

HRESULT GetTypeInfoCount(REFIID iid, UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  CComPtr<ITypeInfo> cpTypeInfo;
  *pctinfo = SUCCEEDED(LoadTypeInfo(iid, &cpTypeInfo)) ? 1 : 0;
  return S_OK;
}

HRESULT GetTypeInfo(REFIID iid, UINT iTInfo, ITypeInfo** ppTInfo) {
  if (!ppTInfo) return E_POINTER;
  *ppTInfo = nullptr;
  return iTInfo == 0 ? LoadTypeInfo(iid, ppTInfo) : DISP_E_BADINDEX;
}

HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) {
  CComPtr<ITypeInfo> cpTypeInfo;
  const HRESULT hr = LoadTypeInfo(iid, &cpTypeInfo);
  return SUCCEEDED(hr) ? DispGetIDsOfNames(cpTypeInfo, rgszNames, cNames, rgDispId) : hr;
}

HRESULT Invoke(REFIID iid, IDispatch* pThis, DISPID dispIdMember, WORD wFlags, DISPPARAMS* pDispParams,
               VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  CComPtr<ITypeInfo> cpTypeInfo;
  const HRESULT hr = LoadTypeInfo(iid, &cpTypeInfo);
  return SUCCEEDED(hr)
             ? DispInvoke(pThis, cpTypeInfo, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr)
             : hr;
}

}  // namespace OfficeDispatch
