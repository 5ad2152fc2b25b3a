// The recipient selection, the recipient list of an encrypted document and the signature details.
#include "UiFixture.h"

#include <algorithm>
#include <vector>

#include "module/CertLibrary.h"
#include "module/Settings.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"
#include "ui/Dialogs.h"

namespace {

using namespace UiDriver;

std::wstring EmailOf(PCCERT_CONTEXT pCert) {
  wchar_t wszEmail[256] = {};
  CertGetNameStringW(pCert, CERT_NAME_EMAIL_TYPE, 0, nullptr, wszEmail, ARRAYSIZE(wszEmail));
  return wszEmail;
}

// The user (own certificate through the test PKI) and four contacts: Alice and Bob valid, Carol
// and Dave expired.
class RecipientDialogTest : public CUiTest {
 protected:
  void SetUp() override {
    CUiTest::SetUp();
    ForgetUserSettings();
    ForgetUserCertificates();
    ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"me@tessaly.test", L"Me"));
    IssueContact(m_contacts, L"alice@tessaly.test", L"Alice", false);
    IssueContact(m_contacts, L"bob@tessaly.test", L"Bob", false);
    IssueContact(m_contacts, L"carol@tessaly.test", L"Carol", true);
    IssueContact(m_contacts, L"dave@tessaly.test", L"Dave", true);
  }

  PCCERT_CONTEXT Contact(size_t i) const { return m_contacts.Get()[i]; }

  const CCertLibrary m_certLib;
  CCertificateList m_contacts;
};

std::vector<std::wstring> RowEmails(HWND hList) {
  std::vector<std::wstring> emails;
  for (int i = 0; i < ListRowCount(hList); ++i) emails.push_back(ListText(hList, i, 1));
  return emails;
}

TEST_F(RecipientDialogTest, ListsValidAndPreselectedContactsAndReturnsTheCheckedOnesFromTheBottomUp) {
  const std::vector<PCCERT_CONTEXT> preselected = {Contact(1), Contact(3)};
  CSelectBuddyDialog dialog(m_certLib, preselected);
  std::vector<std::wstring> expected;
  EXPECT_EQ(IDOK, RunDriven(dialog, [&](HWND hDlg) {
              HWND hList = GetDlgItem(hDlg, IDC_RECIPIENT_LIST);
              std::vector<std::wstring> emails = RowEmails(hList);
              std::vector<std::wstring> sorted = emails;
              std::sort(sorted.begin(), sorted.end());
              // Carol expired and was not asked for; Dave expired but was.
              EXPECT_EQ((std::vector<std::wstring>{L"alice@tessaly.test", L"bob@tessaly.test", L"dave@tessaly.test"}),
                        sorted);
              for (int i = 0; i < ListRowCount(hList); ++i) {
                EXPECT_EQ(emails[i] != L"alice@tessaly.test", ListIsChecked(hList, i)) << i;
                if (emails[i] == L"alice@tessaly.test") ListClickCheckBox(hList, i);
                EXPECT_EQ(emails[i].substr(0, 1), std::wstring(1, towlower(ListText(hList, i, 0)[0])));
              }
              for (int i = ListRowCount(hList) - 1; i >= 0; --i)
                if (ListIsChecked(hList, i)) expected.push_back(emails[i]);
              Click(hDlg, IDOK);
            }));
  expected.push_back(L"me@tessaly.test");
  std::vector<std::wstring> result;
  for (PCCERT_CONTEXT pCert : dialog.GetResult()) result.push_back(EmailOf(pCert));
  EXPECT_EQ(4u, result.size());
  EXPECT_EQ(expected, result);
}

TEST_F(RecipientDialogTest, CheckingOneOfTheSelectedRowsChecksThemAllAndHeadersSort) {
  CSelectBuddyDialog dialog(m_certLib, {});
  EXPECT_EQ(IDOK, RunDriven(dialog, [&](HWND hDlg) {
              HWND hList = GetDlgItem(hDlg, IDC_RECIPIENT_LIST);
              ASSERT_EQ(2, ListRowCount(hList));
              // Without the policy's consent no published certificates are offered.
              EXPECT_FALSE(IsVisible(hDlg, IDC_SHOW_PUBLISHED));
              EXPECT_FALSE(IsVisible(hDlg, IDC_ADD_PUBLISHED));
              ListClickHeader(hList, 0);
              EXPECT_EQ(HDF_SORTUP, ListSortArrow(hList, 0));
              EXPECT_EQ(L"Alice", ListText(hList, 0, 0));
              ListClickHeader(hList, 0);
              EXPECT_EQ(HDF_SORTDOWN, ListSortArrow(hList, 0));
              EXPECT_EQ(L"Bob", ListText(hList, 0, 0));
              ListClickHeader(hList, 1);
              EXPECT_EQ(0, ListSortArrow(hList, 0));
              EXPECT_EQ(HDF_SORTUP, ListSortArrow(hList, 1));
              EXPECT_EQ(L"alice@tessaly.test", ListText(hList, 0, 1));

              ListSelect(hList, {0, 1});
              ListClickCheckBox(hList, 1);
              EXPECT_TRUE(ListIsChecked(hList, 0));
              EXPECT_TRUE(ListIsChecked(hList, 1));
              ListClickCheckBox(hList, 0);
              EXPECT_FALSE(ListIsChecked(hList, 0));
              EXPECT_FALSE(ListIsChecked(hList, 1));
              Click(hDlg, IDOK);
            }));
  // Nobody checked: the user's own certificate alone.
  ASSERT_EQ(1u, dialog.GetResult().size());
  EXPECT_EQ(L"me@tessaly.test", EmailOf(dialog.GetResult()[0]));
}

