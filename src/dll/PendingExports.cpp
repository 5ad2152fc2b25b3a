// Exported entry points whose features are not part of this build: each is
// traced and fails with E_NOTIMPL.
#include <windows.h>

#include "module/Trace.h"

extern "C" HRESULT CALLBACK OX_CreateInvitation(HWND, HINSTANCE, LPSTR, int) {
  CTraceScope trace("::OX_CreateInvitation");
  trace.Error("OX_CreateInvitation not available", E_NOTIMPL);
  return E_NOTIMPL;
}
