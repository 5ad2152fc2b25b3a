#pragma once
// Answers the message boxes of this process from a helper thread, as a user at the screen would.
#include <windows.h>

#include <string>
#include <vector>

namespace Sim {

class CDialogAnswerer {
 public:
  CDialogAnswerer();
  ~CDialogAnswerer();
  CDialogAnswerer(const CDialogAnswerer&) = delete;
  CDialogAnswerer& operator=(const CDialogAnswerer&) = delete;

  // The next message box gets the button of this id pressed. Without one, a box is cancelled
  // and reported as unexpected.
  void Arm(int iButton);
  bool Armed();
  // The boxes answered since the last call, one line each; pbUnexpected tells whether one was not armed for.
  std::vector<std::wstring> TakeAnswered(bool* pbUnexpected);

 private:
  static DWORD WINAPI ThreadProc(void* pv);
  void Watch();
  void Answer(HWND hwndBox);

  CRITICAL_SECTION m_lock;
  HANDLE m_hStop;
  HANDLE m_hThread;
  int m_iArmed = 0;
  bool m_bUnexpected = false;
  std::vector<std::wstring> m_answered;
};

}  // namespace Sim
