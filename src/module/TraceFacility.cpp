#include "module/TraceFacility.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "module/TraceFormat.h"
#include "module/TraceHeader.h"
#include "module/TraceSettings.h"

namespace VmTraceNS {
namespace {

constexpr DWORD kRefreshInterval = 30000;
constexpr size_t kMessageUnits = 400;
constexpr size_t kMaxMessageBytes = 399;
// Every UTF-16 unit of a message becomes at most three UTF-8 bytes.
constexpr size_t kMessageBytesBuffer = 3 * kMessageUnits;
constexpr size_t kMaxRecordText = kMaxMessageBytes;

// The UTF-8 text of a message, cut at 399 bytes on a character boundary. False when the format gives no record.
bool BuildMessageText(const char* szFormat, va_list args, char (&szText)[kMessageBytesBuffer], size_t& cbText) {
  cbText = 0;
  if (!szFormat || !*szFormat) return true;
  wchar_t wszFormat[kMessageUnits];
  if (!MultiByteToWideChar(CP_ACP, 0, szFormat, -1, wszFormat, kMessageUnits)) return false;
  // In a wide format "%s" and "%c" take wide arguments, but callers pass narrow ones.
  for (;;) {
    wchar_t* pwchConversion = wcsstr(wszFormat, L"%s");
    if (!pwchConversion) pwchConversion = wcsstr(wszFormat, L"%c");
    if (!pwchConversion) break;
    const size_t cchFormat = wcslen(wszFormat);
    if (cchFormat + 1 >= kMessageUnits) return false;
    wmemmove(pwchConversion + 2, pwchConversion + 1, wszFormat + cchFormat - pwchConversion);
    pwchConversion[1] = L'h';
  }
  wchar_t wszText[kMessageUnits];
  // Longer results are cut: the return value only reports that.
  _vsnwprintf_s(wszText, kMessageUnits, _TRUNCATE, wszFormat, args);
  const int cbConverted =
      WideCharToMultiByte(CP_UTF8, 0, wszText, -1, szText, static_cast<int>(kMessageBytesBuffer), nullptr, nullptr);
  cbText = cbConverted > 0 ? static_cast<size_t>(cbConverted - 1) : 0;
  if (cbText > kMaxMessageBytes) {
    cbText = kMaxMessageBytes;
    while (cbText > 0 && (static_cast<unsigned char>(szText[cbText]) & 0xC0) == 0x80) --cbText;
  }
  return true;
}

}  // namespace

// Also keeps the thread's last error: callers may trace between a failed call and GetLastError.
class CTraceFacility::CLock {
 public:
  explicit CLock(CRITICAL_SECTION& cs) : m_cs(cs), m_dwLastError(GetLastError()) { EnterCriticalSection(&m_cs); }
  ~CLock() {
    LeaveCriticalSection(&m_cs);
    SetLastError(m_dwLastError);
  }
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;

 private:
  CRITICAL_SECTION& m_cs;
  const DWORD m_dwLastError;
};

CTraceFacility* g_pTraceFacility = nullptr;

CTraceFacility::CTraceFacility(HMODULE hModule) : m_hModule(hModule), m_dwFlags(TRACE_FLAGS_UNKNOWN) {
  InitializeCriticalSection(&m_cs);
  wchar_t wszMutex[16];
  _snwprintf_s(wszMutex, _countof(wszMutex), _TRUNCATE, L"%lu", GetCurrentProcessId());
  m_hProcessMutex = CreateMutexW(nullptr, FALSE, wszMutex);
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &m_dwSessionId)) m_dwSessionId = 0;
}

CTraceFacility::~CTraceFacility() {
  m_pOutput.reset();
  if (m_hProcessMutex) CloseHandle(m_hProcessMutex);
  DeleteCriticalSection(&m_cs);
}

void CTraceFacility::Refresh(DWORD dwTick) {
  if (dwTick <= g_dwNextRefresh) return;
  const CTracingKey key;
  const DWORD dwFlags = key.ReadFlags();
  if (dwFlags != m_dwFlags) {
    const CLock lock(m_cs);
    g_dwNextRefresh = 0;
    Initialise(dwFlags);
  }
  g_dwNextRefresh.exchange(dwTick + kRefreshInterval);
}

void CTraceFacility::Initialise(DWORD dwFlags) {
  CModuleFileName module;
  if (!SplitModuleFileName(m_hModule, module)) module.wszName[0] = L'\0';
  m_dwFlags = dwFlags;
  g_bTracing = (dwFlags & TRACE_FLAG_ON) != 0;
  const CTracingKey key;
  if (key.IsOpen()) m_lVerbosity = static_cast<LONG>(key.ReadDword(L"Verbosity", 0));
  m_bComponentTraced = key.IsComponentTraced(module.wszName);
}

bool CTraceFacility::IsScopeTraced(const CTraceScope& scope) const {
  return m_bComponentTraced && m_lVerbosity >= std::llabs(scope.m_iLevel);
}

