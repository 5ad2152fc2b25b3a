#include "ui/MuiTemplate.h"

#include <commctrl.h>

#include <algorithm>

#include "module/AddInModule.h"
#include "module/Branding.h"
#include "module/ResourceStrings.h"

namespace {

constexpr WORD kStaticClass = 0x0082;
constexpr WORD kInitAddString = 0x0403;
constexpr WORD kInitInsertItem = 0x1234;
constexpr WORD kDialogInit = 240;  // RT_DLGINIT

// Reads a template's words; every read past the end gives 0 and marks it broken.
class CTemplateReader {
 public:
  CTemplateReader(const void* pv, DWORD cb) : m_pb(static_cast<const BYTE*>(pv)), m_cb(cb) {}
  bool IsBroken() const { return m_bBroken; }
  template <class T>
  T Read() {
    T value{};
    if (m_pos + sizeof(T) > m_cb) {
      m_bBroken = true;
      return value;
    }
    memcpy(&value, m_pb + m_pos, sizeof(T));
    m_pos += sizeof(T);
    return value;
  }
  // A name or ordinal field: the ordinal, or 0 after skipping a text.
  WORD ReadNameOrOrdinal() {
    const WORD wFirst = Read<WORD>();
    if (wFirst == 0xFFFF) return Read<WORD>();
    for (WORD wChar = wFirst; wChar && !m_bBroken; wChar = Read<WORD>()) {
    }
    return 0;
  }
  void Skip(DWORD cb) { m_pos += cb; }
  void AlignDword() { m_pos = (m_pos + 3) & ~size_t(3); }

 private:
  const BYTE* m_pb;
  DWORD m_cb;
  size_t m_pos = 0;
  bool m_bBroken = false;
};

void ReadRect(CTemplateReader& reader, RECT& rc) {
  rc.left = reader.Read<short>();
  rc.top = reader.Read<short>();
  rc.right = rc.left + reader.Read<short>();
  rc.bottom = rc.top + reader.Read<short>();
}

}  // namespace

HMODULE FindTemplateModule(UINT nID, LPCWSTR wszType) {
  if (!g_pAddInModule) return nullptr;
  for (HMODULE hModule : {g_pAddInModule->GetResourceInstance(), g_pAddInModule->GetModuleInstance()})
    if (hModule && FindResourceW(hModule, MAKEINTRESOURCEW(nID), wszType)) return hModule;
  return nullptr;
}

std::vector<CTemplateItem> ParseDialogTemplate(const void* pTemplate, DWORD cbTemplate) {
  CTemplateReader reader(pTemplate, cbTemplate);
  const WORD wVersion = reader.Read<WORD>();
  const bool bExtended = reader.Read<WORD>() == 0xFFFF && wVersion == 1;
  DWORD dwStyle = 0;
  if (bExtended) {
    reader.Skip(8);  // help id, extended style
    dwStyle = reader.Read<DWORD>();
  } else {
    reader = CTemplateReader(pTemplate, cbTemplate);
    dwStyle = reader.Read<DWORD>();
    reader.Skip(4);
  }
  const WORD cItems = reader.Read<WORD>();
  reader.Skip(8);  // position and size
  reader.ReadNameOrOrdinal();
  reader.ReadNameOrOrdinal();
  reader.ReadNameOrOrdinal();
  if (dwStyle & DS_SETFONT) {
    reader.Skip(bExtended ? 6 : 2);
    reader.ReadNameOrOrdinal();
  }
  std::vector<CTemplateItem> items;
  for (WORD i = 0; i < cItems && !reader.IsBroken(); ++i) {
    reader.AlignDword();
    CTemplateItem item;
    if (bExtended) {
      reader.Skip(8);
      item.dwStyle = reader.Read<DWORD>();
    } else {
      item.dwStyle = reader.Read<DWORD>();
      reader.Skip(4);
    }
    ReadRect(reader, item.rcDialogUnits);
    item.nID = bExtended ? static_cast<int>(reader.Read<DWORD>()) : reader.Read<WORD>();
    item.wClassOrdinal = reader.ReadNameOrOrdinal();
    item.wTitleOrdinal = reader.ReadNameOrOrdinal();
    reader.Skip(reader.Read<WORD>());
    if (!reader.IsBroken()) items.push_back(item);
  }
  return reader.IsBroken() ? std::vector<CTemplateItem>() : items;
}

CTemplateFixups::~CTemplateFixups() {
  for (const auto& [hImage, uType] : m_images) {
    if (uType == IMAGE_ICON)
      DestroyIcon(static_cast<HICON>(hImage));
    else
      DeleteObject(hImage);
  }
}

void CTemplateFixups::Apply(HWND hDlg, HMODULE hHolder, UINT nID) {
  if (HRSRC hInfo = FindResourceW(hHolder, MAKEINTRESOURCEW(nID), RT_DIALOG))
    SetImages(hDlg, ParseDialogTemplate(LockResource(LoadResource(hHolder, hInfo)), SizeofResource(hHolder, hInfo)));
  if (HRSRC hInfo = FindResourceW(hHolder, MAKEINTRESOURCEW(nID), MAKEINTRESOURCEW(kDialogInit)))
    AddComboInitStrings(hDlg, static_cast<const BYTE*>(LockResource(LoadResource(hHolder, hInfo))),
                        SizeofResource(hHolder, hInfo));
  ReplaceBrandTokensInTexts(hDlg);
}

