#include "SimOffice.h"

#include <oleacc.h>
#include <shlwapi.h>

#include <memory>

#include "MemoryStreams.h"
#include "SimAddIns.h"
#include "SimPackage.h"
#include "com/Bstr.h"
#include "hosts/OfficeDocuments.h"

namespace Sim {
namespace {

constexpr wchar_t kEncryptedPackage[] = L"EncryptedPackage";

// Office Open XML document (Word 12), workbook (Excel 51), presentation (PowerPoint 24).
constexpr LONG kDefaultFormats[] = {12, 51, 24};
constexpr const wchar_t* kAppNames[] = {L"Word", L"Excel", L"PowerPoint"};
constexpr const wchar_t* kWindowClasses[] = {L"OpusApp", L"XLMAIN", L"PPTFrameClass"};
constexpr const wchar_t* kDocumentsNames[] = {L"Documents", L"Workbooks", L"Presentations"};
constexpr const wchar_t* kActiveNames[] = {L"ActiveDocument", L"ActiveWorkbook", L"ActivePresentation"};
constexpr const wchar_t* kRibbonIds[] = {L"Microsoft.Word.Document", L"Microsoft.Excel.Workbook",
                                         L"Microsoft.PowerPoint.Presentation"};
// Office 2007 brought the ribbon.
constexpr int kFirstRibbonVersion = 12;
// What a document window answers to QueryInterface besides IDispatch: Word's Window, Excel's
// Window, PowerPoint's DocumentWindow.
const IID* const kWindowIids[] = {&Word::IID_Window, &Excel::IID_Window, &PowerPoint::IID_DocumentWindow};

bool IsClassId(const std::wstring& ws) {
  CLSID clsid;
  return ws.size() == 38 && SUCCEEDED(CLSIDFromString(ws.c_str(), &clsid));
}

HRESULT WriteFileBytes(const std::wstring& wsPath, const std::vector<BYTE>& bytes) {
  HANDLE hFile = CreateFileW(wsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  DWORD cbWritten = 0;
  const BOOL bWritten =
      bytes.empty() || WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
  CloseHandle(hFile);
  return bWritten ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

// The document's window: a real top-level window of the application's class, with IOleWindow,
// which Office passes to the provider as the parent of its dialogs.
class CDocWindow final : public CDispatch, public IOleWindow {
 public:
  CDocWindow(EDocApp app, IDispatch* pDocument, const std::wstring& wsTitle)
      : CDispatch({*kWindowIids[static_cast<int>(app)]}), m_pDocument(pDocument) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClasses[static_cast<int>(app)];
    RegisterClassW(&wc);  // fails harmlessly when the class exists
    m_hwnd = CreateWindowExW(0, wc.lpszClassName, wsTitle.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             800, 600, nullptr, nullptr, wc.hInstance, nullptr);
    AddMember(L"Caption", DISPID_VALUE, [this](SCall& call) {
      wchar_t wsz[512] = {};
      GetWindowTextW(m_hwnd, wsz, 512);
      return SetBstr(call.pResult, wsz);
    });
    // The document stays alive while its window does: Office closes both together.
    const std::pair<const wchar_t*, DISPID> documentMembers[] = {
        {L"Document", 0x2}, {L"Presentation", 0x7D3}, {L"Parent", 0x96}};
    for (const auto& [wszName, dispid] : documentMembers)
      AddMember(wszName, dispid, [this](SCall& call) { return SetObject(call.pResult, m_pDocument); });
    AddMember(L"Activate", 0x64, [this](SCall&) {
      Activate();
      return S_OK;
    });
  }
  ~CDocWindow() override {
    m_spRibbon.reset();
    DestroyWindow(m_hwnd);
  }
  void Activate() const {
    SetWindowPos(m_hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(m_hwnd);
  }
  HWND Handle() const { return m_hwnd; }
  CRibbonWindow* Ribbon() const { return m_spRibbon.get(); }
  void SetRibbon(std::unique_ptr<CRibbonWindow> spRibbon) { m_spRibbon = std::move(spRibbon); }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return CDispatch::QueryInterface(riid, ppv); }
  STDMETHOD_(ULONG, AddRef)() override { return CDispatch::AddRef(); }
  STDMETHOD_(ULONG, Release)() override { return CDispatch::Release(); }
  STDMETHOD(GetWindow)(HWND* phwnd) override {
    if (!phwnd) return E_POINTER;
    *phwnd = m_hwnd;
    return S_OK;
  }
  STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }

 protected:
  void* FindInterface(REFIID riid) override {
    if (IsEqualIID(riid, IID_IOleWindow)) return static_cast<IOleWindow*>(this);
    return CDispatch::FindInterface(riid);
  }

 private:
  IDispatch* m_pDocument;
  HWND m_hwnd;
  std::unique_ptr<CRibbonWindow> m_spRibbon;
};

CDocWindow* AsWindow(IDispatch* pWindow) { return static_cast<CDocWindow*>(pWindow); }

std::wstring ArgText(SCall& call, size_t i) {
  std::wstring ws;
  ArgString(call, i, &ws);
  return ws;
}

bool ArgBool(SCall& call, size_t i, bool bDefault) {
  VARIANT* pVar = Arg(call, i);
  VARIANT var;
  VariantInit(&var);
  if (!pVar || pVar->vt == VT_ERROR || FAILED(VariantChangeType(&var, pVar, 0, VT_BOOL))) return bDefault;
  return var.boolVal != VARIANT_FALSE;
}

}  // namespace

CSimDocument::CSimDocument(COfficeApp* pApp, std::wstring wsName, std::wstring wsText)
    : m_pApp(pApp),
      m_wsName(std::move(wsName)),
      m_wsText(std::move(wsText)),
      m_lFormat(kDefaultFormats[static_cast<int>(pApp->App())]) {
  m_cpWindow.Attach(static_cast<CDispatch*>(new CDocWindow(pApp->App(), this, m_wsName + L" - " + pApp->Name())));
  m_cpContent.Attach(new CDispatch());
  SSignatureHost host;
  host.findProvider = [pApp](const std::wstring& wsClassId, Office::SignatureProvider** pp) {
    return pApp->FindSignatureProvider(wsClassId, pp);
  };
  host.window = [this]() -> IUnknown* { return m_cpWindow; };
  host.package = [this](std::vector<BYTE>* pPackage) {
    std::wstring wsWhy;
    return MakePackage(m_pApp->App(), m_wsText, pPackage, &wsWhy);
  };
  host.log = [pApp](const std::wstring& ws) { pApp->Log(ws); };
  host.wsAppVersion = pApp->Version().substr(0, pApp->Version().find(L'.', pApp->Version().find(L'.') + 1));
  host.bLinesSupported = pApp->App() != EDocApp::PowerPoint;
  if (pApp->App() == EDocApp::Excel) host.unsaved = [this] { return m_wsPath.empty(); };
  m_cpSignatures.Attach(new CSignatureSet(std::move(host)));
  m_cpContent->AddMember(L"Text", DISPID_VALUE, [this](SCall& call) {
    if (call.wFlags & DISPATCH_PROPERTYPUT) return ArgString(call, call.args.size() - 1, &m_wsText);
    return SetBstr(call.pResult, m_wsText);
  });
  AddMembers();
}

CSimDocument::~CSimDocument() { EndSession(); }

// Each member with its dispatch ids in Word's _Document and in Excel's _Workbook; PowerPoint's
// presentation is reached by name and answers Word's ids.
void CSimDocument::AddMembers() {
  const bool bExcel = m_pApp->App() == EDocApp::Excel;
  auto add = [&](const wchar_t* wszName, DISPID word, DISPID excel, MemberFn fn) {
    AddMember(wszName, bExcel ? excel : word, std::move(fn));
  };
  add(L"Name", 0x0, 0x6E, [this](SCall& call) { return SetBstr(call.pResult, m_wsName); });
  add(L"Application", 0x1, 0x94,
      [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(m_pApp)); });
  add(L"FullName", 0x1D, 0x121,
      [this](SCall& call) { return SetBstr(call.pResult, m_wsPath.empty() ? m_wsName : m_wsPath); });
  add(L"Content", 0x29, 0x10029, [this](SCall& call) { return SetObject(call.pResult, m_cpContent); });
  add(L"ActiveWindow", 0x2A, 0x1002A, [this](SCall& call) { return SetObject(call.pResult, m_cpWindow); });
  add(L"ReadOnly", 0x2C, 0x128, [this](SCall& call) { return SetBool(call.pResult, m_bReadOnly); });
  add(L"HasPassword", 0x57, 0x122, [this](SCall& call) { return SetBool(call.pResult, !m_wsPassword.empty()); });
  add(L"Password", 0x55, 0x1AD, [this](SCall& call) {
    if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBstr(call.pResult, m_wsPassword);
    return ArgString(call, call.args.size() - 1, &m_wsPassword);
  });
  add(bExcel ? L"FileFormat" : L"SaveFormat", 0x3B, 0x120,
      [this](SCall& call) { return SetLong(call.pResult, m_lFormat); });
  add(L"Save", 0x6C, 0x11B, [this](SCall&) { return Save(); });
  add(L"SaveAs", 0x178, 0x785, [this](SCall& call) {
    LONG lFormat = m_lFormat;
    if (call.args.size() > 1 && Arg(call, 1)->vt != VT_ERROR && SUCCEEDED(ArgLong(call, 1, &lFormat)))
      m_lFormat = lFormat;
    return SaveAs(ArgText(call, 0));
  });
  add(L"Close", 0x451, 0x115, [this](SCall&) { return m_pApp->CloseDocument(this); });
  add(L"SetPasswordEncryptionOptions", 0x169, 0x80E, [this](SCall& call) {
    LONG lKeyLength = 0;
    ArgLong(call, 2, &lKeyLength);
    return SetEncryptionOptions(ArgText(call, 0), ArgText(call, 1), lKeyLength, ArgBool(call, 3, false));
  });
  add(L"PasswordEncryptionProvider", 0x16F, 0x80B, [this](SCall& call) { return SetBstr(call.pResult, m_wsProvider); });
  add(L"PasswordEncryptionAlgorithm", 0x170, 0x80C,
      [this](SCall& call) { return SetBstr(call.pResult, m_wsAlgorithm); });
  add(L"PasswordEncryptionKeyLength", 0x171, 0x80D,
      [this](SCall& call) { return SetLong(call.pResult, m_lKeyLength); });
  add(L"PasswordEncryptionFileProperties", 0x172, 0x80F,
      [this](SCall& call) { return SetBool(call.pResult, m_bFileProperties); });
  add(L"Signatures", 0x153, 0x9D4,
      [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(m_cpSignatures)); });
  add(L"EncryptionProvider", 0x22F, 0x9EC, [this](SCall& call) {
    if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBstr(call.pResult, m_wsProvider);
    std::wstring wsProvider;
    HRESULT hr = ArgString(call, call.args.size() - 1, &wsProvider);
    if (SUCCEEDED(hr) && wsProvider != m_wsProvider) EndSession(), m_wsProvider = wsProvider;
    return hr;
  });
}

