#include "module/AddInModule.h"

#include "module/CleanupList.h"
#include "module/Registrar.h"
#include "module/Trace.h"

CAddInModule* g_pAddInModule = nullptr;

CAddInModule::CAddInModule(std::span<const CClassEntry> classMap) : m_classMap(classMap) {
  m_bInitialized = classMap.size() <= std::size(m_apClassObjects) &&
                   InitializeCriticalSectionAndSpinCount(&m_csClassObjects, 0) != FALSE;
  g_pAddInModule = this;
}

CAddInModule::~CAddInModule() {
  if (g_pAddInModule == this) g_pAddInModule = nullptr;
  for (IClassFactory*& pFactory : m_apClassObjects) {
    if (pFactory) pFactory->Release();
    pFactory = nullptr;
  }
  if (m_pGIT) m_pGIT->Release();
  if (m_bInitialized) DeleteCriticalSection(&m_csClassObjects);
}

HRESULT CAddInModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!m_bInitialized) return E_UNEXPECTED;
  for (size_t i = 0; i < m_classMap.size(); ++i) {
    const CClassEntry& entry = m_classMap[i];
    if (!IsEqualCLSID(*entry.pclsid, rclsid)) continue;
    EnterCriticalSection(&m_csClassObjects);
    if (!m_apClassObjects[i]) {
      m_apClassObjects[i] = new (std::nothrow) CClassFactory(entry.pfnCreateInstance, entry.bAggregatable);
      if (m_apClassObjects[i]) m_apClassObjects[i]->AddRef();
    }
    IClassFactory* pFactory = m_apClassObjects[i];
    LeaveCriticalSection(&m_csClassObjects);
    return pFactory ? pFactory->QueryInterface(riid, ppv) : E_OUTOFMEMORY;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CAddInModule::RegisterServer() {
  for (const CClassEntry& entry : m_classMap) {
    const HRESULT hr = UpdateRegistryFromResource(m_hInstance, entry.nRegistryScript, true);
    if (FAILED(hr)) return hr;
  }
  return RegisterTypeLibrary(m_hInstance);
}

HRESULT CAddInModule::UnregisterServer() {
  AddSettingsCleanupLines();
  HRESULT hrResult = S_OK;
  for (const CClassEntry& entry : m_classMap) {
    const HRESULT hr = UpdateRegistryFromResource(m_hInstance, entry.nRegistryScript, false);
    if (FAILED(hr) && SUCCEEDED(hrResult)) hrResult = hr;
  }
  const HRESULT hr = UnregisterTypeLibrary(m_hInstance);
  return FAILED(hrResult) ? hrResult : hr;
}

HRESULT CAddInModule::GetGlobalInterfaceTable(IGlobalInterfaceTable** ppGIT) {
  if (!ppGIT) return E_POINTER;
  *ppGIT = nullptr;
  HRESULT hr = S_OK;
  EnterCriticalSection(&m_csClassObjects);
  if (!m_pGIT) {
    hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                          reinterpret_cast<void**>(&m_pGIT));
  }
  *ppGIT = m_pGIT;
  LeaveCriticalSection(&m_csClassObjects);
  return hr;
}
