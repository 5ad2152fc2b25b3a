#include "module/MessageBox.h"

#include "module/ActCtx.h"
#include "module/ResourceStrings.h"

#include <cwchar>

int VmMessageBox(HWND hOwner, UINT nTextID, UINT nCaptionID, UINT uType) {
  return VmMessageBox(hOwner, LoadResourceString(nTextID), nCaptionID, uType);
}

int VmMessageBox(HWND hOwner, const std::wstring& wsText, UINT nCaptionID, UINT uType) {
  const std::wstring wsCaption = LoadResourceString(nCaptionID);
  CVmActCtx actCtx;
  return MessageBoxW(hOwner, wsText.c_str(), wsCaption.c_str(), uType);
}

std::wstring SystemErrorText(DWORD dwError) {
  // The system's table holds Win32 codes; an HRESULT made from one has the same text.
  const DWORD dwLookup =
      HRESULT_FACILITY(dwError) == FACILITY_WIN32 && (dwError & 0x80000000) ? HRESULT_CODE(dwError) : dwError;
  wchar_t* wszText = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 dwLookup, 0, reinterpret_cast<LPWSTR>(&wszText), 0, nullptr);
  std::wstring wsText = wszText ? wszText : L"";
  LocalFree(wszText);
  while (!wsText.empty() && (wsText.back() == L'\n' || wsText.back() == L'\r')) wsText.pop_back();
  if (wsText.empty()) {
    wchar_t wszCode[16] = {};
    swprintf(wszCode, ARRAYSIZE(wszCode), L"0x%08X", static_cast<unsigned>(dwError));
    wsText = wszCode;
  }
  return wsText;
}