HRESULT CSimDocument::SetEncryptionOptions(const std::wstring& wsProvider, const std::wstring& wsAlgorithm,
                                           LONG lKeyLength, bool bFileProperties) {
  m_pApp->Log(L"SetPasswordEncryptionOptions " + wsProvider + L" " + wsAlgorithm + L" " + std::to_wstring(lKeyLength));
  CComPtr<Office::EncryptionProvider> cpProvider;
  if (IsClassId(wsProvider)) {
    HRESULT hr = m_pApp->FindProvider(wsProvider, &cpProvider);
    if (FAILED(hr)) return hr;
    if (!(m_cpProvider && !lstrcmpiW(wsProvider.c_str(), m_wsProvider.c_str()))) {
      hr = TurnOnEncryption(cpProvider);
      if (FAILED(hr)) return hr;
    }
  } else {
    EndSession();
  }
  m_wsProvider = wsProvider;
  m_wsAlgorithm = wsAlgorithm;
  m_lKeyLength = lKeyLength;
  m_bFileProperties = bFileProperties;
  return S_OK;
}

// Office asks the provider for its details, then opens the document's session.
HRESULT CSimDocument::TurnOnEncryption(Office::EncryptionProvider* pProvider) {
  for (int iDetail = Office::encprovdetUrl; iDetail <= Office::encprovdetCipherMode; ++iDetail) {
    CVariant varValue;
    const HRESULT hr = pProvider->GetProviderDetail(static_cast<Office::EncryptionProviderDetail>(iDetail), &varValue);
    if (iDetail == Office::encprovdetUrl && SUCCEEDED(hr) && varValue.vt == VT_BSTR && varValue.bstrVal)
      m_wsProviderUrl = varValue.bstrVal;
    m_pApp->Log(L"GetProviderDetail " + std::to_wstring(iDetail) + L" " + HresultText(hr));
  }
  int iSession = -1;
  const HRESULT hr = pProvider->NewSession(m_cpWindow, &iSession);
  m_pApp->Log(L"NewSession " + HresultText(hr) + L" handle " + std::to_wstring(iSession));
  if (FAILED(hr)) return hr;
  EndSession();
  m_cpProvider = pProvider;
  m_iSession = iSession;
  return S_OK;
}

