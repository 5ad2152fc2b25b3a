// The command-bar layer of CComposeRibbon for Outlook 11 to 13, which have no ribbon in the main
// window (11: none at all): the add-in's menu on the main window's Standard bar, and in compose
// windows a toolbar of the product's own with the secure-send button and the same menu.
// Windows get their sinks here (WindowSinks.h): their closing lets go of their controls' click
// sinks, and Word's shared toolbar follows the window in front.
// A received message that the add-in can act on gets the button in its window and in the reading
// pane; what its analysis found is kept under the message's key (m_mapMessageActions) until the
// button is clicked, the window closes or the reading pane shows another message.
// Not part of this build: button faces.
#include <cwchar>
#include <type_traits>

#include "com/CriticalSection.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "mail/WindowHelpers.h"
#include "module/Branding.h"
#include "module/ResourceStrings.h"
#include "module/Settings.h"
#include "outlook/ComposeRibbon.h"
#include "outlook/DispEventHandler.h"
#include "outlook/MessageActions.h"
#include "outlook/WindowSinks.h"
#include "res/StringIds.h"

namespace {

// MsoControlType, MsoButtonStyle, MsoBarPosition, MsoBarRow; Click's dispatch id.
enum : LONG { msoControlButton = 1, msoControlPopup = 10, msoButtonIconAndCaption = 3, msoBarTop = 1 };
constexpr LONG msoBarRowLast = -1;
constexpr DISPID kClickDispid = 1;
constexpr int kLastWordMailOutlook = 11;
constexpr int kFirstWithoutWindowSinks = 12;
constexpr LONG olEditorWord = 4;

// Captions and super tips by command id; the single button (0 to 3) has no super tip.
struct SCommandText {
  UINT nCaption;
  UINT nTip;
};
constexpr SCommandText kCommandTexts[] = {
    {IDS_SECURE_SEND, 0},
    {IDS_REGION_ACCEPT, 0},
    {IDS_REGION_INSTALL, 0},
    {IDS_REGION_ENROL, 0},
    {IDS_MENU_REQUEST_CERT, IDS_TIP_REQUEST_CERT},
    {IDS_MENU_SIGN, IDS_TIP_SIGN},
    {IDS_MENU_SEAL, IDS_TIP_SEAL},
    {IDS_MENU_INVITE, IDS_TIP_INVITE},
    {IDS_MENU_BATCH_INVITE, IDS_TIP_BATCH_INVITE},
    {IDS_MENU_MANAGE, IDS_TIP_MANAGE},
    {IDS_MENU_BUDDIES, IDS_TIP_BUDDIES},
    {IDS_MENU_OPTIONS, IDS_TIP_OPTIONS},
    {IDS_MENU_HELP, IDS_TIP_HELP},
};
constexpr LONG kCommandCount = static_cast<LONG>(sizeof kCommandTexts / sizeof kCommandTexts[0]);
// The commands that act on the message in front; the others lead to the suite's tools, as the
// ribbon's items of these ids do.
enum : LONG { kSecureSend = 0, kRequestCertificate = 4, kSign = 5, kSeal = 6, kInvite = 7, kBatchInvite = 8 };
constexpr LONG kNoButton = -1;
constexpr const wchar_t* kSuiteCommandIds[] = {L"CustomMenuManage", L"CustomMenuBuddies", L"CustomMenuOptions",
                                               L"CustomMenuHelp"};
constexpr LONG kFirstSuiteCommand = 9;

struct SMenuRow {
  LONG lCommand;
  bool bBeginGroup;
  bool bComposeOnly;
};
// Without a certificate there is nothing to invite with, but one can be requested.
constexpr SMenuRow kItemsWithCertificate[] = {{5, true, true},    {6, false, true},  {7, true, false},
                                              {8, false, false},  {9, true, false},  {10, false, false},
                                              {11, false, false}, {12, false, false}};
constexpr SMenuRow kItemsWithoutCertificate[] = {{4, true, false},  {5, true, true},    {6, false, true},
                                                 {9, true, false},  {10, false, false}, {11, false, false},
                                                 {12, false, false}};

// A control's Parameter: a fresh GUID that identifies it later.
std::wstring NewGuidText() {
  GUID guid = {};
  wchar_t wsz[40] = {};
  if (FAILED(CoCreateGuid(&guid)) || !StringFromGUID2(guid, wsz, 40)) return L"";
  return wsz;
}

VARIANT MissingArg() {
  VARIANT var;
  var.vt = VT_ERROR;
  var.scode = DISP_E_PARAMNOTFOUND;
  return var;
}

// Controls.Add(Type, , , Before, Temporary:=True); lBefore 0: at the end.
HRESULT AddTemporaryControl(CTraceScope& scope, IDispatch* pControls, LONG lType, const char* szCall,
                            IDispatch** ppControl, LONG lBefore = 0) {
  *ppControl = nullptr;
  CComVariant varControl;
  HRESULT hr = LateBound::Call(pControls, L"Add",
                               {CComVariant(lType), MissingArg(), MissingArg(),
                                lBefore ? CComVariant(lBefore) : MissingArg(), CComVariant(true)},
                               &varControl);
  if (SUCCEEDED(hr)) hr = varControl.ChangeType(VT_DISPATCH);
  if (SUCCEEDED(hr) && !varControl.pdispVal) hr = E_FAIL;
  if (FAILED(hr)) {
    scope.Error(szCall, hr);
    return hr;
  }
  *ppControl = varControl.pdispVal;
  (*ppControl)->AddRef();
  return S_OK;
}

// Sets properties in order until one fails; the failing one is traced.
HRESULT PutProperties(CTraceScope& scope, IDispatch* pDisp,
                      std::initializer_list<std::pair<const wchar_t*, CComVariant>> properties) {
  for (const auto& [wszName, var] : properties) {
    const HRESULT hr = LateBound::PutProperty(pDisp, wszName, var);
    if (FAILED(hr)) {
      scope.Error("put_property", hr);
      scope.Message("property %ls", wszName);
      return hr;
    }
  }
  return S_OK;
}

// Deletes the controls from the last one to the first; buttons also lose their click sinks.
template <class T>
void DeleteControls(std::vector<std::pair<CComPtr<IDispatch>, T>>& controls) {
  CTraceScope scope("CComposeRibbon::DeleteControls");
  while (!controls.empty()) {
    auto& [cpControl, value] = controls.back();
    HRESULT hr = LateBound::Call(cpControl, L"Delete");
    if (FAILED(hr)) scope.Error("cpControl->Delete()", hr);
    if constexpr (std::is_same_v<T, DWORD>) {
      hr = CDispEventHandler::Unadvise(cpControl, Office::DIID__CommandBarButtonEvents, value);
      if (FAILED(hr)) scope.Error("click sink Unadvise()", hr);
    }
    controls.pop_back();
  }
}

// Calls fn with each item of a collection (Count, Item(1..Count)) until it returns false.
template <class Fn>
HRESULT ForEachItem(IDispatch* pCollection, Fn fn) {
  CComVariant varCount;
  HRESULT hr = LateBound::GetProperty(pCollection, L"Count", &varCount);
  if (SUCCEEDED(hr)) hr = varCount.ChangeType(VT_I4);
  for (LONG lIndex = 1; SUCCEEDED(hr) && lIndex <= varCount.lVal; ++lIndex) {
    CComPtr<IDispatch> cpItem;
    hr = LateBound::GetObjectProperty(pCollection, L"Item", &cpItem, {CComVariant(lIndex)});
    if (SUCCEEDED(hr) && !fn(lIndex, cpItem.Get())) break;
  }
  return hr;
}

LONG CountItems(IDispatch* pCollection) {
  CComVariant varCount;
  if (FAILED(LateBound::GetProperty(pCollection, L"Count", &varCount)) || FAILED(varCount.ChangeType(VT_I4))) return 0;
  return varCount.lVal;
}

std::wstring ControlParameter(IDispatch* pControl) {
  CComVariant varParameter;
  if (FAILED(LateBound::GetProperty(pControl, L"Parameter", &varParameter)) || varParameter.vt != VT_BSTR ||
      !varParameter.bstrVal)
    return L"";
  return varParameter.bstrVal;
}

// The stored control of that Parameter; end() when there is none.
template <class T>
auto FindControl(std::vector<std::pair<CComPtr<IDispatch>, T>>& controls, const std::wstring& wsParameter) {
  auto it = controls.begin();
  while (it != controls.end() && (wsParameter.empty() || ControlParameter(it->first) != wsParameter)) ++it;
  return it;
}

// Forgets the stored button or menu item of that Parameter and ends its click sink; false when none.
bool ReleaseControl(std::vector<std::pair<CComPtr<IDispatch>, DWORD>>& controls, const std::wstring& wsParameter) {
  const auto it = FindControl(controls, wsParameter);
  if (it == controls.end()) return false;
  CDispEventHandler::Unadvise(it->first, Office::DIID__CommandBarButtonEvents, it->second);
  controls.erase(it);
  return true;
}

// Analyses a received message: whether it gets the button (kinds 1, 3 and 4, which the user can
// act on), with what was found.
bool AnalyzeForButton(CTraceScope& scope, IDispatch* pItem, SMessageAction* pAction) {
  DWORD dwKind = kKindNone;
  CComBSTR bsText;
  PCCERT_CONTEXT pCertificate = nullptr;
  const HRESULT hr = AnalyzeMessage(pItem, &dwKind, &bsText, &pCertificate);
  if (pCertificate) pAction->spCertificate.reset(pCertificate, CertFreeCertificateContext);
  if (FAILED(hr)) {
    scope.Error("AnalyzeMessage()", hr);
    return false;
  }
  scope.Message("Message type: %d", static_cast<int>(dwKind));
  pAction->dwKind = dwKind;
  pAction->wsText = bsText.c_str();
  return dwKind == kKindNewSigner || dwKind == kKindAuthorityAnswer || dwKind == kKindEnterpriseRequest;
}

// The button's command for a message kind: 1 to 3 act on the message, 0 sends securely.
LONG ButtonCommand(DWORD dwKind) {
  switch (dwKind) {
    case kKindNewSigner:
      return 1;
    case kKindAuthorityAnswer:
      return 2;
    case kKindEnterpriseRequest:
      return 3;
    default:
      return kSecureSend;
  }
}

// The add-in's own bar among the command bars: it carries the product's name.
HRESULT GetProductBar(IDispatch* pCommandBars, IDispatch** ppBar) {
  return LateBound::GetObjectProperty(pCommandBars, L"Item", ppBar,
                                      {CComVariant(GetBrandString(IDS_BRAND_SHORT_PRODUCT).c_str())});
}

}  // namespace

