#include "SimCompoundFile.h"

#include <algorithm>

namespace Sim {
namespace {

constexpr BYTE kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t kHeaderSize = 512;
constexpr DWORD kFatSector = 0xFFFFFFFD;
constexpr DWORD kEndOfChain = 0xFFFFFFFE;
constexpr DWORD kNoStream = 0xFFFFFFFF;
constexpr size_t kHeaderDifatEntries = 109;
constexpr DWORD kMiniStreamCutoff = 4096;
constexpr UINT kMiniSectorShift = 6;
constexpr size_t kEntrySize = 128;
enum : BYTE { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

class CChecker {
 public:
  explicit CChecker(const std::vector<BYTE>& file) : m_file(file) {}

  // Empty when the file is sound, else what is wrong.
  std::wstring Check() {
    if (m_file.size() < kHeaderSize || U16(28) != 0xFFFE) return L"the header is damaged";
    const WORD wMajor = U16(26);
    m_uShift = U16(30);
    if (!((wMajor == 3 && m_uShift == 9) || (wMajor == 4 && m_uShift == 12)) || U16(32) != kMiniSectorShift ||
        U32(56) != kMiniStreamCutoff || (wMajor == 3 && U32(40) != 0))
      return L"the header names an unknown format";
    m_bLongSizes = wMajor == 4;
    m_cbSector = size_t{1} << m_uShift;
    if (m_file.size() < m_cbSector) return L"the header is damaged";
    // Only whole sectors count: a file cut short has lost the one it ends in.
    m_cSectors = m_file.size() / m_cbSector - 1;
    m_used.assign(m_cSectors, false);
    if (!ReadFat()) return L"the sector allocation table lies outside the file or overlaps itself";
    std::vector<DWORD> directory;
    if (!Walk(m_fat, m_used, U32(48), &directory)) return L"the directory's sectors are not a chain within the file";
    for (DWORD dwSector : directory)
      for (size_t i = 0; i < m_cbSector; i += kEntrySize) m_entries.push_back(SectorOffset(dwSector) + i);
    if (m_entries.empty() || Type(0) != kRoot) return L"the directory has no root";
    std::vector<DWORD> miniFat, miniStream;
    if (!Walk(m_fat, m_used, U32(60), &miniFat) || miniFat.size() != U32(64))
      return L"the mini allocation table is not a chain within the file";
    for (DWORD dwSector : miniFat)
      for (size_t i = 0; i < m_cbSector; i += 4) m_miniFat.push_back(U32(SectorOffset(dwSector) + i));
    if (!Walk(m_fat, m_used, Start(0), &miniStream) || miniStream.size() < Sectors(Size(0), m_cbSector))
      return L"the mini stream is shorter than its size";
    m_miniUsed.assign(static_cast<size_t>(Sectors(Size(0), size_t{1} << kMiniSectorShift)), false);
    return CheckTree();
  }

 private:
  DWORD U32(size_t i) const {
    DWORD dw = 0;
    CopyMemory(&dw, m_file.data() + i, sizeof dw);
    return dw;
  }
  WORD U16(size_t i) const {
    WORD w = 0;
    CopyMemory(&w, m_file.data() + i, sizeof w);
    return w;
  }
  size_t SectorOffset(DWORD dwSector) const { return (static_cast<size_t>(dwSector) + 1) << m_uShift; }
  static ULONGLONG Sectors(ULONGLONG cb, size_t cbSector) { return (cb + cbSector - 1) / cbSector; }

  BYTE Type(DWORD dwEntry) const { return m_file[m_entries[dwEntry] + 66]; }
  DWORD Link(DWORD dwEntry, size_t iField) const { return U32(m_entries[dwEntry] + iField); }
  DWORD Start(DWORD dwEntry) const { return Link(dwEntry, 116); }
  ULONGLONG Size(DWORD dwEntry) const {
    const ULONGLONG ullHigh = m_bLongSizes ? U32(m_entries[dwEntry] + 124) : 0;
    return ullHigh << 32 | Link(dwEntry, 120);
  }

