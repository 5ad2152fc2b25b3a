#include <gtest/gtest.h>
#include <objbase.h>

#include "Installation.h"
#include "com/ComPtr.h"

namespace {

// A controlling object for aggregation: answers IUnknown itself and holds no inner object.
class COuter final : public IUnknown {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++m_lRefs; }
  STDMETHOD_(ULONG, Release)() override { return --m_lRefs; }

 private:
  LONG m_lRefs = 1;
};

using PFN_DLL_GET_CLASS_OBJECT = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using PFN_DLL_CAN_UNLOAD_NOW = HRESULT(STDAPICALLTYPE*)();

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    m_hModule = LoadLibraryW(ModulePath().c_str());
    ASSERT_NE(nullptr, m_hModule);
  }
  void TearDown() override {
    if (m_hModule) FreeLibrary(m_hModule);
    CoUninitialize();
  }
  HMODULE m_hModule = nullptr;
};

TEST_F(ModuleTest, ClassesAreCreatedByProgIdAndOnlyTheAddInsRefuseAggregation) {
  for (const CClassInfo& info : kModuleClasses) {
    SCOPED_TRACE(info.wszName);
    CLSID clsid = CLSID_NULL;
    ASSERT_EQ(S_OK, CLSIDFromProgID((std::wstring(L"VmOfcX.") + info.wszName).c_str(), &clsid));
    EXPECT_TRUE(IsEqualCLSID(ToGuid(info.wszClsid), clsid));

    CComPtr<IUnknown> cpObject;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(&cpObject)));
    EXPECT_TRUE(cpObject);

    COuter outer;
    CComPtr<IUnknown> cpInner;
    const HRESULT hr =
        CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&cpInner));
    EXPECT_EQ(info.bAggregatable ? S_OK : CLASS_E_NOAGGREGATION, hr);
    EXPECT_EQ(info.bAggregatable, static_cast<bool>(cpInner));
  }
}

TEST_F(ModuleTest, LiveObjectsHoldTheModuleAndUnknownClassesAreRefused) {
  const auto pfnGetClassObject = GetExport<PFN_DLL_GET_CLASS_OBJECT>(m_hModule, "DllGetClassObject");
  const auto pfnCanUnloadNow = GetExport<PFN_DLL_CAN_UNLOAD_NOW>(m_hModule, "DllCanUnloadNow");
  ASSERT_TRUE(pfnGetClassObject && pfnCanUnloadNow);

  void* pv = &pv;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
            pfnGetClassObject(ToGuid(L"{5C0E2A71-8F3B-4D6A-9E21-7B4C3D2E1F00}"), IID_IClassFactory, &pv));
  EXPECT_EQ(nullptr, pv);

  EXPECT_EQ(S_OK, pfnCanUnloadNow());
  CComPtr<IUnknown> cpObject;
  {
    const CLSID clsid = ToGuid(kModuleClasses[0].wszClsid);
    CComPtr<IClassFactory> cpFactory, cpSameFactory;
    ASSERT_EQ(S_OK, pfnGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&cpFactory)));
    ASSERT_EQ(S_OK, pfnGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&cpSameFactory)));
    EXPECT_EQ(cpFactory.Get(), cpSameFactory.Get());

    COuter outer;
    void* pvRefused = &pvRefused;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, cpFactory->CreateInstance(&outer, IID_IUnknown, &pvRefused));
    EXPECT_EQ(nullptr, pvRefused);
    ASSERT_EQ(S_OK, cpFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&cpObject)));
  }
  EXPECT_EQ(S_FALSE, pfnCanUnloadNow());
  cpObject.Release();
  EXPECT_EQ(S_OK, pfnCanUnloadNow());
}

}  // namespace
