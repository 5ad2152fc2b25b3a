#pragma once
// Text and number properties of Outlook's objects, reached by name.
#include <oaidl.h>

#include <string>

// The property converted to text.
HRESULT GetTextProperty(IDispatch* pDisp, const wchar_t* wszName, std::wstring* pws);
HRESULT PutTextProperty(IDispatch* pDisp, const wchar_t* wszName, const std::wstring& ws);
// The property converted to a 32-bit number.
HRESULT GetLongProperty(IDispatch* pDisp, const wchar_t* wszName, LONG* pl);
