#include "mail/Accounts.h"

#include <mapiutil.h>
#include <oleacc.h>

#include <functional>
#include <initializer_list>

#include "com/Bstr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/OfficeAddIn.h"
#include "hosts/Outlook.h"
#include "mail/ItemText.h"
#include "mail/MailItemKey.h"
#include "mail/MapiApi.h"
#include "mail/WindowHelpers.h"
#include "module/Trace.h"

namespace {

using Olk::IOlkAccount;

// The Standard bar's account menu of Outlook 2003's own compose window.
constexpr LONG kAccountMenuId = 31224;
// The address-book entry of a contact's e-mail address.
constexpr ULONG kContactEmailEntryId = 0x81B30102;
// The account stamp of a message, a named property of Outlook's common set.
constexpr LONG kAccountStampId = 0x8581;
GUID g_commonPropertySet = {0x00062008, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr ULONG kPrimarySendAccount = 0x0E28001F;
constexpr ULONG kNextSendAccount = 0x0E29001F;
constexpr ULONG kMapiSubsystem = 39;
constexpr ULONG kSmtpAddress = 0x39FE001F;  // PR_SMTP_ADDRESS_W
// mingw's library has a wrong IID_IAccessible.
constexpr IID kIIDAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// A menu entry that is checked or mixed is the account in use.
constexpr LONG kChosenStateMask = STATE_SYSTEM_CHECKED | STATE_SYSTEM_MIXED;

HRESULT GetInterfaceProp(IDispatch* pDisp, const wchar_t* wszName, REFIID riid, void** ppv,
                         std::initializer_list<VARIANT> args = {}) {
  *ppv = nullptr;
  CComVariant var;
  HRESULT hr = pDisp ? LateBound::GetProperty(pDisp, wszName, &var, args) : E_POINTER;
  if (FAILED(hr)) return hr;
  if ((var.vt != VT_DISPATCH && var.vt != VT_UNKNOWN) || !var.punkVal) return E_FAIL;
  return var.punkVal->QueryInterface(riid, ppv);
}

template <class T>
HRESULT GetInterfaceProp(IDispatch* pDisp, const wchar_t* wszName, REFIID riid, T** pp,
                         std::initializer_list<VARIANT> args = {}) {
  return GetInterfaceProp(pDisp, wszName, riid, reinterpret_cast<void**>(pp), args);
}

int OutlookVersion(IDispatch* pMailItem) {
  CComPtr<IDispatch> cpApplication;
  std::wstring wsVersion;
  if (FAILED(GetInterfaceProp(pMailItem, L"Application", IID_IDispatch, &cpApplication)) ||
      FAILED(GetTextProperty(cpApplication, L"Version", &wsVersion))) {
    return 0;
  }
  return _wtoi(wsVersion.c_str());
}

bool IsSent(IDispatch* pMailItem) {
  CComVariant var;
  return SUCCEEDED(LateBound::GetProperty(pMailItem, L"Sent", &var)) && SUCCEEDED(var.ChangeType(VT_BOOL)) &&
         var.boolVal != VARIANT_FALSE;
}

// A UTF-16 string property; MAPI_E_NOT_FOUND when it is missing or empty.
HRESULT GetMapiString(IMAPIProp* pProp, ULONG ulTag, std::wstring* pws) {
  SizedSPropTagArray(1, tags) = {1, {ulTag}};
  ULONG cValues = 0;
  SPropValue* pValue = nullptr;
  HRESULT hr = pProp->GetProps(reinterpret_cast<SPropTagArray*>(&tags), MAPI_UNICODE, &cValues, &pValue);
  if (FAILED(hr)) return hr;
  hr = cValues == 1 && pValue->ulPropTag == ulTag && pValue->Value.lpszW && *pValue->Value.lpszW ? S_OK
                                                                                                 : MAPI_E_NOT_FOUND;
  if (SUCCEEDED(hr)) *pws = pValue->Value.lpszW;
  MapiApi::FreeBuffer(pValue);
  return hr;
}

// The SMTP address (else the e-mail address) and the display name of an address-book entry;
// either out argument may be null.
HRESULT GetEntryAddress(IMAPISession* pSession, ULONG cb, const BYTE* pb, CTraceScope& trace, std::wstring* pwsAddress,
                        std::wstring* pwsName) {
  if (!pSession) return E_POINTER;
  ULONG ulType = 0;
  CComPtr<IUnknown> cpEntry;
  HRESULT hr = pSession->OpenEntry(cb, reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(pb)), nullptr, MAPI_BEST_ACCESS,
                                   &ulType, &cpEntry);
  if (FAILED(hr)) {
    trace.Error("pSession->OpenEntry()", hr);
    return hr;
  }
  CComPtr<IMAPIProp> cpProp;
  hr = cpEntry.QueryInterface(IID_IMAPIProp, &cpProp);
  if (SUCCEEDED(hr) && pwsAddress && FAILED(GetMapiString(cpProp, kSmtpAddress, pwsAddress))) {
    hr = GetMapiString(cpProp, PR_EMAIL_ADDRESS_W, pwsAddress);
  }
  if (SUCCEEDED(hr) && pwsName) hr = GetMapiString(cpProp, PR_DISPLAY_NAME_W, pwsName);
  return hr;
}

HRESULT GetEntryAddress(IMAPIProp* pProp, ULONG ulEntryIdTag, IMAPISession* pSession, CTraceScope& trace,
                        std::wstring* pwsAddress, std::wstring* pwsName) {
  BYTE* pb = nullptr;
  ULONG cb = 0;
  HRESULT hr = GetBinaryProp(pProp, ulEntryIdTag, &pb, &cb);
  if (FAILED(hr)) {
    trace.Error("GetBinaryProp()", hr);
    return hr;
  }
  hr = GetEntryAddress(pSession, cb, pb, trace, pwsAddress, pwsName);
  CoTaskMemFree(pb);
  return hr;
}

// An address has an at sign and, somewhere after it, a full stop.
bool IsAddress(const std::wstring& ws) {
  const size_t nAt = ws.find(L'@');
  return nAt != std::wstring::npos && ws.find(L'.', nAt) != std::wstring::npos;
}

// An Account object's address (Outlook 12 and later) and its user's name.
HRESULT AccountAddress(IDispatch* pAccount, int nVersion, std::wstring* pwsAddress, std::wstring* pwsName) {
  std::wstring wsAddress;
  GetTextProperty(pAccount, L"SmtpAddress", &wsAddress);
  if (wsAddress.empty() && nVersion >= 14) {
    CComPtr<IDispatch> cpUser, cpEntry;
    if (SUCCEEDED(GetInterfaceProp(pAccount, L"CurrentUser", IID_IDispatch, &cpUser)) &&
        SUCCEEDED(GetInterfaceProp(cpUser, L"AddressEntry", IID_IDispatch, &cpEntry))) {
      GetTextProperty(cpEntry, L"Address", &wsAddress);
    }
  }
  if (wsAddress.empty()) GetTextProperty(pAccount, L"DisplayName", &wsAddress);
  if (!IsAddress(wsAddress)) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  *pwsAddress = wsAddress;
  return pwsName ? GetTextProperty(pAccount, L"UserName", pwsName) : S_OK;
}

HRESULT GetOlkString(IOlkAccount* pAccount, DWORD dwProp, std::wstring* pws) {
  Olk::ACCT_VARIANT var = {};
  HRESULT hr = pAccount->GetProp(dwProp, &var);
  if (FAILED(hr)) return hr;
  if (var.dwType != PT_UNICODE) return E_UNEXPECTED;
  hr = var.Val.pwsz && *var.Val.pwsz ? S_OK : Olk::E_ACCT_NOT_FOUND;
  if (SUCCEEDED(hr)) *pws = var.Val.pwsz;
  pAccount->FreeMemory(reinterpret_cast<BYTE*>(var.Val.pwsz));
  return hr;
}

// An account manager account's address (else its identity entry's) and user name (else the
// identity entry's display name); pwsName may be null.
HRESULT OlkAccountAddress(IOlkAccount* pAccount, IMAPISession* pSession, CTraceScope& trace, std::wstring* pwsAddress,
                          std::wstring* pwsName) {
  const bool bAddress = SUCCEEDED(GetOlkString(pAccount, Olk::PROP_ACCT_USER_EMAIL_ADDR, pwsAddress));
  const bool bName = !pwsName || SUCCEEDED(GetOlkString(pAccount, Olk::PROP_ACCT_USER_DISPLAY_NAME, pwsName));
  if (bAddress && bName) return S_OK;
  Olk::ACCT_VARIANT var = {};
  HRESULT hr = pAccount->GetProp(Olk::PROP_MAPI_IDENTITY_ENTRYID, &var);
  if (FAILED(hr)) return hr;
  if (var.dwType != PT_BINARY) return E_UNEXPECTED;
  hr = GetEntryAddress(pSession, var.Val.bin.cb, var.Val.bin.pb, trace, bAddress ? nullptr : pwsAddress,
                       bName ? nullptr : pwsName);
  pAccount->FreeMemory(var.Val.bin.pb);
  return hr;
}

// Offers each mail account of the account manager to fn until it answers true; then S_OK,
// else ERROR_NOT_FOUND. The manager and its accounts are released on every path.
HRESULT FindOlkAccount(IDispatch* pApplication, CTraceScope& trace, const std::function<bool(IOlkAccount*)>& fn) {
  CComPtr<Olk::IOlkAccountManager> cpOlkAccountManager;
  HRESULT hr = CoCreateInstance(Olk::CLSID_OlkAccountManager, nullptr, CLSCTX_INPROC_SERVER,
                                Olk::IID_IOlkAccountManager, reinterpret_cast<void**>(&cpOlkAccountManager));
  if (FAILED(hr)) {
    trace.Error("CoCreateInstance(CLSID_OlkAccountManager)", hr);
    return hr;
  }
  CComPtr<Olk::IOlkAccountHelper> cpHelper(new COlkAccountHelper(pApplication));
  hr = cpOlkAccountManager->Init(cpHelper, Olk::ACCT_INIT_NOSYNCH_MAPI_ACCTS);
  if (FAILED(hr)) {
    trace.Error("cpOlkAccountManager->Init()", hr);
    return hr;
  }
  CComPtr<Olk::IOlkEnum> cpEnum;
  hr = cpOlkAccountManager->EnumerateAccounts(&Olk::CLSID_OlkMail, nullptr, Olk::OLK_ACCOUNT_NO_FLAGS, &cpEnum);
  if (FAILED(hr)) {
    trace.Error("cpOlkAccountManager->EnumerateAccounts()", hr);
    return hr;
  }
  for (;;) {
    CComPtr<IUnknown> cpUnknown;
    if (cpEnum->GetNext(&cpUnknown) != S_OK || !cpUnknown) break;
    CComPtr<IOlkAccount> cpAccount;
    if (SUCCEEDED(cpUnknown.QueryInterface(Olk::IID_IOlkAccount, &cpAccount)) && fn(cpAccount)) return S_OK;
  }
  return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

// CHILDID_SELF (VT_I4) or an argument left out (VT_ERROR, DISP_E_PARAMNOTFOUND): scode and
// lVal are the same member.
VARIANT LongVariant(VARTYPE vt, LONG l) {
  VARIANT var;
  var.vt = vt;
  var.lVal = l;
  return var;
}

HRESULT AccessibleLong(IAccessible* pAccessible, HRESULT (STDMETHODCALLTYPE IAccessible::*pfn)(VARIANT, VARIANT*),
                       LONG* pl) {
  CComVariant var;
  HRESULT hr = (pAccessible->*pfn)(LongVariant(VT_I4, CHILDID_SELF), &var);
  if (SUCCEEDED(hr)) hr = var.vt == VT_I4 ? S_OK : E_UNEXPECTED;
  if (SUCCEEDED(hr)) *pl = var.lVal;
  return hr;
}

HRESULT AccessibleChild(IAccessible* pParent, LONG lChild, IAccessible** ppChild) {
  CComVariant varChild(lChild);
  CComPtr<IDispatch> cpChild;
  HRESULT hr = pParent->get_accChild(varChild, &cpChild);
  if (SUCCEEDED(hr)) hr = cpChild ? cpChild->QueryInterface(kIIDAccessible, reinterpret_cast<void**>(ppChild)) : E_FAIL;
  return hr;
}

// The account of Word's mail envelope: the second word of the chosen entry of its account
// menu, which only accessibility shows.
HRESULT WordEnvelopeAccount(IDispatch* pInspector, CTraceScope& trace, std::wstring* pwsName) {
  trace.Message("WordMail...");
  HWND hwnd = nullptr;
  HRESULT hr = GetWordMailWindowHandle(pInspector, &hwnd);
  if (FAILED(hr)) return hr;
  hwnd = FindWindowExW(hwnd, nullptr, L"MsoCommandBarDock", L"MsoDockTop");
  for (const wchar_t* wszClass : {L"#32770", L"MsoCommandBar", L"MSO Generic Control Container"}) {
    if (hwnd) hwnd = FindWindowExW(hwnd, nullptr, wszClass, nullptr);
  }
  if (!hwnd) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  CComPtr<IAccessible> cpEnvelope, cpButton;
  hr = AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kIIDAccessible,
                                  reinterpret_cast<void**>(&cpEnvelope));
  if (SUCCEEDED(hr)) hr = AccessibleChild(cpEnvelope, 2, &cpButton);
  if (FAILED(hr)) {
    trace.Error("AccessibleObjectFromWindow()", hr);
    return hr;
  }
  const VARIANT varSelf = LongVariant(VT_I4, CHILDID_SELF);
  CComBSTR bsName;
  cpButton->get_accName(varSelf, &bsName);
  trace.Message("Second child: %ls", bsName.c_str());
  LONG lRole = 0;
  hr = AccessibleLong(cpButton, &IAccessible::get_accRole, &lRole);
  if (FAILED(hr) || lRole != ROLE_SYSTEM_BUTTONMENU) {
    trace.Message("Invalid role! ( 0x%x )", static_cast<unsigned>(lRole));
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  // The menu's entries exist while it is open; it is closed again afterwards.
  hr = cpButton->accDoDefaultAction(varSelf);
  LONG cEntries = 0;
  if (SUCCEEDED(hr)) hr = cpButton->get_accChildCount(&cEntries);
  for (LONG i = 1; SUCCEEDED(hr) && i <= cEntries && pwsName->empty(); ++i) {
    CComPtr<IAccessible> cpEntry;
    LONG lState = 0;
    if (FAILED(AccessibleChild(cpButton, i, &cpEntry)) ||
        FAILED(AccessibleLong(cpEntry, &IAccessible::get_accRole, &lRole)) || lRole != ROLE_SYSTEM_MENUITEM ||
        FAILED(AccessibleLong(cpEntry, &IAccessible::get_accState, &lState)) || !(lState & kChosenStateMask) ||
        FAILED(cpEntry->get_accName(varSelf, &bsName))) {
      continue;
    }
    std::wstring wsEntry(bsName.c_str());
    const size_t nStart = wsEntry.find_first_not_of(L' ', wsEntry.find(L' '));
    if (wsEntry.find(L' ') != std::wstring::npos && nStart != std::wstring::npos) {
      *pwsName = wsEntry.substr(nStart, wsEntry.find(L' ', nStart) - nStart);
    }
  }
  if (SUCCEEDED(hr)) cpButton->accDoDefaultAction(varSelf);
  if (SUCCEEDED(hr) && pwsName->empty()) hr = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  if (FAILED(hr)) trace.Error("oMenuNode.FindItemByStateMask()", hr);
  return hr;
}

// The first entry of the account menu of Outlook's own compose window, or Word's envelope's.
HRESULT ComposeWindowAccount(IDispatch* pMailItem, CTraceScope& trace, std::wstring* pwsName) {
  CComPtr<IDispatch> cpInspector;
  HRESULT hr = GetInterfaceProp(pMailItem, L"GetInspector", IID_IDispatch, &cpInspector);
  if (FAILED(hr)) {
    trace.Error("pMailItem->get_GetInspector", hr);
    return hr;
  }
  CComVariant varEditor;
  if (SUCCEEDED(LateBound::GetProperty(cpInspector, L"EditorType", &varEditor)) &&
      SUCCEEDED(varEditor.ChangeType(VT_I4)) && varEditor.lVal == Outlook::olEditorWord) {
    return WordEnvelopeAccount(cpInspector, trace, pwsName);
  }
  CComPtr<IDispatch> cpBars, cpBar, cpControls, cpFirst;
  CComPtr<IUnknown> cpPopup;
  hr = GetInterfaceProp(cpInspector, L"CommandBars", IID_IDispatch, &cpBars);
  CComVariant varName(L"Standard"), varId(kAccountMenuId), varVisible(true);
  if (SUCCEEDED(hr)) hr = GetInterfaceProp(cpBars, L"Item", IID_IDispatch, &cpBar, {varName});
  if (FAILED(hr)) {
    trace.Error("cpCommandBars->get_Item(\"Standard\")", hr);
    return hr;
  }
  const VARIANT varMissing = LongVariant(VT_ERROR, DISP_E_PARAMNOTFOUND);
  CComVariant varControl;
  hr = LateBound::Call(cpBar, L"FindControl", {varMissing, varId, varMissing, varVisible}, &varControl);
  if (SUCCEEDED(hr) && (varControl.vt != VT_DISPATCH || !varControl.pdispVal)) hr = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  if (FAILED(hr)) {
    trace.Error("cpCommandBar->FindControl()", hr);
    return hr;
  }
  trace.Message("Found the Account menu...");
  hr = varControl.pdispVal->QueryInterface(Office::IID_CommandBarPopup, reinterpret_cast<void**>(&cpPopup));
  if (FAILED(hr)) {
    trace.Error("QueryInterface(__uuidof(Office::CommandBarPopup))", hr);
    return hr;
  }
  CComVariant varFirst(1L);
  hr = GetInterfaceProp(varControl.pdispVal, L"Controls", IID_IDispatch, &cpControls);
  if (SUCCEEDED(hr)) hr = GetInterfaceProp(cpControls, L"Item", IID_IDispatch, &cpFirst, {varFirst});
  if (SUCCEEDED(hr)) hr = GetTextProperty(cpFirst, L"Caption", pwsName);
  if (FAILED(hr)) {
    trace.Error("cpAccountMenu->Controls->Item(1)", hr);
    return hr;
  }
  trace.Message("Account name: %ls", pwsName->c_str());
  return pwsName->empty() ? HRESULT_FROM_WIN32(ERROR_NOT_FOUND) : S_OK;
}

// What names the sending account of an Outlook 11 message, and the account property that
// holds the same text.
HRESULT FindAccountText(IDispatch* pMailItem, IMessage* pMessage, CTraceScope& trace, std::wstring* pwsText,
                        DWORD* pdwProp) {
  if (SUCCEEDED(GetMapiString(pMessage, kPrimarySendAccount, pwsText)) ||
      SUCCEEDED(GetMapiString(pMessage, kNextSendAccount, pwsText))) {
    *pdwProp = Olk::PROP_ACCT_SEND_STAMP;
    return S_OK;
  }
  MAPINAMEID name = {&g_commonPropertySet, MNID_ID, {kAccountStampId}};
  MAPINAMEID* pName = &name;
  SPropTagArray* pTags = nullptr;
  HRESULT hr = pMessage->GetIDsFromNames(1, &pName, 0, &pTags);
  if (FAILED(hr)) {
    trace.Error("cpMAPIMessage->GetIDsFromNames", hr);
  } else {
    trace.Message("pTags->cValues = %u", static_cast<unsigned>(pTags->cValues));
    const bool bStamp =
        pTags->cValues == 1 && PROP_TYPE(pTags->aulPropTag[0]) != PT_ERROR &&
        SUCCEEDED(GetMapiString(pMessage, PROP_TAG(PT_UNICODE, PROP_ID(pTags->aulPropTag[0])), pwsText));
    MapiApi::FreeBuffer(pTags);
    if (bStamp) {
      *pdwProp = Olk::PROP_ACCT_STAMP;
      return S_OK;
    }
  }
  hr = ComposeWindowAccount(pMailItem, trace, pwsText);
  if (SUCCEEDED(hr)) *pdwProp = Olk::PROP_ACCT_NAME;
  return hr;
}

HRESULT SendingAccount(IDispatch* pMailItem, CTraceScope& trace, std::wstring* pwsAddress, std::wstring* pwsName) {
  const int nVersion = OutlookVersion(pMailItem);
  if (nVersion >= 12) {
    CComPtr<IDispatch> cpAccount;
    HRESULT hr = GetInterfaceProp(pMailItem, L"SendUsingAccount", IID_IDispatch, &cpAccount);
    if (FAILED(hr)) {
      trace.Error("pMailItem->get_SendUsingAccount", hr);
      return hr;
    }
    return AccountAddress(cpAccount, nVersion, pwsAddress, pwsName);
  }
  CComPtr<IMessage> cpMessage;
  HRESULT hr = GetItemMessage(pMailItem, trace, &cpMessage);
  std::wstring wsText;
  DWORD dwProp = 0;
  if (SUCCEEDED(hr)) hr = FindAccountText(pMailItem, cpMessage, trace, &wsText, &dwProp);
  if (FAILED(hr)) return hr;
  trace.Message("Stamp: %ls", wsText.c_str());
  CComPtr<IDispatch> cpApplication;
  CComPtr<IMAPISession> cpSession;
  GetInterfaceProp(pMailItem, L"Application", IID_IDispatch, &cpApplication);
  GetSession(pMailItem, trace, &cpSession);
  HRESULT hrAccount = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  hr = FindOlkAccount(cpApplication, trace, [&](IOlkAccount* pAccount) {
    std::wstring wsValue;
    if (FAILED(GetOlkString(pAccount, dwProp, &wsValue))) return false;
    trace.Message("  - %ls", wsValue.c_str());
    if (lstrcmpiW(wsValue.c_str(), wsText.c_str())) return false;
    hrAccount = OlkAccountAddress(pAccount, cpSession, trace, pwsAddress, pwsName);
    return true;
  });
  return FAILED(hr) ? hr : hrAccount;
}

HRESULT SetOutText(const std::wstring& ws, BSTR* pbs) {
  if (!pbs) return S_OK;
  *pbs = SysAllocString(ws.c_str());
  return *pbs ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

// The MAPI session of an application or item, through its Session's MAPIOBJECT.
HRESULT GetSession(IDispatch* pObject, CTraceScope& trace, IMAPISession** ppSession) {
  CComPtr<IDispatch> cpNameSpace;
  HRESULT hr = GetInterfaceProp(pObject, L"Session", IID_IDispatch, &cpNameSpace);
  if (SUCCEEDED(hr)) hr = GetInterfaceProp(cpNameSpace, L"MAPIOBJECT", IID_IMAPISession, ppSession);
  if (FAILED(hr)) trace.Error("cpNameSpace->get_MAPIOBJECT", hr);
  return hr;
}

HRESULT GetItemMessage(IDispatch* pMailItem, CTraceScope& trace, IMessage** ppMessage) {
  HRESULT hr = GetInterfaceProp(pMailItem, L"MAPIOBJECT", IID_IMessage, ppMessage);
  if (FAILED(hr)) trace.Error("pMailItem->get_MAPIOBJECT", hr);
  return hr;
}

HRESULT GetSendUsingAccount(IDispatch* pMailItem, BSTR* pbsAddress, BSTR* pbsName) {
  CTraceScope trace("GetSendUsingAccount");
  if (pbsAddress) *pbsAddress = nullptr;
  if (pbsName) *pbsName = nullptr;
  if (!pMailItem || !pbsAddress) return E_POINTER;
  if (IsSent(pMailItem)) return E_INVALIDARG;
  std::wstring wsAddress, wsName;
  HRESULT hr = SendingAccount(pMailItem, trace, &wsAddress, &wsName);
  if (SUCCEEDED(hr)) hr = SetOutText(wsAddress, pbsAddress);
  if (SUCCEEDED(hr)) hr = SetOutText(wsName, pbsName);
  return hr;
}

HRESULT PutSendUsingAccount(IDispatch* pMailItem, LPCWSTR wszAddress) {
  CTraceScope trace("PutSendUsingAccount");
  if (!pMailItem || !wszAddress) return E_POINTER;
  if (IsSent(pMailItem)) return E_INVALIDARG;
  const int nVersion = OutlookVersion(pMailItem);
  if (nVersion >= 12) {
    CComPtr<IDispatch> cpNameSpace, cpAccounts;
    HRESULT hr = GetInterfaceProp(pMailItem, L"Session", IID_IDispatch, &cpNameSpace);
    if (SUCCEEDED(hr)) hr = GetInterfaceProp(cpNameSpace, L"Accounts", IID_IDispatch, &cpAccounts);
    CComVariant varCount;
    if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpAccounts, L"Count", &varCount);
    if (SUCCEEDED(hr)) hr = varCount.ChangeType(VT_I4);
    if (FAILED(hr)) {
      trace.Error("cpNameSpace->get_Accounts", hr);
      return hr;
    }
    for (LONG i = 1; i <= varCount.lVal; ++i) {
      CComPtr<IDispatch> cpAccount;
      CComVariant varIndex(i);
      std::wstring wsAddress;
      if (FAILED(GetInterfaceProp(cpAccounts, L"Item", IID_IDispatch, &cpAccount, {varIndex})) ||
          FAILED(AccountAddress(cpAccount, nVersion, &wsAddress, nullptr))) {
        continue;
      }
      trace.Message("- Account: %ls", wsAddress.c_str());
      if (lstrcmpiW(wsAddress.c_str(), wszAddress)) continue;
      trace.Message("Match!");
      hr = LateBound::PutProperty(pMailItem, L"SendUsingAccount", CComVariant(cpAccount.Get()));
      if (FAILED(hr)) trace.Error("pMailItem->put_SendUsingAccount", hr);
      return hr;
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  CComPtr<IMessage> cpMessage;
  CComPtr<IMAPISession> cpSession;
  CComPtr<IDispatch> cpApplication;
  HRESULT hr = GetItemMessage(pMailItem, trace, &cpMessage);
  if (FAILED(hr)) return hr;
  GetSession(pMailItem, trace, &cpSession);
  GetInterfaceProp(pMailItem, L"Application", IID_IDispatch, &cpApplication);
  HRESULT hrSet = S_OK;
  hr = FindOlkAccount(cpApplication, trace, [&](IOlkAccount* pAccount) {
    std::wstring wsAddress, wsStamp;
    if (FAILED(OlkAccountAddress(pAccount, cpSession, trace, &wsAddress, nullptr))) return false;
    trace.Message("%ls", wsAddress.c_str());
    if (lstrcmpiW(wsAddress.c_str(), wszAddress)) return false;
    trace.Message("Match!");
    hrSet = GetOlkString(pAccount, Olk::PROP_ACCT_SEND_STAMP, &wsStamp);
    for (ULONG ulTag : {kPrimarySendAccount, kNextSendAccount}) {
      SPropValue value = {};
      value.ulPropTag = ulTag;
      value.Value.lpszW = const_cast<LPWSTR>(wsStamp.c_str());
      if (SUCCEEDED(hrSet)) hrSet = MapiApi::HrSetOneProp(cpMessage, &value);
    }
    if (FAILED(hrSet)) trace.Error("HrSetOneProp(PR_PRIMARY_SEND_ACCT_W)", hrSet);
    return true;
  });
  return FAILED(hr) ? hr : hrSet;
}

HRESULT GetReceivedBy(IDispatch* pMailItem, BSTR* pbsAddress, BSTR* pbsName) {
  CTraceScope trace("GetReceivedBy");
  if (pbsAddress) *pbsAddress = nullptr;
  if (pbsName) *pbsName = nullptr;
  if (!pMailItem || !pbsAddress) return E_POINTER;
  CComPtr<IMessage> cpMessage;
  CComPtr<IMAPISession> cpSession;
  HRESULT hr = GetItemMessage(pMailItem, trace, &cpMessage);
  if (SUCCEEDED(hr)) hr = GetSession(pMailItem, trace, &cpSession);
  std::wstring wsAddress, wsName;
  if (SUCCEEDED(hr)) {
    hr = GetEntryAddress(cpMessage, PR_RECEIVED_BY_ENTRYID, cpSession, trace, &wsAddress, pbsName ? &wsName : nullptr);
  }
  if (FAILED(hr)) return hr;
  trace.Message("E-mail address: %ls", wsAddress.c_str());
  if (pbsName) trace.Message("User full name: %ls", wsName.c_str());
  hr = SetOutText(wsAddress, pbsAddress);
  if (SUCCEEDED(hr)) hr = SetOutText(wsName, pbsName);
  return hr;
}

HRESULT GetContactAddress(IMAPIProp* pContact, IMAPISession* pSession, BSTR* pbsAddress) {
  CTraceScope trace("GetContactAddress");
  if (pbsAddress) *pbsAddress = nullptr;
  if (!pContact || !pSession || !pbsAddress) return E_POINTER;
  std::wstring wsAddress;
  HRESULT hr = GetEntryAddress(pContact, kContactEmailEntryId, pSession, trace, &wsAddress, nullptr);
  return SUCCEEDED(hr) ? SetOutText(wsAddress, pbsAddress) : hr;
}

HRESULT GetContactItemAddress(IDispatch* pContactItem, BSTR* pbsAddress) {
  CTraceScope trace("GetContactItemAddress");
  if (pbsAddress) *pbsAddress = nullptr;
  if (!pContactItem || !pbsAddress) return E_POINTER;
  CComPtr<IMAPIProp> cpContact;
  CComPtr<IMAPISession> cpSession;
  HRESULT hr = GetInterfaceProp(pContactItem, L"MAPIOBJECT", IID_IMAPIProp, &cpContact);
  if (FAILED(hr)) trace.Error("pContactItem->get_MAPIOBJECT", hr);
  if (SUCCEEDED(hr)) hr = GetSession(pContactItem, trace, &cpSession);
  return SUCCEEDED(hr) ? GetContactAddress(cpContact, cpSession, pbsAddress) : hr;
}

COlkAccountHelper::COlkAccountHelper(IDispatch* pApplication) : CComObjectRoot(nullptr) {
  CTraceScope trace("COlkAccountHelper::COlkAccountHelper()");
  CComPtr<IMAPITable> cpTable;
  SRowSet* pRows = nullptr;
  HRESULT hr = GetSession(pApplication, trace, &m_cpSession);
  if (SUCCEEDED(hr)) hr = m_cpSession->GetStatusTable(0, &cpTable);
  ULONG cRows = 0;
  if (SUCCEEDED(hr)) hr = cpTable->GetRowCount(0, &cRows);
  if (SUCCEEDED(hr)) hr = cpTable->QueryRows(static_cast<LONG>(cRows), 0, &pRows);
  if (FAILED(hr)) trace.Error("cpSession->GetStatusTable()", hr);
  for (ULONG i = 0; pRows && i < pRows->cRows && m_wsIdentity.empty(); ++i) {
    const SRow& row = pRows->aRow[i];
    const SPropValue* pType = MapiApi::FindProp(row, PR_RESOURCE_TYPE);
    const SPropValue* pName = MapiApi::FindProp(row, PR_DISPLAY_NAME_A);
    if (!pType || pType->Value.l != static_cast<LONG>(kMapiSubsystem) || !pName || !pName->Value.lpszA) continue;
    const int cch = MultiByteToWideChar(CP_ACP, 0, pName->Value.lpszA, -1, nullptr, 0);
    if (cch <= 1) continue;
    m_wsIdentity.resize(cch - 1);
    MultiByteToWideChar(CP_ACP, 0, pName->Value.lpszA, -1, m_wsIdentity.data(), cch);
  }
  MapiApi::FreeRows(pRows);
  trace.Message("Identity: %ls, session is %s", m_wsIdentity.c_str(), m_cpSession ? "OK" : "NULL");
}

STDMETHODIMP COlkAccountHelper::GetIdentity(LPWSTR pwszIdentity, DWORD* pcch) {
  if (!pcch) return E_INVALIDARG;
  const DWORD cchName = static_cast<DWORD>(m_wsIdentity.size());
  if (*pcch <= cchName || !pwszIdentity) {
    *pcch = cchName + 1;
    return E_OUTOFMEMORY;
  }
  CopyMemory(pwszIdentity, m_wsIdentity.c_str(), (cchName + 1) * sizeof(WCHAR));
  *pcch = cchName;
  return S_OK;
}

STDMETHODIMP COlkAccountHelper::GetMapiSession(LPUNKNOWN* ppmsess) {
  if (!ppmsess) return E_INVALIDARG;
  *ppmsess = m_cpSession.Get();
  if (!*ppmsess) return E_FAIL;
  (*ppmsess)->AddRef();
  return S_OK;
}

void* COlkAccountHelper::FindInterface(REFIID riid) {
  return IsEqualIID(riid, Olk::IID_IOlkAccountHelper) ? static_cast<Olk::IOlkAccountHelper*>(this) : nullptr;
}
