#pragma once
// The DLL server module: lock count, the class object map, lazily made class
// objects, the resource module and the process's global interface table.
#include <objidl.h>

#include <span>

#include "com/ClassFactory.h"
#include "com/ComModule.h"

struct CClassEntry {
  const CLSID* pclsid;
  UINT nRegistryScript;  // resource id of type "REGISTRY"
  PFN_CREATE_INSTANCE pfnCreateInstance;
  bool bAggregatable;
};

class CAddInModule : public CComModule {
 public:
  explicit CAddInModule(std::span<const CClassEntry> classMap);
  ~CAddInModule() override;

  // FALSE when the module's lock could not be set up; DllMain then fails the load.
  bool IsInitialized() const { return m_bInitialized; }

  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
  HRESULT CanUnloadNow() const { return GetLockCount() == 0 ? S_OK : S_FALSE; }

  // Every class's script in map order, then the type library; stops at the first failure.
  HRESULT RegisterServer();
  // The cleanup lines (best effort), every class's script in unregister mode, then the type library.
  HRESULT UnregisterServer();

  void SetModuleInstance(HINSTANCE hInstance) { m_hInstance = hInstance; }
  HINSTANCE GetModuleInstance() const { return m_hInstance; }
  void SetResourceInstance(HINSTANCE hInstance) { m_hResourceInstance = hInstance; }
  HINSTANCE GetResourceInstance() const { return m_hResourceInstance ? m_hResourceInstance : m_hInstance; }

  // The process's global interface table, created on first use; not AddRef'ed for the caller.
  HRESULT GetGlobalInterfaceTable(IGlobalInterfaceTable** ppGIT);

 private:
  std::span<const CClassEntry> m_classMap;
  IClassFactory* m_apClassObjects[16] = {};
  CRITICAL_SECTION m_csClassObjects;
  bool m_bInitialized = false;
  HINSTANCE m_hInstance = nullptr;
  HINSTANCE m_hResourceInstance = nullptr;
  IGlobalInterfaceTable* m_pGIT = nullptr;
};

extern CAddInModule* g_pAddInModule;
