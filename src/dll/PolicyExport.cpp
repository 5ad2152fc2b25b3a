// The entry point that Outlook's S/MIME engine finds by the security label key's "FuncName".
#include <windows.h>

#include "policy/SMIMEPolicy.h"

// The flags and the code page are not used.
STDAPI GetSMimePolicy(DWORD, LPCSTR pszPolicyOid, UINT, REFIID riid, IUnknown** ppUnknown) {
  return GetSMimePolicyInterface(pszPolicyOid, riid, ppUnknown);
}
