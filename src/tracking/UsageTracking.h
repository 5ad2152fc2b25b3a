#pragma once
// Usage tracking: feature counters collected while the add-in runs and one short report handed
// to the suite's usage-tracking component at shut-down, when it is installed and the user agreed.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class CVmUsageTrackingWr {
 public:
  // Modes of adding a value to one already stored.
  enum EMode { kReplace = 0, kAddDecimal = 1, kOrHexadecimal = 2 };

  // The start time is the moment of construction.
  CVmUsageTrackingWr();

  // Stores wsValue at index uIndex of the category, creating both as needed.
  HRESULT AddValue(const std::wstring& wsCategory, size_t uIndex, const std::wstring& wsValue, int iMode);
  // A feature counter d1 to d9.
  HRESULT PutDiagnosticResult(LONG lIndex, const wchar_t* wszText, int iMode);
  HRESULT PutDiagnosticResult(LONG lIndex, LONG lNumber, int iMode, bool bHexadecimal);
  static bool IsWithinRange(LONG lIndex, LONG lMin, LONG lMax);

  // Sends the report when the component is installed and the user agreed (else S_FALSE), then
  // starts the record afresh.
  HRESULT SendReport();

  // The fields a0 to a5 and d0 for a process of that command line and executable path.
  void SetReportFields(const wchar_t* wszCommandLine, const wchar_t* wszHostPath);
  // One line "KEY\tVALUE\n" per value, categories in the order first used.
  std::wstring ReportText() const;
  void SetNoDuration() { m_bNoDuration = true; }

  // Bit 0x1: the component is installed; bit 0x2: the user agreed. Computed once per process.
  static LONG GetKxEnvironment();

 private:
  std::wstring ProductVersion();
  std::wstring Duration() const;

  std::wstring m_wsIdentifier;
  std::wstring m_wsProductCode = L"TSYADDN";
  SYSTEMTIME m_stStart = {};
  std::vector<std::pair<std::wstring, std::vector<std::wstring>>> m_report;
  std::wstring m_wsProductVersion;
  DWORD m_dwState = 0;
  bool m_bNoDuration = false;

  static LONG ms_lKxEnvironment;
};

// The launch point of a command line: the number of up to two digits after "/P", or else after
// "-P"; 0 without either.
int LaunchPoint(const wchar_t* wszCommandLine);

// The process's tracker, made when the module loads.
extern CVmUsageTrackingWr g_UsageTracker;

// Feature counters that the module sets.
inline constexpr LONG kDocumentSignedCounter = 4;
inline constexpr LONG kDocumentEncryptedCounter = 5;

// Records that a feature was used: its counter becomes 1.
inline HRESULT CountFeatureUse(LONG lCounter) {
  return g_UsageTracker.PutDiagnosticResult(lCounter, 1, CVmUsageTrackingWr::kReplace, false);
}
