// An Outlook add-in for the simulator's own tests: it records every call its host makes,
// publishes itself in COMAddIns and offers a ribbon for the main and the compose window.
#include <windows.h>

#include <string>

#include "hosts/OfficeAddIn.h"

namespace {

// {D83C2EB9-3B96-4347-B134-226D3B33388D}
constexpr CLSID kClsid = {0xD83C2EB9, 0x3B96, 0x4347, {0xB1, 0x34, 0x22, 0x6D, 0x3B, 0x33, 0x38, 0x8D}};
constexpr wchar_t kClsidText[] = L"{D83C2EB9-3B96-4347-B134-226D3B33388D}";
constexpr wchar_t kProgId[] = L"OfficeSim.TestAddIn";

HMODULE g_hModule = nullptr;
volatile LONG g_lObjects = 0;

enum : DISPID { kOnLoad = 1001, kGetLabel, kGetVisible, kOnAction, kCallLog };
const struct {
  const wchar_t* wszName;
  DISPID dispid;
} kNames[] = {{L"OnLoad", kOnLoad},
              {L"GetLabel", kGetLabel},
              {L"GetVisible", kGetVisible},
              {L"OnAction", kOnAction},
              {L"CallLog", kCallLog}};

constexpr wchar_t kComposeXml[] =
    L"<?xml version=\"1.0\"?><customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\" "
    L"onLoad=\"OnLoad\"><ribbon><tabs><tab idMso=\"TabNewMailMessage\"><group id=\"TestGroup\" label=\"Test\">"
    L"<button id=\"TestSend\" tag=\"send\" getLabel=\"GetLabel\" onAction=\"OnAction\"/>"
    L"<toggleButton id=\"TestSign\" label=\"Sign &amp; seal\" getVisible=\"GetVisible\" onAction=\"OnAction\"/>"
    L"</group></tab></tabs></ribbon></customUI>";
constexpr wchar_t kExplorerXml[] =
    L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\" onLoad=\"OnLoad\"><ribbon><tabs>"
    L"<tab idMso=\"TabMail\"><group id=\"TestMain\"><button id=\"TestInvite\" label=\"Invite\" "
    L"onAction=\"OnAction\"/></group></tab></tabs></ribbon></customUI>";

std::wstring Text(BSTR bs) { return bs ? std::wstring(bs, SysStringLen(bs)) : std::wstring(); }

HRESULT GetText(IDispatch* pDisp, const wchar_t* wszName, std::wstring* pws) {
  LPOLESTR wszMember = const_cast<LPOLESTR>(wszName);
  DISPID dispid = DISPID_UNKNOWN;
  HRESULT hr = pDisp->GetIDsOfNames(IID_NULL, &wszMember, 1, LOCALE_USER_DEFAULT, &dispid);
  DISPPARAMS params = {};
  VARIANT var;
  VariantInit(&var);
  if (SUCCEEDED(hr)) hr = pDisp->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, &var, nullptr, nullptr);
  if (SUCCEEDED(hr)) hr = VariantChangeType(&var, &var, 0, VT_BSTR);
  if (SUCCEEDED(hr)) *pws = Text(var.bstrVal);
  VariantClear(&var);
  return hr;
}