HRESULT CSimDocument::EncryptCommand() {
  if (m_cpProvider) {
    VARIANT_BOOL bRemove = VARIANT_FALSE;
    const HRESULT hr =
        m_cpProvider->ShowSettings(m_iSession, m_cpWindow, m_bReadOnly ? VARIANT_TRUE : VARIANT_FALSE, &bRemove);
    m_pApp->Log(L"ShowSettings " + HresultText(hr) + L" remove " + (bRemove ? L"yes" : L"no"));
    if (SUCCEEDED(hr) && bRemove) {
      EndSession();
      m_wsProvider.clear();
      m_pApp->Log(L"Encryption removed");
    }
    // The user's cancellation ends the command without an error.
    return hr == E_ABORT ? S_OK : hr;
  }
  if (!IsClassId(m_wsProvider)) return E_NOTIMPL;  // the password dialog is not simulated
  CComPtr<Office::EncryptionProvider> cpProvider;
  HRESULT hr = m_pApp->FindProvider(m_wsProvider, &cpProvider);
  if (SUCCEEDED(hr)) hr = TurnOnEncryption(cpProvider);
  return hr == E_ABORT ? S_OK : hr;
}

HRESULT CSimDocument::Save() { return m_wsPath.empty() ? E_FAIL : SaveAs(m_wsPath); }

