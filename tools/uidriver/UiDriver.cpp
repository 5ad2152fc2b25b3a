#include "UiDriver.h"

#include <commctrl.h>
#include <prsht.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace UiDriver {

namespace {

constexpr DWORD kPollMs = 50;

struct CSearch {
  const std::function<bool(HWND)>* pMatches;
  HWND hFound;
};

BOOL CALLBACK EnumTopLevel(HWND hWnd, LPARAM lParam) {
  auto* pSearch = reinterpret_cast<CSearch*>(lParam);
  wchar_t wszClass[16] = {};
  GetClassNameW(hWnd, wszClass, ARRAYSIZE(wszClass));
  if (wcscmp(wszClass, L"#32770") != 0 || !IsWindowVisible(hWnd) || !(*pSearch->pMatches)(hWnd)) return TRUE;
  pSearch->hFound = hWnd;
  return FALSE;
}

// Sends a message and waits, within the bound, for its result; 0 when none came.
LRESULT Query(HWND hWnd, UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0, DWORD dwTimeoutMs = kWaitMs) {
  DWORD_PTR dwResult = 0;
  return SendMessageTimeoutW(hWnd, uMsg, wParam, lParam, SMTO_NORMAL, dwTimeoutMs, &dwResult) ? dwResult : 0;
}

// Waits until the window's thread has handled what was sent to it before, or waits in a modal
// loop that it opened (which handles sent messages too); a window that went away has handled it.
bool Settle(HWND hWnd) {
  DWORD_PTR dwResult = 0;
  return SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &dwResult) || !IsWindow(hWnd);
}

// Sends without waiting, then settles: a message whose handler opens a modal window does not
// hold the driver, and one that takes long under load is not overtaken.
bool Deliver(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return SendNotifyMessageW(hWnd, uMsg, wParam, lParam) && Settle(hWnd);
}

// A list view starts to track the mouse on the button's press and ends on its release, so the
// press is not waited for; both are settled before the click counts as done.
void ClickAt(HWND hWnd, POINT pt) {
  const LPARAM lPoint = MAKELPARAM(pt.x, pt.y);
  SendNotifyMessageW(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, lPoint);
  SendNotifyMessageW(hWnd, WM_LBUTTONUP, 0, lPoint);
  Settle(hWnd);
}

// A block of memory in the window's process (another one or this), freed with the object.
class CRemoteBuffer {
 public:
  CRemoteBuffer(HWND hWnd, SIZE_T cb) {
    DWORD dwProcessId = 0;
    GetWindowThreadProcessId(hWnd, &dwProcessId);
    m_hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, dwProcessId);
    if (m_hProcess) m_pv = VirtualAllocEx(m_hProcess, nullptr, cb, MEM_COMMIT, PAGE_READWRITE);
  }
  ~CRemoteBuffer() {
    if (m_pv) VirtualFreeEx(m_hProcess, m_pv, 0, MEM_RELEASE);
    if (m_hProcess) CloseHandle(m_hProcess);
  }
  CRemoteBuffer(const CRemoteBuffer&) = delete;
  CRemoteBuffer& operator=(const CRemoteBuffer&) = delete;
  BYTE* Get() const { return static_cast<BYTE*>(m_pv); }
  bool Write(SIZE_T offset, const void* pv, SIZE_T cb) const {
    return WriteProcessMemory(m_hProcess, Get() + offset, pv, cb, nullptr);
  }
  bool Read(SIZE_T offset, void* pv, SIZE_T cb) const {
    return ReadProcessMemory(m_hProcess, Get() + offset, pv, cb, nullptr);
  }

 private:
  HANDLE m_hProcess = nullptr;
  void* m_pv = nullptr;
};

struct CToolTipSearch {
  DWORD dwProcessId;
  std::vector<HWND> found;
};

