#pragma once
// Plays a scenario script against a simulated Outlook, one step a line.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DialogAnswerer.h"
#include "SimOffice.h"
#include "SimOutlook.h"

namespace Sim {

// A file name with its environment variables expanded.
std::wstring ExpandedPath(const std::wstring& ws);

// A value as a scenario writes it: booleans as true/false, everything else as text.
std::wstring ValueText(VARIANT* pVar);

// Ends the run when a step does not end within its bound: it prints the step's failure with the
// windows open, then wsEndLine when not empty, and the process ends at once with exit code 1.
class CStepWatchdog {
 public:
  explicit CStepWatchdog(std::wstring wsEndLine);
  ~CStepWatchdog();
  CStepWatchdog(const CStepWatchdog&) = delete;
  CStepWatchdog& operator=(const CStepWatchdog&) = delete;
  // A step begins (its place and line, as a failure names it) and may take dwMilliseconds.
  void Begin(const std::wstring& wsWhere, const std::wstring& wsLine, DWORD dwMilliseconds);
  void End();

 private:
  void Watch();

  std::wstring m_wsEndLine;
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool m_bStop = false;
  bool m_bRunning = false;
  std::wstring m_wsWhere, m_wsLine;
  DWORD m_dwBoundMs = 0;
  std::chrono::steady_clock::time_point m_end;
  std::thread m_thread;
};

class CScenario {
 public:
  // wsEndLine: what the run prints last when a step is abandoned (see CStepWatchdog).
  CScenario(std::wstring wsFile, SOutlookOptions options, std::wstring wsEndLine = std::wstring());
  ~CScenario();
  CScenario(const CScenario&) = delete;
  CScenario& operator=(const CScenario&) = delete;
  // Runs every step; prints each one; stops at the first that fails. Returns the exit code.
  int Run();
  // A failed step is reported and the play goes on, as a fault sweep needs: what the add-in does
  // after Office failed it is the point.
  void KeepGoing() { m_bKeepGoing = true; }

 private:
  // One step's words; the last word of a step that takes text is the rest of the line.
  using Words = std::vector<std::wstring>;
  HRESULT Step(const Words& words, std::wstring* pwsDetail);
  HRESULT Expect(const Words& words, std::wstring* pwsDetail);
  HRESULT Start(const Words& words, std::wstring* pwsDetail);
  HRESULT Account(const Words& words, std::wstring* pwsDetail);
  HRESULT AccountOf(COutlook* pOutlook, const std::wstring& wsAddress, VARIANT* pAccount, std::wstring* pwsDetail);
  HRESULT Show(std::wstring* pwsDetail);
  // The process's handle count and private bytes.
  HRESULT Measure(std::wstring* pwsDetail);
  // Lets the thread's timers and windows run for a while; ends early when Outlook is asked to quit.
  void Wait(DWORD dwMilliseconds);
  // Lets them run until a line of the host's log or of an add-in's record holds the text (calls
  // from other programs are answered meanwhile); the step's bound ends a wait for nothing.
  HRESULT Await(const std::wstring& wsText, std::wstring* pwsDetail);
  // Runs a program (relative paths from the runner's folder) while Outlook keeps answering calls.
  HRESULT ForgetPersonalCertificates(std::wstring* pwsDetail);
  HRESULT RunProgram(const std::wstring& wsCommandLine, std::wstring* pwsDetail);
  HRESULT ExpectIdle(DWORD dwMilliseconds, std::wstring* pwsDetail);
  HRESULT ExpectBalloon(const Words& words, std::wstring* pwsDetail);
  HRESULT Shot(const Words& words, std::wstring* pwsDetail);
  HRESULT SaveAttachment(const Words& words, std::wstring* pwsDetail);
  HRESULT SaveRibbonImage(const Words& words, std::wstring* pwsDetail);
  HRESULT PickFromMenu(const Words& words, std::wstring* pwsDetail);
  HRESULT Compose(const std::wstring& wsKind, std::wstring* pwsDetail);
  HRESULT ExpectRefused(const Words& words, std::wstring* pwsDetail);
  // Word, Excel and PowerPoint (DocumentSteps.cpp).
  HRESULT StartOffice(const Words& words, std::wstring* pwsDetail);
  HRESULT DocumentStep(const Words& words, std::wstring* pwsDetail);
  HRESULT ExpectControl(const Words& words, std::wstring* pwsDetail);
  HRESULT ExpectDocument(const Words& words, std::wstring* pwsDetail);
  IDispatch* Document(std::wstring* pwsDetail);
  CWindowObject* Window(const std::wstring& wsWhere, std::wstring* pwsDetail);
  HWND StepWindow(const std::wstring& wsWindow, CRibbonWindow** ppRibbon, std::wstring* pwsDetail);
  IDispatch* Target(const std::wstring& wsWhat, std::wstring* pwsDetail);
  // The form regions shown in the reading pane ("explorer") or in the message window in front ("inspector").
  const std::vector<CComPtr<CDispatch>>* RegionsOf(const std::wstring& wsWhere, std::wstring* pwsDetail);
  IMessage* Item();
  // A MAPI property of the current item by its tag in hexadecimal, or null (with the reason).
  const SProp* ItemProp(const std::wstring& wsTag, std::wstring* pwsDetail);
  // What the add-ins recorded, through the objects they published, one line each.
  std::vector<std::wstring> AddInRecord();
  // What the host logged, then what the add-ins recorded.
  std::vector<std::wstring> Record();
  void QuitOutlook();

  std::wstring m_wsFile;
  SOutlookOptions m_options;
  bool m_bTemporaryProfile = false;
  bool m_bKeepGoing = false;
  CComPtr<COutlook> m_cpOutlook;
  CComPtr<COfficeApp> m_cpOffice;  // Word, Excel or PowerPoint, when one of them was started
  CComPtr<IMessage> m_cpItem;      // the item last in front, composed or opened
  // The objects the add-ins published, kept so that their records outlive shut-down.
  std::vector<std::pair<std::wstring, CComPtr<IDispatch>>> m_published;
  bool m_bAccountsGiven = false;
  size_t m_cShownLog = 0;
  size_t m_cShownRecord = 0;
  std::unique_ptr<CDialogAnswerer> m_pAnswerer;
  bool m_bBoxesAllowed = false;  // the current step may show message boxes nobody armed for
  CStepWatchdog m_watchdog;
};

}  // namespace Sim