// Images live in the main module, so that the satellites carry texts only.
void CTemplateFixups::SetImages(HWND hDlg, const std::vector<CTemplateItem>& items) {
  const HMODULE hMain = g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr;
  for (const CTemplateItem& item : items) {
    const DWORD dwType = item.dwStyle & SS_TYPEMASK;
    if (item.wClassOrdinal != kStaticClass || !item.wTitleOrdinal || (dwType != SS_ICON && dwType != SS_BITMAP))
      continue;
    RECT rc = item.rcDialogUnits;
    MapDialogRect(hDlg, &rc);
    const UINT uType = dwType == SS_ICON ? IMAGE_ICON : IMAGE_BITMAP;
    const int cx = uType == IMAGE_ICON ? rc.right - rc.left : 0;
    const int cy = uType == IMAGE_ICON ? rc.bottom - rc.top : 0;
    HANDLE hImage = LoadImageW(hMain, MAKEINTRESOURCEW(item.wTitleOrdinal), uType, cx, cy, LR_DEFAULTCOLOR);
    if (!hImage) continue;
    m_images.emplace_back(hImage, uType);
    SendDlgItemMessageW(hDlg, item.nID, STM_SETIMAGE, uType, reinterpret_cast<LPARAM>(hImage));
  }
}

void AddComboInitStrings(HWND hDlg, const BYTE* pbData, DWORD cbData) {
  size_t pos = 0;
  while (pos + 8 <= cbData) {
    WORD wControl = 0, wCode = 0;
    DWORD cbText = 0;
    memcpy(&wControl, pbData + pos, 2);
    memcpy(&wCode, pbData + pos + 2, 2);
    memcpy(&cbText, pbData + pos + 4, 4);
    pos += 8;
    if (!wControl || pos + cbText > cbData) return;
    const std::string sText(reinterpret_cast<const char*>(pbData + pos),
                            strnlen(reinterpret_cast<const char*>(pbData + pos), cbText));
    pos += cbText;
    std::wstring wsText(sText.size() + 1, L'\0');
    wsText.resize(MultiByteToWideChar(CP_ACP, 0, sText.c_str(), -1, wsText.data(), static_cast<int>(wsText.size())));
    if (!wsText.empty()) wsText.pop_back();
    LRESULT lResult = CB_ERR;
    if (wCode == kInitAddString) {
      lResult = SendDlgItemMessageW(hDlg, wControl, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wsText.c_str()));
    } else if (wCode == kInitInsertItem) {
      COMBOBOXEXITEMW item = {};
      item.mask = CBEIF_TEXT;
      item.iItem = -1;
      item.pszText = wsText.data();
      lResult = SendDlgItemMessageW(hDlg, wControl, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (lResult == CB_ERR || lResult == CB_ERRSPACE) return;
  }
}

namespace {

void ReplaceTokensInWindowText(HWND hWnd) {
  const int cchText = GetWindowTextLengthW(hWnd);
  if (cchText <= 0) return;
  std::wstring wsText(cchText + 1, L'\0');
  wsText.resize(GetWindowTextW(hWnd, wsText.data(), cchText + 1));
  if (wsText.find(L"<<%") == std::wstring::npos) return;
  ReplaceBrandTokens(wsText, CBranding::Instance());
  SetWindowTextW(hWnd, wsText.c_str());
}

}  // namespace

void ReplaceBrandTokensInTexts(HWND hDlg) {
  ReplaceTokensInWindowText(hDlg);
  for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT))
    ReplaceTokensInWindowText(hChild);
}

void AddSeparatorLine(HWND hDlg, int nCaptionID) {
  HWND hCaption = GetDlgItem(hDlg, nCaptionID);
  if (!hCaption) return;
  RECT rc = {};
  GetWindowRect(hCaption, &rc);
  MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
  const int cchText = GetWindowTextLengthW(hCaption);
  std::wstring wsText(cchText + 1, L'\0');
  wsText.resize(GetWindowTextW(hCaption, wsText.data(), cchText + 1));
  SIZE size = {};
  HDC hdc = GetDC(hCaption);
  HGDIOBJ hOldFont = SelectObject(hdc, reinterpret_cast<HGDIOBJ>(SendMessageW(hCaption, WM_GETFONT, 0, 0)));
  GetTextExtentPoint32W(hdc, wsText.c_str(), static_cast<int>(wsText.size()), &size);
  SelectObject(hdc, hOldFont);
  ReleaseDC(hCaption, hdc);
  const int cxCaption = size.cx + 2;
  SetWindowPos(hCaption, nullptr, 0, 0, cxCaption, rc.bottom - rc.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const int xLine = rc.left + cxCaption + 2;
  if (xLine >= rc.right) return;
  CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, xLine, (rc.top + rc.bottom) / 2,
                  rc.right - xLine, 1, hDlg, reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1)),
                  reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hDlg, GWLP_HINSTANCE)), nullptr);
}

void CenterOnOwner(HWND hWnd, HWND hOwner) {
  RECT rcWindow = {}, rcArea = {}, rcOwner = {};
  GetWindowRect(hWnd, &rcWindow);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(hOwner ? hOwner : hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
  rcArea = monitor.rcWork;
  if (!hOwner || !IsWindowVisible(hOwner) || IsIconic(hOwner) || !GetWindowRect(hOwner, &rcOwner)) rcOwner = rcArea;
  const int cx = rcWindow.right - rcWindow.left, cy = rcWindow.bottom - rcWindow.top;
  int x = (rcOwner.left + rcOwner.right - cx) / 2, y = (rcOwner.top + rcOwner.bottom - cy) / 2;
  x = std::max<int>(rcArea.left, std::min<int>(x, rcArea.right - cx));
  y = std::max<int>(rcArea.top, std::min<int>(y, rcArea.bottom - cy));
  SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