  // The sectors of the allocation table: the first from the header, the rest from the DIFAT
  // sectors, each held by the file, used once and marked as the table's own.
  bool ReadFat() {
    const DWORD cFatSectors = U32(44);
    std::vector<DWORD> fatSectors;
    for (size_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < cFatSectors; ++i)
      fatSectors.push_back(U32(76 + 4 * i));
    DWORD dwDifat = U32(68);
    for (DWORD i = 0; i < U32(72) && fatSectors.size() < cFatSectors; ++i) {
      if (!Claim(m_used, dwDifat)) return false;
      const size_t iOffset = SectorOffset(dwDifat);
      for (size_t j = 0; j + 4 < m_cbSector && fatSectors.size() < cFatSectors; j += 4)
        fatSectors.push_back(U32(iOffset + j));
      dwDifat = U32(iOffset + m_cbSector - 4);
    }
    if (fatSectors.size() != cFatSectors) return false;
    for (DWORD dwSector : fatSectors) {
      if (!Claim(m_used, dwSector)) return false;
      for (size_t i = 0; i < m_cbSector; i += 4) m_fat.push_back(U32(SectorOffset(dwSector) + i));
    }
    return std::all_of(fatSectors.begin(), fatSectors.end(),
                       [&](DWORD dwSector) { return dwSector < m_fat.size() && m_fat[dwSector] == kFatSector; });
  }

  // Marks a sector as used; false when it lies outside or was used already.
  static bool Claim(std::vector<bool>& used, DWORD dwSector) {
    if (dwSector >= used.size() || used[dwSector]) return false;
    used[dwSector] = true;
    return true;
  }

  // Follows a chain to its end: false when it leaves the file or the table, or meets a sector
  // already used (which a loop does, too).
  static bool Walk(const std::vector<DWORD>& table, std::vector<bool>& used, DWORD dwStart,
                   std::vector<DWORD>* pChain) {
    for (DWORD dwSector = dwStart; dwSector != kEndOfChain; dwSector = table[dwSector]) {
      if (dwSector >= table.size() || !Claim(used, dwSector)) return false;
      pChain->push_back(dwSector);
    }
    return true;
  }

  // Every entry reachable from the root once, each stream with the sectors of its size.
  std::wstring CheckTree() {
    std::vector<bool> seen(m_entries.size(), false);
    std::vector<DWORD> pending = {Link(0, 76)};
    while (!pending.empty()) {
      const DWORD dwEntry = pending.back();
      pending.pop_back();
      if (dwEntry == kNoStream) continue;
      if (dwEntry >= m_entries.size() || seen[dwEntry] || Type(dwEntry) == kUnused || Type(dwEntry) == kRoot)
        return L"the directory's tree is damaged";
      seen[dwEntry] = true;
      const WORD cbName = U16(m_entries[dwEntry] + 64);
      if (cbName < 2 || cbName > 64 || cbName % 2) return L"a directory entry has a name of a wrong length";
      pending.push_back(Link(dwEntry, 68));
      pending.push_back(Link(dwEntry, 72));
      if (Type(dwEntry) == kStorage) {
        pending.push_back(Link(dwEntry, 76));
      } else if (Type(dwEntry) != kStream) {
        return L"a directory entry is of an unknown type";
      } else if (Size(dwEntry) > 0 && !CheckStream(dwEntry)) {
        return L"a stream lacks sectors for its size or shares them";
      }
    }
    return std::wstring();
  }

  bool CheckStream(DWORD dwEntry) {
    const bool bMini = Size(dwEntry) < kMiniStreamCutoff;
    std::vector<DWORD> chain;
    return Walk(bMini ? m_miniFat : m_fat, bMini ? m_miniUsed : m_used, Start(dwEntry), &chain) &&
           chain.size() >= Sectors(Size(dwEntry), bMini ? size_t{1} << kMiniSectorShift : m_cbSector);
  }

  const std::vector<BYTE>& m_file;
  UINT m_uShift = 0;
  bool m_bLongSizes = false;
  size_t m_cbSector = 0;
  size_t m_cSectors = 0;
  std::vector<bool> m_used, m_miniUsed;
  std::vector<DWORD> m_fat, m_miniFat;
  std::vector<size_t> m_entries;  // where each directory entry begins in the file
};

}  // namespace

bool IsCompoundFile(const std::vector<BYTE>& file) {
  return file.size() >= sizeof kSignature && std::equal(kSignature, kSignature + sizeof kSignature, file.begin());
}

HRESULT CheckCompoundFile(const std::vector<BYTE>& file, std::wstring* pwsWhy) {
  const std::wstring wsWrong = CChecker(file).Check();
  if (wsWrong.empty()) return S_OK;
  *pwsWhy = L"the compound file is damaged: " + wsWrong;
  return STG_E_DOCFILECORRUPT;
}

}  // namespace Sim
