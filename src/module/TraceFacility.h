#pragma once
// The trace facility of one loaded module: its settings, lock, time stamp and output.
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <memory>

#include "module/Trace.h"
#include "module/TraceOutput.h"

namespace VmTraceNS {

class CTraceFacility {
 public:
  // At module load: the lock, and an unowned mutex named after the process id, kept open; nothing here waits on it.
  explicit CTraceFacility(HMODULE hModule);
  // At module unload: closes the trace file, the mutex and the lock.
  ~CTraceFacility();
  CTraceFacility(const CTraceFacility&) = delete;
  CTraceFacility& operator=(const CTraceFacility&) = delete;

  // Re-reads the flags when dwTick is past the next-refresh tick (30 s after the last read), and initialises
  // verbosity and component switch again when the flags changed.
  void Refresh(DWORD dwTick);

  void Enter(CTraceScope& scope, const char* szName);
  void Leave(const CTraceScope& scope);
  void Message(const CTraceScope& scope, const char* szFormat, va_list args);
  void Error(const CTraceScope& scope, const char* szText, HRESULT hr);

 private:
  class CLock;

  void Initialise(DWORD dwFlags);
  bool IsScopeTraced(const CTraceScope& scope) const;
  void WriteTimeRecords(const CTraceScope* pScope);
  // Formats the text into 261 bytes, cut at 260 characters.
  void WriteFormattedRecord(char chKind, const CTraceScope* pScope, const char* szFormat, ...);
  void WriteRecord(char chKind, const char* pchText, size_t cchText, const CTraceScope* pScope);
  void CreateOutput();

  const HMODULE m_hModule;
  DWORD m_dwSessionId = 0;
  HANDLE m_hProcessMutex = nullptr;
  CRITICAL_SECTION m_cs;
  std::atomic<DWORD> m_dwFlags{0};
  LONG m_lVerbosity = 0;
  bool m_bComponentTraced = true;
  SYSTEMTIME m_stLast = {};
  std::unique_ptr<COutput> m_pOutput;
};

// The facility of this module from SetModuleHandle to Shutdown; none outside that time.
extern CTraceFacility* g_pTraceFacility;

}  // namespace VmTraceNS
