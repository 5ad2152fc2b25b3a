// ofcsim: plays a scenario script against the simulated Outlook.
// Usage: ofcsim [--register DLL]... [--only PROGID]... [--profile FILE] [--log FILE] [--fault K[:HRESULT]]
//              [/SWITCH]... SCRIPT
//   --register  registers an add-in DLL for the run (DllRegisterServer) and removes it afterwards
//   --only      loads only the add-ins of these ProgIDs
//   --profile   keeps the MAPI profile in FILE (kept afterwards) instead of a temporary file
//   --log       appends what the run prints to FILE
//   --fault     the K-th call an add-in makes into Office fails with HRESULT (default E_FAIL); K 0 only
//               counts them. Failed steps no longer end the play; the count is printed at the end.
//   /SWITCH     Office's own switches, such as the launch point "/P12", are accepted and not acted on
// Started without arguments, as Outlook is started again after a restart, it takes the arguments
// that a scenario's "relaunch" step left in HKCU\Software\OfficeSim (once). Started by COM for
// Outlook.Application ("-Embedding"), it takes "AutomationArguments" there. Outlook serves that
// class while it runs, however it was started.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Scenario.h"
#include "SimFaults.h"

namespace {

// Unix paths from the build reach the program through Wine's drive Z:.
std::wstring WindowsPath(std::wstring ws) {
  if (ws.empty() || ws[0] != L'/') return ws;
  for (wchar_t& wc : ws) wc = wc == L'/' ? L'\\' : wc;
  return L"Z:" + ws;
}

// "/P12", not a Unix path such as "/tmp/x.scn".
bool IsOfficeSwitch(const std::wstring& wsArg) {
  return wsArg.size() > 1 && wsArg[0] == L'/' && wsArg.find_first_of(L"/\\.", 1) == std::wstring::npos;
}

HRESULT CallExport(HMODULE hModule, const char* szName) {
  using PFN = HRESULT(WINAPI*)();
  auto pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hModule, szName)));
  return pfn ? pfn() : E_NOINTERFACE;
}

// COM starts a local server with this switch.
bool IsEmbedding(const std::wstring& wsArg) {
  return !_wcsicmp(wsArg.c_str(), L"-Embedding") || !_wcsicmp(wsArg.c_str(), L"/Embedding");
}

// The arguments stored for a start that names none: those a scenario left for the next start
// (used once), or those of a start by COM.
std::vector<std::wstring> StoredArguments(const wchar_t* wszValue, bool bOnce) {
  wchar_t wszLine[2048] = {};
  DWORD cbLine = sizeof wszLine - sizeof(wchar_t);
  std::vector<std::wstring> args;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\OfficeSim", wszValue, RRF_RT_REG_SZ, nullptr, wszLine, &cbLine) !=
      ERROR_SUCCESS) {
    return args;
  }
  if (bOnce) RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\OfficeSim", wszValue);
  int cArgs = 0;
  wchar_t** ppArgs = CommandLineToArgvW((std::wstring(L"ofcsim ") + wszLine).c_str(), &cArgs);
  for (int i = 0; ppArgs && i < cArgs; ++i) args.push_back(ppArgs[i]);
  LocalFree(ppArgs);
  return args;
}

// COM starts a local server without a console, so the C runtime has no standard output that
// "--log" could redirect: the server runs again as a child with one, and lives as long as it.
int RunWithStandardOutput() {
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
  HANDLE hNul =
      CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = hNul;
  PROCESS_INFORMATION process = {};
  std::wstring wsCommandLine = GetCommandLineW();
  DWORD dwExitCode = 2;
  if (CreateProcessW(nullptr, wsCommandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &dwExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(hNul);
  return static_cast<int>(dwExitCode);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv, argv + argc);
  Sim::SOutlookOptions options;
  const bool bAutomation = argc == 2 && IsEmbedding(args[1]);
  if (bAutomation && _fileno(stdout) < 0) return RunWithStandardOutput();
  if (argc == 1) args = StoredArguments(L"RelaunchArguments", true);
  if (bAutomation) args = StoredArguments(L"AutomationArguments", false);
  argc = static_cast<int>(args.size());
  std::vector<HMODULE> registered;
  std::wstring wsScript;
  int iResult = 0;
  bool bLog = false;
  bool bFaults = false;
  for (int i = 1; i < argc && !iResult; ++i) {
    const std::wstring wsArg = args[i];
    if (wsArg == L"--only" && i + 1 < argc) {
      options.onlyAddIns.push_back(args[++i]);
    } else if (wsArg == L"--profile" && i + 1 < argc) {
      options.wsProfilePath = WindowsPath(args[++i]);
    } else if (wsArg == L"--log" && i + 1 < argc) {
      bLog = true;
      if (!_wfreopen(WindowsPath(args[++i]).c_str(), L"a", stdout)) iResult = 2;
    } else if (wsArg == L"--register" && i + 1 < argc) {
      const std::wstring wsDll = WindowsPath(args[++i]);
      HMODULE hModule = LoadLibraryW(wsDll.c_str());
      const HRESULT hr = hModule ? CallExport(hModule, "DllRegisterServer") : HRESULT_FROM_WIN32(GetLastError());
      if (hModule) registered.push_back(hModule);
      if (FAILED(hr)) fwprintf(stderr, L"ofcsim: cannot register %ls: 0x%08lX\n", wsDll.c_str(), hr), iResult = 2;
    } else if (wsArg == L"--fault" && i + 1 < argc) {
      wchar_t* pwszEnd = nullptr;
      const LONG lFailAt = wcstol(args[++i].c_str(), &pwszEnd, 10);
      const HRESULT hr = *pwszEnd == L':' ? static_cast<HRESULT>(wcstoul(pwszEnd + 1, &pwszEnd, 0)) : E_FAIL;
      if (lFailAt < 0 || *pwszEnd) iResult = 2;
      Sim::PlanFault(lFailAt, hr);
      bFaults = true;
    } else if (IsOfficeSwitch(wsArg)) {
      // Office's own switches ("/P12", the launch point of the suite's programs) are not acted on.
    } else if (wsScript.empty() && wsArg[0] != L'-') {
      wsScript = WindowsPath(wsArg);
    } else {
      iResult = 2;
    }
  }
  if (wsScript.empty() || iResult) {
    fwprintf(stderr,
             L"usage: ofcsim [--register DLL]... [--only PROGID]... [--profile FILE] [--log FILE] "
             L"[--fault K[:HRESULT]] [/SWITCH]... SCRIPT\n");
    iResult = 2;
  }
  if (!iResult && SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    Sim::CScenario scenario(wsScript, options, bLog ? L"ofcsim: exit code 1\n" : L"");
    if (bFaults) scenario.KeepGoing();
    iResult = scenario.Run();
    CoUninitialize();
  }
  if (bFaults) {
    printf("ofcsim: add-in calls into Office: %ld; fault injected: %ls\n", Sim::AddInCalls(),
           Sim::FaultInjected() ? (L"yes, called from " + Sim::FaultCaller()).c_str() : L"no");
  }
  for (HMODULE hModule : registered) {
    CallExport(hModule, "DllUnregisterServer");
    FreeLibrary(hModule);
  }
  // Whoever waits for a run that nobody started by hand reads its end here.
  if (bLog) printf("ofcsim: exit code %d\n", iResult), fflush(stdout);
  return iResult;
}
