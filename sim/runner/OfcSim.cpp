// ofcsim: plays a scenario script against the simulated Outlook.
// Usage: ofcsim [--register DLL]... [--only PROGID]... SCRIPT
//   --register  registers an add-in DLL for the run (DllRegisterServer) and removes it afterwards
//   --only      loads only the add-ins of these ProgIDs
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Scenario.h"

namespace {

// Unix paths from the build reach the program through Wine's drive Z:.
std::wstring WindowsPath(std::wstring ws) {
  if (ws.empty() || ws[0] != L'/') return ws;
  for (wchar_t& wc : ws) wc = wc == L'/' ? L'\\' : wc;
  return L"Z:" + ws;
}

HRESULT CallExport(HMODULE hModule, const char* szName) {
  using PFN = HRESULT(WINAPI*)();
  auto pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hModule, szName)));
  return pfn ? pfn() : E_NOINTERFACE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Sim::SOutlookOptions options;
  std::vector<HMODULE> registered;
  std::wstring wsScript;
  int iResult = 0;
  for (int i = 1; i < argc && !iResult; ++i) {
    const std::wstring wsArg = argv[i];
    if (wsArg == L"--only" && i + 1 < argc) {
      options.onlyAddIns.push_back(argv[++i]);
    } else if (wsArg == L"--register" && i + 1 < argc) {
      const std::wstring wsDll = WindowsPath(argv[++i]);
      HMODULE hModule = LoadLibraryW(wsDll.c_str());
      const HRESULT hr = hModule ? CallExport(hModule, "DllRegisterServer") : HRESULT_FROM_WIN32(GetLastError());
      if (hModule) registered.push_back(hModule);
      if (FAILED(hr)) fwprintf(stderr, L"ofcsim: cannot register %ls: 0x%08lX\n", wsDll.c_str(), hr), iResult = 2;
    } else if (wsScript.empty() && wsArg[0] != L'-') {
      wsScript = WindowsPath(wsArg);
    } else {
      iResult = 2;
    }
  }
  if (wsScript.empty() || iResult) {
    fwprintf(stderr, L"usage: ofcsim [--register DLL]... [--only PROGID]... SCRIPT\n");
    iResult = 2;
  }
  if (!iResult && SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    iResult = Sim::CScenario(wsScript, options).Run();
    CoUninitialize();
  }
  for (HMODULE hModule : registered) {
    CallExport(hModule, "DllUnregisterServer");
    FreeLibrary(hModule);
  }
  return iResult;
}