bool GetBoolProperty(IDispatch* pDisp, const wchar_t* wszName) {
  CComVariant var;
  return SUCCEEDED(LateBound::GetProperty(pDisp, wszName, &var)) && SUCCEEDED(var.ChangeType(VT_BOOL)) &&
         var.boolVal != VARIANT_FALSE;
}

bool IsWordMail(IDispatch* pInspector) {
  if (!pInspector || GetOutlookVersion(nullptr) > kLastWordMailOutlook) return false;
  CComVariant varEditor;
  return GetBoolProperty(pInspector, L"IsWordMail") &&
         SUCCEEDED(LateBound::GetProperty(pInspector, L"EditorType", &varEditor)) &&
         SUCCEEDED(varEditor.ChangeType(VT_I4)) && varEditor.lVal == olEditorWord;
}

// Word shares its command bars between its windows: a WordMail inspector's are its document's.
HRESULT GetInspectorCommandBars(IDispatch* pInspector, IDispatch** ppCommandBars) {
  if (!IsWordMail(pInspector)) return LateBound::GetObjectProperty(pInspector, L"CommandBars", ppCommandBars);
  CComPtr<IDispatch> cpDocument;
  const HRESULT hr = LateBound::GetObjectProperty(pInspector, L"WordEditor", &cpDocument);
  return SUCCEEDED(hr) ? LateBound::GetObjectProperty(cpDocument, L"CommandBars", ppCommandBars) : hr;
}

