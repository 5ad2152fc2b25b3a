#include "module/Trace.h"

#include <new>

#include "module/TraceFacility.h"

namespace VmTraceNS {

std::atomic<DWORD> g_dwNextRefresh{MAXDWORD};
std::atomic<bool> g_bTracing{false};

void SetModuleHandle(HMODULE hModule) {
  Shutdown();
  g_pTraceFacility = new (std::nothrow) CTraceFacility(hModule);
  if (g_pTraceFacility) g_dwNextRefresh = 0;
}

void Shutdown() {
  g_dwNextRefresh = MAXDWORD;
  g_bTracing = false;
  delete g_pTraceFacility;
  g_pTraceFacility = nullptr;
}

void CTraceScope::Open(const char* szName) {
  if (CTraceFacility* pFacility = g_pTraceFacility) {
    pFacility->Refresh(GetTickCount());
    pFacility->Enter(*this, szName);
  }
}

void CTraceScope::Close() {
  if (CTraceFacility* pFacility = g_pTraceFacility) pFacility->Leave(*this);
}

void CTraceScope::Message(const char* szFormat, ...) {
  CTraceFacility* pFacility = g_pTraceFacility;
  if (!pFacility) return;
  va_list args;
  va_start(args, szFormat);
  pFacility->Message(*this, szFormat, args);
  va_end(args);
}

void CTraceScope::Error(const char* szText, HRESULT hr) {
  if (CTraceFacility* pFacility = g_pTraceFacility) pFacility->Error(*this, szText, hr);
}

}  // namespace VmTraceNS
