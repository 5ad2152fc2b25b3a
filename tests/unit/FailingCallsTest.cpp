// Late-bound calls on objects that fail or throw: results are always initialised, exceptions
// end at the boundary that catches them, and the exception filter of an Office command is put
// back on every path.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "mail/AddressBook.h"
#include "mail/WindowHelpers.h"
#include "outlook/OutlookRestart.h"

namespace {

// An object that knows no member, fails every call, or throws from GetIDsOfNames or Invoke.
class CBrokenObject final : public IDispatch {
 public:
  enum class EFault { UnknownMember, FailingCall, ThrowingLookup, ThrowingCall };
  explicit CBrokenObject(EFault fault) : m_fault(fault) {}

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    // Answers for any interface but the inspector's (it stands for a main window), so that the
    // code under test reaches its calls.
    *ppv = nullptr;
    if (IsEqualIID(riid, Outlook::IID__Inspector)) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++m_lRefs; }
  STDMETHOD_(ULONG, Release)() override { return --m_lRefs; }
  STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID* pDispId) override {
    if (m_fault == EFault::ThrowingLookup) throw std::bad_alloc();
    *pDispId = 1;
    return m_fault == EFault::UnknownMember ? DISP_E_UNKNOWNNAME : S_OK;
  }
  STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* pResult, EXCEPINFO* pExcepInfo, UINT*) override {
    if (m_fault == EFault::ThrowingCall) throw std::runtime_error("crash in the command");
    // Office's way: the error comes as an exception whose texts the caller frees.
    EXPECT_NE(nullptr, pExcepInfo);
    if (pExcepInfo) {
      pExcepInfo->bstrSource = SysAllocString(L"Broken");
      pExcepInfo->bstrDescription = SysAllocString(L"It failed.");
      pExcepInfo->scode = E_FAIL;
    }
    EXPECT_TRUE(!pResult || pResult->vt == VT_EMPTY);
    return DISP_E_EXCEPTION;
  }
  LONG m_lRefs = 1;

 private:
  EFault m_fault;
};

// What a caller's stack held before: a VARIANT that must not be cleared as it stands.
VARIANT Garbage() {
  VARIANT var;
  var.vt = VT_BSTR;
  var.bstrVal = reinterpret_cast<BSTR>(static_cast<UINT_PTR>(0xDEADBEEF));
  return var;
}

TEST(FailingCallsTest, TheResultIsInitialisedOnEveryFailure) {
  CBrokenObject unknownMember(CBrokenObject::EFault::UnknownMember);
  CBrokenObject failingCall(CBrokenObject::EFault::FailingCall);
  VARIANT var = Garbage();
  EXPECT_EQ(E_POINTER, LateBound::GetProperty(nullptr, L"Count", &var));
  EXPECT_EQ(VT_EMPTY, var.vt);
  var = Garbage();
  EXPECT_EQ(DISP_E_UNKNOWNNAME, LateBound::GetProperty(&unknownMember, L"Count", &var));
  EXPECT_EQ(VT_EMPTY, var.vt);
  var = Garbage();
  EXPECT_EQ(DISP_E_EXCEPTION, LateBound::Call(&failingCall, L"Send", {}, &var));
  EXPECT_EQ(VT_EMPTY, var.vt);
  EXPECT_EQ(1, unknownMember.m_lRefs);
  EXPECT_EQ(1, failingCall.m_lRefs);
}

// The callers that clear the result after a failed read: the window helpers (the reading pane's
// state) and the address book (the session).
TEST(FailingCallsTest, CallersOfFailedReadsReturnTheFailure) {
  CBrokenObject unknownMember(CBrokenObject::EFault::UnknownMember);
  CComPtr<IDispatch> cpItem;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, GetCurrentMailItem(&unknownMember, &cpItem, nullptr));
  EXPECT_FALSE(cpItem);
  DWORD dwAdded = 0;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, RegisterAB(&unknownMember, TRUE, nullptr, &dwAdded));
  EXPECT_EQ(0u, dwAdded);
  EXPECT_EQ(DISP_E_UNKNOWNNAME, AddToSafeSenders(&unknownMember, L"@example.com"));
}

// The profile is prepared under a lock: nothing thrown inside may leave these functions.
TEST(FailingCallsTest, ExceptionsEndAtTheAddressBookBoundary) {
  CBrokenObject throwing(CBrokenObject::EFault::ThrowingLookup);
  DWORD dwAdded = 0;
  EXPECT_EQ(E_UNEXPECTED, RegisterAB(&throwing, TRUE, nullptr, &dwAdded));
  EXPECT_EQ(E_UNEXPECTED, AddToSafeSenders(&throwing, L"@example.com"));
}

LONG WINAPI SentinelFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

TEST(FailingCallsTest, TheOfficeCommandPutsThePreviousExceptionFilterBack) {
  const LPTOP_LEVEL_EXCEPTION_FILTER pfnBefore = SetUnhandledExceptionFilter(SentinelFilter);
  CBrokenObject failingCall(CBrokenObject::EFault::FailingCall);
  CBrokenObject throwingCall(CBrokenObject::EFault::ThrowingCall);
  EXPECT_EQ(DISP_E_EXCEPTION, ExecuteOfficeCommand(&failingCall, nullptr));
  EXPECT_EQ(E_UNEXPECTED, ExecuteOfficeCommand(&throwingCall, nullptr));
  EXPECT_EQ(&SentinelFilter, SetUnhandledExceptionFilter(pfnBefore));
}

}  // namespace
