#include "outlook/ComposeRibbon.h"

#include <cwchar>

#include "com/CriticalSection.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "mail/AddressBook.h"
#include "mail/WindowHelpers.h"
#include "module/MessageBox.h"
#include "module/Settings.h"
#include "outlook/DispEventHandler.h"
#include "outlook/OutlookRestart.h"
#include "res/StringIds.h"
#include "suite/VmCertServices.h"
#include "tracking/UsageTracking.h"

CComposeRibbon* g_pComposeRibbon = nullptr;

namespace {

// Outlook 10 and older are refused; their add-in stays connected but inert.
constexpr int kOldestOutlook = 11;
// Outlook 12 dropped the Inspectors sink, 14 the Explorers sink and the command bars.
constexpr int kFirstWithoutInspectorsSink = 12;
constexpr int kFirstRibbonsOnly = 14;
constexpr UINT kRestartPeriod = 100;

// The class id as COMAddIn.Guid spells it.
constexpr wchar_t kComposeRibbonGuid[] = L"{EE56F4B6-F1B5-451E-B620-A428E1A9E050}";

int g_nOutlookVersion = 0;

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

CComposeRibbon::CComposeRibbon(IUnknown* pOuter) : COfficeAddIn(pOuter) {
  InitializeCriticalSection(&m_csProfile);
  InitializeCriticalSection(&m_csMessageActions);
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\Applications\\Tessaly", KEY_READ) == ERROR_SUCCESS) {
    m_nBalloonCount = static_cast<int>(key.ReadDword(kEmailBalloon.wszName, m_nBalloonCount));
  }
}

CComposeRibbon::~CComposeRibbon() {
  FinalRelease();
  DeleteCriticalSection(&m_csProfile);
  DeleteCriticalSection(&m_csMessageActions);
}

HRESULT CComposeRibbon::FinalConstruct() {
  CTraceScope scope("CComposeRibbon::FinalConstruct");
  const HRESULT hr = m_watcher.Create();
  if (FAILED(hr)) {
    scope.Error("CreateEvent()", hr);
    return hr;
  }
  g_pComposeRibbon = this;
  m_nRefreshTimer = SetTimer(nullptr, 0, CCertificateWatcher::kRefreshPeriod, OnRefreshTimer);
  return S_OK;
}

void CComposeRibbon::FinalRelease() {
  CTraceScope scope("CComposeRibbon::FinalRelease");
  if (m_nRefreshTimer) KillTimer(nullptr, std::exchange(m_nRefreshTimer, 0));
  if (m_nRestartTimer) KillTimer(nullptr, std::exchange(m_nRestartTimer, 0));
  m_watcher.Stop(scope);
  if (g_pComposeRibbon == this) g_pComposeRibbon = nullptr;
  m_spCertLibrary.reset();
  g_UsageTracker.SendReport();
}

void* CComposeRibbon::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IComposeRibbon)) {
    return static_cast<IComposeRibbon*>(this);
  }
  if (IsEqualIID(riid, Office::IID_IDTExtensibility2)) return static_cast<Office::IDTExtensibility2*>(this);
  if (IsEqualIID(riid, Office::IID_IRibbonExtensibility)) return static_cast<Office::IRibbonExtensibility*>(this);
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
  HRESULT hr = LateBound::GetObjectProperty(pApplication, L"COMAddIns", &cpAddIns);
  CComVariant varCount;
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpAddIns, L"Count", &varCount);
  if (SUCCEEDED(hr)) hr = varCount.ChangeType(VT_I4);
  for (LONG lIndex = 1; SUCCEEDED(hr) && lIndex <= varCount.lVal; ++lIndex) {
    CComPtr<IDispatch> cpAddIn;
    CComVariant varGuid;
    hr = LateBound::GetObjectProperty(cpAddIns, L"Item", &cpAddIn, {CComVariant(lIndex)});
    if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpAddIn, L"Guid", &varGuid);
    if (SUCCEEDED(hr) && varGuid.vt == VT_BSTR && varGuid.bstrVal && !_wcsicmp(varGuid.bstrVal, kComposeRibbonGuid)) {
      // Other programs reach SendTrustedContactInvitation through this object.
      hr = LateBound::PutProperty(cpAddIn, L"Object", CComVariant(static_cast<IComposeRibbon*>(this)));
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
    if (!m_spCertLibrary) m_spCertLibrary = std::make_unique<CCertLibrary>();
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
    const int nVersion = GetOutlookVersion(cpApplication);
    if (nVersion < kOldestOutlook) return E_NOTIMPL;
    hr = InstallSinks(cpApplication, nVersion);
    if (FAILED(hr)) return hr;
    if (nVersion < kFirstRibbonsOnly) AddToOpenExplorers(cpApplication);
    m_watcher.Start(scope);
    return S_OK;
  });
}