BOOL CALLBACK EnumToolTips(HWND hWnd, LPARAM lParam) {
  auto* pSearch = reinterpret_cast<CToolTipSearch*>(lParam);
  wchar_t wszClass[32] = {};
  GetClassNameW(hWnd, wszClass, ARRAYSIZE(wszClass));
  DWORD dwPid = 0;
  GetWindowThreadProcessId(hWnd, &dwPid);
  if (dwPid == pSearch->dwProcessId && _wcsicmp(wszClass, TOOLTIPS_CLASSW) == 0) pSearch->found.push_back(hWnd);
  return TRUE;
}

// The tooltip controls of the window's process.
std::vector<HWND> ProcessToolTips(HWND hWnd) {
  CToolTipSearch search = {0, {}};
  GetWindowThreadProcessId(hWnd, &search.dwProcessId);
  EnumWindows(EnumToolTips, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

HWND WaitForWindow(const std::function<bool(HWND)>& matches, DWORD dwTimeoutMs) {
  const ULONGLONG ullEnd = GetTickCount64() + dwTimeoutMs;
  do {
    CSearch search = {&matches, nullptr};
    EnumWindows(EnumTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.hFound) {
      Settle(search.hFound);
      return search.hFound;
    }
    Sleep(kPollMs);
  } while (GetTickCount64() < ullEnd);
  return nullptr;
}

HWND WaitForDialog(DWORD dwProcessId, const std::wstring& wsTitle, DWORD dwTimeoutMs) {
  return WaitForWindow(
      [&](HWND hWnd) {
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hWnd, &dwPid);
        return dwPid == dwProcessId && (wsTitle.empty() || WindowText(hWnd) == wsTitle);
      },
      dwTimeoutMs);
}

HWND WaitForOwnedDialog(HWND hOwner, DWORD dwTimeoutMs) {
  return WaitForWindow([&](HWND hWnd) { return GetWindow(hWnd, GW_OWNER) == hOwner; }, dwTimeoutMs);
}

bool WaitUntilGone(HWND hWnd, DWORD dwTimeoutMs) {
  const ULONGLONG ullEnd = GetTickCount64() + dwTimeoutMs;
  while (IsWindow(hWnd) && GetTickCount64() < ullEnd) Sleep(kPollMs);
  return !IsWindow(hWnd);
}

std::wstring WindowText(HWND hWnd) {
  const int cchText = static_cast<int>(Query(hWnd, WM_GETTEXTLENGTH));
  std::wstring wsText(cchText + 1, L'\0');
  wsText.resize(Query(hWnd, WM_GETTEXT, cchText + 1, reinterpret_cast<LPARAM>(wsText.data())));
  return wsText;
}

std::wstring Text(HWND hDlg, int nID) { return WindowText(GetDlgItem(hDlg, nID)); }

std::wstring StaticTexts(HWND hDlg) {
  std::wstring wsTexts;
  for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
    wchar_t wszClass[16] = {};
    GetClassNameW(hChild, wszClass, ARRAYSIZE(wszClass));
    const std::wstring wsText = WindowText(hChild);
    if (_wcsicmp(wszClass, L"Static") == 0 && !wsText.empty()) wsTexts += wsText + L"\n";
  }
  return wsTexts;
}

bool IsChecked(HWND hDlg, int nID) { return Query(GetDlgItem(hDlg, nID), BM_GETCHECK) == BST_CHECKED; }
bool IsVisible(HWND hDlg, int nID) { return IsWindowVisible(GetDlgItem(hDlg, nID)) != FALSE; }
bool IsEnabled(HWND hDlg, int nID) { return IsWindowEnabled(GetDlgItem(hDlg, nID)) != FALSE; }

RECT ItemRect(HWND hDlg, int nID) {
  RECT rc = {};
  GetWindowRect(GetDlgItem(hDlg, nID), &rc);
  MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

void SetText(HWND hDlg, int nID, const std::wstring& wsText) {
  Query(GetDlgItem(hDlg, nID), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wsText.c_str()));
}

bool Click(HWND hDlg, int nID) { return Deliver(GetDlgItem(hDlg, nID), BM_CLICK, 0, 0); }

