#pragma once
// Text properties of Outlook's objects, reached by name.
#include <oaidl.h>

#include <string>

// The property converted to text.
HRESULT GetTextProperty(IDispatch* pDisp, const wchar_t* wszName, std::wstring* pws);
HRESULT PutTextProperty(IDispatch* pDisp, const wchar_t* wszName, const std::wstring& ws);
