// The account lookups of the mail code against the simulated Outlook of each version: the
// object model's accounts from version 12, MAPI properties, the compose window's account
// menu and the account manager before that.
#include <mapiutil.h>

#include "OutlookFixture.h"
#include "com/Bstr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "mail/Accounts.h"

namespace {

// Outlook's common named-property set, where a message keeps its account stamp (0x8581).
const GUID kStampSet = {0x00062008, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class AccountsTest : public COutlookTest {
 protected:
  // A plain account; an Exchange one without SMTP address whose user has an address-book
  // address; one without any address but whose name is one; one whose name is not.
  Sim::COutlook* StartVersion(const wchar_t* wszVersion) {
    Sim::SOutlookOptions options;
    options.wsVersion = wszVersion;
    options.accounts = {{L"anna@example.com", L"Anna at home", L"Anna", L""},
                        {L"", L"Exchange", L"Anna Work", L"anna@corp.example"},
                        {L"", L"bob@example.org", L"Bob", L""},
                        {L"", L"Shared", L"Team", L"/o=Org/cn=team"}};
    return Start(options);
  }
  IDispatch* NewItem(Sim::CInspector** ppInspector = nullptr) {
    Sim::CInspector* pInspector = nullptr;
    EXPECT_EQ(S_OK, m_cpOutlook->Compose(&pInspector));
    if (ppInspector) *ppInspector = pInspector;
    return m_cpOutlook->MailItem(pInspector->Message());
  }
  // The address and name GetSendUsingAccount gives, "address|name", or its failure.
  std::wstring Sender(IDispatch* pItem) {
    CComBSTR bsAddress, bsName;
    const HRESULT hr = GetSendUsingAccount(pItem, &bsAddress, &bsName);
    if (FAILED(hr)) return Sim::HresultText(hr) + (bsAddress.Length() || bsName.Length() ? L" with text" : L"");
    return std::wstring(bsAddress.c_str()) + L"|" + bsName.c_str();
  }
  // Session.Accounts.Item(lIndex).
  CComVariant AccountObject(LONG lIndex) {
    CComVariant varSession, varAccounts, varAccount, varIndex(lIndex);
    EXPECT_EQ(S_OK, LateBound::GetProperty(App(), L"Session", &varSession));
    EXPECT_EQ(S_OK, LateBound::GetProperty(varSession.pdispVal, L"Accounts", &varAccounts));
    EXPECT_EQ(S_OK, LateBound::GetProperty(varAccounts.pdispVal, L"Item", &varAccount, {varIndex}));
    return varAccount;
  }
  void SetAccountObject(IDispatch* pItem, LONG lIndex) {
    ASSERT_EQ(S_OK, LateBound::PutProperty(pItem, L"SendUsingAccount", AccountObject(lIndex)));
  }
  std::wstring MessageText(IMessage* pMessage, ULONG ulTag) {
    const Sim::PropMap& props = Sim::MessageStore(pMessage).m_props;
    auto it = props.find(PROP_ID(ulTag));
    return it == props.end() ? L"" : Sim::PropText(it->second);
  }
};

TEST_F(AccountsTest, FromVersion12TheObjectModelNamesTheAccountAndItsAddressMustBeOne) {
  for (const wchar_t* wszVersion : {L"12.0.0.6423", L"14.0.0.7015"}) {
    SCOPED_TRACE(wszVersion);
    StartVersion(wszVersion);
    const bool b14 = wszVersion[1] == L'4';
    IDispatch* pItem = NewItem();
    EXPECT_EQ(L"anna@example.com|Anna", Sender(pItem));

    // An account without SMTP address: from 14 its user's address, else its name when that is one.
    SetAccountObject(pItem, 2);
    EXPECT_EQ(b14 ? L"anna@corp.example|Anna Work" : Sim::HresultText(HRESULT_FROM_WIN32(ERROR_NOT_FOUND)),
              Sender(pItem));
    SetAccountObject(pItem, 4);
    EXPECT_EQ(Sim::HresultText(HRESULT_FROM_WIN32(ERROR_NOT_FOUND)), Sender(pItem));

    ASSERT_EQ(S_OK, PutSendUsingAccount(pItem, L"BOB@example.org"));
    EXPECT_EQ(L"bob@example.org|Bob", Sender(pItem));
    EXPECT_EQ(b14 ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND), PutSendUsingAccount(pItem, L"anna@corp.example"));
    EXPECT_EQ(b14 ? L"anna@corp.example|Anna Work" : L"bob@example.org|Bob", Sender(pItem));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), PutSendUsingAccount(pItem, L"nobody@example.com"));
  }
}

