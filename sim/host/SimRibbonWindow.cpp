#include "SimRibbonWindow.h"

#include "SimRibbon.h"

namespace Sim {
namespace {

constexpr int kHeight = 118;
constexpr int kTabsHeight = 24;
constexpr int kGroupGap = 4;
constexpr int kItemWidth = 64;
constexpr int kItemHeight = 66;
constexpr int kLabelHeight = 18;
constexpr int kLargeIcon = 32;
constexpr wchar_t kSelf[] = L"CRibbonWindow";
// A dropped menu: Office's class for it, its width, the height of an entry and of a separator.
constexpr wchar_t kMenuClass[] = L"Net UI Tool Window";
constexpr int kMenuWidth = 260;
constexpr int kEntryHeight = 24;
constexpr int kSeparatorHeight = 7;
constexpr int kIconSize = 16;

// Rectangles in the ribbon window's coordinates.
RECT GroupRect(int xLeft, size_t cItems) {
  return {xLeft, kTabsHeight, xLeft + kGroupGap + static_cast<int>(cItems) * kItemWidth, kHeight};
}
RECT ItemRect(int xGroup, size_t iItem) {
  const int x = xGroup + kGroupGap + static_cast<int>(iItem) * kItemWidth;
  return {x, kTabsHeight + 4, x + kItemWidth - 4, kTabsHeight + 4 + kItemHeight};
}

// An entry's rectangle in the menu window's coordinates, below those before it.
RECT EntryRect(const std::vector<SRibbonItem>& entries, size_t iEntry) {
  int y = 2;
  for (size_t i = 0; i < iEntry; ++i) y += entries[i].lRole == ROLE_SYSTEM_SEPARATOR ? kSeparatorHeight : kEntryHeight;
  return {2, y, kMenuWidth - 2, y + (entries[iEntry].lRole == ROLE_SYSTEM_SEPARATOR ? kSeparatorHeight : kEntryHeight)};
}

// Begins painting a window on a background of that system colour; rc: its client rectangle.
HDC BeginBackground(HWND hwnd, PAINTSTRUCT* pps, int nColor, RECT* prc) {
  const HDC hdc = BeginPaint(hwnd, pps);
  GetClientRect(hwnd, prc);
  FillRect(hdc, prc, GetSysColorBrush(nColor));
  SetBkMode(hdc, TRANSPARENT);
  return hdc;
}

}  // namespace

CRibbonWindow::CRibbonWindow(HWND hwndParent, const wchar_t* wszClass, std::wstring wsTab,
                             std::function<std::vector<SRibbonGroup>()> fnGroups)
    : m_wsTab(std::move(wsTab)), m_fnGroups(std::move(fnGroups)) {
  // A class of Office's that the application has not registered for other windows.
  WNDCLASSW wc = {};
  if (!GetClassInfoW(GetModuleHandleW(nullptr), wszClass, &wc)) {
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = wszClass;
    RegisterClassW(&wc);
  }
  RECT rcParent = {};
  GetClientRect(hwndParent, &rcParent);
  m_hwnd = CreateWindowExW(0, wszClass, L"Ribbon", WS_CHILD | WS_VISIBLE, 0, 0, rcParent.right, kHeight, hwndParent,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!m_hwnd) return;
  // The class may be Office's own name that other windows of the simulator use too.
  SetPropW(m_hwnd, kSelf, this);
  m_pfnClassProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
}

CRibbonWindow::~CRibbonWindow() {
  CloseMenu();
  if (m_hwnd && IsWindow(m_hwnd)) {
    RemovePropW(m_hwnd, kSelf);
    SetWindowLongPtrW(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnClassProc));
  }
}