void CTraceFacility::Enter(CTraceScope& scope, const char* szName) {
  if (!(m_dwFlags & TRACE_FLAG_ON)) return;
  const CLock lock(m_cs);
  strncpy_s(scope.m_szName, sizeof(scope.m_szName), szName && *szName ? szName : "????", _TRUNCATE);
  if (!IsScopeTraced(scope)) return;
  WriteTimeRecords(&scope);
  WriteRecord(TRACE_ENTRY, scope.m_szName, strlen(scope.m_szName), &scope);
}

void CTraceFacility::Leave(const CTraceScope& scope) {
  if (!(m_dwFlags & TRACE_FLAG_ON)) return;
  const CLock lock(m_cs);
  if (!IsScopeTraced(scope)) return;
  WriteTimeRecords(&scope);
  WriteRecord(TRACE_EXIT, nullptr, 0, &scope);
}

void CTraceFacility::Message(const CTraceScope& scope, const char* szFormat, va_list args) {
  if ((m_dwFlags & (TRACE_FLAG_ON | TRACE_FLAG_PROFILING)) != TRACE_FLAG_ON) return;
  const CLock lock(m_cs);
  if (!IsScopeTraced(scope)) return;
  char szText[kMessageBytesBuffer];
  size_t cbText = 0;
  if (!BuildMessageText(szFormat, args, szText, cbText)) return;
  WriteTimeRecords(&scope);
  WriteRecord(TRACE_MESSAGE, szText, cbText, &scope);
}

void CTraceFacility::Error(const CTraceScope& scope, const char* szText, HRESULT hr) {
  if (!(m_dwFlags & TRACE_FLAG_ON) || (SUCCEEDED(hr) && HRESULT_FACILITY(hr) != FACILITY_SECURITY)) return;
  const CLock lock(m_cs);
  WriteTimeRecords(&scope);
  WriteFormattedRecord(TRACE_ERROR, &scope, "%d %s", static_cast<int>(hr), szText ? szText : "");
}

void CTraceFacility::WriteTimeRecords(const CTraceScope* pScope) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  const bool bNewDate = st.wYear != m_stLast.wYear || st.wMonth != m_stLast.wMonth || st.wDay != m_stLast.wDay;
  const bool bNewTime = bNewDate || st.wHour != m_stLast.wHour || st.wMinute != m_stLast.wMinute ||
                        st.wSecond != m_stLast.wSecond || st.wMilliseconds != m_stLast.wMilliseconds;
  if (bNewDate) WriteFormattedRecord(TRACE_DATE, pScope, "%02d/%02d/%02d", st.wMonth, st.wDay, st.wYear % 100);
  if (!bNewTime) return;
  WriteFormattedRecord(TRACE_TIME, pScope, "%02d:%02d:%02d.%03d", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
  m_stLast = st;
}

void CTraceFacility::WriteFormattedRecord(char chKind, const CTraceScope* pScope, const char* szFormat, ...) {
  char szText[TRACE_MAX_FORMATTED + 1];
  va_list args;
  va_start(args, szFormat);
  const size_t cchText = FormatTraceText(szText, szFormat, args);
  va_end(args);
  WriteRecord(chKind, szText, cchText, pScope);
}

void CTraceFacility::WriteRecord(char chKind, const char* pchText, size_t cchText, const CTraceScope* pScope) {
  if (!m_pOutput) CreateOutput();
  if (!m_pOutput) return;
  uint8_t abRecord[TRACE_RECORD_HEADER_SIZE + kMaxRecordText];
  const DWORD dwThreadId = GetCurrentThreadId();
  for (int i = 0; i < 4; ++i) abRecord[i] = static_cast<uint8_t>(dwThreadId >> (8 * i));
  abRecord[4] = static_cast<uint8_t>(chKind);
  abRecord[5] = static_cast<uint8_t>(cchText);
  abRecord[6] = static_cast<uint8_t>(cchText >> 8);
  if (cchText) memcpy(abRecord + TRACE_RECORD_HEADER_SIZE, pchText, cchText);
  m_pOutput->Write(abRecord, static_cast<DWORD>(TRACE_RECORD_HEADER_SIZE + cchText), pScope);
}

void CTraceFacility::CreateOutput() {
  const CTracingKey key;
  if (key.ReadDword(L"DoTrace", 0) == 0 || key.ReadDword(L"TraceToFile", 1) != 1) {
    m_pOutput.reset(new (std::nothrow) CNoOutput);
    return;
  }
  wchar_t wszPath[MAX_PATH + 1];
  CFileOutput* pFile =
      new (std::nothrow) CFileOutput(GetTraceFilePath(key, m_hModule, m_dwSessionId, wszPath) ? wszPath : L"",
                                     (m_dwFlags & TRACE_FLAG_NEW_FILE_ALWAYS) != 0);
  m_pOutput.reset(pFile);
  if (!pFile) return;
  if (pFile->IsNewFile()) {
    WriteTraceHeader(*pFile, m_hModule);
    return;
  }
  SYSTEMTIME st;
  GetLocalTime(&st);
  WriteFormattedRecord(TRACE_NEW_PROCESS, nullptr, "%02d-%02d-%02d", st.wMonth, st.wDay, st.wYear);
}

}  // namespace VmTraceNS
