// An Outlook add-in for the simulator's own tests: it records every call its host makes and
// every event it hears, publishes itself in COMAddIns and offers a ribbon for the main and the
// compose window. It keeps back any message whose subject holds "[hold]".
#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "AddInServer.h"
#include "SimDispatch.h"
#include "hosts/OfficeAddIn.h"
#include "hosts/Outlook.h"

namespace {

// {D83C2EB9-3B96-4347-B134-226D3B33388D}
constexpr CLSID kClsid = {0xD83C2EB9, 0x3B96, 0x4347, {0xB1, 0x34, 0x22, 0x6D, 0x3B, 0x33, 0x38, 0x8D}};
constexpr wchar_t kClsidText[] = L"{D83C2EB9-3B96-4347-B134-226D3B33388D}";
constexpr wchar_t kProgId[] = L"OfficeSim.TestAddIn";

// The add-in's own members, called by name; IDTExtensibility2 has ids 1 to 5.
enum : DISPID { kOnLoad = 1001, kGetLabel, kGetVisible, kOnAction, kCallLog };

constexpr wchar_t kComposeXml[] =
    L"<?xml version=\"1.0\"?><customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\" "
    L"onLoad=\"OnLoad\"><ribbon><tabs><tab idMso=\"TabNewMailMessage\"><group id=\"TestGroup\" label=\"Test\">"
    L"<button id=\"TestSend\" tag=\"send\" getLabel=\"GetLabel\" onAction=\"OnAction\"/>"
    L"<toggleButton id=\"TestSign\" label=\"Sign &amp; seal\" getVisible=\"GetVisible\" onAction=\"OnAction\"/>"
    L"</group></tab></tabs></ribbon></customUI>";
constexpr wchar_t kExplorerXml[] =
    L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\" onLoad=\"OnLoad\"><ribbon><tabs>"
    L"<tab idMso=\"TabMail\"><group id=\"TestMain\"><button id=\"TestInvite\" label=\"Invite\" "
    L"onAction=\"OnAction\"/><button id=\"TestAsk\" label=\"Ask\" onAction=\"OnAction\"/>"
    L"<button id=\"TestQuit\" label=\"Quit\" onAction=\"OnAction\"/></group></tab></tabs></ribbon></customUI>";

// The events the add-in names in its record, by outgoing interface.
struct SEventName {
  const IID* pIid;
  DISPID dispid;
  const wchar_t* wszName;
};
const SEventName kEventNames[] = {
    {&Outlook::DIID_ApplicationEvents_11, Outlook::DISPID_ItemSend, L"Application.ItemSend"},
    {&Outlook::DIID_ApplicationEvents_11, Outlook::DISPID_Startup, L"Application.Startup"},
    {&Outlook::DIID_ApplicationEvents_11, Outlook::DISPID_Quit, L"Application.Quit"},
    {&Outlook::DIID_ExplorersEvents, Outlook::DISPID_NewExplorer, L"Explorers.NewExplorer"},
    {&Outlook::DIID_InspectorsEvents, Outlook::DISPID_NewInspector, L"Inspectors.NewInspector"},
    {&Outlook::DIID_ExplorerEvents_10, Outlook::DISPID_WindowActivate, L"Explorer.Activate"},
    {&Outlook::DIID_ExplorerEvents_10, Outlook::DISPID_WindowDeactivate, L"Explorer.Deactivate"},
    {&Outlook::DIID_ExplorerEvents_10, Outlook::DISPID_SelectionChange, L"Explorer.SelectionChange"},
    {&Outlook::DIID_ExplorerEvents_10, Outlook::DISPID_WindowClose, L"Explorer.Close"},
    {&Outlook::DIID_InspectorEvents_10, Outlook::DISPID_WindowActivate, L"Inspector.Activate"},
    {&Outlook::DIID_InspectorEvents_10, Outlook::DISPID_WindowDeactivate, L"Inspector.Deactivate"},
    {&Outlook::DIID_InspectorEvents_10, Outlook::DISPID_WindowClose, L"Inspector.Close"},
    {&Outlook::DIID_ItemEvents_10, Outlook::DISPID_ItemOpen, L"Item.Open"},
    {&Outlook::DIID_ItemEvents_10, Outlook::DISPID_ItemSendEvent, L"Item.Send"},
    {&Outlook::DIID_ItemEvents_10, Outlook::DISPID_ItemClose, L"Item.Close"},
    {&Office::DIID__CommandBarButtonEvents, 1, L"CommandBarButton.Click"},
};

const wchar_t* EventName(const IID& iid, DISPID dispid) {
  for (const SEventName& name : kEventNames) {
    if (IsEqualIID(*name.pIid, iid) && name.dispid == dispid) return name.wszName;
  }
  return nullptr;
}

std::wstring Text(BSTR bs) { return bs ? std::wstring(bs, SysStringLen(bs)) : std::wstring(); }

// A member called by name; arguments in natural order, passed last to first.
HRESULT GetValue(IDispatch* pDisp, const wchar_t* wszName, VARIANT* pVar, WORD wFlags = DISPATCH_PROPERTYGET,
                 std::vector<VARIANT> args = {}) {
  LPOLESTR wszMember = const_cast<LPOLESTR>(wszName);
  DISPID dispid = DISPID_UNKNOWN;
  HRESULT hr = pDisp->GetIDsOfNames(IID_NULL, &wszMember, 1, LOCALE_USER_DEFAULT, &dispid);
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  VariantInit(pVar);
  return SUCCEEDED(hr) ? pDisp->Invoke(dispid, IID_NULL, 0, wFlags, &params, pVar, nullptr, nullptr) : hr;
}

HRESULT GetText(IDispatch* pDisp, const wchar_t* wszName, std::wstring* pws) {
  VARIANT var;
  HRESULT hr = GetValue(pDisp, wszName, &var);
  if (SUCCEEDED(hr)) hr = VariantChangeType(&var, &var, 0, VT_BSTR);
  if (SUCCEEDED(hr)) *pws = Text(var.bstrVal);
  VariantClear(&var);
  return hr;
}

class CTestAddIn;

// One advised event interface: every call is handed to the add-in.
class CSink final : public Sim::CDispatch {
 public:
  CSink(CTestAddIn* pOwner, const IID& iid);
  ~CSink() override;
  STDMETHOD(Invoke)(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*, UINT*) override;

