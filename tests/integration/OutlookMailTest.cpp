// The mail code of the core library against the simulated Outlook's real objects,
// windows and MAPI profile.
#include <mapiutil.h>

#include <vector>

#include "OutlookFixture.h"
#include "com/Bstr.h"
#include "com/LateBound.h"
#include "hosts/Outlook.h"
#include "mail/AddressBook.h"
#include "mail/MailItemKey.h"
#include "mail/MessageSecurity.h"
#include "mail/SecurityProfile.h"
#include "mail/WindowHelpers.h"

namespace {

// Records what ApplyMessageSecurity hands on.
class CRecordingSecurity : public IMessageSecurity {
 public:
  HRESULT SetMessageSecurity(IDispatch*, BOOL bSign, BOOL bSeal, BSTR*) override {
    m_calls.push_back({bSign, bSeal});
    return S_OK;
  }
  std::vector<std::pair<BOOL, BOOL>> m_calls;
};

std::wstring Subject(IDispatch* pItem) {
  VARIANT var;
  if (FAILED(LateBound::GetProperty(pItem, L"Subject", &var))) return L"";
  std::wstring ws = var.vt == VT_BSTR && var.bstrVal ? var.bstrVal : L"";
  VariantClear(&var);
  return ws;
}

void SetBinary(IMessage* pMessage, ULONG ulTag, std::vector<BYTE> bytes) {
  SPropValue value = {};
  value.ulPropTag = ulTag;
  value.Value.bin.cb = static_cast<ULONG>(bytes.size());
  value.Value.bin.lpb = bytes.data();
  ASSERT_EQ(S_OK, pMessage->SetProps(1, &value, nullptr));
}

using MailKeyTest = COutlookTest;

TEST_F(MailKeyTest, TwoItemObjectsOfOneMessageGiveEqualKeysAndItsSearchKeyIsWrittenOnce) {
  Sim::COutlook* pOutlook = Start();
  CComPtr<IMessage> cpFirst, cpSecond;
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"One", &cpFirst));
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"Two", &cpSecond));
  SetBinary(cpFirst, PR_RECORD_KEY, {1, 2, 0xAB});

  // The reading pane's item and the message window's item are two objects of one message,
  // which has no search key yet: the first key gives it one, the second reads it.
  ASSERT_EQ(S_OK, pOutlook->Select({1}));
  CComPtr<IDispatch> cpSelected;
  ASSERT_EQ(S_OK, GetCurrentMailItem(pOutlook->Explorer(), &cpSelected, nullptr));
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Open(cpFirst, &pInspector));
  CComPtr<IDispatch> cpOpened;
  ASSERT_EQ(S_OK, GetCurrentMailItem(pInspector, &cpOpened, nullptr));
  ASSERT_NE(cpSelected.Get(), cpOpened.Get());

  const CMailItemKey key(cpSelected);
  EXPECT_TRUE(key.IsValid());
  EXPECT_EQ(L"0102AB", std::wstring(key.RecordKey()));
  EXPECT_STREQ(key.SearchKey(), CMailItemKey(cpOpened).SearchKey());
  EXPECT_TRUE(key == CMailItemKey(cpOpened));
  EXPECT_FALSE(key == CMailItemKey(pOutlook->MailItem(cpSecond)));

  BYTE* pb = nullptr;
  ULONG cb = 0;
  ASSERT_EQ(S_OK, GetBinaryProp(cpFirst, PR_SEARCH_KEY, &pb, &cb));
  std::wstring wsStored;
  for (ULONG i = 0; i < cb; ++i) {
    wchar_t wsz[3];
    swprintf(wsz, 3, L"%02X", pb[i]);
    wsStored += wsz;
  }
  CoTaskMemFree(pb);
  EXPECT_EQ(16u, cb);
  EXPECT_EQ(wsStored, std::wstring(key.SearchKey()));
  EXPECT_EQ(0u, Sim::MessageSaveCount(cpFirst));
}