HRESULT CSimDocument::SaveAs(const std::wstring& wsPath) {
  if (wsPath.empty()) return E_INVALIDARG;
  std::vector<BYTE> package;
  std::wstring wsWhy;
  HRESULT hr = MakePackage(m_pApp->App(), m_wsText, &package, &wsWhy, m_cpSignatures->SignedXml());
  if (SUCCEEDED(hr)) hr = m_cpProvider ? EncryptPackage(package, wsPath) : WriteFileBytes(wsPath, package);
  m_pApp->Log(L"Save " + wsPath + (wsWhy.empty() ? L"" : L": " + wsWhy) + L" " + HresultText(hr));
  if (SUCCEEDED(hr)) m_wsPath = wsPath;
  return hr;
}

// On every save Office works on a clone of the document's session: provider data, the package,
// and the clone ends.
HRESULT CSimDocument::EncryptPackage(const std::vector<BYTE>& package, const std::wstring& wsPath) {
  int iClone = -1;
  HRESULT hr = m_cpProvider->CloneSession(m_iSession, &iClone);
  m_pApp->Log(L"CloneSession " + HresultText(hr) + L" handle " + std::to_wstring(iClone));
  if (FAILED(hr)) return hr;
  SEncryptedContainer container;
  container.wsProviderId = m_wsProvider;
  container.wsProviderUrl = m_wsProviderUrl;
  container.cbPackage = package.size();
  CComPtr<IStream> cpData = MemoryStream();
  int cbData = 0;
  hr = m_cpProvider->Save(iClone, cpData, &cbData);
  m_pApp->Log(L"Save provider data " + HresultText(hr) + L" " + std::to_wstring(cbData) + L" bytes");
  CComPtr<IStream> cpPlain = PiecewiseStream(package), cpCipher = MemoryStream();
  if (SUCCEEDED(hr)) {
    container.providerData = StreamBytes(cpData);
    hr = m_cpProvider->EncryptStream(iClone, CComBSTR(kEncryptedPackage), cpPlain, cpCipher);
    m_pApp->Log(L"EncryptStream " + HresultText(hr));
  }
  const HRESULT hrEnd = m_cpProvider->EndSession(iClone);
  m_pApp->Log(L"EndSession " + std::to_wstring(iClone) + L" " + HresultText(hrEnd));
  if (FAILED(hr)) return hr;
  container.encryptedPackage = StreamBytes(cpCipher);
  return WriteEncryptedContainer(wsPath, container);
}

