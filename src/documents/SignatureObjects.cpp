#include "documents/SignatureObjects.h"

#include "com/LateBound.h"
#include "com/Variant.h"

namespace SignatureObjects {

CComBSTR GetString(IDispatch* pObject, const wchar_t* wszName) {
  CComBSTR bsValue;
  CComVariant varValue;
  if (pObject && SUCCEEDED(LateBound::GetProperty(pObject, wszName, &varValue)) &&
      SUCCEEDED(varValue.ChangeType(VT_BSTR)))
    bsValue.Attach(std::exchange(V_BSTR(&varValue), nullptr));
  return bsValue;
}

bool GetBool(IDispatch* pObject, const wchar_t* wszName, bool bDefault) {
  CComVariant varValue;
  if (!pObject || FAILED(LateBound::GetProperty(pObject, wszName, &varValue)) || FAILED(varValue.ChangeType(VT_BOOL)))
    return bDefault;
  return V_BOOL(&varValue) != VARIANT_FALSE;
}

HRESULT PutString(IDispatch* pObject, const wchar_t* wszName, const std::wstring& wsValue) {
  if (!pObject) return E_POINTER;
  return LateBound::PutProperty(pObject, wszName, CComVariant(wsValue.c_str()));
}

HRESULT PutBool(IDispatch* pObject, const wchar_t* wszName, bool bValue) {
  if (!pObject) return E_POINTER;
  return LateBound::PutProperty(pObject, wszName, CComVariant(bValue));
}

HRESULT GetDetail(IDispatch* pObject, const wchar_t* wszName, LONG lDetail, VARIANT* pValue) {
  if (!pObject) return E_POINTER;
  return LateBound::Call(pObject, wszName, {CComVariant(lDetail)}, pValue);
}

}  // namespace SignatureObjects