RECT CRibbonWindow::Place(const RECT& rcInWindow) const {
  RECT rc = rcInWindow;
  MapWindowPoints(m_hwnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

void CRibbonWindow::Refresh() {
  CloseMenu();
  m_groups = m_fnGroups();
  const auto place = [this](RECT rc) { return [this, rc] { return Place(rc); }; };
  auto cpRoot = MakeObject<CAccessibleNode>(ROLE_SYSTEM_PROPERTYPAGE, L"Ribbon");
  cpRoot->m_fnLocation = place({0, 0, kItemWidth * 20, kHeight});
  auto cpUpper = MakeObject<CAccessibleNode>(ROLE_SYSTEM_PANE, L"");
  cpUpper->m_wsValue = L"Upper Ribbon";
  auto cpToolbar = MakeObject<CAccessibleNode>(ROLE_SYSTEM_TOOLBAR, L"Quick Access Toolbar");
  cpToolbar->m_simple = {{ROLE_SYSTEM_PUSHBUTTON, L"Save", place({4, 2, 24, 22}), {}},
                         {ROLE_SYSTEM_PUSHBUTTON, L"Undo", place({26, 2, 46, 22}), {}}};
  cpUpper->m_children = {cpToolbar};
  auto cpLower = MakeObject<CAccessibleNode>(ROLE_SYSTEM_PANE, L"");
  cpLower->m_wsValue = L"Lower Ribbon";
  auto cpTabs = MakeObject<CAccessibleNode>(ROLE_SYSTEM_PAGETABLIST, L"Ribbon Tabs");
  cpTabs->m_simple = {{ROLE_SYSTEM_PAGETAB, L"File", place({60, 2, 110, 22}), {}},
                      {ROLE_SYSTEM_PAGETAB, m_wsTab, place({112, 2, 172, 22}), {}}};
  auto cpTab = MakeObject<CAccessibleNode>(ROLE_SYSTEM_PROPERTYPAGE, m_wsTab);
  int xGroup = 0;
  for (const SRibbonGroup& group : m_groups) {
    auto cpGroup = MakeObject<CAccessibleNode>(ROLE_SYSTEM_GROUPING, group.wsLabel);
    cpGroup->m_fnLocation = place(GroupRect(xGroup, group.items.size()));
    for (size_t i = 0; i < group.items.size(); ++i) {
      const SRibbonItem& item = group.items[i];
      auto cpItem = MakeObject<CAccessibleNode>(item.lRole, item.wsName);
      const RECT rcItem = ItemRect(xGroup, i);
      cpItem->m_fnLocation = place(rcItem);
      CAccessibleNode* pItem = cpItem.Get();
      const auto toggle = [this, pItem, item, rcItem] { ToggleMenu(pItem, item, rcItem); };
      // A split button is its button and its drop-down arrow, which drops the menu.
      if (item.lRole == ROLE_SYSTEM_SPLITBUTTON) {
        const int yArrow = rcItem.top + (rcItem.bottom - rcItem.top) * 2 / 3;
        cpItem->m_simple = {
            {ROLE_SYSTEM_PUSHBUTTON, item.wsName, place({rcItem.left, rcItem.top, rcItem.right, yArrow}), {}},
            {ROLE_SYSTEM_BUTTONDROPDOWN, item.wsName, place({rcItem.left, yArrow, rcItem.right, rcItem.bottom}),
             item.fnEntries ? std::function<void()>(toggle) : std::function<void()>()}};
      } else if (item.fnEntries) {
        cpItem->m_fnAction = toggle;
      }
      cpGroup->m_children.push_back(cpItem);
    }
    cpTab->m_children.push_back(cpGroup);
    xGroup = GroupRect(xGroup, group.items.size()).right + kGroupGap;
  }
  cpLower->m_children = {cpTabs, cpTab};
  cpRoot->m_children = {cpUpper, cpLower};
  m_cpRoot = cpRoot;
  InvalidateRect(m_hwnd, nullptr, TRUE);
}

void CRibbonWindow::ToggleMenu(CAccessibleNode* pNode, const SRibbonItem& item, const RECT& rcItem) {
  const bool bWasOpen = m_pMenuNode == pNode;
  CloseMenu();
  if (bWasOpen) return;
  m_menuEntries = item.fnEntries();
  const RECT rcScreen = Place(rcItem);
  const int cyMenu = m_menuEntries.empty() ? 4 : EntryRect(m_menuEntries, m_menuEntries.size() - 1).bottom + 2;
  auto cpPopup = MakeObject<CAccessibleNode>(ROLE_SYSTEM_MENUPOPUP, item.wsName);
  cpPopup->m_fnLocation = [rcScreen, cyMenu] {
    return RECT{rcScreen.left, rcScreen.bottom, rcScreen.left + kMenuWidth, rcScreen.bottom + cyMenu};
  };
  for (size_t i = 0; i < m_menuEntries.size(); ++i) {
    const SRibbonItem& entry = m_menuEntries[i];
    auto cpEntry = MakeObject<CAccessibleNode>(entry.lRole, entry.wsName);
    RECT rcEntry = EntryRect(m_menuEntries, i);
    OffsetRect(&rcEntry, rcScreen.left, rcScreen.bottom);
    cpEntry->m_fnLocation = [rcEntry] { return rcEntry; };
    if (entry.fnAction) {
      const std::function<void()> fnAction = entry.fnAction;
      cpEntry->m_fnAction = [this, fnAction] {
        CloseMenu();
        fnAction();
      };
    }
    cpPopup->m_children.push_back(cpEntry);
  }
  pNode->m_children.insert(pNode->m_children.begin(), cpPopup);
  m_pMenuNode = pNode;
  WNDCLASSW wc = {};
  if (!GetClassInfoW(GetModuleHandleW(nullptr), kMenuClass, &wc)) {
    wc.lpfnWndProc = MenuProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kMenuClass;
    RegisterClassW(&wc);
  }
  m_hwndMenu = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kMenuClass, L"", WS_POPUP | WS_BORDER, rcScreen.left,
                               rcScreen.bottom, kMenuWidth, cyMenu, GetAncestor(m_hwnd, GA_ROOT), nullptr,
                               GetModuleHandleW(nullptr), this);
  if (m_hwndMenu) ShowWindow(m_hwndMenu, SW_SHOWNOACTIVATE), UpdateWindow(m_hwndMenu);
}

void CRibbonWindow::CloseMenu() {
  if (m_pMenuNode) m_pMenuNode->m_children.erase(m_pMenuNode->m_children.begin());
  m_pMenuNode = nullptr;
  if (m_hwndMenu) DestroyWindow(m_hwndMenu);
  m_hwndMenu = nullptr;
  m_menuEntries.clear();
}

// The entries with their images and names, separators as lines.
void CRibbonWindow::PaintMenu() {
  PAINTSTRUCT ps;
  RECT rc = {};
  const HDC hdc = BeginBackground(m_hwndMenu, &ps, COLOR_MENU, &rc);
  const HGDIOBJ hOldFont = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
  for (size_t i = 0; i < m_menuEntries.size(); ++i) {
    RECT rcEntry = EntryRect(m_menuEntries, i);
    if (m_menuEntries[i].lRole == ROLE_SYSTEM_SEPARATOR) {
      RECT rcLine = {rcEntry.left + kIconSize + 10, rcEntry.top + kSeparatorHeight / 2, rcEntry.right - 4,
                     rcEntry.top + kSeparatorHeight / 2 + 1};
      FillRect(hdc, &rcLine, GetSysColorBrush(COLOR_BTNSHADOW));
      continue;
    }
    DrawPicture(hdc, rcEntry.left + 4, rcEntry.top + (kEntryHeight - kIconSize) / 2, m_menuEntries[i].cpImage);
    rcEntry.left += kIconSize + 14;
    DrawTextW(hdc, m_menuEntries[i].wsName.c_str(), -1, &rcEntry, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
  }
  SelectObject(hdc, hOldFont);
  EndPaint(m_hwndMenu, &ps);
}

LRESULT CALLBACK CRibbonWindow::MenuProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_NCCREATE) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  }
  auto* pThis = reinterpret_cast<CRibbonWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (uMsg == WM_PAINT && pThis && pThis->m_hwndMenu == hwnd) {
    pThis->PaintMenu();
    return 0;
  }
  return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

