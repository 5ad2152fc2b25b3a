// Reads received messages (RFC 5322 files) as the Outlook add-in does and prints, a line each,
// what it makes of them, for checks against messages made by other programs:
//
//   mimecheck FILE...                   FILE<TAB>existing 0xHRESULT TEXT<TAB>new 0xHRESULT TEXT
//   mimecheck --outlook ADDRESS FILE... FILE<TAB>kind N 0xHRESULT TEXT
//
// "existing": the signer is a trusted contact already (FindExistingBuddy); "new": the signer
// would become one (AddNewBuddy). With --outlook the files are delivered to ADDRESS in the
// simulated Outlook (through its mail drop and MIME conversion) and each item is analysed
// (AnalyzeMessage), the files in the order of their names.
#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "SimOutlook.h"
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

// A text on one line: backslash, carriage return, line feed and tab escaped with a backslash.
std::string Escaped(const wchar_t* wsz) {
  std::string sEscaped;
  for (char c : Utf8(wsz)) {
    const char* szEscape = c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : nullptr;
    if (szEscape) {
      sEscaped += szEscape;
    } else {
      sEscaped += c;
    }
  }
  return sEscaped;
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

// Delivers the files to the address in a simulated Outlook of its own and analyses each item.
int AnalyzeInOutlook(const std::wstring& wsAddress, std::vector<std::wstring> files) {
  std::sort(files.begin(), files.end(), [](const std::wstring& a, const std::wstring& b) {
    return lstrcmpiW(a.substr(a.rfind(L'\\') + 1).c_str(), b.substr(b.rfind(L'\\') + 1).c_str()) < 0;
  });
  Sim::SOutlookOptions options;
  options.wsProfilePath = Sim::TempFileName(L"olp");
  options.wsMailDrop = Sim::TempFileName(L"drp");
  options.accounts = {{wsAddress, wsAddress, L"Receiver", L""}};
  options.onlyAddIns = {L"-"};
  const std::wstring wsFolder = options.wsMailDrop + L"\\" + wsAddress;
  SHCreateDirectoryExW(nullptr, wsFolder.c_str(), nullptr);
  for (size_t i = 0; i < files.size(); ++i) {
    wchar_t wszName[32];
    wsprintfW(wszName, L"\\%06u.eml", static_cast<unsigned>(i));
    if (!CopyFileW(files[i].c_str(), (wsFolder + wszName).c_str(), TRUE)) return 1;
  }
  CComPtr<Sim::COutlook> cpOutlook;
  cpOutlook.Attach(new Sim::COutlook(options));
  size_t cDelivered = 0;
  HRESULT hr = cpOutlook->Start();
  if (SUCCEEDED(hr)) hr = cpOutlook->Deliver(&cDelivered);
  if (FAILED(hr) || cDelivered != files.size()) {
    printf("delivery failed 0x%08lX, %u delivered\n", hr, static_cast<unsigned>(cDelivered));
    return 1;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    DWORD dwKind = 0;
    BSTR bsText = nullptr;
    PCCERT_CONTEXT pCert = nullptr;
    hr = AnalyzeMessage(cpOutlook->MailItem(cpOutlook->Folder()[i]), &dwKind, &bsText, &pCert);
    printf("%s\tkind %lu 0x%08lX %s\n", Utf8(files[i].c_str()).c_str(), dwKind, hr, Escaped(bsText).c_str());
    SysFreeString(bsText);
    if (pCert) CertFreeCertificateContext(pCert);
  }
  cpOutlook->Quit();
  DeleteFileW(options.wsProfilePath.c_str());
  RemoveDirectoryW(wsFolder.c_str());
  RemoveDirectoryW(options.wsMailDrop.c_str());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (argc > 2 && !lstrcmpW(argv[1], L"--outlook")) {
    const int iOutlookResult = AnalyzeInOutlook(argv[2], std::vector<std::wstring>(argv + 3, argv + argc));
    CoUninitialize();
    return iOutlookResult;
  }
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
    printf("%s\texisting 0x%08lX %s\tnew 0x%08lX %s\n", Utf8(argv[i]).c_str(), hrExisting, Escaped(bsExisting).c_str(),
           hrNew, Escaped(bsNew).c_str());
    SysFreeString(bsExisting);
    SysFreeString(bsNew);
    pStream->Release();
  }
  CoUninitialize();
  return iResult;
}
