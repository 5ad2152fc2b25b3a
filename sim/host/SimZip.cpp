#include "SimZip.h"

#include <algorithm>

namespace Sim {
namespace {

// The records' signatures and fixed sizes.
enum : DWORD { kLocalSignature = 0x04034B50, kCentralSignature = 0x02014B50, kEndSignature = 0x06054B50 };
enum : size_t { kLocalSize = 30, kCentralSize = 46, kEndSize = 22 };
// Version needed 2.0, what readers of stored entries expect; 1980-01-01, as a package carries no
// meaningful times; the flag of an encrypted entry.
enum : WORD { kVersion = 20, kDosDate = (1 << 5) | 1, kFlagEncrypted = 0x1 };

const HRESULT kCorrupt = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
const HRESULT kUnsupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);

class CZipWriter {
 public:
  void U16(WORD w) { Bytes(&w, sizeof w); }
  void U32(DWORD dw) { Bytes(&dw, sizeof dw); }
  void Bytes(const void* pv, size_t cb) {
    const BYTE* pb = static_cast<const BYTE*>(pv);
    m_bytes.insert(m_bytes.end(), pb, pb + cb);
  }
  // The fields that the local and the central header share, from the version needed to the name's length.
  void Common(const SZipEntry& entry) {
    U16(kVersion);
    U16(0);  // flags
    U16(0);  // method: stored
    U16(0);  // time
    U16(kDosDate);
    U32(Crc32(entry.data.data(), entry.data.size()));
    U32(static_cast<DWORD>(entry.data.size()));  // compressed size
    U32(static_cast<DWORD>(entry.data.size()));  // uncompressed size
    U16(static_cast<WORD>(entry.sName.size()));
    U16(0);  // extra field length
  }
  std::vector<BYTE> m_bytes;
};

// Little-endian numbers of the archive; every read is checked against its end.
class CZipReader {
 public:
  explicit CZipReader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}
  bool Has(size_t i, size_t cb) const { return i <= m_bytes.size() && cb <= m_bytes.size() - i; }
  WORD U16(size_t i) const { return static_cast<WORD>(m_bytes[i] | m_bytes[i + 1] << 8); }
  DWORD U32(size_t i) const { return U16(i) | static_cast<DWORD>(U16(i + 2)) << 16; }
  std::string Text(size_t i, size_t cb) const { return std::string(m_bytes.begin() + i, m_bytes.begin() + i + cb); }

 private:
  const std::vector<BYTE>& m_bytes;
};