TEST_F(AccountsTest, Outlook11FindsTheAccountByMenuStampOrSendStampThroughTheAccountManager) {
  Sim::COutlook* pOutlook = StartVersion(L"11.0.0.8312");
  const std::vector<Sim::SAccountRecord>& records = pOutlook->Accounts()->records;
  Sim::CInspector* pInspector = nullptr;
  IDispatch* pItem = NewItem(&pInspector);
  IMessage* pMessage = pInspector->Message();

  // Nothing on the message yet: the first entry of the compose window's account menu.
  EXPECT_EQ(L"anna@example.com|Anna", Sender(pItem));
  EXPECT_EQ(L"Outlook", pOutlook->Accounts()->log.wsIdentity);
  EXPECT_TRUE(pOutlook->Accounts()->log.bSession);

  // The account's stamp in the named property.
  MAPINAMEID name = {const_cast<GUID*>(&kStampSet), MNID_ID, {0x8581}};
  MAPINAMEID* pName = &name;
  SPropTagArray* pTags = nullptr;
  ASSERT_EQ(S_OK, pMessage->GetIDsFromNames(1, &pName, MAPI_CREATE, &pTags));
  SPropValue value = {};
  value.ulPropTag = PROP_TAG(PT_UNICODE, PROP_ID(pTags->aulPropTag[0]));
  value.Value.lpszW = const_cast<LPWSTR>(records[3].wsStamp.c_str());
  MAPIFreeBuffer(pTags);
  ASSERT_EQ(S_OK, pMessage->SetProps(1, &value, nullptr));
  EXPECT_EQ(L"/o=Org/cn=team|Team", Sender(pItem));

  // Putting writes the send stamp, which wins over the other two; the address may come from
  // the user's address-book entry.
  ASSERT_EQ(S_OK, PutSendUsingAccount(pItem, L"ANNA@corp.example"));
  EXPECT_EQ(records[1].wsSendStamp, MessageText(pMessage, 0x0E28001F));
  EXPECT_EQ(records[1].wsSendStamp, MessageText(pMessage, 0x0E29001F));
  EXPECT_EQ(L"anna@corp.example|Anna Work", Sender(pItem));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), PutSendUsingAccount(pItem, L"nobody@example.com"));
  EXPECT_EQ(records[1].wsSendStamp, MessageText(pMessage, 0x0E28001F));
  EXPECT_EQ(0, pOutlook->Accounts()->log.lLive);
}

TEST_F(AccountsTest, Outlook11WithWordTakesTheSecondWordOfTheEnvelopesCheckedEntry) {
  Sim::SOutlookOptions options;
  options.wsVersion = L"11.0.0.8312";
  options.bWordMail = true;
  options.accounts = {{L"office@example.com", L"Home office", L"Anna", L""},
                      {L"home@example.com", L"Home", L"Anna at home", L""}};
  Start(options);
  // The checked entry "1 Home office" names the account "Home".
  EXPECT_EQ(L"home@example.com|Anna at home", Sender(NewItem()));
}

TEST_F(AccountsTest, ASentItemsAccountIsNeitherReadNorChanged) {
  for (const wchar_t* wszVersion : {L"11.0.0.8312", L"14.0.0.7015"}) {
    SCOPED_TRACE(wszVersion);
    Sim::COutlook* pOutlook = StartVersion(wszVersion);
    Sim::CInspector* pInspector = nullptr;
    CComPtr<IDispatch> cpItem = NewItem(&pInspector);
    CComPtr<IMessage> cpMessage = pInspector->Message();
    ASSERT_EQ(S_OK, pOutlook->SendItem(cpMessage));

    EXPECT_EQ(E_INVALIDARG, PutSendUsingAccount(cpItem, L"bob@example.org"));
    EXPECT_EQ(Sim::HresultText(E_INVALIDARG), Sender(cpItem));
    EXPECT_EQ(L"", MessageText(cpMessage, 0x0E28001F));
    EXPECT_EQ(E_POINTER, PutSendUsingAccount(nullptr, L"bob@example.org"));
    EXPECT_EQ(E_POINTER, GetSendUsingAccount(nullptr, nullptr, nullptr));
    if (pOutlook->MajorVersion() < 12) continue;

    // Outlook itself refuses to change it and keeps the account it was sent from.
    CComVariant varBefore, varAfter;
    ASSERT_EQ(S_OK, LateBound::GetProperty(cpItem, L"SendUsingAccount", &varBefore));
    EXPECT_EQ(DISP_E_EXCEPTION, LateBound::PutProperty(cpItem, L"SendUsingAccount", AccountObject(3)));
    ASSERT_EQ(S_OK, LateBound::GetProperty(cpItem, L"SendUsingAccount", &varAfter));
    EXPECT_EQ(varBefore.pdispVal, varAfter.pdispVal);
  }
}

