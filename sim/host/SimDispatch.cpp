#include "SimDispatch.h"

namespace Sim {

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
