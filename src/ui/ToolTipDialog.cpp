#include "ui/ToolTipDialog.h"

#include <commctrl.h>

#include <string>

#include "module/ResourceStrings.h"
#include "ui/DialogIds.h"

namespace {

// Wide enough for a sentence, so that longer texts wrap instead of running across the screen.
constexpr int kMaxTipWidth = 300;

}  // namespace

void CToolTipDialog::Create(HWND hDlg, UINT nTemplateID) {
  Destroy();
  // Templates outside 101..116 have no block of tooltip strings.
  if (nTemplateID <= 100 || IDS_TOOLTIP(nTemplateID, IDS_TOOLTIP_CONTROLS - 1) > 0xFFFF) return;
  const auto hInstance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hDlg, GWLP_HINSTANCE));
  for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
    const int nID = GetDlgCtrlID(hChild);
    if (nID <= 0 || nID >= IDS_TOOLTIP_CONTROLS) continue;
    std::wstring wsText = LoadResourceString(IDS_TOOLTIP(nTemplateID, nID));
    if (wsText.empty()) continue;
    if (!m_hToolTip) {
      // Owned by the dialog (a page's by its sheet), so it stays above them.
      m_hToolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hDlg, nullptr, hInstance,
                                   nullptr);
      if (!m_hToolTip) return;
      SendMessageW(m_hToolTip, TTM_SETMAXTIPWIDTH, 0, kMaxTipWidth);
    }
    // The tooltip subclasses the control to see its mouse messages, so the dialog relays none.
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hDlg;
    tool.uId = reinterpret_cast<UINT_PTR>(hChild);
    tool.lpszText = wsText.data();
    SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void CToolTipDialog::Destroy() {
  if (m_hToolTip) DestroyWindow(m_hToolTip);
  m_hToolTip = nullptr;
}
