#pragma once
// Restarting Outlook after a profile change: a restarter process (this module in rundll32.exe)
// waits for the old Outlook to end and starts it again. Also the guarded run of an Office
// command by its control id.
#include <windows.h>
#include <oaidl.h>

// Starts "rundll32.exe <this module>,OX_Restart <process id>,<host executable>" in the module's folder.
void StartRestarter();
// The restarter's work, for OX_Restart: wszCommandLine is "<process id>,<executable path>".
void RunRestarter(const wchar_t* wszCommandLine);

// Runs CommandBars.ExecuteMso(idMso) with a process exception filter that ends only the command
// when it crashes.
HRESULT ExecuteOfficeCommand(IDispatch* pCommandBars, BSTR bsIdMso);
LONG WINAPI ExecuteMsoExceptionFilter(EXCEPTION_POINTERS* pExceptionPointers);
