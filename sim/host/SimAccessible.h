#pragma once
// Elements of Office's user interface as Active Accessibility shows them, and the windows that
// answer WM_GETOBJECT with them.
#include <windows.h>

#include <oleacc.h>

#include <functional>
#include <string>
#include <vector>

#include "SimDispatch.h"

namespace Sim {

// mingw's library has a wrong IID_IAccessible.
inline constexpr IID kIIDAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// One element: a whole object with its children, some of which may be simple elements (child ids
// of this object, answered here), as Office's ribbons have them.
class CAccessibleNode final : public CDispatchImpl<IAccessible> {
 public:
  CAccessibleNode(LONG lRole, std::wstring wsName, LONG lState = 0)
      : CDispatchImpl({kIIDAccessible}), m_lRole(lRole), m_wsName(std::move(wsName)), m_lState(lState) {}
  // A simple element of this object: no object of its own, named and placed through its parent.
  struct SSimple {
    LONG lRole;
    std::wstring wsName;
    std::function<RECT()> fnLocation;
    std::function<void()> fnAction;  // its default action; none when empty
  };
  std::vector<CComPtr<CAccessibleNode>> m_children;
  std::vector<SSimple> m_simple;       // child ids after the whole children's
  std::wstring m_wsValue;              // none when empty
  std::function<RECT()> m_fnLocation;  // screen rectangle; none when empty
  bool m_bMenu = false;                // children shown only while open
  bool m_bOpen = false;
  std::function<void()> m_fnAction;  // a button's default action; a menu's opens and closes it

  STDMETHOD(get_accParent)(IDispatch**) override { return E_NOTIMPL; }
  STDMETHOD(get_accChildCount)(LONG* pc) override;
  STDMETHOD(get_accChild)(VARIANT varChild, IDispatch** ppChild) override;
  STDMETHOD(get_accName)(VARIANT varChild, BSTR* pbs) override;
  STDMETHOD(get_accValue)(VARIANT varChild, BSTR* pbs) override;
  STDMETHOD(get_accRole)(VARIANT varChild, VARIANT* pvar) override;
  STDMETHOD(get_accState)(VARIANT varChild, VARIANT* pvar) override;
  STDMETHOD(accDoDefaultAction)(VARIANT varChild) override;
  STDMETHOD(accLocation)(LONG* px, LONG* py, LONG* pcx, LONG* pcy, VARIANT varChild) override;
  STDMETHOD(get_accDescription)(VARIANT, BSTR*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(get_accHelp)(VARIANT, BSTR*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(get_accHelpTopic)(BSTR*, VARIANT, LONG*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(get_accKeyboardShortcut)(VARIANT, BSTR*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(get_accFocus)(VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(get_accSelection)(VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(get_accDefaultAction)(VARIANT, BSTR*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(accSelect)(LONG, VARIANT) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(accNavigate)(LONG, VARIANT, VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(accHitTest)(LONG, LONG, VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(put_accName)(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }
  STDMETHOD(put_accValue)(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }

 private:
  bool Shown() const { return !m_bMenu || m_bOpen; }
  // The simple element of a child id, or null for the object itself; false for an unknown id.
  bool Element(const VARIANT& varChild, const SSimple** ppSimple) const;
  LONG m_lRole;
  std::wstring m_wsName;
  LONG m_lState;
};

// A window procedure for windows whose client object is the node kept in their user data.
LRESULT CALLBACK AccessibleWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

}  // namespace Sim
