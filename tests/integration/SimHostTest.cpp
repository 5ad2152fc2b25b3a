// The simulator loads and drives add-ins as Outlook does: registry, ProgID,
// IDTExtensibility2 in order, COMAddIns, ribbon XML and callbacks by name.
#include <algorithm>
#include <sstream>
#include <vector>

#include "OutlookFixture.h"
#include "com/LateBound.h"
#include "hosts/Outlook.h"

namespace {

constexpr wchar_t kProgId[] = L"OfficeSim.TestAddIn";

class SimHostTest : public COutlookTest {
 protected:
  void SetUp() override {
    COutlookTest::SetUp();
    // The test add-in is built next to the simulator, beside this program's folder.
    wchar_t wszPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
    std::wstring wsDll(wszPath);
    wsDll = wsDll.substr(0, wsDll.find_last_of(L'\\')) + L"\\..\\sim\\SimTestAddIn.dll";
    m_hAddIn = LoadLibraryW(wsDll.c_str());
    ASSERT_NE(nullptr, m_hAddIn);
    ASSERT_EQ(S_OK, CallExport("DllRegisterServer"));
  }
  void TearDown() override {
    Stop();
    if (m_hAddIn) {
      CallExport("DllUnregisterServer");
      FreeLibrary(m_hAddIn);
    }
    COutlookTest::TearDown();
  }

  HRESULT CallExport(const char* szName) {
    using PFN = HRESULT(WINAPI*)();
    auto pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(m_hAddIn, szName)));
    return pfn ? pfn() : E_FAIL;
  }

  // What the add-in recorded, one call a line, read through the object it published.
  std::vector<std::wstring> AddInCalls() {
    VARIANT varAddIns, varAddIn, varObject, varLog;
    EXPECT_EQ(S_OK, LateBound::GetProperty(App(), L"COMAddIns", &varAddIns));
    VARIANT varKey;
    varKey.vt = VT_BSTR;
    varKey.bstrVal = SysAllocString(kProgId);
    EXPECT_EQ(S_OK, LateBound::GetProperty(varAddIns.pdispVal, L"Item", &varAddIn, {varKey}));
    EXPECT_EQ(S_OK, LateBound::GetProperty(varAddIn.pdispVal, L"Object", &varObject));
    EXPECT_EQ(VT_DISPATCH, varObject.vt);
    EXPECT_EQ(S_OK, LateBound::GetProperty(varObject.pdispVal, L"CallLog", &varLog));
    std::vector<std::wstring> calls;
    std::wstringstream stream(varLog.bstrVal ? varLog.bstrVal : L"");
    for (std::wstring wsLine; std::getline(stream, wsLine);) calls.push_back(wsLine);
    for (VARIANT* pVar : {&varAddIns, &varAddIn, &varObject, &varLog, &varKey}) VariantClear(pVar);
    return calls;
  }

  HMODULE m_hAddIn = nullptr;
};

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& ws) {
  return std::find(lines.begin(), lines.end(), ws) != lines.end();
}

TEST_F(SimHostTest, ConnectsTheAddInInOfficeOrderRaisesEventsAndAsksForEachRibbonOnce) {
  Sim::COutlook* pOutlook = Start();
  Sim::CInspector* pFirst = nullptr;
  Sim::CInspector* pSecond = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pFirst));
  ASSERT_EQ(S_OK, pOutlook->Compose(&pSecond));

  const std::vector<std::wstring> expected = {
      L"OnConnection mode=1 version=14.0.0.7015 progid=OfficeSim.TestAddIn",
      L"GetCustomUI Microsoft.Outlook.Explorer",
      L"OnLoad",
      L"OnAddInsUpdate",
      L"OnStartupComplete",
      L"Event Application.Startup",
      L"Event Inspectors.NewInspector",
      L"GetCustomUI Microsoft.Outlook.Mail.Compose",
      L"OnLoad",
      L"GetLabel TestSend tag=send",
      L"GetVisible TestSign",
      L"Event Explorer.Deactivate",
      L"Event Inspector.Activate",
      L"Event Inspectors.NewInspector",
      L"GetLabel TestSend tag=send",
      L"GetVisible TestSign",
      L"Event Inspector.Deactivate",
      L"Event Inspector.Activate",
  };
  EXPECT_EQ(expected, AddInCalls());

  ASSERT_EQ(S_OK, pOutlook->Quit());
  const std::vector<std::wstring>& log = pOutlook->m_log;
  auto itBegin = std::find(log.begin(), log.end(), L"OnBeginShutdown OfficeSim.TestAddIn 0x00000000");
  auto itDisconnect = std::find(log.begin(), log.end(), L"OnDisconnection OfficeSim.TestAddIn 0x00000000");
  EXPECT_TRUE(itBegin < itDisconnect && itDisconnect != log.end());
}

