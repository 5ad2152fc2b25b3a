// The user's action on a received message (ProcessMessage) in the simulated Outlook, its message
// boxes answered by the UI driver: contacts installed, safe senders and the invitation reply.
#include <gmock/gmock.h>

#include <mapitags.h>

#include "SimOutlook.h"
#include "UiFixture.h"
#include "com/Bstr.h"
#include "com/LateBound.h"
#include "mail/Invitations.h"
#include "mail/ItemText.h"
#include "module/CertLibrary.h"
#include "outlook/MessageActions.h"
#include "res/StringIds.h"

namespace {

using namespace UiDriver;

class MessageActionsTest : public CUiTest {
 protected:
  void SetUp() override {
    CUiTest::SetUp();
    ForgetUserCertificates();
    ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"me@tessaly.test", L"Me"));
    wchar_t wszFolder[MAX_PATH] = {}, wszFile[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszFolder);
    GetTempFileNameW(wszFolder, L"olp", 0, wszFile);
    m_wsProfile = wszFile;
    DeleteFileW(wszFile);
    Sim::SOutlookOptions options;
    options.wsProfilePath = m_wsProfile;
    options.accounts = {{L"me@tessaly.test", L"me@tessaly.test", L"Me", L""}};
    options.onlyAddIns = {L"-"};
    m_cpOutlook.Attach(new Sim::COutlook(options));
    ASSERT_EQ(S_OK, m_cpOutlook->Start());
    CComPtr<IMessage> cpMessage;
    ASSERT_EQ(S_OK, m_cpOutlook->AddReceived(L"Signed by Bob", &cpMessage));
    SPropValue sender = {};
    sender.ulPropTag = PR_SENDER_EMAIL_ADDRESS_W;
    sender.Value.lpszW = const_cast<LPWSTR>(L"bob@tessaly.test");
    ASSERT_EQ(S_OK, cpMessage->SetProps(1, &sender, nullptr));
    m_pItem = m_cpOutlook->MailItem(cpMessage);
    m_pBob = IssueContactCertificate(L"bob@tessaly.test", L"Bob", false);
    ASSERT_NE(nullptr, m_pBob);
  }
  void TearDown() override {
    if (m_pBob) CertFreeCertificateContext(m_pBob);
    if (m_cpOutlook) m_cpOutlook->Quit();
    m_cpOutlook.Release();
    DeleteFileW(m_wsProfile.c_str());
    ForgetUserCertificates();
    CUiTest::TearDown();
  }

  // ProcessMessage with the message boxes that come answered in order; their texts go to *pBoxes.
  HRESULT Process(PCCERT_CONTEXT pCert, BOOL bIsReply, const std::vector<int>& answers, DWORD* pdwDone,
                  std::vector<std::wstring>* pBoxes) {
    HRESULT hr = E_FAIL;
    RunDrivenCall(
        [&] {
          hr = ProcessMessage(m_pItem, kKindNewSigner, L"Bob [bob@tessaly.test]", pCert, bIsReply, pdwDone);
          return 0;
        },
        [&](HWND hBox) {
          for (size_t i = 0; hBox; ++i) {
            pBoxes->push_back(StaticTexts(hBox));
            Click(hBox, i < answers.size() ? answers[i] : IDCANCEL);
            WaitUntilGone(hBox);
            hBox = i + 1 < answers.size() ? WaitForDialog(GetCurrentProcessId(), L"", 5000) : nullptr;
          }
        });
    return hr;
  }

  size_t InstalledCopies(PCCERT_CONTEXT pCert) const {
    CLibraryMemory<PCCERT_CONTEXT> buddies(m_certLib);
    DWORD dwCount = 0;
    EXPECT_EQ(S_OK, m_certLib.BM_EnumBuddies(buddies.Out(), &dwCount));
    size_t cFound = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
      cFound += CertCompareCertificate(X509_ASN_ENCODING, buddies.Get()[i]->pCertInfo, pCert->pCertInfo) ? 1 : 0;
      CertFreeCertificateContext(buddies.Get()[i]);
    }
    return cFound;
  }

  // The open message windows that hold an invitation reply.
  size_t Replies() const {
    size_t cReplies = 0;
    for (IDispatch* pInspector : m_cpOutlook->Inspectors()) {
      CComPtr<IDispatch> cpItem;
      EXPECT_EQ(S_OK, LateBound::GetObjectProperty(pInspector, L"CurrentItem", &cpItem));
      cReplies += GetInvitationType(cpItem) == kInvitationReply ? 1 : 0;
    }
    return cReplies;
  }

  std::wstring Line(UINT nID, const wchar_t* wszText) { return FormatResourceString(nID, wszText) + L"\n"; }

  const CCertLibrary m_certLib;
  std::wstring m_wsProfile;
  CComPtr<Sim::COutlook> m_cpOutlook;
  IDispatch* m_pItem = nullptr;
  PCCERT_CONTEXT m_pBob = nullptr;
};