TEST_F(MailKeyTest, PresetIsAppliedOnceAndFoundByRecordKeyAfterTheSearchKeyChanged) {
  Sim::COutlook* pOutlook = Start();
  CComPtr<IMessage> cpMessage;
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"Secure", &cpMessage));
  SetBinary(cpMessage, PR_RECORD_KEY, {9, 9});
  SetBinary(cpMessage, PR_SEARCH_KEY, {1});
  ASSERT_EQ(S_OK, PresetMessageSecurity(pOutlook->MailItem(cpMessage), FALSE, TRUE));
  ASSERT_EQ(S_OK, PresetMessageSecurity(pOutlook->MailItem(cpMessage), TRUE, TRUE));
  SetBinary(cpMessage, PR_SEARCH_KEY, {2});

  CRecordingSecurity security;
  EXPECT_EQ(S_OK, ApplyMessageSecurity(pOutlook->MailItem(cpMessage), nullptr, security));
  EXPECT_EQ(S_OK, ApplyMessageSecurity(pOutlook->MailItem(cpMessage), nullptr, security));
  ASSERT_EQ(1u, security.m_calls.size());
  EXPECT_EQ(std::make_pair(TRUE, TRUE), security.m_calls[0]);
}

TEST_F(MailKeyTest, AnItemWithoutMapiObjectHasAnInvalidKey) {
  Start();
  CComPtr<Sim::CDispatch> cpItem;
  cpItem.Attach(new Sim::CDispatch({Outlook::IID__MailItem}));
  const CMailItemKey key(cpItem);
  EXPECT_FALSE(key.IsValid());
  EXPECT_EQ(E_INVALIDARG, PresetMessageSecurity(cpItem, TRUE, FALSE));
  EXPECT_EQ(E_INVALIDARG, RemoveMessageSecurityData(key));
}

// A message that cannot keep a new search key could never find its records again: its key is
// invalid and the preset says so.
TEST_F(MailKeyTest, AMessageThatRefusesANewSearchKeyHasAnInvalidKey) {
  Sim::COutlook* pOutlook = Start();
  CComPtr<IMessage> cpMessage;
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"Read-only", &cpMessage));
  Sim::MessageStore(cpMessage).m_bReadOnly = true;
  EXPECT_FALSE(CMailItemKey(pOutlook->MailItem(cpMessage)).IsValid());
  EXPECT_EQ(E_INVALIDARG, PresetMessageSecurity(pOutlook->MailItem(cpMessage), TRUE, TRUE));
  BYTE* pb = nullptr;
  ULONG cb = 0;
  EXPECT_EQ(MAPI_E_NOT_FOUND, GetBinaryProp(cpMessage, PR_SEARCH_KEY, &pb, &cb));
}

TEST_F(MailKeyTest, ALargeBinaryPropertyIsReadThroughItsStream) {
  Sim::COutlook* pOutlook = Start();
  CComPtr<IMessage> cpMessage;
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"Large", &cpMessage));
  std::vector<BYTE> bytes(Sim::kLargeValue * 5 + 3);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 7);
  SetBinary(cpMessage, PR_RTF_COMPRESSED, bytes);

  BYTE* pb = nullptr;
  ULONG cb = 0;
  ASSERT_EQ(S_OK, GetBinaryProp(cpMessage, PR_RTF_COMPRESSED, &pb, &cb));
  EXPECT_EQ(bytes, std::vector<BYTE>(pb, pb + cb));
  CoTaskMemFree(pb);
  EXPECT_EQ(E_INVALIDARG, GetBinaryProp(cpMessage, PR_SUBJECT_W, &pb, &cb));
  EXPECT_EQ(E_POINTER, GetBinaryProp(cpMessage, PR_RTF_COMPRESSED, nullptr, &cb));
}

using WindowHelpersTest = COutlookTest;

TEST_F(WindowHelpersTest, TheExplorerGivesItsOneSelectedItemOnlyWithTheReadingPaneShown) {
  Sim::COutlook* pOutlook = Start();
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"First", nullptr));
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"Second", nullptr));
  IDispatch* pExplorer = pOutlook->Explorer();
  CComPtr<IDispatch> cpItem;
  BOOL bReadingPane = 7;

  pOutlook->Explorer()->m_bPreviewPane = false;
  ASSERT_EQ(S_OK, pOutlook->Select({2}));
  EXPECT_EQ(E_INVALIDARG, GetCurrentMailItem(pExplorer, &cpItem, &bReadingPane));
  EXPECT_EQ(7, bReadingPane);

  pOutlook->Explorer()->m_bPreviewPane = true;
  ASSERT_EQ(S_OK, pOutlook->Select({1, 2}));
  EXPECT_EQ(E_INVALIDARG, GetCurrentMailItem(pExplorer, &cpItem, &bReadingPane));
  EXPECT_EQ(TRUE, bReadingPane);

  ASSERT_EQ(S_OK, pOutlook->Select({2}));
  ASSERT_EQ(S_OK, GetCurrentMailItem(pExplorer, &cpItem, nullptr));
  EXPECT_EQ(L"Second", Subject(cpItem));
}

