#pragma once
// The suite's address-book service in the MAPI profile, and Outlook's safe-senders list.
#include <windows.h>
#include <mapix.h>

#include "module/Trace.h"

// The service's name in the profile's service table.
constexpr char kAddressBookService[] = "VMSRVC";

// Finds a service by its name (case-sensitive); pUid, when given, receives its UID.
HRESULT FindMsgService(IMsgServiceAdmin* pAdmin, const char* szName, BOOL* pbFound, MAPIUID* pUid);
// Adds (bAdd) or removes the address-book service; *pdwAdded is 1 when it was added and configured now.
HRESULT RegisterAB(IDispatch* pApplication, BOOL bAdd, HWND hwnd, DWORD* pdwAdded);
// Appends an address or "@domain" to the safe-senders list unless present in any letter case.
HRESULT AddToSafeSenders(IDispatch* pApplication, LPCWSTR wszEntry);
// The default contacts folder of the session an Outlook item belongs to; a failure is traced.
HRESULT DefaultContactsFolder(IDispatch* pItem, IDispatch** ppContacts, CTraceScope& trace);
