#include "SimOutlook.h"

#include <mapiutil.h>
#include <oleacc.h>
#include <shlobj.h>

#include <algorithm>
#include <sstream>
#include <tuple>

#include "SimAccessible.h"
#include "SimAddIns.h"
#include "SimLabelPolicy.h"
#include "SimMime.h"
#include "SimRibbon.h"
#include "com/Bstr.h"
#include "hosts/FormRegion.h"
#include "hosts/OfficeAddIn.h"
#include "hosts/OfficeDocuments.h"
#include "hosts/Outlook.h"

namespace Sim {

std::wstring TempFileName(const wchar_t* wszPrefix) {
  wchar_t wszFolder[MAX_PATH] = {}, wszFile[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, wszFolder);
  GetTempFileNameW(wszFolder, wszPrefix, 0, wszFile);
  DeleteFileW(wszFile);
  return wszFile;
}
namespace {

constexpr wchar_t kExplorerClass[] = L"SimOutlookExplorer";
constexpr wchar_t kInspectorClass[] = L"SimOutlookInspector";
constexpr wchar_t kWordClass[] = L"OpusApp";  // Word's top-level window class
// The Standard bar's account menu of Outlook 2003's compose window, and its entries' id.
constexpr LONG kAccountsMenuId = 31224;
// Its Send button.
constexpr LONG kSendControlId = 2617;
constexpr LONG kCustomControlId = 1;
enum : LONG { msoControlButton = 1, msoControlPopup = 10 };
constexpr ULONG kSmtpAddressTag = 0x39FE001F;  // PR_SMTP_ADDRESS_W
// The address-book entry of a contact's first e-mail address.
constexpr ULONG kContactEntryIdTag = 0x81B30102;
// The profile section of the safe-senders list, and its property.
constexpr MAPIUID kSafeSendersSection = {
    {0x0A, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr ULONG kSafeSendersTag = 0x0418001F;
// How a message keeps its body: PR_NATIVE_BODY_INFO (1 plain, 2 RTF, 3 HTML) and PR_HTML,
// the HTML text in the code page PR_INTERNET_CPID names (UTF-8 here).
constexpr ULONG kNativeBodyTag = 0x10160003;
constexpr ULONG kHtmlTag = 0x10130102;
constexpr ULONG kInternetCpidTag = 0x3FDE0003;
enum : LONG { olFormatPlain = 1, olFormatHTML = 2, olFormatRichText = 3 };
enum : LONG { kNativePlain = 1, kNativeRtf = 2, kNativeHtml = 3 };

double Milliseconds(const LARGE_INTEGER& liStart) {
  LARGE_INTEGER liNow, liFrequency;
  QueryPerformanceCounter(&liNow);
  QueryPerformanceFrequency(&liFrequency);
  return 1000.0 * static_cast<double>(liNow.QuadPart - liStart.QuadPart) / static_cast<double>(liFrequency.QuadPart);
}

std::wstring GuidText(const GUID& guid) {
  wchar_t wsz[40] = {};
  StringFromGUID2(guid, wsz, 40);
  return wsz;
}

std::wstring TextProp(IMessage* pMessage, ULONG ulTag) {
  const PropMap& props = MessageStore(pMessage).m_props;
  auto it = props.find(PROP_ID(ulTag));
  return it == props.end() ? std::wstring() : PropText(it->second);
}

void SetTextProp(IMessage* pMessage, ULONG ulTag, const std::wstring& ws) {
  MessageStore(pMessage).m_props[PROP_ID(ulTag)] = MakeUnicodeProp(ulTag, ws);
}

LONG LongProp(IMessage* pMessage, ULONG ulTag) {
  const PropMap& props = MessageStore(pMessage).m_props;
  auto it = props.find(PROP_ID(ulTag));
  LONG l = 0;
  if (it != props.end() && it->second.data.size() >= sizeof l) CopyMemory(&l, it->second.data.data(), sizeof l);
  return l;
}

// A string property of the member table: get, and put when pws is writable.
MemberFn TextMember(std::wstring* pws) {
  return [pws](SCall& call) {
    if (call.wFlags & DISPATCH_PROPERTYPUT) return ArgString(call, call.args.size() - 1, pws);
    return SetBstr(call.pResult, *pws);
  };
}

constexpr wchar_t kEnvelopeClass[] = L"MSO Generic Control Container";

void RegisterClasses() {
  static const bool s_bRegistered = [] {
    for (const wchar_t* wszClass :
         {kExplorerClass, kInspectorClass, kWordClass, L"MsoCommandBarDock", L"MsoCommandBar", kEnvelopeClass}) {
      WNDCLASSW wc = {};
      wc.lpfnWndProc = wszClass == kEnvelopeClass ? AccessibleWindowProc : DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = wszClass;
      wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
      RegisterClassW(&wc);
    }
    return true;
  }();
  (void)s_bRegistered;
}

// Word's window of one document: its caption is the top-level window's title.
class CWordWindow final : public CDispatch {
 public:
  explicit CWordWindow(HWND hwnd) : CDispatch({Word::IID_Window}), m_hwnd(hwnd) {
    AddMember(L"Caption", DISPID_VALUE, [this](SCall& call) {
      if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBstr(call.pResult, Caption());
      std::wstring wsCaption;
      HRESULT hr = ArgString(call, call.args.size() - 1, &wsCaption);
      if (SUCCEEDED(hr) && !SetWindowTextW(m_hwnd, wsCaption.c_str())) hr = HRESULT_FROM_WIN32(GetLastError());
      return hr;
    });
  }

 private:
  std::wstring Caption() const {
    wchar_t wsz[512] = {};
    GetWindowTextW(m_hwnd, wsz, 512);
    return wsz;
  }
  HWND m_hwnd;
};

// Word shares its command bars between its windows: those of a Word-edited message window.
// A document of Word's in its window; Word's command bars are the application's, shared by all.
class CWordDocument final : public CDispatch {
 public:
  CWordDocument(HWND hwnd, CWordApplication* pWord, LONG lKind)
      : CDispatch({Word::IID__Document}), m_cpWindow(MakeObject<CWordWindow>(hwnd)), m_cpWord(pWord) {
    AddMember(L"ActiveWindow", 42, [this](SCall& call) { return SetObject(call.pResult, m_cpWindow); });
    AddMember(L"Application", 1,
              [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(m_cpWord)); });
    AddMember(L"CommandBars", 0x39, [this](SCall& call) {
      return SetObject(call.pResult, static_cast<IDispatch*>(m_cpWord->CommandBars()));
    });
    AddMember(L"Kind", 0x2B, [lKind](SCall& call) { return SetLong(call.pResult, lKind); });
  }
  IDispatch* Window() const { return m_cpWindow; }

 private:
  CComPtr<CWordWindow> m_cpWindow;
  CComPtr<CWordApplication> m_cpWord;
};

// Window objects alive, for counting the sinks left on them.
std::vector<CWindowObject*>& LiveWindows() {
  static std::vector<CWindowObject*> s_windows;
  return s_windows;
}

// The kinds of item a compose window holds. A meeting or a task goes out as a request, a
// separate item that the application's ItemSend is given.
struct SItemKind {
  LONG lItemType;  // CreateItem's
  LONG lClass;
  const wchar_t* wszMessageClass;
  IID iid;
  LONG lRequestClass;  // 0: sent as it is
  const wchar_t* wszRequestClass;
  IID requestIid;
};
const SItemKind kItemKinds[] = {
    {Outlook::olMailItem, Outlook::olMail, L"IPM.Note", Outlook::IID__MailItem, 0, L"", {}},
    {Outlook::olAppointmentItem, Outlook::olAppointment, L"IPM.Appointment", Outlook::IID__AppointmentItem,
     Outlook::olMeetingRequest, L"IPM.Schedule.Meeting.Request", Outlook::IID__MeetingItem},
    {Outlook::olTaskItem, Outlook::olTask, L"IPM.Task", Outlook::IID__TaskItem, Outlook::olTaskRequest,
     L"IPM.TaskRequest", Outlook::IID__TaskRequestItem},
};

const SItemKind* KindOfType(LONG lItemType) {
  for (const SItemKind& kind : kItemKinds)
    if (kind.lItemType == lItemType) return &kind;
  return nullptr;
}

// By the message class; a message without one is mail.
const SItemKind& KindOf(IMessage* pMessage) {
  const std::wstring wsClass = TextProp(pMessage, PR_MESSAGE_CLASS_W);
  for (const SItemKind& kind : kItemKinds)
    if (wsClass == kind.wszMessageClass) return kind;
  return kItemKinds[0];
}

// The members every item has: its message, class, subject and where it lives.
void AddItemBasics(CDispatch* pItem, COutlook* pOutlook, IMessage* pMessage, LONG lClass,
                   const wchar_t* wszMessageClass) {
  CComPtr<IMessage> cpMessage(pMessage);
  pItem->AddMember(L"MAPIOBJECT", 0xF100, [cpMessage](SCall& call) { return SetObject(call.pResult, cpMessage); });
  pItem->AddMember(L"Class", 0xF00A, [lClass](SCall& call) { return SetLong(call.pResult, lClass); });
  pItem->AddMember(L"MessageClass", 0x1A,
                   [wszMessageClass](SCall& call) { return SetBstr(call.pResult, wszMessageClass); });
  pItem->AddMember(L"Application", 0xF000,
                   [pOutlook](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(pOutlook)); });
  pItem->AddMember(L"Session", 0xF00B,
                   [pOutlook](SCall& call) { return SetObject(call.pResult, pOutlook->NameSpace()); });
}

class CMailItem final : public CDispatch {
 public:
  CMailItem(COutlook* pOutlook, IMessage* pMessage)
      : CDispatch({KindOf(pMessage).iid}), m_pOutlook(pOutlook), m_cpMessage(pMessage), m_kind(KindOf(pMessage)) {
    AddEvents(Outlook::DIID_ItemEvents_10);
    AddItemBasics(this, pOutlook, pMessage, m_kind.lClass, m_kind.wszMessageClass);
    AddTextMember(L"Subject", 0x37, PR_SUBJECT_W);
    AddMember(L"Recipients", 0xF814, [this](SCall& call) { return SetObject(call.pResult, m_cpRecipients); });
    if (m_kind.lClass == Outlook::olMail) {
      AddBodyMembers();
      AddAddressLine(L"To", 0xE04, PR_DISPLAY_TO_W, MAPI_TO);
      AddAddressLine(L"CC", 0xE03, PR_DISPLAY_CC_W, MAPI_CC);
      AddAddressLine(L"BCC", 0xE02, PR_DISPLAY_BCC_W, MAPI_BCC);
    } else {
      AddTextMember(L"Body", 0x9100, PR_BODY_W);
    }
    // An appointment goes out only as a meeting; a task only once it is assigned.
    if (m_kind.lClass == Outlook::olAppointment) {
      AddMember(L"MeetingStatus", 0x8217, [this](SCall& call) {
        if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetLong(call.pResult, m_lMeetingStatus);
        return ArgLong(call, call.args.size() - 1, &m_lMeetingStatus);
      });
    }
    if (m_kind.lClass == Outlook::olTask) {
      AddMember(L"Assign", 0xF620, [this](SCall&) {
        m_bAssigned = true;
        return S_OK;
      });
    }
    if (m_kind.lClass == Outlook::olMail && pOutlook->MajorVersion() >= 12) {
      // Outlook refuses to change the account of a message that has gone.
      AddMember(L"SendUsingAccount", 0xFAD1, [this](SCall& call) {
        if (!(call.wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
          return SetObject(call.pResult, m_cpAccount);
        VARIANT* pValue = Arg(call, call.args.size() - 1);
        if (!pValue || pValue->vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        if (!(LongProp(m_cpMessage, PR_MESSAGE_FLAGS) & MSGFLAG_UNSENT)) return E_ACCESSDENIED;
        m_cpAccount = pValue->pdispVal;
        return S_OK;
      });
    }
    AddMember(L"ReceivedByEntryID", 0x3F, [this](SCall& call) {
      const PropMap& props = MessageStore(m_cpMessage).m_props;
      auto it = props.find(PROP_ID(PR_RECEIVED_BY_ENTRYID));
      std::wstring wsHex;
      for (BYTE b : it == props.end() ? std::vector<BYTE>() : it->second.data) {
        wchar_t wsz[3];
        wsprintfW(wsz, L"%02X", b);
        wsHex += wsz;
      }
      return SetBstr(call.pResult, wsHex);
    });
    AddMember(L"ReceivedByName", 0x40,
              [this](SCall& call) { return SetBstr(call.pResult, TextProp(m_cpMessage, PR_RECEIVED_BY_NAME_W)); });
    // Recipients.Add(Name) writes a row of the message's recipient table; all resolve.
    m_cpRecipients->AddMember(L"Add", 0x6F, [this](SCall& call) {
      std::wstring wsName;
      HRESULT hr = ArgString(call, 0, &wsName);
      if (FAILED(hr)) return hr;
      hr = AddRecipient(wsName);
      if (FAILED(hr)) return hr;
      auto cpRecipient = MakeObject<CDispatch>(std::vector<IID>{Outlook::IID_Recipient});
      cpRecipient->AddMember(L"Name", 0x3001, [wsName](SCall& c) { return SetBstr(c.pResult, wsName); });
      cpRecipient->AddMember(L"Address", 0x3003, [wsName](SCall& c) { return SetBstr(c.pResult, wsName); });
      cpRecipient->AddMember(L"Resolved", 0x64, [](SCall& c) { return SetBool(c.pResult, true); });
      cpRecipient->AddMember(L"Resolve", 0x71, [](SCall& c) { return SetBool(c.pResult, true); });
      m_cpRecipients->m_items.push_back(cpRecipient.Get());
      return SetObject(call.pResult, cpRecipient.Get());
    });
    m_cpRecipients->AddMember(L"ResolveAll", 0x7E, [](SCall& call) { return SetBool(call.pResult, true); });
    AddMember(L"Sent", 0xF402, [this](SCall& call) {
      return SetBool(call.pResult, !(LongProp(m_cpMessage, PR_MESSAGE_FLAGS) & MSGFLAG_UNSENT));
    });
    AddMember(L"GetInspector", 0xF03E, [this, pOutlook](SCall& call) {
      CInspector* pInspector = nullptr;
      HRESULT hr = pOutlook->Open(m_cpMessage, &pInspector);
      return SUCCEEDED(hr) ? SetObject(call.pResult, static_cast<IDispatch*>(pInspector)) : hr;
    });
    AddMember(L"Display", 0xF0A6, [this, pOutlook](SCall&) {
      CInspector* pInspector = nullptr;
      HRESULT hr = pOutlook->Open(m_cpMessage, &pInspector);
      if (SUCCEEDED(hr)) pInspector->Activate();
      return hr;
    });
    if (m_kind.lClass == Outlook::olMail) {
      AddMember(L"Reply", 0xF810, [this, pOutlook](SCall& call) {
        CDispatch* pReply = nullptr;
        HRESULT hr = pOutlook->CreateReply(m_cpMessage, &pReply);
        return SUCCEEDED(hr) ? SetObject(call.pResult, static_cast<IDispatch*>(pReply)) : hr;
      });
    }
    AddMember(L"Send", 0xF075, [this, pOutlook](SCall&) {
      const bool bReady = m_kind.lClass == Outlook::olAppointment ? m_lMeetingStatus == Outlook::olMeeting
                          : m_kind.lClass == Outlook::olTask      ? m_bAssigned
                                                                  : true;
      return bReady ? pOutlook->SendItem(m_cpMessage) : E_UNEXPECTED;
    });
    AddMember(L"Close", 0xF023, [this, pOutlook](SCall& call) {
      LONG lMode = Outlook::olDiscard;
      ArgLong(call, 0, &lMode);
      if (CInspector* pInspector = pOutlook->InspectorOf(m_cpMessage))
        return pOutlook->CloseInspector(pInspector, lMode);
      return lMode == Outlook::olSave ? m_cpMessage->SaveChanges(KEEP_OPEN_READWRITE) : S_OK;
    });
  }

  // What the application's ItemSend is given: the item, or the request a meeting or task sends.
  CComPtr<IDispatch> SentItem() {
    if (!m_kind.lRequestClass) return CComPtr<IDispatch>(this);
    auto cpRequest = MakeObject<CDispatch>(std::vector<IID>{m_kind.requestIid});
    AddItemBasics(cpRequest, m_pOutlook, m_cpMessage, m_kind.lRequestClass, m_kind.wszRequestClass);
    CComPtr<IMessage> cpMessage(m_cpMessage);
    cpRequest->AddMember(L"Subject", 0x37,
                         [cpMessage](SCall& call) { return SetBstr(call.pResult, TextProp(cpMessage, PR_SUBJECT_W)); });
    return CComPtr<IDispatch>(static_cast<IDispatch*>(cpRequest));
  }

 private:
  void AddTextMember(const wchar_t* wszName, DISPID dispid, ULONG ulTag) {
    AddMember(wszName, dispid, [this, ulTag](SCall& call) {
      if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBstr(call.pResult, TextProp(m_cpMessage, ulTag));
      std::wstring ws;
      HRESULT hr = ArgString(call, call.args.size() - 1, &ws);
      if (SUCCEEDED(hr)) SetTextProp(m_cpMessage, ulTag, ws);
      return hr;
    });
  }
  // A recipient in the message's table, and in the address line that Outlook shows.
  HRESULT AddRecipient(const std::wstring& wsName, LONG lType = MAPI_TO) {
    SPropValue values[3] = {};
    values[0].ulPropTag = PR_DISPLAY_NAME_W;
    values[0].Value.lpszW = const_cast<LPWSTR>(wsName.c_str());
    values[1].ulPropTag = PR_EMAIL_ADDRESS_W;
    values[1].Value.lpszW = const_cast<LPWSTR>(wsName.c_str());
    values[2].ulPropTag = PR_RECIPIENT_TYPE;
    values[2].Value.l = lType;
    ADRLIST list = {1, {{0, 3, values}}};
    HRESULT hr = m_cpMessage->ModifyRecipients(MODRECIP_ADD, &list);
    const ULONG ulLineTag = LineTag(lType);
    const std::wstring wsLine = TextProp(m_cpMessage, ulLineTag);
    if (SUCCEEDED(hr)) SetTextProp(m_cpMessage, ulLineTag, wsLine.empty() ? wsName : wsLine + L"; " + wsName);
    return hr;
  }
  static ULONG LineTag(LONG lType) {
    return lType == MAPI_BCC ? PR_DISPLAY_BCC_W : lType == MAPI_CC ? PR_DISPLAY_CC_W : PR_DISPLAY_TO_W;
  }
  // Putting an address line replaces the recipients of its kind with the line's entries
  // (separated by ";"), each of which Outlook resolves.
  void AddAddressLine(const wchar_t* wszName, DISPID dispid, ULONG ulLineTag, LONG lType) {
    AddMember(wszName, dispid, [this, ulLineTag, lType](SCall& call) {
      if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBstr(call.pResult, TextProp(m_cpMessage, ulLineTag));
      std::wstring wsLine;
      HRESULT hr = ArgString(call, call.args.size() - 1, &wsLine);
      if (SUCCEEDED(hr)) hr = ReplaceRecipients(lType, wsLine);
      return hr;
    });
  }
  HRESULT ReplaceRecipients(LONG lType, const std::wstring& wsLine) {
    CComPtr<IMAPITable> cpTable;
    HRESULT hr = m_cpMessage->GetRecipientTable(0, &cpTable);
    SRowSet* pRows = nullptr;
    if (SUCCEEDED(hr)) hr = cpTable->QueryRows(1000, 0, &pRows);
    if (FAILED(hr)) return hr;
    std::vector<SRow> kept;
    for (ULONG i = 0; i < pRows->cRows; ++i) {
      const SRow& row = pRows->aRow[i];
      const bool bOfType = std::any_of(row.lpProps, row.lpProps + row.cValues, [lType](const SPropValue& value) {
        return value.ulPropTag == PR_RECIPIENT_TYPE && value.Value.l == lType;
      });
      if (!bOfType) kept.push_back(row);
    }
    std::vector<BYTE> list(CbNewADRLIST(kept.size()));
    auto* pList = reinterpret_cast<ADRLIST*>(list.data());
    pList->cEntries = static_cast<ULONG>(kept.size());
    for (size_t i = 0; i < kept.size(); ++i) pList->aEntries[i] = {0, kept[i].cValues, kept[i].lpProps};
    hr = m_cpMessage->ModifyRecipients(0, pList);
    // The platform's mapi32 has no FreeProws.
    for (ULONG i = 0; i < pRows->cRows; ++i) MAPIFreeBuffer(pRows->aRow[i].lpProps);
    MAPIFreeBuffer(pRows);
    SetTextProp(m_cpMessage, LineTag(lType), L"");
    std::wistringstream entries(wsLine);
    for (std::wstring wsEntry; SUCCEEDED(hr) && std::getline(entries, wsEntry, L';');) {
      wsEntry.erase(0, wsEntry.find_first_not_of(L' '));
      wsEntry.erase(wsEntry.find_last_not_of(L' ') + 1);
      if (!wsEntry.empty()) hr = AddRecipient(wsEntry, lType);
    }
    return hr;
  }

  LONG BodyFormat() const {
    const LONG lNative = LongProp(m_cpMessage, kNativeBodyTag);
    return lNative == kNativeHtml ? olFormatHTML : lNative == kNativeRtf ? olFormatRichText : olFormatPlain;
  }
  std::wstring Html() const {
    const PropMap& props = MessageStore(m_cpMessage).m_props;
    auto it = props.find(PROP_ID(kHtmlTag));
    if (it == props.end()) return L"";
    const std::string s(it->second.data.begin(), it->second.data.end());
    std::wstring ws(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), ws.data(), static_cast<int>(ws.size()));
    return ws;
  }
  void SetHtml(const std::wstring& wsHtml) {
    std::string s(
        WideCharToMultiByte(CP_UTF8, 0, wsHtml.data(), static_cast<int>(wsHtml.size()), nullptr, 0, nullptr, nullptr),
        '\0');
    WideCharToMultiByte(CP_UTF8, 0, wsHtml.data(), static_cast<int>(wsHtml.size()), s.data(),
                        static_cast<int>(s.size()), nullptr, nullptr);
    PropMap& props = MessageStore(m_cpMessage).m_props;
    props[PROP_ID(kHtmlTag)] = MakeBinaryProp(kHtmlTag, s.data(), s.size());
    props[PROP_ID(kInternetCpidTag)] = MakeLongProp(kInternetCpidTag, CP_UTF8);
    props[PROP_ID(kNativeBodyTag)] = MakeLongProp(kNativeBodyTag, kNativeHtml);
  }
  // Outlook keeps the text of an HTML body as the plain body, and an HTML rendition of a
  // plain text put on an HTML message.
  static std::wstring TextOfHtml(const std::wstring& wsHtml) {
    std::wstring wsText;
    bool bInTag = false;
    for (wchar_t wch : wsHtml) {
      if (wch == L'<' || wch == L'>')
        bInTag = wch == L'<';
      else if (!bInTag)
        wsText += wch;
    }
    return wsText;
  }
  static std::wstring HtmlOfText(const std::wstring& wsText) {
    std::wstring wsHtml = L"<html><body><p>";
    for (wchar_t wch : wsText) {
      wsHtml += wch == L'<' ? L"&lt;" : wch == L'>' ? L"&gt;" : wch == L'&' ? L"&amp;" : std::wstring(1, wch);
    }
    return wsHtml + L"</p></body></html>";
  }
  void AddBodyMembers() {
    AddMember(L"Body", 0x9100, [this](SCall& call) {
      if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBstr(call.pResult, TextProp(m_cpMessage, PR_BODY_W));
      std::wstring ws;
      HRESULT hr = ArgString(call, call.args.size() - 1, &ws);
      if (FAILED(hr)) return hr;
      SetTextProp(m_cpMessage, PR_BODY_W, ws);
      if (BodyFormat() == olFormatHTML) SetHtml(HtmlOfText(ws));
      return S_OK;
    });
    // Putting an HTML body makes the message an HTML message.
    AddMember(L"HTMLBody", 0xF404, [this](SCall& call) {
      if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBstr(call.pResult, Html());
      std::wstring ws;
      HRESULT hr = ArgString(call, call.args.size() - 1, &ws);
      if (FAILED(hr)) return hr;
      SetHtml(ws);
      SetTextProp(m_cpMessage, PR_BODY_W, TextOfHtml(ws));
      return S_OK;
    });
    AddMember(L"BodyFormat", 0xFA49, [this](SCall& call) {
      if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetLong(call.pResult, BodyFormat());
      LONG lFormat = 0;
      HRESULT hr = ArgLong(call, call.args.size() - 1, &lFormat);
      if (FAILED(hr)) return hr;
      if (lFormat < olFormatPlain || lFormat > olFormatRichText) return E_INVALIDARG;
      if (lFormat == BodyFormat()) return S_OK;
      PropMap& props = MessageStore(m_cpMessage).m_props;
      if (lFormat == olFormatHTML) {
        SetHtml(HtmlOfText(TextProp(m_cpMessage, PR_BODY_W)));
      } else {
        props.erase(PROP_ID(kHtmlTag));
        props[PROP_ID(kNativeBodyTag)] =
            MakeLongProp(kNativeBodyTag, lFormat == olFormatPlain ? kNativePlain : kNativeRtf);
      }
      return S_OK;
    });
  }

  COutlook* m_pOutlook;
  CComPtr<IMessage> m_cpMessage;
  const SItemKind& m_kind;
  LONG m_lMeetingStatus = Outlook::olNonMeeting;
  bool m_bAssigned = false;
  CComPtr<CCollection> m_cpRecipients = MakeObject<CCollection>(std::vector<IID>{Outlook::IID_Recipients});

 public:
  // The sender of the message replied to, on the To line.
  HRESULT AddressTo(const std::wstring& wsAddress) { return ReplaceRecipients(MAPI_TO, wsAddress); }
  CComPtr<IDispatch> m_cpAccount;  // SendUsingAccount
};

}  // namespace

class CWindowObject::COleWindow final : public IOleWindow {
 public:
  explicit COleWindow(CWindowObject* pOwner) : m_pOwner(pOwner) {}
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return m_pOwner->QueryInterface(riid, ppv); }
  STDMETHOD_(ULONG, AddRef)() override { return m_pOwner->AddRef(); }
  STDMETHOD_(ULONG, Release)() override { return m_pOwner->Release(); }
  STDMETHOD(GetWindow)(HWND* phwnd) override {
    if (!phwnd) return E_POINTER;
    *phwnd = m_pOwner->ReportsWindow() ? m_pOwner->m_hwnd : nullptr;
    return *phwnd ? S_OK : E_FAIL;
  }
  STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }

 private:
  CWindowObject* m_pOwner;
};

CWindowObject::CWindowObject(COutlook* pOutlook, const IID& iid, const IID& eventsIid, const wchar_t* wszClass,
                             const std::wstring& wsTitle)
    : CDispatch({iid}), m_pOutlook(pOutlook), m_eventsIid(eventsIid), m_pOleWindow(std::make_unique<COleWindow>(this)) {
  LiveWindows().push_back(this);
  AddEvents(eventsIid);
  m_cpCommandBars.Attach(
      new CCommandBars([pOutlook](const std::wstring& wsIdMso) { return pOutlook->ExecuteMso(wsIdMso); }));
  AddMember(L"CommandBars", 0x2100,
            [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(m_cpCommandBars)); });
  RegisterClasses();
  m_hwnd = CreateWindowExW(0, wszClass, wsTitle.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 800, 600,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  m_cpCommandBars->SetWindow(m_hwnd);
  AddMember(L"Activate", 0x2113, [this](SCall&) {
    Activate();
    return S_OK;
  });
  AddMember(L"Caption", 0x2111, [this](SCall& call) {
    wchar_t wsz[512] = {};
    GetWindowTextW(m_hwnd, wsz, 512);
    return SetBstr(call.pResult, wsz);
  });
}

CWindowObject::~CWindowObject() {
  if (m_hwnd) DestroyWindow(m_hwnd);
  std::erase(LiveWindows(), this);
}

size_t CWindowObject::LiveSinkCount(const IID& eventsIid) {
  size_t cSinks = 0;
  for (const CWindowObject* pWindow : LiveWindows()) cSinks += pWindow->SinkCount(eventsIid);
  return cSinks;
}

void CWindowObject::Activate() {
  SetWindowPos(m_hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(m_hwnd);
  m_pOutlook->Log(L"Activate window " + std::to_wstring(reinterpret_cast<UINT_PTR>(m_hwnd)));
  m_pOutlook->WindowActivated(this);
}

void* CWindowObject::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IOleWindow)) return m_pOleWindow.get();
  return CDispatch::FindInterface(riid);
}