TEST_F(WindowHelpersTest, AnInspectorGivesItsItemAndItsWindow) {
  Sim::COutlook* pOutlook = Start();
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  CComPtr<IDispatch> cpItem;
  BOOL bReadingPane = 7;
  ASSERT_EQ(S_OK, GetCurrentMailItem(pInspector, &cpItem, &bReadingPane));
  EXPECT_EQ(FALSE, bReadingPane);
  EXPECT_EQ(pInspector->Window(), UnkToHWnd(pInspector));
  EXPECT_EQ(pInspector->Window(), GetMailItemWindow(cpItem));
  EXPECT_EQ(nullptr, UnkToHWnd(nullptr));
}

TEST_F(WindowHelpersTest, TheWordWindowIsFoundByItsCaptionWhichIsPutBack) {
  Sim::SOutlookOptions options;
  options.bWordMail = true;
  Sim::COutlook* pOutlook = Start(options);
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  wchar_t wszBefore[256] = {}, wszAfter[256] = {}, wszClass[64] = {};
  GetWindowTextW(pInspector->Window(), wszBefore, 256);

  // The foreground window is found first; behind the explorer, the window is searched for.
  for (bool bInFront : {true, false}) {
    (bInFront ? static_cast<Sim::CWindowObject*>(pInspector) : pOutlook->Explorer())->Activate();
    HWND hwnd = nullptr;
    ASSERT_EQ(S_OK, GetWordMailWindowHandle(pInspector, &hwnd));
    EXPECT_EQ(pInspector->Window(), hwnd);
  }
  GetWindowTextW(pInspector->Window(), wszAfter, 256);
  GetClassNameW(pInspector->Window(), wszClass, 64);
  EXPECT_STREQ(wszBefore, wszAfter);
  EXPECT_STREQ(L"OpusApp", wszClass);
  EXPECT_EQ(pInspector->Window(), UnkToHWnd(pInspector));

  HWND hwnd = nullptr;
  EXPECT_EQ(E_POINTER, GetWordMailWindowHandle(pInspector, nullptr));
  EXPECT_TRUE(FAILED(GetWordMailWindowHandle(pOutlook->Explorer(), &hwnd)));
}

TEST_F(WindowHelpersTest, TheActiveWindowObjectFollowsTheZOrder) {
  Sim::SOutlookOptions options;
  options.bWordMail = true;
  Sim::COutlook* pOutlook = Start(options);
  CComPtr<IDispatch> cpWindow;
  ASSERT_EQ(S_OK, GetApplicationActiveWindow(App(), &cpWindow));
  EXPECT_EQ(static_cast<IDispatch*>(pOutlook->Explorer()), cpWindow.Get());

  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  ASSERT_EQ(S_OK, GetApplicationActiveWindow(App(), &cpWindow));
  EXPECT_EQ(static_cast<IDispatch*>(pInspector), cpWindow.Get());
  EXPECT_EQ(pInspector->Window(), GetActiveWindowHandle(App()));

  pOutlook->Explorer()->Activate();
  ASSERT_EQ(S_OK, GetApplicationActiveWindow(App(), &cpWindow));
  EXPECT_EQ(static_cast<IDispatch*>(pOutlook->Explorer()), cpWindow.Get());
  EXPECT_EQ(pOutlook->Explorer()->Window(), GetActiveWindowHandle(App()));
}