 private:
  CTestAddIn* m_pOwner;
  IID m_iid;
};

class CTestAddIn final : public Sim::CDispatchImpl<Office::IDTExtensibility2> {
 public:
  CTestAddIn() : CDispatchImpl({Office::IID_IDTExtensibility2}), m_ribbon(this) {
    InterlockedIncrement(&Sim::g_lAddInObjects);
    for (const auto& [wszName, dispid] : {std::pair{L"OnLoad", kOnLoad}, std::pair{L"GetLabel", kGetLabel},
                                          std::pair{L"GetVisible", kGetVisible}, std::pair{L"OnAction", kOnAction}}) {
      AddMember(wszName, dispid, [this, dispid = dispid](Sim::SCall& call) { return RibbonCall(dispid, call); });
    }
    AddMember(L"CallLog", kCallLog, [this](Sim::SCall& call) { return Sim::SetBstr(call.pResult, m_wsLog); });
  }
  ~CTestAddIn() override {
    if (m_pRibbonUI) m_pRibbonUI->Release();
    InterlockedDecrement(&Sim::g_lAddInObjects);
  }

  HRESULT OnEvent(const IID& iid, DISPID dispid, DISPPARAMS* pParams) {
    const wchar_t* wszName = EventName(iid, dispid);
    if (!wszName) return S_OK;
    std::wstring wsRecord = std::wstring(L"Event ") + wszName;
    const UINT cArgs = pParams ? pParams->cArgs : 0;
    // Arguments arrive last to first.
    VARIANT* pFirst = cArgs ? &pParams->rgvarg[cArgs - 1] : nullptr;
    IDispatch* pObject = pFirst && pFirst->vt == VT_DISPATCH ? pFirst->pdispVal : nullptr;
    if (dispid == Outlook::DISPID_Startup && IsEqualIID(iid, Outlook::DIID_ApplicationEvents_11)) {
      VARIANT varExplorer;
      if (SUCCEEDED(GetValue(m_pApplication, L"ActiveExplorer", &varExplorer, DISPATCH_METHOD)) &&
          varExplorer.vt == VT_DISPATCH) {
        Advise(varExplorer.pdispVal, Outlook::DIID_ExplorerEvents_10);
      }
      VariantClear(&varExplorer);
    } else if (pObject && IsEqualIID(iid, Outlook::DIID_InspectorsEvents)) {
      Advise(pObject, Outlook::DIID_InspectorEvents_10);
      VARIANT varItem;
      if (SUCCEEDED(GetValue(pObject, L"CurrentItem", &varItem)) && varItem.vt == VT_DISPATCH) {
        Advise(varItem.pdispVal, Outlook::DIID_ItemEvents_10);
      }
      VariantClear(&varItem);
    } else if (pObject && IsEqualIID(iid, Outlook::DIID_ExplorersEvents)) {
      Advise(pObject, Outlook::DIID_ExplorerEvents_10);
    } else if (pObject && dispid == Outlook::DISPID_ItemSend && cArgs == 2 &&
               pParams->rgvarg[0].vt == (VT_BOOL | VT_BYREF)) {
      std::wstring wsSubject;
      GetText(pObject, L"Subject", &wsSubject);
      const bool bHold = wsSubject.find(L"[hold]") != std::wstring::npos;
      if (bHold) *pParams->rgvarg[0].pboolVal = VARIANT_TRUE;
      VARIANT varClass;
      const bool bClass = SUCCEEDED(GetValue(pObject, L"Class", &varClass)) && varClass.vt == VT_I4;
      wsRecord += L" subject=" + wsSubject + L" cancel=" + (bHold ? L"1" : L"0") + L" class=" +
                  (bClass ? std::to_wstring(varClass.lVal) : L"?");
      VariantClear(&varClass);
    }
    return Record(wsRecord);
  }