CExplorer::CExplorer(COutlook* pOutlook)
    : CWindowObject(pOutlook, Outlook::IID__Explorer, Outlook::DIID_ExplorerEvents_10, kExplorerClass,
                    L"Inbox - Outlook") {
  // Main windows of Outlook 2010 and later have a ribbon instead.
  if (pOutlook->MajorVersion() < 14) CommandBars()->AddBar(L"Standard");
  AddMember(L"IsPaneVisible", 0x2203, [this](SCall& call) {
    LONG lPane = 0;
    HRESULT hr = ArgLong(call, 0, &lPane);
    return SUCCEEDED(hr) ? SetBool(call.pResult, lPane == Outlook::olPreview && m_bPreviewPane) : hr;
  });
  AddMember(L"ShowPane", 0x2204, [this](SCall& call) {
    LONG lPane = 0, lVisible = 0;
    HRESULT hr = ArgLong(call, 0, &lPane);
    if (SUCCEEDED(hr)) hr = ArgLong(call, 1, &lVisible);
    if (SUCCEEDED(hr) && lPane == Outlook::olPreview) {
      m_bPreviewPane = lVisible != 0;
      if (m_bPreviewPane) {
        m_pOutlook->ReadInPane();
      } else {
        m_pOutlook->ClosePreviewRegions();
      }
    }
    return hr;
  });
  AddMember(L"Display", 0x2104, [this](SCall&) {
    Activate();
    return S_OK;
  });
  // As in Outlook, the selection hands out item objects of its own, not those of open windows.
  AddMember(L"Selection", 0x2202, [this](SCall& call) {
    auto cpSelection = MakeObject<CCollection>(std::vector<IID>{Outlook::IID_Selection});
    for (size_t pos : m_pOutlook->Selection()) {
      cpSelection->m_items.push_back(m_pOutlook->SelectionItem(m_pOutlook->CurrentFolder()[pos - 1]));
    }
    return SetObject(call.pResult, static_cast<IDispatch*>(cpSelection));
  });
}

CInspector::CInspector(COutlook* pOutlook, IMessage* pMessage, bool bWordEditor)
    : CWindowObject(pOutlook, Outlook::IID__Inspector, Outlook::DIID_InspectorEvents_10,
                    bWordEditor ? kWordClass : kInspectorClass,
                    TextProp(pMessage, PR_SUBJECT_W).empty() ? L"Untitled - Message"
                                                             : TextProp(pMessage, PR_SUBJECT_W) + L" - Message"),
      m_cpMessage(pMessage),
      m_bWordEditor(bWordEditor) {
  if (bWordEditor) {
    m_cpDocument = pOutlook->Word()->NewDocument(m_hwnd, Word::wdDocumentEmail);
    ShareCommandBars(pOutlook->Word()->CommandBars());
  }
  AddMember(L"CurrentItem", 0x2102,
            [this](SCall& call) { return SetObject(call.pResult, m_pOutlook->MailItem(m_cpMessage)); });
  AddMember(L"WordEditor", 0x210F, [this](SCall& call) { return SetObject(call.pResult, m_cpDocument); });
  AddMember(L"IsWordMail", 0x2105, [this](SCall& call) { return SetBool(call.pResult, m_bWordEditor); });
  AddMember(L"EditorType", 0x2110, [this](SCall& call) {
    return SetLong(call.pResult, m_bWordEditor ? Outlook::olEditorWord : Outlook::olEditorHTML);
  });
  AddMember(L"Close", 0x2103, [this](SCall& call) {
    LONG lMode = Outlook::olDiscard;
    ArgLong(call, 0, &lMode);
    return m_pOutlook->CloseInspector(this, lMode);
  });
  AddMember(L"Display", 0x2104, [this](SCall&) {
    Activate();
    return S_OK;
  });
}

void CInspector::AddEnvelope(const std::vector<std::wstring>& accountNames) {
  auto cpEnvelope = MakeObject<CAccessibleNode>(ROLE_SYSTEM_CLIENT, L"Envelope");
  auto cpMenu = MakeObject<CAccessibleNode>(ROLE_SYSTEM_BUTTONMENU, L"Account");
  cpMenu->m_bMenu = true;
  for (size_t i = 0; i < accountNames.size(); ++i) {
    cpMenu->m_children.push_back(MakeObject<CAccessibleNode>(
        ROLE_SYSTEM_MENUITEM, std::to_wstring(i + 1) + L" " + accountNames[i], i ? 0 : STATE_SYSTEM_CHECKED));
  }
  auto cpSend = MakeObject<CAccessibleNode>(ROLE_SYSTEM_PUSHBUTTON, L"Send");
  // Word's Send button sends the message the envelope belongs to.
  cpSend->m_fnAction = [pOutlook = m_pOutlook, pMessage = m_cpMessage.Get()] { pOutlook->SendItem(pMessage); };
  cpEnvelope->m_children = {cpSend, cpMenu};
  HWND hwnd = m_hwnd;
  for (const auto& [wszClass, wszTitle] : {std::pair{L"MsoCommandBarDock", L"MsoDockTop"}, std::pair{L"#32770", L""},
                                           std::pair{L"MsoCommandBar", L"Envelope"}, std::pair{kEnvelopeClass, L""}}) {
    hwnd = CreateWindowExW(0, wszClass, wszTitle, WS_CHILD | WS_VISIBLE, 0, 0, 400, 60, hwnd, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cpEnvelope.Get()));
  m_cpEnvelope = static_cast<IDispatch*>(cpEnvelope);
}

CWordApplication::CWordApplication(COutlook* pOutlook) : CDispatch({Word::IID__Application}) {
  AddEvents(Word::DIID_ApplicationEvents4);
  // Word is of Outlook's version: ExecuteMso from 2007, on the message in front.
  m_cpCommandBars.Attach(
      new CCommandBars([pOutlook](const std::wstring& wsIdMso) { return pOutlook->ExecuteMso(wsIdMso); }));
  AddMember(L"CommandBars", 0x39,
            [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(m_cpCommandBars)); });
}

CComPtr<CDispatch> CWordApplication::NewDocument(HWND hwnd, LONG lKind) {
  CComPtr<CDispatch> cpDocument;
  cpDocument.Attach(new CWordDocument(hwnd, this, lKind));
  return cpDocument;
}

void CWordApplication::FireWindowEvent(DISPID dispid, CDispatch* pDocument) {
  CVariant varDocument(static_cast<IDispatch*>(pDocument));
  CVariant varWindow(static_cast<CWordDocument*>(pDocument)->Window());
  Fire(Word::DIID_ApplicationEvents4, dispid, {varDocument, varWindow});
}

