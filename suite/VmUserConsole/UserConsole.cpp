// Stand-in of the suite's console, VmUserConsole.exe. Started with "<view class>:<view>", it
// opens the certificates (1) or the trusted contacts (2) in a property sheet whose pages come
// from the management library of that view. The console finds its libraries in its working
// folder, which its callers set to the suite's program folder.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

constexpr wchar_t kTitle[] = L"Tessaly User Console";
constexpr wchar_t kViewClass[] = L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}";

struct SView {
  const wchar_t* wszNumber;
  const wchar_t* wszName;
  const wchar_t* wszLibrary;
};
constexpr SView kViews[] = {{L"1", L"Certificates", L"VmPersCertMgr.dll"},
                            {L"2", L"Trusted Contacts", L"VmTrustContMgr.dll"}};

using PFN_VM_GET_PROPERTY_PAGE = HRESULT(WINAPI*)(HPROPSHEETPAGE*, DWORD);

const SView* FindView(const std::wstring& wsParameter) {
  const size_t iColon = wsParameter.find(L':');
  if (iColon == std::wstring::npos ||
      CompareStringOrdinal(wsParameter.c_str(), static_cast<int>(iColon), kViewClass, -1, TRUE) != CSTR_EQUAL)
    return nullptr;
  for (const SView& view : kViews) {
    if (wsParameter.compare(iColon + 1, std::wstring::npos, view.wszNumber) == 0) return &view;
  }
  return nullptr;
}

std::wstring ErrorText(DWORD dwError) {
  wchar_t* pwsz = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 dwError, 0, reinterpret_cast<LPWSTR>(&pwsz), 0, nullptr);
  std::wstring ws = pwsz ? pwsz : L"Error " + std::to_wstring(dwError);
  LocalFree(pwsz);
  return ws;
}

int Fail(const std::wstring& wsMessage, DWORD dwExitCode) {
  MessageBoxW(nullptr, wsMessage.c_str(), kTitle, MB_OK | MB_ICONERROR);
  return static_cast<int>(dwExitCode);
}

// The view's pages in a modal sheet; the library stays loaded while the sheet runs.
int ShowView(const SView& view) {
  wchar_t wszFolder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, wszFolder);
  std::wstring wsLibrary = wszFolder;
  if (!wsLibrary.empty() && wsLibrary.back() != L'\\') wsLibrary += L'\\';
  wsLibrary += view.wszLibrary;
  HMODULE hLibrary = LoadLibraryExW(wsLibrary.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!hLibrary) {
    const DWORD dwError = GetLastError();
    return Fail(L"The console cannot load " + wsLibrary + L":\n" + ErrorText(dwError), dwError);
  }
  const auto pfnGetPage = reinterpret_cast<PFN_VM_GET_PROPERTY_PAGE>(
      reinterpret_cast<void (*)()>(GetProcAddress(hLibrary, "VmGetPropertyPage")));
  std::vector<HPROPSHEETPAGE> pages;
  HRESULT hr = pfnGetPage ? S_OK : HRESULT_FROM_WIN32(GetLastError());
  for (DWORD dwIndex = 0; pfnGetPage; ++dwIndex) {
    HPROPSHEETPAGE hPage = nullptr;
    hr = pfnGetPage(&hPage, dwIndex);
    if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) || hr == ERROR_NOT_FOUND) {
      hr = S_OK;
      break;
    }
    if (FAILED(hr)) break;
    if (hPage) pages.push_back(hPage);
  }
  int nExitCode = 0;
  if (FAILED(hr) || pages.empty()) {
    for (HPROPSHEETPAGE hPage : pages) DestroyPropertySheetPage(hPage);
    nExitCode = Fail(wsLibrary + L" has no pages:\n" + ErrorText(static_cast<DWORD>(hr)), ERROR_NOT_FOUND);
  } else {
    const std::wstring wsCaption = std::wstring(kTitle) + L" - " + view.wszName;
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_NOAPPLYNOW;
    header.pszCaption = wsCaption.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.phpage = pages.data();
    if (PropertySheetW(&header) < 0) nExitCode = static_cast<int>(GetLastError());
  }
  FreeLibrary(hLibrary);
  return nExitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  int nArgs = 0;
  LPWSTR* ppwszArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
  const std::wstring wsParameter = ppwszArgs && nArgs == 2 ? ppwszArgs[1] : L"";
  LocalFree(ppwszArgs);
  const SView* pView = nArgs == 2 ? FindView(wsParameter) : nullptr;
  if (!pView) {
    return Fail(L"Unknown view \"" + wsParameter + L"\".\nThe console opens \"" + kViewClass +
                    L":1\" (certificates) or \"" + kViewClass + L":2\" (trusted contacts).",
                ERROR_INVALID_PARAMETER);
  }
  return ShowView(*pView);
}
