#include "DialogAnswerer.h"

#include <prsht.h>

#include <algorithm>
#include <utility>

#include "UiDriver.h"
#include "ui/DialogIds.h"

namespace Sim {
namespace {

constexpr DWORD kPollMs = 50;

std::wstring WindowText(HWND hwnd) {
  wchar_t wsz[1024] = {};
  GetWindowTextW(hwnd, wsz, 1024);
  return wsz;
}

// The first visible dialog-class window of this process.
HWND FindBox() {
  HWND hwndFound = nullptr;
  EnumWindows(
      [](HWND hwnd, LPARAM lParam) -> BOOL {
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hwnd, &dwPid);
        wchar_t wszClass[16] = {};
        GetClassNameW(hwnd, wszClass, 16);
        if (dwPid != GetCurrentProcessId() || wcscmp(wszClass, L"#32770") || !IsWindowVisible(hwnd)) return TRUE;
        *reinterpret_cast<HWND*>(lParam) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&hwndFound));
  return hwndFound;
}

// The texts of the box's static controls: its message.
std::wstring BoxText(HWND hwndBox) {
  std::wstring wsText;
  EnumChildWindows(
      hwndBox,
      [](HWND hwnd, LPARAM lParam) -> BOOL {
        wchar_t wszClass[16] = {};
        GetClassNameW(hwnd, wszClass, 16);
        const std::wstring wsChild = WindowText(hwnd);
        auto* pwsText = reinterpret_cast<std::wstring*>(lParam);
        // An icon's or a picture's text is its resource id, not words.
        const LONG_PTR lType = GetWindowLongPtrW(hwnd, GWL_STYLE) & SS_TYPEMASK;
        const bool bWords = lType != SS_ICON && lType != SS_BITMAP;
        if (!lstrcmpiW(wszClass, L"Static") && bWords && !wsChild.empty())
          *pwsText += (pwsText->empty() ? L"" : L" ") + wsChild;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&wsText));
  return wsText;
}

}  // namespace