HRESULT CComposeRibbon::AddCommandBarButton(IDispatch* pWindow) {
  CTraceScope scope("CComposeRibbon::AddCommandBarButton()");
  if (!pWindow) return E_POINTER;
  CComPtr<IDispatch> cpCommandBars;
  CComPtr<IDispatch> cpBar;
  CComPtr<IDispatch> cpExplorer;
  HRESULT hr = pWindow->QueryInterface(Outlook::IID__Explorer, reinterpret_cast<void**>(&cpExplorer));
  if (SUCCEEDED(hr)) {
    hr = LateBound::GetObjectProperty(cpExplorer, L"CommandBars", &cpCommandBars);
    if (FAILED(hr)) {
      scope.Error("cpExplorer->get_CommandBars()", hr);
      return hr;
    }
    hr = LateBound::GetObjectProperty(cpCommandBars, L"Item", &cpBar, {CComVariant(L"Standard")});
    if (FAILED(hr)) {
      scope.Error("cpCommandBars->get_Item(Standard)", hr);
      return hr;
    }
    if (GetOutlookVersion(nullptr) < kFirstWithoutWindowSinks) CExplorerEventHandler::Install(this, cpExplorer);
    return AddCommandBarControls(scope, cpBar, false, kNoButton);
  }
  CComPtr<IDispatch> cpInspector;
  hr = pWindow->QueryInterface(Outlook::IID__Inspector, reinterpret_cast<void**>(&cpInspector));
  if (FAILED(hr)) {
    scope.Error("QueryInterface(__uuidof(Outlook::_Inspector))", hr);
    return hr;
  }
  CComPtr<IDispatch> cpItem;
  hr = GetCurrentMailItem(cpInspector, &cpItem, nullptr);
  if (FAILED(hr)) return hr;
  const bool bWordMail = IsWordMail(cpInspector);
  const bool bSent = GetBoolProperty(cpItem, L"Sent");
  scope.Message("This is the %hs editor", bWordMail ? "Word" : "Outlook");
  scope.Message("The message is %hs", bSent ? "sent" : "not sent");
  // A received message shows the toolbar only when the user can act on it.
  SMessageAction action;
  const bool bShow = !bSent || AnalyzeForButton(scope, cpItem, &action);
  hr = GetInspectorCommandBars(cpInspector, &cpCommandBars);
  if (FAILED(hr)) {
    scope.Error("Unable to get inspector's command bars!", hr);
    return hr;
  }
  const std::wstring wsName = GetBrandString(IDS_BRAND_SHORT_PRODUCT);
  hr = GetProductBar(cpCommandBars, &cpBar);
  scope.Message("cpCommandBars->get_Item(%ls) = 0x%08lX", wsName.c_str(), static_cast<unsigned long>(hr));
  const bool bExists = SUCCEEDED(hr);
  if (bExists) {
    if (!bWordMail) {
      scope.Error("Command bar already exists", E_UNEXPECTED);
      return E_UNEXPECTED;
    }
    // Word shares the bar between its windows: this one decides whether it shows.
    scope.Message("Command bar already exists!");
    hr = PutProperties(scope, cpBar, {{L"Enabled", CComVariant(bShow)}, {L"Visible", CComVariant(bShow)}});
  } else if (bShow) {
    CComVariant varBar;
    hr = LateBound::Call(cpCommandBars, L"Add",
                         {CComVariant(wsName.c_str()), CComVariant(LONG{msoBarTop}), MissingArg(), CComVariant(true)},
                         &varBar);
    if (SUCCEEDED(hr)) hr = varBar.ChangeType(VT_DISPATCH);
    if (SUCCEEDED(hr) && !varBar.pdispVal) hr = E_FAIL;
    if (FAILED(hr)) {
      scope.Error("cpCommandBars->Add()", hr);
      return hr;
    }
    cpBar = varBar.pdispVal;
    hr = PutProperties(
        scope, cpBar,
        {{L"RowIndex", CComVariant(msoBarRowLast)}, {L"Enabled", CComVariant(true)}, {L"Visible", CComVariant(true)}});
  } else {
    hr = S_OK;
  }
  if (SUCCEEDED(hr)) hr = CInspectorEventHandler::Install(this, cpInspector);
  if (FAILED(hr)) return hr;
  if (bSent && bShow) {
    const CMailItemKey key(cpItem);
    if (key.IsValid()) SetMessageAction(key, action);
  }
  if (bExists || !bShow) return S_OK;
  if (bWordMail) CWordAppEventHandler::Install(cpInspector, wsName);
  return AddCommandBarControls(scope, cpBar, !bSent, ButtonCommand(action.dwKind));
}