HRESULT CSimDocument::Load(const std::wstring& wsPath) {
  SEncryptedContainer container;
  std::vector<BYTE> package;
  std::wstring wsWhy;
  HRESULT hr = ReadEncryptedContainer(wsPath, &container, &wsWhy);
  if (hr == S_FALSE)
    hr = ReadFileBytes(wsPath, &package);
  else if (SUCCEEDED(hr))
    hr = DecryptPackage(container, &package, &wsWhy);
  if (SUCCEEDED(hr)) hr = ReadPackage(m_pApp->App(), package, &m_wsText, &wsWhy);
  if (SUCCEEDED(hr)) hr = m_cpSignatures->Load(package, &wsWhy);
  if (!wsWhy.empty()) m_pApp->Log(L"Open " + wsPath + L": " + wsWhy + L" " + HresultText(hr));
  if (SUCCEEDED(hr)) m_wsPath = wsPath;
  return hr;
}

// Office authenticates the reader with the provider data, then has the package decrypted.
HRESULT CSimDocument::DecryptPackage(const SEncryptedContainer& container, std::vector<BYTE>* pPackage,
                                     std::wstring* pwsWhy) {
  CComPtr<Office::EncryptionProvider> cpProvider;
  HRESULT hr = m_pApp->FindProvider(container.wsProviderId, &cpProvider);
  if (FAILED(hr)) m_pApp->Log(L"No connected encryption provider " + container.wsProviderId);
  unsigned int uPermissions = 0;
  int iSession = -1;
  if (SUCCEEDED(hr)) {
    CComPtr<IStream> cpData = PiecewiseStream(container.providerData);
    hr = cpProvider->Authenticate(m_cpWindow, cpData, &uPermissions, &iSession);
    m_pApp->Log(L"Authenticate " + HresultText(hr) + L" handle " + std::to_wstring(iSession) + L" permissions " +
                std::to_wstring(uPermissions));
  }
  if (FAILED(hr)) return hr;
  m_cpProvider = cpProvider;
  m_iSession = iSession;
  m_wsProvider = container.wsProviderId;
  m_wsProviderUrl = container.wsProviderUrl;
  CComPtr<IStream> cpCipher = PiecewiseStream(container.encryptedPackage), cpPlain = MemoryStream();
  hr = cpProvider->DecryptStream(iSession, CComBSTR(kEncryptedPackage), cpCipher, cpPlain);
  m_pApp->Log(L"DecryptStream " + HresultText(hr));
  if (FAILED(hr)) return hr;
  *pPackage = StreamBytes(cpPlain);
  if (pPackage->size() < container.cbPackage)
    return *pwsWhy = L"the decrypted package is shorter than its recorded size", HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
  // The recorded size settles where the package ends (the last piece may carry padding).
  pPackage->resize(static_cast<size_t>(container.cbPackage));
  return S_OK;
}

void CSimDocument::Close() { EndSession(); }

void CSimDocument::EndSession() {
  if (!m_cpProvider) return;
  const HRESULT hr = m_cpProvider->EndSession(m_iSession);
  m_pApp->Log(L"EndSession " + std::to_wstring(m_iSession) + L" " + HresultText(hr));
  m_cpProvider.Release();
  m_iSession = -1;
}

