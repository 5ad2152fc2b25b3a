#include <gtest/gtest.h>

#include "com/ClassFactory.h"
#include "com/ComModule.h"
#include "com/ComObject.h"
#include "com/ComPtr.h"

namespace {

// A minimal outer object for aggregation tests: holds the inner unknown and
// answers its own IUnknown; counts its references so that delegation is visible.
class COuter final : public IUnknown {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return m_pInner ? m_pInner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++m_lRefs; }
  STDMETHOD_(ULONG, Release)() override { return --m_lRefs; }
  IUnknown* m_pInner = nullptr;
  LONG m_lRefs = 1;
};

class CSample final : public CComObjectRoot, public IPersist {
 public:
  explicit CSample(IUnknown* pOuter) : CComObjectRoot(pOuter) { ++s_lLive; }
  ~CSample() override { --s_lLive; }
  VM_DELEGATING_IUNKNOWN
  STDMETHOD(GetClassID)(CLSID* pclsid) override {
    *pclsid = CLSID_NULL;
    return S_OK;
  }
  HRESULT FinalConstruct() override { return s_hrFinalConstruct; }
  static inline LONG s_lLive = 0;
  static inline HRESULT s_hrFinalConstruct = S_OK;

 protected:
  void* FindInterface(REFIID riid) override {
    return IsEqualIID(riid, IID_IPersist) ? static_cast<IPersist*>(this) : nullptr;
  }
};

class ComObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { CSample::s_hrFinalConstruct = S_OK; }
  CComModule m_module;
};

TEST_F(ComObjectTest, ObjectsHoldTheModuleUntilReleased) {
  CClassFactory* pFactory = new CClassFactory(CreateComObject<CSample>, false);
  CComPtr<IClassFactory> cpFactory(pFactory);
  CComPtr<IPersist> cpPersist;
  ASSERT_EQ(S_OK, cpFactory->CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&cpPersist)));
  EXPECT_EQ(1, m_module.GetLockCount());
  EXPECT_EQ(1, CSample::s_lLive);
  EXPECT_EQ(S_OK, cpFactory->LockServer(TRUE));
  EXPECT_EQ(2, m_module.GetLockCount());
  cpFactory->LockServer(FALSE);
  cpPersist.Release();
  EXPECT_EQ(0, m_module.GetLockCount());
  EXPECT_EQ(0, CSample::s_lLive);
}

TEST_F(ComObjectTest, FailuresDestroyTheObject) {
  CComPtr<IClassFactory> cpFactory(new CClassFactory(CreateComObject<CSample>, false));
  void* pv = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, cpFactory->CreateInstance(nullptr, IID_IStream, &pv));
  EXPECT_EQ(nullptr, pv);
  CSample::s_hrFinalConstruct = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, cpFactory->CreateInstance(nullptr, IID_IPersist, &pv));
  EXPECT_EQ(0, CSample::s_lLive);
  EXPECT_EQ(0, m_module.GetLockCount());
  EXPECT_EQ(E_POINTER, cpFactory->CreateInstance(nullptr, IID_IPersist, nullptr));
}

TEST_F(ComObjectTest, AggregationRefusedOrDelegated) {
  COuter outer;
  void* pv = reinterpret_cast<void*>(1);
  CComPtr<IClassFactory> cpRefusing(new CClassFactory(CreateComObject<CSample>, false));
  EXPECT_EQ(CLASS_E_NOAGGREGATION, cpRefusing->CreateInstance(&outer, IID_IUnknown, &pv));
  EXPECT_EQ(nullptr, pv);

  CComPtr<IClassFactory> cpAllowing(new CClassFactory(CreateComObject<CSample>, true));
  // The outer object may only ask for the inner IUnknown.
  EXPECT_EQ(CLASS_E_NOAGGREGATION, cpAllowing->CreateInstance(&outer, IID_IPersist, &pv));
  ASSERT_EQ(S_OK, cpAllowing->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.m_pInner)));

  // An inner interface's AddRef and QueryInterface go to the outer object.
  CComPtr<IPersist> cpPersist;
  ASSERT_EQ(S_OK, outer.QueryInterface(IID_IPersist, reinterpret_cast<void**>(&cpPersist)));
  EXPECT_EQ(2, outer.m_lRefs);
  CComPtr<IUnknown> cpBack;
  ASSERT_EQ(S_OK, cpPersist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&cpBack)));
  EXPECT_EQ(static_cast<IUnknown*>(&outer), cpBack.Get());
  cpBack.Release();
  cpPersist.Release();
  EXPECT_EQ(1, outer.m_lRefs);
  outer.m_pInner->Release();
  EXPECT_EQ(0, CSample::s_lLive);
}

}  // namespace
