// The e-mail and document options, the signature setup and the invitation language.
#include <map>
#include <vector>

#include "UiFixture.h"
#include "module/CertLibrary.h"
#include "module/Settings.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"
#include "ui/Dialogs.h"

namespace {

using namespace UiDriver;

class OptionsDialogTest : public CUiTest {
 protected:
  void SetUp() override {
    CUiTest::SetUp();
    ForgetUserSettings();
  }
};

// The etched line right of a caption: an unnumbered static on the caption's middle.
bool HasSeparatorAfter(HWND hDlg, int nCaptionID) {
  const RECT rcCaption = ItemRect(hDlg, nCaptionID);
  for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
    RECT rc = {};
    GetWindowRect(hChild, &rc);
    MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
    if ((GetWindowLongW(hChild, GWL_STYLE) & SS_TYPEMASK) == SS_ETCHEDHORZ && rc.left == rcCaption.right + 2 &&
        rc.top >= rcCaption.top && rc.bottom <= rcCaption.bottom)
      return true;
  }
  return false;
}

TEST_F(OptionsDialogTest, EmailOptionsRoundTrip) {
  CEmailOptionsDialog first;
  EXPECT_EQ(IDOK, RunDriven(first, [](HWND hDlg) {
              // Nothing stored yet: sign only, with the note.
              EXPECT_TRUE(IsChecked(hDlg, IDC_EMAIL_SIGN));
              EXPECT_TRUE(IsChecked(hDlg, IDC_EMAIL_ADVERT));
              EXPECT_TRUE(HasSeparatorAfter(hDlg, IDC_CAPTION_1));
              EXPECT_TRUE(HasSeparatorAfter(hDlg, IDC_CAPTION_2));
              // The brand token of the note's text is replaced.
              EXPECT_EQ(L"&Add a note about Tessaly to secure messages", Text(hDlg, IDC_EMAIL_ADVERT));
              SetChecked(hDlg, IDC_EMAIL_SEAL, true);
              SetChecked(hDlg, IDC_EMAIL_ADVERT, false);
              Click(hDlg, IDOK);
            }));
  EXPECT_EQ(5u, ReadUserSetting(kEmailSecurity));

  CEmailOptionsDialog second;
  EXPECT_EQ(IDCANCEL, RunDriven(second, [](HWND hDlg) {
              EXPECT_TRUE(IsChecked(hDlg, IDC_EMAIL_SEAL));
              EXPECT_FALSE(IsChecked(hDlg, IDC_EMAIL_SIGN));
              EXPECT_FALSE(IsChecked(hDlg, IDC_EMAIL_ADVERT));
              // Cancel keeps what was stored.
              SetChecked(hDlg, IDC_EMAIL_SIGN, true);
              Click(hDlg, IDCANCEL);
            }));
  EXPECT_EQ(5u, ReadUserSetting(kEmailSecurity));
}

// The control ids of a tooltip map.
std::vector<int> Ids(const std::map<int, std::wstring>& tips) {
  std::vector<int> ids;
  for (const auto& [nID, wsText] : tips) ids.push_back(nID);
  return ids;
}

TEST_F(OptionsDialogTest, TooltipsComeFromTheSatelliteInUseWithBrandTokensReplaced) {
  std::map<int, std::wstring> english, german;
  CEmailOptionsDialog first;
  RunDriven(first, [&](HWND hDlg) {
    english = ToolTips(hDlg);
    // The tip that the mouse brings up is the one registered for the control.
    EXPECT_EQ(english[IDC_EMAIL_SEAL], HoverToolTip(hDlg, IDC_EMAIL_SEAL));
  });
  // Only the choices have tips: not the captions, whose ids are those of messages, nor OK.
  EXPECT_EQ((std::vector<int>{IDC_EMAIL_SIGN, IDC_EMAIL_SEAL, IDC_EMAIL_ADVERT}), Ids(english));
  EXPECT_EQ(L"Secure messages end with a short note telling recipients that you use Tessaly.",
            english[IDC_EMAIL_ADVERT]);

  UseLanguage(kGermanGermany);
  CEmailOptionsDialog second;
  RunDriven(second, [&](HWND hDlg) { german = ToolTips(hDlg); });
  EXPECT_EQ(Ids(english), Ids(german));
  EXPECT_EQ(L"Sichere Nachrichten enden mit einem kurzen Hinweis, dass Sie Tessaly verwenden.",
            german[IDC_EMAIL_ADVERT]);
  EXPECT_NE(english[IDC_EMAIL_SIGN], german[IDC_EMAIL_SIGN]);
}