class CTestAddIn final : public Office::IDTExtensibility2, public Office::IRibbonExtensibility {
 public:
  CTestAddIn() { InterlockedIncrement(&g_lObjects); }
  ~CTestAddIn() {
    if (m_pRibbonUI) m_pRibbonUI->Release();
    InterlockedDecrement(&g_lObjects);
  }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, Office::IID_IDTExtensibility2)) {
      *ppv = static_cast<Office::IDTExtensibility2*>(this);
    } else if (IsEqualIID(riid, Office::IID_IRibbonExtensibility)) {
      *ppv = static_cast<Office::IRibbonExtensibility*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return InterlockedIncrement(&m_lRef); }
  STDMETHOD_(ULONG, Release)() override {
    const LONG lRef = InterlockedDecrement(&m_lRef);
    if (!lRef) delete this;
    return lRef;
  }
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
    if (!rgszNames || !rgDispId || cNames != 1) return E_INVALIDARG;
    for (const auto& name : kNames) {
      if (!lstrcmpiW(name.wszName, rgszNames[0])) {
        *rgDispId = name.dispid;
        return S_OK;
      }
    }
    *rgDispId = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHOD(Invoke)
  (DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT* pResult, EXCEPINFO*, UINT*) override {
    const UINT cArgs = pParams ? pParams->cArgs : 0;
    // Arguments arrive last to first: the ribbon control is the last one.
    IDispatch* pFirst =
        cArgs && pParams->rgvarg[cArgs - 1].vt == VT_DISPATCH ? pParams->rgvarg[cArgs - 1].pdispVal : nullptr;
    switch (dispid) {
      case kOnLoad:
        if (!pFirst) return DISP_E_TYPEMISMATCH;
        if (m_pRibbonUI) m_pRibbonUI->Release();
        m_pRibbonUI = nullptr;
        Record(L"OnLoad");
        return pFirst->QueryInterface(Office::IID_IRibbonUI, reinterpret_cast<void**>(&m_pRibbonUI));
      case kGetLabel:
      case kGetVisible:
      case kOnAction:
        return RibbonCallback(dispid, pFirst, cArgs, pResult);
      case kCallLog:
        if (!pResult) return E_POINTER;
        pResult->vt = VT_BSTR;
        pResult->bstrVal = SysAllocStringLen(m_wsLog.data(), static_cast<UINT>(m_wsLog.size()));
        return S_OK;
      default:  // IDTExtensibility2 is called through its slots
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  STDMETHOD(OnConnection)
  (IDispatch* pApplication, Office::ext_ConnectMode mode, IDispatch* pAddInInst, SAFEARRAY**) override {
    if (!pApplication || !pAddInInst) return E_POINTER;
    std::wstring wsVersion, wsProgId;
    GetText(pApplication, L"Version", &wsVersion);
    GetText(pAddInInst, L"ProgId", &wsProgId);
    Record(L"OnConnection mode=" + std::to_wstring(mode) + L" version=" + wsVersion + L" progid=" + wsProgId);
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
    return S_OK;
  }
  STDMETHOD(OnAddInsUpdate)(SAFEARRAY**) override { return Record(L"OnAddInsUpdate"); }
  STDMETHOD(OnStartupComplete)(SAFEARRAY**) override { return Record(L"OnStartupComplete"); }
  STDMETHOD(OnBeginShutdown)(SAFEARRAY**) override { return Record(L"OnBeginShutdown"); }

  STDMETHOD(GetCustomUI)(BSTR bsRibbonId, BSTR* pbsXml) override {
    if (!pbsXml) return E_POINTER;
    const std::wstring wsId = Text(bsRibbonId);
    Record(L"GetCustomUI " + wsId);
    const wchar_t* wszXml = wsId == L"Microsoft.Outlook.Mail.Compose" ? kComposeXml
                            : wsId == L"Microsoft.Outlook.Explorer"   ? kExplorerXml
                                                                      : nullptr;
    *pbsXml = wszXml ? SysAllocString(wszXml) : nullptr;
    return S_OK;
  }

 private:
  HRESULT Record(const std::wstring& ws) {
    m_wsLog += ws + L"\n";
    return S_OK;
  }

  HRESULT RibbonCallback(DISPID dispid, IDispatch* pControl, UINT cArgs, VARIANT* pResult) {
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
    }
    SysFreeString(bsId);
    SysFreeString(bsTag);
    if (pContext) pContext->Release();
    pRibbonControl->Release();
    return hr;
  }

  volatile LONG m_lRef = 1;
  std::wstring m_wsLog;
  Office::IRibbonUI* m_pRibbonUI = nullptr;
};

class CFactory final : public IClassFactory {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(CreateInstance)(IUnknown* pOuter, REFIID riid, void** ppv) override {
    if (pOuter) return CLASS_E_NOAGGREGATION;
    CTestAddIn* pAddIn = new CTestAddIn();
    HRESULT hr = pAddIn->QueryInterface(riid, ppv);
    pAddIn->Release();
    return hr;
  }
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }
};
CFactory g_factory;

LSTATUS SetString(HKEY hRoot, const std::wstring& wsKey, const wchar_t* wszName, const std::wstring& wsValue) {
  return RegSetKeyValueW(hRoot, wsKey.c_str(), wszName, REG_SZ, wsValue.c_str(),
                         static_cast<DWORD>((wsValue.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) g_hModule = hInstance;
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!IsEqualCLSID(rclsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return g_lObjects ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(g_hModule, wszPath, MAX_PATH);
  const std::wstring wsClsidKey = std::wstring(L"Software\\Classes\\CLSID\\") + kClsidText;
  const std::wstring wsAddInKey = std::wstring(L"Software\\Microsoft\\Office\\Outlook\\Addins\\") + kProgId;
  const DWORD dwBehavior = 3;
  LSTATUS status = SetString(HKEY_LOCAL_MACHINE, wsClsidKey + L"\\InprocServer32", nullptr, wszPath);
  if (!status)
    status = SetString(HKEY_LOCAL_MACHINE, wsClsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
  if (!status) status = SetString(HKEY_LOCAL_MACHINE, wsClsidKey + L"\\ProgID", nullptr, kProgId);
  if (!status)
    status =
        SetString(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + kProgId + L"\\CLSID", nullptr, kClsidText);
  if (!status) status = SetString(HKEY_LOCAL_MACHINE, wsAddInKey, L"Description", L"Simulator test add-in");
  if (!status) {
    status = RegSetKeyValueW(HKEY_LOCAL_MACHINE, wsAddInKey.c_str(), L"LoadBehavior", REG_DWORD, &dwBehavior,
                             sizeof dwBehavior);
  }
  return HRESULT_FROM_WIN32(status);
}

STDAPI DllUnregisterServer() {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\CLSID\\") + kClsidText).c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\") + kProgId).c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                 (std::wstring(L"Software\\Microsoft\\Office\\Outlook\\Addins\\") + kProgId).c_str());
  return S_OK;
}
