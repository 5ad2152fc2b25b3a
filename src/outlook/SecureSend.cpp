// Secure sending in CComposeRibbon: the compose window's secure-send command records the user's
// choice and presses Outlook's own Send; Outlook's ItemSend applies the choice; the sent
// message's Close forgets it and locks the signing key again.
#include <oleacc.h>

#include <memory>

#include "com/Bstr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/OfficeAddIn.h"
#include "hosts/Outlook.h"
#include "mail/Invitations.h"
#include "mail/MessageSecurity.h"
#include "mail/WindowHelpers.h"
#include "module/MessageBox.h"
#include "module/Settings.h"
#include "outlook/ComposeRibbon.h"
#include "outlook/DispEventHandler.h"
#include "outlook/OutlookRestart.h"
#include "res/StringIds.h"

namespace {

constexpr int kFirstWithExecuteMso = 12;
// Outlook's own Send button on the compose window's "Standard" bar.
constexpr LONG kSendControlId = 2617;
// mingw's library has a wrong IID_IAccessible.
constexpr IID kIIDAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

VARIANT MissingArgument() {
  VARIANT var;
  var.vt = VT_ERROR;
  var.scode = DISP_E_PARAMNOTFOUND;
  return var;
}

// Outlook 2003's own editor: the visible control 2617 of the "Standard" bar.
HRESULT PressStandardSend(IDispatch* pInspector, CTraceScope& scope) {
  CComPtr<IDispatch> cpCommandBars, cpBar, cpSend;
  HRESULT hr = LateBound::GetObjectProperty(pInspector, L"CommandBars", &cpCommandBars);
  if (SUCCEEDED(hr)) hr = LateBound::GetObjectProperty(cpCommandBars, L"Item", &cpBar, {CComVariant(L"Standard")});
  if (SUCCEEDED(hr)) {
    hr = LateBound::GetObjectProperty(
        cpBar, L"FindControl", &cpSend,
        {MissingArgument(), CComVariant(kSendControlId), MissingArgument(), CComVariant(true)});
  }
  if (FAILED(hr)) {
    scope.Error("cpBar->FindControl(2617)", hr);
    return hr;
  }
  scope.Message("Found the Send button...");
  hr = LateBound::Call(cpSend, L"Execute");
  if (FAILED(hr)) scope.Error("cpSend->Execute()", hr);
  return hr;
}

// Outlook 2003 with Word: the first control of Word's mail envelope, reached through accessibility.
HRESULT PressEnvelopeSend(IDispatch* pInspector, CTraceScope& scope) {
  scope.Message("WordMail...");
  HWND hwnd = nullptr;
  HRESULT hr = GetWordMailWindowHandle(pInspector, &hwnd);
  if (FAILED(hr)) return hr;
  scope.Message("Inspector window: 0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hwnd)));
  hwnd = FindWindowExW(hwnd, nullptr, L"MsoCommandBarDock", L"MsoDockTop");
  // Word puts a dialog window between the dock and the bar.
  for (const wchar_t* wszClass : {L"#32770", L"MsoCommandBar", L"MSO Generic Control Container"}) {
    if (!hwnd) break;
    const HWND hwndChild = FindWindowExW(hwnd, nullptr, wszClass, nullptr);
    if (hwndChild || wcscmp(wszClass, L"#32770")) hwnd = hwndChild;
  }
  scope.Message("Envelope window: 0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hwnd)));
  if (!hwnd) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  CComPtr<IAccessible> cpEnvelope;
  hr = AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIIDAccessible,
                                  reinterpret_cast<void**>(&cpEnvelope));
  if (FAILED(hr)) {
    scope.Error("AccessibleObjectFromWindow()", hr);
    return hr;
  }
  VARIANT varSelf = {};
  varSelf.vt = VT_I4;
  varSelf.lVal = CHILDID_SELF;
  CComBSTR bsName;
  cpEnvelope->get_accName(varSelf, &bsName);
  scope.Message("Envelope control name: %ls", bsName.c_str() ? bsName.c_str() : L"");
  CComVariant varFirst;
  LONG cObtained = 0;
  hr = AccessibleChildren(cpEnvelope, 0, 1, &varFirst, &cObtained);
  if (SUCCEEDED(hr) && (cObtained != 1 || varFirst.vt != VT_DISPATCH || !varFirst.pdispVal)) hr = E_FAIL;
  CComPtr<IAccessible> cpSend;
  if (SUCCEEDED(hr)) hr = varFirst.pdispVal->QueryInterface(kIIDAccessible, reinterpret_cast<void**>(&cpSend));
  if (FAILED(hr)) {
    scope.Error("AccessibleChildren()", hr);
    return hr;
  }
  CComBSTR bsSend;
  cpSend->get_accName(varSelf, &bsSend);
  scope.Message("First child: %ls", bsSend.c_str() ? bsSend.c_str() : L"");
  hr = cpSend->accDoDefaultAction(varSelf);
  if (FAILED(hr)) scope.Error("cpSend->accDoDefaultAction()", hr);
  return hr;
}

}  // namespace

HRESULT CComposeRibbon::SendCurrentItem(IDispatch* pSource, BOOL bSign, BOOL bSeal, BOOL bQuiet) {
  CTraceScope scope("CComposeRibbon::SendCurrentItem()");
  return GuardComEntry(scope, [&]() -> HRESULT {
    if (!pSource) return E_POINTER;
    CComPtr<IDispatch> cpItem;
    HRESULT hr = pSource->QueryInterface(Outlook::IID__MailItem, reinterpret_cast<void**>(&cpItem));
    if (FAILED(hr)) {
      CComPtr<Office::IRibbonControl> cpControl;
      CComPtr<IDispatch> cpContext;
      hr = pSource->QueryInterface(Office::IID_IRibbonControl, reinterpret_cast<void**>(&cpControl));
      if (SUCCEEDED(hr)) hr = cpControl->get_Context(&cpContext);
      if (SUCCEEDED(hr)) hr = cpContext ? GetCurrentMailItem(cpContext, &cpItem, nullptr) : E_FAIL;
      if (FAILED(hr)) {
        scope.Error("GetCurrentMailItem()", hr);
        return hr;
      }
    }
    const HWND hwnd = GetMailItemWindow(cpItem);
    if (!m_bProfileReady) {
      VmMessageBox(hwnd, IDS_MSG_PROFILE_NOT_READY, IDS_CAPTION, MB_OK | MB_ICONERROR);
      return E_ABORT;
    }
    if (GetInvitationType(cpItem) == kInvitationNone) {
      hr = PresetMessageSecurity(cpItem, bSign, bSeal);
      if (FAILED(hr)) return hr;
      if (!(ReadUserSetting(kEmailSecurity) & kEmailSecurityNoAdvertisement)) InsertAdvertisement(cpItem);
    } else if (bSeal && !bQuiet &&
               VmMessageBox(hwnd, IDS_MSG_SEALED_INVITATION, IDS_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES) {
      // The send handler signs an invitation without sealing it.
      return E_ABORT;
    }
    CComPtr<IDispatch> cpInspector;
    hr = LateBound::GetObjectProperty(cpItem, L"GetInspector", &cpInspector);
    if (FAILED(hr)) {
      scope.Error("cpItem->GetInspector()", hr);
      return hr;
    }
    if (GetOutlookVersion(nullptr) >= kFirstWithExecuteMso) {
      CComPtr<IDispatch> cpCommandBars;
      hr = LateBound::GetObjectProperty(cpInspector, L"CommandBars", &cpCommandBars);
      return SUCCEEDED(hr) ? ExecuteOfficeCommand(cpCommandBars, CComBSTR(L"SendItem")) : hr;
    }
    return IsWordMail(cpInspector) ? PressEnvelopeSend(cpInspector, scope) : PressStandardSend(cpInspector, scope);
  });
}

HRESULT CComposeRibbon::OnItemSendEvent(DISPPARAMS* pParams) {
  CTraceScope scope("COutlookAppEventHandler::Invoke()");
  // ItemSend(Item, Cancel): the last declared argument comes first.
  if (!pParams || pParams->cArgs < 2 || pParams->rgvarg[0].vt != (VT_BOOL | VT_BYREF) ||
      pParams->rgvarg[1].vt != VT_DISPATCH || !pParams->rgvarg[1].pdispVal)
    return E_INVALIDARG;
  CComPtr<IDispatch> cpItem;
  const HRESULT hr =
      pParams->rgvarg[1].pdispVal->QueryInterface(Outlook::IID__MailItem, reinterpret_cast<void**>(&cpItem));
  if (FAILED(hr)) {
    // A meeting request or a task goes on as it is.
    scope.Error("QueryInterface(__uuidof(Outlook::_MailItem))", hr);
    return hr;
  }
  return OnItemSend(cpItem, pParams->rgvarg[0].pboolVal);
}

HRESULT CComposeRibbon::OnItemSend(IDispatch* pItem, VARIANT_BOOL* pbCancel) {
  CTraceScope scope("CComposeRibbon::OnItemSend()");
  try {
    CComBSTR bsContainer;
    const DWORD dwType = GetInvitationType(pItem);
    // Invitations and replies are signed, never sealed, whatever was chosen.
    const HRESULT hr = dwType == kInvitation || dwType == kInvitationReply
                           ? SetMessageSecurity(pItem, TRUE, FALSE, nullptr)
                           : ApplyMessageSecurity(pItem, &bsContainer, OutgoingMessageSecurity());
    if (FAILED(hr)) {
      scope.Error("the message's security", hr);
      *pbCancel = VARIANT_TRUE;
      return S_OK;
    }
    CComPtr<IDispatch> cpInspector;
    if (SUCCEEDED(LateBound::GetObjectProperty(pItem, L"GetInspector", &cpInspector)))
      InstallSentItemSink(pItem, bsContainer);
    return S_OK;
  } catch (...) {
    scope.Error("", E_UNEXPECTED);
    *pbCancel = VARIANT_TRUE;
    return S_OK;
  }
}

// The sent item's Close: its records are dropped and its signing key is locked again; then the
// sink lets go of the item.
void CComposeRibbon::InstallSentItemSink(IDispatch* pItem, const CComBSTR& bsContainer) {
  CTraceScope scope("CMailItemEventHandler::Install()");
  const auto spCookie = std::make_shared<DWORD>(0);
  CComPtr<IDispatch> cpItem(pItem);
  const auto spKey = std::make_shared<CMailItemKey>(pItem);
  const std::wstring wsContainer = bsContainer.c_str() ? bsContainer.c_str() : L"";
  const HRESULT hr = CDispEventHandler::Advise(
      pItem, Outlook::DIID_ItemEvents_10,
      [cpItem, spKey, wsContainer, spCookie](DISPID dispid, DISPPARAMS*) -> HRESULT {
        CTraceScope sink("CMailItemEventHandler::Invoke()");
        sink.Message("dispIdMember = 0x%08X", static_cast<unsigned>(dispid));
        if (dispid != Outlook::DISPID_ItemClose) return E_NOTIMPL;
        OnSentItemClose(*spKey, wsContainer.c_str());
        return CDispEventHandler::Unadvise(cpItem, Outlook::DIID_ItemEvents_10, *spCookie);
      },
      spCookie.get());
  if (FAILED(hr)) scope.Error("CDispEventHandler::Advise()", hr);
}

void CComposeRibbon::OnSentItemClose(const CMailItemKey& key, const wchar_t* wszContainer) {
  CTraceScope scope("OnSentItemClose()");
  RemoveInvitationData(key);
  RemoveMessageSecurityData(key);
  LockKeyContainer(wszContainer);
}