void CWordApplication::WindowActivated(CDispatch* pDocument) {
  if (m_cpActiveDocument == pDocument) return;
  if (m_cpActiveDocument) FireWindowEvent(Word::DISPID_WindowDeactivate, m_cpActiveDocument);
  m_cpActiveDocument = pDocument;
  if (pDocument) FireWindowEvent(Word::DISPID_WindowActivate, pDocument);
}

void CWordApplication::WindowClosed(CDispatch* pDocument) {
  if (m_cpActiveDocument == pDocument) WindowActivated(nullptr);
}

void CWordApplication::Quit() {
  WindowActivated(nullptr);
  Fire(Word::DIID_ApplicationEvents4, Word::DISPID_Quit);
}

CComAddIn::CComAddIn(const std::wstring& wsProgId, const CLSID& clsid, const std::wstring& wsDescription)
    : CDispatch({Office::IID_COMAddIn}),
      m_wsProgId(wsProgId),
      m_wsGuid(GuidText(clsid)),
      m_wsDescription(wsDescription) {
  AddMember(L"Description", DISPID_VALUE, TextMember(&m_wsDescription));
  AddMember(L"ProgId", 3, [this](SCall& call) { return SetBstr(call.pResult, m_wsProgId); });
  AddMember(L"Guid", 4, [this](SCall& call) { return SetBstr(call.pResult, m_wsGuid); });
  AddMember(L"Connect", 6, [this](SCall& call) { return SetBool(call.pResult, m_bConnect); });
  AddMember(L"Object", 7, [this](SCall& call) {
    if (!(call.wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) return SetObject(call.pResult, m_cpObject);
    VARIANT* pValue = Arg(call, call.args.size() - 1);
    if (!pValue || (pValue->vt != VT_DISPATCH && pValue->vt != VT_UNKNOWN)) return DISP_E_TYPEMISMATCH;
    m_cpObject.Release();
    return pValue->punkVal ? pValue->punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_cpObject))
                           : S_OK;
  });
}

namespace {

// Outlook.Application's class object in the local server: every client gets the one application.
// It holds the application weakly: Quit revokes it before the application can go.
class CApplicationFactory final : public CUnknownImpl<IClassFactory> {
 public:
  explicit CApplicationFactory(COutlook* pOutlook) : CUnknownImpl({IID_IClassFactory}), m_pOutlook(pOutlook) {}
  STDMETHOD(CreateInstance)(IUnknown* pOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pOuter) return CLASS_E_NOAGGREGATION;
    return m_pOutlook->QueryInterface(riid, ppv);
  }
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }

 private:
  COutlook* m_pOutlook;
};

HRESULT RegisterApplicationClass(COutlook* pOutlook, DWORD* pdwCookie) {
  CComPtr<CApplicationFactory> cpFactory;
  cpFactory.Attach(new CApplicationFactory(pOutlook));
  return CoRegisterClassObject(Outlook::CLSID_Application, static_cast<IClassFactory*>(cpFactory), CLSCTX_LOCAL_SERVER,
                               REGCLS_MULTIPLEUSE, pdwCookie);
}

}  // namespace

COutlook::COutlook(SOutlookOptions options) : CDispatch({Outlook::IID__Application}), m_options(std::move(options)) {
  if (m_options.wsProfilePath.empty()) {
    wchar_t wszFolder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, wszFolder);
    m_options.wsProfilePath = std::wstring(wszFolder) + L"\\OfficeSim";
    CreateDirectoryW(m_options.wsProfilePath.c_str(), nullptr);
    m_options.wsProfilePath += L"\\Outlook.profile";
  }
  if (m_options.wsMailDrop.empty()) {
    wchar_t wszFolder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"OFCSIM_MAILDROP", wszFolder, MAX_PATH)) {
      m_options.wsMailDrop = wszFolder;
    } else {
      SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, wszFolder);
      m_options.wsMailDrop = std::wstring(wszFolder) + L"\\OfficeSim\\MailDrop";
    }
  }
  m_spProfile = std::make_shared<CProfile>(m_options.wsProfilePath);
  CreateSession(
      m_spProfile, "Outlook",
      [this](const std::vector<BYTE>& entryId, ULONG* pulType) { return OpenEntry(entryId, pulType); }, &m_cpSession);
  m_cpNameSpace.Attach(new CDispatch({Outlook::IID__NameSpace}));
  m_cpExplorers.Attach(new CCollection({Outlook::IID__Explorers}));
  // Add(Folder, DisplayMode): a new main window on the one folder there is.
  m_cpExplorers->AddMember(L"Add", 0x5F, [this](SCall& call) {
    CExplorer* pExplorer = nullptr;
    HRESULT hr = NewExplorer(&pExplorer);
    return SUCCEEDED(hr) ? SetObject(call.pResult, static_cast<IDispatch*>(pExplorer)) : hr;
  });
  m_cpInspectors.Attach(new CCollection({Outlook::IID__Inspectors}));
  m_cpComAddIns.Attach(new CCollection({Office::IID_COMAddIns}));
  AddEvents(Outlook::DIID_ApplicationEvents_11);
  m_cpExplorers->AddEvents(Outlook::DIID_ExplorersEvents);
  m_cpInspectors->AddEvents(Outlook::DIID_InspectorsEvents);
  // Without a logged-on profile the namespace has no MAPI session.
  m_cpNameSpace->AddMember(L"MAPIOBJECT", 0xF100, [this](SCall& call) {
    return SetObject(call.pResult, m_options.bOffline ? nullptr : m_cpSession.Get());
  });
  AddAccounts();
  AddContactsFolder();
  m_cpNameSpace->AddMember(L"CurrentProfileName", 0xFAD5,
                           [](SCall& call) { return SetBstr(call.pResult, L"Outlook"); });

  AddMember(L"Version", 0x116, TextMember(&m_options.wsVersion));
  AddMember(L"Name", 0x3001, [](SCall& call) { return SetBstr(call.pResult, L"Outlook"); });
  AddMember(L"Session", 0xF00B, [this](SCall& call) { return SetObject(call.pResult, m_cpNameSpace); });
  AddMember(L"GetNamespace", 0x110, [this](SCall& call) { return SetObject(call.pResult, m_cpNameSpace); });
  AddMember(L"Explorers", 0x119, [this](SCall& call) { return SetObject(call.pResult, m_cpExplorers); });
  AddMember(L"Inspectors", 0x11A, [this](SCall& call) { return SetObject(call.pResult, m_cpInspectors); });
  AddMember(L"COMAddIns", 0x118, [this](SCall& call) { return SetObject(call.pResult, m_cpComAddIns); });
  AddMember(L"ActiveExplorer", 0x111, [this](SCall& call) {
    CWindowObject* pExplorer = Topmost({m_cpExplorers});
    return SetObject(call.pResult, static_cast<IDispatch*>(pExplorer ? pExplorer : Explorer()));
  });
  AddMember(L"ActiveInspector", 0x112,
            [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(ActiveInspector())); });
  AddMember(L"ActiveWindow", 0x11F, [this](SCall& call) { return SetObject(call.pResult, TopWindowObject()); });
  AddMember(L"CreateItem", 0x10A, [this](SCall& call) {
    LONG lType = -1;
    HRESULT hr = ArgLong(call, 0, &lType);
    if (FAILED(hr)) return hr;
    CComPtr<IMessage> cpMessage;
    hr = NewItemMessage(lType, &cpMessage);
    return SUCCEEDED(hr) ? SetObject(call.pResult, MailItem(cpMessage)) : hr;
  });
  AddMember(L"Quit", 0x113, [this](SCall&) {
    m_bQuitRequested = true;
    Log(L"Quit requested");
    return S_OK;
  });
  // As in Outlook, the add-in being connected is listed already.
  m_cpComAddIns->AddMember(L"Item", DISPID_VALUE, [this](SCall& call) { return ComAddInsItem(*m_cpComAddIns, call); });
  m_cpComAddIns->AddMember(L"Update", 2, [](SCall&) { return S_OK; });
}

COutlook::~COutlook() { Quit(); }

void COutlook::Log(const std::wstring& ws) { m_log.push_back(ws); }

HRESULT COutlook::Start() {
  if (m_bStarted) return S_OK;
  m_bStarted = true;
  Log(L"Start Outlook " + m_options.wsVersion);
  HRESULT hr = RegisterAccountManager(m_spAccounts, &m_dwAccountManagerCookie);
  if (FAILED(hr)) Log(L"Account manager not registered " + HresultText(hr));
  hr = RegisterConverter([this](IMessage* pMessage, const MimeSink& sink) { return WriteMime(pMessage, sink); },
                         &m_dwConverterCookie);
  if (FAILED(hr)) Log(L"Converter not registered " + HresultText(hr));
  LoadAddIns();
  auto cpExplorer = MakeObject<CExplorer>(this);
  m_cpExplorers->m_items.push_back(cpExplorer.Get());
  cpExplorer->Activate();
  if (MajorVersion() >= 14) ShowRibbons(L"Microsoft.Outlook.Explorer", cpExplorer);
  ForEachAddIn("OnAddInsUpdate", [](Office::IDTExtensibility2* pAddIn, SAFEARRAY** ppsaCustom) {
    return pAddIn->OnAddInsUpdate(ppsaCustom);
  });
  ForEachAddIn(
      "OnStartupComplete",
      [](Office::IDTExtensibility2* pAddIn, SAFEARRAY** ppsaCustom) { return pAddIn->OnStartupComplete(ppsaCustom); },
      &SStartupCost::dStartupCompleteMs);
  Log(L"Event Startup " + HresultText(Fire(Outlook::DIID_ApplicationEvents_11, Outlook::DISPID_Startup)));
  // As Outlook, one instance serves every client that creates Outlook.Application, whether COM
  // started it for one or the user did; whoever sees it in the running object table can create it.
  hr = RegisterApplicationClass(this, &m_dwClassObject);
  Log(L"Serving Outlook.Application " + HresultText(hr));
  // Other programs reach the running Outlook through the running object table.
  hr = RegisterActiveObject(static_cast<IDispatch*>(this), Outlook::CLSID_Application, ACTIVEOBJECT_STRONG,
                            &m_dwActiveObject);
  if (FAILED(hr)) Log(L"RegisterActiveObject " + HresultText(hr));
  return S_OK;
}

HRESULT COutlook::Quit() {
  if (!m_bStarted) return S_OK;
  m_bStarted = false;
  Log(L"Quit Outlook");
  if (m_dwActiveObject) RevokeActiveObject(std::exchange(m_dwActiveObject, 0), nullptr);
  if (m_dwClassObject) CoRevokeClassObject(std::exchange(m_dwClassObject, 0));
  while (!m_cpInspectors->m_items.empty()) {
    CloseInspector(static_cast<CInspector*>(m_cpInspectors->m_items.back().Get()), Outlook::olDiscard, false);
  }
  ClosePreviewRegions();
  if (m_cpWord) m_cpWord->Quit();
  for (HWND hwnd : m_wordWindows) DestroyWindow(hwnd);
  m_wordWindows.clear();
  m_wordDocuments.clear();
  for (IDispatch* pExplorer : m_cpExplorers->m_items) {
    static_cast<CExplorer*>(pExplorer)->Fire(Outlook::DIID_ExplorerEvents_10, Outlook::DISPID_WindowClose);
  }
  Log(L"Event Quit " + HresultText(Fire(Outlook::DIID_ApplicationEvents_11, Outlook::DISPID_Quit)));
  ForEachAddIn("OnBeginShutdown", [](Office::IDTExtensibility2* pAddIn, SAFEARRAY** ppsaCustom) {
    return pAddIn->OnBeginShutdown(ppsaCustom);
  });
  ForEachAddIn("OnDisconnection", [](Office::IDTExtensibility2* pAddIn, SAFEARRAY** ppsaCustom) {
    return pAddIn->OnDisconnection(Office::ext_dm_HostShutdown, ppsaCustom);
  });
  for (SAddIn& addIn : m_addIns) ReleaseAddIn(addIn);
  m_formRegions.Clear();
  m_cpExplorers->m_items.clear();
  m_pActiveWindow = nullptr;
  m_mailItems.clear();
  if (m_dwAccountManagerCookie) CoRevokeClassObject(m_dwAccountManagerCookie);
  m_dwAccountManagerCookie = 0;
  if (m_dwConverterCookie) CoRevokeClassObject(std::exchange(m_dwConverterCookie, 0));
  return S_OK;
}

