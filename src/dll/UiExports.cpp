// rundll32 entry points of the user interface.
#include <windows.h>

#include "module/Trace.h"
#include "ui/PropertySheetHost.h"

// The property pages of a management library: "<start page>,<library>".
extern "C" void CALLBACK OX_ShowProperties(HWND, HINSTANCE, LPSTR szCommandLine, int) {
  CTraceScope trace("::OX_ShowProperties");
  GuardComEntry(trace, [&] {
    ShowManagementProperties(szCommandLine);
    return S_OK;
  });
}
