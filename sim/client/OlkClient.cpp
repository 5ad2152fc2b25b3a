// olkclient: another program of the suite, as the running Outlook sees it.
// Usage: olkclient invite            calls SendTrustedContactInvitation of the module's add-in, reached
//                                    through the running Outlook's COMAddIns, and prints its result
//        olkclient setevent NAME     sets a named manual-reset event (created when missing)
//        olkclient resetevent NAME   resets it
//        olkclient pulseevent NAME   sets it and resets it at once (PulseEvent)
//        olkclient setresetevent NAME sets it, then resets it at once (SetEvent, ResetEvent)
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "VmOfcX_h.h"
#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"

namespace {

// The add-in's IComposeRibbon as published in Outlook's COMAddIns; calls cross processes through
// the type library's marshaler.
HRESULT FindComposeRibbon(IComposeRibbon** ppRibbon) {
  CComPtr<IUnknown> cpRunning;
  HRESULT hr = GetActiveObject(Outlook::CLSID_Application, nullptr, &cpRunning);
  if (FAILED(hr)) return printf("no running Outlook: 0x%08lX\n", hr), hr;
  CComPtr<IDispatch> cpApplication;
  hr = cpRunning.QueryInterface(IID_IDispatch, &cpApplication);
  CComVariant varAddIns, varAddIn, varObject;
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(cpApplication, L"COMAddIns", &varAddIns);
  if (SUCCEEDED(hr) && varAddIns.vt != VT_DISPATCH) hr = E_FAIL;
  if (SUCCEEDED(hr)) {
    hr = LateBound::Call(varAddIns.pdispVal, L"Item", {CComVariant(L"VmOfcX.ComposeRibbon")}, &varAddIn);
  }
  if (SUCCEEDED(hr) && varAddIn.vt != VT_DISPATCH) hr = E_FAIL;
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(varAddIn.pdispVal, L"Object", &varObject);
  if (SUCCEEDED(hr) && (varObject.vt != VT_DISPATCH || !varObject.pdispVal)) hr = E_NOINTERFACE;
  if (FAILED(hr)) return printf("the add-in is not published: 0x%08lX\n", hr), hr;
  hr = varObject.pdispVal->QueryInterface(IID_IComposeRibbon, reinterpret_cast<void**>(ppRibbon));
  if (FAILED(hr)) printf("QueryInterface(IComposeRibbon): 0x%08lX\n", hr);
  return hr;
}

int Invite() {
  CComPtr<IComposeRibbon> cpRibbon;
  if (FAILED(FindComposeRibbon(&cpRibbon))) return 1;
  const HRESULT hr = cpRibbon->SendTrustedContactInvitation();
  printf("SendTrustedContactInvitation 0x%08lX\n", hr);
  return 0;
}

int SignalNamedEvent(const wchar_t* wszName, const std::wstring& wsCommand) {
  HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, wszName);
  if (!hEvent) return printf("CreateEvent: %lu\n", GetLastError()), 1;
  const BOOL bDone = wsCommand == L"setevent"        ? SetEvent(hEvent)
                     : wsCommand == L"resetevent"    ? ResetEvent(hEvent)
                     : wsCommand == L"setresetevent" ? SetEvent(hEvent) && ResetEvent(hEvent)
                                                     : PulseEvent(hEvent);
  CloseHandle(hEvent);
  printf("%ls %ls\n", wsCommand.c_str(), wszName);
  return bDone ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring wsCommand = argc > 1 ? argv[1] : L"";
  int iResult = 2;
  if (wsCommand == L"invite" && argc == 2 && SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    iResult = Invite();
    CoUninitialize();
  } else if ((wsCommand == L"setevent" || wsCommand == L"resetevent" || wsCommand == L"setresetevent" ||
              wsCommand == L"pulseevent") &&
             argc == 3) {
    iResult = SignalNamedEvent(argv[2], wsCommand);
  } else {
    fprintf(stderr,
            "usage: olkclient invite | setevent NAME | resetevent NAME | setresetevent NAME | pulseevent NAME\n");
  }
  return iResult;
}
