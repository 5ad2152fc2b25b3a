#pragma once
// Where trace records go: nowhere, or to the trace file, whose name and place the settings decide.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>

namespace VmTraceNS {

class CTraceScope;
class CTracingKey;

// Header lines and the texts of error, date and time records are formatted into 261 bytes.
constexpr size_t TRACE_MAX_FORMATTED = 260;
// The formatted length, cut at TRACE_MAX_FORMATTED characters; 0 when the format fails.
size_t FormatTraceText(char (&szText)[TRACE_MAX_FORMATTED + 1], const char* szFormat, va_list args);

class COutput {
 public:
  // A whole record, from the scope that produced it or from none.
  virtual void Write(uint8_t* pbRecord, DWORD cbRecord, const CTraceScope* pScope) = 0;
  virtual ~COutput() = default;
};

class CNoOutput final : public COutput {
 public:
  void Write(uint8_t*, DWORD, const CTraceScope*) override {}
};

class CFileOutput final : public COutput {
 public:
  // Opens the file for writing, shared with other writers, emptied first when bNewFileAlways.
  // A failed open leaves the object without a file, and it discards every record.
  CFileOutput(const wchar_t* wszPath, bool bNewFileAlways);
  ~CFileOutput() override;
  CFileOutput(const CFileOutput&) = delete;
  CFileOutput& operator=(const CFileOutput&) = delete;

  // Enciphers the record's text in place and appends the record with one write; write errors are ignored.
  void Write(uint8_t* pbRecord, DWORD cbRecord, const CTraceScope* pScope) override;
  // Header text, written as it is.
  void WritePlain(const char* pch, DWORD cch);
  // True when the file was open and empty before anything was written.
  bool IsNewFile() const { return m_bNewFile; }

 private:
  HANDLE m_hFile = INVALID_HANDLE_VALUE;
  bool m_bNewFile = false;
};

// The parts of a module's file name, as _wsplitpath_s gives them.
struct CModuleFileName {
  wchar_t wszDrive[_MAX_DRIVE];
  wchar_t wszDir[_MAX_DIR];
  wchar_t wszName[_MAX_FNAME];
  wchar_t wszExt[_MAX_EXT];
};
bool SplitModuleFileName(HMODULE hModule, CModuleFileName& name);

// The trace file's full path: "FileName" when set, else "<dir><exe>.<module><ext>.x64.<session>.trc3" in
// "TracePath" (whose missing directories are created) or in the module's directory. False when it cannot be built.
bool GetTraceFilePath(const CTracingKey& key, HMODULE hModule, DWORD dwSessionId, wchar_t (&wszPath)[MAX_PATH + 1]);

}  // namespace VmTraceNS
