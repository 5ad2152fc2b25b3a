#include "outlook/OutlookRestart.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>
#include <string>

#include "com/LateBound.h"
#include "com/Variant.h"
#include "module/AddInModule.h"
#include "module/Trace.h"

namespace {

// Outlook gets this long to end before the restart is given up.
constexpr DWORD kOutlookExitWait = 15000;

// Closes a handle at scope exit.
class CHandle {
 public:
  explicit CHandle(HANDLE h) : m_h(h) {}
  ~CHandle() {
    if (m_h) CloseHandle(m_h);
  }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  HANDLE Get() const { return m_h; }

 private:
  HANDLE m_h;
};

}  // namespace

void StartRestarter() {
  CTraceScope scope("StartRestarter()");
  wchar_t wszOutlookPath[MAX_PATH] = {};
  wchar_t wszModulePath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszOutlookPath, MAX_PATH);
  GetModuleFileNameW(g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr, wszModulePath, MAX_PATH);
  // rundll32 reads the module up to the first comma: quoted from Windows 6 on, short before.
  wchar_t wszCommandModule[MAX_PATH + 2] = {};
  if (LOBYTE(LOWORD(GetVersion())) >= 6) {
    lstrcpynW(wszCommandModule, wszModulePath, MAX_PATH);
    PathQuoteSpacesW(wszCommandModule);
  } else {
    GetShortPathNameW(wszModulePath, wszCommandModule, MAX_PATH);
  }
  wchar_t wszFolder[MAX_PATH] = {};
  lstrcpynW(wszFolder, wszModulePath, MAX_PATH);
  PathRemoveFileSpecW(wszFolder);
  wchar_t wszCommandLine[3 * MAX_PATH] = {};
  swprintf(wszCommandLine, 3 * MAX_PATH, L"%ls,OX_Restart %d,%ls", wszCommandModule,
           static_cast<int>(GetCurrentProcessId()), wszOutlookPath);
  scope.Message("rundll32.exe %ls", wszCommandLine);
  ShellExecuteW(nullptr, L"open", L"rundll32.exe", wszCommandLine, wszFolder, SW_SHOWNORMAL);
}

void RunRestarter(const wchar_t* wszCommandLine) {
  CTraceScope scope("RunRestarter()");
  const std::wstring wsCommandLine = wszCommandLine ? wszCommandLine : L"";
  const size_t nComma = wsCommandLine.find(L',');
  if (nComma == std::wstring::npos) {
    scope.Error("no process id and path", E_INVALIDARG);
    return;
  }
  const DWORD dwProcessId = wcstoul(wsCommandLine.c_str(), nullptr, 10);
  const std::wstring wsPath = wsCommandLine.substr(nComma + 1);
  const wchar_t* wszName = PathFindFileNameW(wsPath.c_str());
  scope.Message("process %u, %ls", static_cast<unsigned>(dwProcessId), wsPath.c_str());

  CHandle mutex(CreateMutexW(nullptr, FALSE, wszName));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another restarter is at work; whoever listens learns of the second request.
    DWORD dwRecipients = BSM_APPLICATIONS;
    BroadcastSystemMessageW(BSF_POSTMESSAGE | BSF_IGNORECURRENTTASK | BSF_FORCEIFHUNG, &dwRecipients,
                            RegisterWindowMessageW(wszName), 0, 0);
    scope.Message("another restarter is running");
    return;
  }
  CHandle process(OpenProcess(SYNCHRONIZE, FALSE, dwProcessId));
  if (process.Get() && WaitForSingleObject(process.Get(), kOutlookExitWait) != WAIT_OBJECT_0) {
    scope.Error("Outlook did not end", HRESULT_FROM_WIN32(WAIT_TIMEOUT));
    return;
  }
  ShellExecuteW(nullptr, L"open", wsPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LONG WINAPI ExecuteMsoExceptionFilter(EXCEPTION_POINTERS* pExceptionPointers) {
  CTraceScope scope("ExecuteMsoExceptionFilter");
  if (pExceptionPointers && pExceptionPointers->ExceptionRecord) {
    const EXCEPTION_RECORD& record = *pExceptionPointers->ExceptionRecord;
    scope.Message("Unhandled exception 0x%08X at 0x%08X", static_cast<unsigned>(record.ExceptionCode),
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(record.ExceptionAddress)));
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

HRESULT ExecuteOfficeCommand(IDispatch* pCommandBars, BSTR bsIdMso) {
  CTraceScope scope("ExecuteOfficeCommand");
  // The previous filter is back on every path, a throwing call included.
  const struct CFilterScope {
    LPTOP_LEVEL_EXCEPTION_FILTER pfnPrevious = SetUnhandledExceptionFilter(ExecuteMsoExceptionFilter);
    ~CFilterScope() { SetUnhandledExceptionFilter(pfnPrevious); }
  } filter;
  return GuardComEntry(scope, [&] {
    CComVariant varIdMso(bsIdMso ? static_cast<const wchar_t*>(bsIdMso) : L"");
    const HRESULT hr = pCommandBars ? LateBound::Call(pCommandBars, L"ExecuteMso", {varIdMso}) : E_POINTER;
    scope.Message("ExecuteMso(%ls) = 0x%08X", varIdMso.bstrVal, static_cast<unsigned>(hr));
    return hr;
  });
}
