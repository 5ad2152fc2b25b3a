#include "SimAccessible.h"

namespace Sim {
namespace {

HRESULT LongResult(LONG l, VARIANT* pvar) {
  if (!pvar) return E_POINTER;
  pvar->vt = VT_I4;
  pvar->lVal = l;
  return S_OK;
}

HRESULT TextResult(const std::wstring& ws, BSTR* pbs) {
  if (!pbs) return E_POINTER;
  *pbs = SysAllocString(ws.c_str());
  return *pbs ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

bool CAccessibleNode::Element(const VARIANT& varChild, const SSimple** ppSimple) const {
  *ppSimple = nullptr;
  if (varChild.vt != VT_I4) return false;
  if (varChild.lVal == CHILDID_SELF) return true;
  const LONG lSimple = varChild.lVal - static_cast<LONG>(m_children.size()) - 1;
  if (!Shown() || lSimple < 0 || static_cast<size_t>(lSimple) >= m_simple.size()) return false;
  *ppSimple = &m_simple[static_cast<size_t>(lSimple)];
  return true;
}

STDMETHODIMP CAccessibleNode::get_accChildCount(LONG* pc) {
  if (!pc) return E_POINTER;
  *pc = Shown() ? static_cast<LONG>(m_children.size() + m_simple.size()) : 0;
  return S_OK;
}

// A simple element has no object of its own: S_FALSE, as accessibility servers answer.
STDMETHODIMP CAccessibleNode::get_accChild(VARIANT varChild, IDispatch** ppChild) {
  if (!ppChild) return E_POINTER;
  *ppChild = nullptr;
  const SSimple* pSimple = nullptr;
  if (varChild.vt == VT_I4 && varChild.lVal >= 1 && Shown() &&
      static_cast<size_t>(varChild.lVal) <= m_children.size()) {
    *ppChild = static_cast<IDispatch*>(m_children[varChild.lVal - 1].Get());
    (*ppChild)->AddRef();
    return S_OK;
  }
  return Element(varChild, &pSimple) && pSimple ? S_FALSE : E_INVALIDARG;
}

STDMETHODIMP CAccessibleNode::get_accName(VARIANT varChild, BSTR* pbs) {
  const SSimple* pSimple = nullptr;
  if (!Element(varChild, &pSimple)) return E_INVALIDARG;
  return TextResult(pSimple ? pSimple->wsName : m_wsName, pbs);
}

STDMETHODIMP CAccessibleNode::get_accValue(VARIANT varChild, BSTR* pbs) {
  const SSimple* pSimple = nullptr;
  if (!Element(varChild, &pSimple)) return E_INVALIDARG;
  if (pSimple || m_wsValue.empty()) return DISP_E_MEMBERNOTFOUND;
  return TextResult(m_wsValue, pbs);
}

STDMETHODIMP CAccessibleNode::get_accRole(VARIANT varChild, VARIANT* pvar) {
  const SSimple* pSimple = nullptr;
  if (!Element(varChild, &pSimple)) return E_INVALIDARG;
  return LongResult(pSimple ? pSimple->lRole : m_lRole, pvar);
}

STDMETHODIMP CAccessibleNode::get_accState(VARIANT varChild, VARIANT* pvar) {
  const SSimple* pSimple = nullptr;
  if (!Element(varChild, &pSimple)) return E_INVALIDARG;
  return LongResult(pSimple ? 0 : m_lState, pvar);
}

STDMETHODIMP CAccessibleNode::accDoDefaultAction(VARIANT varChild) {
  const SSimple* pSimple = nullptr;
  if (!Element(varChild, &pSimple)) return E_INVALIDARG;
  if (pSimple) {
    if (!pSimple->fnAction) return DISP_E_MEMBERNOTFOUND;
    // The action may change this node's children, and with them the element.
    const std::function<void()> fnAction = pSimple->fnAction;
    fnAction();
  } else if (m_fnAction) {
    const std::function<void()> fnAction = m_fnAction;
    fnAction();
  } else {
    m_bOpen = !m_bOpen;
  }
  return S_OK;
}

STDMETHODIMP CAccessibleNode::accLocation(LONG* px, LONG* py, LONG* pcx, LONG* pcy, VARIANT varChild) {
  if (!px || !py || !pcx || !pcy) return E_POINTER;
  const SSimple* pSimple = nullptr;
  if (!Element(varChild, &pSimple)) return E_INVALIDARG;
  const std::function<RECT()>& fnLocation = pSimple ? pSimple->fnLocation : m_fnLocation;
  if (!fnLocation) return DISP_E_MEMBERNOTFOUND;
  const RECT rc = fnLocation();
  *px = rc.left, *py = rc.top, *pcx = rc.right - rc.left, *pcy = rc.bottom - rc.top;
  return S_OK;
}

LRESULT CALLBACK AccessibleWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  auto* pNode = reinterpret_cast<CAccessibleNode*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (uMsg == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT && pNode) {
    return LresultFromObject(kIIDAccessible, wParam, static_cast<IAccessible*>(pNode));
  }
  return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

}  // namespace Sim
