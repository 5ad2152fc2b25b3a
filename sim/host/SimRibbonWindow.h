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

// A control of the active tab: an add-in's (by its id) or Office's own (no id); or an entry of a
// dropped menu (a menu item or a separator).
struct SRibbonItem {
  SRibbonItem(std::wstring wsId = {}, std::wstring wsLabel = {}, LONG lItemRole = ROLE_SYSTEM_PUSHBUTTON)
      : wsControlId(std::move(wsId)), wsName(std::move(wsLabel)), lRole(lItemRole) {}
  std::wstring wsControlId;
  std::wstring wsName;
  LONG lRole;
  CComPtr<IPictureDisp> cpImage;  // drawn beside the name; none when empty
  // A menu's or split button's entries as they are when it drops; none for other controls.
  std::function<std::vector<SRibbonItem>()> fnEntries;
  std::function<void()> fnAction;  // a menu item's command
};
struct SRibbonGroup {
  std::wstring wsLabel;
  std::vector<SRibbonItem> items;
};

// Office's accessible tree of a ribbon: the ribbon (property page "Ribbon") holds the pane whose
// value is "Upper Ribbon" (the quick access toolbar) and the pane whose value is "Lower Ribbon":
// the tab list, then the active tab (a property page named after it) with its groups (groupings
// named by their labels) and their controls (split buttons with their button and drop-down parts
// as simple elements, drop-down buttons, push buttons), each placed on screen. A menu drops by
// its default action (a split button's by that of its drop-down part): the control then holds a
// menu pop-up named like it, before any simple elements, with its entries (menu items named by
// their labels, separators), and a pop-up window draws them with their images. An entry's default
// action closes the menu and runs its command.
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
  // The window of the dropped menu, or null.
  HWND MenuWindow() const { return m_hwndMenu; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  void Paint();
  RECT Place(const RECT& rcInWindow) const;
  // Drops the item's menu below rcItem (ribbon window coordinates) into pNode, or closes it.
  void ToggleMenu(CAccessibleNode* pNode, const SRibbonItem& item, const RECT& rcItem);
  void CloseMenu();
  static LRESULT CALLBACK MenuProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  void PaintMenu();
  HWND m_hwnd = nullptr;
  WNDPROC m_pfnClassProc = nullptr;
  std::wstring m_wsTab;
  std::function<std::vector<SRibbonGroup>()> m_fnGroups;
  std::vector<SRibbonGroup> m_groups;
  CComPtr<CAccessibleNode> m_cpRoot;
  // The dropped menu: the control's node that holds it, its entries and the window drawing them.
  CAccessibleNode* m_pMenuNode = nullptr;
  std::vector<SRibbonItem> m_menuEntries;
  HWND m_hwndMenu = nullptr;
};

}  // namespace Sim
