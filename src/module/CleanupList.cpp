#include "module/CleanupList.h"

#include <string>

#include "module/Trace.h"

namespace {

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Velmora\\Applications\\Tessaly";
constexpr WCHAR kByteOrderMark = 0xFEFF;

class CFileHandle {
 public:
  explicit CFileHandle(HANDLE h) : m_h(h) {}
  ~CFileHandle() { Close(); }
  CFileHandle(const CFileHandle&) = delete;
  CFileHandle& operator=(const CFileHandle&) = delete;
  void Close() {
    if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
    m_h = INVALID_HANDLE_VALUE;
  }
  void Reset(HANDLE h) {
    Close();
    m_h = h;
  }
  bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
  operator HANDLE() const { return m_h; }

 private:
  HANDLE m_h;
};

HRESULT LastError() { return HRESULT_FROM_WIN32(GetLastError()); }

HRESULT AppendLine(const std::wstring& wsPath, const std::wstring& wsLine, CTraceScope& trace) {
  CFileHandle hFile(CreateFileW(wsPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile.IsValid()) return LastError();

  WCHAR wchMark = 0;
  DWORD cbRead = 0;
  if (!ReadFile(hFile, &wchMark, sizeof(wchMark), &cbRead, nullptr)) return LastError();
  if (cbRead != sizeof(wchMark) || wchMark != kByteOrderMark) {
    // Not a list of ours: start it again.
    hFile.Close();
    hFile.Reset(CreateFileW(wsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid()) return LastError();
    DWORD cbWritten = 0;
    if (!WriteFile(hFile, &kByteOrderMark, sizeof(kByteOrderMark), &cbWritten, nullptr)) return LastError();
  }

  trace.Message("FilePath = %ls", wsPath.c_str());
  if (SetFilePointer(hFile, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
    return LastError();
  trace.Message("accum = %ls", wsLine.c_str());
  const DWORD cbLine = static_cast<DWORD>(wsLine.size() * sizeof(wchar_t));
  DWORD cbWritten = 0;
  if (!WriteFile(hFile, wsLine.data(), cbLine, &cbWritten, nullptr)) return LastError();
  return S_OK;
}

}  // namespace

LONG ReadInstallPath(wchar_t* wszBuffer, DWORD* pcchLength, REGSAM samExtraAccess) {
  if (!wszBuffer || !pcchLength || *pcchLength == 0) return ERROR_INVALID_PARAMETER;
  HKEY hKey = nullptr;
  LONG lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora", 0, KEY_READ | samExtraAccess, &hKey);
  if (lResult != ERROR_SUCCESS) return lResult;
  DWORD dwType = 0;
  DWORD cbData = *pcchLength * sizeof(wchar_t);
  lResult = RegQueryValueExW(hKey, L"VelmoraPath", nullptr, &dwType, reinterpret_cast<BYTE*>(wszBuffer), &cbData);
  RegCloseKey(hKey);
  if (lResult != ERROR_SUCCESS) return lResult;
  const DWORD cchData = cbData / sizeof(wchar_t);
  if ((dwType != REG_SZ && dwType != REG_EXPAND_SZ) || cbData % sizeof(wchar_t) != 0 || cchData == 0 ||
      wszBuffer[cchData - 1] != L'\0')
    return ERROR_INVALID_DATA;
  *pcchLength = cchData - 1;
  return ERROR_SUCCESS;
}

HRESULT AddCleanupLine(const wchar_t* wszRoot, const wchar_t* wszKeyPath, DWORD dwCode, const wchar_t* wszValueName) {
  CTraceScope trace("AddCleanupLine");
  HRESULT hr = S_OK;
  try {
    if (!wszRoot || !*wszRoot || !wszKeyPath || !*wszKeyPath) {
      hr = E_INVALIDARG;
    } else {
      wchar_t wszFolder[MAX_PATH] = {};
      DWORD cchFolder = MAX_PATH;
      const LONG lResult = ReadInstallPath(wszFolder, &cchFolder, KEY_WOW64_64KEY);
      if (lResult != ERROR_SUCCESS) {
        hr = HRESULT_FROM_WIN32(lResult);
        trace.Error("ReadInstallPath()", hr);
      } else {
        std::wstring wsPath(wszFolder, cchFolder);
        if (!wsPath.empty() && wsPath.back() != L'\\') wsPath += L'\\';
        wsPath += L"Cleanup.txt";

        std::wstring wsLine = std::wstring(wszRoot) + L'\t' + wszKeyPath;
        if (dwCode != 0 || wszValueName) wsLine += L'\t' + std::to_wstring(dwCode);
        if (wszValueName) wsLine += L'\t' + std::wstring(*wszValueName ? wszValueName : L" ");
        wsLine += L"\r\n";
        hr = AppendLine(wsPath, wsLine, trace);
      }
    }
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  if (FAILED(hr)) trace.Error("AddCleanupLine", hr);
  return hr;
}

void AddSettingsCleanupLines() {
  for (const wchar_t* wszValue :
       {L"DocumentBalloon", L"EmailBalloon", L"DocumentSecurity", L"EmailSecurity", L"SignerTitle", L"LastVisitedTab"})
    AddCleanupLine(L"HKU", kSettingsKey, CLEANUP_VALUE, wszValue);
  AddCleanupLine(L"HKU", kSettingsKey, CLEANUP_KEY, nullptr);
  AddCleanupLine(L"HKU", L"SOFTWARE\\Velmora\\Applications", CLEANUP_KEY, nullptr);
}
