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
  CCommandBarControl(CCommandBarControls* pOwner, LONG lType);
  // Raises Click; S_FALSE when a sink cancelled the default action.
  HRESULT Execute();
  std::wstring m_wsCaption;
  std::wstring m_wsTag;
  bool m_bVisible = true;
  LONG m_lType;
  CComPtr<CCommandBarControls> m_cpControls;  // a pop-up's own controls

 private:
  CCommandBarControls* m_pOwner;  // the collection that holds this control
};

class CCommandBarControls final : public CCollection {
 public:
  CCommandBarControls();
  // The first control, here or in a pop-up below, whose tag or caption is the text.
  CCommandBarControl* Find(const std::wstring& wsTagOrCaption) const;
};

class CCommandBars final : public CDispatch {
 public:
  // ExecuteMso is passed to the window that owns the bars.
  explicit CCommandBars(std::function<HRESULT(const std::wstring&)> executeMso);
  CCommandBarControl* Find(const std::wstring& wsTagOrCaption) const;

 private:
  struct SBar {
    std::wstring wsName;
    CComPtr<CDispatch> cpBar;
    CComPtr<CCommandBarControls> cpControls;
  };
  std::vector<SBar> m_bars;
};

}  // namespace Sim
