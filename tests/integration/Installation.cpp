#include "Installation.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>

std::wstring InstallFolder() {
  wchar_t wszFolder[MAX_PATH] = {};
  DWORD cbFolder = sizeof(wszFolder);
  HKEY hKey = nullptr;
  LONG lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora", 0, KEY_READ | KEY_WOW64_64KEY, &hKey);
  if (lResult == ERROR_SUCCESS) {
    lResult = RegGetValueW(hKey, nullptr, L"VelmoraPath", RRF_RT_REG_SZ, nullptr, wszFolder, &cbFolder);
    RegCloseKey(hKey);
  }
  EXPECT_EQ(ERROR_SUCCESS, lResult) << "VelmoraPath";
  return wszFolder;
}

std::wstring ModulePath() { return InstallFolder() + L"\\VmOfcX.dll"; }

DWORD RunRegsvr32(const wchar_t* wszOptions) {
  return RunProgram(L"regsvr32.exe " + std::wstring(wszOptions) + L" \"" + ModulePath() + L"\"");
}

DWORD RunProgram(std::wstring wsCommand) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, wsCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
    return MAXDWORD;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD dwExitCode = MAXDWORD;
  GetExitCodeProcess(process.hProcess, &dwExitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return dwExitCode;
}

GUID ToGuid(const wchar_t* wszGuid) {
  GUID guid = GUID_NULL;
  EXPECT_EQ(S_OK, CLSIDFromString(wszGuid, &guid)) << "not a GUID";
  return guid;
}

std::wstring BuildFolder() {
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
  std::wstring ws = wszPath;
  ws.erase(ws.find_last_of(L'\\'));             // tests
  return ws.substr(0, ws.find_last_of(L'\\'));  // the build folder
}

std::wstring SimulatorPath() { return BuildFolder() + L"\\sim\\ofcsim.exe"; }

std::string ReadTextFile(const std::wstring& wsPath) {
  std::string sText;
  FILE* pFile = _wfopen(wsPath.c_str(), L"rb");
  char sz[4096];
  for (size_t cb; pFile && (cb = fread(sz, 1, sizeof sz, pFile)) > 0;) sText.append(sz, cb);
  if (pFile) fclose(pFile);
  return sText;
}

void WriteTextFile(const std::wstring& wsPath, const std::string& sText) {
  FILE* pFile = _wfopen(wsPath.c_str(), L"wb");
  ASSERT_NE(nullptr, pFile);
  fwrite(sText.data(), 1, sText.size(), pFile);
  fclose(pFile);
}
