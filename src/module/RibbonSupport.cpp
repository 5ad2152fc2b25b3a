#include "module/RibbonSupport.h"

#include <aclapi.h>
#include <sddl.h>

#include <utility>

#include "com/Bstr.h"
#include "module/AddInModule.h"
#include "module/Branding.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "res/StringIds.h"
#include "res/resource.h"
#include "suite/VmCertServices.h"

namespace {

constexpr DWORD kWatcherExitWait = 2000;

// Low-integrity programs of the suite may then set the event (no write-up from below).
void LabelLowIntegrity(HANDLE hEvent, CTraceScope& scope) {
  OSVERSIONINFOW osvi = {};
  osvi.dwOSVersionInfoSize = sizeof osvi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&osvi) || osvi.dwPlatformId != VER_PLATFORM_WIN32_NT || osvi.dwMajorVersion < 6) return;
#pragma GCC diagnostic pop
  PSECURITY_DESCRIPTOR pSD = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;NW;;;LW)", SDDL_REVISION_1, &pSD, nullptr)) {
    scope.Error("ConvertStringSecurityDescriptorToSecurityDescriptor()", HRESULT_FROM_WIN32(GetLastError()));
    return;
  }
  PACL pSacl = nullptr;
  BOOL bPresent = FALSE, bDefaulted = FALSE;
  if (GetSecurityDescriptorSacl(pSD, &bPresent, &pSacl, &bDefaulted) && bPresent) {
    const DWORD dwErr =
        SetSecurityInfo(hEvent, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, pSacl);
    if (dwErr != ERROR_SUCCESS) scope.Error("SetSecurityInfo()", HRESULT_FROM_WIN32(dwErr));
  }
  LocalFree(pSD);
}

void CALLBACK EndWaitApc(ULONG_PTR) {}

// The items that every ribbon's menu ends with.
constexpr SMenuText kSuiteToolTexts[] = {
    {L"CustomMenuManage", IDS_MENU_MANAGE, IDS_TIP_MANAGE},
    {L"CustomMenuBuddies", IDS_MENU_BUDDIES, IDS_TIP_BUDDIES},
    {L"CustomMenuOptions", IDS_MENU_OPTIONS, IDS_TIP_OPTIONS},
    {L"CustomMenuHelp", IDS_MENU_HELP, IDS_TIP_HELP},
};
constexpr SRibbonImage kSuiteToolImages[] = {
    {L"ManageImage", IDI_RIBBON_MANAGE},
    {L"BuddiesImage", IDI_RIBBON_BUDDIES},
    {L"OptionsImage", IDI_RIBBON_OPTIONS},
    {L"HelpImage", IDI_RIBBON_HELP},
};

HMODULE ModuleInstance() { return g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr; }

// The large button's face is the branding DLL's; scaled down by the common controls where they
// can, which draws it better than a stretched copy.
HICON LoadButtonIcon() {
  const HMODULE hBranding = CBranding::LoadResourceDLL();
  if (!hBranding) return nullptr;
  using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  const auto pfnScaleDown = reinterpret_cast<LoadIconWithScaleDownFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
  HICON hIcon = nullptr;
  if (pfnScaleDown && SUCCEEDED(pfnScaleDown(hBranding, MAKEINTRESOURCEW(IDI_BRAND_BUTTON), 32, 32, &hIcon)))
    return hIcon;
  return static_cast<HICON>(LoadImageW(hBranding, MAKEINTRESOURCEW(IDI_BRAND_BUTTON), IMAGE_ICON, 32, 32, LR_SHARED));
}

HICON LoadModuleIcon(UINT nIcon) {
  return static_cast<HICON>(LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(nIcon), IMAGE_ICON, 16, 16, LR_SHARED));
}

// The icons are shared or live as long as Office keeps the picture: the picture does not own them.
HRESULT IconPicture(CTraceScope& scope, HICON hIcon, IPictureDisp** ppPicture) {
  PICTDESC desc = {sizeof desc, PICTYPE_ICON, {}};
  desc.icon.hicon = hIcon;
  const HRESULT hr = OleCreatePictureIndirect(&desc, IID_IPictureDisp, FALSE, reinterpret_cast<void**>(ppPicture));
  if (FAILED(hr)) scope.Error("OleCreatePictureIndirect()", hr);
  return hr;
}

}  // namespace

