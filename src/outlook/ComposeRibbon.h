#pragma once
// The Outlook add-in: connects to Outlook, publishes itself in COMAddIns, installs the event
// sinks of its Outlook version, prepares the profile at Outlook's start-up, serves the compose
// and explorer ribbons and refreshes them when the suite signals a new personal certificate.
#include <ocidl.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "VmOfcX_h.h"
#include "com/Bstr.h"
#include "hosts/OfficeAddIn.h"
#include "mail/MailItemKey.h"
#include "module/CertLibrary.h"
#include "module/RibbonSupport.h"
#include "module/Trace.h"
#include "com/OfficeAddIn.h"
#include "module/Balloon.h"

// The major version of _Application.Version, fixed by the first call that reads one; 0 when unknown.
int GetOutlookVersion(IDispatch* pApplication);

// Mail domain of the suite's certificate authority, put on the safe-senders list so that its
// answers are not taken for junk.
inline constexpr wchar_t kAuthorityMailDomain[] = L"@ca.tessaly.example";

// The user's "EmailSecurity" setting: bit 0x1 seals what the secure-send button sends, bit 0x4
// keeps the advertisement out of secure messages.
constexpr DWORD kEmailSecuritySeal = 0x1;
constexpr DWORD kEmailSecurityNoAdvertisement = 0x4;

// What the analysis of a received message found (AnalyzeMessage), kept for the add-in's button.
struct SMessageAction {
  DWORD dwKind = 0;
  std::wstring wsText;
  std::shared_ptr<const CERT_CONTEXT> spCertificate;  // freed with the record's last copy
};

// A property read as a boolean; false when it cannot be read.
bool GetBoolProperty(IDispatch* pDisp, const wchar_t* wszName);
// Whether Word edits the inspector's message (Outlook 11 only).
bool IsWordMail(IDispatch* pInspector);
// An inspector's command bars; those of a WordMail inspector are its Word document's.
HRESULT GetInspectorCommandBars(IDispatch* pInspector, IDispatch** ppCommandBars);

class CComposeRibbon final : public COfficeAddIn, public Office::IRibbonExtensibility, public IComposeRibbon {
 public:
  explicit CComposeRibbon(IUnknown* pOuter);
  ~CComposeRibbon() override;
  VM_DELEGATING_IUNKNOWN

  HRESULT FinalConstruct() override;

  VM_TYPELIB_DISPATCH(IComposeRibbon)

  // IDTExtensibility2
  STDMETHOD(OnConnection)
  (IDispatch* pApplication, Office::ext_ConnectMode ConnectMode, IDispatch* pAddInInst, SAFEARRAY** custom) override;
  STDMETHOD(OnStartupComplete)(SAFEARRAY** custom) override;
  STDMETHOD(OnBeginShutdown)(SAFEARRAY** custom) override;

  // IRibbonExtensibility
  STDMETHOD(GetCustomUI)(BSTR RibbonID, BSTR* RibbonXml) override;

  // IComposeRibbon
  STDMETHOD(Ribbon_OnLoadExplorer)(IDispatch* pRibbon) override;
  STDMETHOD(Ribbon_OnLoadCompose)(IDispatch* pRibbon) override;
  STDMETHOD(Ribbon_OnLoadImage)(BSTR* pbstrImageId, IPictureDisp** ppdispImage) override;
  STDMETHOD(Ribbon_OnButtonClicked)(IDispatch* pControl) override;
  STDMETHOD(Ribbon_GetGroupLabel)(IDispatch* pControl, BSTR* pbstrLabel) override;
  STDMETHOD(Ribbon_GetButtonLabel)(IDispatch* pControl, BSTR* pbstrLabel) override;
  STDMETHOD(Ribbon_GetMenuItemLabel)(IDispatch* pControl, BSTR* pbstrLabel) override;
  STDMETHOD(Ribbon_GetMenuItemTip)(IDispatch* pControl, BSTR* pbstrScreentip) override;
  STDMETHOD(Ribbon_OnMenuItemClicked)(IDispatch* pControl) override;
  STDMETHOD(Ribbon_GetMenuItemVisible)(IDispatch* pControl, VARIANT_BOOL* pvarfVisible) override;
  STDMETHOD(SendTrustedContactInvitation)() override;

  bool IsProfileActive();
  HRESULT InitializeProfile();
  // Outlook's Startup and Quit events.
  HRESULT OnApplicationStartup();
  HRESULT OnApplicationQuit();
  // Run by the restart timer until Outlook quits.
  void RestartOutlookProc();

  // The command bars of Outlook 11 to 13: the add-in's menu on a main window's Standard bar, its
  // toolbar with a button and the menu in a compose window.
  HRESULT AddCommandBarButton(IDispatch* pWindow);
  HRESULT AddCommandBarButtonItems(IDispatch* pPopup, VARIANT_BOOL bCompose);
  HRESULT OnButtonClick(IDispatch* pButton);
  // Window events of Outlook 11 (WindowSinks.h): the message in a main window's reading pane
  // (none: the selection changed), and a message window's activation and closing.
  HRESULT OnPreviewItem(IDispatch* pExplorer, IDispatch* pItem);
  HRESULT OnInspectorActivate(IDispatch* pInspector);
  HRESULT OnInspectorDeactivate(IDispatch* pInspector);
  HRESULT OnInspectorClose(IDispatch* pInspector);

