#include "module/Trace.h"

#include <new>

#include "module/TraceFacility.h"

namespace VmTraceNS {

void SetModuleHandle(HMODULE hModule) {
  delete g_pTraceFacility;
  g_pTraceFacility = new (std::nothrow) CTraceFacility(hModule);
}

void Shutdown() {
  delete g_pTraceFacility;
  g_pTraceFacility = nullptr;
}

CTraceScope::CTraceScope(const char* szName, int iLevel) : m_iLevel(iLevel) {
  if (CTraceFacility* pFacility = g_pTraceFacility) {
    pFacility->Refresh(GetTickCount());
    pFacility->Enter(*this, szName);
  }
}

CTraceScope::~CTraceScope() {
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
