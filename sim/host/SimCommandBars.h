#pragma once
// Office command bars as Outlook's windows offer them to add-ins (before and beside ribbons).
#include <functional>
#include <string>
#include <vector>

#include "SimDispatch.h"

namespace Sim {

class CCommandBarControls;

// A button or a pop-up; a button tells its Click sinks when it is executed.
class CCommandBarControl final : public CDispatch {
 public:
  CCommandBarControl(CCommandBarControls* pOwner, LONG lType, LONG lId);
  // Raises Click; S_FALSE when a sink cancelled the default action.
  HRESULT Execute();
  std::wstring m_wsCaption;
  std::wstring m_wsTag;
  bool m_bVisible = true;
  LONG m_lType;
  LONG m_lId;                                 // 1 for a custom control, else the built-in command's id
  CComPtr<CCommandBarControls> m_cpControls;  // a pop-up's own controls

 private:
  CCommandBarControls* m_pOwner;  // the collection that holds this control
};

class CCommandBarControls final : public CCollection {
 public:
  CCommandBarControls();
  // A button or pop-up at the end; lId 1 is a custom control.
  CCommandBarControl* Add(LONG lType, LONG lId);
  // The first control, here or in a pop-up below, whose tag or caption is the text.
  CCommandBarControl* Find(const std::wstring& wsTagOrCaption) const;
  // The first visible control of a built-in command, here or in a pop-up below.
  CCommandBarControl* FindId(LONG lId) const;
};

class CCommandBars final : public CDispatch {
 public:
  // ExecuteMso is passed to the window that owns the bars.
  explicit CCommandBars(std::function<HRESULT(const std::wstring&)> executeMso);
  CCommandBarControl* Find(const std::wstring& wsTagOrCaption) const;
  // A new bar at the end, as CommandBars.Add makes it; its controls.
  CCommandBarControls* AddBar(const std::wstring& wsName);

 private:
  struct SBar {
    std::wstring wsName;
    CComPtr<CDispatch> cpBar;
    CComPtr<CCommandBarControls> cpControls;
  };
  std::vector<SBar> m_bars;
};

}  // namespace Sim
