#pragma once
// Late-bound calls through IDispatch by member name, so that every Office
// version works without its type library.
#include <oaidl.h>

#include <initializer_list>

namespace LateBound {

// Reads a property; pResult receives the value.
HRESULT GetProperty(IDispatch* pDisp, const wchar_t* wszName, VARIANT* pResult,
                    std::initializer_list<VARIANT> args = {});
// Reads an object-valued property, or calls a method returning an object; a null object is E_FAIL.
HRESULT GetObjectProperty(IDispatch* pDisp, const wchar_t* wszName, IDispatch** ppResult,
                          std::initializer_list<VARIANT> args = {});
// Writes a property (DISPATCH_PROPERTYPUT, or PUTREF for object values).
HRESULT PutProperty(IDispatch* pDisp, const wchar_t* wszName, const VARIANT& value);
// Calls a method; arguments in their natural order; pResult may be null.
HRESULT Call(IDispatch* pDisp, const wchar_t* wszName, std::initializer_list<VARIANT> args = {},
             VARIANT* pResult = nullptr);

}  // namespace LateBound
