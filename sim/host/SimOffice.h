#pragma once
// The simulated Word, Excel and PowerPoint: add-ins from each application's own Addins key,
// documents with their windows, and encryption by a custom encryption provider as Office does it.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "SimBalloons.h"
#include "SimCommandBars.h"
#include "SimContainer.h"
#include "SimDispatch.h"
#include "SimOutlook.h"
#include "SimPackage.h"
#include "SimRibbon.h"
#include "SimSignatures.h"
#include "hosts/EncryptionProvider.h"

namespace Sim {

struct SOfficeOptions {
  EDocApp app = EDocApp::Word;
  std::wstring wsVersion = L"14.0.0.4762";
  std::vector<std::wstring> onlyAddIns;  // ProgIDs to load; empty: every add-in set to load
};

class COfficeApp;

// A document (Word), workbook (Excel) or presentation (PowerPoint) with its one window.
class CSimDocument final : public CDispatch {
 public:
  CSimDocument(COfficeApp* pApp, std::wstring wsName, std::wstring wsText);
  ~CSimDocument() override;

  const std::wstring& Name() const { return m_wsName; }
  const std::wstring& Text() const { return m_wsText; }
  void SetText(const std::wstring& wsText) { m_wsText = wsText; }
  bool ReadOnly() const { return m_bReadOnly; }
  void SetReadOnly(bool bReadOnly) { m_bReadOnly = bReadOnly; }
  IDispatch* Window() const { return m_cpWindow; }
  int Session() const { return m_iSession; }
  const std::wstring& Provider() const { return m_wsProvider; }
  bool Saved() const { return !m_wsPath.empty(); }
  CSignatureSet* Signatures() const { return m_cpSignatures; }

  // SetPasswordEncryptionOptions: a provider that names a connected custom provider opens a
  // session (NewSession) unless the document has one of that provider already.
  HRESULT SetEncryptionOptions(const std::wstring& wsProvider, const std::wstring& wsAlgorithm, LONG lKeyLength,
                               bool bFileProperties);
  // The encrypt command: the provider's settings for a session, a new session for a chosen
  // custom provider without one.
  HRESULT EncryptCommand();
  HRESULT SaveAs(const std::wstring& wsPath);
  HRESULT Save();
  // Opens a file written by SaveAs: a plain package, or an encrypted one through its provider.
  HRESULT Load(const std::wstring& wsPath);
  // Ends the document's session.
  void Close();

 private:
  void AddMembers();
  HRESULT TurnOnEncryption(Office::EncryptionProvider* pProvider);
  HRESULT EncryptPackage(const std::vector<BYTE>& package, const std::wstring& wsPath);
  HRESULT DecryptPackage(const SEncryptedContainer& container, std::vector<BYTE>* pPackage, std::wstring* pwsWhy);
  void EndSession();

  COfficeApp* m_pApp;
  std::wstring m_wsName;
  std::wstring m_wsText;
  std::wstring m_wsPath;
  std::wstring m_wsPassword;
  bool m_bReadOnly = false;
  LONG m_lFormat;
  std::wstring m_wsProvider;  // the encryption provider chosen or in use
  std::wstring m_wsProviderUrl;
  std::wstring m_wsAlgorithm;
  LONG m_lKeyLength = 0;
  bool m_bFileProperties = false;
  CComPtr<Office::EncryptionProvider> m_cpProvider;  // while a session is open
  int m_iSession = -1;
  CComPtr<IDispatch> m_cpWindow;
  CComPtr<CDispatch> m_cpContent;
  CComPtr<CSignatureSet> m_cpSignatures;
};

class COfficeApp final : public CDispatch {
 public:
  explicit COfficeApp(SOfficeOptions options);
  ~COfficeApp() override;

  // Start-up and shut-down as Office does them; Quit is safe to call twice.
  HRESULT Start();
  HRESULT Quit();
  bool Started() const { return m_bStarted; }

  HRESULT NewDocument(const std::wstring& wsText, CSimDocument** ppDocument);
  HRESULT OpenDocument(const std::wstring& wsPath, bool bReadOnly, CSimDocument** ppDocument);
  HRESULT CloseDocument(CSimDocument* pDocument);
  HRESULT ExecuteMso(const std::wstring& wsIdMso);
  // The file name the user gives the next Save As dialog; none: the user cancels it.
  void AnswerSaveAs(const std::wstring& wsPath) { m_wsSaveAsAnswer = wsPath; }
  CSimDocument* ActiveDocument() const;
  // The custom encryption provider of that class id among the connected add-ins.
  HRESULT FindProvider(const std::wstring& wsClassId, Office::EncryptionProvider** ppProvider) const;
  // The custom signature provider of that class id among the connected add-ins.
  HRESULT FindSignatureProvider(const std::wstring& wsClassId, Office::SignatureProvider** ppProvider) const;
  const std::wstring& Version() const { return m_options.wsVersion; }

  // The ribbon of the document window in front (from version 12): a control's onAction, its
  // state refreshed now, the picture that loadImage gave for an image id.
  HRESULT Click(const std::wstring& wsControlId);
  HRESULT ControlState(const std::wstring& wsControlId, SControlState* pState);
  IPictureDisp* RibbonImage(const std::wstring& wsImageId) const;
  // The screen rectangle of a control of the front window's ribbon as last drawn, with that window.
  bool ControlRect(const std::wstring& wsControlId, HWND* phwndWindow, RECT* prc) const;
  // The ribbon window of the document window in front and that window; null when there is none.
  CRibbonWindow* FrontRibbon(HWND* phwndWindow) const;
  // The balloon tips that add-ins show on the application's windows.
  std::map<HWND, SBalloon> Balloons() const { return m_balloons.Shown(); }

  // "Word", "Excel" or "PowerPoint": the name of the Addins key and of the application.
  const wchar_t* Name() const;
  EDocApp App() const { return m_options.app; }
  std::vector<CComAddIn*> AddIns() const;
  void Log(const std::wstring& ws) { m_log.push_back(ws); }
  std::vector<std::wstring> m_log;

 private:
  struct SAddIn {
    CComPtr<CComAddIn> cpComAddIn;
    CComPtr<Office::IDTExtensibility2> cpObject;
  };
  void ForEachAddIn(const char* szMethod, HRESULT (*pfn)(Office::IDTExtensibility2*, SAFEARRAY**));
  HRESULT Activate(CSimDocument* pDocument);
  // Office asks each add-in for the application's ribbon when the first document window opens,
  // and shows it in every window.
  void ShowRibbon(IDispatch* pWindow);
  // "Microsoft.Word.Document", "Microsoft.Excel.Workbook" or "Microsoft.PowerPoint.Presentation".
  const wchar_t* RibbonId() const;
  // Saving a document that was never saved asks the user where (FileSave, as Office does).
  HRESULT SaveAsDialog(CSimDocument* pDocument);

  SOfficeOptions m_options;
  std::vector<SAddIn> m_addIns;
  CComPtr<CCollection> m_cpComAddIns;
  CComPtr<CCollection> m_cpDocuments;
  CComPtr<CCommandBars> m_cpCommandBars;
  bool m_bStarted = false;
  CRibbonHost m_ribbons{[this](const std::wstring& ws) { Log(ws); }};
  CBalloonWatch m_balloons;
  std::wstring m_wsSaveAsAnswer;
};

}  // namespace Sim
