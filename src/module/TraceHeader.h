#pragma once
// The plain text lines that begin a new trace file: build, system, machine, module and product versions, time.
#include <windows.h>

namespace VmTraceNS {

class CFileOutput;

void WriteTraceHeader(CFileOutput& output, HMODULE hModule);

}  // namespace VmTraceNS
