#pragma once
// The add-in that Word, Excel and PowerPoint load: a group on the Home tab with a split button
// that applies the user's default document security, and a menu that signs, chooses the
// signature line, encrypts, removes encryption, requests a certificate and leads to the suite's
// tools. It picks the application's operations object when Office asks for the ribbon,
// refreshes the ribbon when the suite signals a new personal certificate, and once points a new
// user at the button with a balloon.
#include <ocidl.h>

#include <memory>

#include "VmOfcX_h.h"
#include "com/OfficeAddIn.h"
#include "documents/DocumentOperations.h"
#include "hosts/OfficeAddIn.h"
#include "module/Balloon.h"
#include "module/RibbonSupport.h"

class CDocumentRibbon final : public COfficeAddIn, public Office::IRibbonExtensibility, public IDocumentRibbon {
 public:
  explicit CDocumentRibbon(IUnknown* pOuter);
  ~CDocumentRibbon() override;
  VM_DELEGATING_IUNKNOWN
  VM_TYPELIB_DISPATCH(IDocumentRibbon)

  HRESULT FinalConstruct() override;

  // IRibbonExtensibility
  STDMETHOD(GetCustomUI)(BSTR RibbonID, BSTR* RibbonXml) override;

  // IDocumentRibbon
  STDMETHOD(Ribbon_OnLoad)(IDispatch* pRibbon) override;
  STDMETHOD(Ribbon_OnLoadImage)(BSTR bstrImageId, IDispatch** ppdispImage) override;
  STDMETHOD(Ribbon_OnButtonClicked)(IDispatch* pControl) override;
  STDMETHOD(Ribbon_GetGroupLabel)(IDispatch* pControl, BSTR* pbstrLabel) override;
  STDMETHOD(Ribbon_GetButtonLabel)(IDispatch* pControl, BSTR* pbstrLabel) override;
  STDMETHOD(Ribbon_GetMenuItemLabel)(IDispatch* pControl, BSTR* pbstrLabel) override;
  STDMETHOD(Ribbon_GetMenuItemTip)(IDispatch* pControl, BSTR* pbstrScreentip) override;
  STDMETHOD(Ribbon_OnMenuItemClicked)(IDispatch* pControl) override;
  STDMETHOD(Ribbon_GetMenuItemVisible)(IDispatch* pControl, VARIANT_BOOL* pvarfVisible) override;
  STDMETHOD(Ribbon_GetMenuItemImage)(IDispatch* pControl, IDispatch** ppdispImage) override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  void Tick();
  // The balloon on the active window, pointing at the split button; whether it was shown.
  bool ShowBalloonPrompt();
  // The menu's commands on the document of the control's window.
  HRESULT RunOnContext(CTraceScope& scope, IDispatch* pControl, bool bSign, bool bEncrypt);
  HRESULT ToggleSignatureLine();

  CComPtr<Office::IRibbonUI> m_spRibbonUI;
  // Made anew for the application at each GetCustomUI; none after an unknown ribbon id.
  std::unique_ptr<CDocumentOperations> m_pOperations;
  UINT_PTR m_nTimer = 0;
  CCertificateWatcher m_watcher;
  CTypeLibInfo m_typeInfo{IID_IDocumentRibbon};
  // Ticks before the balloon shows ("DocumentBalloon"; 0: never), then ticks it stays.
  int m_nBalloonDelay;
  int m_nBalloonDuration = 15;
  tooltip_t m_balloon;
};

// The one live ribbon object, for the timer procedure (a timer without a window carries no context).
extern CDocumentRibbon* g_pDocumentRibbon;
