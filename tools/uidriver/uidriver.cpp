// uidriver: answers a dialog of any process from the command line, for demos and scripts.
//
//   uidriver wait TITLE                 waits for a dialog with that title
//   uidriver text TITLE ID              prints a control's text
//   uidriver checked TITLE ID           prints 1 when the button is checked, else 0
//   uidriver check TITLE ID 0|1         clicks the button when its state differs
//   uidriver settext TITLE ID TEXT...   sets a control's text (each of several ID TEXT pairs)
//   uidriver click TITLE ID             presses a button
//   uidriver shot TITLE FILE            writes what the dialog shows as a PNG file
//   uidriver tips TITLE                 prints the tooltips of its controls, "ID<tab>TEXT" a line
//   uidriver gone TITLE                 waits until no dialog has that title
//   uidriver close TITLE                cancels a property sheet of that title (else closes the
//                                       window) and waits until it has gone
//   uidriver windows                    prints the windows open, with wizard pages and buttons
// Exit code 0 on success, 2 on bad usage, 1 when the dialog did not come (or did not go): then
// it prints what it waited for and the windows open.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "UiDriver.h"

namespace {

HWND FindByTitle(const std::wstring& wsTitle) {
  return UiDriver::WaitForWindow([&](HWND hWnd) { return UiDriver::WindowText(hWnd) == wsTitle; });
}

int Usage() {
  fputws(
      L"usage: uidriver wait|gone|close TITLE | text|checked|click TITLE ID | check TITLE ID 0|1 |\n"
      L"                settext TITLE ID TEXT [ID TEXT]... | shot TITLE FILE | tips TITLE | windows\n",
      stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 2 && std::wstring(argv[1]) == L"windows") {
    fputws(UiDriver::DescribeWindows().c_str(), stdout);
    return 0;
  }
  if (argc < 3) return Usage();
  const std::wstring wsCommand = argv[1];
  const std::wstring wsTitle = argv[2];
  if (wsCommand == L"gone") {
    HWND hWnd = FindWindowW(L"#32770", wsTitle.c_str());
    if (hWnd && !UiDriver::WaitUntilGone(hWnd)) UiDriver::GiveUp(L"the dialog \"" + wsTitle + L"\" to close");
    return 0;
  }
  HWND hDlg = FindByTitle(wsTitle);
  if (!hDlg) UiDriver::GiveUp(L"the dialog \"" + wsTitle + L"\"");
  if (wsCommand == L"wait") return 0;
  if (wsCommand == L"close") {
    // Posted: a sheet's modal loop looks whether it has ended only when a posted message wakes it.
    if (UiDriver::SheetPage(hDlg)) {
      UiDriver::PressSheetButton(hDlg, PSBTN_CANCEL);
    } else {
      PostMessageW(hDlg, WM_CLOSE, 0, 0);
    }
    if (!UiDriver::WaitUntilGone(hDlg)) UiDriver::GiveUp(L"\"" + wsTitle + L"\" to close");
    return 0;
  }
  if (wsCommand == L"tips") {
    for (const auto& [nID, wsText] : UiDriver::ToolTips(hDlg)) wprintf(L"%d\t%ls\n", nID, wsText.c_str());
    return 0;
  }
  if (argc < 4) return Usage();
  if (wsCommand == L"shot") return UiDriver::SavePng(hDlg, argv[3]) ? 0 : 1;
  const int nID = _wtoi(argv[3]);
  if (wsCommand == L"text") {
    wprintf(L"%ls\n", UiDriver::Text(hDlg, nID).c_str());
  } else if (wsCommand == L"checked") {
    wprintf(L"%d\n", UiDriver::IsChecked(hDlg, nID) ? 1 : 0);
  } else if (wsCommand == L"click") {
    if (!UiDriver::Click(hDlg, nID)) UiDriver::GiveUp(L"the dialog \"" + wsTitle + L"\" to take the click");
  } else if (wsCommand == L"check" && argc == 5) {
    UiDriver::SetChecked(hDlg, nID, _wtoi(argv[4]) != 0);
  } else if (wsCommand == L"settext" && argc % 2 == 1) {
    for (int i = 3; i + 1 < argc; i += 2) UiDriver::SetText(hDlg, _wtoi(argv[i]), argv[i + 1]);
  } else {
    return Usage();
  }
  return 0;
}
