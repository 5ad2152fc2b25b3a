#pragma once
// The UI driver: finds dialogs, reads and sets their controls and presses their buttons the way
// a user does. A click returns when it has been handled, or after a second when it opened a
// modal window (a message box), so that the driver can answer that. List views and headers are
// read in-process only.
#include <windows.h>

#include <functional>
#include <map>
#include <string>

namespace UiDriver {

// How long the waits look before giving up.
constexpr DWORD kWaitMs = 30000;

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
void Click(HWND hDlg, int nID);
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
void PressSheetButton(HWND hSheet, int iButton);
// Waits until the sheet shows the page at that position; false when it did not come.
bool WaitForSheetPage(HWND hSheet, int iIndex, DWORD dwTimeoutMs = kWaitMs);

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
// The same with the tooltip that pointing at the control brings up; false when none came.
bool SavePngWithToolTip(HWND hDlg, int nID, const std::wstring& wsPath);

}  // namespace UiDriver
