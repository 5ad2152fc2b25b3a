#pragma once
// The suite's cleanup list ("Cleanup.txt" in the installation folder): records of
// per-user registry entries that the uninstaller removes.
#include <windows.h>

// Line codes.
constexpr DWORD CLEANUP_VALUE = 1;  // the line names a value of the key
constexpr DWORD CLEANUP_KEY = 4;    // the line names the key itself

// Appends one line; valueName null means no value field.
HRESULT AddCleanupLine(const wchar_t* wszRoot, const wchar_t* wszKeyPath, DWORD dwCode, const wchar_t* wszValueName);

// Appends the lines for this module's per-user settings (best effort, failures traced).
void AddSettingsCleanupLines();

// Reads HKLM\SOFTWARE\Velmora "VelmoraPath" (64-bit view) into wszBuffer;
// pcchLength is the buffer size in characters on entry and the string length on return.
LONG ReadInstallPath(wchar_t* wszBuffer, DWORD* pcchLength, REGSAM samExtraAccess);
