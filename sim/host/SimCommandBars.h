#pragma once
// Office command bars as Outlook's windows offer them to add-ins (before and beside ribbons).
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SimDispatch.h"

namespace Sim {

class CCommandBarControls;

// A button or a pop-up; a button tells its Click sinks when it is executed.
class CCommandBarControl final : public CDispatch {
 public:
  CCommandBarControl(CCommandBarControls* pOwner, LONG lType, LONG lId);
  // Raises Click, then runs the built-in command; S_FALSE when a sink cancelled the default action.
  // Raises Click, then runs the control's own action unless a sink cancelled it (S_FALSE).
  // bHandled: another add-in's sink has cancelled it already.
  HRESULT Execute(bool bHandled = false);
  // Click sinks still advised on any button made in this process, deleted ones included.
  static size_t ClickSinks();
  // "|" when it begins a group; a button as its tag (else caption) with a "*" per Click sink, a
  // pop-up as its caption and its controls in brackets; "+kept" when it is not temporary.
  std::wstring Describe() const;
  // What the user sees of it: "CAPTION | TIP", and for a button " | style N | face F" (F: none).
  std::wstring DescribeLook() const;
  // On a bar or pop-up of a window that is still open.
  bool IsLive() const;
  // Where the control is on screen: on its bar, after the visible controls before it; false when
  // it is not on a bar on screen.
  bool ScreenRect(RECT* prc) const;
  std::wstring m_wsCaption;
  std::wstring m_wsTag;
  std::wstring m_wsTooltip;
  std::wstring m_wsParameter;
  LONG m_lStyle = 0;
  bool m_bBeginGroup = false;
  bool m_bTemporary = false;
  bool m_bVisible = true;
  LONG m_lType;
  LONG m_lId;                                 // 1 for a custom control, else the built-in command's id
  std::function<HRESULT()> m_fnCommand;       // a built-in command's own action, run unless a sink cancels it
  CComPtr<CCommandBarControls> m_cpControls;  // a pop-up's own controls

 private:
  friend class CCommandBarControls;
  CCommandBarControls* m_pOwner;  // the collection that holds this control; null once that has gone
};

class CCommandBarControls final : public CCollection {
 public:
  CCommandBarControls();
  // The controls of a closed window stay with whoever holds them, but can no longer be deleted.
  ~CCommandBarControls() override;
  // A button or pop-up before the control at lBefore (from 1), or at the end (0); lId 1 is a
  // custom control.
  CCommandBarControl* Add(LONG lType, LONG lId, bool bTemporary = false, LONG lBefore = 0);
  // The controls' descriptions, separated by spaces.
  std::wstring Describe() const;
  // The first control, here or in a pop-up below, whose tag or caption is the text.
  CCommandBarControl* Find(const std::wstring& wsTagOrCaption) const;
  // The first visible control of a built-in command, here or in a pop-up below.
  CCommandBarControl* FindId(LONG lId) const;
  // The window has closed: Add, Delete and the controls' Unadvise are refused from now on, here and
  // in the pop-ups below, each refusal told to fnLog.
  void Close(const std::function<void(const std::wstring&)>& fnLog);
  std::function<RECT()> m_fnBarRect;                    // the bar's screen rectangle; none for a pop-up's controls
  std::function<void(const std::wstring&)> m_fnClosed;  // set once the window has closed
};

class CCommandBars final : public CDispatch {
 public:
  struct SBarState {
    LONG lRowIndex = 0;
    bool bEnabled = true;
    bool bVisible = true;
    bool bTemporary = false;
  };
  // ExecuteMso is passed to the window that owns the bars.
  explicit CCommandBars(std::function<HRESULT(const std::wstring&)> executeMso);
  // The window whose client area the bars are shown in.
  void SetWindow(HWND hwnd);
  CCommandBarControl* Find(const std::wstring& wsTagOrCaption) const;
  // A new bar at the end, as CommandBars.Add makes it; its controls.
  CCommandBarControls* AddBar(const std::wstring& wsName, bool bTemporary = false);
  // The bar's state ("row -1 enabled visible temporary:", missing words for false) and its
  // controls after a space, or "absent".
  std::wstring DescribeBar(const std::wstring& wsName) const;
  // The window has closed (CCommandBarControls::Close on every bar).
  void Close(const std::function<void(const std::wstring&)>& fnLog);

 private:
  struct SBar {
    std::wstring wsName;
    CComPtr<CDispatch> cpBar;
    CComPtr<CCommandBarControls> cpControls;
    std::shared_ptr<SBarState> spState;
  };
  void PlaceBar(SBar& bar, size_t iRow);
  std::vector<SBar> m_bars;
  HWND m_hwnd = nullptr;
};

}  // namespace Sim
