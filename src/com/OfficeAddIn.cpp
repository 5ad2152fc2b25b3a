#include "com/OfficeAddIn.h"

#include "module/Trace.h"

HRESULT COfficeAddIn::OnConnection(IDispatch* pApplication, Office::ext_ConnectMode, IDispatch* pAddInInst,
                                   SAFEARRAY**) {
  CTraceScope scope("OnConnection");
  m_spApplication = pApplication;
  m_spAddInInst = pAddInInst;
  return S_OK;
}

HRESULT COfficeAddIn::OnDisconnection(Office::ext_DisconnectMode RemoveMode, SAFEARRAY** custom) {
  CTraceScope scope("OnDisconnection");
  return GuardComEntry(scope, [&] {
    scope.Message("RemoveMode = %d", static_cast<int>(RemoveMode));
    if (RemoveMode == Office::ext_dm_UserClosed) OnBeginShutdown(custom);
    m_spAddInInst.Release();
    m_spApplication.Release();
    return S_OK;
  });
}

HRESULT COfficeAddIn::OnAddInsUpdate(SAFEARRAY**) {
  CTraceScope scope("OnAddInsUpdate");
  return S_OK;
}

HRESULT COfficeAddIn::OnStartupComplete(SAFEARRAY**) { return S_OK; }
HRESULT COfficeAddIn::OnBeginShutdown(SAFEARRAY**) { return S_OK; }