HRESULT ReadControlId(CTraceScope& scope, IDispatch* pControl, std::wstring* pwsId) {
  CComPtr<Office::IRibbonControl> cpControl;
  HRESULT hr =
      pControl ? pControl->QueryInterface(Office::IID_IRibbonControl, reinterpret_cast<void**>(&cpControl)) : E_POINTER;
  if (FAILED(hr)) {
    scope.Error("QueryInterface(__uuidof(Office::IRibbonControl))", hr);
    return hr;
  }
  CComBSTR bsId;
  hr = cpControl->get_Id(&bsId);
  if (FAILED(hr)) {
    scope.Error("cpControl->get_Id()", hr);
    return hr;
  }
  *pwsId = bsId.c_str() ? bsId.c_str() : L"";
  scope.Message("Control ID = %ls", pwsId->c_str());
  return S_OK;
}

HRESULT ReadControlContext(CTraceScope& scope, IDispatch* pControl, CComPtr<IDispatch>& cpContext) {
  CComPtr<Office::IRibbonControl> cpControl;
  HRESULT hr =
      pControl ? pControl->QueryInterface(Office::IID_IRibbonControl, reinterpret_cast<void**>(&cpControl)) : E_POINTER;
  if (SUCCEEDED(hr)) hr = cpControl->get_Context(&cpContext);
  if (SUCCEEDED(hr) && !cpContext) hr = E_FAIL;
  if (FAILED(hr)) scope.Error("cpControl->get_Context()", hr);
  return hr;
}

HRESULT QueryRibbonUI(CTraceScope& scope, IDispatch* pRibbon, CComPtr<Office::IRibbonUI>& cpRibbonUI) {
  return GuardComEntry(scope, [&] {
    CComPtr<Office::IRibbonUI> cpQueried;
    const HRESULT hr =
        pRibbon ? pRibbon->QueryInterface(Office::IID_IRibbonUI, reinterpret_cast<void**>(&cpQueried)) : E_POINTER;
    if (FAILED(hr)) {
      scope.Error("QueryInterface(__uuidof(Office::IRibbonUI))", hr);
      return hr;
    }
    cpRibbonUI = cpQueried;
    return S_OK;
  });
}

