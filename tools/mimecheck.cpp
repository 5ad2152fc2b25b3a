// Reads received messages (RFC 5322 files) as the Outlook add-in does and prints, a line each,
// what it makes of them, for checks against messages made by other programs:
//
//   mimecheck FILE...   FILE<TAB>existing 0xHRESULT TEXT<TAB>new 0xHRESULT TEXT
//
// "existing": the signer is a trusted contact already (FindExistingBuddy); "new": the signer
// would become one (AddNewBuddy).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mail/MimeMessage.h"
#include "mail/ReceivedMail.h"

namespace {

std::string Utf8(const wchar_t* wsz) {
  if (!wsz) return std::string();
  std::string s(WideCharToMultiByte(CP_UTF8, 0, wsz, -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wsz, -1, s.data(), static_cast<int>(s.size()), nullptr, nullptr);
  s.pop_back();
  return s;
}

HRESULT ReadFileData(const wchar_t* wszPath, std::vector<BYTE>* pData) {
  HANDLE hFile = CreateFileW(wszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  BYTE buffer[65536];
  DWORD cbRead = 0;
  while (ReadFile(hFile, buffer, sizeof buffer, &cbRead, nullptr) && cbRead)
    pData->insert(pData->end(), buffer, buffer + cbRead);
  CloseHandle(hFile);
  return S_OK;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int iResult = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<BYTE> data;
    IStream* pStream = nullptr;
    HRESULT hr = ReadFileData(argv[i], &data);
    if (SUCCEEDED(hr)) hr = CreateMemoryStream(data.data(), static_cast<UINT>(data.size()), &pStream);
    if (FAILED(hr)) {
      printf("%s\tunreadable 0x%08lX\n", Utf8(argv[i]).c_str(), hr);
      iResult = 1;
      continue;
    }
    BSTR bsExisting = nullptr, bsNew = nullptr;
    const HRESULT hrExisting = FindExistingBuddy(pStream, &bsExisting, nullptr);
    const HRESULT hrNew = AddNewBuddy(pStream, &bsNew, nullptr);
    printf("%s\texisting 0x%08lX %s\tnew 0x%08lX %s\n", Utf8(argv[i]).c_str(), hrExisting, Utf8(bsExisting).c_str(),
           hrNew, Utf8(bsNew).c_str());
    SysFreeString(bsExisting);
    SysFreeString(bsNew);
    pStream->Release();
  }
  CoUninitialize();
  return iResult;
}
