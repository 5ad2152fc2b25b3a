#pragma once
// The simulated Outlook: the application object and what a scenario or a test does with it.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SimAccounts.h"
#include "SimBalloons.h"
#include "SimCommandBars.h"
#include "SimDispatch.h"
#include "SimFormRegion.h"
#include "SimMapi.h"
#include "SimMime.h"
#include "SimRibbon.h"
#include "SimRibbonWindow.h"
#include "SimSmime.h"
#include "hosts/OfficeAddIn.h"

namespace Sim {

std::wstring HresultText(HRESULT hr);

// A new name in the temporary folder, no file made: for a run's profile or mail drop.
std::wstring TempFileName(const wchar_t* wszPrefix);

struct SOutlookOptions {
  std::wstring wsVersion = L"14.0.0.7015";
  bool bWordMail = false;      // compose windows edited by Word
  std::wstring wsProfilePath;  // the profile file; empty: %LOCALAPPDATA%\OfficeSim\Outlook.profile
  // The profile's mail accounts, the default one first.
  std::vector<SMailAccount> accounts = {{L"user@example.com", L"user@example.com", L"Sim User", L""}};
  std::vector<std::wstring> onlyAddIns;  // ProgIDs to load; empty: every add-in set to load
  bool bOffline = false;                 // no profile logged on: the namespace has no MAPI session
  // Where sent messages go and received ones come from; empty: %OFCSIM_MAILDROP%, else
  // %LOCALAPPDATA%\OfficeSim\MailDrop.
  std::wstring wsMailDrop;
};

// A contact of the contacts folder. An address of another type than "SMTP" stands for an
// address-book entry, which the contact names in its property 0x81B30102; the entry has these
// addresses (PR_SMTP_ADDRESS_W, PR_EMAIL_ADDRESS_W), and a contact without either has none.
struct SContact {
  std::wstring wsFullName;
  std::wstring wsAddressType = L"SMTP";
  std::wstring wsAddress;
  std::wstring wsEntrySmtpAddress;
  std::wstring wsEntryEmailAddress;
};

// What an add-in's connection and start-up completion took, as Outlook's resiliency check times them.
struct SStartupCost {
  double dConnectionMs = 0;
  double dStartupCompleteMs = 0;
};

class CExplorer;
class CInspector;
class CWordApplication;
class CWindowObject;
class CComAddIn;

class COutlook final : public CDispatch {
 public:
  explicit COutlook(SOutlookOptions options);
  ~COutlook() override;

  // Start-up as Outlook does it: add-ins connected, main window shown, start-up finished.
  HRESULT Start();
  // Shut-down as Outlook does it; safe to call twice.
  HRESULT Quit();
  // Connects an add-in of the machine's list while Outlook runs (ext_cm_AfterStartup), as the
  // add-in dialog does; and unloads one (ext_dm_UserClosed), releasing it.
  HRESULT LoadAddIn(const std::wstring& wsProgId);
  HRESULT UnloadAddIn(const std::wstring& wsProgId);
  // A profile is logged on after a start without one.
  void Logon() { m_options.bOffline = false; }
  // Sinks advised on "application", "explorers", "inspectors", "explorer" (the main windows),
  // "inspector" (the message windows, closed ones that are still held included), "word" (Word's
  // application), "buttons" or "items".
  size_t SinkCount(const std::wstring& wsSource) const;
  bool StartupCost(const std::wstring& wsProgId, SStartupCost* pCost) const;
  // The profile's safe-senders list as Outlook stores it (entries joined with ";"); an entry the user adds.
  std::wstring SafeSenders() const;
  void AddSafeSender(const std::wstring& wsEntry);
  // How often the profile's service of that name was configured; -1 when it is not in the profile.
  LONG ServiceConfigured(const std::string& sName) const;
  // Whether the object model asked to quit: Outlook quits once the caller has returned.
  bool QuitRequested() const { return m_bQuitRequested; }