class AddressBookTest : public COutlookTest {
 protected:
  std::wstring SafeSenders() {
    const MAPIUID uid = {{0x0A, 0x0D, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const Sim::PropMap& props = m_cpOutlook->Profile()->Section(uid)->m_props;
    auto it = props.find(0x0418);
    return it == props.end() ? L"" : Sim::PropText(it->second);
  }
};

TEST_F(AddressBookTest, TheServiceIsAddedAndConfiguredOnceAndRemoved) {
  Sim::COutlook* pOutlook = Start();
  DWORD dwAdded = 0;
  ASSERT_EQ(S_OK, RegisterAB(App(), TRUE, pOutlook->Explorer()->Window(), &dwAdded));
  EXPECT_EQ(1u, dwAdded);
  dwAdded = 0;
  ASSERT_EQ(S_OK, RegisterAB(App(), TRUE, nullptr, &dwAdded));
  EXPECT_EQ(0u, dwAdded);
  const auto& services = pOutlook->Profile()->m_services;
  ASSERT_EQ(1u, services.size());
  EXPECT_EQ("VMSRVC", services[0].sName);
  EXPECT_EQ(1u, services[0].ulConfigured);

  ASSERT_EQ(S_OK, RegisterAB(App(), FALSE, nullptr, nullptr));
  EXPECT_TRUE(pOutlook->Profile()->m_services.empty());
  EXPECT_EQ(S_OK, RegisterAB(App(), FALSE, nullptr, nullptr));
}

TEST_F(AddressBookTest, SafeSendersKeepTheirEntriesIgnoreCaseAndSurviveARestart) {
  Start();
  ASSERT_EQ(S_OK, AddToSafeSenders(App(), L"alice@example.com"));
  ASSERT_EQ(S_OK, AddToSafeSenders(App(), L"@ca.example"));
  ASSERT_EQ(S_OK, AddToSafeSenders(App(), L"ALICE@Example.com"));
  EXPECT_EQ(L"alice@example.com;@ca.example", SafeSenders());

  Start();
  EXPECT_EQ(L"alice@example.com;@ca.example", SafeSenders());
  ASSERT_EQ(S_OK, AddToSafeSenders(App(), L"bob@example.org"));
  EXPECT_EQ(L"alice@example.com;@ca.example;bob@example.org", SafeSenders());
  EXPECT_EQ(E_POINTER, AddToSafeSenders(App(), nullptr));
}


using MessageSecurityTest = COutlookTest;

ULONG SecurityProp(IMessage* pMessage, ULONG ulTag, std::vector<BYTE>* pValue) {
  const Sim::PropMap& props = Sim::MessageStore(pMessage).m_props;
  auto it = props.find(PROP_ID(ulTag));
  if (it == props.end() || it->second.ulTag != ulTag) return 0;
  *pValue = it->second.data;
  return 1;
}

// Sealing alone needs no certificate here: Outlook's engine encrypts; only the flags are written.
TEST_F(MessageSecurityTest, SealWithoutSignWritesOnlyTheFlags) {
  Sim::COutlook* pOutlook = Start();
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  IDispatch* pItem = pOutlook->MailItem(pInspector->Message());
  CComBSTR bsContainer;
  EXPECT_EQ(S_OK, SetMessageSecurity(pItem, FALSE, TRUE, &bsContainer));
  EXPECT_EQ(0u, bsContainer.Length());
  std::vector<BYTE> value;
  ASSERT_EQ(1u, SecurityProp(pInspector->Message(), kPrSecurityFlags, &value));
  ASSERT_GE(value.size(), sizeof(LONG));
  EXPECT_EQ(1, *reinterpret_cast<const LONG*>(value.data()));
  EXPECT_EQ(0u, SecurityProp(pInspector->Message(), kPrSecurityProfile, &value));
  EXPECT_EQ(E_POINTER, SetMessageSecurity(nullptr, TRUE, TRUE, &bsContainer));
}

// An account without an SMTP address (Exchange) has no own certificate to sign with; the message
// gets neither property, and the send would be cancelled.
TEST_F(MessageSecurityTest, SigningFromAnAccountWithoutAddressFindsNoCertificate) {
  Sim::SOutlookOptions options;
  options.accounts = {{L"", L"Exchange", L"Sim User", L""}};
  Sim::COutlook* pOutlook = Start(options);
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
            SetMessageSecurity(pOutlook->MailItem(pInspector->Message()), TRUE, FALSE, nullptr));
  std::vector<BYTE> value;
  EXPECT_EQ(0u, SecurityProp(pInspector->Message(), kPrSecurityFlags, &value));
  EXPECT_EQ(0u, SecurityProp(pInspector->Message(), kPrSecurityProfile, &value));
}

}  // namespace