LONG COutlook::MajorVersion() const { return _wtol(m_options.wsVersion.c_str()); }

// Every add-in under the machine's Addins key whose LoadBehavior is 3, created by ProgID.
void COutlook::LoadAddIns() {
  for (const auto& entry : ListAddIns(L"Outlook", m_options.onlyAddIns))
    ConnectAddIn(entry.wsProgId, entry.wsDescription, Office::ext_cm_Startup);
}

HRESULT COutlook::ConnectAddIn(const std::wstring& wsProgId, const std::wstring& wsDescription,
                               Office::ext_ConnectMode connectMode) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(wsProgId.c_str(), &clsid);
  CComPtr<Office::IDTExtensibility2> cpAddIn;
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, Office::IID_IDTExtensibility2,
                          reinterpret_cast<void**>(&cpAddIn));
  }
  if (FAILED(hr)) {
    Log(L"Load failed " + wsProgId + L" " + HresultText(hr));
    return hr;
  }
  // A listed add-in that is loaded again keeps its COMAddIns entry.
  SAddIn* pAddIn = nullptr;
  for (SAddIn& addIn : m_addIns) {
    if (!lstrcmpiW(addIn.cpComAddIn->m_wsProgId.c_str(), wsProgId.c_str())) pAddIn = &addIn;
  }
  if (!pAddIn) {
    pAddIn = &m_addIns.emplace_back();
    pAddIn->cpComAddIn.Attach(new CComAddIn(wsProgId, clsid, wsDescription));
    m_cpComAddIns->m_items.push_back(pAddIn->cpComAddIn.Get());
  }
  pAddIn->cpObject = cpAddIn.Get();
  SAFEARRAY* psaCustom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  LARGE_INTEGER liStart;
  QueryPerformanceCounter(&liStart);
  hr = cpAddIn->OnConnection(this, connectMode, pAddIn->cpComAddIn, &psaCustom);
  pAddIn->cost.dConnectionMs = Milliseconds(liStart);
  SafeArrayDestroy(psaCustom);
  Log(L"OnConnection " + wsProgId + L" " + HresultText(hr));
  // An add-in that fails to connect stays listed but is not connected.
  pAddIn->cpComAddIn->m_bConnect = SUCCEEDED(hr);
  if (FAILED(hr)) pAddIn->cpObject.Release();
  return hr;
}

void COutlook::ReleaseAddIn(SAddIn& addIn) {
  addIn.cpComAddIn->m_bConnect = false;
  addIn.cpComAddIn->m_cpObject.Release();
  addIn.cpObject.Release();
  m_ribbons.Forget(addIn.cpComAddIn->m_wsProgId);
}

HRESULT COutlook::LoadAddIn(const std::wstring& wsProgId) {
  if (!m_bStarted) return E_UNEXPECTED;
  const CComAddIn* pListed = FindAddIn(wsProgId);
  if (pListed && pListed->m_bConnect) return S_FALSE;
  const HRESULT hr = ConnectAddIn(wsProgId, pListed ? pListed->m_wsDescription : wsProgId, Office::ext_cm_AfterStartup);
  // Ribbons of windows already open are asked for now.
  if (SUCCEEDED(hr) && MajorVersion() >= 14 && Explorer()) ShowRibbons(L"Microsoft.Outlook.Explorer", Explorer());
  return hr;
}

HRESULT COutlook::UnloadAddIn(const std::wstring& wsProgId) {
  for (SAddIn& addIn : m_addIns) {
    if (lstrcmpiW(addIn.cpComAddIn->m_wsProgId.c_str(), wsProgId.c_str()) || !addIn.cpObject) continue;
    CComPtr<Office::IDTExtensibility2> cpAddIn;
    HRESULT hr = addIn.cpObject->QueryInterface(Office::IID_IDTExtensibility2, reinterpret_cast<void**>(&cpAddIn));
    if (SUCCEEDED(hr)) {
      SAFEARRAY* psaCustom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
      hr = cpAddIn->OnDisconnection(Office::ext_dm_UserClosed, &psaCustom);
      SafeArrayDestroy(psaCustom);
    }
    Log(L"OnDisconnection " + wsProgId + L" " + HresultText(hr) + L" (unloaded by the user)");
    cpAddIn.Release();
    ReleaseAddIn(addIn);
    return hr;
  }
  return DISP_E_BADINDEX;
}

size_t COutlook::SinkCount(const std::wstring& wsSource) const {
  if (wsSource == L"application") return CDispatch::SinkCount(Outlook::DIID_ApplicationEvents_11);
  if (wsSource == L"explorers") return m_cpExplorers->SinkCount(Outlook::DIID_ExplorersEvents);
  if (wsSource == L"inspectors") return m_cpInspectors->SinkCount(Outlook::DIID_InspectorsEvents);
  if (wsSource == L"buttons") return CCommandBarControl::ClickSinks();
  if (wsSource == L"explorer") return CWindowObject::LiveSinkCount(Outlook::DIID_ExplorerEvents_10);
  if (wsSource == L"inspector") return CWindowObject::LiveSinkCount(Outlook::DIID_InspectorEvents_10);
  if (wsSource == L"regions") return m_formRegions.RegionSinks();
  if (wsSource == L"regionbuttons") return m_formRegions.ButtonSinks();
  if (wsSource == L"word") return m_cpWord ? m_cpWord->SinkCount(Word::DIID_ApplicationEvents4) : 0;
  if (wsSource == L"items") {
    size_t cSinks = 0;
    for (const auto& [pMessage, cpItem] : m_mailItems) cSinks += cpItem->SinkCount(Outlook::DIID_ItemEvents_10);
    for (const auto& [pMessage, cpItem] : m_selectionItems) cSinks += cpItem->SinkCount(Outlook::DIID_ItemEvents_10);
    return cSinks;
  }
  return 0;
}

IUnknown* COutlook::AddInObject(const std::wstring& wsProgId) const {
  for (const SAddIn& addIn : m_addIns) {
    if (!lstrcmpiW(addIn.cpComAddIn->m_wsProgId.c_str(), wsProgId.c_str())) return addIn.cpObject;
  }
  return nullptr;
}

bool COutlook::StartupCost(const std::wstring& wsProgId, SStartupCost* pCost) const {
  for (const SAddIn& addIn : m_addIns) {
    if (lstrcmpiW(addIn.cpComAddIn->m_wsProgId.c_str(), wsProgId.c_str())) continue;
    *pCost = addIn.cost;
    return true;
  }
  return false;
}

std::wstring COutlook::SafeSenders() const {
  const PropMap& props = m_spProfile->Section(kSafeSendersSection)->m_props;
  auto it = props.find(PROP_ID(kSafeSendersTag));
  return it == props.end() ? std::wstring() : PropText(it->second);
}

void COutlook::AddSafeSender(const std::wstring& wsEntry) {
  const std::wstring wsList = SafeSenders();
  m_spProfile->Section(kSafeSendersSection)->m_props[PROP_ID(kSafeSendersTag)] =
      MakeUnicodeProp(kSafeSendersTag, wsList.empty() ? wsEntry : wsList + L";" + wsEntry);
  m_spProfile->Save();
}

LONG COutlook::ServiceConfigured(const std::string& sName) const {
  for (const CProfile::SService& service : m_spProfile->m_services) {
    if (service.sName == sName) return static_cast<LONG>(service.ulConfigured);
  }
  return -1;
}

void COutlook::ForEachAddIn(const char* szMethod, const AddInCall& fn, double SStartupCost::*pCost) {
  for (SAddIn& addIn : m_addIns) {
    CComPtr<Office::IDTExtensibility2> cpAddIn;
    if (!addIn.cpObject ||
        FAILED(addIn.cpObject->QueryInterface(Office::IID_IDTExtensibility2, reinterpret_cast<void**>(&cpAddIn)))) {
      continue;
    }
    // Each call gets an empty custom array, as Office passes.
    SAFEARRAY* psaCustom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    LARGE_INTEGER liStart;
    QueryPerformanceCounter(&liStart);
    const HRESULT hr = fn(cpAddIn, &psaCustom);
    if (pCost) addIn.cost.*pCost = Milliseconds(liStart);
    SafeArrayDestroy(psaCustom);
    Log(std::wstring(szMethod, szMethod + strlen(szMethod)) + L" " + addIn.cpComAddIn->m_wsProgId + L" " +
        HresultText(hr));
  }
}

// Asks each add-in once for the ribbon of this kind of window, then shows it in the window.
void COutlook::ShowRibbons(const std::wstring& wsRibbonId, CWindowObject* pWindow) {
  for (const SAddIn& addIn : m_addIns) {
    if (addIn.cpObject) m_ribbons.Load(addIn.cpComAddIn->m_wsProgId, addIn.cpObject, wsRibbonId);
  }
  m_ribbons.Refresh(wsRibbonId, pWindow);
  if (!pWindow->Ribbon()) {
    const bool bCompose = wsRibbonId == L"Microsoft.Outlook.Mail.Compose";
    pWindow->SetRibbon(std::make_unique<CRibbonWindow>(pWindow->Window(), L"MsoCommandBar",
                                                       bCompose ? L"Message" : L"Home",
                                                       [this, pWindow] { return RibbonGroups(pWindow); }));
  }
}

std::vector<SRibbonGroup> COutlook::RibbonGroups(CWindowObject* pWindow) {
  const std::wstring wsRibbonId = RibbonIdOf(pWindow);
  std::vector<SRibbonGroup> groups;
  if (wsRibbonId == L"Microsoft.Outlook.Mail.Compose") {
    groups = {{L"Clipboard", {{L"", L"Paste", ROLE_SYSTEM_SPLITBUTTON}}},
              {L"Basic Text", {{L"", L"Bold", ROLE_SYSTEM_PUSHBUTTON}}},
              {L"Names", {{L"", L"Address Book", ROLE_SYSTEM_PUSHBUTTON}}}};
  } else {
    groups = {{L"New", {{L"", L"New E-mail", ROLE_SYSTEM_PUSHBUTTON}, {L"", L"New Items", ROLE_SYSTEM_BUTTONDROPDOWN}}},
              {L"Delete", {{L"", L"Delete", ROLE_SYSTEM_PUSHBUTTON}}}};
  }
  for (SRibbonGroup& group : m_ribbons.Groups(wsRibbonId, pWindow)) groups.push_back(std::move(group));
  return groups;
}

bool COutlook::ControlRect(CWindowObject* pWindow, const std::wstring& wsControl, RECT* prc) const {
  if (pWindow->Ribbon() && pWindow->Ribbon()->ControlRect(wsControl, prc)) return true;
  const CCommandBarControl* pControl = pWindow->CommandBars()->Find(wsControl);
  return pControl && pControl->ScreenRect(prc);
}

std::wstring COutlook::RibbonIdOf(IDispatch* pWindow) {
  CComPtr<IUnknown> cpInspector;
  const bool bInspector =
      SUCCEEDED(pWindow->QueryInterface(Outlook::IID__Inspector, reinterpret_cast<void**>(&cpInspector)));
  return bInspector ? L"Microsoft.Outlook.Mail.Compose" : L"Microsoft.Outlook.Explorer";
}

IPictureDisp* COutlook::RibbonImage(IDispatch* pWindow, const std::wstring& wsImageId) {
  return m_ribbons.Image(RibbonIdOf(pWindow), wsImageId);
}

HRESULT COutlook::ControlState(IDispatch* pWindow, const std::wstring& wsControlId, SControlState* pState) {
  return m_ribbons.ControlState(RibbonIdOf(pWindow), pWindow, wsControlId, pState);
}