  // A new item (CreateItem's type: a message, an appointment or a task) in a new compose
  // window, shown and in front.
  HRESULT Compose(CInspector** ppInspector, LONG lItemType = 0);
  // A received message in the main window's folder, received by the account of that
  // 0-based index; it is not selected.
  HRESULT AddReceived(const std::wstring& wsSubject, IMessage** ppMessage, size_t iAccount = 0);
  // The unsent reply to a received message (_MailItem.Reply): to its sender, from the account that
  // received it; not shown.
  HRESULT CreateReply(IMessage* pOriginal, CDispatch** ppReply);
  // A contact item in the default contacts folder (NameSpace.GetDefaultFolder(olFolderContacts)).
  // certificate (DER): the contact's, which the S/MIME engine encrypts for when no trusted contact has one.
  HRESULT AddContact(const SContact& contact, const std::vector<BYTE>& certificate = {});
  // Another main window, not yet shown (Display shows it); Explorers.NewExplorer is raised.
  HRESULT NewExplorer(CExplorer** ppExplorer);
  // Opens a message in its own window; E_ABORT when the item's Open event cancels.
  HRESULT Open(IMessage* pMessage, CInspector** ppInspector);
  // Selects messages of the main window's folder by their 1-based positions; with the reading pane
  // shown, the one message selected is read there.
  HRESULT Select(const std::vector<size_t>& positions);
  // The main window shows another folder ("Inbox" or "Sent Items"); nothing is selected there yet.
  HRESULT SwitchFolder(const std::wstring& wsFolder);
  // The user empties "Sent Items": its messages go, but for those still open in a window.
  void EmptySentItems();
  // An ordinary Word document (no mail) in a window of its own, in front: Word shares its command
  // bars with the windows in which it edits mail.
  HRESULT OpenWordDocument();
  // Word, which edits mail when the options say so; made on first use.
  CWordApplication* Word();
  // Sends unless the item's Send or the application's ItemSend event cancels (S_FALSE): the S/MIME
  // engine follows the message's security flags and profile, the message goes to the mail drop
  // and into "Sent Items". A failure of the engine keeps the message unsent in its window.
  HRESULT SendItem(IMessage* pMessage);
  // Moves the mail drop's messages for this profile's accounts into the inbox (the folder).
  HRESULT Deliver(size_t* pcDelivered);
  void SetMailDrop(const std::wstring& wsFolder) { m_options.wsMailDrop = wsFolder; }
  const std::wstring& MailDrop() const { return m_options.wsMailDrop; }
  // Closes unless the item's Close event cancels (S_FALSE); at shut-down it cannot.
  HRESULT CloseInspector(CInspector* pInspector, LONG lSaveMode);
  // Runs a built-in command by its idMso, as CommandBars.ExecuteMso does.
  HRESULT ExecuteMso(const std::wstring& wsIdMso);
  // Calls the onAction callback of a control of the given window's ribbon.
  HRESULT Click(IDispatch* pWindow, const std::wstring& wsControlId);
  // The state of a control in a window's ribbon, refreshed now.
  HRESULT ControlState(IDispatch* pWindow, const std::wstring& wsControlId, SControlState* pState);
  // The picture that an add-in's loadImage gave for an image id of a window's ribbon, or null.
  IPictureDisp* RibbonImage(IDispatch* pWindow, const std::wstring& wsImageId);
  // The screen rectangle of a window's ribbon control, or of a command-bar control by tag or caption.
  bool ControlRect(CWindowObject* pWindow, const std::wstring& wsControl, RECT* prc) const;
  // The balloon tips on screen.
  std::map<HWND, SBalloon> Balloons() const { return m_balloons.Shown(); }

  // The first main window.
  CExplorer* Explorer() const;
  // Called by a window object that comes to the front: the one in front before is deactivated.
  void WindowActivated(CWindowObject* pWindow);
  CInspector* ActiveInspector() const;
  // The open message windows, in the order they opened.
  const std::vector<CComPtr<IDispatch>>& Inspectors() const;
  CInspector* InspectorOf(IMessage* pMessage) const;
  const std::vector<size_t>& Selection() const { return m_selection; }
  // The explorer or inspector whose window is topmost, or null.
  IDispatch* TopWindowObject() const;
  // The _MailItem object of a message: one per message, so that its event sinks stay.
  CDispatch* MailItem(IMessage* pMessage);
  bool Started() const { return m_bStarted; }
  LONG MajorVersion() const;
  IDispatch* NameSpace() const { return m_cpNameSpace; }
  CComAddIn* FindAddIn(const std::wstring& wsProgId) const;
  std::vector<CComAddIn*> AddIns() const;
  const std::vector<CComPtr<IMessage>>& Folder() const { return m_folder; }
  // The folder the main window shows.
  const std::vector<CComPtr<IMessage>>& CurrentFolder() const { return m_bSentFolder ? m_sentItems : m_folder; }
  // Outlook raises Read on the item objects of the one message the reading pane shows, and shows
  // its form regions there (from 12).
  void ReadInPane();
  // The form regions that the reading pane shows; those it shows no more are closed.
  const std::vector<CComPtr<CDispatch>>& PreviewRegions() const { return m_previewRegions; }
  void ClosePreviewRegions() { m_formRegions.Close(m_previewRegions); }
  // A new item object for a message of the selection, as Outlook hands out one per call.
  CDispatch* SelectionItem(IMessage* pMessage);
  const std::vector<CComPtr<IMessage>>& SentItems() const { return m_sentItems; }
  std::shared_ptr<CProfile> Profile() const { return m_spProfile; }
  const SOutlookOptions& Options() const { return m_options; }
  // The accounts with their stamps, and what account manager clients told it.
  std::shared_ptr<SAccountStore> Accounts() const { return m_spAccounts; }