TEST_F(OptionsDialogTest, TooltipsBelongToTheControlOfTheirDialog) {
  // The same id in two templates: each dialog shows its own text.
  std::map<int, std::wstring> options, setup;
  CDocumentOptionsDialog full(true);
  RunDriven(full, [&](HWND hDlg) { options = ToolTips(hDlg); });
  EXPECT_EQ((std::vector<int>{IDC_SHOW_SIGN_DATE, IDC_USE_SIGNER_TITLE, IDC_SIGNER_TITLE, IDC_DOCUMENT_SIGN,
                              IDC_DOCUMENT_ENCRYPT, IDC_SIGNATURE_LINES}),
            Ids(options));
  BSTR bsSigner = nullptr, bsInstructions = nullptr;
  VARIANT_BOOL bShowDate = VARIANT_TRUE, bAddTitle = VARIANT_FALSE;
  CSignatureSetupDialog dialog(bsSigner, bsInstructions, bShowDate, bAddTitle);
  RunDriven(dialog, [&](HWND hDlg) { setup = ToolTips(hDlg); });
  EXPECT_EQ(4u, setup.size());
  EXPECT_FALSE(setup[IDC_SHOW_SIGN_DATE].empty());
  EXPECT_NE(options[IDC_SHOW_SIGN_DATE], setup[IDC_SHOW_SIGN_DATE]);
  SysFreeString(bsSigner);
  SysFreeString(bsInstructions);

  // Without signature lines their controls are hidden: the rest keep their tips and the
  // dialog still saves.
  CDocumentOptionsDialog reduced(false);
  EXPECT_EQ(IDOK, RunDriven(reduced, [&](HWND hDlg) {
              EXPECT_EQ(options[IDC_DOCUMENT_ENCRYPT], HoverToolTip(hDlg, IDC_DOCUMENT_ENCRYPT));
              SetChecked(hDlg, IDC_DOCUMENT_ENCRYPT, true);
              Click(hDlg, IDOK);
            }));
  EXPECT_EQ(0x3u, ReadUserSetting(kDocumentSecurity) & 0x3u);
}

TEST_F(OptionsDialogTest, DocumentOptionsValuesAndEnabling) {
  WriteUserString(kSignerTitle, L"Notary");
  CDocumentOptionsDialog dialog(true);
  EXPECT_EQ(IDOK, RunDriven(dialog, [](HWND hDlg) {
              EXPECT_TRUE(IsChecked(hDlg, IDC_DOCUMENT_SIGN));
              EXPECT_TRUE(IsChecked(hDlg, IDC_SIGNATURE_LINES));
              EXPECT_TRUE(IsChecked(hDlg, IDC_SHOW_SIGN_DATE));
              EXPECT_FALSE(IsChecked(hDlg, IDC_USE_SIGNER_TITLE));
              EXPECT_EQ(L"Notary", Text(hDlg, IDC_SIGNER_TITLE));
              EXPECT_FALSE(IsEnabled(hDlg, IDC_SIGNER_TITLE));
              Click(hDlg, IDC_USE_SIGNER_TITLE);
              EXPECT_TRUE(IsEnabled(hDlg, IDC_SIGNER_TITLE));
              Click(hDlg, IDC_SIGNATURE_LINES);
              EXPECT_FALSE(IsEnabled(hDlg, IDC_SHOW_SIGN_DATE));
              EXPECT_FALSE(IsEnabled(hDlg, IDC_USE_SIGNER_TITLE));
              EXPECT_FALSE(IsEnabled(hDlg, IDC_SIGNER_TITLE));
              SetChecked(hDlg, IDC_DOCUMENT_ENCRYPT, true);
              SetText(hDlg, IDC_SIGNER_TITLE, L"Chief Notary");
              Click(hDlg, IDOK);
            }));
  // Encrypt (0x3) without signature lines (0x4), with the date, using the title (0x10).
  EXPECT_EQ(0x17u, ReadUserSetting(kDocumentSecurity));
  EXPECT_EQ(L"Chief Notary", ReadUserString(kSignerTitle));

  CDocumentOptionsDialog again(true);
  RunDriven(again, [](HWND hDlg) {
    EXPECT_TRUE(IsChecked(hDlg, IDC_DOCUMENT_ENCRYPT));
    EXPECT_FALSE(IsChecked(hDlg, IDC_SIGNATURE_LINES));
    EXPECT_TRUE(IsChecked(hDlg, IDC_USE_SIGNER_TITLE));
    EXPECT_FALSE(IsEnabled(hDlg, IDC_SIGNER_TITLE));
    SetChecked(hDlg, IDC_USE_SIGNER_TITLE, false);
    Click(hDlg, IDC_SIGNATURE_LINES);
    SetChecked(hDlg, IDC_SHOW_SIGN_DATE, false);
    Click(hDlg, IDOK);
  });
  EXPECT_EQ(0xBu, ReadUserSetting(kDocumentSecurity));
}

