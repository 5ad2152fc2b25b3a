// The document package of the simulated Word, Excel and PowerPoint: the ZIP archive that holds
// it, the Open XML parts around the text, and refusals of what is damaged or of another kind.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "SimPackage.h"
#include "SimZip.h"

namespace {

using Sim::EDocApp;
using Sim::SZipEntry;

const HRESULT kCorrupt = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
const HRESULT kUnsupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);

std::vector<BYTE> Bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

void PutU16(std::vector<BYTE>* pZip, size_t i, WORD w) {
  (*pZip)[i] = static_cast<BYTE>(w);
  (*pZip)[i + 1] = static_cast<BYTE>(w >> 8);
}

size_t Find(const std::vector<BYTE>& zip, const std::string& s, size_t iFrom = 0) {
  const std::string sZip(zip.begin(), zip.end());
  return sZip.find(s, iFrom);
}

TEST(SimZip, EntriesReadBackWithTheirNamesAndBytes) {
  const std::string sCheck = "123456789";
  EXPECT_EQ(0xCBF43926u, Sim::Crc32(reinterpret_cast<const BYTE*>(sCheck.data()), sCheck.size()));
  std::vector<BYTE> binary(70000);
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<BYTE>(i * 31 + (i >> 8));
  const std::vector<SZipEntry> entries = {
      {"[Content_Types].xml", Bytes("<Types/>")}, {"empty", {}}, {"a/b.bin", binary}};
  const std::vector<BYTE> zip = Sim::WriteZip(entries);
  std::vector<SZipEntry> read;
  std::wstring wsWhy;
  ASSERT_EQ(S_OK, Sim::ReadZip(zip, &read, &wsWhy)) << wsWhy;
  ASSERT_EQ(entries.size(), read.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].sName, read[i].sName);
    EXPECT_EQ(entries[i].data, read[i].data);
  }
  // An archive comment after the end record does not hide it.
  std::vector<BYTE> commented = zip;
  PutU16(&commented, commented.size() - 2, 5);
  for (char c : std::string("hello")) commented.push_back(static_cast<BYTE>(c));
  EXPECT_EQ(S_OK, Sim::ReadZip(commented, &read, &wsWhy)) << wsWhy;
  EXPECT_EQ(S_OK, Sim::ReadZip(Sim::WriteZip({}), &read, &wsWhy)) << wsWhy;
  EXPECT_TRUE(read.empty());
}

TEST(SimZip, DamagedOrUnsupportedArchivesAreRefusedWithAReason) {
  const std::vector<BYTE> zip = Sim::WriteZip({{"one.xml", Bytes("<one/>")}, {"two.xml", Bytes("<two/>")}});
  std::vector<SZipEntry> read;
  std::wstring wsWhy;
  // Every truncation, and every cut of the front, loses a record or moves an offset.
  for (size_t cb = 0; cb < zip.size(); ++cb) {
    wsWhy.clear();
    EXPECT_EQ(kCorrupt, Sim::ReadZip(std::vector<BYTE>(zip.begin(), zip.begin() + cb), &read, &wsWhy)) << cb;
    EXPECT_FALSE(wsWhy.empty());
    EXPECT_TRUE(FAILED(Sim::ReadZip(std::vector<BYTE>(zip.begin() + cb + 1, zip.end()), &read, &wsWhy))) << cb;
  }
  const size_t iData = Find(zip, "<two/>"), iCentral = Find(zip, "PK\x01\x02");
  const size_t iSecondLocal = Find(zip, "PK\x03\x04", 1), iSecondCentral = Find(zip, "PK\x01\x02", iCentral + 1);
  auto changed = [&](size_t i, BYTE b) {
    std::vector<BYTE> copy = zip;
    copy[i] = b;
    return copy;
  };
  const std::vector<std::pair<std::vector<BYTE>, HRESULT>> damaged = {
      {changed(iData + 1, 'X'), kCorrupt},                        // the bytes do not match the CRC-32
      {changed(iSecondLocal + 1, 'X'), kCorrupt},                 // no local header where the directory points
      {changed(iSecondLocal + 30, 'X'), kCorrupt},                // the local name differs
      {changed(iSecondCentral + 42, 0xFF), kCorrupt},             // the local header's offset is outside
      {changed(iSecondCentral + 24, 0x7F), kCorrupt},             // two sizes
      {changed(zip.size() - 6, 0), kCorrupt},                     // the central directory's offset
      {changed(iSecondCentral + 10, 8), kUnsupported},            // deflated
      {changed(iSecondCentral + 8, 1), kUnsupported},             // encrypted
      {changed(zip.size() - 18, 1), kUnsupported},                // on another disk
      {Sim::WriteZip({{"a.xml", {}}, {"A.XML", {}}}), kCorrupt},  // one name twice
      {Bytes("plain text that is no archive at all"), kCorrupt},
  };
  for (size_t i = 0; i < damaged.size(); ++i) {
    wsWhy.clear();
    EXPECT_EQ(damaged[i].second, Sim::ReadZip(damaged[i].first, &read, &wsWhy)) << i;
    EXPECT_FALSE(wsWhy.empty()) << i;
  }
}

