#include "com/LateBound.h"

#include <vector>

#include "com/Variant.h"

namespace LateBound {
namespace {

HRESULT Invoke(IDispatch* pDisp, const wchar_t* wszName, WORD wFlags, std::initializer_list<VARIANT> args,
               VARIANT* pResult) {
  // Callers clear the result on every path, failures included.
  if (pResult) VariantInit(pResult);
  if (!pDisp || !wszName) return E_POINTER;
  DISPID dispid = DISPID_UNKNOWN;
  LPOLESTR wszMember = const_cast<LPOLESTR>(wszName);
  HRESULT hr = pDisp->GetIDsOfNames(IID_NULL, &wszMember, 1, LOCALE_USER_DEFAULT, &dispid);
  if (FAILED(hr)) return hr;

  // IDispatch takes its arguments last to first.
  std::vector<VARIANT> reversed(args.begin(), args.end());
  std::vector<VARIANT>(reversed.rbegin(), reversed.rend()).swap(reversed);
  DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  DISPID dispidNamed = DISPID_PROPERTYPUT;
  if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &dispidNamed;
    params.cNamedArgs = 1;
  }
  // Office reports its own errors as DISP_E_EXCEPTION with this filled in; the result stays
  // DISP_E_EXCEPTION, the texts are not used.
  EXCEPINFO excepInfo = {};
  hr = pDisp->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &params, pResult, &excepInfo, nullptr);
  SysFreeString(excepInfo.bstrSource);
  SysFreeString(excepInfo.bstrDescription);
  SysFreeString(excepInfo.bstrHelpFile);
  return hr;
}

}  // namespace

HRESULT GetProperty(IDispatch* pDisp, const wchar_t* wszName, VARIANT* pResult, std::initializer_list<VARIANT> args) {
  if (!pResult) return E_POINTER;
  return Invoke(pDisp, wszName, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args, pResult);
}

HRESULT PutProperty(IDispatch* pDisp, const wchar_t* wszName, const VARIANT& value) {
  const bool bObject = value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN;
  return Invoke(pDisp, wszName, bObject ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT, {value}, nullptr);
}

HRESULT Call(IDispatch* pDisp, const wchar_t* wszName, std::initializer_list<VARIANT> args, VARIANT* pResult) {
  return Invoke(pDisp, wszName, DISPATCH_METHOD, args, pResult);
}

HRESULT GetObjectProperty(IDispatch* pDisp, const wchar_t* wszName, IDispatch** ppResult,
                          std::initializer_list<VARIANT> args) {
  *ppResult = nullptr;
  CComVariant var;
  HRESULT hr = GetProperty(pDisp, wszName, &var, args);
  if (SUCCEEDED(hr)) hr = var.ChangeType(VT_DISPATCH);
  if (FAILED(hr)) return hr;
  if (!var.pdispVal) return E_FAIL;
  *ppResult = var.pdispVal;
  var.pdispVal->AddRef();
  return S_OK;
}

}  // namespace LateBound