COfficeApp::COfficeApp(SOfficeOptions options) : m_options(std::move(options)) {
  m_cpComAddIns.Attach(new CCollection({Office::IID_COMAddIns}));
  m_cpDocuments.Attach(new CCollection({}));
  m_cpCommandBars.Attach(new CCommandBars([this](const std::wstring& wsIdMso) { return ExecuteMso(wsIdMso); }));
  // Office's prepare menu (encryption, signatures) is enabled once the document was saved.
  m_cpCommandBars->AddMember(L"GetEnabledMso", 0x6003001E, [this](SCall& call) {
    std::wstring wsIdMso;
    const HRESULT hr = ArgString(call, 0, &wsIdMso);
    const CSimDocument* pDocument = ActiveDocument();
    return FAILED(hr) ? hr : SetBool(call.pResult, wsIdMso != L"FilePrepareMenu" || (pDocument && pDocument->Saved()));
  });
  const int iApp = static_cast<int>(m_options.app);
  AddMember(L"Name", 0x0, [this](SCall& call) { return SetBstr(call.pResult, Name()); });
  AddMember(L"Version", 0x18, [this](SCall& call) { return SetBstr(call.pResult, m_options.wsVersion); });
  AddMember(L"COMAddIns", 0x173, [this](SCall& call) { return SetObject(call.pResult, m_cpComAddIns); });
  AddMember(L"CommandBars", 0x3B,
            [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(m_cpCommandBars)); });
  AddMember(kDocumentsNames[iApp], 0x6, [this](SCall& call) { return SetObject(call.pResult, m_cpDocuments); });
  AddMember(kActiveNames[iApp], 0x3,
            [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(ActiveDocument())); });
  AddMember(L"ActiveWindow", 0x4, [this](SCall& call) {
    CSimDocument* pDocument = ActiveDocument();
    return SetObject(call.pResult, pDocument ? pDocument->Window() : nullptr);
  });
  AddMember(L"Quit", 0x451, [this](SCall&) { return Quit(); });
  m_cpDocuments->AddMember(L"Add", 0xE, [this](SCall& call) {
    CSimDocument* pDocument = nullptr;
    HRESULT hr = NewDocument(L"", &pDocument);
    return SUCCEEDED(hr) ? SetObject(call.pResult, static_cast<IDispatch*>(pDocument)) : hr;
  });
  // Word's Documents.Open(FileName, ConfirmConversions, ReadOnly, ...).
  m_cpDocuments->AddMember(L"Open", 0x13, [this](SCall& call) {
    CSimDocument* pDocument = nullptr;
    HRESULT hr = OpenDocument(ArgText(call, 0), ArgBool(call, 2, false), &pDocument);
    return SUCCEEDED(hr) ? SetObject(call.pResult, static_cast<IDispatch*>(pDocument)) : hr;
  });
  m_cpComAddIns->AddMember(L"Item", DISPID_VALUE, [this](SCall& call) { return ComAddInsItem(*m_cpComAddIns, call); });
}

COfficeApp::~COfficeApp() { Quit(); }

const wchar_t* COfficeApp::Name() const { return kAppNames[static_cast<int>(m_options.app)]; }

HRESULT COfficeApp::Start() {
  if (m_bStarted) return S_OK;
  m_bStarted = true;
  Log(std::wstring(L"Start ") + Name() + L" " + m_options.wsVersion);
  for (const SAddInEntry& entry : ListAddIns(Name(), m_options.onlyAddIns)) {
    SAddIn addIn;
    addIn.cpComAddIn =
        ConnectAddIn(this, entry, m_cpComAddIns, &addIn.cpObject, [this](const std::wstring& ws) { Log(ws); });
    if (addIn.cpComAddIn) m_addIns.push_back(std::move(addIn));
  }
  ForEachAddIn("OnAddInsUpdate", [](Office::IDTExtensibility2* p, SAFEARRAY** pps) { return p->OnAddInsUpdate(pps); });
  ForEachAddIn("OnStartupComplete",
               [](Office::IDTExtensibility2* p, SAFEARRAY** pps) { return p->OnStartupComplete(pps); });
  return S_OK;
}

HRESULT COfficeApp::Quit() {
  if (!m_bStarted) return S_OK;
  m_bStarted = false;
  Log(std::wstring(L"Quit ") + Name());
  while (!m_cpDocuments->m_items.empty())
    CloseDocument(static_cast<CSimDocument*>(m_cpDocuments->m_items.back().Get()));
  ForEachAddIn("OnBeginShutdown",
               [](Office::IDTExtensibility2* p, SAFEARRAY** pps) { return p->OnBeginShutdown(pps); });
  ForEachAddIn("OnDisconnection", [](Office::IDTExtensibility2* p, SAFEARRAY** pps) {
    return p->OnDisconnection(Office::ext_dm_HostShutdown, pps);
  });
  for (SAddIn& addIn : m_addIns) {
    addIn.cpComAddIn->m_bConnect = false;
    m_ribbons.Forget(addIn.cpComAddIn->m_wsProgId);
  }
  m_addIns.clear();
  return S_OK;
}