HRESULT CComposeRibbon::AddCommandBarControls(CTraceScope& scope, IDispatch* pBar, bool bCompose, LONG lButtonCommand) {
  CComPtr<IDispatch> cpControls;
  HRESULT hr = LateBound::GetObjectProperty(pBar, L"Controls", &cpControls);
  if (FAILED(hr)) {
    scope.Error("cpCommandBars->get_Controls()", hr);
    return hr;
  }
  const std::wstring wsTip = LoadResourceString(IDS_CAPTION);
  if (lButtonCommand != kNoButton) {
    CComPtr<IDispatch> cpButton;
    hr = AddTemporaryControl(scope, cpControls, msoControlButton, "cpControls->Add(Office::msoControlButton)",
                             &cpButton);
    DWORD dwCookie = 0;
    if (SUCCEEDED(hr)) hr = SetUpButton(scope, cpButton, lButtonCommand, wsTip, false, &dwCookie);
    if (FAILED(hr)) return hr;
    m_mapButtons.emplace_back(cpButton, dwCookie);
  }
  CComPtr<IDispatch> cpControl;
  hr = AddTemporaryControl(scope, cpControls, msoControlPopup, "cpControls->Add(Office::msoControlPopup)", &cpControl);
  if (FAILED(hr)) return hr;
  CComPtr<IDispatch> cpPopup;
  hr = cpControl->QueryInterface(Office::IID_CommandBarPopup, reinterpret_cast<void**>(&cpPopup));
  if (FAILED(hr)) {
    scope.Error("QueryInterface(__uuidof(Office::CommandBarPopup))", hr);
    return hr;
  }
  hr = PutProperties(scope, cpPopup,
                     {{L"Caption", CComVariant(LoadResourceString(IDS_GROUP_LABEL).c_str())},
                      {L"TooltipText", CComVariant(wsTip.c_str())},
                      {L"BeginGroup", CComVariant(true)}});
  if (SUCCEEDED(hr)) hr = AddCommandBarButtonItems(cpPopup, bCompose ? VARIANT_TRUE : VARIANT_FALSE);
  if (SUCCEEDED(hr)) hr = PutProperties(scope, cpPopup, {{L"Parameter", CComVariant(NewGuidText().c_str())}});
  if (FAILED(hr)) return hr;
  m_mapPopups.emplace_back(cpPopup, bCompose);
  return S_OK;
}

