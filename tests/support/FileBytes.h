#pragma once
// A whole file's bytes, for tests that compare what the module wrote.
#include <windows.h>

#include <string>
#include <vector>

// Empty when the file cannot be read.
inline std::vector<BYTE> ReadFileBytes(const std::wstring& wsPath) {
  std::vector<BYTE> bytes;
  HANDLE hFile = CreateFileW(wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(hFile, nullptr));
  DWORD cbRead = 0;
  if (!ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr)) cbRead = 0;
  CloseHandle(hFile);
  bytes.resize(cbRead);
  return bytes;
}