CDialogAnswerer::CDialogAnswerer() {
  InitializeCriticalSection(&m_lock);
  m_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

CDialogAnswerer::~CDialogAnswerer() {
  SetEvent(m_hStop);
  WaitForSingleObject(m_hThread, INFINITE);
  CloseHandle(m_hThread);
  CloseHandle(m_hStop);
  DeleteCriticalSection(&m_lock);
}

void CDialogAnswerer::Arm(int iButton, std::wstring wsWhile) {
  EnterCriticalSection(&m_lock);
  m_armed.emplace_back(iButton, std::move(wsWhile));
  LeaveCriticalSection(&m_lock);
}

void CDialogAnswerer::ArmChoice(std::vector<std::wstring> emails) {
  EnterCriticalSection(&m_lock);
  m_bChoiceArmed = true;
  m_chosen = std::move(emails);
  LeaveCriticalSection(&m_lock);
}

bool CDialogAnswerer::Armed() {
  EnterCriticalSection(&m_lock);
  const bool bArmed = !m_armed.empty() || m_bChoiceArmed;
  LeaveCriticalSection(&m_lock);
  return bArmed;
}

std::vector<std::wstring> CDialogAnswerer::TakeAnswered(bool* pbUnexpected) {
  EnterCriticalSection(&m_lock);
  std::vector<std::wstring> answered;
  answered.swap(m_answered);
  *pbUnexpected = m_bUnexpected;
  m_bUnexpected = false;
  LeaveCriticalSection(&m_lock);
  return answered;
}

DWORD WINAPI CDialogAnswerer::ThreadProc(void* pv) {
  static_cast<CDialogAnswerer*>(pv)->Watch();
  return 0;
}

void CDialogAnswerer::Watch() {
  HWND hwndLast = nullptr;
  while (WaitForSingleObject(m_hStop, kPollMs) == WAIT_TIMEOUT) {
    HWND hwndBox = FindBox();
    // A box that is closing stays visible for a moment: press each one once.
    if (hwndBox && (hwndBox != hwndLast || hwndBox == m_hwndWizard)) Answer(hwndBox);
    hwndLast = hwndBox;
  }
}

std::wstring CDialogAnswerer::Choose(HWND hwndList) {
  std::wstring wsRows;
  for (int iRow = 0; iRow < UiDriver::ListRowCount(hwndList); ++iRow) {
    const std::wstring wsEmail = UiDriver::ListText(hwndList, iRow, 1);
    const bool bWanted = std::find(m_chosen.begin(), m_chosen.end(), wsEmail) != m_chosen.end();
    if (UiDriver::ListIsChecked(hwndList, iRow) != bWanted) UiDriver::ListClickCheckBox(hwndList, iRow);
    wsRows += (wsRows.empty() ? L"" : L", ") + wsEmail + (UiDriver::ListIsChecked(hwndList, iRow) ? L" [x]" : L" [ ]");
  }
  return wsRows.empty() ? L"no rows" : wsRows;
}

void CDialogAnswerer::Answer(HWND hwndBox) {
  // A wizard whose choice was made finishes once its last page shows (a question may come first).
  if (hwndBox == m_hwndWizard) {
    if (UiDriver::SheetPageIndex(hwndBox) != 1) return;
    m_hwndWizard = nullptr;
    UiDriver::PressSheetButton(hwndBox, PSBTN_FINISH);
    return;
  }
  EnterCriticalSection(&m_lock);
  // The invitation wizard offers its list on its first page.
  HWND hwndPage = UiDriver::SheetPage(hwndBox);
  HWND hwndList = hwndPage ? GetDlgItem(hwndPage, IDC_INVITE_LIST) : GetDlgItem(hwndBox, IDC_RECIPIENT_LIST);
  const bool bChoice = hwndList && m_bChoiceArmed;
  const bool bArmed = bChoice || !m_armed.empty();
  const int iButton = bChoice ? IDOK : bArmed ? m_armed.front().first : IDCANCEL;
  const std::wstring wsWhile = bChoice || !bArmed ? L"" : m_armed.front().second;
  if (bChoice) {
    m_bChoiceArmed = false;
  } else if (bArmed) {
    m_armed.pop_front();
  }
  m_bUnexpected = m_bUnexpected || !bArmed;
  std::wstring wsWhat = bChoice ? L"recipient dialog \"" + WindowText(hwndBox) + L"\": " + Choose(hwndList)
                                : L"message box \"" + WindowText(hwndBox) + L"\": \"" + BoxText(hwndBox) + L"\"";
  LeaveCriticalSection(&m_lock);
  if (!wsWhile.empty()) {
    std::vector<std::wstring> lines;
    DWORD dwExitCode = 0;
    const HRESULT hr = RunProcess(wsWhile, false, &lines, &dwExitCode);
    wsWhat += L" while " + wsWhile + L":";
    for (const std::wstring& wsLine : lines) wsWhat += L" " + wsLine + L";";
    wsWhat += FAILED(hr) ? L" not started" : L" exit code " + std::to_wstring(dwExitCode);
  }
  EnterCriticalSection(&m_lock);
  m_answered.push_back(wsWhat + L" -> button " + std::to_wstring(iButton));
  LeaveCriticalSection(&m_lock);
  if (bChoice && hwndPage) {
    m_hwndWizard = hwndBox;
    UiDriver::PressSheetButton(hwndBox, PSBTN_NEXT);
    return;
  }
  // The box runs its own modal loop on the thread that showed it, which handles these messages.
  if (HWND hwndButton = GetDlgItem(hwndBox, iButton)) {
    SendMessageW(hwndButton, BM_CLICK, 0, 0);
  } else {
    PostMessageW(hwndBox, WM_COMMAND, MAKEWPARAM(iButton, BN_CLICKED), 0);
  }
}

}  // namespace Sim
