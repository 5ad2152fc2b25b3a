#include "module/TraceHeader.h"

#include <cstdarg>
#include <memory>
#include <new>

#include "module/TraceFormat.h"
#include "module/TraceOutput.h"

namespace VmTraceNS {
namespace {

// Formats one line, cut at 260 characters; bKeepLineEnd makes a cut line still end in CR LF.
void WriteLine(CFileOutput& output, bool bKeepLineEnd, const char* szFormat, ...) {
  char szLine[TRACE_MAX_FORMATTED + 1];
  va_list args;
  va_start(args, szFormat);
  const size_t cchLine = FormatTraceText(szLine, szFormat, args);
  va_end(args);
  if (bKeepLineEnd && cchLine == TRACE_MAX_FORMATTED && szLine[cchLine - 1] != '\n') {
    szLine[cchLine - 2] = '\r';
    szLine[cchLine - 1] = '\n';
  }
  output.WritePlain(szLine, static_cast<DWORD>(cchLine));
}

const char* GetSystemName(const OSVERSIONINFOEXA& osvi) {
  if (osvi.dwPlatformId != VER_PLATFORM_WIN32_NT) return nullptr;
  if (osvi.dwMajorVersion == 6 && osvi.dwMinorVersion == 1) return "Windows7";
  if (osvi.dwMajorVersion == 6 && osvi.dwMinorVersion == 0)
    return osvi.wProductType != VER_NT_WORKSTATION ? "Server2008" : "WindowsVista";
  if (osvi.dwMajorVersion != 5) return nullptr;
  if (osvi.dwMinorVersion == 1) return "WindowsXP";
  return osvi.dwMinorVersion == 2 ? "Server2003" : "Windows2000";
}

void WriteSystemLines(CFileOutput& output) {
  OSVERSIONINFOEXA osvi = {};
  osvi.dwOSVersionInfoSize = sizeof(osvi);
  GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&osvi));
  if (const char* szSystem = GetSystemName(osvi))
    WriteLine(output, false, "OS: %s\r\n", szSystem);
  else
    WriteLine(output, false, "OS: UNKNOWN OS(Major:%d Minor:%d)\r\n", static_cast<int>(osvi.dwMajorVersion),
              static_cast<int>(osvi.dwMinorVersion));
  WriteLine(output, false, "ServicePack: %s\r\n", osvi.szCSDVersion);

  char szComputer[MAX_COMPUTERNAME_LENGTH + 256] = "";
  DWORD cchComputer = sizeof(szComputer);
  if (!GetComputerNameA(szComputer, &cchComputer)) szComputer[0] = '\0';
  WriteLine(output, true, "Machine name: %s\r\n", szComputer);
}

template <class T>
T GetProc(HMODULE hLibrary, const char* szName) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hLibrary, szName)));
}