HRESULT ControlText(CTraceScope& scope, IDispatch* pControl, BSTR* pbstrText,
                    const std::function<std::optional<std::wstring>(const std::wstring& wsId)>& textFor) {
  return GuardComEntry(scope, [&] {
    std::wstring wsId;
    const HRESULT hr = ReadControlId(scope, pControl, &wsId);
    if (FAILED(hr)) return hr;
    if (!pbstrText) return E_POINTER;
    const std::optional<std::wstring> text = textFor(wsId);
    if (!text) return E_NOTIMPL;
    // A text that exists in no resource module: Office shows nothing rather than an empty label.
    if (text->empty()) {
      scope.Error("LoadResourceString()", HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
      return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    *pbstrText = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    return *pbstrText ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT MenuItemText(CTraceScope& scope, IDispatch* pControl, BSTR* pbstrText, std::span<const SMenuText> texts,
                     UINT SMenuText::*pnText) {
  return ControlText(scope, pControl, pbstrText, [&](const std::wstring& wsId) -> std::optional<std::wstring> {
    for (std::span<const SMenuText> table : {texts, std::span<const SMenuText>(kSuiteToolTexts)}) {
      for (const SMenuText& text : table) {
        if (!_wcsicmp(wsId.c_str(), text.wszControlId)) return LoadResourceString(text.*pnText);
      }
    }
    return std::nullopt;
  });
}

HRESULT LoadRibbonXml(UINT nResource, BSTR* pbstrXml) {
  const HMODULE hModule = ModuleInstance();
  const HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(nResource), MAKEINTRESOURCEW(10));
  const HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : nullptr;
  const char* pText = hData ? static_cast<const char*>(LockResource(hData)) : nullptr;
  if (!pText) return HRESULT_FROM_WIN32(GetLastError());
  const int cb = static_cast<int>(SizeofResource(hModule, hResource));
  const int cch = MultiByteToWideChar(CP_THREAD_ACP, 0, pText, cb, nullptr, 0);
  *pbstrXml = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
  if (!*pbstrXml) return E_OUTOFMEMORY;
  MultiByteToWideChar(CP_THREAD_ACP, 0, pText, cb, *pbstrXml, cch);
  return S_OK;
}

HRESULT LoadRibbonImage(CTraceScope& scope, const wchar_t* wszImageId, std::span<const SRibbonImage> images,
                        IPictureDisp** ppPicture) {
  scope.Message("Image ID = %ls", wszImageId);
  HICON hIcon = nullptr;
  if (!_wcsicmp(wszImageId, L"ButtonImage")) {
    hIcon = LoadButtonIcon();
  } else {
    for (std::span<const SRibbonImage> table : {images, std::span<const SRibbonImage>(kSuiteToolImages)}) {
      for (const SRibbonImage& image : table) {
        if (!_wcsicmp(wszImageId, image.wszImageId)) hIcon = LoadModuleIcon(image.nIcon);
      }
    }
  }
  if (!hIcon) {
    scope.Error("LoadRibbonIcon()", E_NOTIMPL);
    return E_NOTIMPL;
  }
  return IconPicture(scope, hIcon, ppPicture);
}

HRESULT ModuleIconPicture(CTraceScope& scope, UINT nIcon, IPictureDisp** ppPicture) {
  const HICON hIcon = LoadModuleIcon(nIcon);
  if (!hIcon) {
    scope.Error("LoadImage()", E_FAIL);
    return E_FAIL;
  }
  return IconPicture(scope, hIcon, ppPicture);
}

// A store that cannot be opened counts as none.
bool HasPersonalCertificate() {
  CCertLibrary certLib;
  CPersonalStoreScope personalStore(certLib);
  if (FAILED(personalStore.Result())) return false;
  DWORD dwCount = 0;
  return SUCCEEDED(certLib.CM_EnumMyCerts(0, nullptr, &dwCount)) && dwCount > 0;
}

CCertificateWatcher::~CCertificateWatcher() {
  if (m_hThread) {
    CTraceScope scope("CCertificateWatcher::~CCertificateWatcher");
    Stop(scope);
  }
  if (m_hSignalled) CloseHandle(m_hSignalled);
}

HRESULT CCertificateWatcher::Create() {
  m_hSignalled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return m_hSignalled ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

void CCertificateWatcher::Start(CTraceScope& scope) {
  if (m_hThread || !m_hSignalled) return;
  m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
  if (!m_hThread) scope.Error("CreateThread()", HRESULT_FROM_WIN32(GetLastError()));
}

void CCertificateWatcher::Stop(CTraceScope& scope) {
  if (!m_hThread) return;
  QueueUserAPC(EndWaitApc, m_hThread, 0);
  if (WaitForSingleObject(m_hThread, kWatcherExitWait) != WAIT_OBJECT_0) {
    scope.Error("watcher thread did not end", HRESULT_FROM_WIN32(WAIT_TIMEOUT));
    TerminateThread(m_hThread, 0);
  }
  CloseHandle(std::exchange(m_hThread, nullptr));
}

bool CCertificateWatcher::TakeSignal() {
  if (!m_hSignalled || WaitForSingleObject(m_hSignalled, 0) != WAIT_OBJECT_0) return false;
  ResetEvent(m_hSignalled);
  return true;
}

DWORD WINAPI CCertificateWatcher::ThreadProc(LPVOID pvWatcher) {
  CTraceScope scope("CertificateWatchThread");
  try {
    const HANDLE hSignalled = static_cast<CCertificateWatcher*>(pvWatcher)->m_hSignalled;
    const HANDLE hSignal = CreateEventW(nullptr, TRUE, FALSE, VM_CERT_ADDED_EVENT);
    if (!hSignal) {
      scope.Error("CreateEvent()", HRESULT_FROM_WIN32(GetLastError()));
      return 1;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) LabelLowIntegrity(hSignal, scope);
    for (;;) {
      DWORD dwWait = WaitForSingleObjectEx(hSignal, INFINITE, TRUE);
      if (dwWait == WAIT_IO_COMPLETION) break;
      if (dwWait != WAIT_OBJECT_0) continue;
      SetEvent(hSignalled);
      // The named event is manual-reset and set by others: while it stays set, look once a
      // refresh period instead of waking at once. Another program may reset it and set it again,
      // or pulse it, while nobody waits; so its reset is a signal too: the refresh that follows
      // sees every certificate added before it.
      do {
        dwWait = SleepEx(kRefreshPeriod, TRUE);
      } while (dwWait != WAIT_IO_COMPLETION && WaitForSingleObject(hSignal, 0) == WAIT_OBJECT_0);
      if (dwWait == WAIT_IO_COMPLETION) break;
      SetEvent(hSignalled);
    }
    CloseHandle(hSignal);
  } catch (...) {
    scope.Error("", E_UNEXPECTED);
  }
  return 0;
}

HRESULT CTypeLibInfo::Get(ITypeInfo** ppTypeInfo) {
  if (!m_cpTypeInfo) {
    wchar_t wszPath[MAX_PATH] = {};
    if (!GetModuleFileNameW(ModuleInstance(), wszPath, MAX_PATH)) return HRESULT_FROM_WIN32(GetLastError());
    CComPtr<ITypeLib> cpTypeLib;
    HRESULT hr = LoadTypeLibEx(wszPath, REGKIND_NONE, &cpTypeLib);
    if (SUCCEEDED(hr)) hr = cpTypeLib->GetTypeInfoOfGuid(m_iid, &m_cpTypeInfo);
    if (FAILED(hr)) return hr;
  }
  return m_cpTypeInfo.CopyTo(ppTypeInfo);
}
