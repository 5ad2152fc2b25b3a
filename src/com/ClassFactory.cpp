#include "com/ClassFactory.h"

#include "com/ComModule.h"

#include <new>

CClassFactory::CClassFactory(PFN_CREATE_INSTANCE pfnCreate, bool bAggregatable)
    : m_pfnCreate(pfnCreate), m_bAggregatable(bAggregatable) {}

CClassFactory::~CClassFactory() = default;

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// Class objects are cached by the module for its whole life; their count
// does not hold the module (LockServer does).
ULONG CClassFactory::AddRef() { return InterlockedIncrement(&m_lRefCount); }

ULONG CClassFactory::Release() {
  const LONG lCount = InterlockedDecrement(&m_lRefCount);
  if (lCount == 0) delete this;
  return lCount;
}

HRESULT CClassFactory::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (pOuter && !m_bAggregatable) return CLASS_E_NOAGGREGATION;
  // A COM boundary: nothing may propagate into the caller.
  try {
    return m_pfnCreate(pOuter, riid, ppv);
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT CClassFactory::LockServer(BOOL bLock) {
  if (!g_pComModule) return E_UNEXPECTED;
  if (bLock)
    g_pComModule->Lock();
  else
    g_pComModule->Unlock();
  return S_OK;
}
