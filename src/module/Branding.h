#pragma once
// The suite's branding DLL: every user-visible product name comes from its string table
// (ids in suite/VmBranding.h). It is named by "DLLPath" of the machine key
// SOFTWARE\Velmora\Applications\Tessaly\Branding, else of SOFTWARE\Velmora\Branding\Common,
// and loaded as a data file.
#include <windows.h>

#include <string>

#include "suite/VmBranding.h"

class CBranding {
 public:
  // Loads the DLL that the registry names; failures are traced and leave no DLL.
  CBranding();
  ~CBranding();
  CBranding(const CBranding&) = delete;
  CBranding& operator=(const CBranding&) = delete;

  // The process's branding, loaded on first use and kept until the module unloads.
  static const CBranding& Instance();
  // The process's branding DLL, or null.
  static HMODULE LoadResourceDLL() { return Instance().GetModule(); }

  HMODULE GetModule() const { return m_hModule; }
  // The brand string nID; empty without a DLL or such a string.
  std::wstring GetString(UINT nID) const;

 private:
  HMODULE m_hModule = nullptr;
};

// The process's brand string nID.
inline std::wstring GetBrandString(UINT nID) { return CBranding::Instance().GetString(nID); }
