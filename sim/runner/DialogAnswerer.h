#pragma once
// Answers the message boxes of this process from a helper thread, as a user at the screen would.
#include <windows.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace Sim {

// Runs a command line (a relative program from the runner's folder) to its end, pumping the
// thread's messages meanwhile when bPump is set; its output lines and exit code.
HRESULT RunProcess(const std::wstring& wsCommandLine, bool bPump, std::vector<std::wstring>* pLines,
                   DWORD* pdwExitCode);

class CDialogAnswerer {
 public:
  CDialogAnswerer();
  ~CDialogAnswerer();
  CDialogAnswerer(const CDialogAnswerer&) = delete;
  CDialogAnswerer& operator=(const CDialogAnswerer&) = delete;

  // The next message box gets the button of this id pressed; with wsWhile, only after that
  // program has run while the box was open (its output lines join the box's record). Buttons
  // armed one after the other answer boxes in that order. Without one, a box is cancelled and
  // reported as unexpected.
  void Arm(int iButton, std::wstring wsWhile = L"");
  // The next recipient dialog (a dialog with the recipient list) gets the rows of these e-mail
  // addresses checked, every other row unchecked, and OK pressed; the invitation wizard gets
  // them checked on its selection page, then Next and Finish pressed.
  void ArmChoice(std::vector<std::wstring> emails);
  bool Armed();
  // The boxes answered since the last call, one line each; pbUnexpected tells whether one was not armed for.
  std::vector<std::wstring> TakeAnswered(bool* pbUnexpected);

 private:
  static DWORD WINAPI ThreadProc(void* pv);
  void Watch();
  void Answer(HWND hwndBox);
  // Checks the armed rows of a recipient list; the record line names every row.
  std::wstring Choose(HWND hwndList);

  CRITICAL_SECTION m_lock;
  HANDLE m_hStop;
  HANDLE m_hThread;
  std::deque<std::pair<int, std::wstring>> m_armed;  // buttons, each with the program run before it
  HWND m_hwndWizard = nullptr;  // the wizard that was given its choice, to be finished (watcher thread only)
  bool m_bChoiceArmed = false;
  std::vector<std::wstring> m_chosen;
  bool m_bUnexpected = false;
  std::vector<std::wstring> m_answered;
};

}  // namespace Sim
