#pragma once
// Streams in memory, as the host hands them to a provider, and their bytes read back whole.
#include <objidl.h>
#include <shlwapi.h>
#include <windows.h>

#include <vector>

#include "com/ComPtr.h"

inline CComPtr<IStream> MemoryStream(const std::vector<BYTE>& bytes = {}) {
  CComPtr<IStream> cpStream;
  cpStream.Attach(SHCreateMemStream(bytes.empty() ? nullptr : bytes.data(), static_cast<UINT>(bytes.size())));
  return cpStream;
}

inline std::vector<BYTE> StreamBytes(IStream* pStream) {
  STATSTG stat = {};
  pStream->Stat(&stat, STATFLAG_NONAME);
  std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
  const LARGE_INTEGER liZero = {};
  pStream->Seek(liZero, STREAM_SEEK_SET, nullptr);
  ULONG cbRead = 0;
  if (!bytes.empty()) pStream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &cbRead);
  bytes.resize(cbRead);
  return bytes;
}
