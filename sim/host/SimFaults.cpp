#include "SimFaults.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace Sim {
namespace {

std::atomic<bool> g_bCounting{false};
std::atomic<LONG> g_lCalls{0};
std::atomic<bool> g_bInjected{false};
LONG g_lFailAt = 0;
std::wstring g_wsCaller;
HRESULT g_hrFault = E_FAIL;

// Whether code of this module is an add-in's: not the program, not the system's, not the
// simulator's own libraries (which stand in for parts of Office).
bool IsAddInModule(HMODULE hModule) {
  static std::mutex lock;
  static std::map<HMODULE, bool> known;
  const std::lock_guard<std::mutex> guard(lock);
  auto it = known.find(hModule);
  if (it != known.end()) return it->second;
  wchar_t wszPath[MAX_PATH] = {}, wszSystem[MAX_PATH] = {};
  GetModuleFileNameW(hModule, wszPath, MAX_PATH);
  GetWindowsDirectoryW(wszSystem, MAX_PATH);
  const std::wstring wsPath = CharLowerW(wszPath), wsSystem = CharLowerW(wszSystem);
  const bool bAddIn = hModule != GetModuleHandleW(nullptr) && wsPath.rfind(wsSystem, 0) != 0 &&
                      wsPath.find(L"\\officesim\\") == std::wstring::npos;
  return known[hModule] = bAddIn;
}

}  // namespace

void PlanFault(LONG lFailAt, HRESULT hr) {
  g_lFailAt = lFailAt;
  g_hrFault = hr;
  g_lCalls = 0;
  g_bInjected = false;
  g_bCounting = true;
}

LONG AddInCalls() { return g_lCalls; }

bool FaultInjected() { return g_bInjected; }

std::wstring FaultCaller() { return g_wsCaller; }

bool FailCall(void* pvCaller, HRESULT* phr) {
  if (!g_bCounting) return false;
  HMODULE hModule = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(pvCaller), &hModule) ||
      !IsAddInModule(hModule)) {
    return false;
  }
  if (++g_lCalls != g_lFailAt) return false;
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(hModule, wszPath, MAX_PATH);
  const wchar_t* pwszName = wcsrchr(wszPath, L'\\');
  wchar_t wszOffset[24];
  wsprintfW(wszOffset, L"+0x%lx",
            static_cast<unsigned long>(static_cast<BYTE*>(pvCaller) - reinterpret_cast<BYTE*>(hModule)));
  g_wsCaller = std::wstring(pwszName ? pwszName + 1 : wszPath) + wszOffset;
  g_bInjected = true;
  *phr = g_hrFault;
  return true;
}

}  // namespace Sim