HRESULT COutlook::Click(IDispatch* pWindow, const std::wstring& wsControlId) {
  return m_ribbons.Click(RibbonIdOf(pWindow), pWindow, wsControlId);
}

CExplorer* COutlook::Explorer() const {
  return m_cpExplorers->m_items.empty() ? nullptr : static_cast<CExplorer*>(m_cpExplorers->m_items.front().Get());
}

CInspector* COutlook::InspectorOf(IMessage* pMessage) const {
  for (IDispatch* pItem : m_cpInspectors->m_items) {
    if (static_cast<CInspector*>(pItem)->Message() == pMessage) return static_cast<CInspector*>(pItem);
  }
  return nullptr;
}

CWindowObject* COutlook::Topmost(std::initializer_list<CCollection*> lists) const {
  for (HWND hwnd = GetTopWindow(nullptr); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
    for (CCollection* pList : lists) {
      for (IDispatch* pItem : pList->m_items) {
        if (static_cast<CWindowObject*>(pItem)->Window() == hwnd && IsWindowVisible(hwnd)) {
          return static_cast<CWindowObject*>(pItem);
        }
      }
    }
  }
  return nullptr;
}

const std::vector<CComPtr<IDispatch>>& COutlook::Inspectors() const { return m_cpInspectors->m_items; }

CInspector* COutlook::ActiveInspector() const { return static_cast<CInspector*>(Topmost({m_cpInspectors})); }

IDispatch* COutlook::TopWindowObject() const { return Topmost({m_cpInspectors, m_cpExplorers}); }

void COutlook::WindowActivated(CWindowObject* pWindow) {
  CWindowObject* pPrevious = m_pActiveWindow;
  m_pActiveWindow = pWindow;
  if (pPrevious && pPrevious != pWindow) pPrevious->Fire(pPrevious->EventsIid(), Outlook::DISPID_WindowDeactivate);
  // Word hears of its own windows: a message it edits comes to the front, or a window not its own.
  if (m_cpWord) {
    CInspector* pInspector = nullptr;
    for (IDispatch* pItem : m_cpInspectors->m_items) {
      if (pItem == static_cast<IDispatch*>(pWindow)) pInspector = static_cast<CInspector*>(pItem);
    }
    m_cpWord->WindowActivated(pInspector ? pInspector->WordDocument() : nullptr);
  }
  pWindow->Fire(pWindow->EventsIid(), Outlook::DISPID_WindowActivate);
}

CWordApplication* COutlook::Word() {
  if (!m_cpWord) m_cpWord.Attach(new CWordApplication(this));
  return m_cpWord;
}

HRESULT COutlook::OpenWordDocument() {
  const HWND hwnd = CreateWindowExW(0, kWordClass, L"Document1 - Microsoft Word", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, 800, 600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return HRESULT_FROM_WIN32(GetLastError());
  m_wordWindows.push_back(hwnd);
  CComPtr<CDispatch> cpDocument = Word()->NewDocument(hwnd, Word::wdDocumentNotSpecified);
  m_wordDocuments.push_back(static_cast<IDispatch*>(cpDocument));
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(hwnd);
  Log(L"Word document window " + std::to_wstring(reinterpret_cast<UINT_PTR>(hwnd)));
  // Outlook's window in front loses the activation to Word's.
  if (CWindowObject* pPrevious = std::exchange(m_pActiveWindow, nullptr)) {
    pPrevious->Fire(pPrevious->EventsIid(), Outlook::DISPID_WindowDeactivate);
  }
  m_cpWord->WindowActivated(cpDocument);
  return S_OK;
}

HRESULT COutlook::NewExplorer(CExplorer** ppExplorer) {
  if (!m_bStarted) return E_FAIL;
  auto cpExplorer = MakeObject<CExplorer>(this);
  m_cpExplorers->m_items.push_back(cpExplorer.Get());
  Log(L"Main window " + std::to_wstring(reinterpret_cast<UINT_PTR>(cpExplorer->Window())));
  CVariant varExplorer(static_cast<IDispatch*>(cpExplorer));
  m_cpExplorers->Fire(Outlook::DIID_ExplorersEvents, Outlook::DISPID_NewExplorer, {varExplorer});
  if (MajorVersion() >= 14) ShowRibbons(L"Microsoft.Outlook.Explorer", cpExplorer);
  *ppExplorer = cpExplorer;
  return S_OK;
}

// Each account has stamps, the user's entry in the address book and, from version 12, an
// Account object; version 14 adds its CurrentUser.
void COutlook::AddAccounts() {
  m_cpAccounts.Attach(new CCollection({Outlook::IID__Accounts}));
  for (const SMailAccount& account : m_options.accounts) {
    SAccountRecord record{account, {}, {}, {}};
    wchar_t wszStamp[16];
    wsprintfW(wszStamp, L"%08x", static_cast<unsigned>(m_spAccounts->records.size() + 1));
    record.wsStamp = wszStamp;
    GUID guid;
    CoCreateGuid(&guid);
    record.wsSendStamp = GuidText(guid);
    const std::wstring wsEmail = account.wsEmailAddress.empty() ? account.wsSmtpAddress : account.wsEmailAddress;
    auto spEntry = std::make_shared<CPropStore>();
    spEntry->m_props[PROP_ID(PR_DISPLAY_NAME_W)] = MakeUnicodeProp(PR_DISPLAY_NAME_W, account.wsUserName);
    spEntry->m_props[PROP_ID(PR_EMAIL_ADDRESS_W)] = MakeUnicodeProp(PR_EMAIL_ADDRESS_W, wsEmail);
    if (!account.wsSmtpAddress.empty()) {
      spEntry->m_props[PROP_ID(kSmtpAddressTag)] = MakeUnicodeProp(kSmtpAddressTag, account.wsSmtpAddress);
    }
    record.identityId = AddAddressEntry(spEntry);
    m_spAccounts->records.push_back(record);

    auto cpAccount = MakeObject<CDispatch>(std::vector<IID>{Outlook::IID__Account});
    auto pAccount = std::make_shared<SMailAccount>(account);
    cpAccount->AddMember(L"DisplayName", 0x3001, TextMember(&pAccount->wsName));
    cpAccount->AddMember(L"SmtpAddress", 0xFAD4, TextMember(&pAccount->wsSmtpAddress));
    cpAccount->AddMember(L"UserName", 0xFAD3,
                         [pAccount](SCall& call) { return SetBstr(call.pResult, pAccount->wsUserName); });
    if (MajorVersion() >= 14) {
      auto cpEntry = MakeObject<CDispatch>();
      cpEntry->AddMember(L"Address", 0x3003, [wsEmail](SCall& call) { return SetBstr(call.pResult, wsEmail); });
      cpEntry->AddMember(L"Name", 0x3001,
                         [pAccount](SCall& call) { return SetBstr(call.pResult, pAccount->wsUserName); });
      auto cpUser = MakeObject<CDispatch>(std::vector<IID>{Outlook::IID_Recipient});
      cpUser->AddMember(L"AddressEntry", 0x79, [cpEntry](SCall& call) { return SetObject(call.pResult, cpEntry); });
      cpUser->AddMember(L"Address", 0x3003, [wsEmail](SCall& call) { return SetBstr(call.pResult, wsEmail); });
      cpAccount->AddMember(L"CurrentUser", 0xFC6E, [cpUser](SCall& call) { return SetObject(call.pResult, cpUser); });
    }
    m_cpAccounts->m_items.push_back(cpAccount.Get());
  }
  if (MajorVersion() >= 12) {
    m_cpNameSpace->AddMember(L"Accounts", 0xFAD0,
                             [this](SCall& call) { return SetObject(call.pResult, m_cpAccounts); });
  }
}

std::vector<BYTE> COutlook::AddAddressEntry(std::shared_ptr<CPropStore> spEntry) {
  GUID guid;
  CoCreateGuid(&guid);
  const BYTE* pb = reinterpret_cast<const BYTE*>(&guid);
  std::vector<BYTE> entryId(pb, pb + sizeof guid);
  m_addressEntries[entryId] = std::move(spEntry);
  return entryId;
}

void COutlook::AddContactsFolder() {
  m_cpContacts.Attach(new CCollection({Outlook::IID__Items}));
  m_cpContactsFolder.Attach(new CDispatch({Outlook::IID_MAPIFolder}));
  m_cpContactsFolder->AddMember(L"Name", 0x3001, [](SCall& call) { return SetBstr(call.pResult, L"Contacts"); });
  m_cpContactsFolder->AddMember(L"DefaultItemType", 0x3106,
                                [](SCall& call) { return SetLong(call.pResult, Outlook::olContactItem); });
  m_cpContactsFolder->AddMember(L"Items", 0x3100,
                                [this](SCall& call) { return SetObject(call.pResult, m_cpContacts); });
  // The one folder of another kind there is stands for every other default folder.
  m_cpNameSpace->AddMember(L"GetDefaultFolder", 0x210B, [this](SCall& call) {
    LONG lFolder = 0;
    HRESULT hr = ArgLong(call, 0, &lFolder);
    if (FAILED(hr)) return hr;
    return lFolder == Outlook::olFolderContacts ? SetObject(call.pResult, m_cpContactsFolder) : E_INVALIDARG;
  });
}

HRESULT COutlook::AddContact(const SContact& contact, const std::vector<BYTE>& certificate) {
  CComPtr<IMessage> cpMessage;
  HRESULT hr = CreateMessage(&cpMessage);
  if (FAILED(hr)) return hr;
  SetTextProp(cpMessage, PR_MESSAGE_CLASS_W, L"IPM.Contact");
  SetTextProp(cpMessage, PR_DISPLAY_NAME_W, contact.wsFullName);
  if (!contact.wsEntrySmtpAddress.empty() || !contact.wsEntryEmailAddress.empty()) {
    auto spEntry = std::make_shared<CPropStore>();
    spEntry->m_props[PROP_ID(PR_DISPLAY_NAME_W)] = MakeUnicodeProp(PR_DISPLAY_NAME_W, contact.wsFullName);
    if (!contact.wsEntrySmtpAddress.empty())
      spEntry->m_props[PROP_ID(kSmtpAddressTag)] = MakeUnicodeProp(kSmtpAddressTag, contact.wsEntrySmtpAddress);
    if (!contact.wsEntryEmailAddress.empty())
      spEntry->m_props[PROP_ID(PR_EMAIL_ADDRESS_W)] = MakeUnicodeProp(PR_EMAIL_ADDRESS_W, contact.wsEntryEmailAddress);
    const std::vector<BYTE> entryId = AddAddressEntry(spEntry);
    MessageStore(cpMessage).m_props[PROP_ID(kContactEntryIdTag)] =
        MakeBinaryProp(kContactEntryIdTag, entryId.data(), entryId.size());
  }
  auto cpItem = MakeObject<CDispatch>(std::vector<IID>{Outlook::IID__ContactItem});
  cpItem->AddMember(L"Class", 0xF00A, [](SCall& call) { return SetLong(call.pResult, Outlook::olContact); });
  // The item's texts live as long as its members.
  auto spContact = std::make_shared<SContact>(contact);
  for (const auto& [wszName, dispid, pws] : {std::tuple{L"FullName", 0x3001, &spContact->wsFullName},
                                             std::tuple{L"Email1Address", 0x8083, &spContact->wsAddress},
                                             std::tuple{L"Email1AddressType", 0x8082, &spContact->wsAddressType}})
    cpItem->AddMember(wszName, dispid, [spContact, fnText = TextMember(pws)](SCall& call) { return fnText(call); });
  cpItem->AddMember(L"MAPIOBJECT", 0xF100, [cpMessage](SCall& call) { return SetObject(call.pResult, cpMessage); });
  cpItem->AddMember(L"Application", 0xF000,
                    [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(this)); });
  cpItem->AddMember(L"Session", 0xF00B, [this](SCall& call) { return SetObject(call.pResult, m_cpNameSpace); });
  m_cpContacts->m_items.push_back(cpItem.Get());
  m_contactRecords.emplace_back(contact, certificate);
  return S_OK;
}

