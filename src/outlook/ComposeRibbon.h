#pragma once
// The Outlook add-in: connects to Outlook, publishes itself in COMAddIns and
// starts according to the Outlook version.
#include "module/Trace.h"
#include "outlook/OfficeAddIn.h"

// The major version of _Application.Version, fixed by the first call that reads one; 0 when unknown.
int GetOutlookVersion(IDispatch* pApplication);

class CComposeRibbon final : public COfficeAddIn {
 public:
  explicit CComposeRibbon(IUnknown* pOuter) : COfficeAddIn(pOuter) {}
  VM_DELEGATING_IUNKNOWN

  // The dispatch members come with the ribbon callbacks; until then there are none.
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
  STDMETHOD(Invoke)
  (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
   EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  STDMETHOD(OnConnection)
  (IDispatch* pApplication, Office::ext_ConnectMode ConnectMode, IDispatch* pAddInInst, SAFEARRAY** custom) override;
  STDMETHOD(OnStartupComplete)(SAFEARRAY** custom) override;
  STDMETHOD(OnBeginShutdown)(SAFEARRAY** custom) override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  HRESULT QueryApplication(CTraceScope& scope, IDispatch** ppApplication) const;
  void PublishInComAddIns(CTraceScope& scope, IDispatch* pApplication);
};