TEST_F(OptionsDialogTest, WithoutSignatureLinesTheirControlsGoAndTheDialogShrinks) {
  RECT rcCaption = {}, rcOk = {}, rcCancel = {};
  int cyFull = 0;
  CDocumentOptionsDialog full(true);
  RunDriven(full, [&](HWND hDlg) {
    rcCaption = ItemRect(hDlg, IDC_CAPTION_2);
    rcOk = ItemRect(hDlg, IDOK);
    rcCancel = ItemRect(hDlg, IDCANCEL);
    RECT rc = {};
    GetWindowRect(hDlg, &rc);
    cyFull = rc.bottom - rc.top;
  });
  const int cyGroup = rcOk.top - rcCaption.top;
  CDocumentOptionsDialog reduced(false);
  RunDriven(reduced, [&](HWND hDlg) {
    for (int nID : {IDC_CAPTION_2, IDC_TITLE_LABEL, IDC_SIGNATURE_ICON, IDC_SIGNATURE_LINES, IDC_SHOW_SIGN_DATE,
                    IDC_USE_SIGNER_TITLE, IDC_SIGNER_TITLE})
      EXPECT_FALSE(IsVisible(hDlg, nID)) << nID;
    EXPECT_TRUE(IsVisible(hDlg, IDC_DOCUMENT_ENCRYPT));
    EXPECT_EQ(rcOk.top - cyGroup, ItemRect(hDlg, IDOK).top);
    EXPECT_EQ(rcCancel.top - cyGroup, ItemRect(hDlg, IDCANCEL).top);
    EXPECT_EQ(rcOk.left, ItemRect(hDlg, IDOK).left);
    RECT rc = {};
    GetWindowRect(hDlg, &rc);
    EXPECT_EQ(cyFull - cyGroup, rc.bottom - rc.top);
  });
}

TEST_F(OptionsDialogTest, SignatureSetupExchangesItsValuesOnlyOnOk) {
  BSTR bsSigner = SysAllocString(L"A. Signer");
  BSTR bsInstructions = SysAllocString(L"Line one\r\nLine two");
  VARIANT_BOOL bShowDate = VARIANT_TRUE, bAddTitle = VARIANT_FALSE;
  const auto edit = [](HWND hDlg) {
    EXPECT_EQ(L"A. Signer", Text(hDlg, IDC_SUGGESTED_SIGNER));
    EXPECT_EQ(L"Line one\r\nLine two", Text(hDlg, IDC_SIGNING_INSTRUCTIONS));
    EXPECT_TRUE(IsChecked(hDlg, IDC_SHOW_SIGN_DATE));
    EXPECT_FALSE(IsChecked(hDlg, IDC_ADD_TITLE));
    SetText(hDlg, IDC_SUGGESTED_SIGNER, L"B. Signer");
    SetChecked(hDlg, IDC_SHOW_SIGN_DATE, false);
    SetChecked(hDlg, IDC_ADD_TITLE, true);
  };
  CSignatureSetupDialog cancelled(bsSigner, bsInstructions, bShowDate, bAddTitle);
  RunDriven(cancelled, [&](HWND hDlg) {
    edit(hDlg);
    Click(hDlg, IDCANCEL);
  });
  EXPECT_STREQ(L"A. Signer", bsSigner);
  EXPECT_EQ(VARIANT_TRUE, bShowDate);
  EXPECT_EQ(VARIANT_FALSE, bAddTitle);

  CSignatureSetupDialog confirmed(bsSigner, bsInstructions, bShowDate, bAddTitle);
  EXPECT_EQ(IDOK, RunDriven(confirmed, [&](HWND hDlg) {
              edit(hDlg);
              Click(hDlg, IDOK);
            }));
  EXPECT_STREQ(L"B. Signer", bsSigner);
  EXPECT_STREQ(L"Line one\r\nLine two", bsInstructions);
  EXPECT_EQ(VARIANT_FALSE, bShowDate);
  EXPECT_EQ(VARIANT_TRUE, bAddTitle);
  SysFreeString(bsSigner);
  SysFreeString(bsInstructions);
}

TEST_F(OptionsDialogTest, LanguageDialogGivesTheChosenLocale) {
  const CCertLibrary certLib;
  std::wstring wsLocale = L"stale";
  CInviteInstructionsDialog dialog(certLib, wsLocale);
  EXPECT_EQ(IDOK, RunDriven(dialog, [](HWND hDlg) {
              EXPECT_EQ(LoadResourceString(IDS_INVITE_LANGUAGE_PROMPT), Text(hDlg, IDC_PROMPT));
              // The user's language (English) is chosen at first.
              EXPECT_EQ(L"English (United States)", Text(hDlg, IDC_LANGUAGE));
              SendDlgItemMessageW(hDlg, IDC_LANGUAGE, CB_SETCURSEL, 1, 0);
              Click(hDlg, IDOK);
            }));
  EXPECT_EQ(L"00000407", wsLocale);

  // Cancelling gives the selection too.
  CInviteInstructionsDialog cancelled(certLib, wsLocale);
  RunDriven(cancelled, [](HWND hDlg) { Click(hDlg, IDCANCEL); });
  EXPECT_EQ(L"00000409", wsLocale);

  // Without the certificate library there is nothing to choose.
  const CCertLibrary missingLib(L"C:\\nowhere");
  CInviteInstructionsDialog empty(missingLib, wsLocale);
  RunDriven(empty, [](HWND hDlg) {
    EXPECT_EQ(0, SendDlgItemMessageW(hDlg, IDC_LANGUAGE, CB_GETCOUNT, 0, 0));
    Click(hDlg, IDOK);
  });
  EXPECT_EQ(L"", wsLocale);
}

}  // namespace