// Main windows open before the add-in started get its menu too; failures leave a window without.
void CComposeRibbon::AddToOpenExplorers(IDispatch* pApplication) {
  CComPtr<IDispatch> cpExplorers;
  CComVariant varCount;
  HRESULT hr = LateBound::GetObjectProperty(pApplication, L"Explorers", &cpExplorers);
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpExplorers, L"Count", &varCount);
  if (SUCCEEDED(hr)) hr = varCount.ChangeType(VT_I4);
  for (LONG lIndex = 1; SUCCEEDED(hr) && lIndex <= varCount.lVal; ++lIndex) {
    CComPtr<IDispatch> cpExplorer;
    if (SUCCEEDED(LateBound::GetObjectProperty(cpExplorers, L"Item", &cpExplorer, {CComVariant(lIndex)}))) {
      AddCommandBarButton(cpExplorer);
    }
  }
}

HRESULT CComposeRibbon::InstallSinks(IDispatch* pApplication, int nVersion) {
  CTraceScope scope("CComposeRibbon::InstallSinks");
  CComPtr<IDispatch> cpExplorers;
  CComPtr<IDispatch> cpInspectors;
  HRESULT hr = LateBound::GetObjectProperty(pApplication, L"Explorers", &cpExplorers);
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(pApplication, L"Inspectors", &cpInspectors);
  if (FAILED(hr)) {
    scope.Error("cpApplication->get_Explorers/get_Inspectors", hr);
    return hr;
  }
  // The sinks hold the add-in until they are disconnected at shut-down.
  CComPtr<IUnknown> cpSelf(GetControllingUnknown());
  if (!m_dwAppEventsCookie) {
    hr = CDispEventHandler::Advise(
        pApplication, Outlook::DIID_ApplicationEvents_11,
        [this, cpSelf](DISPID dispid, DISPPARAMS* pParams) { return OnApplicationEvent(dispid, pParams); },
        &m_dwAppEventsCookie);
    if (FAILED(hr)) return hr;
  }
  // NewExplorer and NewInspector (both 0xF001, the window as the only argument) get the command bars.
  const auto newWindow = [this, cpSelf](DISPID dispid, DISPPARAMS* pParams) -> HRESULT {
    if (dispid != Outlook::DISPID_NewExplorer) return E_NOTIMPL;
    if (!pParams || pParams->cArgs < 1) return E_INVALIDARG;
    const VARIANT& varWindow = pParams->rgvarg[pParams->cArgs - 1];
    return varWindow.vt == VT_DISPATCH ? AddCommandBarButton(varWindow.pdispVal) : E_INVALIDARG;
  };
  if (nVersion < kFirstRibbonsOnly && !m_dwExplorersEventsCookie) {
    hr = CDispEventHandler::Advise(cpExplorers, Outlook::DIID_ExplorersEvents, newWindow, &m_dwExplorersEventsCookie);
    if (FAILED(hr)) return hr;
  }
  if (nVersion < kFirstWithoutInspectorsSink && !m_dwInspectorsEventsCookie) {
    hr =
        CDispEventHandler::Advise(cpInspectors, Outlook::DIID_InspectorsEvents, newWindow, &m_dwInspectorsEventsCookie);
  }
  return hr;
}

HRESULT CComposeRibbon::OnApplicationEvent(DISPID dispid, DISPPARAMS* pParams) {
  if (dispid == Outlook::DISPID_ItemSend) return OnItemSendEvent(pParams);
  if (dispid == Outlook::DISPID_Startup) return OnApplicationStartup();
  if (dispid == Outlook::DISPID_Quit) return OnApplicationQuit();
  return E_NOTIMPL;
}

HRESULT CComposeRibbon::OnBeginShutdown(SAFEARRAY**) {
  CTraceScope scope("OnBeginShutdown");
  return GuardComEntry(scope, [&] {
    DeleteCommandBarControls();
    CComPtr<IDispatch> cpApplication;
    if (FAILED(QueryApplication(scope, &cpApplication))) return S_OK;
    const struct {
      const wchar_t* wszSource;
      const IID& iid;
      DWORD& dwCookie;
    } sinks[] = {{L"Inspectors", Outlook::DIID_InspectorsEvents, m_dwInspectorsEventsCookie},
                 {L"Explorers", Outlook::DIID_ExplorersEvents, m_dwExplorersEventsCookie},
                 {nullptr, Outlook::DIID_ApplicationEvents_11, m_dwAppEventsCookie}};
    for (const auto& sink : sinks) {
      if (!sink.dwCookie) continue;
      CComPtr<IDispatch> cpSource(cpApplication.Get());
      if (sink.wszSource && FAILED(LateBound::GetObjectProperty(cpApplication, sink.wszSource, &cpSource))) continue;
      if (SUCCEEDED(CDispEventHandler::Unadvise(cpSource, sink.iid, sink.dwCookie))) sink.dwCookie = 0;
    }
    return S_OK;
  });
}

