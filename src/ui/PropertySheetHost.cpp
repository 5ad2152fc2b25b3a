#include "ui/PropertySheetHost.h"

#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <versionhelpers.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "module/ActCtx.h"
#include "module/AddInModule.h"
#include "module/DllLoader.h"
#include "module/MessageBox.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/MuiTemplate.h"

namespace {

using PFN_VM_GET_PROPERTY_PAGE = HRESULT(WINAPI*)(HPROPSHEETPAGE*, DWORD);

// The sheet being started on this thread, until its window exists.
thread_local COfcPropertySheet* t_pStarting = nullptr;

constexpr wchar_t kConsoleClass[] = L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}";
constexpr int kCertificatePage = 304;
constexpr int kBuddyPage = 303;

bool IsEndOfPages(HRESULT hr) { return hr == ERROR_NOT_FOUND || hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND); }

}  // namespace

COfcPropertySheet::COfcPropertySheet(UINT nTitleID, UINT nStartPage) : m_nTitleID(nTitleID), m_nStartPage(nStartPage) {}

COfcPropertySheet::~COfcPropertySheet() {
  for (HPROPSHEETPAGE hPage : m_pages) DestroyPropertySheetPage(hPage);
}

bool COfcPropertySheet::AddPage(HPROPSHEETPAGE hPage) {
  // A sheet shows at most MAXPROPPAGES pages.
  if (m_pages.size() >= MAXPROPPAGES) {
    DestroyPropertySheetPage(hPage);
    return false;
  }
  m_pages.push_back(hPage);
  return true;
}

INT_PTR COfcPropertySheet::DoModal() {
  const std::wstring wsTitle = LoadResourceString(m_nTitleID);
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof(header);
  header.dwFlags = PSH_NOAPPLYNOW | PSH_USECALLBACK;
  header.pszCaption = wsTitle.c_str();
  header.nPages = static_cast<UINT>(m_pages.size());
  // The console numbers its pages across all libraries; one beyond this library's opens its first.
  header.nStartPage = m_nStartPage < m_pages.size() ? m_nStartPage : 0;
  header.phpage = m_pages.data();
  header.pfnCallback = SheetCallback;
  t_pStarting = this;
  const INT_PTR nResult = PropertySheetW(&header);
  t_pStarting = nullptr;
  m_pages.clear();
  return nResult;
}

int CALLBACK COfcPropertySheet::SheetCallback(HWND hWnd, UINT uMsg, LPARAM) {
  if (uMsg == PSCB_INITIALIZED && t_pStarting)
    SetWindowSubclass(hWnd, SheetSubclassProc, 1, reinterpret_cast<DWORD_PTR>(std::exchange(t_pStarting, nullptr)));
  return 0;
}

LRESULT CALLBACK COfcPropertySheet::SheetSubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                      DWORD_PTR dwRefData) {
  auto* pThis = reinterpret_cast<COfcPropertySheet*>(dwRefData);
  switch (uMsg) {
    case WM_SHOWWINDOW:
      if (wParam && !pThis->m_bShown) {
        pThis->m_bShown = true;
        CenterOnOwner(hWnd, nullptr);
      }
      break;
    case kActivateMessage:
      pThis->OnDllMessage(hWnd);
      return 0;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hWnd, SheetSubclassProc, 1);
      break;
    default:
      break;
  }
  return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

void COfcPropertySheet::OnDllMessage(HWND hWnd) const {
  CTraceScope trace("COfcPropertySheet::OnDllMessage()");
  HWND hPopup = GetLastActivePopup(hWnd);
  // Windows lets a thread take the foreground only while it shares the foreground's input.
  const DWORD dwForegroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const DWORD dwThread = GetCurrentThreadId();
  const bool bAttach =
      dwForegroundThread && dwForegroundThread != dwThread && AttachThreadInput(dwThread, dwForegroundThread, TRUE);
  SetForegroundWindow(hPopup);
  BringWindowToTop(hPopup);
  if (bAttach) AttachThreadInput(dwThread, dwForegroundThread, FALSE);
}

