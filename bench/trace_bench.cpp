// Cost of a traced scope, measured side by side in one run: with tracing off against the same call reading the
// tick count instead (the least a scope must do, to notice new settings), and with tracing on against writing
// the same records with plain WriteFile. Sets and removes its own
// tracing values under HKLM, so run it in a prefix of its own.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/Trace.h"

namespace {

constexpr wchar_t kTracingKey[] = L"SOFTWARE\\Velmora\\Tracing";
constexpr int kCallsOff = 20000000;
constexpr int kCallsOn = 100000;

volatile LONG g_lSink = 0;

void UntracedCall() { g_lSink = g_lSink + 1; }

void TickCountCall() { g_lSink = g_lSink + static_cast<LONG>(GetTickCount()); }

void TracedCall() {
  CTraceScope trace("CBench::TracedCall");
  g_lSink = g_lSink + 1;
}

// Called through a pointer, so that neither call is inlined into the loop.
void (*volatile g_pfnCall)() = nullptr;

double SecondsFor(void (*pfnCall)(), int cCalls) {
  g_pfnCall = pfnCall;
  LARGE_INTEGER liFrequency, liStart, liEnd;
  QueryPerformanceFrequency(&liFrequency);
  QueryPerformanceCounter(&liStart);
  for (int i = 0; i < cCalls; ++i) g_pfnCall();
  QueryPerformanceCounter(&liEnd);
  return static_cast<double>(liEnd.QuadPart - liStart.QuadPart) / static_cast<double>(liFrequency.QuadPart);
}

void SetTracing(const wchar_t* wszName, DWORD dwType, const void* pvData, DWORD cbData) {
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kTracingKey, wszName, dwType, pvData, cbData);
}

// The records of a trace file (everything after its header), each as written.
std::vector<std::string> ReadRecords(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  const std::string sData((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  std::vector<std::string> records;
  for (size_t iPos = sData.find("\r\n.\r\n") + 5; iPos + 7 <= sData.size();) {
    const size_t cbRecord = 7 + (static_cast<uint8_t>(sData[iPos + 5]) | static_cast<uint8_t>(sData[iPos + 6]) << 8);
    records.push_back(sData.substr(iPos, cbRecord));
    iPos += cbRecord;
  }
  return records;
}

double SecondsToWrite(const std::vector<std::string>& records, const std::filesystem::path& path) {
  const HANDLE hFile = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  LARGE_INTEGER liFrequency, liStart, liEnd;
  QueryPerformanceFrequency(&liFrequency);
  QueryPerformanceCounter(&liStart);
  for (const std::string& sRecord : records) {
    DWORD cbWritten = 0;
    WriteFile(hFile, sRecord.data(), static_cast<DWORD>(sRecord.size()), &cbWritten, nullptr);
  }
  QueryPerformanceCounter(&liEnd);
  CloseHandle(hFile);
  return static_cast<double>(liEnd.QuadPart - liStart.QuadPart) / static_cast<double>(liFrequency.QuadPart);
}

}  // namespace

int main() {
  const HMODULE hModule = GetModuleHandleW(nullptr);
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vmtrace-bench";
  std::filesystem::create_directories(dir);
  const std::wstring wsTraceFile = (dir / "bench.trc3").wstring();

  HKEY hExisting = nullptr;
  const bool bKeyExisted = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTracingKey, 0, KEY_READ, &hExisting) == ERROR_SUCCESS;
  if (bKeyExisted) RegCloseKey(hExisting);
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kTracingKey, L"DoTrace");
  VmTraceNS::SetModuleHandle(hModule);
  // The best of five rounds, alternating, so that other programs on the machine move no ratio.
  double dOffTraced = 1e9, dOffTick = 1e9, dOffUntraced = 1e9;
  for (int iRound = 0; iRound < 5; ++iRound) {
    dOffTraced = std::min(dOffTraced, SecondsFor(TracedCall, kCallsOff));
    dOffTick = std::min(dOffTick, SecondsFor(TickCountCall, kCallsOff));
    dOffUntraced = std::min(dOffUntraced, SecondsFor(UntracedCall, kCallsOff));
  }
  printf(
      "tracing off: traced call %.1f ns, call reading the tick count %.1f ns (ratio %.2f, target <= 1.5), "
      "untraced call %.1f ns\n",
      1e9 * dOffTraced / kCallsOff, 1e9 * dOffTick / kCallsOff, dOffTraced / dOffTick, 1e9 * dOffUntraced / kCallsOff);

  const DWORD dwOn = 1;
  SetTracing(L"DoTrace", REG_DWORD, &dwOn, sizeof(dwOn));
  SetTracing(L"FileName", REG_SZ, wsTraceFile.c_str(), static_cast<DWORD>((wsTraceFile.size() + 1) * sizeof(wchar_t)));
  VmTraceNS::SetModuleHandle(hModule);
  const double dOnTraced = SecondsFor(TracedCall, kCallsOn);
  VmTraceNS::Shutdown();
  const std::vector<std::string> records = ReadRecords(wsTraceFile);
  const double dOnPlain = SecondsToWrite(records, dir / "plain.bin");
  printf(
      "tracing on: %d scopes, %zu records; traced %.2f us a scope, WriteFile of the same records %.2f us, ratio %.2f\n",
      kCallsOn, records.size(), 1e6 * dOnTraced / kCallsOn, 1e6 * dOnPlain / kCallsOn, dOnTraced / dOnPlain);

  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kTracingKey, L"DoTrace");
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kTracingKey, L"FileName");
  if (!bKeyExisted) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTracingKey, KEY_WOW64_64KEY, 0);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