bool CComposeRibbon::IsProfileActive() {
  CTraceScope scope("CComposeRibbon::IsProfileActive()");
  // The call right after the first failed check does not look again.
  if (m_nProfileChecks == 1) {
    m_nProfileChecks = 2;
    scope.Message("skipped after the first failed check");
    return false;
  }
  CComPtr<IDispatch> cpApplication;
  CComPtr<IDispatch> cpNameSpace;
  CComVariant varMapiObject;
  HRESULT hr = QueryApplication(scope, &cpApplication);
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpApplication, L"Session", &cpNameSpace);
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpNameSpace, L"MAPIOBJECT", &varMapiObject);
  const bool bActive =
      SUCCEEDED(hr) && (varMapiObject.vt == VT_UNKNOWN || varMapiObject.vt == VT_DISPATCH) && varMapiObject.punkVal;
  if (!bActive) {
    ++m_nProfileChecks;
    scope.Error("no active profile", FAILED(hr) ? hr : E_POINTER);
  }
  return bActive;
}

HRESULT CComposeRibbon::InitializeProfile() {
  CTraceScope scope("CComposeRibbon::InitializeProfile()");
  // The profile lock does not keep out Outlook's own thread: a COM call that arrives while
  // message 423 is open would find the service added and take the profile for ready.
  if (m_bPreparingProfile) {
    scope.Error("profile preparation already running", HRESULT_FROM_WIN32(ERROR_CANCELLED));
    return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  }
  m_bPreparingProfile = true;
  const struct CPreparing {
    bool& bFlag;
    ~CPreparing() { bFlag = false; }
  } preparing{m_bPreparingProfile};
  AddToSafeSenders(m_spApplication, kAuthorityMailDomain);
  const HWND hwnd = GetActiveWindowHandle(m_spApplication);
  DWORD dwAdded = 0;
  const HRESULT hr = RegisterAB(m_spApplication, TRUE, hwnd, &dwAdded);
  m_bProfileReady = SUCCEEDED(hr) && !dwAdded;
  if (FAILED(hr)) scope.Error("RegisterAB()", hr);
  if (!dwAdded) return S_OK;
  // The new address-book service is seen by Outlook only after a restart.
  if (VmMessageBox(hwnd, IDS_MSG_RESTART_OUTLOOK, IDS_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES) return S_OK;
  m_nRestartTimer = SetTimer(nullptr, 0, kRestartPeriod, OnRestartTimer);
  return E_ABORT;
}

HRESULT CComposeRibbon::OnApplicationStartup() {
  CTraceScope scope("CComposeRibbon::OnApplicationStartup()");
  CCriticalSectionLock lock(&m_csProfile);
  return IsProfileActive() && FAILED(InitializeProfile()) ? E_ABORT : S_OK;
}

HRESULT CComposeRibbon::OnApplicationQuit() {
  CTraceScope scope("CComposeRibbon::OnApplicationQuit()");
  if (m_nRestartTimer) KillTimer(nullptr, std::exchange(m_nRestartTimer, 0));
  return S_OK;
}

void CALLBACK CComposeRibbon::OnRestartTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (g_pComposeRibbon) g_pComposeRibbon->RestartOutlookProc();
}

void CComposeRibbon::RestartOutlookProc() {
  CTraceScope scope("CComposeRibbon::RestartOutlookProc()");
  CComPtr<IDispatch> cpApplication;
  CComPtr<IDispatch> cpExplorer;
  if (FAILED(QueryApplication(scope, &cpApplication))) return;
  HRESULT hr = LateBound::GetObjectProperty(cpApplication, L"ActiveExplorer", &cpExplorer);
  if (FAILED(hr)) {
    scope.Error("cpApplication->ActiveExplorer()", hr);
    return;
  }
  const HWND hWndOutlook = UnkToHWnd(cpExplorer);
  const HWND hWndActive = GetActiveWindow();
  scope.Message("hWndOutlook = %08X, hWndActive = %08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hWndOutlook)),
                static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hWndActive)));
  // The user is in another window (a message, a dialog): try again on the next tick.
  if (hWndOutlook != hWndActive) return;
  StartRestarter();
  hr = LateBound::Call(cpApplication, L"Quit");
  if (FAILED(hr)) scope.Error("cpApplication->Quit()", hr);
}

void CALLBACK CComposeRibbon::OnRefreshTimer(HWND, UINT, UINT_PTR, DWORD) {
  try {
    if (!g_pComposeRibbon) return;
    g_pComposeRibbon->RefreshRibbons();
    g_pComposeRibbon->BalloonTick();
  } catch (...) {
    CTraceScope scope("CComposeRibbon::OnRefreshTimer");
    scope.Error("", E_UNEXPECTED);
  }
}

// Outlook then asks the callbacks again and the command-bar menus are made again: the certificate
// request item goes once a certificate exists.
void CComposeRibbon::RefreshRibbons() {
  if (!m_watcher.TakeSignal()) return;
  CTraceScope scope("CComposeRibbon::OnRefreshTimer");
  if (m_spExplorerRibbonUI) m_spExplorerRibbonUI->Invalidate();
  if (m_spComposeRibbonUI) m_spComposeRibbonUI->Invalidate();
  RebuildMenuItems();
}

void CComposeRibbon::BalloonTick() {
  BalloonCountdownTick(m_nBalloonCount, m_nBalloonDelay, m_tooltip, &tooltip_t::autohide, kEmailBalloon,
                       [this] { return ShowBalloonPrompt(); });
}