class SimPackage : public ::testing::TestWithParam<EDocApp> {
 protected:
  std::vector<SZipEntry> Entries(const std::wstring& wsText) {
    std::vector<BYTE> package;
    std::wstring wsWhy;
    EXPECT_EQ(S_OK, Sim::MakePackage(GetParam(), wsText, &package, &wsWhy)) << wsWhy;
    std::vector<SZipEntry> entries;
    EXPECT_EQ(S_OK, Sim::ReadZip(package, &entries, &wsWhy)) << wsWhy;
    return entries;
  }
  HRESULT Read(const std::vector<SZipEntry>& entries, std::wstring* pwsText, std::wstring* pwsWhy) {
    return Sim::ReadPackage(GetParam(), Sim::WriteZip(entries), pwsText, pwsWhy);
  }
};

TEST_P(SimPackage, TextReadsBackExactlyWithMarkupCharactersAndLineBreaks) {
  const std::vector<std::wstring> texts = {L"", L"One line", L"a & b < c > d \"e\" 'f' &amp; <w:t>",
                                           L"first\nsecond\r\nthird\n\n", L"\ttab  spaces  \nÄ€ \U0001F600 end"};
  for (const std::wstring& wsText : texts) {
    std::wstring wsRead = L"unchanged", wsWhy;
    EXPECT_EQ(S_OK, Read(Entries(wsText), &wsRead, &wsWhy)) << wsWhy;
    EXPECT_EQ(wsText, wsRead);
  }
  // References of any kind, and elements by their local names whatever their prefix.
  std::vector<SZipEntry> entries = Entries(L"");
  entries.back().data =
      Bytes("<x:doc xmlns:x=\"urn:x\"><x:p><x:row><x:t>&#x1F600;&#65;&amp;<![CDATA[<&>]]></x:t></x:row></x:p></x:doc>");
  std::wstring wsRead, wsWhy;
  EXPECT_EQ(S_OK, Read(entries, &wsRead, &wsWhy)) << wsWhy;
  EXPECT_EQ(L"\U0001F600A&<&>", wsRead);
  // The main part is where Office looks for it, with the content type Office expects.
  const char* kMain[] = {"word/document.xml", "xl/workbook.xml", "ppt/presentation.xml"};
  entries = Entries(L"x");
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ("[Content_Types].xml", entries[0].sName);
  EXPECT_EQ("_rels/.rels", entries[1].sName);
  const std::string sTypes(entries[0].data.begin(), entries[0].data.end());
  EXPECT_NE(std::string::npos, sTypes.find(std::string("PartName=\"/") + kMain[static_cast<int>(GetParam())]));
}

TEST_P(SimPackage, AnotherApplicationsPackageAndDamagedPartsAreRefused) {
  std::wstring wsText, wsWhy;
  for (EDocApp other : {EDocApp::Word, EDocApp::Excel, EDocApp::PowerPoint}) {
    if (other == GetParam()) continue;
    std::vector<BYTE> package;
    ASSERT_EQ(S_OK, Sim::MakePackage(other, L"x", &package, &wsWhy));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), Sim::ReadPackage(GetParam(), package, &wsText, &wsWhy));
  }
  const std::vector<SZipEntry> good = Entries(L"text");
  auto without = [&](size_t i) {
    std::vector<SZipEntry> entries = good;
    entries.erase(entries.begin() + i);
    return entries;
  };
  auto replaced = [&](size_t i, const std::string& sXml) {
    std::vector<SZipEntry> entries = good;
    entries[i].data = Bytes(sXml);
    return entries;
  };
  const size_t iText = good.size() - 1;
  std::vector<std::vector<SZipEntry>> damaged;
  for (size_t i = 0; i < good.size(); ++i) damaged.push_back(without(i));
  for (const char* szXml : {"<a><b></a></b>", "<a>x &nbsp; y</a>", "<a>x &#0; y</a>", "<a/><b/>", "<a", "text",
                            "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", "<a>\xC3</a>"}) {
    damaged.push_back(replaced(iText, szXml));
    damaged.push_back(replaced(0, szXml));
  }
  damaged.push_back(replaced(1, "<Relationships/>"));  // no office document
  for (size_t i = 0; i < damaged.size(); ++i) {
    wsWhy.clear();
    wsText = L"unchanged";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), Read(damaged[i], &wsText, &wsWhy)) << i;
    EXPECT_FALSE(wsWhy.empty()) << i;
    EXPECT_EQ(L"unchanged", wsText) << i;
  }
  std::vector<BYTE> package;
  EXPECT_EQ(E_INVALIDARG, Sim::MakePackage(GetParam(), std::wstring(L"bell \x07"), &package, &wsWhy));
  EXPECT_NE(std::wstring::npos, wsWhy.find(L"U+0007"));
}

INSTANTIATE_TEST_SUITE_P(Applications, SimPackage,
                         ::testing::Values(EDocApp::Word, EDocApp::Excel, EDocApp::PowerPoint));

}  // namespace
