// Office commands run by their control id through the simulated Outlook's command bars.
#include "OutlookFixture.h"
#include "com/Bstr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "outlook/OutlookRestart.h"

namespace {

class OfficeCommandTest : public COutlookTest {
 protected:
  // The command bars of a new compose window in front.
  CComPtr<IDispatch> ComposeWindowCommandBars(const wchar_t* wszVersion) {
    Sim::SOutlookOptions options;
    options.wsVersion = wszVersion;
    options.onlyAddIns = {L"NoAddIn"};
    Sim::COutlook* pOutlook = Start(options);
    Sim::CInspector* pInspector = nullptr;
    EXPECT_EQ(S_OK, pOutlook->Compose(&pInspector));
    m_cpMessage = pInspector->Message();
    CComVariant varBars;
    EXPECT_EQ(S_OK, LateBound::GetProperty(static_cast<IDispatch*>(pInspector), L"CommandBars", &varBars));
    return varBars.vt == VT_DISPATCH ? varBars.pdispVal : nullptr;
  }
  bool Sent() {
    CComVariant varSent;
    LateBound::GetProperty(m_cpOutlook->MailItem(m_cpMessage), L"Sent", &varSent);
    return varSent.vt == VT_BOOL && varSent.boolVal;
  }
  CComPtr<IMessage> m_cpMessage;
};

TEST_F(OfficeCommandTest, SendItemSendsTheMessageInFront) {
  CComPtr<IDispatch> cpBars = ComposeWindowCommandBars(L"14.0.0.0");
  ASSERT_TRUE(cpBars);
  EXPECT_EQ(S_OK, ExecuteOfficeCommand(cpBars, CComBSTR(L"SendItem")));
  EXPECT_TRUE(Sent());
}

// The command's own failure is the result, raised as Office raises it; nothing is sent.
TEST_F(OfficeCommandTest, FailuresOfTheCommandAreReturned) {
  CComPtr<IDispatch> cpBars = ComposeWindowCommandBars(L"14.0.0.0");
  ASSERT_TRUE(cpBars);
  EXPECT_EQ(DISP_E_EXCEPTION, ExecuteOfficeCommand(cpBars, CComBSTR(L"NoSuchCommand")));
  EXPECT_EQ(E_POINTER, ExecuteOfficeCommand(nullptr, CComBSTR(L"SendItem")));
  EXPECT_FALSE(Sent());
}

// Outlook 2003 has no ExecuteMso.
TEST_F(OfficeCommandTest, OlderOutlookHasNoOfficeCommands) {
  CComPtr<IDispatch> cpBars = ComposeWindowCommandBars(L"11.0.0.0");
  ASSERT_TRUE(cpBars);
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, ExecuteOfficeCommand(cpBars, CComBSTR(L"SendItem")));
  EXPECT_FALSE(Sent());
}

// The error itself is in the exception information; a failure of the dispatch layer is not raised.
TEST_F(OfficeCommandTest, OutlookRaisesItsErrorsWithExceptionInformation) {
  CComPtr<IDispatch> cpBars = ComposeWindowCommandBars(L"14.0.0.0");
  ASSERT_TRUE(cpBars);
  LPOLESTR wszName = const_cast<LPOLESTR>(L"ExecuteMso");
  DISPID dispid = 0;
  ASSERT_EQ(S_OK, cpBars->GetIDsOfNames(IID_NULL, &wszName, 1, 0, &dispid));
  CComVariant varIdMso(L"NoSuchCommand");
  DISPPARAMS params = {&varIdMso, nullptr, 1, 0};
  EXCEPINFO excepInfo = {};
  EXPECT_EQ(DISP_E_EXCEPTION, cpBars->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &excepInfo, nullptr));
  EXPECT_EQ(E_INVALIDARG, excepInfo.scode);
  EXPECT_NE(nullptr, excepInfo.bstrDescription);
  SysFreeString(excepInfo.bstrSource);
  SysFreeString(excepInfo.bstrDescription);
  params.cArgs = 0;
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, cpBars->Invoke(0x7777, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
}

}  // namespace
