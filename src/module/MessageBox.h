#pragma once
// The module's message boxes: localised text and caption (string ids of the satellite resource
// module, brand tokens replaced), shown under the module's activation context.
#include <windows.h>

#include <string>

// Returns what MessageBox returns.
int VmMessageBox(HWND hOwner, UINT nTextID, UINT nCaptionID, UINT uType);
// For a text already loaded and filled in.
int VmMessageBox(HWND hOwner, const std::wstring& wsText, UINT nCaptionID, UINT uType);

// The system's text for an error (a Win32 code or an HRESULT), without the final line break;
// the code in hexadecimal when the system has no text for it.
std::wstring SystemErrorText(DWORD dwError);
