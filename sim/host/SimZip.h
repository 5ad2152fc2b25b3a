#pragma once
// The ZIP container of an Open XML package (PKWARE APPNOTE.TXT 6.3: local file headers, central
// directory, end of central directory record), with stored entries only: no compression, no
// encryption, no ZIP64.
#include <windows.h>

#include <string>
#include <vector>

namespace Sim {

struct SZipEntry {
  std::string sName;  // the part's name inside the archive: ASCII, no leading slash
  std::vector<BYTE> data;
};

// CRC-32 as ZIP uses it (polynomial 0xEDB88320, reflected, inverted before and after).
DWORD Crc32(const BYTE* pb, size_t cb);

std::vector<BYTE> WriteZip(const std::vector<SZipEntry>& entries);

// Every entry of the archive, checked against its CRC-32. A damaged archive (truncated, bad
// signatures, offsets or sizes outside the file, duplicate names) gives ERROR_FILE_CORRUPT and
// one that needs what is not read here (compression, encryption, ZIP64, several disks)
// ERROR_NOT_SUPPORTED, as HRESULTs, with *pwsWhy saying what is wrong.
HRESULT ReadZip(const std::vector<BYTE>& zip, std::vector<SZipEntry>* pEntries, std::wstring* pwsWhy);

}  // namespace Sim
