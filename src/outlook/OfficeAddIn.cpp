#include "outlook/OfficeAddIn.h"

#include "module/Trace.h"

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