void SetChecked(HWND hDlg, int nID, bool bChecked) {
  if (IsChecked(hDlg, nID) != bChecked) Click(hDlg, nID);
}

int ListRowCount(HWND hList) { return static_cast<int>(Query(hList, LVM_GETITEMCOUNT)); }

std::wstring ListText(HWND hList, int iRow, int iColumn) {
  wchar_t wszText[512] = {};
  LVITEMW item = {};
  item.iSubItem = iColumn;
  item.pszText = wszText;
  item.cchTextMax = ARRAYSIZE(wszText);
  Query(hList, LVM_GETITEMTEXTW, iRow, reinterpret_cast<LPARAM>(&item));
  return wszText;
}

bool ListIsChecked(HWND hList, int iRow) {
  return (Query(hList, LVM_GETITEMSTATE, iRow, LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void ListClickCheckBox(HWND hList, int iRow) {
  // The check box is the state image at the left of the row's icon part.
  RECT rc = {};
  rc.left = LVIR_BOUNDS;
  Query(hList, LVM_GETITEMRECT, iRow, reinterpret_cast<LPARAM>(&rc));
  const int cxState = GetSystemMetrics(SM_CXSMICON);
  ClickAt(hList, {rc.left + cxState / 2 + 2, (rc.top + rc.bottom) / 2});
}

void ListSelect(HWND hList, std::initializer_list<int> rows) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  Query(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
  item.state = LVIS_SELECTED;
  for (int iRow : rows) Query(hList, LVM_SETITEMSTATE, iRow, reinterpret_cast<LPARAM>(&item));
}

void ListClickHeader(HWND hList, int iColumn) {
  HWND hHeader = reinterpret_cast<HWND>(Query(hList, LVM_GETHEADER));
  RECT rc = {};
  Query(hHeader, HDM_GETITEMRECT, iColumn, reinterpret_cast<LPARAM>(&rc));
  ClickAt(hHeader, {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
}

int ListSortArrow(HWND hList, int iColumn) {
  HWND hHeader = reinterpret_cast<HWND>(Query(hList, LVM_GETHEADER));
  HDITEMW header = {};
  header.mask = HDI_FORMAT;
  Query(hHeader, HDM_GETITEMW, iColumn, reinterpret_cast<LPARAM>(&header));
  return header.fmt & (HDF_SORTUP | HDF_SORTDOWN);
}

HWND SheetPage(HWND hSheet) { return reinterpret_cast<HWND>(Query(hSheet, PSM_GETCURRENTPAGEHWND)); }

int SheetPageIndex(HWND hSheet) {
  DWORD_PTR dwIndex = static_cast<DWORD_PTR>(-1);
  SendMessageTimeoutW(hSheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(SheetPage(hSheet)), 0, SMTO_NORMAL, kWaitMs,
                      &dwIndex);
  return static_cast<int>(dwIndex);
}

int SheetPageCount(HWND hSheet) {
  return static_cast<int>(Query(reinterpret_cast<HWND>(Query(hSheet, PSM_GETTABCONTROL)), TCM_GETITEMCOUNT));
}

// Posted: a modal sheet looks whether a press ended it only when its loop takes a posted message.
bool PressSheetButton(HWND hSheet, int iButton) { return PostMessageW(hSheet, PSM_PRESSBUTTON, iButton, 0) != FALSE; }

bool WaitForSheetPage(HWND hSheet, int iIndex, DWORD dwTimeoutMs) {
  const ULONGLONG ullEnd = GetTickCount64() + dwTimeoutMs;
  while (SheetPageIndex(hSheet) != iIndex) {
    if (GetTickCount64() >= ullEnd) return false;
    Sleep(kPollMs);
  }
  return true;
}

bool ShowSheetPage(HWND hSheet, int iIndex) {
  Query(hSheet, PSM_SETCURSEL, iIndex);
  return WaitForSheetPage(hSheet, iIndex);
}

std::map<int, std::wstring> ToolTips(HWND hDlg) {
  std::map<int, std::wstring> tips;
  // A tool's description, followed by room for its text.
  constexpr SIZE_T cchText = 1024;
  const CRemoteBuffer buffer(hDlg, sizeof(TTTOOLINFOW) + cchText * sizeof(wchar_t));
  if (!buffer.Get()) return tips;
  for (HWND hToolTip : ProcessToolTips(hDlg)) {
    const int cTools = static_cast<int>(Query(hToolTip, TTM_GETTOOLCOUNT));
    for (int i = 0; i < cTools; ++i) {
      TTTOOLINFOW tool = {};
      tool.cbSize = sizeof(tool);
      if (!buffer.Write(0, &tool, sizeof(tool)) ||
          !Query(hToolTip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(buffer.Get())) ||
          !buffer.Read(0, &tool, sizeof(tool)))
        continue;
      const auto hTool = reinterpret_cast<HWND>(tool.uId);
      if (!(tool.uFlags & TTF_IDISHWND) || GetParent(hTool) != hDlg) continue;
      tool.lpszText = reinterpret_cast<wchar_t*>(buffer.Get() + sizeof(tool));
      const wchar_t wchEnd = 0;
      if (!buffer.Write(0, &tool, sizeof(tool)) || !buffer.Write(sizeof(tool), &wchEnd, sizeof(wchEnd))) continue;
      Query(hToolTip, TTM_GETTEXTW, cchText, reinterpret_cast<LPARAM>(buffer.Get()));
      std::wstring wsText(cchText, L'\0');
      if (!buffer.Read(sizeof(tool), wsText.data(), cchText * sizeof(wchar_t))) continue;
      wsText.resize(wcsnlen(wsText.c_str(), cchText));
      tips[GetDlgCtrlID(hTool)] = wsText;
    }
  }
  return tips;
}

std::wstring HoverToolTip(HWND hDlg, int nID) {
  HWND hItem = GetDlgItem(hDlg, nID);
  RECT rc = {};
  GetClientRect(hItem, &rc);
  POINT pt = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
  POINT ptScreen = pt;
  ClientToScreen(hItem, &ptScreen);
  SetCursorPos(ptScreen.x, ptScreen.y);
  // The tooltip sees the control's mouse messages through its subclass and shows after its
  // delay, when the mouse is still there.
  PostMessageW(hItem, WM_MOUSEMOVE, 0, MAKELPARAM(pt.x, pt.y));
  const ULONGLONG ullEnd = GetTickCount64() + kWaitMs;
  do {
    for (HWND hToolTip : ProcessToolTips(hDlg))
      if (IsWindowVisible(hToolTip)) return WindowText(hToolTip);
    Sleep(kPollMs);
  } while (GetTickCount64() < ullEnd);
  return std::wstring();
}

bool SaveBitmapPng(HBITMAP hBitmap, const std::wstring& wsPath) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR ulToken = 0;
  bool bSaved = false;
  if (Gdiplus::GdiplusStartup(&ulToken, &input, nullptr) == Gdiplus::Ok) {
    UINT cEncoders = 0, cbEncoders = 0;
    Gdiplus::GetImageEncodersSize(&cEncoders, &cbEncoders);
    std::vector<BYTE> encoders(cbEncoders);
    auto* pEncoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(encoders.data());
    Gdiplus::GetImageEncoders(cEncoders, cbEncoders, pEncoders);
    for (UINT i = 0; i < cEncoders && !bSaved; ++i) {
      if (wcscmp(pEncoders[i].MimeType, L"image/png") != 0) continue;
      Gdiplus::Bitmap image(hBitmap, nullptr);
      bSaved = image.Save(wsPath.c_str(), &pEncoders[i].Clsid, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(ulToken);
  }
  return bSaved;
}

namespace {

// Writes what the screen shows in rc as a PNG file.
bool SaveScreenPng(const RECT& rc, const std::wstring& wsPath) {
  // What the process's windows painted reaches the screen when their surfaces are flushed, which
  // Wine does later: a picture taken before could show a window half drawn.
  GdiFlush();
  const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
  HDC hScreen = GetDC(nullptr);
  HDC hMemory = CreateCompatibleDC(hScreen);
  HBITMAP hBitmap = CreateCompatibleBitmap(hScreen, cx, cy);
  HGDIOBJ hOld = SelectObject(hMemory, hBitmap);
  BitBlt(hMemory, 0, 0, cx, cy, hScreen, rc.left, rc.top, SRCCOPY);
  SelectObject(hMemory, hOld);
  DeleteDC(hMemory);
  ReleaseDC(nullptr, hScreen);
  const bool bSaved = SaveBitmapPng(hBitmap, wsPath);
  DeleteObject(hBitmap);
  return bSaved;
}

void Repaint(HWND hWnd) {
  RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Settle(hWnd);
}

}  // namespace

bool SavePng(HWND hWnd, const std::wstring& wsPath) {
  Repaint(hWnd);
  RECT rc = {};
  GetWindowRect(hWnd, &rc);
  return SaveScreenPng(rc, wsPath);
}

bool SavePngOf(const std::vector<HWND>& windows, const std::wstring& wsPath) {
  RECT rc = {}, rcWindow = {};
  for (HWND hWnd : windows) {
    Repaint(hWnd);
    if (IsWindowVisible(hWnd) && GetWindowRect(hWnd, &rcWindow)) UnionRect(&rc, &rc, &rcWindow);
  }
  return !IsRectEmpty(&rc) && SaveScreenPng(rc, wsPath);
}

bool SavePngWithToolTip(HWND hDlg, int nID, const std::wstring& wsPath) {
  Repaint(hDlg);
  if (HoverToolTip(hDlg, nID).empty()) return false;
  RECT rc = {}, rcTip = {};
  GetWindowRect(hDlg, &rc);
  for (HWND hToolTip : ProcessToolTips(hDlg))
    if (IsWindowVisible(hToolTip) && GetWindowRect(hToolTip, &rcTip)) UnionRect(&rc, &rc, &rcTip);
  return SaveScreenPng(rc, wsPath);
}

namespace {

// The wizard's own buttons (the sheet's control ids).
constexpr int kNextButton = 0x3024;
constexpr int kFinishButton = 0x3025;
// How long describing the windows waits for each answer: a hung window must not hold it.
constexpr DWORD kDescribeMs = 2000;

std::wstring WindowClass(HWND hWnd) {
  wchar_t wszClass[64] = {};
  GetClassNameW(hWnd, wszClass, ARRAYSIZE(wszClass));
  return wszClass;
}

// The file name of a window's program.
std::wstring ProgramName(HWND hWnd) {
  DWORD dwPid = 0;
  GetWindowThreadProcessId(hWnd, &dwPid);
  wchar_t wszPath[MAX_PATH] = L"?";
  DWORD cch = MAX_PATH;
  HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwPid);
  if (hProcess) {
    QueryFullProcessImageNameW(hProcess, 0, wszPath, &cch);
    CloseHandle(hProcess);
  }
  const wchar_t* pwszSlash = wcsrchr(wszPath, L'\\');
  return (pwszSlash ? pwszSlash + 1 : wszPath) + std::wstring(L" (process ") + std::to_wstring(dwPid) + L")";
}

std::wstring ShortText(HWND hWnd) {
  wchar_t wszText[256] = {};
  Query(hWnd, WM_GETTEXT, ARRAYSIZE(wszText), reinterpret_cast<LPARAM>(wszText), kDescribeMs);
  return wszText;
}

// A text on one line: each run of line breaks becomes a blank, and none ends it.
std::wstring OneLine(const std::wstring& ws) {
  std::wstring wsLine;
  for (wchar_t wc : ws) {
    const bool bBreak = wc == L'\n' || wc == L'\r';
    if (!bBreak)
      wsLine += wc;
    else if (!wsLine.empty() && wsLine.back() != L' ')
      wsLine += L' ';
  }
  if (!wsLine.empty() && wsLine.back() == L' ') wsLine.pop_back();
  return wsLine;
}

// The push buttons a user can press now, by their texts.
std::wstring Buttons(HWND hWnd) {
  std::wstring wsButtons;
  for (HWND hChild = GetWindow(hWnd, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
    const LONG lType = GetWindowLongW(hChild, GWL_STYLE) & BS_TYPEMASK;
    if (_wcsicmp(WindowClass(hChild).c_str(), L"Button") != 0 ||
        (lType != BS_PUSHBUTTON && lType != BS_DEFPUSHBUTTON) || !IsWindowVisible(hChild) || !IsWindowEnabled(hChild))
      continue;
    std::wstring wsText = ShortText(hChild);
    wsText.erase(std::remove(wsText.begin(), wsText.end(), L'&'), wsText.end());
    wsButtons += (wsButtons.empty() ? L"" : L" | ") + wsText;
  }
  return wsButtons;
}

BOOL CALLBACK DescribeTopLevel(HWND hWnd, LPARAM lParam) {
  if (!IsWindowVisible(hWnd)) return TRUE;
  std::wstring wsLine = L"  " + ProgramName(hWnd) + L": " + WindowClass(hWnd) + L" \"" + ShortText(hWnd) + L"\"";
  const LRESULT lPage = Query(hWnd, PSM_GETCURRENTPAGEHWND, 0, 0, kDescribeMs);
  if (const auto hPage = reinterpret_cast<HWND>(lPage)) {
    const LRESULT lIndex = Query(hWnd, PSM_HWNDTOINDEX, lPage, 0, kDescribeMs);
    const LRESULT lTab = Query(hWnd, PSM_GETTABCONTROL, 0, 0, kDescribeMs);
    const LRESULT lCount = Query(reinterpret_cast<HWND>(lTab), TCM_GETITEMCOUNT, 0, 0, kDescribeMs);
    wsLine += L", page " + std::to_wstring(lIndex + 1) + L" of " + std::to_wstring(lCount) + L" \"" + ShortText(hPage) +
              L"\"";
  } else if (WindowClass(hWnd) == L"#32770" && !StaticTexts(hWnd).empty()) {
    wsLine += L", text \"" + OneLine(StaticTexts(hWnd)) + L"\"";
  }
  const std::wstring wsButtons = Buttons(hWnd);
  if (!wsButtons.empty()) wsLine += L", buttons " + wsButtons;
  *reinterpret_cast<std::wstring*>(lParam) += wsLine + L"\n";
  return TRUE;
}

std::wstring Failure(const std::wstring& wsWhat) { return L"FAILED: " + wsWhat + L"\n" + DescribeWindows(); }

std::wstring Seconds(DWORD dwMilliseconds) { return std::to_wstring((dwMilliseconds + 999) / 1000) + L" s"; }

// The first expected page from iFrom on that hPage is, skipping optional ones; pages.size() when none.
size_t MatchPage(const std::vector<SWizardPage>& pages, size_t iFrom, HWND hPage) {
  for (size_t i = iFrom; i < pages.size(); ++i) {
    if (GetDlgItem(hPage, pages[i].nControlID)) return i;
    if (!pages[i].bOptional) break;
  }
  return pages.size();
}

// The names of the pages that may come next, for a failure's text.
std::wstring Expected(const std::vector<SWizardPage>& pages, size_t iFrom) {
  std::wstring wsNames;
  for (size_t i = iFrom; i < pages.size(); ++i) {
    wsNames += (wsNames.empty() ? L"\"" : L" or \"") + pages[i].wsName + L"\"";
    if (!pages[i].bOptional) break;
  }
  return wsNames.empty() ? L"no more pages" : wsNames;
}

// Waits until the sheet's button shows and can be pressed.
bool WaitForButton(HWND hSheet, int nID) {
  const ULONGLONG ullEnd = GetTickCount64() + kWaitMs;
  for (HWND hButton = GetDlgItem(hSheet, nID); !IsWindowVisible(hButton) || !IsWindowEnabled(hButton); Sleep(kPollMs))
    if (GetTickCount64() >= ullEnd) return false;
  return true;
}

}  // namespace

std::wstring DescribeWindows() {
  std::wstring wsWindows = L"windows open:\n";
  EnumWindows(DescribeTopLevel, reinterpret_cast<LPARAM>(&wsWindows));
  return wsWindows;
}

void GiveUp(const std::wstring& wsWaitedFor) { Abandon(Failure(L"waited for " + wsWaitedFor)); }

void Abandon(const std::wstring& wsFailure) {
  fputws(wsFailure.c_str(), stdout);
  fflush(stdout);
  // The modal loop that waits would never end: the process does, at once, without running the
  // libraries' detach code under a loop that still runs. (ExitProcess is never reached.)
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

std::wstring PlayWizard(HWND hSheet, const std::vector<SWizardPage>& pages,
                        const std::function<void(const std::wstring&)>& log, DWORD dwPageWaitMs) {
  size_t iNext = 0;         // the first page that may come next
  HWND hPressed = nullptr;  // the page whose button was pressed last
  bool bFinished = false;
  std::wstring wsAwaited = L"the wizard's first page";
  ULONGLONG ullEnd = GetTickCount64() + dwPageWaitMs;
  while (IsWindow(hSheet)) {
    if (GetTickCount64() >= ullEnd) return Failure(L"waited " + Seconds(dwPageWaitMs) + L" for " + wsAwaited);
    if (HWND hBox = WaitForOwnedDialog(hSheet, 0)) {
      // A question is answered Yes; a message means the page refused to go on.
      const bool bQuestion = GetDlgItem(hBox, IDYES) != nullptr;
      const std::wstring wsText = OneLine(StaticTexts(hBox));
      log((bQuestion ? L"question, answered Yes: " : L"message, answered OK: ") + wsText);
      Click(hBox, bQuestion ? IDYES : IDOK);
      if (!WaitUntilGone(hBox)) return Failure(L"waited " + Seconds(kWaitMs) + L" for the box to close: " + wsText);
      if (!bQuestion) return Failure(L"the wizard refused to go on: " + wsText);
      continue;
    }
    HWND hPage = SheetPage(hSheet);
    if (bFinished || !hPage || hPage == hPressed) {
      Sleep(kPollMs);
      continue;
    }
    const size_t iPage = MatchPage(pages, iNext, hPage);
    if (iPage == pages.size())
      return Failure(L"the wizard shows page \"" + ShortText(hPage) + L"\" where " + Expected(pages, iNext) +
                     L" was expected");
    const SWizardPage& page = pages[iPage];
    if (page.fill) page.fill(hPage);
    bFinished = iPage + 1 == pages.size();
    const wchar_t* wszButton = bFinished ? L"Finish" : L"Next";
    log(L"page " + std::to_wstring(SheetPageIndex(hSheet) + 1) + L" \"" + ShortText(hPage) + L"\" (" + page.wsName +
        L"): " + wszButton);
    // A page sets the wizard's buttons with a posted message: the button may come a moment after
    // the page. A press is posted too, so it never overtakes what the page asked for.
    if (!WaitForButton(hSheet, bFinished ? kFinishButton : kNextButton))
      return Failure(L"waited " + Seconds(kWaitMs) + L" for page \"" + page.wsName + L"\" to offer " + wszButton);
    PressSheetButton(hSheet, bFinished ? PSBTN_FINISH : PSBTN_NEXT);
    hPressed = hPage;
    iNext = iPage + 1;
    wsAwaited = bFinished ? L"the wizard to close after Finish on page \"" + page.wsName + L"\""
                          : L"the page after \"" + page.wsName + L"\" (" + Expected(pages, iNext) + L")";
    ullEnd = GetTickCount64() + dwPageWaitMs;
  }
  if (!bFinished) return Failure(L"the wizard closed before its last page, " + wsAwaited);
  for (size_t i = iNext; i < pages.size(); ++i)
    if (!pages[i].bOptional) return Failure(L"the wizard finished before page \"" + pages[i].wsName + L"\"");
  return std::wstring();
}

}  // namespace UiDriver
