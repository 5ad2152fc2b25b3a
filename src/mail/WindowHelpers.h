#pragma once
// Outlook window objects turned into the message they show and into window handles.
#include <windows.h>

// The _MailItem that an inspector or explorer (its reading pane) shows.
HRESULT GetCurrentMailItem(IDispatch* pWindow, IDispatch** ppMailItem, BOOL* pbReadingPane);
// The handle of an explorer's or inspector's window, or null.
HWND UnkToHWnd(IUnknown* pWindow);
// The top-level Word window of an inspector whose editor is Word.
HRESULT GetWordMailWindowHandle(IDispatch* pInspector, HWND* phwnd);
// The topmost open inspector whose editor is Word.
HRESULT GetActiveWordMailWindow(IDispatch* pApplication, IDispatch** ppInspector);
// The application's active window object: its explorer or a Word-edited inspector.
HRESULT GetApplicationActiveWindow(IDispatch* pApplication, IDispatch** ppWindow);
// The message's window when it is visible, else null.
HWND GetMailItemWindow(IDispatch* pMailItem);
// The active window's handle, or null.
HWND GetActiveWindowHandle(IDispatch* pApplication);
