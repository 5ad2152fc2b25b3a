// Temporary: records are dropped until the trace writer lands.
#include "module/Trace.h"

namespace VmTraceNS {
void SetModuleHandle(HMODULE) {}
void Shutdown() {}
CTraceScope::CTraceScope(const char*, int iLevel) : m_szName{}, m_iLevel(iLevel) {}
CTraceScope::~CTraceScope() = default;
void CTraceScope::Message(const char*, ...) {}
void CTraceScope::Error(const char*, HRESULT) {}
}  // namespace VmTraceNS