TEST_F(MessageActionsTest, ANewSignerBecomesAContactAndSafeSenderAndGetsAnInvitationReplyAlsoWhenKnownAfterOk) {
  DWORD dwDone = 0;
  std::vector<std::wstring> boxes;
  EXPECT_EQ(S_OK, Process(m_pBob, FALSE, {IDOK}, &dwDone, &boxes));
  EXPECT_EQ(1u, dwDone);
  EXPECT_EQ(std::vector<std::wstring>{Line(IDS_MSG_CONTACT_ADDED, L"Bob [bob@tessaly.test]")}, boxes);
  EXPECT_EQ(1u, InstalledCopies(m_pBob));
  EXPECT_THAT(m_cpOutlook->SafeSenders(), testing::HasSubstr(L"bob@tessaly.test"));
  EXPECT_EQ(1u, Replies());
  CComPtr<IDispatch> cpReply;
  ASSERT_EQ(S_OK, LateBound::GetObjectProperty(m_cpOutlook->ActiveInspector(), L"CurrentItem", &cpReply));
  EXPECT_EQ(kInvitationReply, GetInvitationType(cpReply));
  std::wstring wsTo;
  EXPECT_EQ(S_OK, GetTextProperty(cpReply, L"To", &wsTo));
  EXPECT_EQ(L"bob@tessaly.test", wsTo);

  // Known already: Cancel leaves it there, OK answers the invitation once more.
  boxes.clear();
  EXPECT_EQ(E_ABORT, Process(m_pBob, FALSE, {IDCANCEL}, &dwDone, &boxes));
  EXPECT_EQ(0u, dwDone);
  EXPECT_EQ(std::vector<std::wstring>{Line(IDS_MSG_CONTACT_EXISTS, L"Bob [bob@tessaly.test]")}, boxes);
  EXPECT_EQ(1u, Replies());
  boxes.clear();
  EXPECT_EQ(S_OK, Process(m_pBob, FALSE, {IDOK}, &dwDone, &boxes));
  EXPECT_EQ(0u, dwDone);
  EXPECT_EQ(2u, Replies());
  EXPECT_EQ(1u, InstalledCopies(m_pBob));
}

TEST_F(MessageActionsTest, AnInvitationReplyIsNotAnsweredAgain) {
  DWORD dwDone = 0;
  std::vector<std::wstring> boxes;
  EXPECT_EQ(S_OK, Process(m_pBob, TRUE, {IDOK}, &dwDone, &boxes));
  EXPECT_EQ(1u, dwDone);
  EXPECT_EQ(std::vector<std::wstring>{Line(IDS_MSG_CONTACT_ADDED_REPLY, L"Bob [bob@tessaly.test]")}, boxes);
  EXPECT_EQ(0u, Replies());
}

TEST_F(MessageActionsTest, AnExpiredCertificateIsInstalledOnlyWhenTheUserSaysSo) {
  PCCERT_CONTEXT pExpired = IssueContactCertificate(L"old@tessaly.test", L"Old", true);
  ASSERT_NE(nullptr, pExpired);
  DWORD dwDone = 0;
  std::vector<std::wstring> boxes;
  EXPECT_EQ(E_ABORT, Process(pExpired, TRUE, {IDNO}, &dwDone, &boxes));
  const std::wstring wsReason = LoadResourceString(IDS_CERT_REASON_EXPIRED);
  EXPECT_EQ(std::vector<std::wstring>{Line(IDS_MSG_CERT_NOT_VALID, wsReason.c_str())}, boxes);
  EXPECT_EQ(0u, InstalledCopies(pExpired));
  boxes.clear();
  EXPECT_EQ(S_OK, Process(pExpired, TRUE, {IDYES, IDOK}, &dwDone, &boxes));
  EXPECT_EQ(2u, boxes.size());
  EXPECT_EQ(1u, dwDone);
  EXPECT_EQ(1u, InstalledCopies(pExpired));
  CertFreeCertificateContext(pExpired);
}

TEST_F(MessageActionsTest, WithoutACertificateOfTheirOwnTheUserIsOfferedOneAndNothingIsInstalled) {
  ForgetUserCertificates();
  DWORD dwDone = 0;
  std::vector<std::wstring> boxes;
  EXPECT_EQ(E_ABORT, Process(m_pBob, FALSE, {IDNO}, &dwDone, &boxes));
  EXPECT_EQ(std::vector<std::wstring>{LoadResourceString(IDS_MSG_NO_CERTIFICATE) + L"\n"}, boxes);
  EXPECT_EQ(0u, dwDone);
  EXPECT_EQ(0u, InstalledCopies(m_pBob));
  EXPECT_EQ(0u, Replies());
}

// The reply's window looks active until it is deactivated once; from then on it is left alone.
LRESULT CALLBACK CountingProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_NCACTIVATE) {
    ++*reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return 7;
  }
  return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

TEST(ReplyWindowTest, AnswersActivationUntilTheFirstDeactivationWhichGoesThrough) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ReplyWindowTest";
  RegisterClassW(&wc);
  HWND hwnd =
      CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, hwnd);
  int cSeen = 0;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&cSeen));
  ASSERT_TRUE(CReplyWindow::Attach(hwnd));
  EXPECT_EQ(TRUE, SendMessageW(hwnd, WM_NCACTIVATE, TRUE, 0));
  EXPECT_EQ(TRUE, SendMessageW(hwnd, WM_NCACTIVATE, TRUE, 0));
  EXPECT_EQ(0, cSeen);
  EXPECT_EQ(7, SendMessageW(hwnd, WM_NCACTIVATE, FALSE, 0));
  EXPECT_EQ(7, SendMessageW(hwnd, WM_NCACTIVATE, TRUE, 0));
  EXPECT_EQ(2, cSeen);
  DestroyWindow(hwnd);
}

}  // namespace
