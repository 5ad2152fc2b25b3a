#pragma once
// What the module's ribbons share: reading the ribbon control that Office passes to a callback,
// the ribbon documents and pictures of the module's resources, the refresh when the suite
// signals a new personal certificate, and the IDispatch that Office calls the callbacks through.
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <optional>
#include <span>
#include <string>

#include "com/ComPtr.h"
#include "hosts/OfficeAddIn.h"
#include "module/Trace.h"

// The control's Id, after making sure that it is an IRibbonControl.
HRESULT ReadControlId(CTraceScope& scope, IDispatch* pControl, std::wstring* pwsId);
// The control's Context: the window it is shown in; a null one is E_FAIL.
HRESULT ReadControlContext(CTraceScope& scope, IDispatch* pControl, CComPtr<IDispatch>& cpContext);
// The IRibbonUI of an onLoad callback's argument.
HRESULT QueryRibbonUI(CTraceScope& scope, IDispatch* pRibbon, CComPtr<Office::IRibbonUI>& cpRibbonUI);

// Answers a text callback with the text that textFor gives the control's id; no text is E_NOTIMPL.
HRESULT ControlText(CTraceScope& scope, IDispatch* pControl, BSTR* pbstrText,
                    const std::function<std::optional<std::wstring>(const std::wstring& wsId)>& textFor);

// A menu item's id with the resource strings of its label and its super tip.
struct SMenuText {
  const wchar_t* wszControlId;
  UINT nLabel;
  UINT nTip;
};
// Answers a label (pnText = &SMenuText::nLabel) or tip callback from the table or from the items
// that every ribbon's menu ends with (the managers, options, help), by the control's id in any
// letter case; a control that neither knows is E_NOTIMPL.
HRESULT MenuItemText(CTraceScope& scope, IDispatch* pControl, BSTR* pbstrText, std::span<const SMenuText> texts,
                     UINT SMenuText::*pnText);

// The ribbon document of a resource, its single-byte text widened with the thread's ANSI code page.
HRESULT LoadRibbonXml(UINT nResource, BSTR* pbstrXml);

// A ribbon image id and the module's icon behind it (16 pixels).
struct SRibbonImage {
  const wchar_t* wszImageId;
  UINT nIcon;
};
// The picture of an image id (any letter case): "ButtonImage" is the branding library's button
// face at 32 pixels, the others the module's icons of the table or of the items that every menu
// ends with. An unknown id or an icon that does not load is E_NOTIMPL.
HRESULT LoadRibbonImage(CTraceScope& scope, const wchar_t* wszImageId, std::span<const SRibbonImage> images,
                        IPictureDisp** ppPicture);
// One of the module's icons at 16 pixels as a picture; E_FAIL when it does not load.
HRESULT ModuleIconPicture(CTraceScope& scope, UINT nIcon, IPictureDisp** ppPicture);

// Whether the suite's own-certificate store holds a certificate of the user's.
bool HasPersonalCertificate();

// Watches the suite's named event "Velmora Personal Certificate Added" on a thread of its own and
// keeps a private flag that the ribbon's refresh timer takes on the UI thread.
class CCertificateWatcher {
 public:
  CCertificateWatcher() = default;
  ~CCertificateWatcher();
  CCertificateWatcher(const CCertificateWatcher&) = delete;
  CCertificateWatcher& operator=(const CCertificateWatcher&) = delete;

  // The private flag: manual-reset, clear.
  HRESULT Create();
  // Starts the thread unless it runs.
  void Start(CTraceScope& scope);
  // Ends the thread by a queued procedure call, waited for up to 2 s, then terminated.
  void Stop(CTraceScope& scope);
  // Whether a signal came since the last call; clears it first, so that a signal that comes
  // while the ribbons are refreshed makes another refresh.
  bool TakeSignal();

  // The refresh period of the ribbons' timers, in milliseconds.
  static constexpr UINT kRefreshPeriod = 1000;

 private:
  static DWORD WINAPI ThreadProc(LPVOID pvWatcher);
  HANDLE m_hSignalled = nullptr;
  HANDLE m_hThread = nullptr;
};

// The type information of a dual interface of the module's type library, loaded once.
class CTypeLibInfo {
 public:
  explicit CTypeLibInfo(const IID& iid) : m_iid(iid) {}
  HRESULT Get(ITypeInfo** ppTypeInfo);

 private:
  const IID& m_iid;
  CComPtr<ITypeInfo> m_cpTypeInfo;
};

// Defines the four IDispatch methods of a class from its dual interface I (a member
// CTypeLibInfo m_typeInfo), for every IDispatch among its bases: Office calls the ribbon
// callbacks by name.
#define VM_TYPELIB_DISPATCH(I)                                                                              \
  STDMETHOD(GetTypeInfoCount)(UINT * pctinfo) override {                                                    \
    if (!pctinfo) return E_POINTER;                                                                         \
    *pctinfo = 1;                                                                                           \
    return S_OK;                                                                                            \
  }                                                                                                         \
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID, ITypeInfo * *ppTInfo) override {                                \
    if (!ppTInfo) return E_POINTER;                                                                         \
    *ppTInfo = nullptr;                                                                                     \
    return iTInfo ? DISP_E_BADINDEX : m_typeInfo.Get(ppTInfo);                                              \
  }                                                                                                         \
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR * rgszNames, UINT cNames, LCID, DISPID * rgDispId) override {   \
    CComPtr<ITypeInfo> cpTypeInfo;                                                                          \
    const HRESULT hr = m_typeInfo.Get(&cpTypeInfo);                                                         \
    return SUCCEEDED(hr) ? DispGetIDsOfNames(cpTypeInfo, rgszNames, cNames, rgDispId) : hr;                 \
  }                                                                                                         \
  STDMETHOD(Invoke)                                                                                         \
  (DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS * pDispParams, VARIANT * pVarResult,          \
   EXCEPINFO * pExcepInfo, UINT * puArgErr) override {                                                      \
    CComPtr<ITypeInfo> cpTypeInfo;                                                                          \
    const HRESULT hr = m_typeInfo.Get(&cpTypeInfo);                                                         \
    return SUCCEEDED(hr) ? DispInvoke(static_cast<I*>(this), cpTypeInfo, dispIdMember, wFlags, pDispParams, \
                                      pVarResult, pExcepInfo, puArgErr)                                     \
                         : hr;                                                                              \
  }
