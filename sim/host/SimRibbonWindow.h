#pragma once
// The ribbon of an Office window as the user and Active Accessibility see it: a real child window
// titled "Ribbon" across the top of the window, whose client object is the tree Office exposes.
#include <windows.h>

#include <ocidl.h>

#include <functional>
#include <string>
#include <vector>

#include "SimAccessible.h"

namespace Sim {

// A control of the active tab: an add-in's (by its id) or Office's own (no id).
struct SRibbonItem {
  std::wstring wsControlId;
  std::wstring wsName;
  LONG lRole;
};
struct SRibbonGroup {
  std::wstring wsLabel;
  std::vector<SRibbonItem> items;
};
// An item of a drop-down menu as it shows: a separator, or a label with its picture (or none).
struct SMenuItem {
  bool bSeparator;
  std::wstring wsLabel;
  CComPtr<IPictureDisp> cpImage;
};

// Office's accessible tree of a ribbon: the ribbon (property page "Ribbon") holds the pane whose
// value is "Upper Ribbon" (the quick access toolbar) and the pane whose value is "Lower Ribbon":
// the tab list, then the active tab (a property page named after it) with its groups (groupings
// named by their labels) and their controls (split buttons with their button and drop-down parts
// as simple elements, drop-down buttons, push buttons), each placed on screen.
class CRibbonWindow {
 public:
  // wszClass: the window class Office uses there; fnGroups: the active tab's groups as they are
  // now, Office's own first.
  CRibbonWindow(HWND hwndParent, const wchar_t* wszClass, std::wstring wsTab,
                std::function<std::vector<SRibbonGroup>()> fnGroups);
  ~CRibbonWindow();
  CRibbonWindow(const CRibbonWindow&) = delete;
  CRibbonWindow& operator=(const CRibbonWindow&) = delete;
  HWND Window() const { return m_hwnd; }
  // Asks for the groups again and draws them; done when accessibility asks for the tree, so that
  // the add-ins' callbacks are asked only as often as Office asks them.
  void Refresh();
  // The screen rectangle of a control of the tab as it was last asked for; false when it is not there.
  bool ControlRect(const std::wstring& wsControlId, RECT* prc) const;
  // Shows the drop-down menu of a control of the tab below it, in a window of its own, until
  // CloseMenu; the menu's window, or null when the control is not there.
  HWND OpenMenu(const std::wstring& wsControlId, std::vector<SMenuItem> items);
  void CloseMenu();

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK MenuProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  void Paint();
  void PaintMenu();
  RECT Place(const RECT& rcInWindow) const;
  HWND m_hwnd = nullptr;
  WNDPROC m_pfnClassProc = nullptr;
  std::wstring m_wsTab;
  std::function<std::vector<SRibbonGroup>()> m_fnGroups;
  std::vector<SRibbonGroup> m_groups;
  CComPtr<CAccessibleNode> m_cpRoot;
  HWND m_hwndMenu = nullptr;
  std::vector<SMenuItem> m_menu;
};

}  // namespace Sim
