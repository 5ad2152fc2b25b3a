// classprobe: creates each named class by its ProgID, as Office does, and says what it answers.
// Usage: classprobe ProgID [ProgID...]
#include <objbase.h>
#include <oaidl.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fwprintf(stderr, L"usage: classprobe ProgID [ProgID...]\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int iFailures = 0;
  for (int i = 1; i < argc; ++i) {
    CLSID clsid;
    IUnknown* pUnknown = nullptr;
    HRESULT hr = CLSIDFromProgID(argv[i], &clsid);
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&pUnknown));
    if (FAILED(hr)) {
      wprintf(L"%-28ls create failed 0x%08lX\n", argv[i], static_cast<unsigned long>(hr));
      ++iFailures;
      continue;
    }
    IDispatch* pDispatch = nullptr;
    const bool bDispatch = SUCCEEDED(pUnknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch)));
    if (pDispatch) pDispatch->Release();
    pUnknown->Release();
    wprintf(L"%-28ls created, IDispatch %ls\n", argv[i], bDispatch ? L"yes" : L"no");
  }
  CoUninitialize();
  return iFailures == 0 ? 0 : 1;
}
