#pragma once
// The IDTExtensibility2 part of the module's Office add-ins: holds the host
// application and the add-in instance that Office passes at connection. An add-in
// overrides the events it acts on.
#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "hosts/OfficeAddIn.h"

class COfficeAddIn : public CComObjectRoot, public Office::IDTExtensibility2 {
 public:
  explicit COfficeAddIn(IUnknown* pOuter) : CComObjectRoot(pOuter) {}

  STDMETHOD(OnConnection)
  (IDispatch* pApplication, Office::ext_ConnectMode ConnectMode, IDispatch* pAddInInst, SAFEARRAY** custom) override;
  // Runs OnBeginShutdown first when the user unloads the add-in, then lets go of the host.
  STDMETHOD(OnDisconnection)(Office::ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
  STDMETHOD(OnAddInsUpdate)(SAFEARRAY** custom) override;
  STDMETHOD(OnStartupComplete)(SAFEARRAY** custom) override;
  STDMETHOD(OnBeginShutdown)(SAFEARRAY** custom) override;

 protected:
  CComPtr<IDispatch> m_spApplication;
  CComPtr<IDispatch> m_spAddInInst;
};