  void Log(const std::wstring& ws);
  std::vector<std::wstring> m_log;  // what the host did and saw, one line an action

 private:
  struct SAddIn {
    CComPtr<CComAddIn> cpComAddIn;
    CComPtr<IDispatch> cpObject;
    SStartupCost cost;
  };

  HRESULT NewItemMessage(LONG lItemType, IMessage** ppMessage);
  void AddAccounts();
  void AddContactsFolder();
  // A new entry of the address book with these properties; its entry id.
  std::vector<BYTE> AddAddressEntry(std::shared_ptr<CPropStore> spEntry);
  // The window of these lists that is nearest the top of the z-order, or null.
  CWindowObject* Topmost(std::initializer_list<CCollection*> lists) const;
  IUnknown* OpenEntry(const std::vector<BYTE>& entryId, ULONG* pulType);
  void LoadAddIns();
  HRESULT ConnectAddIn(const std::wstring& wsProgId, const std::wstring& wsDescription,
                       Office::ext_ConnectMode connectMode);
  void ReleaseAddIn(SAddIn& addIn);
  // The connected add-in of that ProgID, or null.
  IUnknown* AddInObject(const std::wstring& wsProgId) const;
  using AddInCall = std::function<HRESULT(Office::IDTExtensibility2*, SAFEARRAY**)>;
  void ForEachAddIn(const char* szMethod, const AddInCall& fn, double SStartupCost::*pCost = nullptr);
  void ShowRibbons(const std::wstring& wsRibbonId, CWindowObject* pWindow);
  // The groups of the window's ribbon tab: Outlook's own, then the add-ins' as they show now.
  std::vector<SRibbonGroup> RibbonGroups(CWindowObject* pWindow);
  // The ribbon id of a kind of window: that of compose windows for an inspector.
  static std::wstring RibbonIdOf(IDispatch* pWindow);
  CInspector* NewInspector(IMessage* pMessage, bool bCompose);
  // A compose window for an item not yet sent, with its editor's Send and account choice; in front.
  HRESULT ComposeWindow(IMessage* pMessage, CInspector** ppInspector);
  // What the S/MIME engine takes of a message, sent from the account the item names.
  SOutgoingMail OutgoingMail(IMessage* pMessage);
  // The message as MIME, as Outlook's converter writes it.
  HRESULT WriteMime(IMessage* pMessage, const MimeSink& sink);
  // A received S/MIME message's security label as its policy module words it (empty without
  // one); E_ACCESSDENIED when the module denies the user the message.
  HRESULT SecurityLabelText(IMessage* pMessage, std::wstring* pwsText);
  HRESULT CloseInspector(CInspector* pInspector, LONG lSaveMode, bool bMayCancel);

  SOutlookOptions m_options;
  std::shared_ptr<CProfile> m_spProfile;
  CComPtr<IMAPISession> m_cpSession;
  CComPtr<CDispatch> m_cpNameSpace;
  CComPtr<CCollection> m_cpExplorers;
  CComPtr<CCollection> m_cpInspectors;
  CComPtr<CCollection> m_cpComAddIns;
  std::vector<CComPtr<IMessage>> m_folder;
  std::vector<CComPtr<IMessage>> m_sentItems;
  std::vector<std::pair<SContact, std::vector<BYTE>>> m_contactRecords;  // with their certificates
  std::map<IMessage*, CComPtr<CDispatch>> m_mailItems;
  std::vector<std::pair<IMessage*, CComPtr<CDispatch>>> m_selectionItems;
  std::vector<size_t> m_selection;
  bool m_bSentFolder = false;
  CComPtr<CWordApplication> m_cpWord;
  std::vector<CComPtr<IDispatch>> m_wordDocuments;  // ordinary documents, and their windows
  std::vector<HWND> m_wordWindows;
  std::shared_ptr<SAccountStore> m_spAccounts = std::make_shared<SAccountStore>();
  std::map<std::vector<BYTE>, std::shared_ptr<CPropStore>> m_addressEntries;  // by entry id
  CComPtr<CCollection> m_cpAccounts;                                          // the object model's Accounts
  CComPtr<CDispatch> m_cpContactsFolder;
  CComPtr<CCollection> m_cpContacts;  // its Items
  DWORD m_dwAccountManagerCookie = 0;
  DWORD m_dwConverterCookie = 0;
  CWindowObject* m_pActiveWindow = nullptr;
  std::vector<SAddIn> m_addIns;
  CFormRegionHost m_formRegions{[this](const std::wstring& ws) { return AddInObject(ws); },
                                [this](const std::wstring& ws) { Log(ws); }};
  std::vector<CComPtr<CDispatch>> m_previewRegions;
  CRibbonHost m_ribbons{[this](const std::wstring& ws) { Log(ws); }};
  bool m_bStarted = false;
  bool m_bQuitRequested = false;
  DWORD m_dwActiveObject = 0;  // registration in the running object table
  CBalloonWatch m_balloons;
  DWORD m_dwClassObject = 0;  // Outlook.Application's class object, when COM started Outlook
};

class CWindowObject : public CDispatch {
 public:
  CWindowObject(COutlook* pOutlook, const IID& iid, const IID& eventsIid, const wchar_t* wszClass,
                const std::wstring& wsTitle);
  ~CWindowObject() override;
  HWND Window() const { return m_hwnd; }
  // Brings the window to the top of the z-order and activates it.
  void Activate();
  const IID& EventsIid() const { return m_eventsIid; }
  CCommandBars* CommandBars() const { return m_cpCommandBars; }
  CRibbonWindow* Ribbon() const { return m_spRibbon.get(); }
  void SetRibbon(std::unique_ptr<CRibbonWindow> spRibbon) { m_spRibbon = std::move(spRibbon); }
  // The window's command bars are those of another program (Word's, for a message it edits).
  void ShareCommandBars(CCommandBars* pCommandBars) { m_cpCommandBars = pCommandBars; }
  // Event sinks advised on every window object alive for that event interface.
  static size_t LiveSinkCount(const IID& eventsIid);

