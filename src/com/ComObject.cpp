#include "com/ComObject.h"

#include "com/ComModule.h"

CComObjectRoot::CComObjectRoot(IUnknown* pOuter) : m_pOuter(pOuter) {
  if (g_pComModule) g_pComModule->Lock();
}

CComObjectRoot::~CComObjectRoot() {
  if (g_pComModule) g_pComModule->Unlock();
}

HRESULT CComObjectRoot::CInnerUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : m_pOwner->FindInterface(riid);
  if (!*ppv) return E_NOINTERFACE;
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

ULONG CComObjectRoot::CInnerUnknown::AddRef() { return InterlockedIncrement(&m_pOwner->m_lRefCount); }

ULONG CComObjectRoot::CInnerUnknown::Release() {
  const LONG lCount = InterlockedDecrement(&m_pOwner->m_lRefCount);
  if (lCount == 0) delete m_pOwner;
  return lCount;
}
