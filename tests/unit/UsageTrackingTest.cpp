// The usage record: adding values in each mode, the feature counters' range, the report's lines
// and their cutting, and the launch point read from a command line.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tracking/UsageTracking.h"

namespace {

std::string Narrow(const std::wstring& ws) { return std::string(ws.begin(), ws.end()); }

TEST(UsageRecordTest, ValuesAreReplacedAddedOrCombinedAndGapsAreFilled) {
  CVmUsageTrackingWr tracker;
  EXPECT_EQ(S_OK, tracker.AddValue(L"x", 2, L"5", CVmUsageTrackingWr::kReplace));
  EXPECT_EQ("x0\t0\nx1\t0\nx2\t5\n", Narrow(tracker.ReportText()));
  tracker.AddValue(L"x", 2, L"-7", CVmUsageTrackingWr::kAddDecimal);
  tracker.AddValue(L"x", 0, L"0x10", CVmUsageTrackingWr::kOrHexadecimal);
  tracker.AddValue(L"x", 0, L"3", CVmUsageTrackingWr::kOrHexadecimal);
  tracker.AddValue(L"x", 1, L"kept", 7);
  EXPECT_EQ("x0\t0x00000013\nx1\tkept\nx2\t-2\n", Narrow(tracker.ReportText()));
}

TEST(UsageRecordTest, CountersTakeIndexOneToNineAndAreWrittenAfterTheirIndex) {
  CVmUsageTrackingWr tracker;
  EXPECT_EQ(S_OK, tracker.PutDiagnosticResult(2, 1, CVmUsageTrackingWr::kReplace, false));
  EXPECT_EQ(S_OK, tracker.PutDiagnosticResult(3, 255, CVmUsageTrackingWr::kReplace, true));
  EXPECT_EQ(S_OK, tracker.PutDiagnosticResult(2, L"4", CVmUsageTrackingWr::kAddDecimal));
  const std::string sBefore = Narrow(tracker.ReportText());
  EXPECT_EQ("d0\t0\nd1\t1\nd2\t25\nd3\t30x000000FF\n", sBefore);

  EXPECT_EQ(E_INVALIDARG, tracker.PutDiagnosticResult(10, L"1", CVmUsageTrackingWr::kReplace));
  EXPECT_EQ(E_INVALIDARG, tracker.PutDiagnosticResult(0, 1, CVmUsageTrackingWr::kReplace, false));
  EXPECT_EQ(E_INVALIDARG, tracker.PutDiagnosticResult(4, L"", CVmUsageTrackingWr::kReplace));
  EXPECT_EQ(E_INVALIDARG, tracker.PutDiagnosticResult(4, nullptr, CVmUsageTrackingWr::kReplace));
  EXPECT_EQ(sBefore, Narrow(tracker.ReportText()));
  EXPECT_FALSE(CVmUsageTrackingWr::IsWithinRange(10, 1, 9));
  EXPECT_TRUE(CVmUsageTrackingWr::IsWithinRange(9, 1, 9));
}

// A counter set before the report's fields keeps its category first; d0 is the host's name cut
// with its index prefix to 12 characters.
TEST(UsageRecordTest, ReportHoldsTheProcessFieldsInTheOrderCategoriesWereFirstUsed) {
  CVmUsageTrackingWr tracker;
  tracker.PutDiagnosticResult(kDocumentEncryptedCounter, 1, CVmUsageTrackingWr::kReplace, false);
  tracker.SetNoDuration();
  tracker.SetReportFields(L"\"C:\\Office\\WINWORD.EXE\" /P12 /n", L"C:\\Program Files\\Office.14\\WINWORDVIEWER.EXE");
  const std::string sText = Narrow(tracker.ReportText());
  const std::regex pattern(
      "d0\t0WINWORDVIEW\nd1\t1\nd2\t2\nd3\t3\nd4\t4\nd5\t51\n"
      "a0\tTSYADDN\na1\t[0-9.]+\na2\t1\na3\t12\na4\t00\\.00\\.00\\.00\na5\t0\n");
  EXPECT_TRUE(std::regex_match(sText, pattern)) << sText;
}

TEST(UsageRecordTest, RunningTimeIsDaysHoursMinutesSeconds) {
  CVmUsageTrackingWr tracker;
  tracker.SetReportFields(L"x", L"host.exe");
  const std::string sText = Narrow(tracker.ReportText());
  EXPECT_TRUE(std::regex_search(sText, std::regex("\na4\t00\\.00\\.00\\.0[0-9]\n"))) << sText;
  EXPECT_TRUE(std::regex_search(sText, std::regex("\na3\t0\n"))) << sText;
}

TEST(UsageRecordTest, LaunchPointIsUpToTwoDigitsAfterTheSwitch) {
  EXPECT_EQ(12, LaunchPoint(L"outlook.exe /P12"));
  EXPECT_EQ(12, LaunchPoint(L"outlook.exe /P123"));
  EXPECT_EQ(7, LaunchPoint(L"outlook.exe -P7 /x"));
  EXPECT_EQ(4, LaunchPoint(L"outlook.exe -P3 /P4"));
  EXPECT_EQ(0, LaunchPoint(L"outlook.exe /Px"));
  EXPECT_EQ(0, LaunchPoint(L"outlook.exe /P"));
  EXPECT_EQ(0, LaunchPoint(L"outlook.exe /p12"));
}

}  // namespace