HRESULT Fail(HRESULT hr, std::wstring* pwsWhy, const std::wstring& wsWhy) {
  *pwsWhy = wsWhy;
  return hr;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The end of central directory record: the last signature whose comment reaches the file's end.
bool FindEnd(const std::vector<BYTE>& zip, const CZipReader& in, size_t* piEnd) {
  if (zip.size() < kEndSize) return false;
  const size_t iLowest = zip.size() - kEndSize - std::min<size_t>(zip.size() - kEndSize, 0xFFFF);
  for (size_t i = zip.size() - kEndSize + 1; i-- > iLowest;) {
    if (in.U32(i) == kEndSignature && i + kEndSize + in.U16(i + 20) == zip.size()) {
      *piEnd = i;
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD Crc32(const BYTE* pb, size_t cb) {
  static const auto table = [] {
    std::vector<DWORD> t(256);
    for (DWORD n = 0; n < 256; ++n) {
      DWORD c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  DWORD crc = 0xFFFFFFFF;
  for (size_t i = 0; i < cb; ++i) crc = table[(crc ^ pb[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFF;
}

std::vector<BYTE> WriteZip(const std::vector<SZipEntry>& entries) {
  CZipWriter out, central;
  for (const SZipEntry& entry : entries) {
    const DWORD dwOffset = static_cast<DWORD>(out.m_bytes.size());
    out.U32(kLocalSignature);
    out.Common(entry);
    out.Bytes(entry.sName.data(), entry.sName.size());
    out.Bytes(entry.data.data(), entry.data.size());
    central.U32(kCentralSignature);
    central.U16(kVersion);  // made by: MS-DOS attributes
    central.Common(entry);
    central.U16(0);  // comment length
    central.U16(0);  // disk number
    central.U16(0);  // internal attributes
    central.U32(0);  // external attributes
    central.U32(dwOffset);
    central.Bytes(entry.sName.data(), entry.sName.size());
  }
  const DWORD dwCentralOffset = static_cast<DWORD>(out.m_bytes.size());
  out.Bytes(central.m_bytes.data(), central.m_bytes.size());
  out.U32(kEndSignature);
  out.U16(0);  // this disk
  out.U16(0);  // the disk where the central directory starts
  out.U16(static_cast<WORD>(entries.size()));
  out.U16(static_cast<WORD>(entries.size()));
  out.U32(static_cast<DWORD>(central.m_bytes.size()));
  out.U32(dwCentralOffset);
  out.U16(0);  // comment length
  return out.m_bytes;
}

HRESULT ReadZip(const std::vector<BYTE>& zip, std::vector<SZipEntry>* pEntries, std::wstring* pwsWhy) {
  pEntries->clear();
  const CZipReader in(zip);
  size_t iEnd = 0;
  if (!FindEnd(zip, in, &iEnd))
    return Fail(kCorrupt, pwsWhy, L"no ZIP archive: the end of central directory is missing");
  const size_t cEntries = in.U16(iEnd + 10), cbCentral = in.U32(iEnd + 12), iCentral = in.U32(iEnd + 16);
  if (in.U16(iEnd + 4) || in.U16(iEnd + 6) || in.U16(iEnd + 8) != cEntries)
    return Fail(kUnsupported, pwsWhy, L"the ZIP archive spans several disks");
  if (cEntries == 0xFFFF || cbCentral == 0xFFFFFFFF || iCentral == 0xFFFFFFFF)
    return Fail(kUnsupported, pwsWhy, L"the ZIP archive needs ZIP64");
  if (iCentral > iEnd || cbCentral != iEnd - iCentral)
    return Fail(kCorrupt, pwsWhy, L"the central directory is not where the end record says");
  size_t i = iCentral;
  for (size_t iEntry = 0; iEntry < cEntries; ++iEntry) {
    if (!in.Has(i, kCentralSize) || i + kCentralSize > iEnd || in.U32(i) != kCentralSignature)
      return Fail(kCorrupt, pwsWhy, L"central directory entry " + std::to_wstring(iEntry + 1) + L" is damaged");
    const WORD wFlags = in.U16(i + 8), wMethod = in.U16(i + 10);
    const DWORD dwCrc = in.U32(i + 16), cbStored = in.U32(i + 20), cbSize = in.U32(i + 24);
    const size_t cchName = in.U16(i + 28), cbExtra = in.U16(i + 30), cbComment = in.U16(i + 32);
    const size_t iLocal = in.U32(i + 42);
    if (i + kCentralSize + cchName + cbExtra + cbComment > iEnd)
      return Fail(kCorrupt, pwsWhy, L"central directory entry " + std::to_wstring(iEntry + 1) + L" is damaged");
    SZipEntry entry;
    entry.sName = in.Text(i + kCentralSize, cchName);
    const std::wstring wsEntry = L"entry \"" + Wide(entry.sName) + L"\"";
    i += kCentralSize + cchName + cbExtra + cbComment;
    if (wFlags & kFlagEncrypted) return Fail(kUnsupported, pwsWhy, wsEntry + L" is encrypted");
    if (wMethod)
      return Fail(kUnsupported, pwsWhy, wsEntry + L" is compressed (method " + std::to_wstring(wMethod) + L")");
    if (cbStored != cbSize) return Fail(kCorrupt, pwsWhy, wsEntry + L" is stored with two sizes");
    if (!in.Has(iLocal, kLocalSize) || iLocal + kLocalSize > iCentral || in.U32(iLocal) != kLocalSignature ||
        in.U16(iLocal + 26) != cchName || in.Text(iLocal + kLocalSize, cchName) != entry.sName)
      return Fail(kCorrupt, pwsWhy, wsEntry + L" has no local header matching its directory entry");
    const size_t iData = iLocal + kLocalSize + cchName + in.U16(iLocal + 28);
    if (iData > iCentral || cbSize > iCentral - iData)
      return Fail(kCorrupt, pwsWhy, wsEntry + L" reaches beyond the entries' area");
    entry.data.assign(zip.begin() + iData, zip.begin() + iData + cbSize);
    if (Crc32(entry.data.data(), entry.data.size()) != dwCrc)
      return Fail(kCorrupt, pwsWhy, wsEntry + L" does not match its CRC-32");
    const bool bDuplicate = std::any_of(pEntries->begin(), pEntries->end(), [&](const SZipEntry& other) {
      return !lstrcmpiA(other.sName.c_str(), entry.sName.c_str());
    });
    if (bDuplicate) return Fail(kCorrupt, pwsWhy, wsEntry + L" is there twice");
    pEntries->push_back(std::move(entry));
  }
  if (i != iEnd) return Fail(kCorrupt, pwsWhy, L"the central directory holds more than its entries");
  return S_OK;
}

}  // namespace Sim