HRESULT CComposeRibbon::AddCommandBarButtonItems(IDispatch* pPopup, VARIANT_BOOL bCompose) {
  CTraceScope scope("CComposeRibbon::AddCommandBarButtonItems()");
  if (!pPopup) return E_POINTER;
  CComPtr<IDispatch> cpMenuItems;
  HRESULT hr = LateBound::GetObjectProperty(pPopup, L"Controls", &cpMenuItems);
  if (FAILED(hr)) {
    scope.Error("pPopup->get_Controls()", hr);
    return hr;
  }
  const bool bCertificate = HasPersonalCertificate();
  const SMenuRow* pFirst = bCertificate ? std::begin(kItemsWithCertificate) : std::begin(kItemsWithoutCertificate);
  const SMenuRow* pEnd = bCertificate ? std::end(kItemsWithCertificate) : std::end(kItemsWithoutCertificate);
  for (const SMenuRow* pRow = pFirst; pRow != pEnd; ++pRow) {
    if (pRow->bComposeOnly && !bCompose) continue;
    CComPtr<IDispatch> cpItem;
    hr = AddTemporaryControl(scope, cpMenuItems, msoControlButton, "cpMenuItems->Add()", &cpItem);
    DWORD dwCookie = 0;
    if (SUCCEEDED(hr)) {
      hr = SetUpButton(scope, cpItem, pRow->lCommand, LoadResourceString(kCommandTexts[pRow->lCommand].nTip),
                       pRow->bBeginGroup, &dwCookie);
    }
    if (FAILED(hr)) return hr;
    m_mapMenuItems.emplace_back(cpItem, dwCookie);
  }
  return S_OK;
}

HRESULT CComposeRibbon::SetUpButton(CTraceScope& scope, IDispatch* pButton, LONG lCommand, const std::wstring& wsTip,
                                    bool bBeginGroup, DWORD* pdwCookie) {
  const std::wstring wsCaption = LoadResourceString(kCommandTexts[lCommand].nCaption);
  scope.Message("Button text: %ls", wsCaption.c_str());
  HRESULT hr = PutProperties(scope, pButton,
                             {{L"Tag", CComVariant(std::to_wstring(lCommand).c_str())},
                              {L"Style", CComVariant(LONG{msoButtonIconAndCaption})},
                              {L"Caption", CComVariant(wsCaption.c_str())},
                              {L"TooltipText", CComVariant(wsTip.c_str())},
                              {L"BeginGroup", CComVariant(bBeginGroup)},
                              {L"Parameter", CComVariant(NewGuidText().c_str())}});
  if (FAILED(hr)) return hr;
  // The sink holds the add-in until it is disconnected: it is connected last, so that no failing
  // step leaves one behind that nobody keeps.
  CComPtr<IUnknown> cpSelf(GetControllingUnknown());
  hr = CDispEventHandler::Advise(
      pButton, Office::DIID__CommandBarButtonEvents,
      [this, cpSelf](DISPID dispid, DISPPARAMS* pParams) -> HRESULT {
        CTraceScope sink("CButtonEventHandler::Invoke()");
        sink.Message("dispIdMember = 0x%08X", static_cast<unsigned>(dispid));
        if (dispid != kClickDispid) return E_NOTIMPL;
        // Click(Ctrl, CancelDefault): the last declared argument comes first.
        if (!pParams || pParams->cArgs < 2 || pParams->rgvarg[0].vt != (VT_BOOL | VT_BYREF)) return E_INVALIDARG;
        VARIANT_BOOL* pbCancelDefault = pParams->rgvarg[0].pboolVal;
        const VARIANT& varCtrl = pParams->rgvarg[1];
        if (*pbCancelDefault) return S_OK;
        HRESULT hrClick = S_OK;
        if (varCtrl.vt == VT_DISPATCH && varCtrl.pdispVal) {
          CComPtr<IDispatch> cpButton;
          hrClick =
              varCtrl.pdispVal->QueryInterface(Office::IID__CommandBarButton, reinterpret_cast<void**>(&cpButton));
          if (FAILED(hrClick)) sink.Error("QueryInterface(__uuidof(Office::_CommandBarButton))", hrClick);
          if (SUCCEEDED(hrClick)) hrClick = OnButtonClick(cpButton);
        }
        *pbCancelDefault = VARIANT_TRUE;
        return hrClick;
      },
      pdwCookie);
  if (FAILED(hr)) scope.Error("click sink Advise()", hr);
  return hr;
}

