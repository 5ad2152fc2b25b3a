// OX_CreateInvitation: rundll32.exe entry point through which the suite's other programs have
// Outlook open a new invitation. A worker thread does the work; this thread keeps the waiting
// dialog and the caller's windows alive by dispatching their messages.
#include <windows.h>

#include "mail/Launcher.h"
#include "module/Trace.h"
#include "ui/WaitOutlookDialog.h"

namespace {

DWORD WINAPI InvitationThreadProc(LPVOID pvResult) {
  InvitationThread(static_cast<HRESULT*>(pvResult));
  return 0;
}

// Dispatches every waiting message, each by its window's character set; false when the thread
// ended meanwhile.
bool DispatchWaitingMessages(HANDLE hThread) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    const bool bUnicode = !msg.hwnd || IsWindowUnicode(msg.hwnd);
    if (bUnicode ? !PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) : !PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) break;
    TranslateMessage(&msg);
    bUnicode ? DispatchMessageW(&msg) : DispatchMessageA(&msg);
    if (WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0) return false;
  }
  return true;
}

}  // namespace

extern "C" HRESULT CALLBACK OX_CreateInvitation(HWND hWnd, HINSTANCE, LPSTR, int) {
  CTraceScope trace("OX_CreateInvitation");
  HRESULT hrResult = S_OK;
  HANDLE hThread = CreateThread(nullptr, 0, InvitationThreadProc, &hrResult, 0, nullptr);
  if (!hThread) {
    trace.Error("CreateThread()", HRESULT_FROM_WIN32(GetLastError()));
    return S_OK;
  }
  CWaitOutlookDialog dialog;
  const bool bShown = dialog.Create(hWnd) != nullptr;
  if (bShown) {
    ShowWindow(dialog.GetHwnd(), SW_SHOW);
    if (hWnd) EnableWindow(hWnd, FALSE);
  }
  for (;;) {
    const DWORD dwWait = MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_ALLINPUT);
    if (dwWait == WAIT_OBJECT_0) break;
    if (dwWait != WAIT_OBJECT_0 + 1) {
      trace.Error("MsgWaitForMultipleObjects()", HRESULT_FROM_WIN32(GetLastError()));
      hrResult = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
      break;
    }
    if (!DispatchWaitingMessages(hThread)) break;
  }
  if (bShown) {
    if (hWnd) EnableWindow(hWnd, TRUE);
    ShowWindow(dialog.GetHwnd(), SW_HIDE);
    dialog.Destroy();
  }
  CloseHandle(hThread);
  return hrResult;
}