  STDMETHOD(OnConnection)
  (IDispatch* pApplication, Office::ext_ConnectMode mode, IDispatch* pAddInInst, SAFEARRAY**) override {
    if (!pApplication || !pAddInInst) return E_POINTER;
    std::wstring wsVersion, wsProgId;
    GetText(pApplication, L"Version", &wsVersion);
    GetText(pAddInInst, L"ProgId", &wsProgId);
    Record(L"OnConnection mode=" + std::to_wstring(mode) + L" version=" + wsVersion + L" progid=" + wsProgId);
    m_pApplication = pApplication;
    m_pApplication->AddRef();
    Advise(pApplication, Outlook::DIID_ApplicationEvents_11);
    for (const wchar_t* wszList : {L"Explorers", L"Inspectors"}) {
      VARIANT varList;
      if (SUCCEEDED(GetValue(pApplication, wszList, &varList)) && varList.vt == VT_DISPATCH) {
        Advise(varList.pdispVal, *wszList == L'E' ? Outlook::DIID_ExplorersEvents : Outlook::DIID_InspectorsEvents);
      }
      VariantClear(&varList);
    }
    // Publish this object, as the module does, so that other programs can reach it.
    LPOLESTR wszObject = const_cast<LPOLESTR>(L"Object");
    DISPID dispid = DISPID_UNKNOWN, dispidPut = DISPID_PROPERTYPUT;
    HRESULT hr = pAddInInst->GetIDsOfNames(IID_NULL, &wszObject, 1, LOCALE_USER_DEFAULT, &dispid);
    VARIANT var;
    var.vt = VT_DISPATCH;
    var.pdispVal = static_cast<Office::IDTExtensibility2*>(this);
    DISPPARAMS params = {&var, &dispidPut, 1, 1};
    if (SUCCEEDED(hr)) {
      hr = pAddInInst->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYPUTREF, &params, nullptr, nullptr, nullptr);
    }
    return hr;
  }
  STDMETHOD(OnDisconnection)(Office::ext_DisconnectMode mode, SAFEARRAY**) override {
    Record(L"OnDisconnection mode=" + std::to_wstring(mode));
    if (m_pApplication) m_pApplication->Release();
    m_pApplication = nullptr;
    return S_OK;
  }
  STDMETHOD(OnAddInsUpdate)(SAFEARRAY**) override { return Record(L"OnAddInsUpdate"); }
  STDMETHOD(OnStartupComplete)(SAFEARRAY**) override {
    Record(L"OnStartupComplete");
    AddButton();
    return S_OK;
  }
  STDMETHOD(OnBeginShutdown)(SAFEARRAY**) override {
    // Every sink goes before shut-down, so that no object keeps this add-in alive.
    for (const SConnection& connection : m_connections) {
      connection.pPoint->Unadvise(connection.dwCookie);
      connection.pPoint->Release();
    }
    m_connections.clear();
    return Record(L"OnBeginShutdown");
  }