// Commands 1 to 3 answer a received message, which is not part of this build: they are refused,
// visibly in the trace.
HRESULT CComposeRibbon::OnButtonClick(IDispatch* pButton) {
  CTraceScope scope("CComposeRibbon::OnButtonClick()");
  if (!pButton) return E_POINTER;
  CComVariant varTag;
  HRESULT hr = LateBound::GetProperty(pButton, L"Tag", &varTag);
  if (SUCCEEDED(hr)) hr = varTag.ChangeType(VT_I4);
  if (FAILED(hr)) {
    scope.Error("cpButton->get_Tag()", hr);
    return hr;
  }
  const LONG lCommand = varTag.lVal;
  scope.Message("command %ld", static_cast<long>(lCommand));
  if (lCommand < 0 || lCommand >= kCommandCount) return S_OK;
  // The clicked control is in the window in front (Outlook's own editor included, which the
  // add-in's active-window helper leaves to the main window): its message, or the reading pane's.
  CComPtr<IDispatch> cpWindow, cpItem;
  hr = LateBound::GetObjectProperty(m_spApplication, L"ActiveWindow", &cpWindow);
  if (FAILED(hr)) {
    scope.Error("cpApplication->ActiveWindow()", hr);
    return hr;
  }
  BOOL bReadingPane = FALSE;
  const HRESULT hrItem = GetCurrentMailItem(cpWindow, &cpItem, &bReadingPane);
  switch (lCommand) {
    case kSecureSend:
    case kSign:
    case kSeal:
      if (FAILED(hrItem)) return hrItem;
      if (lCommand == kSign) return SendCurrentItem(cpItem, TRUE, FALSE, FALSE);
      if (lCommand == kSeal) return SendCurrentItem(cpItem, TRUE, TRUE, FALSE);
      return SendCurrentItem(cpItem, TRUE, (ReadUserSetting(kEmailSecurity) & kEmailSecuritySeal) != 0, TRUE);
    case kInvite:
    case kBatchInvite:
      // A message in the reading pane stays as it is: a new one becomes the invitation.
      if (FAILED(hrItem) || bReadingPane) cpItem.Release();
      return lCommand == kInvite ? SendInvitation(cpItem) : SendBatchInvitation(cpItem);
    case kRequestCertificate:
      return RunSuiteCommand(scope, SUCCEEDED(hrItem) ? cpItem.Get() : nullptr, UnkToHWnd(cpWindow),
                             L"CustomMenuRequestCert");
    default:
      break;
  }
  if (lCommand >= kFirstSuiteCommand)
    return RunSuiteCommand(scope, nullptr, nullptr, kSuiteCommandIds[lCommand - kFirstSuiteCommand]);
  // A received message's command: what its analysis found, kept under the message's key, or in
  // the reading pane under the button's.
  if (FAILED(hrItem)) return hrItem;
  const CMailItemKey key = bReadingPane ? CMailItemKey(ControlParameter(pButton).c_str(), L"") : CMailItemKey(cpItem);
  const SMessageAction action = GetMessageAction(key, false);
  const BOOL bIsReply = action.dwKind == kKindNewSigner && IsInvitationReply(cpItem);
  return ProcessMessage(cpItem, action.dwKind, action.wsText.c_str(), action.spCertificate.get(), bIsReply, nullptr);
}

