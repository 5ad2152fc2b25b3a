#pragma once
// Class factory of one class: creates instances through the class's creator and
// counts LockServer calls in the module lock.
#include <objbase.h>

using PFN_CREATE_INSTANCE = HRESULT (*)(IUnknown* pOuter, REFIID riid, void** ppv);

class CClassFactory final : public IClassFactory {
 public:
  CClassFactory(PFN_CREATE_INSTANCE pfnCreate, bool bAggregatable);
  ~CClassFactory();
  CClassFactory(const CClassFactory&) = delete;
  CClassFactory& operator=(const CClassFactory&) = delete;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;
  STDMETHOD(CreateInstance)(IUnknown* pOuter, REFIID riid, void** ppv) override;
  STDMETHOD(LockServer)(BOOL bLock) override;

 private:
  PFN_CREATE_INSTANCE m_pfnCreate;
  bool m_bAggregatable;
  volatile LONG m_lRefCount = 0;
};
