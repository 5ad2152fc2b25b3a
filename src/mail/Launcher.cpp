#include "mail/Launcher.h"

#include <versionhelpers.h>

#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "module/Trace.h"

namespace {

// Outlook may not have loaded its add-ins yet when it was started for us.
constexpr int kAddInTries = 10;
constexpr DWORD kAddInRetryMs = 2000;

// One look at Outlook's COM add-ins for the compose add-in, by its class id.
HRESULT FindComposeRibbon(CTraceScope& trace, IDispatch* pApplication, IComposeRibbon** ppRibbon) {
  wchar_t wszClsid[40] = {};
  StringFromGUID2(CLSID_ComposeRibbon, wszClsid, ARRAYSIZE(wszClsid));
  CComPtr<IDispatch> cpAddIns;
  HRESULT hr = LateBound::GetObjectProperty(pApplication, L"COMAddIns", &cpAddIns);
  if (FAILED(hr)) return trace.Error("cpApplication->get_COMAddIns()", hr), hr;
  CComVariant varCount;
  hr = LateBound::GetProperty(cpAddIns, L"Count", &varCount);
  if (SUCCEEDED(hr)) hr = VariantChangeType(&varCount, &varCount, 0, VT_I4);
  if (FAILED(hr)) return trace.Error("cpAddIns->get_Count()", hr), hr;
  for (LONG i = 1; i <= varCount.lVal; ++i) {
    CComPtr<IDispatch> cpAddIn;
    hr = LateBound::GetObjectProperty(cpAddIns, L"Item", &cpAddIn, {CComVariant(i)});
    if (FAILED(hr)) return trace.Error("cpAddIns->Item()", hr), hr;
    CComVariant varGuid;
    hr = LateBound::GetProperty(cpAddIn, L"Guid", &varGuid);
    if (SUCCEEDED(hr) && varGuid.vt != VT_BSTR) hr = DISP_E_TYPEMISMATCH;
    if (FAILED(hr)) return trace.Error("cpAddIn->get_Guid()", hr), hr;
    if (!varGuid.bstrVal || _wcsicmp(varGuid.bstrVal, wszClsid)) continue;
    CComPtr<IDispatch> cpObject;
    hr = LateBound::GetObjectProperty(cpAddIn, L"Object", &cpObject);
    if (FAILED(hr)) return trace.Error("cpAddIn->get_Object()", hr), hr;
    hr = cpObject->QueryInterface(IID_IComposeRibbon, reinterpret_cast<void**>(ppRibbon));
    if (FAILED(hr)) trace.Error("QueryInterface(__uuidof(IComposeRibbon))", hr);
    return hr;
  }
  hr = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  trace.Error("compose add-in not found", hr);
  return hr;
}

bool IsProcessBuiltInAdministrator() {
  HANDLE hToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
  BYTE tokenUser[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD cbTokenUser = 0;
  const bool bAdministrator = GetTokenInformation(hToken, TokenUser, tokenUser, sizeof tokenUser, &cbTokenUser) &&
                              IsBuiltInAdministrator(reinterpret_cast<TOKEN_USER*>(tokenUser)->User.Sid);
  CloseHandle(hToken);
  return bAdministrator;
}

}  // namespace

bool IsBuiltInAdministrator(PSID pUserSid) {
  wchar_t wszComputer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD cchComputer = ARRAYSIZE(wszComputer);
  BYTE machineSid[SECURITY_MAX_SID_SIZE] = {};
  DWORD cbMachineSid = sizeof machineSid;
  wchar_t wszDomain[MAX_PATH] = {};
  DWORD cchDomain = ARRAYSIZE(wszDomain);
  SID_NAME_USE use = SidTypeUnknown;
  if (!pUserSid || !IsValidSid(pUserSid) || !GetComputerNameW(wszComputer, &cchComputer) ||
      !LookupAccountNameW(nullptr, wszComputer, machineSid, &cbMachineSid, wszDomain, &cchDomain, &use)) {
    return false;
  }
  const UCHAR cSubAuthorities = *GetSidSubAuthorityCount(machineSid);
  if (cSubAuthorities >= SID_MAX_SUB_AUTHORITIES) return false;
  BYTE administratorSid[SECURITY_MAX_SID_SIZE] = {};
  if (!InitializeSid(administratorSid, GetSidIdentifierAuthority(machineSid), cSubAuthorities + 1)) return false;
  for (UCHAR i = 0; i < cSubAuthorities; ++i) {
    *GetSidSubAuthority(administratorSid, i) = *GetSidSubAuthority(machineSid, i);
  }
  *GetSidSubAuthority(administratorSid, cSubAuthorities) = DOMAIN_USER_RID_ADMIN;
  return EqualSid(pUserSid, administratorSid);
}

HRESULT CreateOutlookInvitation() {
  CTraceScope trace("CreateOutlookInvitation()");
  CComPtr<IDispatch> cpApplication;
  HRESULT hr = CoCreateInstance(Outlook::CLSID_Application, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&cpApplication));
  if (FAILED(hr)) return trace.Error("CoCreateInstance(__uuidof(Outlook::Application))", hr), hr;
  hr = CoAllowSetForegroundWindow(cpApplication, nullptr);
  if (FAILED(hr)) trace.Error("CoAllowSetForegroundWindow()", hr);
  CComPtr<IComposeRibbon> cpComposeRibbon;
  for (int iTry = 1;; ++iTry) {
    hr = FindComposeRibbon(trace, cpApplication, &cpComposeRibbon);
    if (SUCCEEDED(hr) || iTry == kAddInTries) break;
    Sleep(kAddInRetryMs);
  }
  if (FAILED(hr)) return hr;
  hr = cpComposeRibbon->SendTrustedContactInvitation();
  if (FAILED(hr)) trace.Error("cpComposeRibbon->SendTrustedContactInvitation()", hr);
  return hr;
}

void InvitationThread(HRESULT* pResult) {
  CTraceScope trace("InvitationThread()");
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    trace.Error("CoInitializeEx()", hr);
    *pResult = hr;
    return;
  }
  hr = E_FAIL;
  // The surrogate runs as the interactive user, whose Outlook this is; the built-in administrator
  // is that user already.
  if (IsWindowsVistaOrGreater() && !IsProcessBuiltInAdministrator()) {
    CComPtr<ILauncher> cpLauncher;
    hr = CoCreateInstance(CLSID_Launcher, nullptr, CLSCTX_LOCAL_SERVER, IID_ILauncher,
                          reinterpret_cast<void**>(&cpLauncher));
    if (FAILED(hr)) {
      trace.Error("CoCreateInstance(CLSID_Launcher)", hr);
    } else {
      const HRESULT hrAllow = CoAllowSetForegroundWindow(cpLauncher, nullptr);
      if (FAILED(hrAllow)) trace.Error("CoAllowSetForegroundWindow()", hrAllow);
      hr = cpLauncher->CreateInvitation();
      if (FAILED(hr)) trace.Error("cpLauncher->CreateInvitation()", hr);
    }
  }
  if (FAILED(hr)) hr = CreateOutlookInvitation();
  CoUninitialize();
  trace.Message("Result: 0x%08X", static_cast<unsigned>(hr));
  *pResult = hr;
}

HRESULT CLauncher::CreateInvitation() {
  CTraceScope trace("CLauncher::CreateInvitation");
  return GuardComEntry(trace, [] { return CreateOutlookInvitation(); });
}

void* CLauncher::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_ILauncher) || IsEqualIID(riid, IID_IDispatch)) return static_cast<ILauncher*>(this);
  return nullptr;
}
