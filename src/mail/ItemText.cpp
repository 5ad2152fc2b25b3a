#include "mail/ItemText.h"

#include "com/LateBound.h"
#include "com/Variant.h"

HRESULT GetTextProperty(IDispatch* pDisp, const wchar_t* wszName, std::wstring* pws) {
  CComVariant var;
  HRESULT hr = LateBound::GetProperty(pDisp, wszName, &var);
  if (SUCCEEDED(hr)) hr = var.ChangeType(VT_BSTR);
  if (SUCCEEDED(hr)) *pws = var.bstrVal ? var.bstrVal : L"";
  return hr;
}

HRESULT PutTextProperty(IDispatch* pDisp, const wchar_t* wszName, const std::wstring& ws) {
  return LateBound::PutProperty(pDisp, wszName, CComVariant(ws.c_str()));
}

HRESULT GetLongProperty(IDispatch* pDisp, const wchar_t* wszName, LONG* pl) {
  CComVariant var;
  HRESULT hr = LateBound::GetProperty(pDisp, wszName, &var);
  if (SUCCEEDED(hr)) hr = var.ChangeType(VT_I4);
  if (SUCCEEDED(hr)) *pl = var.lVal;
  return hr;
}