IUnknown* COutlook::OpenEntry(const std::vector<BYTE>& entryId, ULONG* pulType) {
  for (IMessage* pMessage : m_folder) {
    const PropMap& props = MessageStore(pMessage).m_props;
    auto it = props.find(PROP_ID(PR_ENTRYID));
    if (it != props.end() && it->second.data == entryId) {
      *pulType = MAPI_MESSAGE;
      pMessage->AddRef();
      return pMessage;
    }
  }
  auto it = m_addressEntries.find(entryId);
  IMailUser* pUser = nullptr;
  if (it == m_addressEntries.end() || FAILED(CreateMailUser(it->second, &pUser))) return nullptr;
  *pulType = MAPI_MAILUSER;
  return pUser;
}

CDispatch* COutlook::MailItem(IMessage* pMessage) {
  CComPtr<CDispatch>& cpItem = m_mailItems[pMessage];
  if (!cpItem) cpItem.Attach(new CMailItem(this, pMessage));
  return cpItem;
}

CComAddIn* COutlook::FindAddIn(const std::wstring& wsProgId) const {
  for (const SAddIn& addIn : m_addIns) {
    if (!lstrcmpiW(addIn.cpComAddIn->m_wsProgId.c_str(), wsProgId.c_str())) return addIn.cpComAddIn;
  }
  return nullptr;
}

std::vector<CComAddIn*> COutlook::AddIns() const {
  std::vector<CComAddIn*> addIns;
  for (const SAddIn& addIn : m_addIns) addIns.push_back(addIn.cpComAddIn);
  return addIns;
}

HRESULT COutlook::NewItemMessage(LONG lItemType, IMessage** ppMessage) {
  const SItemKind* pKind = KindOfType(lItemType);
  if (!pKind) return E_INVALIDARG;
  HRESULT hr = CreateMessage(ppMessage);
  if (SUCCEEDED(hr) && pKind->lClass != Outlook::olMail)
    SetTextProp(*ppMessage, PR_MESSAGE_CLASS_W, pKind->wszMessageClass);
  return hr;
}

HRESULT COutlook::Compose(CInspector** ppInspector, LONG lItemType) {
  CComPtr<IMessage> cpMessage;
  HRESULT hr = NewItemMessage(lItemType, &cpMessage);
  return SUCCEEDED(hr) ? ComposeWindow(cpMessage, ppInspector) : hr;
}

HRESULT COutlook::ComposeWindow(IMessage* pMessage, CInspector** ppInspector) {
  CComPtr<IMessage> cpMessage(pMessage);
  *ppInspector = NewInspector(cpMessage, true);
  if (!*ppInspector) return E_ABORT;
  // A new message is sent from the default account unless one was chosen: from version 12 its
  // SendUsingAccount, before that the first entry of the Standard bar's account menu or, when Word
  // edits it, the checked entry of the envelope's account menu.
  const auto& accountObjects = m_cpAccounts->m_items;
  if (MajorVersion() >= 12 && !accountObjects.empty()) {
    CComPtr<IDispatch>& cpAccount = static_cast<CMailItem*>(MailItem(cpMessage))->m_cpAccount;
    if (!cpAccount) cpAccount = accountObjects.front();
  } else if (MajorVersion() < 12 && (*ppInspector)->WordEditor()) {
    std::vector<std::wstring> names;
    for (const SAccountRecord& record : m_spAccounts->records) names.push_back(record.account.wsName);
    (*ppInspector)->AddEnvelope(names);
  } else if (MajorVersion() < 12) {
    CCommandBarControls* pStandard = (*ppInspector)->CommandBars()->AddBar(L"Standard");
    CCommandBarControl* pSend = pStandard->Add(msoControlButton, kSendControlId);
    pSend->m_wsCaption = L"&Send";
    pSend->m_fnCommand = [this, pMessage = cpMessage.Get()] { return SendItem(pMessage); };
    CCommandBarControl* pMenu = pStandard->Add(msoControlPopup, kAccountsMenuId);
    pMenu->m_wsCaption = L"Accounts";
    for (const SAccountRecord& record : m_spAccounts->records) {
      pMenu->m_cpControls->Add(msoControlButton, kCustomControlId)->m_wsCaption = record.account.wsName;
    }
  }
  (*ppInspector)->Activate();
  return S_OK;
}

HRESULT COutlook::CreateReply(IMessage* pOriginal, CDispatch** ppReply) {
  CComPtr<IMessage> cpReply;
  HRESULT hr = NewItemMessage(Outlook::olMailItem, &cpReply);
  if (FAILED(hr)) return hr;
  SetTextProp(cpReply, PR_SUBJECT_W, L"RE: " + TextProp(pOriginal, PR_SUBJECT_W));
  auto* pReply = static_cast<CMailItem*>(MailItem(cpReply));
  const std::wstring wsSender = TextProp(pOriginal, PR_SENDER_EMAIL_ADDRESS_W);
  if (!wsSender.empty()) hr = pReply->AddressTo(wsSender);
  // From the account that received the message.
  const PropMap& props = MessageStore(pOriginal).m_props;
  const auto itReceivedBy = props.find(PROP_ID(PR_RECEIVED_BY_ENTRYID));
  for (size_t i = 0; MajorVersion() >= 12 && i < m_spAccounts->records.size(); ++i) {
    if (i == 0 || (itReceivedBy != props.end() && itReceivedBy->second.data == m_spAccounts->records[i].identityId))
      pReply->m_cpAccount = m_cpAccounts->m_items[i];
  }
  *ppReply = pReply;
  return hr;
}

HRESULT COutlook::AddReceived(const std::wstring& wsSubject, IMessage** ppMessage, size_t iAccount) {
  if (iAccount >= m_spAccounts->records.size()) return E_INVALIDARG;
  CComPtr<IMessage> cpMessage;
  HRESULT hr = CreateMessage(&cpMessage);
  if (FAILED(hr)) return hr;
  SetTextProp(cpMessage, PR_SUBJECT_W, wsSubject);
  PropMap& props = MessageStore(cpMessage).m_props;
  props[PROP_ID(PR_MESSAGE_FLAGS)] = MakeLongProp(PR_MESSAGE_FLAGS, MSGFLAG_READ);
  const SAccountRecord& record = m_spAccounts->records[iAccount];
  props[PROP_ID(PR_RECEIVED_BY_ENTRYID)] =
      MakeBinaryProp(PR_RECEIVED_BY_ENTRYID, record.identityId.data(), record.identityId.size());
  props[PROP_ID(PR_RECEIVED_BY_NAME_W)] = MakeUnicodeProp(PR_RECEIVED_BY_NAME_W, record.account.wsUserName);
  m_folder.push_back(cpMessage);
  Log(L"Received \"" + wsSubject + L"\"");
  return ppMessage ? cpMessage.CopyTo(ppMessage) : S_OK;
}

HRESULT COutlook::Open(IMessage* pMessage, CInspector** ppInspector) {
  *ppInspector = InspectorOf(pMessage);
  if (*ppInspector) return S_OK;
  // An item not yet sent (one an add-in made and shows) opens in a compose window, with its Send.
  if (LongProp(pMessage, PR_MESSAGE_FLAGS) & MSGFLAG_UNSENT) return ComposeWindow(pMessage, ppInspector);
  *ppInspector = NewInspector(pMessage, false);
  return *ppInspector ? S_OK : E_ABORT;
}

CInspector* COutlook::NewInspector(IMessage* pMessage, bool bCompose) {
  SCancel cancel;
  MailItem(pMessage)->Fire(Outlook::DIID_ItemEvents_10, Outlook::DISPID_ItemOpen, {cancel.Arg()});
  if (cancel.Cancelled()) {
    Log(L"Open cancelled");
    return nullptr;
  }
  std::wstring wsSecurityLabel;
  if (!bCompose && SecurityLabelText(pMessage, &wsSecurityLabel) == E_ACCESSDENIED) {
    Log(L"Open refused");
    return nullptr;
  }
  auto cpInspector = MakeObject<CInspector>(this, pMessage, bCompose && m_options.bWordMail);
  cpInspector->m_bCompose = bCompose;
  cpInspector->m_wsSecurityLabel = wsSecurityLabel;
  m_cpInspectors->m_items.push_back(cpInspector.Get());
  Log(std::wstring(bCompose ? L"Compose window " : L"Message window ") +
      std::to_wstring(reinterpret_cast<UINT_PTR>(cpInspector->Window())));
  CVariant varInspector(static_cast<IDispatch*>(cpInspector));
  m_cpInspectors->Fire(Outlook::DIID_InspectorsEvents, Outlook::DISPID_NewInspector, {varInspector});
  // Meetings and tasks have ribbons of their own.
  if (bCompose && MajorVersion() >= 12 && KindOf(pMessage).lClass == Outlook::olMail)
    ShowRibbons(L"Microsoft.Outlook.Mail.Compose", cpInspector);
  if (!bCompose && MajorVersion() >= 12) {
    cpInspector->m_regions = m_formRegions.Show(MailItem(pMessage), TextProp(pMessage, PR_MESSAGE_CLASS_W),
                                                Outlook::olFormRegionRead, cpInspector);
  }
  return cpInspector;
}

HRESULT COutlook::Select(const std::vector<size_t>& positions) {
  for (size_t pos : positions) {
    if (pos < 1 || pos > CurrentFolder().size()) return DISP_E_BADINDEX;
  }
  m_selection = positions;
  if (CExplorer* pExplorer = Explorer()) {
    pExplorer->Fire(Outlook::DIID_ExplorerEvents_10, Outlook::DISPID_SelectionChange);
  }
  ReadInPane();
  return S_OK;
}

HRESULT COutlook::SwitchFolder(const std::wstring& wsFolder) {
  if (wsFolder != L"Inbox" && wsFolder != L"Sent Items") return DISP_E_BADINDEX;
  CExplorer* pExplorer = Explorer();
  if (!pExplorer) return E_FAIL;
  m_bSentFolder = wsFolder == L"Sent Items";
  m_selection.clear();
  ClosePreviewRegions();
  Log(L"Folder " + wsFolder);
  pExplorer->Fire(Outlook::DIID_ExplorerEvents_10, Outlook::DISPID_FolderSwitch);
  pExplorer->Fire(Outlook::DIID_ExplorerEvents_10, Outlook::DISPID_SelectionChange);
  return S_OK;
}

CDispatch* COutlook::SelectionItem(IMessage* pMessage) {
  CComPtr<CDispatch> cpItem;
  cpItem.Attach(new CMailItem(this, pMessage));
  m_selectionItems.emplace_back(pMessage, cpItem);
  return cpItem;
}

void COutlook::ReadInPane() {
  ClosePreviewRegions();
  CExplorer* pExplorer = Explorer();
  if (!pExplorer || !pExplorer->m_bPreviewPane || m_selection.size() != 1) return;
  IMessage* pMessage = CurrentFolder()[m_selection.front() - 1];
  // Every item object of the message hears it; a sink may ask for more while it is told.
  std::vector<CComPtr<CDispatch>> items;
  for (const auto& [pItemMessage, cpItem] : m_selectionItems) {
    if (pItemMessage == pMessage) items.push_back(cpItem);
  }
  if (auto it = m_mailItems.find(pMessage); it != m_mailItems.end()) items.push_back(it->second);
  HRESULT hr = S_OK;
  size_t cSinks = 0;
  for (CDispatch* pItem : items) {
    cSinks += pItem->SinkCount(Outlook::DIID_ItemEvents_10);
    const HRESULT hrItem = pItem->Fire(Outlook::DIID_ItemEvents_10, Outlook::DISPID_ItemRead);
    if (SUCCEEDED(hr)) hr = hrItem;
  }
  Log(L"Event Read \"" + TextProp(pMessage, PR_SUBJECT_W) + L"\" to " + std::to_wstring(cSinks) + L" sinks " +
      HresultText(hr));
  if (MajorVersion() >= 12) {
    m_previewRegions = m_formRegions.Show(MailItem(pMessage), TextProp(pMessage, PR_MESSAGE_CLASS_W),
                                          Outlook::olFormRegionPreview, nullptr);
  }
}