// The reading pane's message gets the button before the add-in's menu on the Standard bar when
// the user can act on it; its record is kept under the button's Parameter.
HRESULT CComposeRibbon::OnPreviewItem(IDispatch* pExplorer, IDispatch* pItem) {
  CTraceScope scope("CComposeRibbon::OnPreviewItem()");
  if (!pExplorer) return E_POINTER;
  SMessageAction action;
  const bool bShow = pItem && GetBoolProperty(pItem, L"Sent") && AnalyzeForButton(scope, pItem, &action);
  CComPtr<IDispatch> cpCommandBars, cpBar, cpControls;
  HRESULT hr = LateBound::GetObjectProperty(pExplorer, L"CommandBars", &cpCommandBars);
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpCommandBars, L"Item", &cpBar, {CComVariant(L"Standard")});
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpBar, L"Controls", &cpControls);
  if (FAILED(hr)) {
    scope.Error("cpCommandBars->get_Item(Standard)", hr);
    return hr;
  }
  // The menu begins a group unless the button stands right before it.
  const std::wstring wsMenu = LoadResourceString(IDS_GROUP_LABEL);
  CComPtr<IDispatch> cpPopup;
  LONG lPopup = 0;
  hr = ForEachItem(cpControls, [&](LONG lIndex, IDispatch* pControl) {
    CComVariant varCaption;
    if (FAILED(LateBound::GetProperty(pControl, L"Caption", &varCaption)) || varCaption.vt != VT_BSTR ||
        wsMenu != (varCaption.bstrVal ? varCaption.bstrVal : L""))
      return true;
    cpPopup = pControl;
    lPopup = lIndex;
    return false;
  });
  if (SUCCEEDED(hr) && !cpPopup) hr = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  if (FAILED(hr)) {
    scope.Error("The add-in's menu is not on the Standard bar", hr);
    return hr;
  }
  CComPtr<IDispatch> cpButton;
  if (!GetBoolProperty(cpPopup, L"BeginGroup") && lPopup > 1)
    LateBound::GetObjectProperty(cpControls, L"Item", &cpButton, {CComVariant(lPopup - 1)});
  if (bShow && !cpButton) {
    DWORD dwCookie = 0;
    hr = AddTemporaryControl(scope, cpControls, msoControlButton, "cpControls->Add(Office::msoControlButton)",
                             &cpButton, lPopup);
    if (SUCCEEDED(hr)) {
      hr = SetUpButton(scope, cpButton, ButtonCommand(action.dwKind), LoadResourceString(IDS_CAPTION), true, &dwCookie);
    }
    if (FAILED(hr)) return hr;
    m_mapButtons.emplace_back(cpButton, dwCookie);
  } else if (bShow) {
    const LONG lCommand = ButtonCommand(action.dwKind);
    hr = PutProperties(scope, cpButton,
                       {{L"Tag", CComVariant(std::to_wstring(lCommand).c_str())},
                        {L"Caption", CComVariant(LoadResourceString(kCommandTexts[lCommand].nCaption).c_str())}});
    if (FAILED(hr)) return hr;
  }
  const std::wstring wsParameter = cpButton ? ControlParameter(cpButton) : L"";
  const CMailItemKey key(wsParameter.c_str(), L"");
  if (bShow) {
    SetMessageAction(key, action);
  } else if (cpButton) {
    GetMessageAction(key, true);
    ReleaseControl(m_mapButtons, wsParameter);
    hr = LateBound::Call(cpButton, L"Delete");
    if (FAILED(hr)) scope.Error("cpButton->Delete()", hr);
  }
  return PutProperties(scope, cpPopup, {{L"BeginGroup", CComVariant(!bShow)}});
}

// Word shares the add-in's toolbar between its windows: the one in front decides whether it shows.
HRESULT CComposeRibbon::OnInspectorActivate(IDispatch* pInspector) {
  CTraceScope scope("CComposeRibbon::OnInspectorActivate()");
  if (!IsWordMail(pInspector)) return S_OK;
  scope.Message("This is the Word Mail editor...");
  CComPtr<IDispatch> cpCommandBars, cpBar, cpItem;
  HRESULT hr = GetInspectorCommandBars(pInspector, &cpCommandBars);
  if (SUCCEEDED(hr)) hr = GetProductBar(cpCommandBars, &cpBar);
  if (FAILED(hr)) {
    scope.Error("Command bar does not exist!", hr);
    return hr;
  }
  hr = GetCurrentMailItem(pInspector, &cpItem, nullptr);
  if (FAILED(hr)) return hr;
  const bool bSent = GetBoolProperty(cpItem, L"Sent");
  scope.Message("Message is %hs", bSent ? "sent" : "not sent");
  // A received message shows the toolbar when its analysis offered an action.
  DWORD dwKind = kKindNone;
  if (bSent) {
    dwKind = GetMessageAction(CMailItemKey(cpItem), false).dwKind;
    scope.Message("Message type: %d", static_cast<int>(dwKind));
  }
  const LONG lCommand = ButtonCommand(dwKind);
  const bool bVisible = !bSent || lCommand != kSecureSend;
  scope.Message("Making the command bar %hs", bVisible ? "visible" : "invisible");
  hr = PutProperties(scope, cpBar, {{L"Enabled", CComVariant(bVisible)}, {L"Visible", CComVariant(bVisible)}});
  CComPtr<IDispatch> cpControls;
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpBar, L"Controls", &cpControls);
  if (FAILED(hr)) return hr;
  return ForEachItem(cpControls, [&](LONG lIndex, IDispatch* pControl) {
    if (lIndex == 1) scope.Message("Number of command bar controls: %d", static_cast<int>(CountItems(cpControls)));
    if (FindControl(m_mapButtons, ControlParameter(pControl)) == m_mapButtons.end()) return true;
    scope.Message("  This is our button!");
    PutProperties(scope, pControl,
                  {{L"Tag", CComVariant(std::to_wstring(lCommand).c_str())},
                   {L"Caption", CComVariant(LoadResourceString(kCommandTexts[lCommand].nCaption).c_str())}});
    return true;
  });
}