void COfficeApp::ForEachAddIn(const char* szMethod, HRESULT (*pfn)(Office::IDTExtensibility2*, SAFEARRAY**)) {
  for (SAddIn& addIn : m_addIns) {
    if (!addIn.cpObject) continue;
    SAFEARRAY* psaCustom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    const HRESULT hr = pfn(addIn.cpObject, &psaCustom);
    SafeArrayDestroy(psaCustom);
    Log(std::wstring(szMethod, szMethod + strlen(szMethod)) + L" " + addIn.cpComAddIn->m_wsProgId + L" " +
        HresultText(hr));
  }
}

std::vector<CComAddIn*> COfficeApp::AddIns() const {
  std::vector<CComAddIn*> addIns;
  for (const SAddIn& addIn : m_addIns) addIns.push_back(addIn.cpComAddIn);
  return addIns;
}

HRESULT COfficeApp::FindProvider(const std::wstring& wsClassId, Office::EncryptionProvider** ppProvider) const {
  for (const SAddIn& addIn : m_addIns) {
    if (addIn.cpObject && !lstrcmpiW(addIn.cpComAddIn->m_wsGuid.c_str(), wsClassId.c_str()))
      return addIn.cpObject->QueryInterface(Office::IID_EncryptionProvider, reinterpret_cast<void**>(ppProvider));
  }
  return REGDB_E_CLASSNOTREG;
}

HRESULT COfficeApp::FindSignatureProvider(const std::wstring& wsClassId, Office::SignatureProvider** ppProvider) const {
  for (const SAddIn& addIn : m_addIns) {
    if (addIn.cpObject && !lstrcmpiW(addIn.cpComAddIn->m_wsGuid.c_str(), wsClassId.c_str()))
      return addIn.cpObject->QueryInterface(Office::IID_SignatureProvider, reinterpret_cast<void**>(ppProvider));
  }
  return REGDB_E_CLASSNOTREG;
}

HRESULT COfficeApp::Activate(CSimDocument* pDocument) {
  auto& items = m_cpDocuments->m_items;
  for (auto it = items.begin(); it != items.end(); ++it) {
    if (it->Get() != static_cast<IDispatch*>(pDocument)) continue;
    CComPtr<IDispatch> cpDocument = *it;
    items.erase(it);
    items.push_back(cpDocument);
    break;
  }
  AsWindow(pDocument->Window())->Activate();
  ShowRibbon(pDocument->Window());
  return S_OK;
}

const wchar_t* COfficeApp::RibbonId() const { return kRibbonIds[static_cast<int>(m_options.app)]; }

void COfficeApp::ShowRibbon(IDispatch* pWindow) {
  if (_wtoi(m_options.wsVersion.c_str()) < kFirstRibbonVersion) return;
  for (const SAddIn& addIn : m_addIns) {
    CComPtr<IDispatch> cpAddIn;
    if (addIn.cpObject && SUCCEEDED(addIn.cpObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&cpAddIn))))
      m_ribbons.Load(addIn.cpComAddIn->m_wsProgId, cpAddIn, RibbonId());
  }
  m_ribbons.Refresh(RibbonId(), pWindow);
  if (!AsWindow(pWindow)->Ribbon()) {
    // The Home tab: Office's own groups, then the add-ins'.
    AsWindow(pWindow)->SetRibbon(
        std::make_unique<CRibbonWindow>(AsWindow(pWindow)->Handle(), L"Ribbon", L"Home", [this, pWindow] {
          std::vector<SRibbonGroup> groups = {
              {L"Clipboard", {{L"", L"Paste", ROLE_SYSTEM_SPLITBUTTON}}},
              {L"Font", {{L"", L"Bold", ROLE_SYSTEM_PUSHBUTTON}, {L"", L"Italic", ROLE_SYSTEM_PUSHBUTTON}}}};
          for (SRibbonGroup& group : m_ribbons.Groups(RibbonId(), pWindow)) groups.push_back(std::move(group));
          return groups;
        }));
  }
}

bool COfficeApp::ControlRect(const std::wstring& wsControlId, HWND* phwndWindow, RECT* prc) const {
  const CRibbonWindow* pRibbon = FrontRibbon(phwndWindow);
  return pRibbon && pRibbon->ControlRect(wsControlId, prc);
}

