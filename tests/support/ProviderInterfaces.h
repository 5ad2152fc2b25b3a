#pragma once
// What every document provider answers: its interface, IDispatch, IDTExtensibility2, and the
// free-threaded marshaler's IMarshal, which marshals the object itself within the process.
#include <gtest/gtest.h>
#include <objbase.h>

#include "com/ComPtr.h"
#include "hosts/OfficeAddIn.h"

inline void ExpectProviderInterfaces(IUnknown* pProvider, const IID& iidProvider) {
  for (const IID* pIid : {&iidProvider, &IID_IDispatch, &Office::IID_IDTExtensibility2, &IID_IMarshal}) {
    CComPtr<IUnknown> cpInterface;
    EXPECT_EQ(S_OK, pProvider->QueryInterface(*pIid, reinterpret_cast<void**>(&cpInterface)));
  }
  CComPtr<IMarshal> cpMarshal;
  ASSERT_EQ(S_OK, pProvider->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&cpMarshal)));
  CLSID clsid = {};
  ASSERT_EQ(S_OK,
            cpMarshal->GetUnmarshalClass(iidProvider, pProvider, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL, &clsid));
  const CLSID clsidFreeMarshaler = {0x0000033A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  EXPECT_TRUE(IsEqualCLSID(clsidFreeMarshaler, clsid));
}