void ShowManagementProperties(const char* szCommandLine) {
  CTraceScope trace("ShowManagementProperties()");
  const std::string sCommandLine = szCommandLine ? szCommandLine : "";
  trace.Message("Command line = %s", sCommandLine.c_str());
  const size_t iComma = sCommandLine.find(',');
  if (iComma == std::string::npos) {
    trace.Error("no library named", E_INVALIDARG);
    return;
  }
  const UINT nStartPage = static_cast<UINT>(strtoul(sCommandLine.c_str(), nullptr, 10));
  std::string sLibrary = sCommandLine.substr(iComma + 1);
  sLibrary.erase(0, sLibrary.find_first_not_of(" \t\""));
  sLibrary.erase(sLibrary.find_last_not_of(" \t\r\n\"") + 1);
  std::wstring wsLibrary(sLibrary.size() + 1, L'\0');
  wsLibrary.resize(
      MultiByteToWideChar(CP_ACP, 0, sLibrary.c_str(), -1, wsLibrary.data(), static_cast<int>(wsLibrary.size())));
  if (!wsLibrary.empty()) wsLibrary.pop_back();

  CVmActCtx actCtx;
  LibHelper::CDLLLoader library;
  // The suite installs its libraries beside this module.
  if (!library.LoadBeside(g_pAddInModule->GetModuleInstance(), wsLibrary.c_str()) && !library.Load(wsLibrary.c_str())) {
    trace.Error("LoadLibraryW()", HRESULT_FROM_WIN32(GetLastError()));
    return;
  }
  COfcPropertySheet sheet(IDS_CAPTION, nStartPage);
  HRESULT hr = S_OK;
  const auto pfnGetPage = library.GetProc<PFN_VM_GET_PROPERTY_PAGE>("VmGetPropertyPage");
  if (!pfnGetPage) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    trace.Error("GetProcAddress(VmGetPropertyPage)", hr);
  }
  for (DWORD dwIndex = 0; pfnGetPage; ++dwIndex) {
    HPROPSHEETPAGE hPage = nullptr;
    hr = pfnGetPage(&hPage, dwIndex);
    if (IsEndOfPages(hr)) {
      hr = sheet.GetPageCount() ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
      break;
    }
    if (FAILED(hr)) {
      trace.Error("VmGetPropertyPage()", hr);
      break;
    }
    // A library that offers more pages than a sheet holds is not asked on for good.
    if (hPage && !sheet.AddPage(hPage)) break;
  }
  if (FAILED(hr)) {
    VmMessageBox(nullptr, SystemErrorText(static_cast<DWORD>(hr)), IDS_CAPTION, MB_OK | MB_ICONERROR);
    return;
  }
  trace.Message("Pages = %u", static_cast<unsigned>(sheet.GetPageCount()));
  if (sheet.DoModal() < 0) trace.Error("PropertySheetW()", HRESULT_FROM_WIN32(GetLastError()));
}

namespace {

// The suite's console, opened at the page; false when it is not installed or did not start.
bool StartConsole(int nConsolePage) {
  CTraceScope trace("KxSecurityManager");
  HKEY hKey = nullptr;
  LSTATUS lStatus =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Applications", 0, KEY_READ | KEY_WOW64_32KEY, &hKey);
  wchar_t wszBinDir[MAX_PATH] = {};
  DWORD cbBinDir = sizeof(wszBinDir);
  if (lStatus == ERROR_SUCCESS) {
    lStatus = RegGetValueW(hKey, nullptr, L"BinDir", RRF_RT_REG_SZ, nullptr, wszBinDir, &cbBinDir);
    RegCloseKey(hKey);
  }
  if (lStatus != ERROR_SUCCESS) {
    trace.Error("RegGetValueW(BinDir)", HRESULT_FROM_WIN32(lStatus));
    return false;
  }
  std::wstring wsConsole = wszBinDir;
  if (!wsConsole.empty() && wsConsole.back() != L'\\') wsConsole += L'\\';
  wsConsole += L"VmUserConsole.exe";
  const std::wstring wsParameters = std::wstring(kConsoleClass) + L":" + std::to_wstring(nConsolePage);
  const auto nResult = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", wsConsole.c_str(), wsParameters.c_str(), wszBinDir, SW_SHOWNORMAL));
  if (nResult <= 32) {
    trace.Error("ShellExecuteW()", HRESULT_FROM_WIN32(static_cast<DWORD>(nResult)));
    return false;
  }
  return true;
}

void LaunchManager(const char* szTraceName, int nConsolePage, int nSheetPage, const wchar_t* wszLibrary) {
  CTraceScope trace(szTraceName);
  if (StartConsole(nConsolePage)) return;
  trace.Message("Go!");
  wchar_t wszModule[MAX_PATH] = {};
  GetModuleFileNameW(g_pAddInModule->GetModuleInstance(), wszModule, MAX_PATH);
  wchar_t wszPath[MAX_PATH + 2] = {};
  if (IsWindowsVistaOrGreater()) {
    lstrcpynW(wszPath, wszModule, MAX_PATH);
    PathQuoteSpacesW(wszPath);
  } else if (!GetShortPathNameW(wszModule, wszPath, MAX_PATH)) {
    lstrcpynW(wszPath, wszModule, MAX_PATH);
  }
  trace.Message("Path: %ls", wszPath);
  wchar_t wszCommand[2 * MAX_PATH] = {};
  swprintf(wszCommand, ARRAYSIZE(wszCommand), L"%ls,OX_ShowProperties %d,%ls", wszPath, nSheetPage, wszLibrary);
  trace.Message("Command: %ls", wszCommand);
  const auto nResult =
      reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", L"rundll32.exe", wszCommand, nullptr, SW_SHOWNORMAL));
  if (nResult <= 32) trace.Error("ShellExecuteW(rundll32.exe)", HRESULT_FROM_WIN32(static_cast<DWORD>(nResult)));
}

}  // namespace

void LaunchCertificateManager() { LaunchManager("CertMgr", 1, kCertificatePage, L"VmPersCertMgr.dll"); }

void LaunchBuddyManager() { LaunchManager("BuddyMgr", 2, kBuddyPage, L"VmTrustContMgr.dll"); }