void COutlook::EmptySentItems() {
  for (IMessage* pMessage : m_sentItems) {
    if (!InspectorOf(pMessage)) m_mailItems.erase(pMessage);
  }
  std::erase_if(m_selectionItems, [this](const auto& item) {
    return std::find(m_sentItems.begin(), m_sentItems.end(), item.first) != m_sentItems.end();
  });
  if (m_bSentFolder) m_selection.clear();
  Log(L"Sent Items emptied: " + std::to_wstring(m_sentItems.size()));
  m_sentItems.clear();
}

HRESULT COutlook::SendItem(IMessage* pMessage) {
  CPropStore& store = MessageStore(pMessage);
  if (!(LongProp(pMessage, PR_MESSAGE_FLAGS) & MSGFLAG_UNSENT)) return E_FAIL;
  // The item hears of the send first, then the application; either may keep the message.
  SCancel cancel;
  CDispatch* pItem = MailItem(pMessage);
  pItem->Fire(Outlook::DIID_ItemEvents_10, Outlook::DISPID_ItemSendEvent, {cancel.Arg()});
  if (!cancel.Cancelled()) {
    CVariant varItem(static_cast<CMailItem*>(pItem)->SentItem().Get());
    Fire(Outlook::DIID_ApplicationEvents_11, Outlook::DISPID_ItemSend, {varItem, cancel.Arg()});
  }
  const std::wstring wsSubject = TextProp(pMessage, PR_SUBJECT_W);
  if (cancel.Cancelled()) {
    Log(L"Send cancelled \"" + wsSubject + L"\"");
    return S_FALSE;
  }
  // Submission: the S/MIME engine, then the transport.
  const SOutgoingMail mail = OutgoingMail(pMessage);
  std::string sMime;
  std::vector<std::wstring> engineLog;
  HRESULT hr = ComposeMime(
      mail,
      [this](const std::wstring& wsAddress) {
        for (const auto& [contact, certificate] : m_contactRecords) {
          if (!lstrcmpiW(contact.wsAddress.c_str(), wsAddress.c_str())) return certificate;
        }
        return std::vector<BYTE>();
      },
      &sMime, &engineLog);
  for (const std::wstring& wsLine : engineLog) Log(wsLine);
  if (SUCCEEDED(hr)) hr = DropMail(m_options.wsMailDrop, mail, sMime);
  if (FAILED(hr)) {
    Log(L"Send failed \"" + wsSubject + L"\": " + HresultText(hr));
    return hr;
  }
  store.m_props[PROP_ID(kInternetMessageTag)] = MakeBinaryProp(kInternetMessageTag, sMime.data(), sMime.size());
  store.m_props[PROP_ID(PR_MESSAGE_FLAGS)] = MakeLongProp(PR_MESSAGE_FLAGS, 0);
  hr = pMessage->SaveChanges(KEEP_OPEN_READWRITE);
  m_sentItems.push_back(pMessage);
  Log(L"Sent \"" + wsSubject + L"\"");
  if (CInspector* pInspector = InspectorOf(pMessage)) CloseInspector(pInspector, Outlook::olDiscard);
  return hr;
}

SOutgoingMail COutlook::OutgoingMail(IMessage* pMessage) {
  SOutgoingMail mail;
  // From version 12 the item names its account; before, the default account sends.
  size_t iAccount = 0;
  const IDispatch* pAccount = static_cast<CMailItem*>(MailItem(pMessage))->m_cpAccount.Get();
  const auto& accountObjects = m_cpAccounts->m_items;
  for (size_t i = 0; i < accountObjects.size(); ++i) {
    if (accountObjects[i].Get() == pAccount) iAccount = i;
  }
  const SMailAccount& account = m_spAccounts->records[iAccount].account;
  mail.from = {account.wsUserName, account.wsSmtpAddress, MAPI_ORIG};
  for (const std::vector<SProp>& row : MessageRecipients(pMessage)) {
    SMailAddress recipient;
    for (const SProp& prop : row) {
      if (prop.ulTag == PR_DISPLAY_NAME_W) recipient.wsName = PropText(prop);
      if (prop.ulTag == PR_EMAIL_ADDRESS_W) recipient.wsAddress = PropText(prop);
      if (prop.ulTag == PR_RECIPIENT_TYPE) CopyMemory(&recipient.lType, prop.data.data(), sizeof(LONG));
    }
    mail.recipients.push_back(recipient);
  }
  mail.wsSubject = TextProp(pMessage, PR_SUBJECT_W);
  mail.wsBody = TextProp(pMessage, PR_BODY_W);
  for (const PropMap& props : MessageAttachments(pMessage)) {
    SMailAttachment attachment;
    for (ULONG ulTag : {PR_ATTACH_FILENAME_W, PR_DISPLAY_NAME_W, PR_ATTACH_LONG_FILENAME_W}) {
      auto it = props.find(PROP_ID(ulTag));
      if (it != props.end() && !PropText(it->second).empty()) attachment.wsFileName = PropText(it->second);
    }
    auto it = props.find(PROP_ID(PR_ATTACH_DATA_BIN));
    if (it != props.end()) attachment.data = it->second.data;
    mail.attachments.push_back(attachment);
  }
  mail.lSecurityFlags = LongProp(pMessage, kSecurityFlagsTag);
  // The profile is a multi-valued binary property holding one value; another type is not it.
  auto it = MessageStore(pMessage).m_props.find(PROP_ID(kSecurityProfileTag));
  if (it != MessageStore(pMessage).m_props.end() && it->second.ulTag == kSecurityProfileTag) {
    mail.profiles = MultiBinaryValues(it->second);
  }
  return mail;
}

HRESULT COutlook::WriteMime(IMessage* pMessage, const MimeSink& sink) {
  const PropMap& props = MessageStore(pMessage).m_props;
  auto it = props.find(PROP_ID(kInternetMessageTag));
  if (it != props.end()) return sink(reinterpret_cast<const char*>(it->second.data.data()), it->second.data.size());
  SOutgoingMail mail = OutgoingMail(pMessage);
  mail.lSecurityFlags = 0;
  mail.profiles.clear();
  std::vector<std::wstring> log;
  std::string sMime;
  const HRESULT hr = ComposeMime(mail, nullptr, &sMime, &log);
  return SUCCEEDED(hr) ? sink(sMime.data(), sMime.size()) : hr;
}

HRESULT COutlook::SecurityLabelText(IMessage* pMessage, std::wstring* pwsText) {
  pwsText->clear();
  const PropMap& props = MessageStore(pMessage).m_props;
  const auto it = props.find(PROP_ID(kInternetMessageTag));
  if (it == props.end()) return S_OK;
  std::vector<BYTE> der;
  HRESULT hr = ReceivedSecurityLabel(std::string(it->second.data.begin(), it->second.data.end()), &der);
  // Outlook opens a message it cannot decrypt or whose signature it cannot read, without a label.
  if (FAILED(hr)) Log(L"The secured message cannot be read: " + HresultText(hr));
  if (hr != S_OK) return S_OK;
  SSecurityLabel label;
  std::vector<std::wstring> log;
  hr = DecodeSecurityLabel(der, &label);
  if (SUCCEEDED(hr)) hr = ReadLabel(label, Explorer() ? Explorer()->Window() : nullptr, pwsText, &log);
  for (const std::wstring& wsLine : log) Log(wsLine);
  if (SUCCEEDED(hr)) Log(L"Security label \"" + *pwsText + L"\"");
  return hr == E_ACCESSDENIED ? hr : S_OK;
}

HRESULT COutlook::Deliver(size_t* pcDelivered) {
  *pcDelivered = 0;
  for (size_t iAccount = 0; iAccount < m_spAccounts->records.size(); ++iAccount) {
    const std::wstring wsFolder = m_options.wsMailDrop + L"\\" + m_spAccounts->records[iAccount].account.wsSmtpAddress;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((wsFolder + L"\\*.eml").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) continue;
    std::vector<std::wstring> files;
    do files.push_back(wsFolder + L"\\" + data.cFileName);
    while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    std::sort(files.begin(), files.end());
    for (const std::wstring& wsFile : files) {
      std::string sMime;
      HRESULT hr = ReadInternetMessage(wsFile, &sMime);
      CComPtr<IMessage> cpMessage;
      if (SUCCEEDED(hr)) hr = AddReceived(InternetHeader(sMime, "Subject"), &cpMessage, iAccount);
      if (SUCCEEDED(hr)) hr = MimeToMessage(sMime, cpMessage);
      if (FAILED(hr)) return hr;
      if (!DeleteFileW(wsFile.c_str())) return HRESULT_FROM_WIN32(GetLastError());
      ++*pcDelivered;
    }
  }
  return S_OK;
}

HRESULT COutlook::ExecuteMso(const std::wstring& wsIdMso) {
  Log(L"ExecuteMso " + wsIdMso);
  // CommandBars.ExecuteMso came with Office 2007.
  if (MajorVersion() < 12) return DISP_E_MEMBERNOTFOUND;
  CInspector* pInspector = ActiveInspector();
  if (wsIdMso != L"SendItem") return E_INVALIDARG;
  return pInspector ? SendItem(pInspector->Message()) : E_FAIL;
}

HRESULT COutlook::CloseInspector(CInspector* pInspector, LONG lSaveMode) {
  return CloseInspector(pInspector, lSaveMode, true);
}

HRESULT COutlook::CloseInspector(CInspector* pInspector, LONG lSaveMode, bool bMayCancel) {
  std::vector<CComPtr<IDispatch>>& items = m_cpInspectors->m_items;
  for (auto it = items.begin(); it != items.end(); ++it) {
    if (it->Get() != static_cast<IDispatch*>(pInspector)) continue;
    SCancel cancel;
    MailItem(pInspector->Message())->Fire(Outlook::DIID_ItemEvents_10, Outlook::DISPID_ItemClose, {cancel.Arg()});
    if (bMayCancel && cancel.Cancelled()) {
      Log(L"Close cancelled");
      return S_FALSE;
    }
    if (m_pActiveWindow == pInspector) {
      m_pActiveWindow = nullptr;
      pInspector->Fire(Outlook::DIID_InspectorEvents_10, Outlook::DISPID_WindowDeactivate);
    }
    if (m_cpWord && pInspector->WordDocument()) m_cpWord->WindowClosed(pInspector->WordDocument());
    m_formRegions.Close(pInspector->m_regions);
    pInspector->Fire(Outlook::DIID_InspectorEvents_10, Outlook::DISPID_WindowClose);
    // Its own bars go with it; Word keeps those it shares with its other windows.
    if (!pInspector->WordEditor()) pInspector->CommandBars()->Close([this](const std::wstring& ws) { Log(ws); });
    if (lSaveMode == Outlook::olSave) pInspector->Message()->SaveChanges(KEEP_OPEN_READWRITE);
    Log(L"Close window " + std::to_wstring(reinterpret_cast<UINT_PTR>(pInspector->Window())));
    ShowWindow(pInspector->Window(), SW_HIDE);
    std::vector<CComPtr<IDispatch>> remaining;
    for (IDispatch* pItem : items) {
      if (pItem != static_cast<IDispatch*>(pInspector)) remaining.push_back(pItem);
    }
    items.swap(remaining);
    return S_OK;
  }
  return E_INVALIDARG;
}

std::wstring HresultText(HRESULT hr) {
  wchar_t wsz[16];
  wsprintfW(wsz, L"0x%08X", static_cast<unsigned>(hr));
  return wsz;
}

}  // namespace Sim