TEST_F(AccountsTest, TheReceivingAddressAndNameComeFromTheReceivedByEntry) {
  Sim::COutlook* pOutlook = StartVersion(L"14.0.0.7015");
  CComPtr<IMessage> cpHome, cpWork;
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"Home", &cpHome, 0));
  ASSERT_EQ(S_OK, pOutlook->AddReceived(L"Work", &cpWork, 1));

  CComBSTR bsAddress, bsName;
  ASSERT_EQ(S_OK, GetReceivedBy(pOutlook->MailItem(cpHome), &bsAddress, &bsName));
  EXPECT_STREQ(L"anna@example.com", bsAddress.c_str());
  EXPECT_STREQ(L"Anna", bsName.c_str());
  ASSERT_EQ(S_OK, GetReceivedBy(pOutlook->MailItem(cpWork), &bsAddress, nullptr));
  EXPECT_STREQ(L"anna@corp.example", bsAddress.c_str());

  // A message nobody received, such as a new one, has no receiving address.
  EXPECT_TRUE(FAILED(GetReceivedBy(NewItem(), &bsAddress, &bsName)));
  EXPECT_EQ(nullptr, static_cast<BSTR>(bsAddress));
}

TEST_F(AccountsTest, AContactsAddressIsThatOfTheEntryItNames) {
  Sim::COutlook* pOutlook = StartVersion(L"12.0.0.6423");
  CComVariant varSession;
  CComPtr<IMAPISession> cpSession;
  ASSERT_EQ(S_OK, LateBound::GetProperty(pOutlook->NameSpace(), L"MAPIOBJECT", &varSession));
  ASSERT_EQ(S_OK, varSession.punkVal->QueryInterface(IID_IMAPISession, reinterpret_cast<void**>(&cpSession)));
  CComPtr<IMessage> cpContact;
  ASSERT_EQ(S_OK, Sim::CreateMessage(&cpContact));
  CComBSTR bsAddress;
  EXPECT_TRUE(FAILED(GetContactAddress(cpContact, cpSession, &bsAddress)));

  for (size_t i : {0u, 3u}) {
    const std::vector<BYTE>& entryId = pOutlook->Accounts()->records[i].identityId;
    SPropValue value = {};
    value.ulPropTag = 0x81B30102;
    value.Value.bin.cb = static_cast<ULONG>(entryId.size());
    value.Value.bin.lpb = const_cast<BYTE*>(entryId.data());
    ASSERT_EQ(S_OK, cpContact->SetProps(1, &value, nullptr));
    ASSERT_EQ(S_OK, GetContactAddress(cpContact, cpSession, &bsAddress));
    EXPECT_STREQ(i ? L"/o=Org/cn=team" : L"anna@example.com", bsAddress.c_str());
  }
}

TEST_F(AccountsTest, TheHelperHandsOutTheProfileNameAndTheSession) {
  StartVersion(L"11.0.0.8312");
  CComPtr<Olk::IOlkAccountHelper> cpHelper(new COlkAccountHelper(App()));
  wchar_t wsz[16] = {};
  DWORD cch = 7;  // "Outlook" needs 8 with its terminator
  EXPECT_EQ(E_OUTOFMEMORY, cpHelper->GetIdentity(wsz, &cch));
  EXPECT_EQ(8u, cch);
  EXPECT_EQ(S_OK, cpHelper->GetIdentity(wsz, &cch));
  EXPECT_EQ(7u, cch);
  EXPECT_STREQ(L"Outlook", wsz);
  EXPECT_EQ(E_INVALIDARG, cpHelper->GetIdentity(wsz, nullptr));

  CComPtr<IUnknown> cpSession, cpOther;
  ASSERT_EQ(S_OK, cpHelper->GetMapiSession(&cpSession));
  EXPECT_EQ(S_OK, cpSession.QueryInterface(IID_IMAPISession, &cpOther));
  EXPECT_EQ(E_NOINTERFACE, cpHelper->QueryInterface(Olk::IID_IOlkAccount, reinterpret_cast<void**>(&cpOther)));
}

}  // namespace
