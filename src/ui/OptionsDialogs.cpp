#include "ui/Dialogs.h"

#include "module/Settings.h"
#include "module/Trace.h"
#include "ui/DialogIds.h"

namespace {

constexpr DWORD kEmailSeal = 0x1;
constexpr DWORD kEmailNoAdvert = 0x4;
constexpr DWORD kDocumentEncrypt = 0x3;
constexpr DWORD kDocumentEncryptOnly = 0x2;
constexpr DWORD kDocumentNoSignatureLines = 0x4;
constexpr DWORD kDocumentNoSignDate = 0x8;
constexpr DWORD kDocumentUseTitle = 0x10;
constexpr int kSignerTitleLimit = 120;
constexpr int kSignerTitleRead = 260;

// Both options dialogs underline their two captions and show one settings word.
DWORD InitOptions(HWND hDialog, CTraceScope& trace, const CDwordSetting& setting) {
  AddSeparatorLine(hDialog, IDC_CAPTION_1);
  AddSeparatorLine(hDialog, IDC_CAPTION_2);
  const DWORD dwValue = ReadUserSetting(setting);
  trace.Message("%ls = 0x%08X", setting.wszName, dwValue);
  return dwValue;
}

}  // namespace

CEmailOptionsDialog::CEmailOptionsDialog() : CMuiDialogImpl(IDD_EMAIL_OPTIONS) {}

bool CEmailOptionsDialog::OnInitDialog() {
  CTraceScope trace("CEmailOptionsDialog::OnInitDialog");
  const DWORD dwSecurity = InitOptions(m_hWnd, trace, kEmailSecurity);
  SetChecked(dwSecurity & kEmailSeal ? IDC_EMAIL_SEAL : IDC_EMAIL_SIGN, true);
  SetChecked(IDC_EMAIL_ADVERT, !(dwSecurity & kEmailNoAdvert));
  return true;
}

void CEmailOptionsDialog::OnOK() {
  const DWORD dwSecurity =
      (IsChecked(IDC_EMAIL_SEAL) ? kEmailSeal : 0) | (IsChecked(IDC_EMAIL_ADVERT) ? 0 : kEmailNoAdvert);
  WriteUserSetting(kEmailSecurity, dwSecurity);
}

CDocumentOptionsDialog::CDocumentOptionsDialog(bool bSignatureLinesSupported)
    : CMuiDialogImpl(IDD_DOCUMENT_OPTIONS), m_bSignatureLinesSupported(bSignatureLinesSupported) {}

bool CDocumentOptionsDialog::OnInitDialog() {
  CTraceScope trace("CDocumentOptionsDialog::OnInitDialog");
  const DWORD dwSecurity = InitOptions(m_hWnd, trace, kDocumentSecurity);
  SetChecked(dwSecurity & kDocumentEncryptOnly ? IDC_DOCUMENT_ENCRYPT : IDC_DOCUMENT_SIGN, true);
  SetChecked(IDC_SIGNATURE_LINES, !(dwSecurity & kDocumentNoSignatureLines));
  SetChecked(IDC_SHOW_SIGN_DATE, !(dwSecurity & kDocumentNoSignDate));
  SetChecked(IDC_USE_SIGNER_TITLE, dwSecurity & kDocumentUseTitle);
  SendDlgItemMessageW(m_hWnd, IDC_SIGNER_TITLE, EM_LIMITTEXT, kSignerTitleLimit, 0);
  SetItemText(IDC_SIGNER_TITLE, ReadUserString(kSignerTitle));
  UpdateEnabling();
  if (!m_bSignatureLinesSupported) HideSignatureLineControls();
  return true;
}

void CDocumentOptionsDialog::UpdateEnabling() const {
  const bool bLines = IsChecked(IDC_SIGNATURE_LINES);
  EnableItem(IDC_SHOW_SIGN_DATE, bLines);
  EnableItem(IDC_USE_SIGNER_TITLE, bLines);
  EnableItem(IDC_SIGNER_TITLE, bLines && IsChecked(IDC_USE_SIGNER_TITLE));
}

// The signature-line group is the lower part of the dialog: OK and Cancel take its place.
void CDocumentOptionsDialog::HideSignatureLineControls() {
  RECT rcGroup = {}, rcButton = {};
  GetWindowRect(Item(IDC_CAPTION_2), &rcGroup);
  GetWindowRect(Item(IDOK), &rcButton);
  const int cyGroup = rcButton.top - rcGroup.top;
  for (int nID : {IDC_CAPTION_2, IDC_TITLE_LABEL, IDC_SIGNATURE_ICON, IDC_SIGNATURE_LINES, IDC_SHOW_SIGN_DATE,
                  IDC_USE_SIGNER_TITLE, IDC_SIGNER_TITLE})
    ShowItem(nID, false);
  // Unnumbered statics in the group (the separator line of 205) go as well.
  for (HWND hChild = GetWindow(m_hWnd, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
    RECT rc = {};
    GetWindowRect(hChild, &rc);
    if (GetDlgCtrlID(hChild) == -1 && rc.top >= rcGroup.top && rc.bottom <= rcGroup.bottom) ShowWindow(hChild, SW_HIDE);
  }
  for (int nID : {IDOK, IDCANCEL}) {
    RECT rc = {};
    GetWindowRect(Item(nID), &rc);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    SetWindowPos(Item(nID), nullptr, rc.left, rc.top - cyGroup, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT rcWindow = {};
  GetWindowRect(m_hWnd, &rcWindow);
  SetWindowPos(m_hWnd, nullptr, 0, 0, rcWindow.right - rcWindow.left, rcWindow.bottom - rcWindow.top - cyGroup,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDocumentOptionsDialog::OnCommand(WORD wID, WORD wCode) {
  if (wCode == BN_CLICKED && (wID == IDC_SIGNATURE_LINES || wID == IDC_USE_SIGNER_TITLE)) UpdateEnabling();
}

void CDocumentOptionsDialog::OnOK() {
  DWORD dwSecurity = IsChecked(IDC_DOCUMENT_ENCRYPT) ? kDocumentEncrypt : 0;
  if (!IsChecked(IDC_SIGNATURE_LINES)) dwSecurity |= kDocumentNoSignatureLines;
  if (!IsChecked(IDC_SHOW_SIGN_DATE)) dwSecurity |= kDocumentNoSignDate;
  if (IsChecked(IDC_USE_SIGNER_TITLE)) dwSecurity |= kDocumentUseTitle;
  WriteUserSetting(kDocumentSecurity, dwSecurity);
  WriteUserString(kSignerTitle, GetItemText(IDC_SIGNER_TITLE).substr(0, kSignerTitleRead));
}