// The policy service's machine key (its stand-in reads policies from there) allowing the directory's certificates.
class CPublishingAllowed {
 public:
  CPublishingAllowed() {
    const DWORD dwAllowed = 0;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"PublishingPolicy", REG_DWORD, &dwAllowed, sizeof(dwAllowed));
  }
  ~CPublishingAllowed() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"PublishingPolicy"); }

 private:
  static constexpr wchar_t kKey[] =
      L"SOFTWARE\\Policies\\Velmora\\PolicyService\\Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}";
};

TEST_F(RecipientDialogTest, PublishedCertificatesNeedThePolicyAndTheUsersChoiceAndAFailingPickerChangesNothing) {
  const CPublishingAllowed policy;
  CSelectBuddyDialog dialog(m_certLib, {});
  EXPECT_EQ(IDOK, RunDriven(dialog, [&](HWND hDlg) {
              HWND hList = GetDlgItem(hDlg, IDC_RECIPIENT_LIST);
              EXPECT_TRUE(IsVisible(hDlg, IDC_SHOW_PUBLISHED));
              EXPECT_FALSE(IsChecked(hDlg, IDC_SHOW_PUBLISHED));
              EXPECT_FALSE(IsVisible(hDlg, IDC_ADD_PUBLISHED));
              Click(hDlg, IDC_SHOW_PUBLISHED);
              EXPECT_TRUE(IsVisible(hDlg, IDC_ADD_PUBLISHED));
              EXPECT_EQ(1u, ReadUserSetting(kShowPublishedCerts));
              // The platform's directory picker cannot pick anybody here: the list stays as it was.
              ListClickCheckBox(hList, 0);
              Click(hDlg, IDC_ADD_PUBLISHED);
              ASSERT_EQ(2, ListRowCount(hList));
              EXPECT_TRUE(ListIsChecked(hList, 0));
              Click(hDlg, IDC_SHOW_PUBLISHED);
              EXPECT_FALSE(IsVisible(hDlg, IDC_ADD_PUBLISHED));
              EXPECT_EQ(0u, ReadUserSetting(kShowPublishedCerts));
              Click(hDlg, IDOK);
            }));
  EXPECT_EQ(1u, dialog.GetResult().size());
}

TEST_F(RecipientDialogTest, WithoutAnOwnCertificateTheDialogDoesNotOpen) {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\SystemCertificates\\MY\\Certificates");
  CSelectBuddyDialog dialog(m_certLib, {});
  EXPECT_EQ(0, dialog.DoModal(nullptr));
  EXPECT_TRUE(dialog.GetResult().empty());
}

TEST_F(RecipientDialogTest, EncryptionDetailsListTheRecipients) {
  const std::vector<PCCERT_CONTEXT> recipients = {Contact(0), Contact(2)};
  CEncryptionDetailsDialog dialog(m_certLib, recipients);
  RunDriven(dialog, [](HWND hDlg) {
    HWND hList = GetDlgItem(hDlg, IDC_RECIPIENT_LIST);
    EXPECT_EQ((std::vector<std::wstring>{L"alice@tessaly.test", L"carol@tessaly.test"}), RowEmails(hList));
    EXPECT_EQ(L"Tessaly encrypted this document for these people:", Text(hDlg, IDC_DETAILS_CAPTION));
    Click(hDlg, IDOK);
  });
}

TEST_F(RecipientDialogTest, SignatureDetailsShowTheSigner) {
  CSignatureDetailsDialog dialog(m_certLib, true, Contact(0), L"2024-05-01 10:00", L"First\nSecond");
  RunDriven(dialog, [](HWND hDlg) {
    EXPECT_EQ(LoadResourceString(IDS_SIGNATURE_VALID), Text(hDlg, IDC_SIGNATURE_STATUS));
    EXPECT_EQ(L"Alice [alice@tessaly.test]", Text(hDlg, IDC_SIGNER));
    EXPECT_EQ(L"2024-05-01 10:00", Text(hDlg, IDC_SIGNING_TIME));
    EXPECT_EQ(L"RSA (2048)", Text(hDlg, IDC_KEY_ALGORITHM));
    EXPECT_EQ(L"First\r\nSecond", Text(hDlg, IDC_COMMENT));
    EXPECT_EQ(LoadResourceString(IDS_DETAILS_SIGNER), Text(hDlg, IDC_SIGNER_LABEL));
    EXPECT_TRUE(IsEnabled(hDlg, IDC_VIEW_CERTIFICATE));
    Click(hDlg, IDCANCEL);
  });
}

}  // namespace