bool CRibbonWindow::ControlRect(const std::wstring& wsControlId, RECT* prc) const {
  int xGroup = 0;
  for (const SRibbonGroup& group : m_groups) {
    for (size_t i = 0; i < group.items.size(); ++i) {
      if (group.items[i].wsControlId != wsControlId) continue;
      *prc = Place(ItemRect(xGroup, i));
      return true;
    }
    xGroup = GroupRect(xGroup, group.items.size()).right + kGroupGap;
  }
  return false;
}

// The tab's name, each group with its label below and its controls' names.
void CRibbonWindow::Paint() {
  PAINTSTRUCT ps;
  RECT rc = {};
  const HDC hdc = BeginBackground(m_hwnd, &ps, COLOR_BTNFACE, &rc);
  RECT rcTab = {112, 2, 172, 22};
  DrawTextW(hdc, m_wsTab.c_str(), -1, &rcTab, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
  int xGroup = 0;
  for (const SRibbonGroup& group : m_groups) {
    RECT rcGroup = GroupRect(xGroup, group.items.size());
    FrameRect(hdc, &rcGroup, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT rcLabel = {rcGroup.left, rcGroup.bottom - kLabelHeight, rcGroup.right, rcGroup.bottom};
    DrawTextW(hdc, group.wsLabel.c_str(), -1, &rcLabel, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    for (size_t i = 0; i < group.items.size(); ++i) {
      RECT rcItem = ItemRect(xGroup, i);
      DrawPicture(hdc, (rcItem.left + rcItem.right - kLargeIcon) / 2, rcItem.top + 2, group.items[i].cpImage);
      DrawTextW(hdc, group.items[i].wsName.c_str(), -1, &rcItem, DT_CENTER | DT_WORDBREAK | DT_BOTTOM);
    }
    xGroup = rcGroup.right + kGroupGap;
  }
  EndPaint(m_hwnd, &ps);
}

LRESULT CALLBACK CRibbonWindow::Proc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  auto* pThis = static_cast<CRibbonWindow*>(GetPropW(hwnd, kSelf));
  if (!pThis) return DefWindowProcW(hwnd, uMsg, wParam, lParam);
  if (uMsg == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
    // What accessibility sees is what the ribbon shows now.
    pThis->Refresh();
    return LresultFromObject(kIIDAccessible, wParam, static_cast<IAccessible*>(pThis->m_cpRoot.Get()));
  }
  if (uMsg == WM_PAINT) {
    pThis->Paint();
    return 0;
  }
  return CallWindowProcW(pThis->m_pfnClassProc, hwnd, uMsg, wParam, lParam);
}

}  // namespace Sim
