#pragma once
// The balloon prompt that points a new user at the add-in's button once: a tracking balloon
// tooltip whose stem touches the button, found on screen through Active Accessibility on a
// ribbon or through a command-bar control's position. Used by the Outlook and document ribbons.
#include <windows.h>

#include <oleacc.h>

#include <functional>
#include <string>

#include "com/ComPtr.h"
#include "module/Settings.h"
#include "module/Trace.h"

// The balloon window.
struct tooltip_t {
  HWND hwndTip = nullptr;
  HWND hwndOwner = nullptr;
  bool visible = false;
  POINT lastMouse = {};  // owner's client coordinates, when shown or last moved
  bool newCommonControls = false;
  std::wstring title;
  std::wstring text;

  tooltip_t() = default;
  tooltip_t(const tooltip_t&) = delete;
  tooltip_t& operator=(const tooltip_t&) = delete;
  ~tooltip_t();

  // Makes the tooltip window owned by owner when there is none yet; whether it exists.
  bool create(HWND owner);
  // Shows the balloon with its stem at (x, y), the owner's client coordinates.
  void show(int x, int y);
  void hide();
  // Hides the balloon once the mouse has moved more than 4 pixels from where it was.
  void autohide();
};

// The first child window of parent (any level) whose class is wszClass and whose text is
// wszTitle, each when given; null when there is none.
HWND FindDescendantWindow(HWND parent, const wchar_t* wszClass, const wchar_t* wszTitle);

// An element of an accessible tree: a whole object, or a simple element of its parent object.
class CAccessibleNode {
 public:
  // The client object of a window.
  HRESULT FromWindow(HWND hwnd);
  // The first descendant (depth first) with that value or name and role; a search by value
  // takes whole objects only.
  HRESULT FindChildByValue(const std::wstring& wsValue, LONG lRole, CAccessibleNode* pFound) const;
  HRESULT FindChildByName(const std::wstring& wsName, LONG lRole, CAccessibleNode* pFound) const;
  // The element's rectangle in screen coordinates.
  HRESULT GetLocation(RECT* prcScreen) const;

 private:
  using TextGetter = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);
  HRESULT FindChild(TextGetter pfnText, const std::wstring& wsText, LONG lRole, bool bWholeOnly, int nDepth,
                    CAccessibleNode* pFound) const;
  bool Matches(TextGetter pfnText, const std::wstring& wsText, LONG lRole) const;
  CComPtr<IAccessible> m_cpAccessible;
  LONG m_lChild = CHILDID_SELF;
};

// The screen rectangle of a ribbon control: in the window's descendant ribbon window (found by
// FindDescendantWindow with that class and title), the pane whose value is "Lower Ribbon", and in
// it the control of that name and role. Each failed step is traced with its name.
HRESULT FindRibbonControl(CTraceScope& scope, HWND hwnd, const wchar_t* wszRibbonClass, const wchar_t* wszRibbonTitle,
                          const std::wstring& wsName, LONG lRole, RECT* prcScreen);

// Shows the balloon on hwnd pointing at the centre of rcScreen, with the resource-language strings
// nTitle and nText; whether it was shown.
bool ShowBalloonAt(CTraceScope& scope, tooltip_t& tooltip, HWND hwnd, const RECT& rcScreen, UINT nTitle, UINT nText);

// One tick of a balloon countdown: nCount ticks before the prompt (0: never), then the balloon
// stays at least nDelay ticks and after them pfnAfter runs on every tick: &tooltip_t::autohide
// (the mail balloon goes when the mouse moves) or &tooltip_t::hide (the document balloon goes).
// Once showPrompt has shown it, the setting is written as 0 so that the user never sees it again;
// a prompt that fails is not tried again in this process.
void BalloonCountdownTick(int& nCount, int& nDelay, tooltip_t& tooltip, void (tooltip_t::*pfnAfter)(),
                          const CDwordSetting& setting, const std::function<bool()>& showPrompt);
