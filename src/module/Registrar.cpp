// Temporary until the script runner lands.
#include "module/Registrar.h"
HRESULT RunRegistryScript(const std::wstring&, const CReplacements&, bool) { return E_NOTIMPL; }
HRESULT UpdateRegistryFromResource(HMODULE, UINT, bool) { return E_NOTIMPL; }
HRESULT RegisterTypeLibrary(HMODULE) { return E_NOTIMPL; }
HRESULT UnregisterTypeLibrary(HMODULE) { return E_NOTIMPL; }