// Version.dll is loaded only here, for the one header a process writes.
bool GetFileVersion(HMODULE hModule, VS_FIXEDFILEINFO& version) {
  using PFN_SIZE = DWORD(APIENTRY*)(LPCSTR, LPDWORD);
  using PFN_INFO = BOOL(APIENTRY*)(LPCSTR, DWORD, DWORD, LPVOID);
  using PFN_QUERY = BOOL(APIENTRY*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  char szPath[MAX_PATH + 1];
  const DWORD cchPath = GetModuleFileNameA(hModule, szPath, MAX_PATH + 1);
  if (cchPath == 0 || cchPath > MAX_PATH) return false;
  const HMODULE hVersion = LoadLibraryW(L"Version.dll");
  if (!hVersion) return false;
  bool bFound = false;
  const auto pfnSize = GetProc<PFN_SIZE>(hVersion, "GetFileVersionInfoSizeA");
  const auto pfnInfo = GetProc<PFN_INFO>(hVersion, "GetFileVersionInfoA");
  const auto pfnQuery = GetProc<PFN_QUERY>(hVersion, "VerQueryValueA");
  DWORD dwHandle = 0;
  const DWORD cbInfo = pfnSize && pfnInfo && pfnQuery ? pfnSize(szPath, &dwHandle) : 0;
  std::unique_ptr<BYTE[]> pbInfo(cbInfo ? new (std::nothrow) BYTE[cbInfo] : nullptr);
  void* pvValue = nullptr;
  UINT cbValue = 0;
  if (pbInfo && pfnInfo(szPath, 0, cbInfo, pbInfo.get()) && pfnQuery(pbInfo.get(), "\\", &pvValue, &cbValue) &&
      cbValue >= sizeof(version)) {
    version = *static_cast<const VS_FIXEDFILEINFO*>(pvValue);
    bFound = true;
  }
  FreeLibrary(hVersion);
  return bFound;
}

void WriteFileVersionLine(CFileOutput& output, HMODULE hModule) {
  VS_FIXEDFILEINFO version;
  if (!GetFileVersion(hModule, version)) {
    WriteLine(output, false, "FileVersion: UNKNOWN\r\n");
    return;
  }
  WriteLine(output, false, "FileVersion: %d.%d.%d.%d\r\n", HIWORD(version.dwFileVersionMS),
            LOWORD(version.dwFileVersionMS), HIWORD(version.dwFileVersionLS), LOWORD(version.dwFileVersionLS));
}

void WriteProductLine(CFileOutput& output, HKEY hProducts, const char* szProduct) {
  HKEY hProduct = nullptr;
  LSTATUS lr = RegOpenKeyExA(hProducts, szProduct, 0, KEY_READ, &hProduct);
  if (lr != ERROR_SUCCESS) {
    WriteLine(output, true, "Product: %s ERROR(0x%X)\r\n", szProduct, static_cast<unsigned>(lr));
    return;
  }
  char szVersion[TRACE_MAX_FORMATTED + 1];
  DWORD cbVersion = sizeof(szVersion);
  lr = RegGetValueA(hProduct, nullptr, "Version", RRF_RT_REG_SZ, nullptr, szVersion, &cbVersion);
  if (lr == ERROR_SUCCESS)
    WriteLine(output, true, "Product: %s; Version: %s\r\n", szProduct, szVersion);
  else
    WriteLine(output, true, "Product: %s; Version: ERROR(0x%X)\r\n", szProduct, static_cast<unsigned>(lr));
  RegCloseKey(hProduct);
}

void WriteProductLines(CFileOutput& output) {
  HKEY hProducts = nullptr;
  bool bFound = false;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora\\Products", 0, KEY_READ, &hProducts) == ERROR_SUCCESS) {
    char szProduct[256];
    DWORD cchProduct = sizeof(szProduct);
    for (DWORD dwIndex = 0;
         RegEnumKeyExA(hProducts, dwIndex, szProduct, &cchProduct, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++dwIndex, cchProduct = sizeof(szProduct)) {
      WriteProductLine(output, hProducts, szProduct);
      bFound = true;
    }
    RegCloseKey(hProducts);
  }
  if (!bFound) WriteLine(output, false, "Product: none registered\r\n");
}

void WriteInstallationLine(CFileOutput& output) {
  DWORD dwNetworkSupport = 1, dwType = 0, cbValue = sizeof(dwNetworkSupport);
  HKEY hPolicy = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Velmora", 0, KEY_READ, &hPolicy) == ERROR_SUCCESS) {
    if (RegQueryValueExA(hPolicy, "NetworkSupport", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwNetworkSupport),
                         &cbValue) != ERROR_SUCCESS ||
        dwType != REG_DWORD)
      dwNetworkSupport = 1;
    RegCloseKey(hPolicy);
  }
  WriteLine(output, false, dwNetworkSupport == 0 ? "installation: LOCAL\r\n" : "installation: NETWORK\r\n");
}

}  // namespace

void WriteTraceHeader(CFileOutput& output, HMODULE hModule) {
  WriteLine(output, false, TRACE_HEADER_FIRST_LINE);
  WriteLine(output, false, "Compiled: %s %s\r\n", __DATE__, __TIME__);
  WriteSystemLines(output);
  WriteLine(output, false, "Trace Ver: %s\r\n", "3.0.1");
  WriteFileVersionLine(output, hModule);
  WriteProductLines(output);
  WriteInstallationLine(output);
  SYSTEMTIME st;
  GetLocalTime(&st);
  WriteLine(output, false, "%02d/%02d/%04d %02d:%02d:%02d.%03d\r\n", st.wMonth, st.wDay, st.wYear, st.wHour, st.wMinute,
            st.wSecond, st.wMilliseconds);
  WriteLine(output, false, TRACE_HEADER_LAST_LINE);
}

}  // namespace VmTraceNS
