#pragma once
// Reading and writing the members of Office's signature setup and signature information, which
// the provider reaches through IDispatch by name.
#include <oaidl.h>

#include <string>

#include "com/Bstr.h"

namespace SignatureObjects {

// Empty when pObject is null or the member cannot be read as text.
CComBSTR GetString(IDispatch* pObject, const wchar_t* wszName);
// bDefault when pObject is null or the member cannot be read as a boolean.
bool GetBool(IDispatch* pObject, const wchar_t* wszName, bool bDefault);
HRESULT PutString(IDispatch* pObject, const wchar_t* wszName, const std::wstring& wsValue);
HRESULT PutBool(IDispatch* pObject, const wchar_t* wszName, bool bValue);
// A method of one integer argument (GetSignatureDetail, GetCertificateDetail).
HRESULT GetDetail(IDispatch* pObject, const wchar_t* wszName, LONG lDetail, VARIANT* pValue);

}  // namespace SignatureObjects
