#pragma once
// The in-process COM server around one of the simulator's add-in classes: its class factory, the
// entry points that COM calls, and its registration as an add-in of Office applications that
// loads at start-up.
#include <windows.h>

#include <vector>

namespace Sim {

struct SAddInServer {
  CLSID clsid;
  const wchar_t* wszClsid;
  const wchar_t* wszProgId;
  const wchar_t* wszThreadingModel;
  const wchar_t* wszDescription;
  std::vector<const wchar_t*> apps;  // "Outlook", "Word"...
  HRESULT (*create)(REFIID riid, void** ppv);
};

// Defined by each add-in DLL.
extern const SAddInServer g_addInServer;

// The add-in objects alive, which keep the DLL loaded.
extern volatile LONG g_lAddInObjects;

// A new add-in object asked for an interface (SAddInServer::create).
template <class T>
HRESULT CreateAddIn(REFIID riid, void** ppv) {
  T* pAddIn = new T();
  const HRESULT hr = pAddIn->QueryInterface(riid, ppv);
  pAddIn->Release();
  return hr;
}

}  // namespace Sim