HRESULT CComposeRibbon::OnInspectorDeactivate(IDispatch* pInspector) {
  CTraceScope scope("CComposeRibbon::OnInspectorDeactivate()");
  if (IsWordMail(pInspector)) scope.Message("This is the Word Mail editor...");
  return S_OK;
}

// The window's controls go with it; their click sinks, which hold the add-in, are ended here, and
// the certificate signal no longer rebuilds the window's menu.
HRESULT CComposeRibbon::OnInspectorClose(IDispatch* pInspector) {
  CTraceScope scope("CComposeRibbon::OnInspectorClose()");
  CComPtr<IDispatch> cpItem;
  if (SUCCEEDED(GetCurrentMailItem(pInspector, &cpItem, nullptr))) {
    const CMailItemKey key(cpItem);
    if (key.IsValid()) GetMessageAction(key, true);
  }
  if (IsWordMail(pInspector)) {
    // Word keeps the toolbar for its other windows.
    scope.Message("This is the Word Mail editor. Don't touch command bars...");
    return S_OK;
  }
  CComPtr<IDispatch> cpCommandBars, cpBar, cpControls;
  HRESULT hr = LateBound::GetObjectProperty(pInspector, L"CommandBars", &cpCommandBars);
  if (FAILED(hr)) {
    scope.Error("pInspector->get_CommandBars()", hr);
    return hr;
  }
  hr = GetProductBar(cpCommandBars, &cpBar);
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpBar, L"Controls", &cpControls);
  if (FAILED(hr)) {
    scope.Error("Command bar does not exist!", hr);
    return hr;
  }
  return ForEachItem(cpControls, [&](LONG lIndex, IDispatch* pControl) {
    scope.Message("  Control %d", static_cast<int>(lIndex));
    const std::wstring wsParameter = ControlParameter(pControl);
    if (ReleaseControl(m_mapButtons, wsParameter)) {
      scope.Message("  This is our button!");
      return true;
    }
    const auto itPopup = FindControl(m_mapPopups, wsParameter);
    if (itPopup == m_mapPopups.end()) return true;
    scope.Message("  This is our menu!");
    CComPtr<IDispatch> cpItems;
    if (SUCCEEDED(LateBound::GetObjectProperty(pControl, L"Controls", &cpItems))) {
      ForEachItem(cpItems, [&](LONG, IDispatch* pItem) {
        ReleaseControl(m_mapMenuItems, ControlParameter(pItem));
        return true;
      });
    }
    m_mapPopups.erase(itPopup);
    return true;
  });
}

void CComposeRibbon::DeleteCommandBarControls() {
  DeleteControls(m_mapMenuItems);
  DeleteControls(m_mapPopups);
  DeleteControls(m_mapButtons);
}

// The menus follow the certificate: items are made again for every popup, in the order of the popups.
void CComposeRibbon::RebuildMenuItems() {
  DeleteControls(m_mapMenuItems);
  for (const auto& [cpPopup, bCompose] : m_mapPopups)
    AddCommandBarButtonItems(cpPopup, bCompose ? VARIANT_TRUE : VARIANT_FALSE);
}

void CComposeRibbon::SetMessageAction(const CMailItemKey& key, const SMessageAction& action) {
  CCriticalSectionLock lock(&m_csMessageActions);
  GetMessageActionLocked(key, true);
  m_mapMessageActions.emplace_back(key, action);
}

SMessageAction CComposeRibbon::GetMessageAction(const CMailItemKey& key, bool bRemove) {
  CCriticalSectionLock lock(&m_csMessageActions);
  return GetMessageActionLocked(key, bRemove);
}

SMessageAction CComposeRibbon::GetMessageActionLocked(const CMailItemKey& key, bool bRemove) {
  for (auto it = m_mapMessageActions.begin(); it != m_mapMessageActions.end(); ++it) {
    if (!(it->first == key)) continue;
    SMessageAction action = it->second;
    if (bRemove) m_mapMessageActions.erase(it);
    return action;
  }
  return {};
}
