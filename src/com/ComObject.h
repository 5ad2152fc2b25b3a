#pragma once
// Reference counting, interface lookup and aggregation for the module's COM objects.
//
// A class derives from CComObjectRoot and its interfaces, puts VM_DELEGATING_IUNKNOWN
// in its body and answers its interfaces in FindInterface. When it is aggregated, its
// interfaces' IUnknown methods go to the controlling outer object and the outer holds
// the non-delegating unknown (GetInnerUnknown).
#include <objbase.h>

#include <new>

class CComObjectRoot {
 public:
  explicit CComObjectRoot(IUnknown* pOuter);
  virtual ~CComObjectRoot();
  CComObjectRoot(const CComObjectRoot&) = delete;
  CComObjectRoot& operator=(const CComObjectRoot&) = delete;

  // Runs once after allocation, with a reference held; a failure destroys the object.
  virtual HRESULT FinalConstruct() { return S_OK; }

  IUnknown* GetInnerUnknown() { return &m_inner; }
  IUnknown* GetControllingUnknown() { return m_pOuter ? m_pOuter : &m_inner; }

 protected:
  // Returns the interface for riid (without AddRef), or nullptr. IUnknown is handled here.
  virtual void* FindInterface(REFIID riid) = 0;

 private:
  class CInnerUnknown : public IUnknown {
   public:
    explicit CInnerUnknown(CComObjectRoot* pOwner) : m_pOwner(pOwner) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

   private:
    CComObjectRoot* m_pOwner;
  };

  CInnerUnknown m_inner{this};
  IUnknown* m_pOuter;
  volatile LONG m_lRefCount = 0;
};

#define VM_DELEGATING_IUNKNOWN                                                       \
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {                      \
    return GetControllingUnknown()->QueryInterface(riid, ppv);                       \
  }                                                                                  \
  STDMETHOD_(ULONG, AddRef)() override { return GetControllingUnknown()->AddRef(); } \
  STDMETHOD_(ULONG, Release)() override { return GetControllingUnknown()->Release(); }

// Declares the four IDispatch methods of a class that implements them.
#define VM_DISPATCH_METHODS                                                                                        \
  STDMETHOD(GetTypeInfoCount)(UINT * pctinfo) override;                                                            \
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo * *ppTInfo) override;                                   \
  STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR * rgszNames, UINT cNames, LCID lcid, DISPID * rgDispId) override; \
  STDMETHOD(Invoke)                                                                                                \
  (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS * pDispParams, VARIANT * pVarResult,       \
   EXCEPINFO * pExcepInfo, UINT * puArgErr) override;

// Creates an object of class T as a class factory does.
template <class T>
HRESULT CreateComObject(IUnknown* pOuter, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object can only hand its non-delegating IUnknown to the outer object.
  if (pOuter && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  T* pObject = new (std::nothrow) T(pOuter);
  if (!pObject) return E_OUTOFMEMORY;
  IUnknown* pInner = pObject->GetInnerUnknown();
  pInner->AddRef();
  HRESULT hr = pObject->FinalConstruct();
  if (SUCCEEDED(hr)) hr = pInner->QueryInterface(riid, ppv);
  pInner->Release();
  return hr;
}
