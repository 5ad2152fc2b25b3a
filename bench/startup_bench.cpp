// The Outlook add-in's start-up cost as Outlook's resiliency check sees it: the time of
// OnConnection plus OnStartupComplete, median of five starts of the simulated Outlook, as a share
// of Outlook's 1000 ms limit. The simulator's own test add-in, loaded in the same starts, is the
// baseline. Needs the module registered (tools/install-prefix.sh).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "SimOutlook.h"

namespace {

constexpr int kStarts = 5;
constexpr double kOutlookLimitMs = 1000.0;
constexpr wchar_t kModuleAddIn[] = L"VmOfcX.ComposeRibbon";
constexpr wchar_t kBaselineAddIn[] = L"OfficeSim.TestAddIn";

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

HRESULT CallExport(HMODULE hModule, const char* szName) {
  using PFN = HRESULT(WINAPI*)();
  auto pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hModule, szName)));
  return pfn ? pfn() : E_NOINTERFACE;
}

}  // namespace

int main() {
  // The test add-in of the same build: bench\..\sim\SimTestAddIn.dll.
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
  std::wstring wsBaseline = wszPath;
  wsBaseline.erase(wsBaseline.find_last_of(L'\\'));
  wsBaseline = wsBaseline.substr(0, wsBaseline.find_last_of(L'\\')) + L"\\sim\\SimTestAddIn.dll";
  HMODULE hBaseline = LoadLibraryW(wsBaseline.c_str());
  if (!hBaseline || FAILED(CallExport(hBaseline, "DllRegisterServer"))) {
    fwprintf(stderr, L"cannot register %ls\n", wsBaseline.c_str());
    return 1;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  wchar_t wszFolder[MAX_PATH] = {}, wszProfile[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, wszFolder);
  GetTempFileNameW(wszFolder, L"olb", 0, wszProfile);
  std::vector<double> connection, startup, total, baseline;
  int iResult = 0;
  for (int i = 0; i < kStarts && !iResult; ++i) {
    Sim::SOutlookOptions options;
    options.onlyAddIns = {kModuleAddIn, kBaselineAddIn};
    options.wsProfilePath = wszProfile;
    // Without a logged-on profile Startup asks nothing; the start-up steps measured are the same.
    options.bOffline = true;
    CComPtr<Sim::COutlook> cpOutlook;
    cpOutlook.Attach(new Sim::COutlook(options));
    cpOutlook->Start();
    Sim::SStartupCost cost, baselineCost;
    if (!cpOutlook->StartupCost(kModuleAddIn, &cost) || !cpOutlook->StartupCost(kBaselineAddIn, &baselineCost)) {
      fwprintf(stderr, L"the add-ins did not load\n");
      iResult = 1;
    }
    cpOutlook->Quit();
    connection.push_back(cost.dConnectionMs);
    startup.push_back(cost.dStartupCompleteMs);
    total.push_back(cost.dConnectionMs + cost.dStartupCompleteMs);
    baseline.push_back(baselineCost.dConnectionMs + baselineCost.dStartupCompleteMs);
  }
  if (!iResult) {
    const double dTotal = Median(total);
    const double dBaseline = Median(baseline);
    printf("median of %d starts of the simulated Outlook 2010:\n", kStarts);
    printf("  %ls: OnConnection %.2f ms, OnStartupComplete %.2f ms, together %.2f ms\n", kModuleAddIn,
           Median(connection), Median(startup), dTotal);
    printf("  share of Outlook's %.0f ms limit: %.4f\n", kOutlookLimitMs, dTotal / kOutlookLimitMs);
    printf("  baseline (%ls, same starts): %.2f ms; the add-in costs %.1f times the baseline\n", kBaselineAddIn,
           dBaseline, dBaseline > 0 ? dTotal / dBaseline : 0.0);
  }
  DeleteFileW(wszProfile);
  CoUninitialize();
  CallExport(hBaseline, "DllUnregisterServer");
  FreeLibrary(hBaseline);
  return iResult;
}
