#pragma once
// The diagnostic trace: entry, exit, message and error records written to a
// "trace3" file when an administrator switches tracing on in the registry.
#include <windows.h>

#include <atomic>

namespace VmTraceNS {

class CTraceFacility;

// What every scope reads first, kept apart from the facility so that a scope costs a tick-count read
// and two loads while tracing is off: the tick after which the settings are read again (none while no
// facility runs), and whether tracing is on.
extern std::atomic<DWORD> g_dwNextRefresh;
extern std::atomic<bool> g_bTracing;

// Starts the facility for a module, at process attach; a second call starts it afresh, as a new process would.
void SetModuleHandle(HMODULE hModule);
// Called at process detach: closes the trace file and releases the facility. Later scopes trace nothing.
void Shutdown();

// Kept on the stack of every traced function. Tracing never throws and leaves the thread's last error as it was.
class CTraceScope {
 public:
  explicit CTraceScope(const char* szName, int iLevel = 0) : m_iLevel(iLevel) {
    if (GetTickCount() > g_dwNextRefresh.load(std::memory_order_relaxed) || g_bTracing.load(std::memory_order_relaxed))
      Open(szName);
  }
  ~CTraceScope() {
    if (g_bTracing.load(std::memory_order_relaxed)) Close();
  }
  CTraceScope(const CTraceScope&) = delete;
  CTraceScope& operator=(const CTraceScope&) = delete;

  // printf-style; "%s" and "%c" take narrow arguments, "%ls" wide ones.
  void Message(const char* szFormat, ...);
  // Records a failed call (a negative code, or any code of facility 9).
  void Error(const char* szText, HRESULT hr);

 private:
  friend class CTraceFacility;
  // The settings refresh and the entry record; the exit record.
  void Open(const char* szName);
  void Close();
  char m_szName[100];
  int m_iLevel;
};

}  // namespace VmTraceNS

using VmTraceNS::CTraceScope;

// Runs the body of a COM entry point: an exception is traced as an error record
// with empty text and becomes E_UNEXPECTED, so that none reaches the caller.
template <class F>
HRESULT GuardComEntry(CTraceScope& trace, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    trace.Error("", E_UNEXPECTED);
    return E_UNEXPECTED;
  }
}
