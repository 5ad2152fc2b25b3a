// The simulator's object model and MAPI beyond what add-ins see at start-up: recipients,
// accounts and properties written through streams.
#include <mapiutil.h>

#include "OutlookFixture.h"
#include "com/LateBound.h"

namespace {

using SimObjectModelTest = COutlookTest;

VARIANT Text(const wchar_t* wsz) {
  VARIANT var;
  var.vt = VT_BSTR;
  var.bstrVal = SysAllocString(wsz);
  return var;
}

std::wstring TextOf(IDispatch* pDisp, const wchar_t* wszName) {
  VARIANT var;
  VariantInit(&var);
  EXPECT_EQ(S_OK, LateBound::GetProperty(pDisp, wszName, &var));
  std::wstring ws = var.vt == VT_BSTR && var.bstrVal ? var.bstrVal : L"";
  VariantClear(&var);
  return ws;
}

TEST_F(SimObjectModelTest, RecipientsReachTheRecipientTableAndTheAccountToSendWithIsKept) {
  Sim::COutlook* pOutlook = Start();
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  IDispatch* pItem = pOutlook->MailItem(pInspector->Message());

  VARIANT varRecipients, varRecipient, varBob = Text(L"bob@example.com"), varCarol = Text(L"carol@example.com");
  ASSERT_EQ(S_OK, LateBound::GetProperty(pItem, L"Recipients", &varRecipients));
  ASSERT_EQ(S_OK, LateBound::Call(varRecipients.pdispVal, L"Add", {varBob}, &varRecipient));
  EXPECT_EQ(L"bob@example.com", TextOf(varRecipient.pdispVal, L"Address"));
  ASSERT_EQ(S_OK, LateBound::Call(varRecipients.pdispVal, L"Add", {varCarol}));
  EXPECT_EQ(L"bob@example.com; carol@example.com", TextOf(pItem, L"To"));
  CComPtr<IMAPITable> cpTable;
  ULONG cRows = 0;
  ASSERT_EQ(S_OK, pInspector->Message()->GetRecipientTable(0, &cpTable));
  ASSERT_EQ(S_OK, cpTable->GetRowCount(0, &cRows));
  EXPECT_EQ(2u, cRows);

  ASSERT_EQ(S_OK, LateBound::PutProperty(pItem, L"BCC", varCarol));
  EXPECT_EQ(L"carol@example.com", TextOf(pItem, L"BCC"));

  VARIANT varSession, varAccounts, varAccount, varKept, varOne = {};
  varOne.vt = VT_I4;
  varOne.lVal = 1;
  ASSERT_EQ(S_OK, LateBound::GetProperty(App(), L"Session", &varSession));
  ASSERT_EQ(S_OK, LateBound::GetProperty(varSession.pdispVal, L"Accounts", &varAccounts));
  ASSERT_EQ(S_OK, LateBound::GetProperty(varAccounts.pdispVal, L"Item", &varAccount, {varOne}));
  EXPECT_EQ(L"user@example.com", TextOf(varAccount.pdispVal, L"SmtpAddress"));
  ASSERT_EQ(S_OK, LateBound::PutProperty(pItem, L"SendUsingAccount", varAccount));
  ASSERT_EQ(S_OK, LateBound::GetProperty(pItem, L"SendUsingAccount", &varKept));
  EXPECT_EQ(varAccount.pdispVal, varKept.pdispVal);
  for (VARIANT* pVar :
       {&varRecipients, &varRecipient, &varBob, &varCarol, &varSession, &varAccounts, &varAccount, &varKept}) {
    VariantClear(pVar);
  }
}

TEST_F(SimObjectModelTest, APropertyWrittenThroughItsStreamIsKeptOnCommit) {
  CComPtr<IMessage> cpMessage;
  ASSERT_EQ(S_OK, Sim::CreateMessage(&cpMessage));
  const char szText[] = "first";
  CComPtr<IStream> cpStream;
  ASSERT_EQ(S_OK, cpMessage->OpenProperty(PR_BODY_A, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                          reinterpret_cast<IUnknown**>(&cpStream)));
  ASSERT_EQ(S_OK, cpStream->Write(szText, sizeof szText, nullptr));
  EXPECT_EQ(MAPI_E_NOT_FOUND,
            cpMessage->OpenProperty(PR_BODY_A, &IID_IStream, 0, 0, reinterpret_cast<IUnknown**>(&cpStream)));
  ASSERT_EQ(S_OK, cpMessage->OpenProperty(PR_BODY_A, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                          reinterpret_cast<IUnknown**>(&cpStream)));
  ASSERT_EQ(S_OK, cpStream->Write(szText, sizeof szText, nullptr));
  ASSERT_EQ(S_OK, cpStream->Commit(STGC_DEFAULT));

  // Opened for modification, the stream starts with the value; read-only, it shows it.
  ASSERT_EQ(S_OK,
            cpMessage->OpenProperty(PR_BODY_A, &IID_IStream, 0, MAPI_MODIFY, reinterpret_cast<IUnknown**>(&cpStream)));
  char szRead[sizeof szText] = {};
  ULONG cbRead = 0;
  ASSERT_EQ(S_OK, cpStream->Read(szRead, sizeof szRead, &cbRead));
  EXPECT_STREQ(szText, szRead);
  const std::vector<BYTE>& value = Sim::MessageStore(cpMessage).m_props.at(PROP_ID(PR_BODY_A)).data;
  EXPECT_EQ(std::string(szText, sizeof szText), std::string(value.begin(), value.end()));
}

}  // namespace
