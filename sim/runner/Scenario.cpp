#include "Scenario.h"

#include <commctrl.h>
#include <mapiutil.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <map>
#include <sstream>

#include "com/LateBound.h"
#include "SimContainer.h"
#include "SimRibbon.h"
#include "UiDriver.h"
#include "hosts/Outlook.h"

namespace Sim {
namespace {

// Steps whose last word is the rest of the line, by the number of words before it.
const std::map<std::wstring, size_t> kTextSteps = {
    {L"receive", 1}, {L"type", 2},     {L"press", 2},      {L"intercept", 2},  {L"folder", 1}, {L"account", 2},
    {L"run", 1},     {L"relaunch", 1}, {L"safesender", 1}, {L"new", 1},        {L"saveas", 1}, {L"open", 1},
    {L"view", 1},    {L"save", 3},     {L"lineimage", 2},  {L"saveformat", 2}, {L"dump", 2},   {L"maildrop", 1},
    {L"contact", 2}, {L"await", 1},    {L"drop", 2},       {L"pick", 2}};
const std::map<std::wstring, size_t> kTextExpectations = {
    {L"property", 3}, {L"label", 3},         {L"seen", 1},        {L"absent", 1},    {L"safesenders", 1}, {L"bar", 2},
    {L"text", 1},     {L"mapi", 2},          {L"attachments", 1}, {L"signature", 2}, {L"tip", 3},         {L"image", 3},
    {L"balloon", 3},  {L"securitylabel", 1}, {L"control", 3},     {L"region", 2}};

// A property as "expect mapi" shows it: a 32-bit value in decimal, anything else in hexadecimal.
std::wstring PropValueText(const SProp& prop) {
  if (PROP_TYPE(prop.ulTag) == PT_LONG && prop.data.size() >= sizeof(LONG)) {
    LONG l = 0;
    CopyMemory(&l, prop.data.data(), sizeof l);
    return std::to_wstring(l);
  }
  std::wstring wsHex;
  for (BYTE b : prop.data) {
    wchar_t wsz[3];
    swprintf(wsz, 3, L"%02X", b);
    wsHex += wsz;
  }
  return wsHex;
}

// Where a runner started without arguments finds the arguments of its next run.
constexpr wchar_t kRunnerKey[] = L"Software\\OfficeSim";
constexpr wchar_t kRelaunchValue[] = L"RelaunchArguments";

// How long a step may take beyond the time it is told to wait: a program it runs has 120 s.
constexpr DWORD kStepBoundMs = 180000;

// An idle Outlook uses far less processor time than this share of the time that passes.
constexpr double kIdleCpuShare = 0.1;
// A program run by a step gets this long to end.
constexpr DWORD kProgramWait = 120000;

ULONGLONG ProcessCpuTime() {
  FILETIME ftCreation, ftExit, ftKernel, ftUser;
  if (!GetProcessTimes(GetCurrentProcess(), &ftCreation, &ftExit, &ftKernel, &ftUser)) return 0;
  return (static_cast<ULONGLONG>(ftKernel.dwHighDateTime) << 32 | ftKernel.dwLowDateTime) +
         (static_cast<ULONGLONG>(ftUser.dwHighDateTime) << 32 | ftUser.dwLowDateTime);
}

// Runs the thread's messages until the handle is signalled or the time is up; false when it timed out.
bool PumpUntil(HANDLE hHandle, DWORD dwMilliseconds) {
  const ULONGLONG ullEnd = GetTickCount64() + dwMilliseconds;
  for (;;) {
    const ULONGLONG ullNow = GetTickCount64();
    if (ullNow >= ullEnd) return hHandle && WaitForSingleObject(hHandle, 0) == WAIT_OBJECT_0;
    const DWORD dwWait = MsgWaitForMultipleObjects(hHandle ? 1 : 0, hHandle ? &hHandle : nullptr, FALSE,
                                                   static_cast<DWORD>(ullEnd - ullNow), QS_ALLINPUT);
    if (hHandle && dwWait == WAIT_OBJECT_0) return true;
    // Bounded too: a timer whose procedure runs longer than its period never leaves the queue empty.
    MSG msg;
    while (GetTickCount64() < ullEnd && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

std::wstring Widen(const std::string& s) {
  std::wstring ws(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), ws.data(), static_cast<int>(ws.size()));
  return ws;
}

std::vector<std::wstring> Split(const std::wstring& wsLine) {
  std::vector<std::wstring> words;
  std::wistringstream stream(wsLine);
  for (std::wstring ws; stream >> ws;) {
    words.push_back(ws);
    const std::map<std::wstring, size_t>& texts = words[0] == L"expect" ? kTextExpectations : kTextSteps;
    auto it = texts.find(words.size() > 1 && words[0] == L"expect" ? words[1] : words[0]);
    if (it != texts.end() && words.size() == it->second + (words[0] == L"expect" ? 1 : 0)) {
      std::wstring wsRest;
      std::getline(stream, wsRest);
      wsRest.erase(0, wsRest.find_first_not_of(L" \t"));
      words.push_back(wsRest);
      break;
    }
  }
  return words;
}

HRESULT ParseHresult(const std::wstring& ws, HRESULT* phr) {
  wchar_t* pwszEnd = nullptr;
  *phr = static_cast<HRESULT>(wcstoul(ws.c_str(), &pwszEnd, 16));
  return pwszEnd && !*pwszEnd && !ws.empty() ? S_OK : E_INVALIDARG;
}

bool YesNo(const std::wstring& ws, bool* pb) {
  *pb = ws == L"yes" || ws == L"show" || ws == L"true";
  return *pb || ws == L"no" || ws == L"hide" || ws == L"false";
}

int ButtonId(const std::wstring& ws) {
  static const std::map<std::wstring, int> kButtons = {{L"ok", IDOK},       {L"cancel", IDCANCEL}, {L"abort", IDABORT},
                                                       {L"retry", IDRETRY}, {L"ignore", IDIGNORE}, {L"yes", IDYES},
                                                       {L"no", IDNO}};
  auto it = kButtons.find(ws);
  return it != kButtons.end() ? it->second : _wtoi(ws.c_str());
}

std::string Narrow(const std::wstring& ws) {
  std::string s(WideCharToMultiByte(CP_UTF8, 0, ws.data(), static_cast<int>(ws.size()), nullptr, 0, nullptr, nullptr),
                '\0');
  WideCharToMultiByte(CP_UTF8, 0, ws.data(), static_cast<int>(ws.size()), s.data(), static_cast<int>(s.size()), nullptr,
                      nullptr);
  return s;
}

void Print(const std::wstring& ws) {
  const std::string s = Narrow(ws) + "\n";
  fwrite(s.data(), 1, s.size(), stdout);
  fflush(stdout);
}

}  // namespace

// A value as a scenario writes it: booleans as true/false, everything else as text.
std::wstring ValueText(VARIANT* pVar) {
  if (pVar->vt == VT_BOOL) return pVar->boolVal ? L"true" : L"false";
  if (pVar->vt == VT_DISPATCH || pVar->vt == VT_EMPTY) return pVar->pdispVal ? L"(object)" : L"(nothing)";
  return SUCCEEDED(VariantChangeType(pVar, pVar, 0, VT_BSTR)) && pVar->bstrVal ? pVar->bstrVal : L"";
}

CStepWatchdog::CStepWatchdog(std::wstring wsEndLine)
    : m_wsEndLine(std::move(wsEndLine)), m_thread([this] { Watch(); }) {}

CStepWatchdog::~CStepWatchdog() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bStop = true;
  }
  m_changed.notify_one();
  m_thread.join();
}

void CStepWatchdog::Begin(const std::wstring& wsWhere, const std::wstring& wsLine, DWORD dwMilliseconds) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bRunning = true;
    m_wsWhere = wsWhere;
    m_wsLine = wsLine;
    m_dwBoundMs = dwMilliseconds;
    m_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
  }
  m_changed.notify_one();
}

void CStepWatchdog::End() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_bRunning = false;
}

