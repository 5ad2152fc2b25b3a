#pragma once
// The UI driver: finds dialogs, reads and sets their controls and presses their buttons the way
// a user does. A click is posted and returns once the window's thread has handled it or waits
// in a modal window it opened (a message box), so that the driver can answer that. List views
// and headers are read in-process only. Every wait has a bound.
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace UiDriver {

// How long the waits look before giving up.
constexpr DWORD kWaitMs = 30000;
// How long a wizard play waits for each page: a page's Next may do slow work (a backup).
constexpr DWORD kPageWaitMs = 120000;

// The first visible top-level dialog (class #32770) that matches, waiting for one; null when
// none came.
HWND WaitForWindow(const std::function<bool(HWND)>& matches, DWORD dwTimeoutMs = kWaitMs);
// A dialog of the process with that title (any title when empty).
HWND WaitForDialog(DWORD dwProcessId, const std::wstring& wsTitle, DWORD dwTimeoutMs = kWaitMs);
// A dialog owned by hOwner: a message box or a dialog opened from it.
HWND WaitForOwnedDialog(HWND hOwner, DWORD dwTimeoutMs = kWaitMs);
// Waits until the window is gone; false when it stayed.
bool WaitUntilGone(HWND hWnd, DWORD dwTimeoutMs = kWaitMs);

std::wstring WindowText(HWND hWnd);
std::wstring Text(HWND hDlg, int nID);
// The texts of the dialog's static controls, one a line: a message box's message.
std::wstring StaticTexts(HWND hDlg);
bool IsChecked(HWND hDlg, int nID);
bool IsVisible(HWND hDlg, int nID);
bool IsEnabled(HWND hDlg, int nID);
// The control's rectangle in the dialog's client coordinates.
RECT ItemRect(HWND hDlg, int nID);

void SetText(HWND hDlg, int nID, const std::wstring& wsText);
// False when the window's thread did not take the click within the bound.
bool Click(HWND hDlg, int nID);
// Clicks a check box or radio button when its state differs.
void SetChecked(HWND hDlg, int nID, bool bChecked);

int ListRowCount(HWND hList);
std::wstring ListText(HWND hList, int iRow, int iColumn);
bool ListIsChecked(HWND hList, int iRow);
// Clicks the row's check box.
void ListClickCheckBox(HWND hList, int iRow);
// Selects exactly these rows.
void ListSelect(HWND hList, std::initializer_list<int> rows);
// Clicks a column header; waits until the click is handled.
void ListClickHeader(HWND hList, int iColumn);
// HDF_SORTUP, HDF_SORTDOWN or 0.
int ListSortArrow(HWND hList, int iColumn);

// Property sheets and wizards: the page shown, its position, and the sheet's buttons
// (PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL ...), pressed like Click.
HWND SheetPage(HWND hSheet);
int SheetPageIndex(HWND hSheet);
// A wizard keeps a tab per page, hidden.
int SheetPageCount(HWND hSheet);
bool PressSheetButton(HWND hSheet, int iButton);
// Waits until the sheet shows the page at that position; false when it did not come.
bool WaitForSheetPage(HWND hSheet, int iIndex, DWORD dwTimeoutMs = kWaitMs);
// Moves the sheet to that page without the pages' checks (PSM_SETCURSEL) and waits for it.
bool ShowSheetPage(HWND hSheet, int iIndex);

// A page that a wizard play expects: its name for the log, a control that only this page has,
// and what the user does there before pressing Next (Finish on the last page of the play).
struct SWizardPage {
  std::wstring wsName;
  int nControlID;
  std::function<void(HWND hPage)> fill;
  bool bOptional = false;  // the wizard may leave it out
};
// Plays a wizard as a user does, page by page: each page shown must be the next one expected
// (optional ones may be skipped); questions on the way are answered Yes. Each line of what it
// does goes to log. Returns an empty text when the wizard closed after Finish on the last page;
// otherwise the failure: what it waited for, or the page it did not expect, with the windows
// open (DescribeWindows). The wizard is then left as it was.
std::wstring PlayWizard(HWND hSheet, const std::vector<SWizardPage>& pages,
                        const std::function<void(const std::wstring&)>& log, DWORD dwPageWaitMs = kPageWaitMs);

// The visible top-level windows of every process, one a line: process, class, title; for a
// property sheet or wizard its current page and the buttons it offers; for a message box its text.
std::wstring DescribeWindows();
// Ends this process at once with exit code 1 after printing the failure, flushed: for tools and
// tests whose modal loop would otherwise wait for good.
[[noreturn]] void Abandon(const std::wstring& wsFailure);
// Abandons with what it waited for and the windows open.
[[noreturn]] void GiveUp(const std::wstring& wsWaitedFor);

// Tooltips: the texts of the tools that stand for hDlg's own controls, by control id, from the
// tooltip controls of hDlg's process (read through that process's memory, so any process will
// do); empty when no control has one.
std::map<int, std::wstring> ToolTips(HWND hDlg);
// Points the mouse at the control and waits until a tooltip shows; its text, empty when none
// came.
std::wstring HoverToolTip(HWND hDlg, int nID);

// Writes a bitmap as a PNG file.
bool SaveBitmapPng(HBITMAP hBitmap, const std::wstring& wsPath);
// Writes what the window shows on the screen as a PNG file.
bool SavePng(HWND hWnd, const std::wstring& wsPath);
// Writes what the windows show on the screen, in the smallest rectangle that holds every visible
// one, as a PNG file.
bool SavePngOf(const std::vector<HWND>& windows, const std::wstring& wsPath);
// The same with the tooltip that pointing at the control brings up; false when none came.
bool SavePngWithToolTip(HWND hDlg, int nID, const std::wstring& wsPath);

}  // namespace UiDriver