 protected:
  void* FindInterface(REFIID riid) override;
  virtual bool ReportsWindow() const { return true; }
  COutlook* m_pOutlook;
  IID m_eventsIid;
  HWND m_hwnd = nullptr;

 private:
  class COleWindow;
  std::unique_ptr<COleWindow> m_pOleWindow;
  CComPtr<CCommandBars> m_cpCommandBars;
  std::unique_ptr<CRibbonWindow> m_spRibbon;
};

class CExplorer final : public CWindowObject {
 public:
  explicit CExplorer(COutlook* pOutlook);
  bool m_bPreviewPane = true;
};

class CInspector final : public CWindowObject {
 public:
  CInspector(COutlook* pOutlook, IMessage* pMessage, bool bWordEditor);
  IMessage* Message() const { return m_cpMessage; }
  bool WordEditor() const { return m_bWordEditor; }
  // Word's document of a message it edits, else null.
  CDispatch* WordDocument() const { return m_cpDocument; }
  // Word's mail envelope (Outlook 2003): its account menu lists these names, the first checked.
  void AddEnvelope(const std::vector<std::wstring>& accountNames);
  bool m_bCompose = false;
  // The form regions shown in the window (a received message's, from 12).
  std::vector<CComPtr<CDispatch>> m_regions;
  // The security label shown in a received message's window, or empty.
  std::wstring m_wsSecurityLabel;

 protected:
  // Outlook reports no window of its own for a message that Word edits.
  bool ReportsWindow() const override { return !m_bWordEditor; }

 private:
  CComPtr<IMessage> m_cpMessage;
  CComPtr<CDispatch> m_cpDocument;
  CComPtr<IUnknown> m_cpEnvelope;
  bool m_bWordEditor;
};

// Word as Outlook 2003's mail editor: one application whose command bars all its windows share,
// raising WindowActivate and WindowDeactivate (the document and its window) and Quit.
class CWordApplication final : public CDispatch {
 public:
  explicit CWordApplication(COutlook* pOutlook);
  CCommandBars* CommandBars() const { return m_cpCommandBars; }
  // A document of Word's, in the window hwnd; kind: its WdDocumentKind.
  CComPtr<CDispatch> NewDocument(HWND hwnd, LONG lKind);
  // The window of that document came to the front; null: a window that is not Word's.
  void WindowActivated(CDispatch* pDocument);
  // The window of that document closes.
  void WindowClosed(CDispatch* pDocument);
  void Quit();

 private:
  void FireWindowEvent(DISPID dispid, CDispatch* pDocument);
  CComPtr<CCommandBars> m_cpCommandBars;
  CComPtr<CDispatch> m_cpActiveDocument;
};

class CComAddIn final : public CDispatch {
 public:
  CComAddIn(const std::wstring& wsProgId, const CLSID& clsid, const std::wstring& wsDescription);
  std::wstring m_wsProgId;
  std::wstring m_wsGuid;
  std::wstring m_wsDescription;
  bool m_bConnect = false;
  CComPtr<IDispatch> m_cpObject;  // what the add-in published
};

}  // namespace Sim