  HRESULT GetCustomUI(BSTR bsRibbonId, BSTR* pbsXml) {
    if (!pbsXml) return E_POINTER;
    const std::wstring wsId = Text(bsRibbonId);
    Record(L"GetCustomUI " + wsId);
    const wchar_t* wszXml = wsId == L"Microsoft.Outlook.Mail.Compose" ? kComposeXml
                            : wsId == L"Microsoft.Outlook.Explorer"   ? kExplorerXml
                                                                      : nullptr;
    *pbsXml = wszXml ? SysAllocString(wszXml) : nullptr;
    return S_OK;
  }

 protected:
  void* FindInterface(REFIID riid) override {
    if (IsEqualIID(riid, Office::IID_IRibbonExtensibility))
      return static_cast<Office::IRibbonExtensibility*>(&m_ribbon);
    return CDispatchImpl::FindInterface(riid);
  }

 private:
  // IRibbonExtensibility on an object of its own that answers for the add-in.
  class CRibbonExtensibility final : public Office::IRibbonExtensibility {
   public:
    explicit CRibbonExtensibility(CTestAddIn* pOwner) : m_pOwner(pOwner) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return m_pOwner->QueryInterface(riid, ppv); }
    STDMETHOD_(ULONG, AddRef)() override { return m_pOwner->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return m_pOwner->Release(); }
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override { return m_pOwner->GetTypeInfoCount(pctinfo); }
    STDMETHOD(GetTypeInfo)(UINT iInfo, LCID lcid, ITypeInfo** ppInfo) override {
      return m_pOwner->GetTypeInfo(iInfo, lcid, ppInfo);
    }
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override {
      return m_pOwner->GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId);
    }
    STDMETHOD(Invoke)
    (DISPID dispid, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO* pExcep,
     UINT* puArgErr) override {
      return m_pOwner->Invoke(dispid, riid, lcid, wFlags, pParams, pResult, pExcep, puArgErr);
    }
    STDMETHOD(GetCustomUI)(BSTR bsRibbonId, BSTR* pbsXml) override { return m_pOwner->GetCustomUI(bsRibbonId, pbsXml); }

   private:
    CTestAddIn* m_pOwner;
  };

  HRESULT Record(const std::wstring& ws) {
    m_wsLog += ws + L"\n";
    return S_OK;
  }

  // A button "Test button" (tag TestButton) on a bar of its own in the main window.
  void AddButton() {
    VARIANT varExplorer = {}, varBars = {}, varBar = {}, varControls = {}, varButton = {}, varIgnored = {};
    VARIANT varName = {}, varType = {};
    varName.vt = VT_BSTR;
    varName.bstrVal = SysAllocString(L"Test");
    varType.vt = VT_I4;
    varType.lVal = 1;  // msoControlButton
    HRESULT hr = GetValue(m_pApplication, L"ActiveExplorer", &varExplorer, DISPATCH_METHOD);
    if (SUCCEEDED(hr)) hr = GetValue(varExplorer.pdispVal, L"CommandBars", &varBars);
    if (SUCCEEDED(hr)) hr = GetValue(varBars.pdispVal, L"Add", &varBar, DISPATCH_METHOD, {varName});
    if (SUCCEEDED(hr)) hr = GetValue(varBar.pdispVal, L"Controls", &varControls);
    if (SUCCEEDED(hr)) hr = GetValue(varControls.pdispVal, L"Add", &varButton, DISPATCH_METHOD, {varType});
    for (const auto& [wszName, wszValue] : {std::pair{L"Caption", L"Test button"}, std::pair{L"Tag", L"TestButton"}}) {
      VARIANT varValue = {};
      varValue.vt = VT_BSTR;
      varValue.bstrVal = SysAllocString(wszValue);
      if (SUCCEEDED(hr)) hr = GetValue(varButton.pdispVal, wszName, &varIgnored, DISPATCH_PROPERTYPUT, {varValue});
      VariantClear(&varValue);
    }
    if (SUCCEEDED(hr)) Advise(varButton.pdispVal, Office::DIID__CommandBarButtonEvents);
    if (FAILED(hr)) Record(L"Command bar button failed " + std::to_wstring(hr));
    for (VARIANT* pVar : {&varExplorer, &varBars, &varBar, &varControls, &varButton, &varName}) VariantClear(pVar);
  }

  void Advise(IUnknown* pSource, const IID& iid) {
    IConnectionPointContainer* pContainer = nullptr;
    SConnection connection = {};
    HRESULT hr = pSource->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&pContainer));
    if (SUCCEEDED(hr)) {
      hr = pContainer->FindConnectionPoint(iid, &connection.pPoint);
      pContainer->Release();
    }
    if (SUCCEEDED(hr)) {
      CSink* pSink = new CSink(this, iid);
      hr = connection.pPoint->Advise(pSink, &connection.dwCookie);
      pSink->Release();
      if (FAILED(hr)) connection.pPoint->Release();
    }
    if (SUCCEEDED(hr)) {
      m_connections.push_back(connection);
    } else {
      Record(L"Advise failed " + std::to_wstring(hr));
    }
  }

  // A ribbon callback; the control comes first.
  HRESULT RibbonCall(DISPID dispid, Sim::SCall& call) {
    VARIANT* pFirst = Sim::Arg(call, 0);
    IDispatch* pControl = pFirst && pFirst->vt == VT_DISPATCH ? pFirst->pdispVal : nullptr;
    const size_t cArgs = call.args.size();
    VARIANT* pResult = call.pResult;
    if (dispid == kOnLoad) {
      if (!pControl) return DISP_E_TYPEMISMATCH;
      if (m_pRibbonUI) m_pRibbonUI->Release();
      m_pRibbonUI = nullptr;
      Record(L"OnLoad");
      return pControl->QueryInterface(Office::IID_IRibbonUI, reinterpret_cast<void**>(&m_pRibbonUI));
    }
    Office::IRibbonControl* pRibbonControl = nullptr;
    if (!pControl ||
        FAILED(pControl->QueryInterface(Office::IID_IRibbonControl, reinterpret_cast<void**>(&pRibbonControl)))) {
      return DISP_E_TYPEMISMATCH;
    }
    BSTR bsId = nullptr, bsTag = nullptr;
    IDispatch* pContext = nullptr;
    pRibbonControl->get_Id(&bsId);
    pRibbonControl->get_Tag(&bsTag);
    pRibbonControl->get_Context(&pContext);
    std::wstring wsCaption;
    if (pContext) GetText(pContext, L"Caption", &wsCaption);
    const std::wstring wsId = Text(bsId);
    HRESULT hr = S_OK;
    if (dispid == kGetLabel) {
      Record(L"GetLabel " + wsId + L" tag=" + Text(bsTag));
      hr = pResult ? (pResult->vt = VT_BSTR, pResult->bstrVal = SysAllocString((L"Label of " + wsId).c_str()), S_OK)
                   : E_POINTER;
    } else if (dispid == kGetVisible) {
      Record(L"GetVisible " + wsId);
      if (pResult) {
        pResult->vt = VT_BOOL;
        pResult->boolVal = VARIANT_TRUE;
      }
    } else {
      Record(L"OnAction " + wsId + L" args=" + std::to_wstring(cArgs) + L" context=" + wsCaption);
      if (m_pRibbonUI) hr = m_pRibbonUI->InvalidateControl(bsId);
      if (wsId == L"TestAsk") {
        const int iAnswer =
            MessageBoxW(nullptr, L"Invite the sender?", L"Test add-in", MB_YESNOCANCEL | MB_ICONQUESTION);
        Record(L"MessageBox answer=" + std::to_wstring(iAnswer));
      } else if (wsId == L"TestQuit" && m_pApplication) {
        VARIANT varIgnored;
        hr = GetValue(m_pApplication, L"Quit", &varIgnored, DISPATCH_METHOD);
      }
    }
    SysFreeString(bsId);
    SysFreeString(bsTag);
    if (pContext) pContext->Release();
    pRibbonControl->Release();
    return hr;
  }

  struct SConnection {
    IConnectionPoint* pPoint;
    DWORD dwCookie;
  };
  CRibbonExtensibility m_ribbon;
  std::wstring m_wsLog;
  Office::IRibbonUI* m_pRibbonUI = nullptr;
  IDispatch* m_pApplication = nullptr;
  std::vector<SConnection> m_connections;
};

CSink::CSink(CTestAddIn* pOwner, const IID& iid) : CDispatchImpl({iid}), m_pOwner(pOwner), m_iid(iid) {
  m_pOwner->AddRef();
}

CSink::~CSink() { m_pOwner->Release(); }

STDMETHODIMP CSink::Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*, UINT*) {
  return m_pOwner->OnEvent(m_iid, dispid, pParams);
}

}  // namespace

const Sim::SAddInServer Sim::g_addInServer = {
    kClsid, kClsidText, kProgId, L"Apartment", L"Simulator test add-in", {L"Outlook"}, Sim::CreateAddIn<CTestAddIn>};
