#include "UiDriver.h"

#include <commctrl.h>
#include <prsht.h>
#include <gdiplus.h>

#include <vector>

namespace UiDriver {

namespace {

constexpr DWORD kPollMs = 50;
// A click that opens a modal window returns only when that closes: the driver stops waiting
// for it after this long and goes on.
constexpr DWORD kClickMs = 1000;

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

// Waits for a posted message to be handled by the window's thread.
void Settle(HWND hWnd) {
  DWORD_PTR dwResult = 0;
  SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &dwResult);
}

void Send(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR dwResult = 0;
  SendMessageTimeoutW(hWnd, uMsg, wParam, lParam, SMTO_NORMAL, kClickMs, &dwResult);
}

void ClickAt(HWND hWnd, POINT pt) {
  const LPARAM lPoint = MAKELPARAM(pt.x, pt.y);
  Send(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, lPoint);
  Send(hWnd, WM_LBUTTONUP, 0, lPoint);
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
  const int cchText = static_cast<int>(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0));
  std::wstring wsText(cchText + 1, L'\0');
  wsText.resize(SendMessageW(hWnd, WM_GETTEXT, cchText + 1, reinterpret_cast<LPARAM>(wsText.data())));
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

bool IsChecked(HWND hDlg, int nID) { return SendDlgItemMessageW(hDlg, nID, BM_GETCHECK, 0, 0) == BST_CHECKED; }
bool IsVisible(HWND hDlg, int nID) { return IsWindowVisible(GetDlgItem(hDlg, nID)) != FALSE; }
bool IsEnabled(HWND hDlg, int nID) { return IsWindowEnabled(GetDlgItem(hDlg, nID)) != FALSE; }

RECT ItemRect(HWND hDlg, int nID) {
  RECT rc = {};
  GetWindowRect(GetDlgItem(hDlg, nID), &rc);
  MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

void SetText(HWND hDlg, int nID, const std::wstring& wsText) {
  SendDlgItemMessageW(hDlg, nID, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wsText.c_str()));
}

void Click(HWND hDlg, int nID) { Send(GetDlgItem(hDlg, nID), BM_CLICK, 0, 0); }

void SetChecked(HWND hDlg, int nID, bool bChecked) {
  if (IsChecked(hDlg, nID) != bChecked) Click(hDlg, nID);
}

int ListRowCount(HWND hList) { return static_cast<int>(SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring ListText(HWND hList, int iRow, int iColumn) {
  wchar_t wszText[512] = {};
  LVITEMW item = {};
  item.iSubItem = iColumn;
  item.pszText = wszText;
  item.cchTextMax = ARRAYSIZE(wszText);
  SendMessageW(hList, LVM_GETITEMTEXTW, iRow, reinterpret_cast<LPARAM>(&item));
  return wszText;
}

bool ListIsChecked(HWND hList, int iRow) {
  return (SendMessageW(hList, LVM_GETITEMSTATE, iRow, LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void ListClickCheckBox(HWND hList, int iRow) {
  // The check box is the state image at the left of the row's icon part.
  RECT rc = {};
  rc.left = LVIR_BOUNDS;
  SendMessageW(hList, LVM_GETITEMRECT, iRow, reinterpret_cast<LPARAM>(&rc));
  const int cxState = GetSystemMetrics(SM_CXSMICON);
  ClickAt(hList, {rc.left + cxState / 2 + 2, (rc.top + rc.bottom) / 2});
}

void ListSelect(HWND hList, std::initializer_list<int> rows) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  SendMessageW(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
  item.state = LVIS_SELECTED;
  for (int iRow : rows) SendMessageW(hList, LVM_SETITEMSTATE, iRow, reinterpret_cast<LPARAM>(&item));
}

void ListClickHeader(HWND hList, int iColumn) {
  HWND hHeader = reinterpret_cast<HWND>(SendMessageW(hList, LVM_GETHEADER, 0, 0));
  RECT rc = {};
  SendMessageW(hHeader, HDM_GETITEMRECT, iColumn, reinterpret_cast<LPARAM>(&rc));
  ClickAt(hHeader, {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
}

int ListSortArrow(HWND hList, int iColumn) {
  HWND hHeader = reinterpret_cast<HWND>(SendMessageW(hList, LVM_GETHEADER, 0, 0));
  HDITEMW header = {};
  header.mask = HDI_FORMAT;
  SendMessageW(hHeader, HDM_GETITEMW, iColumn, reinterpret_cast<LPARAM>(&header));
  return header.fmt & (HDF_SORTUP | HDF_SORTDOWN);
}

HWND SheetPage(HWND hSheet) {
  DWORD_PTR dwPage = 0;
  SendMessageTimeoutW(hSheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_NORMAL, kWaitMs, &dwPage);
  return reinterpret_cast<HWND>(dwPage);
}

int SheetPageIndex(HWND hSheet) {
  DWORD_PTR dwIndex = static_cast<DWORD_PTR>(-1);
  SendMessageTimeoutW(hSheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(SheetPage(hSheet)), 0, SMTO_NORMAL, kWaitMs,
                      &dwIndex);
  return static_cast<int>(dwIndex);
}

void PressSheetButton(HWND hSheet, int iButton) { Send(hSheet, PSM_PRESSBUTTON, iButton, 0); }

bool WaitForSheetPage(HWND hSheet, int iIndex, DWORD dwTimeoutMs) {
  const ULONGLONG ullEnd = GetTickCount64() + dwTimeoutMs;
  while (SheetPageIndex(hSheet) != iIndex) {
    if (GetTickCount64() >= ullEnd) return false;
    Sleep(kPollMs);
  }
  return true;
}

std::map<int, std::wstring> ToolTips(HWND hDlg) {
  std::map<int, std::wstring> tips;
  // A tool's description, followed by room for its text.
  constexpr SIZE_T cchText = 1024;
  const CRemoteBuffer buffer(hDlg, sizeof(TTTOOLINFOW) + cchText * sizeof(wchar_t));
  if (!buffer.Get()) return tips;
  for (HWND hToolTip : ProcessToolTips(hDlg)) {
    const int cTools = static_cast<int>(SendMessageW(hToolTip, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < cTools; ++i) {
      TTTOOLINFOW tool = {};
      tool.cbSize = sizeof(tool);
      if (!buffer.Write(0, &tool, sizeof(tool)) ||
          !SendMessageW(hToolTip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(buffer.Get())) ||
          !buffer.Read(0, &tool, sizeof(tool)))
        continue;
      const auto hTool = reinterpret_cast<HWND>(tool.uId);
      if (!(tool.uFlags & TTF_IDISHWND) || GetParent(hTool) != hDlg) continue;
      tool.lpszText = reinterpret_cast<wchar_t*>(buffer.Get() + sizeof(tool));
      const wchar_t wchEnd = 0;
      if (!buffer.Write(0, &tool, sizeof(tool)) || !buffer.Write(sizeof(tool), &wchEnd, sizeof(wchEnd))) continue;
      SendMessageW(hToolTip, TTM_GETTEXTW, cchText, reinterpret_cast<LPARAM>(buffer.Get()));
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

bool SavePngWithToolTip(HWND hDlg, int nID, const std::wstring& wsPath) {
  Repaint(hDlg);
  if (HoverToolTip(hDlg, nID).empty()) return false;
  RECT rc = {}, rcTip = {};
  GetWindowRect(hDlg, &rc);
  for (HWND hToolTip : ProcessToolTips(hDlg))
    if (IsWindowVisible(hToolTip) && GetWindowRect(hToolTip, &rcTip)) UnionRect(&rc, &rc, &rcTip);
  return SaveScreenPng(rc, wsPath);
}

}  // namespace UiDriver
