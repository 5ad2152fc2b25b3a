#pragma once
// Processor time of the calling thread, which other programs on a shared machine do not inflate.
#include <windows.h>

inline double ThreadSeconds() {
  FILETIME ftCreation, ftExit, ftKernel, ftUser;
  GetThreadTimes(GetCurrentThread(), &ftCreation, &ftExit, &ftKernel, &ftUser);
  const auto units = [](const FILETIME& ft) {
    return static_cast<double>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  };
  return (units(ftKernel) + units(ftUser)) / 1e7;
}
