#pragma once
// Registry scripts (the .rgs format) and type library registration.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

using CReplacements = std::vector<std::pair<std::wstring, std::wstring>>;

// A script that does not follow the format (or names a replacement it was not given); nothing was written.
constexpr HRESULT E_REGISTRY_SCRIPT_SYNTAX = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0300);

// Applies (bRegister) or removes a registry script; "%NAME%" tokens are replaced first.
HRESULT RunRegistryScript(const std::wstring& wsScript, const CReplacements& replacements, bool bRegister);

// Runs the module's resource of type "REGISTRY" with %MODULE% set to the module's full path.
HRESULT UpdateRegistryFromResource(HMODULE hModule, UINT nResourceId, bool bRegister);

// Registers the module's embedded type library (TYPELIB 1) for all users, and removes it.
HRESULT RegisterTypeLibrary(HMODULE hModule);
HRESULT UnregisterTypeLibrary(HMODULE hModule);