void CStepWatchdog::Watch() {
  std::unique_lock<std::mutex> lock(m_lock);
  while (!m_bStop) {
    if (!m_bRunning) {
      m_changed.wait(lock);
    } else if (m_changed.wait_until(lock, m_end) == std::cv_status::timeout && m_bRunning &&
               std::chrono::steady_clock::now() >= m_end) {
      UiDriver::Abandon(m_wsWhere + L"FAILED: " + m_wsLine + L": the step did not end within " +
                        std::to_wstring(m_dwBoundMs / 1000) + L" s\n" + UiDriver::DescribeWindows() + m_wsEndLine);
    }
  }
}

CScenario::CScenario(std::wstring wsFile, SOutlookOptions options, std::wstring wsEndLine)
    : m_wsFile(std::move(wsFile)),
      m_options(std::move(options)),
      m_pAnswerer(std::make_unique<CDialogAnswerer>()),
      m_watchdog(std::move(wsEndLine)) {
  if (!m_options.wsProfilePath.empty()) return;
  m_options.wsProfilePath = TempFileName(L"olp");
  m_bTemporaryProfile = true;
}

CScenario::~CScenario() {
  QuitOutlook();
  m_published.clear();
  m_cpItem.Release();
  m_cpOutlook.Release();
  m_cpOffice.Release();
  if (m_bTemporaryProfile) DeleteFileW(m_options.wsProfilePath.c_str());
}

int CScenario::Run() {
  FILE* pFile = _wfopen(m_wsFile.c_str(), L"rb");
  if (!pFile) {
    Print(m_wsFile + L": cannot be read");
    return 2;
  }
  std::string sText;
  char sz[4096];
  for (size_t cb; (cb = fread(sz, 1, sizeof sz, pFile)) > 0;) sText.append(sz, cb);
  fclose(pFile);
  std::istringstream file(sText);
  std::string sLine;
  for (int iLine = 1; std::getline(file, sLine); ++iLine) {
    std::wstring wsLine = Widen(sLine);
    wsLine.erase(wsLine.find_last_not_of(L" \t\r") + 1);
    wsLine.erase(0, wsLine.find_first_not_of(L" \t"));
    if (wsLine.empty() || wsLine[0] == L'#') continue;
    const std::wstring wsWhere = m_wsFile + L":" + std::to_wstring(iLine) + L": ";
    std::wstring wsDetail;
    const Words words = Split(wsLine);
    // Steps that are told to wait may take that long on top.
    const bool bWaits = words[0] == L"wait" || (words.size() == 3 && words[0] == L"expect" && words[1] == L"idle");
    m_watchdog.Begin(wsWhere, wsLine, kStepBoundMs + (bWaits ? _wtoi(words.back().c_str()) : 0));
    m_bBoxesAllowed = false;
    HRESULT hr = Step(words, &wsDetail);
    m_watchdog.End();
    bool bUnexpected = false;
    for (const std::wstring& wsAnswered : m_pAnswerer->TakeAnswered(&bUnexpected)) {
      if (m_cpOutlook) m_cpOutlook->Log(wsAnswered);
      if (m_cpOffice) m_cpOffice->Log(wsAnswered);
      wsDetail += (wsDetail.empty() ? L"" : L"; ") + wsAnswered;
    }
    if (SUCCEEDED(hr) && bUnexpected && !m_bBoxesAllowed) hr = E_UNEXPECTED, wsDetail += L" (no answer was set)";
    if (FAILED(hr)) {
      Print(wsWhere + (m_bKeepGoing ? L"failed, going on: " : L"FAILED: ") + wsLine + L": " +
            (wsDetail.empty() ? HresultText(hr) : wsDetail));
      if (!m_bKeepGoing) return 1;
      continue;
    }
    Print(wsWhere + wsLine + (wsDetail.empty() ? L"" : L"  -> " + wsDetail));
    // Outlook quits when asked by the object model once the call has returned, and the run ends.
    if (m_cpOutlook && m_cpOutlook->QuitRequested() && m_cpOutlook->Started()) {
      QuitOutlook();
      Print(wsWhere + L"Outlook quit at an add-in's request; the scenario ends here");
      return 0;
    }
  }
  if (m_pAnswerer->Armed() && !m_bKeepGoing) {
    Print(m_wsFile + L": FAILED: a message box was to be answered but none appeared");
    return 1;
  }
  return 0;
}

