#include "module/TraceOutput.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "module/TraceFormat.h"
#include "module/TraceSettings.h"

namespace VmTraceNS {
namespace {

// Creates each missing directory of wszDir, which ends in "\"; the first failure ends the walk.
void CreateDirectories(const wchar_t* wszDir) {
  wchar_t wszPrefix[MAX_PATH + 3];
  for (const wchar_t* pwch = wcschr(wszDir, L'\\'); pwch; pwch = wcschr(pwch + 1, L'\\')) {
    const size_t cchPrefix = pwch - wszDir;
    if (cchPrefix == 0) continue;
    wmemcpy(wszPrefix, wszDir, cchPrefix);
    wcscpy_s(wszPrefix + cchPrefix, 3, L"\\*");
    // An existing directory, even an empty one, holds at least "." and "..".
    WIN32_FIND_DATAW findData;
    const HANDLE hFind = FindFirstFileW(wszPrefix, &findData);
    if (hFind != INVALID_HANDLE_VALUE) {
      FindClose(hFind);
      continue;
    }
    wszPrefix[cchPrefix] = L'\0';
    if (!CreateDirectoryW(wszPrefix, nullptr)) return;
  }
}

}  // namespace

size_t FormatTraceText(char (&szText)[TRACE_MAX_FORMATTED + 1], const char* szFormat, va_list args) {
  const int cchText = vsnprintf(szText, sizeof(szText), szFormat, args);
  return cchText < 0 ? 0 : std::min<size_t>(cchText, TRACE_MAX_FORMATTED);
}

CFileOutput::CFileOutput(const wchar_t* wszPath, bool bNewFileAlways) {
  SetLastError(ERROR_SUCCESS);
  m_hFile = CreateFileW(wszPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        bNewFileAlways ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                        nullptr);
  LARGE_INTEGER liSize = {};
  m_bNewFile = m_hFile != INVALID_HANDLE_VALUE && GetFileSizeEx(m_hFile, &liSize) && liSize.QuadPart == 0;
}

CFileOutput::~CFileOutput() {
  if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
}

void CFileOutput::Write(uint8_t* pbRecord, DWORD cbRecord, const CTraceScope*) {
  if (m_hFile == INVALID_HANDLE_VALUE || cbRecord < TRACE_RECORD_HEADER_SIZE) return;
  // Other processes may share the file: every record goes to its current end.
  const LARGE_INTEGER liZero = {};
  SetFilePointerEx(m_hFile, liZero, nullptr, FILE_END);
  if (cbRecord > TRACE_RECORD_HEADER_SIZE)
    EncipherRecordText(pbRecord + TRACE_RECORD_HEADER_SIZE, cbRecord - TRACE_RECORD_HEADER_SIZE);
  DWORD cbWritten = 0;
  WriteFile(m_hFile, pbRecord, cbRecord, &cbWritten, nullptr);
}

void CFileOutput::WritePlain(const char* pch, DWORD cch) {
  if (m_hFile == INVALID_HANDLE_VALUE) return;
  DWORD cbWritten = 0;
  WriteFile(m_hFile, pch, cch, &cbWritten, nullptr);
}

bool SplitModuleFileName(HMODULE hModule, CModuleFileName& name) {
  wchar_t wszPath[MAX_PATH + 1];
  const DWORD cchPath = GetModuleFileNameW(hModule, wszPath, MAX_PATH + 1);
  return cchPath > 0 && cchPath <= MAX_PATH &&
         _wsplitpath_s(wszPath, name.wszDrive, _MAX_DRIVE, name.wszDir, _MAX_DIR, name.wszName, _MAX_FNAME, name.wszExt,
                       _MAX_EXT) == 0;
}

bool GetTraceFilePath(const CTracingKey& key, HMODULE hModule, DWORD dwSessionId, wchar_t (&wszPath)[MAX_PATH + 1]) {
  const LSTATUS lrFileName = key.ReadString(L"FileName", wszPath, MAX_PATH + 1);
  if (lrFileName != ERROR_FILE_NOT_FOUND) return lrFileName == ERROR_SUCCESS;

  CModuleFileName module, executable;
  if (!SplitModuleFileName(hModule, module) || !SplitModuleFileName(nullptr, executable)) return false;
  wchar_t wszDir[MAX_PATH + 1];
  const LSTATUS lrTracePath = key.ReadString(L"TracePath", wszDir, MAX_PATH);
  const bool bTracePath = lrTracePath == ERROR_SUCCESS;
  if (bTracePath) {
    const size_t cchDir = wcslen(wszDir);
    if (cchDir == 0 || wszDir[cchDir - 1] != L'\\') wcscat_s(wszDir, MAX_PATH + 1, L"\\");
  } else if (lrTracePath != ERROR_FILE_NOT_FOUND ||
             _snwprintf_s(wszDir, MAX_PATH + 1, _TRUNCATE, L"%ls%ls", module.wszDrive, module.wszDir) < 0) {
    return false;
  }
  if (_snwprintf_s(wszPath, MAX_PATH + 1, _TRUNCATE, L"%ls%ls.%ls%ls.x64.%lu.trc3", wszDir, executable.wszName,
                   module.wszName, module.wszExt, dwSessionId) < 0)
    return false;
  if (bTracePath) CreateDirectories(wszDir);
  return true;
}

}  // namespace VmTraceNS