  // Secure sending: the user's choice is recorded for the item (a _MailItem, or a ribbon control
  // of its compose window) and Outlook's own Send is pressed; E_ABORT when the user declines or
  // the profile is not ready. Outlook's ItemSend then applies the choice (OnItemSend).
  HRESULT SendCurrentItem(IDispatch* pSource, BOOL bSign, BOOL bSeal, BOOL bQuiet);
  HRESULT OnItemSend(IDispatch* pItem, VARIANT_BOOL* pbCancel);
  // The sent item's window closed: its records go and its signing key is locked again.
  static void OnSentItemClose(const CMailItemKey& key, const wchar_t* wszContainer);

  // The invitation commands. pMailItem: the message being composed, or null for a new one.
  HRESULT SendInvitation(IDispatch* pMailItem);
  HRESULT SendBatchInvitation(IDispatch* pMailItem);
  // The item an invitation command works on: the unsent one given (when the user agrees to
  // replace its content), else a new one, shown, sent from the account of the user's certificate.
  HRESULT AssertNewMailItem(IDispatch** ppMailItem);

  // Points a balloon at the add-in's button in Outlook's active window; whether it was shown.
  bool ShowBalloonPrompt();

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  static void CALLBACK OnRefreshTimer(HWND, UINT, UINT_PTR, DWORD);
  static void CALLBACK OnRestartTimer(HWND, UINT, UINT_PTR, DWORD);

  HRESULT QueryApplication(CTraceScope& scope, IDispatch** ppApplication) const;
  HRESULT InvitationItem(IDispatch* pMailItem, CComPtr<IDispatch>& cpItem);
  void PublishInComAddIns(CTraceScope& scope, IDispatch* pApplication);
  HRESULT InstallSinks(IDispatch* pApplication, int nVersion);
  void AddToOpenExplorers(IDispatch* pApplication);
  HRESULT OnApplicationEvent(DISPID dispid, DISPPARAMS* pParams);
  HRESULT OnItemSendEvent(DISPPARAMS* pParams);
  void InstallSentItemSink(IDispatch* pItem, const CComBSTR& bsContainer);
  void RefreshRibbons();
  void BalloonTick();
  void FinalRelease();
  // lButtonCommand: the command of the button before the menu; kNoButton (-1): none.
  HRESULT AddCommandBarControls(CTraceScope& scope, IDispatch* pBar, bool bCompose, LONG lButtonCommand);
  HRESULT SetUpButton(CTraceScope& scope, IDispatch* pButton, LONG lCommand, const std::wstring& wsTip,
                      bool bBeginGroup, DWORD* pdwCookie);
  // The menu commands that lead to the suite's tools rather than to a message, by the ribbon's
  // control id; pItem: the message in front, or null; hwndOwner: the owner of the enrolment.
  HRESULT RunSuiteCommand(CTraceScope& scope, IDispatch* pItem, HWND hwndOwner, const std::wstring& wsId);
  void DeleteCommandBarControls();
  void RebuildMenuItems();
  // The records of received messages' actions, under m_csMessageActions. Set replaces the key's
  // record; Get answers an empty record (kind 0) for a key without one, bRemove drops it.
  void SetMessageAction(const CMailItemKey& key, const SMessageAction& action);
  SMessageAction GetMessageAction(const CMailItemKey& key, bool bRemove);
  SMessageAction GetMessageActionLocked(const CMailItemKey& key, bool bRemove);

  // Controls in the order they were added, with their click-sink cookies or compose flags.
  std::vector<std::pair<CComPtr<IDispatch>, DWORD>> m_mapMenuItems;
  std::vector<std::pair<CComPtr<IDispatch>, bool>> m_mapPopups;
  std::vector<std::pair<CComPtr<IDispatch>, DWORD>> m_mapButtons;
  // Received messages' records: a message window's under its message's key, the reading pane's
  // under (its button's Parameter, empty).
  std::vector<std::pair<CMailItemKey, SMessageAction>> m_mapMessageActions;
  CRITICAL_SECTION m_csMessageActions;

  CComPtr<Office::IRibbonUI> m_spComposeRibbonUI;
  CComPtr<Office::IRibbonUI> m_spExplorerRibbonUI;
  DWORD m_dwAppEventsCookie = 0;
  DWORD m_dwExplorersEventsCookie = 0;
  DWORD m_dwInspectorsEventsCookie = 0;
  BOOL m_bProfileReady = FALSE;
  CRITICAL_SECTION m_csProfile;
  bool m_bPreparingProfile = false;  // InitializeProfile runs (it may wait on message 423)
  int m_nProfileChecks = 0;
  UINT_PTR m_nRefreshTimer = 0;
  UINT_PTR m_nRestartTimer = 0;
  CCertificateWatcher m_watcher;
  int m_nBalloonCount = 5;
  int m_nBalloonDelay = 15;
  tooltip_t m_tooltip;
  CTypeLibInfo m_typeInfo{IID_IComposeRibbon};
  // Keeps the suite's certificate libraries loaded while Outlook holds the add-in: every secure
  // send uses them, and loading them anew each time cost several signatures (bench/README.md).
  std::unique_ptr<CCertLibrary> m_spCertLibrary;
};

// The add-in object, for the timer procedures (timers without a window carry no context).
extern CComposeRibbon* g_pComposeRibbon;