TEST_F(SimHostTest, TheWindowLeavingTheFrontIsDeactivatedAndNewMainWindowsAreAnnounced) {
  Sim::COutlook* pOutlook = Start();
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));
  const size_t cBefore = AddInCalls().size();

  VARIANT varExplorers, varExplorer, varFolder = {}, varMode = {};
  varFolder.vt = VT_ERROR;
  varFolder.scode = DISP_E_PARAMNOTFOUND;
  varMode.vt = VT_I4;
  ASSERT_EQ(S_OK, LateBound::GetProperty(App(), L"Explorers", &varExplorers));
  ASSERT_EQ(S_OK, LateBound::Call(varExplorers.pdispVal, L"Add", {varFolder, varMode}, &varExplorer));
  EXPECT_EQ(static_cast<IDispatch*>(pInspector), pOutlook->TopWindowObject());
  ASSERT_EQ(S_OK, LateBound::Call(varExplorer.pdispVal, L"Display"));
  pOutlook->Explorer()->Activate();
  pInspector->Activate();
  ASSERT_EQ(S_OK, pOutlook->CloseInspector(pInspector, Outlook::olDiscard));

  // The add-in advises each new explorer from NewExplorer; the closing window goes last.
  const std::vector<std::wstring> calls = AddInCalls();
  const std::vector<std::wstring> expected = {L"Event Explorers.NewExplorer", L"Event Inspector.Deactivate",
                                              L"Event Explorer.Activate",     L"Event Explorer.Deactivate",
                                              L"Event Explorer.Activate",     L"Event Explorer.Deactivate",
                                              L"Event Inspector.Activate",    L"Event Item.Close",
                                              L"Event Inspector.Deactivate",  L"Event Inspector.Close"};
  EXPECT_EQ(expected, std::vector<std::wstring>(calls.begin() + static_cast<ptrdiff_t>(cBefore), calls.end()));
  VariantClear(&varExplorers);
  VariantClear(&varExplorer);
}

TEST_F(SimHostTest, OlderOutlookHasNoMainWindowRibbon) {
  Sim::SOutlookOptions options;
  options.wsVersion = L"12.0.0.6423";
  Start(options);
  const std::vector<std::wstring> calls = AddInCalls();
  EXPECT_FALSE(Contains(calls, L"GetCustomUI Microsoft.Outlook.Explorer"));
  EXPECT_TRUE(Contains(calls, L"OnConnection mode=1 version=12.0.0.6423 progid=OfficeSim.TestAddIn"));
}

TEST_F(SimHostTest, RibbonCallbacksReceiveTheControlAndItsWindow) {
  Sim::COutlook* pOutlook = Start();
  Sim::CInspector* pInspector = nullptr;
  ASSERT_EQ(S_OK, pOutlook->Compose(&pInspector));

  Sim::SControlState state;
  ASSERT_EQ(S_OK, pOutlook->ControlState(pInspector, L"TestSend", &state));
  EXPECT_EQ(L"Label of TestSend", state.wsLabel);
  ASSERT_EQ(S_OK, pOutlook->ControlState(pInspector, L"TestSign", &state));
  EXPECT_EQ(L"Sign & seal", state.wsLabel);
  EXPECT_TRUE(state.bVisible);

  ASSERT_EQ(S_OK, pOutlook->Click(pInspector, L"TestSend"));
  ASSERT_EQ(S_OK, pOutlook->Click(pInspector, L"TestSign"));
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, pOutlook->Click(pInspector, L"NoSuchControl"));
  ASSERT_EQ(S_OK, pOutlook->Click(pOutlook->Explorer(), L"TestInvite"));

  const std::vector<std::wstring> calls = AddInCalls();
  EXPECT_TRUE(Contains(calls, L"OnAction TestSend args=1 context=Untitled - Message"));
  EXPECT_TRUE(Contains(calls, L"OnAction TestSign args=2 context=Untitled - Message"));
  EXPECT_TRUE(Contains(calls, L"OnAction TestInvite args=1 context=Inbox - Outlook"));
  EXPECT_TRUE(Contains(pOutlook->m_log, L"InvalidateControl OfficeSim.TestAddIn TestSend"));
}

TEST_F(SimHostTest, AnAddInThatIsNotSetToLoadIsLeftAlone) {
  DWORD dwBehavior = 2;
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                                           L"Software\\Microsoft\\Office\\Outlook\\Addins\\"
                                           L"OfficeSim.TestAddIn",
                                           L"LoadBehavior", REG_DWORD, &dwBehavior, sizeof dwBehavior));
  Sim::COutlook* pOutlook = Start();
  EXPECT_EQ(nullptr, pOutlook->FindAddIn(kProgId));
}

}  // namespace
