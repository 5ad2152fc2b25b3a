#include "outlook/ComposeRibbon.h"

#include <cwchar>

#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"

namespace {

// Outlook 10 and older are refused; their add-in stays connected but inert.
constexpr int kOldestOutlook = 11;

// The class id as COMAddIn.Guid spells it.
constexpr wchar_t kComposeRibbonGuid[] = L"{EE56F4B6-F1B5-451E-B620-A428E1A9E050}";

int g_nOutlookVersion = 0;

// Reads a property holding an object; a null object is E_FAIL.
HRESULT GetObjectProperty(IDispatch* pDisp, const wchar_t* wszName, IDispatch** ppResult,
                          std::initializer_list<VARIANT> args = {}) {
  *ppResult = nullptr;
  CComVariant var;
  HRESULT hr = LateBound::GetProperty(pDisp, wszName, &var, args);
  if (SUCCEEDED(hr)) hr = var.ChangeType(VT_DISPATCH);
  if (FAILED(hr)) return hr;
  if (!var.pdispVal) return E_FAIL;
  *ppResult = var.pdispVal;
  var.pdispVal->AddRef();
  return S_OK;
}

}  // namespace

int GetOutlookVersion(IDispatch* pApplication) {
  if (g_nOutlookVersion || !pApplication) return g_nOutlookVersion;
  CTraceScope scope("GetOutlookVersion");
  CComVariant varVersion;
  if (FAILED(LateBound::GetProperty(pApplication, L"Version", &varVersion)) || varVersion.vt != VT_BSTR ||
      !varVersion.bstrVal || !*varVersion.bstrVal) {
    return 0;
  }
  scope.Message("Outlook version: %ls", varVersion.bstrVal);
  // wcstol stops at the first ".".
  g_nOutlookVersion = static_cast<int>(wcstol(varVersion.bstrVal, nullptr, 10));
  return g_nOutlookVersion;
}

HRESULT CComposeRibbon::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT CComposeRibbon::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT CComposeRibbon::GetIDsOfNames(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) {
  for (UINT i = 0; rgDispId && i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT CComposeRibbon::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}

void* CComposeRibbon::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, Office::IID_IDTExtensibility2)) {
    return static_cast<Office::IDTExtensibility2*>(this);
  }
  return nullptr;
}

HRESULT CComposeRibbon::QueryApplication(CTraceScope& scope, IDispatch** ppApplication) const {
  *ppApplication = nullptr;
  const HRESULT hr = m_spApplication.QueryInterface(Outlook::IID__Application, ppApplication);
  scope.Message("QueryInterface(_Application) = 0x%08lX", static_cast<unsigned long>(hr));
  return hr;
}

void CComposeRibbon::PublishInComAddIns(CTraceScope& scope, IDispatch* pApplication) {
  CComPtr<IDispatch> cpAddIns;
  HRESULT hr = GetObjectProperty(pApplication, L"COMAddIns", &cpAddIns);
  CComVariant varCount;
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpAddIns, L"Count", &varCount);
  if (SUCCEEDED(hr)) hr = varCount.ChangeType(VT_I4);
  for (LONG lIndex = 1; SUCCEEDED(hr) && lIndex <= varCount.lVal; ++lIndex) {
    CComPtr<IDispatch> cpAddIn;
    CComVariant varGuid;
    hr = GetObjectProperty(cpAddIns, L"Item", &cpAddIn, {CComVariant(lIndex)});
    if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpAddIn, L"Guid", &varGuid);
    if (SUCCEEDED(hr) && varGuid.vt == VT_BSTR && varGuid.bstrVal && !_wcsicmp(varGuid.bstrVal, kComposeRibbonGuid)) {
      hr = LateBound::PutProperty(cpAddIn, L"Object", CComVariant(static_cast<IDispatch*>(this)));
      break;
    }
  }
  if (FAILED(hr)) scope.Error("publishing in COMAddIns", hr);
}

HRESULT CComposeRibbon::OnConnection(IDispatch* pApplication, Office::ext_ConnectMode ConnectMode,
                                     IDispatch* pAddInInst, SAFEARRAY** custom) {
  CTraceScope scope("OnConnection");
  return GuardComEntry(scope, [&] {
    scope.Message("ConnectMode = %d", static_cast<int>(ConnectMode));
    m_spApplication = pApplication;
    m_spAddInInst = pAddInInst;
    CComPtr<IDispatch> cpApplication;
    const HRESULT hr = QueryApplication(scope, &cpApplication);
    if (FAILED(hr)) return hr;
    PublishInComAddIns(scope, cpApplication);
    if (ConnectMode == Office::ext_cm_AfterStartup) OnStartupComplete(custom);
    return S_OK;
  });
}

HRESULT CComposeRibbon::OnStartupComplete(SAFEARRAY**) {
  CTraceScope scope("OnStartupComplete");
  return GuardComEntry(scope, [&] {
    CComPtr<IDispatch> cpApplication;
    HRESULT hr = QueryApplication(scope, &cpApplication);
    if (FAILED(hr)) return hr;
    if (GetOutlookVersion(cpApplication) < kOldestOutlook) return E_NOTIMPL;
    CComPtr<IDispatch> cpExplorers;
    CComPtr<IDispatch> cpInspectors;
    hr = GetObjectProperty(cpApplication, L"Explorers", &cpExplorers);
    if (SUCCEEDED(hr)) hr = GetObjectProperty(cpApplication, L"Inspectors", &cpInspectors);
    return hr;
  });
}

HRESULT CComposeRibbon::OnBeginShutdown(SAFEARRAY**) {
  CTraceScope scope("OnBeginShutdown");
  return S_OK;
}