CRibbonWindow* COfficeApp::FrontRibbon(HWND* phwndWindow) const {
  const CSimDocument* pDocument = ActiveDocument();
  const CDocWindow* pWindow = pDocument ? AsWindow(pDocument->Window()) : nullptr;
  if (!pWindow) return nullptr;
  *phwndWindow = pWindow->Handle();
  return pWindow->Ribbon();
}

HRESULT COfficeApp::Click(const std::wstring& wsControlId) {
  CSimDocument* pDocument = ActiveDocument();
  return pDocument ? m_ribbons.Click(RibbonId(), pDocument->Window(), wsControlId) : E_FAIL;
}

HRESULT COfficeApp::ControlState(const std::wstring& wsControlId, SControlState* pState) {
  CSimDocument* pDocument = ActiveDocument();
  return pDocument ? m_ribbons.ControlState(RibbonId(), pDocument->Window(), wsControlId, pState) : E_FAIL;
}

IPictureDisp* COfficeApp::RibbonImage(const std::wstring& wsImageId) const {
  return m_ribbons.Image(RibbonId(), wsImageId);
}

HRESULT COfficeApp::NewDocument(const std::wstring& wsText, CSimDocument** ppDocument) {
  if (!m_bStarted) return E_UNEXPECTED;
  const std::wstring wsName = (m_options.app == EDocApp::Excel  ? L"Book"
                               : m_options.app == EDocApp::Word ? L"Document"
                                                                : L"Presentation") +
                              std::to_wstring(m_cpDocuments->m_items.size() + 1);
  auto cpDocument = MakeObject<CSimDocument>(this, wsName, wsText);
  m_cpDocuments->m_items.push_back(cpDocument.Get());
  Log(L"New " + wsName);
  *ppDocument = cpDocument;
  return Activate(cpDocument);
}

HRESULT COfficeApp::OpenDocument(const std::wstring& wsPath, bool bReadOnly, CSimDocument** ppDocument) {
  if (!m_bStarted) return E_UNEXPECTED;
  const wchar_t* pwszName = PathFindFileNameW(wsPath.c_str());
  auto cpDocument = MakeObject<CSimDocument>(this, pwszName, L"");
  cpDocument->SetReadOnly(bReadOnly);
  AsWindow(cpDocument->Window())->Activate();
  const HRESULT hr = cpDocument->Load(wsPath);
  Log(L"Open " + wsPath + L" " + HresultText(hr));
  if (FAILED(hr)) return hr;
  m_cpDocuments->m_items.push_back(cpDocument.Get());
  *ppDocument = cpDocument;
  return Activate(cpDocument);
}

HRESULT COfficeApp::CloseDocument(CSimDocument* pDocument) {
  auto& items = m_cpDocuments->m_items;
  for (auto it = items.begin(); it != items.end(); ++it) {
    if (it->Get() != static_cast<IDispatch*>(pDocument)) continue;
    pDocument->Close();
    Log(L"Close " + pDocument->Name());
    items.erase(it);
    return S_OK;
  }
  return E_INVALIDARG;
}

CSimDocument* COfficeApp::ActiveDocument() const {
  return m_cpDocuments->m_items.empty() ? nullptr : static_cast<CSimDocument*>(m_cpDocuments->m_items.back().Get());
}

HRESULT COfficeApp::ExecuteMso(const std::wstring& wsIdMso) {
  Log(L"ExecuteMso " + wsIdMso);
  CSimDocument* pDocument = ActiveDocument();
  if (!pDocument) return E_FAIL;
  if (wsIdMso == L"FileDocumentEncrypt") return pDocument->EncryptCommand();
  if (wsIdMso == L"FileSave") return pDocument->Saved() ? pDocument->Save() : SaveAsDialog(pDocument);
  return E_INVALIDARG;
}

HRESULT COfficeApp::SaveAsDialog(CSimDocument* pDocument) {
  std::wstring wsPath;
  wsPath.swap(m_wsSaveAsAnswer);
  Log(L"Save As dialog: " + (wsPath.empty() ? std::wstring(L"cancelled") : wsPath));
  return wsPath.empty() ? S_OK : pDocument->SaveAs(wsPath);
}

}  // namespace Sim
