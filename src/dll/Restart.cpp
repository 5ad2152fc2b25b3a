// OX_Restart: rundll32.exe entry point of the Outlook restarter.
#include <windows.h>

#include <string>

#include "module/Trace.h"
#include "outlook/OutlookRestart.h"

extern "C" void CALLBACK OX_Restart(HWND, HINSTANCE, LPSTR szCommandLine, int) {
  CTraceScope trace("::OX_Restart");
  // rundll32 passes the single-byte command line, since the module has no OX_RestartW.
  const std::string sCommandLine = szCommandLine ? szCommandLine : "";
  std::wstring wsCommandLine(MultiByteToWideChar(CP_ACP, 0, sCommandLine.c_str(), -1, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, sCommandLine.c_str(), -1, wsCommandLine.data(),
                      static_cast<int>(wsCommandLine.size()));
  RunRestarter(wsCommandLine.c_str());
}