HRESULT CScenario::Step(const Words& words, std::wstring* pwsDetail) {
  const std::wstring& wsVerb = words[0];
  const size_t cArgs = words.size() - 1;
  if (wsVerb == L"start") return Start(words, pwsDetail);
  if (wsVerb == L"expect" && cArgs > 2 && words[1] == L"refused") return ExpectRefused(words, pwsDetail);
  if (wsVerb == L"expect") return m_cpOffice ? ExpectDocument(words, pwsDetail) : Expect(words, pwsDetail);
  if (wsVerb == L"show") return Show(pwsDetail);
  if (wsVerb == L"account" && cArgs == 2) return Account(words, pwsDetail);
  if (wsVerb == L"choose" && cArgs) {
    std::vector<std::wstring> emails(words.begin() + 1, words.end());
    if (emails == std::vector<std::wstring>{L"none"}) emails.clear();
    m_pAnswerer->ArmChoice(emails);
    return S_OK;
  }
  // "answer BUTTON while PROGRAM...": the program runs while the box is open.
  if (wsVerb == L"answer" && (cArgs == 1 || (cArgs > 2 && words[2] == L"while"))) {
    std::wstring wsWhile;
    for (size_t i = 3; i < words.size(); ++i) wsWhile += (wsWhile.empty() ? L"" : L" ") + words[i];
    m_pAnswerer->Arm(ButtonId(words[1]), wsWhile);
    return ButtonId(words[1]) > 0 ? S_OK : (*pwsDetail = L"unknown button", E_INVALIDARG);
  }
  if (words == Words{L"certificates", L"none"}) return ForgetPersonalCertificates(pwsDetail);
  if (wsVerb == L"relaunch" && cArgs == 1) {
    const LSTATUS ls = RegSetKeyValueW(HKEY_CURRENT_USER, kRunnerKey, kRelaunchValue, REG_SZ, words[1].c_str(),
                                       static_cast<DWORD>((words[1].size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(ls);
  }
  if (wsVerb == L"maildrop" && cArgs == 1) {
    wchar_t wszFolder[MAX_PATH] = {};
    if (!ExpandEnvironmentStringsW(words[1].c_str(), wszFolder, MAX_PATH)) return HRESULT_FROM_WIN32(GetLastError());
    m_options.wsMailDrop = wszFolder;
    if (m_cpOutlook) m_cpOutlook->SetMailDrop(wszFolder);
    return S_OK;
  }
  if (m_cpOffice && wsVerb == L"wait" && cArgs == 1) {
    Wait(_wtoi(words[1].c_str()));
    return S_OK;
  }
  if (m_cpOffice && wsVerb == L"run" && cArgs == 1) return RunProgram(words[1], pwsDetail);
  if (wsVerb == L"shot" && cArgs == 2) return Shot(words, pwsDetail);
  if ((wsVerb == L"drop" || wsVerb == L"pick") && cArgs == 2) return PickFromMenu(words, pwsDetail);
  if (m_cpOffice) return DocumentStep(words, pwsDetail);
  // Programs may prepare the machine before Outlook starts.
  if (wsVerb == L"run" && cArgs == 1) return RunProgram(words[1], pwsDetail);
  if (!m_cpOutlook || !m_cpOutlook->Started()) return *pwsDetail = L"Outlook is not running", E_UNEXPECTED;
  if (wsVerb == L"deliver" && cArgs <= 1) {
    size_t cDelivered = 0;
    HRESULT hr = m_cpOutlook->Deliver(&cDelivered);
    *pwsDetail = std::to_wstring(cDelivered) + L" delivered";
    if (SUCCEEDED(hr) && cArgs && cDelivered != static_cast<size_t>(_wtoi(words[1].c_str()))) hr = E_FAIL;
    return hr;
  }
  COutlook* pOutlook = m_cpOutlook;
  if (wsVerb == L"quit" && !cArgs) {
    QuitOutlook();
    return S_OK;
  }
  if (wsVerb == L"wait" && cArgs == 1) {
    Wait(_wtoi(words[1].c_str()));
    return S_OK;
  }
  if (wsVerb == L"mouse" && cArgs == 3 && words[1] == L"move") {
    POINT pt = {};
    GetCursorPos(&pt);
    pt.x += _wtoi(words[2].c_str());
    pt.y += _wtoi(words[3].c_str());
    if (!SetCursorPos(pt.x, pt.y)) return HRESULT_FROM_WIN32(GetLastError());
    GetCursorPos(&pt);
    *pwsDetail = L"at (" + std::to_wstring(pt.x) + L", " + std::to_wstring(pt.y) + L")";
    return S_OK;
  }
  if (wsVerb == L"await" && cArgs == 1) return Await(words[1], pwsDetail);
  if (wsVerb == L"load" && cArgs == 1) return pOutlook->LoadAddIn(words[1]);
  if (wsVerb == L"unload" && cArgs == 1) return pOutlook->UnloadAddIn(words[1]);
  if (wsVerb == L"logon" && !cArgs) {
    pOutlook->Logon();
    return S_OK;
  }
  if (wsVerb == L"safesender" && cArgs == 1) {
    pOutlook->AddSafeSender(words[1]);
    return S_OK;
  }
  if (wsVerb == L"receive" && cArgs == 1) return pOutlook->AddReceived(words[1], nullptr);
  // "contact ADDRESS FILE": a contact whose certificate is that DER file, as Outlook keeps one.
  if (wsVerb == L"contact" && cArgs == 2) {
    std::vector<BYTE> certificate;
    wchar_t wszFile[MAX_PATH] = {};
    if (!ExpandEnvironmentStringsW(words[2].c_str(), wszFile, MAX_PATH)) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = ReadFileBytes(wszFile, &certificate);
    if (FAILED(hr)) return *pwsDetail = L"cannot read the certificate", hr;
    SContact contact;
    contact.wsFullName = contact.wsAddress = words[1];
    return pOutlook->AddContact(contact, certificate);
  }
  if (wsVerb == L"compose" && cArgs <= 1) return Compose(cArgs ? words[1] : L"mail", pwsDetail);
  if (words == Words{L"open", L"document"}) return pOutlook->OpenWordDocument();
  if (wsVerb == L"folder" && cArgs == 1) return pOutlook->SwitchFolder(words[1]);
  if (words == Words{L"empty", L"sent"}) {
    pOutlook->EmptySentItems();
    return S_OK;
  }
  if (words == Words{L"measure"}) return Measure(pwsDetail);
  if (wsVerb == L"activate" && (words == Words{L"activate", L"explorer"} || (cArgs == 2 && words[1] == L"inspector"))) {
    const std::vector<CComPtr<IDispatch>>& inspectors = pOutlook->Inspectors();
    const size_t pos = cArgs == 2 ? _wtoi(words[2].c_str()) : 0;
    if (cArgs == 2 && (pos < 1 || pos > inspectors.size())) return *pwsDetail = L"no such message window", E_INVALIDARG;
    CWindowObject* pWindow = cArgs == 2 ? static_cast<CWindowObject*>(inspectors[pos - 1].Get())
                                        : static_cast<CWindowObject*>(pOutlook->Explorer());
    pWindow->Activate();
    return S_OK;
  }
  if (wsVerb == L"open" && words == Words{L"open", L"explorer"}) {
    CExplorer* pExplorer = nullptr;
    HRESULT hr = pOutlook->NewExplorer(&pExplorer);
    if (SUCCEEDED(hr)) pExplorer->Activate();
    return hr;
  }
  if (wsVerb == L"open" && cArgs == 1) {
    const size_t pos = _wtoi(words[1].c_str());
    if (pos < 1 || pos > pOutlook->CurrentFolder().size())
      return *pwsDetail = L"no such item in the folder", E_INVALIDARG;
    CInspector* pInspector = nullptr;
    HRESULT hr = pOutlook->Open(pOutlook->CurrentFolder()[pos - 1], &pInspector);
    if (SUCCEEDED(hr)) pInspector->Activate(), m_cpItem = pInspector->Message();
    return hr;
  }
  if (wsVerb == L"dump" && cArgs == 2) {
    const SProp* pProp = ItemProp(words[1], pwsDetail);
    if (!pProp) return E_INVALIDARG;
    // A 32-bit value as its 4 bytes, a multi-valued binary one as its values one after the other.
    std::vector<BYTE> bytes = pProp->data;
    if (PROP_TYPE(pProp->ulTag) == PT_LONG) bytes.resize(sizeof(LONG));
    if (PROP_TYPE(pProp->ulTag) == PT_MV_BINARY) {
      bytes.clear();
      for (const std::vector<BYTE>& value : MultiBinaryValues(*pProp))
        bytes.insert(bytes.end(), value.begin(), value.end());
    }
    FILE* pFile = _wfopen(ExpandedPath(words[2]).c_str(), L"wb");
    if (!pFile) return *pwsDetail = L"cannot write the file", E_FAIL;
    const bool bWritten = fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size();
    fclose(pFile);
    *pwsDetail = std::to_wstring(bytes.size()) + L" bytes";
    return bWritten ? S_OK : E_FAIL;
  }
  if (wsVerb == L"accept" && cArgs == 1) {
    const std::vector<CComPtr<CDispatch>>* pRegions = RegionsOf(words[1], pwsDetail);
    if (!pRegions) return E_INVALIDARG;
    if (pRegions->empty()) return *pwsDetail = L"no form region", E_FAIL;
    return PressRegionButton(pRegions->front(), pwsDetail);
  }
  if (wsVerb == L"select" && cArgs) {
    std::vector<size_t> positions;
    for (size_t i = 1; i < words.size(); ++i) positions.push_back(_wtoi(words[i].c_str()));
    return pOutlook->Select(positions);
  }
  if (wsVerb == L"pane" && cArgs == 1) {
    bool bShow = false;
    if (!YesNo(words[1], &bShow)) return *pwsDetail = L"show or hide?", E_INVALIDARG;
    VARIANT varPane = {}, varShow = {};
    varPane.vt = VT_I4, varPane.lVal = Outlook::olPreview;
    varShow.vt = VT_BOOL, varShow.boolVal = bShow ? VARIANT_TRUE : VARIANT_FALSE;
    return LateBound::Call(pOutlook->Explorer(), L"ShowPane", {varPane, varShow});
  }
  if (wsVerb == L"click" && cArgs == 2) {
    IDispatch* pWindow = Window(words[1], pwsDetail);
    return pWindow ? pOutlook->Click(pWindow, words[2]) : E_INVALIDARG;
  }
  // "intercept": another add-in's click sink has cancelled the default action before the others hear it.
  if ((wsVerb == L"press" || wsVerb == L"intercept") && cArgs == 2) {
    CWindowObject* pWindow = Window(words[1], pwsDetail);
    CCommandBarControl* pControl = pWindow ? pWindow->CommandBars()->Find(words[2]) : nullptr;
    if (pWindow && !pControl) *pwsDetail = L"no command bar control of that tag or caption";
    // The user's click brings the window to the front.
    if (pControl && pOutlook->TopWindowObject() != static_cast<IDispatch*>(pWindow)) pWindow->Activate();
    const HRESULT hr = pControl ? pControl->Execute(wsVerb == L"intercept") : E_INVALIDARG;
    if (hr == S_FALSE) *pwsDetail = L"default action cancelled";
    return hr;
  }
  if (wsVerb == L"execute" && cArgs == 2) {
    IDispatch* pWindow = Window(words[1], pwsDetail);
    VARIANT varIdMso = {};
    varIdMso.vt = VT_BSTR;
    varIdMso.bstrVal = SysAllocString(words[2].c_str());
    VARIANT varBars;
    VariantInit(&varBars);
    HRESULT hr = pWindow ? LateBound::GetProperty(pWindow, L"CommandBars", &varBars) : E_INVALIDARG;
    if (SUCCEEDED(hr)) hr = LateBound::Call(varBars.pdispVal, L"ExecuteMso", {varIdMso});
    VariantClear(&varBars);
    VariantClear(&varIdMso);
    return hr;
  }
  if (wsVerb == L"type" && cArgs == 2) {
    IDispatch* pItem = Target(L"item", pwsDetail);
    VARIANT varValue = {};
    HRESULT hr = pItem ? S_OK : E_INVALIDARG;
    if (SUCCEEDED(hr) && words[1] == L"SendUsingAccount") {
      hr = AccountOf(pOutlook, words[2], &varValue, pwsDetail);
    } else {
      varValue.vt = VT_BSTR;
      varValue.bstrVal = SysAllocString(words[2].c_str());
    }
    if (SUCCEEDED(hr)) hr = LateBound::PutProperty(pItem, words[1].c_str(), varValue);
    VariantClear(&varValue);
    return hr;
  }
  if (wsVerb == L"save" && cArgs == 3 && words[1] == L"attachment") return SaveAttachment(words, pwsDetail);
  if (wsVerb == L"save" && cArgs == 3 && words[1] == L"image") return SaveRibbonImage(words, pwsDetail);
  if (wsVerb == L"send" && !cArgs) {
    IDispatch* pItem = Target(L"item", pwsDetail);
    HRESULT hr = pItem ? LateBound::Call(pItem, L"Send") : E_INVALIDARG;
    if (hr == S_FALSE) *pwsDetail = L"kept back by an event sink";
    return hr;
  }
  if (wsVerb == L"close" && cArgs <= 1) {
    CInspector* pInspector = pOutlook->ActiveInspector();
    if (!pInspector) return *pwsDetail = L"no message window is open", E_INVALIDARG;
    HRESULT hr =
        pOutlook->CloseInspector(pInspector, cArgs && words[1] == L"save" ? Outlook::olSave : Outlook::olDiscard);
    if (hr == S_FALSE) *pwsDetail = L"kept open by an event sink";
    return hr;
  }
  *pwsDetail = L"unknown step or wrong number of words";
  return E_INVALIDARG;
}

HRESULT CScenario::Start(const Words& words, std::wstring* pwsDetail) {
  if ((m_cpOutlook && m_cpOutlook->Started()) || (m_cpOffice && m_cpOffice->Started()))
    return *pwsDetail = L"an application is running already", E_UNEXPECTED;
  if (words.size() < 2) return *pwsDetail = L"which version?", E_INVALIDARG;
  if (!iswdigit(words[1][0])) return StartOffice(words, pwsDetail);
  SOutlookOptions options = m_options;
  const LONG lMajor = _wtol(words[1].c_str());
  if (lMajor < 10 || lMajor > 16) return *pwsDetail = L"versions 10 to 16", E_INVALIDARG;
  options.wsVersion = words[1].find(L'.') == std::wstring::npos ? words[1] + L".0.0.0" : words[1];
  for (size_t i = 2; i < words.size(); ++i) {
    if (words[i] == L"wordmail") {
      options.bWordMail = true;
    } else if (words[i] == L"offline") {
      options.bOffline = true;
    } else {
      return *pwsDetail = L"unknown option " + words[i], E_INVALIDARG;
    }
  }
  m_cpOutlook.Attach(new COutlook(options));
  m_published.clear();
  m_cShownLog = m_cShownRecord = 0;
  HRESULT hr = m_cpOutlook->Start();
  for (CComAddIn* pAddIn : m_cpOutlook->AddIns()) {
    if (pAddIn->m_cpObject) m_published.emplace_back(pAddIn->m_wsProgId, pAddIn->m_cpObject);
    *pwsDetail += (pwsDetail->empty() ? L"" : L", ") + pAddIn->m_wsProgId + (pAddIn->m_bConnect ? L"" : L" (failed)");
  }
  *pwsDetail = L"Outlook " + options.wsVersion + L", add-ins: " + (pwsDetail->empty() ? L"none" : *pwsDetail);
  return hr;
}

// The object model's account of that SMTP address (Outlook 2007 on), for SendUsingAccount.
HRESULT CScenario::AccountOf(COutlook* pOutlook, const std::wstring& wsAddress, VARIANT* pAccount,
                             std::wstring* pwsDetail) {
  VARIANT varSession = {}, varAccounts = {}, varCount = {};
  HRESULT hr = LateBound::GetProperty(pOutlook, L"Session", &varSession);
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(varSession.pdispVal, L"Accounts", &varAccounts);
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(varAccounts.pdispVal, L"Count", &varCount);
  for (LONG i = 1; SUCCEEDED(hr) && pAccount->vt == VT_EMPTY && i <= varCount.lVal; ++i) {
    VARIANT varIndex = {}, varAddress = {};
    varIndex.vt = VT_I4;
    varIndex.lVal = i;
    hr = LateBound::GetProperty(varAccounts.pdispVal, L"Item", pAccount, {varIndex});
    if (SUCCEEDED(hr)) hr = LateBound::GetProperty(pAccount->pdispVal, L"SmtpAddress", &varAddress);
    if (SUCCEEDED(hr) && lstrcmpiW(varAddress.bstrVal, wsAddress.c_str())) VariantClear(pAccount);
    VariantClear(&varAddress);
  }
  VariantClear(&varCount);
  VariantClear(&varAccounts);
  VariantClear(&varSession);
  if (SUCCEEDED(hr) && pAccount->vt == VT_EMPTY) *pwsDetail = L"no account " + wsAddress, hr = E_INVALIDARG;
  return hr;
}

// "account SMTP|- NAME; USER NAME": the first one replaces the default account.
HRESULT CScenario::Account(const Words& words, std::wstring* pwsDetail) {
  if (m_cpOutlook && m_cpOutlook->Started()) return *pwsDetail = L"accounts come before start", E_UNEXPECTED;
  const size_t nSeparator = words[2].find(L';');
  if (nSeparator == std::wstring::npos) return *pwsDetail = L"NAME; USER NAME", E_INVALIDARG;
  SMailAccount account;
  account.wsSmtpAddress = words[1] == L"-" ? L"" : words[1];
  account.wsName = words[2].substr(0, nSeparator);
  const size_t nUser = words[2].find_first_not_of(L' ', nSeparator + 1);
  account.wsUserName = nUser == std::wstring::npos ? L"" : words[2].substr(nUser);
  if (!m_bAccountsGiven) m_options.accounts.clear();
  m_bAccountsGiven = true;
  m_options.accounts.push_back(account);
  *pwsDetail = L"account " + std::to_wstring(m_options.accounts.size());
  return S_OK;
}

HRESULT CScenario::Expect(const Words& words, std::wstring* pwsDetail) {
  const size_t cArgs = words.size() - 2;
  const std::wstring wsWhat = words.size() > 1 ? words[1] : L"";
  if ((wsWhat == L"seen" || wsWhat == L"absent") && cArgs == 1) {
    for (const std::wstring& wsLine : Record()) {
      if (wsLine.find(words[2]) == std::wstring::npos) continue;
      *pwsDetail = L"seen \"" + wsLine + L"\"";
      return wsWhat == L"seen" ? S_OK : E_FAIL;
    }
    return wsWhat == L"seen" ? (*pwsDetail = L"not seen", E_FAIL) : S_OK;
  }
  // Sinks are counted after shut-down too: they must be gone by then.
  if (wsWhat == L"sinks" && cArgs == 2 && m_cpOutlook) {
    const size_t cSinks = m_cpOutlook->SinkCount(words[2]);
    *pwsDetail = std::to_wstring(cSinks);
    return std::to_wstring(cSinks) == words[3] ? S_OK : E_FAIL;
  }
  if (!m_cpOutlook || !m_cpOutlook->Started()) return *pwsDetail = L"Outlook is not running", E_UNEXPECTED;
  if (wsWhat == L"securitylabel" && cArgs == 1) {
    const CInspector* pInspector = m_cpOutlook->ActiveInspector();
    if (!pInspector) return *pwsDetail = L"no message window", E_FAIL;
    *pwsDetail = pInspector->m_wsSecurityLabel.empty() ? L"(none)" : pInspector->m_wsSecurityLabel;
    return *pwsDetail == words[2] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"region" && cArgs == 2) {
    const std::vector<CComPtr<CDispatch>>* pRegions = RegionsOf(words[2], pwsDetail);
    if (!pRegions) return E_INVALIDARG;
    *pwsDetail = pRegions->empty() ? L"none" : RegionState(pRegions->front());
    return *pwsDetail == words[3] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"mapi" && cArgs == 2) {
    std::wstring wsIgnored;
    const SProp* pProp = ItemProp(words[2], &wsIgnored);
    *pwsDetail = pProp ? PropValueText(*pProp) : L"absent";
    return *pwsDetail == words[3] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"property" && cArgs == 3) {
    IDispatch* pTarget = Target(words[2], pwsDetail);
    if (!pTarget) return E_INVALIDARG;
    // A dotted name reads a property of a property ("SendUsingAccount.SmtpAddress").
    CComPtr<IDispatch> cpObject(pTarget);
    std::wstring wsName = words[3];
    VARIANT var;
    VariantInit(&var);
    HRESULT hr = S_OK;
    for (size_t nDot; SUCCEEDED(hr) && (nDot = wsName.find(L'.')) != std::wstring::npos;) {
      hr = LateBound::GetProperty(cpObject, wsName.substr(0, nDot).c_str(), &var);
      if (SUCCEEDED(hr)) hr = var.vt == VT_DISPATCH && var.pdispVal ? S_OK : E_FAIL;
      if (SUCCEEDED(hr)) cpObject = var.pdispVal;
      VariantClear(&var);
      wsName.erase(0, nDot + 1);
    }
    if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpObject, wsName.c_str(), &var);
    const std::wstring wsValue = SUCCEEDED(hr) ? ValueText(&var) : HresultText(hr);
    VariantClear(&var);
    *pwsDetail = L"\"" + wsValue + L"\"";
    return SUCCEEDED(hr) && wsValue == words[4] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"attachments" && cArgs == 1) {
    IMessage* pItem = Item();
    if (!pItem) return *pwsDetail = L"no item was composed or opened", E_INVALIDARG;
    std::wstring wsList;
    for (const PropMap& props : MessageAttachments(pItem)) {
      auto itName = props.find(PROP_ID(PR_DISPLAY_NAME_W));
      auto itData = props.find(PROP_ID(PR_ATTACH_DATA_BIN));
      wsList += (wsList.empty() ? L"" : L", ") + (itName == props.end() ? L"?" : PropText(itName->second)) + L" (" +
                std::to_wstring(itData == props.end() ? 0 : itData->second.data.size()) + L" bytes)";
    }
    if (wsList.empty()) wsList = L"none";
    *pwsDetail = L"\"" + wsList + L"\"";
    return wsList == words[2] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"service" && cArgs == 2) {
    const LONG lConfigured = m_cpOutlook->ServiceConfigured(Narrow(words[2]));
    *pwsDetail = lConfigured < 0 ? L"absent" : L"configured " + std::to_wstring(lConfigured);
    return (lConfigured < 0 ? L"absent" : std::to_wstring(lConfigured)) == words[3] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"safesenders" && cArgs == 1) {
    *pwsDetail = L"\"" + m_cpOutlook->SafeSenders() + L"\"";
    return m_cpOutlook->SafeSenders() == words[2] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"idle" && cArgs == 1) return ExpectIdle(_wtoi(words[2].c_str()), pwsDetail);
  if (wsWhat == L"balloon" && (cArgs == 3 || (cArgs == 1 && words[2] == L"none"))) {
    return ExpectBalloon(words, pwsDetail);
  }
  if (wsWhat == L"published" && cArgs == 2) {
    const CComAddIn* pAddIn = m_cpOutlook->FindAddIn(words[2]);
    if (!pAddIn) return *pwsDetail = L"not loaded", E_FAIL;
    bool bExpected = false;
    if (!YesNo(words[3], &bExpected)) return *pwsDetail = L"yes or no?", E_INVALIDARG;
    const bool bPublished = pAddIn->m_cpObject.Get() != nullptr;
    *pwsDetail = bPublished ? L"yes" : L"no";
    return bPublished == bExpected ? S_OK : E_FAIL;
  }
  if (wsWhat == L"control" && cArgs == 3) {
    CWindowObject* pWindow = Window(words[2], pwsDetail);
    const CCommandBarControl* pControl = pWindow ? pWindow->CommandBars()->Find(words[3]) : nullptr;
    if (!pControl)
      return pWindow ? (*pwsDetail = L"no command bar control of that tag or caption", E_FAIL) : E_INVALIDARG;
    const std::wstring wsActual = pControl->DescribeLook();
    *pwsDetail = L"\"" + wsActual + L"\"";
    return wsActual == words[4] ? S_OK : E_FAIL;
  }
  if (wsWhat == L"bar" && cArgs == 2) {
    CWindowObject* pWindow = Window(words[2], pwsDetail);
    if (!pWindow) return E_INVALIDARG;
    // The bar's name is the first word of the text, the description the rest.
    const std::wstring& wsText = words[3];
    const size_t nSpace = wsText.find(L' ');
    const std::wstring wsActual = pWindow->CommandBars()->DescribeBar(wsText.substr(0, nSpace));
    *pwsDetail = L"\"" + wsActual + L"\"";
    return wsActual == wsText.substr(nSpace + 1) ? S_OK : E_FAIL;
  }
  if ((wsWhat == L"label" || wsWhat == L"tip" || wsWhat == L"visible" || wsWhat == L"enabled") && cArgs == 3) {
    IDispatch* pWindow = Window(words[2], pwsDetail);
    SControlState state;
    HRESULT hr = pWindow ? m_cpOutlook->ControlState(pWindow, words[3], &state) : E_INVALIDARG;
    if (FAILED(hr)) return hr;
    if (wsWhat == L"label" || wsWhat == L"tip") {
      const std::wstring& wsText = wsWhat == L"label" ? state.wsLabel : state.wsTip;
      *pwsDetail = L"\"" + wsText + L"\"";
      return wsText == words[4] ? S_OK : E_FAIL;
    }
    bool bExpected = false;
    if (!YesNo(words[4], &bExpected)) return *pwsDetail = L"yes or no?", E_INVALIDARG;
    const bool bActual = wsWhat == L"visible" ? state.bVisible : state.bEnabled;
    *pwsDetail = bActual ? L"yes" : L"no";
    return bActual == bExpected ? S_OK : E_FAIL;
  }
  *pwsDetail = L"unknown expectation or wrong number of words";
  return E_INVALIDARG;
}

// "expect balloon none", or "expect balloon WINDOW CONTROL TITLE | TEXT": the one balloon on
// screen belongs to the window (Outlook's, or "document": the document window in front), shows
// that title and text, and its stem touches the centre of the control; its tool record is the
// size its common controls take.
HRESULT CScenario::ExpectBalloon(const Words& words, std::wstring* pwsDetail) {
  const std::map<HWND, SBalloon> shown = m_cpOffice ? m_cpOffice->Balloons() : m_cpOutlook->Balloons();
  for (const auto& [hwnd, balloon] : shown) {
    *pwsDetail += (pwsDetail->empty() ? L"" : L"; ") + (L"\"" + balloon.wsTitle + L" | " + balloon.wsText + L"\"") +
                  L" stem at (" + std::to_wstring(balloon.ptStem.x) + L", " + std::to_wstring(balloon.ptStem.y) +
                  L"), tool record " + std::to_wstring(balloon.cbToolInfo) + L" bytes, common controls " +
                  std::to_wstring(balloon.dwComCtlMajor);
  }
  if (words.size() == 3) return shown.empty() ? (*pwsDetail = L"none", S_OK) : E_FAIL;
  HWND hwndWindow = nullptr;
  RECT rc = {};
  bool bOnScreen = false;
  if (m_cpOffice) {
    if (words[2] != L"document") return *pwsDetail = L"expect balloon document CONTROL TEXT", E_INVALIDARG;
    bOnScreen = m_cpOffice->ControlRect(words[3], &hwndWindow, &rc);
  } else {
    CWindowObject* pWindow = Window(words[2], pwsDetail);
    if (!pWindow) return E_INVALIDARG;
    hwndWindow = pWindow->Window();
    bOnScreen = m_cpOutlook->ControlRect(pWindow, words[3], &rc);
  }
  if (!bOnScreen) return *pwsDetail = L"no such control on screen", E_FAIL;
  *pwsDetail += L"; control centre (" + std::to_wstring((rc.left + rc.right) / 2) + L", " +
                std::to_wstring((rc.top + rc.bottom) / 2) + L")";
  if (shown.size() != 1) return *pwsDetail += L"; " + std::to_wstring(shown.size()) + L" balloons", E_FAIL;
  const HWND hwndTip = shown.begin()->first;
  const SBalloon& balloon = shown.begin()->second;
  const UINT cbToolInfo = balloon.dwComCtlMajor >= 6 ? sizeof(TTTOOLINFOW) : offsetof(TTTOOLINFOW, lParam);
  const bool bMatches = balloon.wsTitle + L" | " + balloon.wsText == words[4] &&
                        balloon.ptStem.x == (rc.left + rc.right) / 2 && balloon.ptStem.y == (rc.top + rc.bottom) / 2 &&
                        balloon.cbToolInfo == cbToolInfo && GetWindow(hwndTip, GW_OWNER) == hwndWindow;
  return bMatches ? S_OK : E_FAIL;
}

namespace {

// The name of a registry key handle, or empty for another kind of handle.
std::wstring KeyName(HANDLE h) {
  alignas(UNICODE_STRING) BYTE abInfo[1024];
  ULONG cbInfo = 0;
  const auto* pText = reinterpret_cast<const UNICODE_STRING*>(abInfo);
  if (NtQueryObject(h, ObjectTypeInformation, abInfo, sizeof abInfo, &cbInfo) < 0 ||
      std::wstring(pText->Buffer, pText->Length / sizeof(wchar_t)) != L"Key" ||
      NtQueryObject(h, ObjectNameInformation, abInfo, sizeof abInfo, &cbInfo) < 0 || !pText->Buffer)
    return std::wstring();
  return std::wstring(pText->Buffer, pText->Length / sizeof(wchar_t));
}

}  // namespace

// What a soak watches: the handles the process holds and the memory it has committed for itself.
// Wine answers GetProcessHandleCount and the private usage of GetProcessMemoryInfo with 0, so
// every handle value is asked for, and the committed private regions of the address space summed.
// Handles on the registry keys of Wine's key containers are counted apart: its provider keeps one
// open for each acquisition of a container (docs/platform-notes.md).
HRESULT CScenario::Measure(std::wstring* pwsDetail) {
  constexpr ULONG_PTR kHandleValues = 0x40000;
  size_t cHandles = 0;
  size_t cContainerKeys = 0;
  for (ULONG_PTR uValue = 4; uValue < kHandleValues; uValue += 4) {
    DWORD dwFlags = 0;
    if (!GetHandleInformation(reinterpret_cast<HANDLE>(uValue), &dwFlags)) continue;
    ++cHandles;
    if (KeyName(reinterpret_cast<HANDLE>(uValue)).find(L"\\Software\\Wine\\Crypto\\RSA\\") != std::wstring::npos)
      ++cContainerKeys;
  }
  SIZE_T cbPrivate = 0;
  MEMORY_BASIC_INFORMATION mbi = {};
  for (const BYTE* pb = nullptr; VirtualQuery(pb, &mbi, sizeof mbi) == sizeof mbi;
       pb = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) cbPrivate += mbi.RegionSize;
  }
  *pwsDetail = L"handles " + std::to_wstring(cHandles) + L" (key containers " + std::to_wstring(cContainerKeys) +
               L"), private bytes " + std::to_wstring(cbPrivate);
  return cHandles && cbPrivate ? S_OK : E_FAIL;
}

HRESULT CScenario::Show(std::wstring* pwsDetail) {
  if (m_cpOutlook || m_cpOffice) {
    const std::vector<std::wstring>& log = m_cpOffice ? m_cpOffice->m_log : m_cpOutlook->m_log;
    const std::wstring wsHost = m_cpOffice ? m_cpOffice->Name() : L"outlook";
    for (; m_cShownLog < log.size(); ++m_cShownLog) Print(L"    " + wsHost + L": " + log[m_cShownLog]);
  }
  const std::vector<std::wstring> record = AddInRecord();
  for (; m_cShownRecord < record.size(); ++m_cShownRecord) Print(L"    " + record[m_cShownRecord]);
  *pwsDetail = L"shown above";
  return S_OK;
}

void CScenario::Wait(DWORD dwMilliseconds) {
  const ULONGLONG ullEnd = GetTickCount64() + dwMilliseconds;
  for (ULONGLONG ullNow = GetTickCount64(); ullNow < ullEnd && !(m_cpOutlook && m_cpOutlook->QuitRequested());
       ullNow = GetTickCount64()) {
    PumpUntil(nullptr, static_cast<DWORD>(std::min<ULONGLONG>(ullEnd - ullNow, 50)));
  }
}

HRESULT CScenario::Await(const std::wstring& wsText, std::wstring* pwsDetail) {
  for (;;) {
    for (const std::wstring& wsLine : Record()) {
      if (wsLine.find(wsText) == std::wstring::npos) continue;
      *pwsDetail = L"seen \"" + wsLine + L"\"";
      return S_OK;
    }
    PumpUntil(nullptr, 50);
  }
}

HRESULT CScenario::ExpectIdle(DWORD dwMilliseconds, std::wstring* pwsDetail) {
  const ULONGLONG ullCpuBefore = ProcessCpuTime();
  const ULONGLONG ullStart = GetTickCount64();
  Wait(dwMilliseconds);
  const ULONGLONG ullCpuMs = (ProcessCpuTime() - ullCpuBefore) / 10000;
  const ULONGLONG ullWallMs = GetTickCount64() - ullStart;
  *pwsDetail = L"processor time " + std::to_wstring(ullCpuMs) + L" ms in " + std::to_wstring(ullWallMs) + L" ms";
  return static_cast<double>(ullCpuMs) < kIdleCpuShare * static_cast<double>(ullWallMs) ? S_OK : E_FAIL;
}

// Earlier runs in the same prefix may have left the user certificates; a scenario starts without.
// Wine does not persist deletions from a system store, so the store's registry keys go.
HRESULT CScenario::ForgetPersonalCertificates(std::wstring* pwsDetail) {
  const LSTATUS ls = RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\SystemCertificates\\MY\\Certificates");
  *pwsDetail = ls == ERROR_SUCCESS ? L"removed" : L"there were none";
  return ls == ERROR_SUCCESS || ls == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(ls);
}

HRESULT RunProcess(const std::wstring& wsCommandLine, bool bPump, std::vector<std::wstring>* pLines,
                   DWORD* pdwExitCode) {
  std::wstring wsCommand = wsCommandLine;
  if (wsCommand.size() < 2 || (wsCommand[1] != L':' && wsCommand[0] != L'\\' && wsCommand[0] != L'"')) {
    wchar_t wszRunner[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, wszRunner, MAX_PATH);
    const std::wstring wsRunner = wszRunner;
    const size_t nProgramEnd = std::min(wsCommand.find(L' '), wsCommand.size());
    wsCommand = L"\"" + wsRunner.substr(0, wsRunner.find_last_of(L'\\') + 1) + wsCommand.substr(0, nProgramEnd) +
                L"\"" + wsCommand.substr(nProgramEnd);
  }
  wchar_t wszFolder[MAX_PATH] = {}, wszOutput[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, wszFolder);
  GetTempFileNameW(wszFolder, L"run", 0, wszOutput);
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE hOutput = CreateFileW(wszOutput, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  if (hOutput == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = hOutput;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  // Wine now and then fails to start a process with ERROR_INTERNAL_ERROR; a second try starts it.
  BOOL bStarted = FALSE;
  DWORD dwError = ERROR_INTERNAL_ERROR;
  for (int iTry = 0; iTry < 2 && !bStarted && dwError == ERROR_INTERNAL_ERROR; ++iTry) {
    if (iTry) Sleep(200);
    bStarted = CreateProcessW(nullptr, wsCommand.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    dwError = GetLastError();
  }
  CloseHandle(hOutput);
  if (!bStarted) {
    DeleteFileW(wszOutput);
    return HRESULT_FROM_WIN32(dwError);
  }
  // Outlook answers the program's calls while it waits for it: here, or in a window's own modal loop.
  const bool bEnded =
      bPump ? PumpUntil(pi.hProcess, kProgramWait) : WaitForSingleObject(pi.hProcess, kProgramWait) == WAIT_OBJECT_0;
  if (!bEnded) TerminateProcess(pi.hProcess, 1);
  GetExitCodeProcess(pi.hProcess, pdwExitCode);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  FILE* pFile = _wfopen(wszOutput, L"rb");
  std::string sOutput;
  char sz[1024];
  for (size_t cb; pFile && (cb = fread(sz, 1, sizeof sz, pFile)) > 0;) sOutput.append(sz, cb);
  if (pFile) fclose(pFile);
  std::istringstream lines(sOutput);
  for (std::string sLine; std::getline(lines, sLine);) {
    if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
    pLines->push_back(Widen(sLine));
  }
  DeleteFileW(wszOutput);
  return S_OK;
}

HRESULT CScenario::RunProgram(const std::wstring& wsCommandLine, std::wstring* pwsDetail) {
  std::vector<std::wstring> lines;
  DWORD dwExitCode = 0;
  const HRESULT hr = RunProcess(wsCommandLine, true, &lines, &dwExitCode);
  if (FAILED(hr)) return hr;
  for (const std::wstring& wsLine : lines) {
    if (m_cpOutlook) m_cpOutlook->Log(L"run: " + wsLine);
    if (m_cpOffice) m_cpOffice->Log(L"run: " + wsLine);
    *pwsDetail += (pwsDetail->empty() ? L"" : L"; ") + wsLine;
  }
  *pwsDetail += (pwsDetail->empty() ? L"" : L"; ") + std::wstring(L"exit code ") + std::to_wstring(dwExitCode);
  return dwExitCode ? E_FAIL : S_OK;
}

CWindowObject* CScenario::Window(const std::wstring& wsWhere, std::wstring* pwsDetail) {
  CWindowObject* pWindow = nullptr;
  if (wsWhere == L"explorer") pWindow = m_cpOutlook->Explorer();
  if (wsWhere == L"inspector") pWindow = m_cpOutlook->ActiveInspector();
  if (!pWindow) *pwsDetail = L"no " + wsWhere + L" window";
  return pWindow;
}

const std::vector<CComPtr<CDispatch>>* CScenario::RegionsOf(const std::wstring& wsWhere, std::wstring* pwsDetail) {
  if (wsWhere == L"explorer") return &m_cpOutlook->PreviewRegions();
  if (wsWhere != L"inspector") return *pwsDetail = L"explorer or inspector?", nullptr;
  CInspector* pInspector = m_cpOutlook->ActiveInspector();
  if (!pInspector) *pwsDetail = L"no message window";
  return pInspector ? &pInspector->m_regions : nullptr;
}

// The object a property step reads: the application, a window, or the current item.
IDispatch* CScenario::Target(const std::wstring& wsWhat, std::wstring* pwsDetail) {
  if (wsWhat == L"application") return m_cpOutlook;
  if (wsWhat != L"item") return Window(wsWhat, pwsDetail);
  IMessage* pItem = Item();
  if (!pItem) *pwsDetail = L"no item was composed or opened";
  return pItem ? m_cpOutlook->MailItem(pItem) : nullptr;
}

const SProp* CScenario::ItemProp(const std::wstring& wsTag, std::wstring* pwsDetail) {
  IMessage* pMessage = Item();
  if (!pMessage) return *pwsDetail = L"no item", nullptr;
  const ULONG ulTag = wcstoul(wsTag.c_str(), nullptr, 16);
  const PropMap& props = MessageStore(pMessage).m_props;
  auto it = props.find(PROP_ID(ulTag));
  if (it == props.end() || it->second.ulTag != ulTag) return *pwsDetail = L"the item has no such property", nullptr;
  return &it->second;
}

// The item of the message window in front, or else the one last in front, composed or opened.
IMessage* CScenario::Item() {
  if (CInspector* pInspector = m_cpOutlook->ActiveInspector()) m_cpItem = pInspector->Message();
  return m_cpItem;
}

std::vector<std::wstring> CScenario::AddInRecord() {
  std::vector<std::wstring> record;
  for (const auto& [wsProgId, cpObject] : m_published) {
    VARIANT varLog;
    VariantInit(&varLog);
    if (FAILED(LateBound::GetProperty(cpObject, L"CallLog", &varLog))) continue;
    std::wistringstream stream(ValueText(&varLog));
    VariantClear(&varLog);
    for (std::wstring wsLine; std::getline(stream, wsLine);) record.push_back(wsProgId + L": " + wsLine);
  }
  return record;
}

std::vector<std::wstring> CScenario::Record() {
  std::vector<std::wstring> lines;
  if (m_cpOutlook) lines = m_cpOutlook->m_log;
  if (m_cpOffice) lines = m_cpOffice->m_log;
  const std::vector<std::wstring> record = AddInRecord();
  lines.insert(lines.end(), record.begin(), record.end());
  return lines;
}

void CScenario::QuitOutlook() {
  if (m_cpOutlook) m_cpOutlook->Quit();
  if (m_cpOffice) m_cpOffice->Quit();
}

// "expect refused HRESULT|any STEP...": the step fails with exactly that result, or with any; a
// refusal of "any" may be shown to the user in a message box on the way.
HRESULT CScenario::ExpectRefused(const Words& words, std::wstring* pwsDetail) {
  const bool bAny = words[2] == L"any";
  HRESULT hrExpected = S_OK;
  if (!bAny && FAILED(ParseHresult(words[2], &hrExpected)))
    return *pwsDetail = L"an HRESULT in hexadecimal or any", E_INVALIDARG;
  m_bBoxesAllowed = bAny;
  Words step(words.begin() + 3, words.end());
  // A step that takes text has the rest of the line as its last word.
  auto it = kTextSteps.find(step[0]);
  if (it != kTextSteps.end() && step.size() > it->second + 1) {
    for (size_t i = it->second + 1; i < step.size(); ++i) step[it->second] += L" " + step[i];
    step.resize(it->second + 1);
  }
  const HRESULT hr = Step(step, pwsDetail);
  *pwsDetail = L"refused with " + HresultText(hr);
  return hr == hrExpected || (bAny && FAILED(hr)) ? S_OK : E_FAIL;
}

// "compose [meeting|task]": a meeting is made a meeting request and a task is assigned, as the
// user does by inviting attendees or assigning it, so that both can be sent.
HRESULT CScenario::Compose(const std::wstring& wsKind, std::wstring* pwsDetail) {
  const LONG lType = wsKind == L"mail"      ? Outlook::olMailItem
                     : wsKind == L"meeting" ? Outlook::olAppointmentItem
                     : wsKind == L"task"    ? Outlook::olTaskItem
                                            : -1;
  if (lType < 0) return *pwsDetail = L"mail, meeting or task?", E_INVALIDARG;
  CInspector* pInspector = nullptr;
  HRESULT hr = m_cpOutlook->Compose(&pInspector, lType);
  if (FAILED(hr)) return hr;
  m_cpItem = pInspector->Message();
  IDispatch* pItem = m_cpOutlook->MailItem(m_cpItem);
  VARIANT varMeeting = {};
  varMeeting.vt = VT_I4;
  varMeeting.lVal = Outlook::olMeeting;
  if (lType == Outlook::olAppointmentItem) hr = LateBound::PutProperty(pItem, L"MeetingStatus", varMeeting);
  if (lType == Outlook::olTaskItem) hr = LateBound::Call(pItem, L"Assign");
  return hr;
}

// "save attachment N FILE": the data of the item's N-th attachment (from 1), byte for byte.
HRESULT CScenario::SaveAttachment(const Words& words, std::wstring* pwsDetail) {
  IMessage* pItem = Item();
  if (!pItem) return *pwsDetail = L"no item was composed or opened", E_INVALIDARG;
  const std::vector<PropMap> attachments = MessageAttachments(pItem);
  const size_t pos = _wtoi(words[2].c_str());
  if (pos < 1 || pos > attachments.size()) return *pwsDetail = L"no such attachment", E_INVALIDARG;
  auto it = attachments[pos - 1].find(PROP_ID(PR_ATTACH_DATA_BIN));
  if (it == attachments[pos - 1].end()) return *pwsDetail = L"the attachment has no data", E_FAIL;
  wchar_t wszPath[MAX_PATH] = {};
  ExpandEnvironmentStringsW(words[3].c_str(), wszPath, MAX_PATH);
  HANDLE hFile = CreateFileW(wszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  DWORD cbWritten = 0;
  const BOOL bWritten =
      WriteFile(hFile, it->second.data.data(), static_cast<DWORD>(it->second.data.size()), &cbWritten, nullptr);
  const HRESULT hr = bWritten ? S_OK : HRESULT_FROM_WIN32(GetLastError());
  CloseHandle(hFile);
  *pwsDetail = std::to_wstring(cbWritten) + L" bytes to " + wszPath;
  return hr;
}

namespace {

// The element of that role and name under pAccessible, depth first, through AccessibleChildren
// as an accessibility client walks it: a whole object (child id self) or a simple element.
bool FindAccessible(IAccessible* pAccessible, LONG lRole, const std::wstring& wsName, CComPtr<IAccessible>& cpFound,
                    LONG* plChild) {
  LONG cChildren = 0;
  if (FAILED(pAccessible->get_accChildCount(&cChildren)) || cChildren <= 0) return false;
  std::vector<VARIANT> children(static_cast<size_t>(cChildren));
  LONG cObtained = 0;
  if (FAILED(AccessibleChildren(pAccessible, 0, cChildren, children.data(), &cObtained))) return false;
  bool bFound = false;
  for (LONG i = 0; i < cObtained; ++i) {
    VARIANT& varChild = children[static_cast<size_t>(i)];
    CComPtr<IAccessible> cpChild;
    if (varChild.vt == VT_DISPATCH && varChild.pdispVal)
      varChild.pdispVal->QueryInterface(kIIDAccessible, reinterpret_cast<void**>(&cpChild));
    IAccessible* pOwner = cpChild ? cpChild.Get() : pAccessible;
    VARIANT varSelf = {};
    varSelf.vt = VT_I4;
    varSelf.lVal = cpChild ? CHILDID_SELF : varChild.lVal;
    VARIANT varRole;
    VariantInit(&varRole);
    BSTR bsName = nullptr;
    if (!bFound && SUCCEEDED(pOwner->get_accRole(varSelf, &varRole)) && varRole.vt == VT_I4 && varRole.lVal == lRole &&
        SUCCEEDED(pOwner->get_accName(varSelf, &bsName)) && bsName && wsName == bsName) {
      cpFound = pOwner;
      *plChild = varSelf.lVal;
      bFound = true;
    }
    SysFreeString(bsName);
    if (!bFound && cpChild) bFound = FindAccessible(cpChild, lRole, wsName, cpFound, plChild);
  }
  for (LONG i = 0; i < cObtained; ++i) VariantClear(&children[static_cast<size_t>(i)]);
  return bFound;
}

HRESULT DoDefaultAction(IAccessible* pAccessible, LONG lChild) {
  VARIANT varChild = {};
  varChild.vt = VT_I4;
  varChild.lVal = lChild;
  return pAccessible->accDoDefaultAction(varChild);
}

}  // namespace

// The window a step names (explorer, inspector, or document: the document window in front) and
// its ribbon (null without one); null when there is no such window.
HWND CScenario::StepWindow(const std::wstring& wsWindow, CRibbonWindow** ppRibbon, std::wstring* pwsDetail) {
  HWND hwndWindow = nullptr;
  *ppRibbon = nullptr;
  if (m_cpOffice && wsWindow == L"document") {
    *ppRibbon = m_cpOffice->FrontRibbon(&hwndWindow);
  } else if (CWindowObject* pWindow = m_cpOffice ? nullptr : Window(wsWindow, pwsDetail)) {
    hwndWindow = pWindow->Window();
    *ppRibbon = pWindow->Ribbon();
  }
  if (!hwndWindow) *pwsDetail = L"no " + wsWindow + L" window";
  return hwndWindow;
}

// "drop WINDOW NAME" and "pick WINDOW NAME > ENTRY", through Active Accessibility as a user's
// tool does it: the ribbon's drop-down named NAME (a menu, or a split button's arrow) drops its
// menu by its default action (or closes it again); "pick" then does the default action of the
// menu item named ENTRY.
HRESULT CScenario::PickFromMenu(const Words& words, std::wstring* pwsDetail) {
  CRibbonWindow* pRibbon = nullptr;
  if (!StepWindow(words[1], &pRibbon, pwsDetail)) return E_INVALIDARG;
  if (!pRibbon) return *pwsDetail = L"the window has no ribbon", E_FAIL;
  const size_t nArrow = words[2].find(L" > ");
  if ((words[0] == L"pick") != (nArrow != std::wstring::npos)) return *pwsDetail = L"NAME > ENTRY?", E_INVALIDARG;
  const std::wstring wsMenu = words[2].substr(0, nArrow);
  CComPtr<IAccessible> cpRibbon, cpFound;
  LONG lChild = CHILDID_SELF;
  HRESULT hr = AccessibleObjectFromWindow(pRibbon->Window(), static_cast<DWORD>(OBJID_CLIENT), kIIDAccessible,
                                          reinterpret_cast<void**>(&cpRibbon));
  if (FAILED(hr)) return *pwsDetail = L"AccessibleObjectFromWindow", hr;
  if (!FindAccessible(cpRibbon, ROLE_SYSTEM_BUTTONDROPDOWN, wsMenu, cpFound, &lChild))
    return *pwsDetail = L"no drop-down named \"" + wsMenu + L"\"", E_FAIL;
  hr = DoDefaultAction(cpFound, lChild);
  if (FAILED(hr) || words[0] == L"drop") return hr;
  const std::wstring wsEntry = words[2].substr(nArrow + 3);
  CComPtr<IAccessible> cpMenu;
  if (!FindAccessible(cpRibbon, ROLE_SYSTEM_MENUPOPUP, wsMenu, cpMenu, &lChild))
    return *pwsDetail = L"the menu did not drop", E_FAIL;
  if (!FindAccessible(cpMenu, ROLE_SYSTEM_MENUITEM, wsEntry, cpFound, &lChild))
    return *pwsDetail = L"the menu has no item \"" + wsEntry + L"\"", E_FAIL;
  return DoDefaultAction(cpFound, lChild);
}

// "shot explorer|inspector|document FILE": a PNG of the window on screen with the balloons shown
// and its ribbon's dropped menu.
HRESULT CScenario::Shot(const Words& words, std::wstring* pwsDetail) {
  CRibbonWindow* pRibbon = nullptr;
  const HWND hwndWindow = StepWindow(words[1], &pRibbon, pwsDetail);
  if (!hwndWindow) return E_INVALIDARG;
  // Drawn as Office draws it: with the add-ins' controls as they are now, or as they were when
  // the menu dropped (asking for them again closes it).
  if (pRibbon && !pRibbon->MenuWindow()) pRibbon->Refresh();
  // The window is drawn last: a balloon drawn again may move and bare what lies under it.
  std::vector<HWND> windows;
  if (pRibbon && pRibbon->MenuWindow()) windows.push_back(pRibbon->MenuWindow());
  for (const auto& [hwndTip, balloon] : m_cpOffice ? m_cpOffice->Balloons() : m_cpOutlook->Balloons())
    windows.push_back(hwndTip);
  windows.push_back(hwndWindow);
  *pwsDetail = ExpandedPath(words[2]);
  return UiDriver::SavePngOf(windows, *pwsDetail) ? S_OK : E_FAIL;
}

// "save image explorer|inspector IMAGEID FILE": what the add-in's loadImage gave, as a PNG file.
HRESULT CScenario::SaveRibbonImage(const Words& words, std::wstring* pwsDetail) {
  IDispatch* pWindow = m_cpOffice ? nullptr : Window(words[2], pwsDetail);
  if (!m_cpOffice && !pWindow) return E_INVALIDARG;
  const size_t nSpace = words[3].find(L' ');
  if (nSpace == std::wstring::npos) return *pwsDetail = L"image id and file?", E_INVALIDARG;
  const std::wstring wsImageId = words[3].substr(0, nSpace);
  IPictureDisp* pPicture =
      m_cpOffice ? m_cpOffice->RibbonImage(wsImageId) : m_cpOutlook->RibbonImage(pWindow, wsImageId);
  if (!pPicture) return *pwsDetail = L"the ribbon has no picture of that id", E_FAIL;
  HBITMAP hBitmap = nullptr;
  HRESULT hr = PictureBitmap(pPicture, &hBitmap);
  if (FAILED(hr)) return hr;
  wchar_t wszPath[MAX_PATH] = {};
  ExpandEnvironmentStringsW(words[3].substr(nSpace + 1).c_str(), wszPath, MAX_PATH);
  hr = UiDriver::SaveBitmapPng(hBitmap, wszPath) ? S_OK : E_FAIL;
  DeleteObject(hBitmap);
  *pwsDetail = wszPath;
  return hr;
}

}  // namespace Sim
