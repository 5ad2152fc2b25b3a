// trc3dump FILE: prints a "trace3" file: its header lines, then one line per record with date, time, thread id,
// kind and text, entries and exits indented per thread. A damaged file is printed as far as it can be read, with
// the byte offset where reading stopped; the exit code is then 1 (2 when the file cannot be read at all).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "module/TraceFormat.h"

namespace {

using VmTraceNS::TRACE_RECORD_HEADER_SIZE;

// Digits and one separator pattern: "dd/dd/dd" for dates, "dd:dd:dd.ddd" for times, "dd-dd-dddd" for new processes.
bool MatchesPattern(const std::string& sText, const char* szPattern) {
  if (sText.size() != strlen(szPattern)) return false;
  for (size_t i = 0; i < sText.size(); ++i) {
    const bool bDigit = sText[i] >= '0' && sText[i] <= '9';
    if (szPattern[i] == 'd' ? !bDigit : sText[i] != szPattern[i]) return false;
  }
  return true;
}

// An error record's text: a signed decimal code and a blank, then the failed call.
bool IsErrorText(const std::string& sText) {
  size_t i = sText.starts_with("-") ? 1 : 0;
  const size_t iDigits = i;
  while (i < sText.size() && sText[i] >= '0' && sText[i] <= '9') ++i;
  return i > iDigits && i < sText.size() && sText[i] == ' ';
}

// Why a deciphered text cannot be what its kind says, or nullptr when it can.
const char* CheckText(char chKind, const std::string& sText) {
  switch (chKind) {
    case VmTraceNS::TRACE_DATE:
      return MatchesPattern(sText, "dd/dd/dd") ? nullptr : "date record does not read as MM/DD/YY";
    case VmTraceNS::TRACE_TIME:
      return MatchesPattern(sText, "dd:dd:dd.ddd") ? nullptr : "time record does not read as hh:mm:ss.mmm";
    case VmTraceNS::TRACE_NEW_PROCESS:
      return MatchesPattern(sText, "dd-dd-dddd") ? nullptr : "new-process record does not read as MM-DD-YYYY";
    case VmTraceNS::TRACE_ERROR:
      return IsErrorText(sText) ? nullptr : "error record does not begin with a decimal code and a blank";
    case VmTraceNS::TRACE_ENTRY:
    case VmTraceNS::TRACE_EXIT:
    case VmTraceNS::TRACE_MESSAGE:
      return nullptr;
    default:
      return "unknown record kind";
  }
}

class CDumper {
 public:
  explicit CDumper(std::vector<uint8_t> data) : m_data(std::move(data)) {}

  // True when the whole file was read.
  bool Dump() { return DumpHeader() && DumpRecords(); }

 private:
  bool Fail(const char* szReason) {
    fflush(stdout);
    fprintf(stderr, "trc3dump: stopped at byte offset %zu of %zu after %zu records: %s\n", m_iPos, m_data.size(),
            m_cRecords, szReason);
    return false;
  }

  bool DumpHeader() {
    const std::string sData(m_data.begin(), m_data.end());
    if (!sData.starts_with(VmTraceNS::TRACE_HEADER_FIRST_LINE)) return Fail("the file does not begin with \"trace3\"");
    while (m_iPos < sData.size()) {
      const size_t iEnd = sData.find("\r\n", m_iPos);
      if (iEnd == std::string::npos) break;
      const std::string sLine = sData.substr(m_iPos, iEnd + 2 - m_iPos);
      printf("%s\n", sLine.substr(0, sLine.size() - 2).c_str());
      m_iPos = iEnd + 2;
      if (sLine == VmTraceNS::TRACE_HEADER_LAST_LINE) return true;
    }
    return Fail("the header has no end line \".\"");
  }

  bool DumpRecords() {
    while (m_iPos < m_data.size()) {
      if (m_data.size() - m_iPos < TRACE_RECORD_HEADER_SIZE) return Fail("truncated record header");
      const uint8_t* pb = m_data.data() + m_iPos;
      const uint32_t dwThreadId = pb[0] | pb[1] << 8 | pb[2] << 16 | static_cast<uint32_t>(pb[3]) << 24;
      const char chKind = static_cast<char>(pb[4]);
      const size_t cbText = pb[5] | pb[6] << 8;
      if (m_data.size() - m_iPos - TRACE_RECORD_HEADER_SIZE < cbText) return Fail("record text runs past the end");
      std::vector<uint8_t> text(pb + TRACE_RECORD_HEADER_SIZE, pb + TRACE_RECORD_HEADER_SIZE + cbText);
      VmTraceNS::DecipherRecordText(text.data(), text.size());
      const std::string sText(text.begin(), text.end());
      if (const char* szReason = CheckText(chKind, sText)) return Fail(szReason);
      PrintRecord(dwThreadId, chKind, sText);
      m_iPos += TRACE_RECORD_HEADER_SIZE + cbText;
      ++m_cRecords;
    }
    return true;
  }

  void PrintRecord(uint32_t dwThreadId, char chKind, const std::string& sText) {
    std::string sShown = sText;
    std::vector<std::string>& open = m_openScopes[dwThreadId];
    if (chKind == VmTraceNS::TRACE_DATE) m_sDate = sText;
    if (chKind == VmTraceNS::TRACE_TIME) m_sTime = sText;
    if (chKind == VmTraceNS::TRACE_EXIT && !open.empty()) {
      sShown = open.back();
      open.pop_back();
    }
    const bool bNested = chKind == VmTraceNS::TRACE_ENTRY || chKind == VmTraceNS::TRACE_EXIT ||
                         chKind == VmTraceNS::TRACE_MESSAGE || chKind == VmTraceNS::TRACE_ERROR;
    const std::string sIndent(bNested ? 2 * open.size() : 0, ' ');
    printf("%-8s %-12s %6lu %c %s%s\n", m_sDate.c_str(), m_sTime.c_str(), static_cast<unsigned long>(dwThreadId),
           chKind, sIndent.c_str(), sShown.c_str());
    if (chKind == VmTraceNS::TRACE_ENTRY) open.push_back(sText);
  }

  std::vector<uint8_t> m_data;
  size_t m_iPos = 0;
  size_t m_cRecords = 0;
  std::string m_sDate = "--/--/--";
  std::string m_sTime = "--:--:--.---";
  std::map<uint32_t, std::vector<std::string>> m_openScopes;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: trc3dump FILE\n");
    return 2;
  }
  std::ifstream stream(std::filesystem::path(argv[1]), std::ios::binary);
  if (!stream) {
    fprintf(stderr, "trc3dump: cannot open %ls\n", argv[1]);
    return 2;
  }
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  return CDumper(std::move(data)).Dump() ? 0 : 1;
}
