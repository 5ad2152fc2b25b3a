#pragma once
// Shared by the trace tests: tracing settings set in the machine registry and removed again, a private
// directory for trace files, and a reader of what the facility wrote.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// Registry values and keys under HKLM that a test set; all removed at destruction.
class CRegistryValues {
 public:
  CRegistryValues() = default;
  ~CRegistryValues();
  CRegistryValues(const CRegistryValues&) = delete;
  CRegistryValues& operator=(const CRegistryValues&) = delete;

  void SetDword(const std::wstring& wsKey, const wchar_t* wszName, DWORD dwValue, REGSAM samView = KEY_WOW64_64KEY);
  void SetString(const std::wstring& wsKey, const wchar_t* wszName, const std::wstring& wsValue, DWORD dwType = REG_SZ,
                 REGSAM samView = KEY_WOW64_64KEY);
  // Removes one value now, as an administrator switching an option back would.
  void Delete(const std::wstring& wsKey, const wchar_t* wszName, REGSAM samView = KEY_WOW64_64KEY);

 private:
  struct CValue {
    std::wstring wsKey, wsName;
    REGSAM samView;
  };
  HKEY Create(const std::wstring& wsKey, REGSAM samView);
  void Set(const std::wstring& wsKey, const wchar_t* wszName, DWORD dwType, const void* pvData, DWORD cbData,
           REGSAM samView);
  std::vector<CValue> m_values;
  std::vector<std::pair<std::wstring, REGSAM>> m_createdKeys;
};

struct CTraceRecord {
  uint32_t dwThreadId;
  char chKind;
  std::string sText;
};

struct CTraceFile {
  std::string sHeader;  // up to and including ".\r\n"; empty when the file starts with records
  std::vector<CTraceRecord> records;
  std::string Kinds() const;
  // Kinds without the time records, which depend on the clock.
  std::string EventKinds() const;
  std::vector<std::string> HeaderLines() const;
  // Texts of the records of one kind, in order.
  std::vector<std::string> Texts(char chKind) const;
};

// Reads and deciphers a trace file; fails the test when its layout is broken.
CTraceFile ReadTraceFile(const std::filesystem::path& path);

// A fresh facility for this test program, as at the load of a module.
void StartTracing();

class TraceTest : public ::testing::Test {
 protected:
  static constexpr wchar_t TRACING_KEY[] = L"SOFTWARE\\Velmora\\Tracing";
  static constexpr wchar_t COMPONENT[] = L"unit_tests";

  void SetUp() override;
  void TearDown() override;

  // DoTrace = 1 and FileName = the test's trace file.
  void SwitchOn();
  void SetTracing(const wchar_t* wszName, DWORD dwValue) { m_registry.SetDword(TRACING_KEY, wszName, dwValue); }
  void AddComponent(const wchar_t* wszList, const wchar_t* wszName);
  CTraceFile Read() const { return ReadTraceFile(m_file); }

  CRegistryValues m_registry;
  std::filesystem::path m_dir;
  std::filesystem::path m_file;
};
