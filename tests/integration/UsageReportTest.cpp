// Usage reports of the installed module: the simulated Outlook and Word shut down and the suite's
// usage-tracking component (as installed in the test prefix) records what it was given.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../support/TestCertificates.h"
#include "../unit/TraceFixture.h"
#include "Installation.h"

namespace {

constexpr wchar_t kTrackingKey[] = L"SOFTWARE\\Velmora\\UsageTracking";

std::filesystem::path BuildFolder() {
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
  return std::filesystem::path(wszPath).parent_path().parent_path();
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
}

// The recorded reports, each as its fields by key; every line must be "KEY\tVALUE".
std::vector<std::map<std::string, std::string>> Reports(const std::string& sText) {
  std::vector<std::map<std::string, std::string>> reports(1);
  std::istringstream stream(sText);
  for (std::string sLine; std::getline(stream, sLine);) {
    if (sLine.empty()) {
      reports.emplace_back();
      continue;
    }
    const size_t uTab = sLine.find('\t');
    EXPECT_NE(std::string::npos, uTab) << sLine;
    if (uTab != std::string::npos) reports.back()[sLine.substr(0, uTab)] = sLine.substr(uTab + 1);
  }
  reports.pop_back();  // after the empty line that ends the last report
  return reports;
}

bool Contains(const std::vector<std::string>& texts, const std::string& sText) {
  return std::find(texts.begin(), texts.end(), sText) != texts.end();
}

class UsageReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t wszTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszTemp);
    m_dir = std::filesystem::path(wszTemp) / (L"vmofcx-usage-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(m_dir);
    m_reports = std::filesystem::path(InstallFolder()) / L"UsageReports.txt";
    std::filesystem::remove(m_reports);
    m_registry.SetDword(L"SOFTWARE\\Velmora\\Tracing", L"DoTrace", 1);
  }
  void TearDown() override {
    ForgetUserCertificates();
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kTrackingKey, L"Consent");
    std::error_code ec;
    std::filesystem::remove(m_reports, ec);
    std::filesystem::remove_all(m_dir, ec);
  }

  void SetTracking(DWORD dwInstalled, DWORD dwConsent) {
    m_registry.SetDword(kTrackingKey, L"Installed", dwInstalled);
    RegSetKeyValueW(HKEY_CURRENT_USER, kTrackingKey, L"Consent", REG_DWORD, &dwConsent, sizeof dwConsent);
  }

  // Plays the script in the simulator started as PROGRAM with the switches, with a new profile,
  // tracing to NAME.trc3.
  CTraceFile Play(const std::wstring& wsName, const std::filesystem::path& program, const std::wstring& wsArguments,
                  const std::string& sScript) {
    const std::filesystem::path script = m_dir / (wsName + L".scn");
    std::ofstream(script, std::ios::binary) << sScript;
    const std::filesystem::path trace = m_dir / (wsName + L".trc3");
    m_registry.SetString(L"SOFTWARE\\Velmora\\Tracing", L"FileName", trace.wstring());
    EXPECT_EQ(0u,
              RunProgram(L"\"" + program.wstring() + L"\" --profile \"" + (m_dir / (wsName + L".profile")).wstring() +
                         L"\" " + wsArguments + L" \"" + script.wstring() + L"\""))
        << "ofcsim " << script.string();
    return ReadTraceFile(trace);
  }
  CTraceFile PlayOutlook(const std::wstring& wsName) {
    return Play(wsName, Simulator(), L"--only VmOfcX.ComposeRibbon", "answer no\nstart 14\nquit\n");
  }
  static std::filesystem::path Simulator() { return BuildFolder() / L"sim" / L"ofcsim.exe"; }

  CRegistryValues m_registry;
  std::filesystem::path m_dir;
  std::filesystem::path m_reports;
};

// Outlook started by the suite at launch point 12 under a long executable name, then Word, where the
// user encrypts a document: one report each, in the order they shut down.
TEST_F(UsageReportTest, OutlookAndWordEachSendOneReportAtShutDown) {
  SetTracking(1, 1);
  ForgetUserCertificates();
  ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"usage@tessaly.test", L"Uma Usage"));
  const std::filesystem::path outlook = m_dir / L"OutlookSimulated.exe";
  ASSERT_TRUE(CopyFileW(Simulator().c_str(), outlook.c_str(), FALSE));
  const CTraceFile outlookTrace =
      Play(L"outlook", outlook, L"--only VmOfcX.ComposeRibbon /P12", "answer no\nstart 14\nquit\n");
  EXPECT_TRUE(Contains(outlookTrace.Texts('U'), "ms_lKxEnvironment ? 3"));
  Play(L"word", Simulator(), L"--only VmOfcX.EncryptionProvider --only VmOfcX.DocumentRibbon",
       "start word 14\nnew Counted once.\nchoose none\nencrypt VmOfcX.EncryptionProvider\n"
       "expect seen NewSession 0x00000000\nquit\n");

  const auto reports = Reports(ReadText(m_reports));
  ASSERT_EQ(2u, reports.size()) << ReadText(m_reports);
  wchar_t wszVersion[64] = {};
  DWORD cbVersion = sizeof wszVersion;
  ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Products\\Tessaly", L"Version",
                                        RRF_RT_REG_SZ, nullptr, wszVersion, &cbVersion));
  const std::wstring wsVersion = wszVersion;
  for (const auto& report : reports) {
    EXPECT_EQ("TSYADDN", report.at("a0"));
    EXPECT_EQ(std::string(wsVersion.begin(), wsVersion.end()), report.at("a1"));
    EXPECT_EQ("1", report.at("a2"));
    EXPECT_TRUE(report.at("a4").starts_with("00.00.")) << report.at("a4");
    EXPECT_EQ(11u, report.at("a4").size());
    EXPECT_EQ("0", report.at("a5"));
  }
  const auto& outlookReport = reports[0];
  EXPECT_EQ("12", outlookReport.at("a3"));
  EXPECT_EQ("0OutlookSimu", outlookReport.at("d0"));
  EXPECT_EQ(7u, outlookReport.size());
  const auto& wordReport = reports[1];
  EXPECT_EQ("0", wordReport.at("a3"));
  EXPECT_EQ("0ofcsim", wordReport.at("d0"));
  EXPECT_EQ("51", wordReport.at("d5"));
  EXPECT_EQ("4", wordReport.at("d4"));
  EXPECT_EQ(12u, wordReport.size());
}

// Word, with the document add-ins as installed, signs a document through the signature provider:
// the report that the document ribbon sends at shut-down counts a signed document.
TEST_F(UsageReportTest, ASignatureCountsAsASignedDocument) {
  SetTracking(1, 1);
  ForgetUserCertificates();
  ASSERT_NO_FATAL_FAILURE(MakeOwnCertificate(L"usage@tessaly.test", L"Uma Usage"));
  Play(L"word-sign", Simulator(), L"--only VmOfcX.EncryptionProvider --only VmOfcX.SignatureProvider --only VmOfcX.DocumentRibbon",
       "start word 14\nnew Counted once.\nanswer ok\nsign VmOfcX.SignatureProvider\n"
       "expect signature 1 signed valid\nquit\n");
  const auto reports = Reports(ReadText(m_reports));
  ASSERT_EQ(1u, reports.size()) << ReadText(m_reports);
  EXPECT_EQ("3", reports[0].at("d3"));
  EXPECT_EQ("41", reports[0].at("d4"));
  EXPECT_EQ(0u, reports[0].count("d5"));
}

TEST_F(UsageReportTest, NothingIsSentWithoutConsentOrWithoutTheComponent) {
  SetTracking(1, 0);
  CTraceFile trace = PlayOutlook(L"no-consent");
  EXPECT_TRUE(Contains(trace.Texts('U'), "user opted in? 0 (0x00000000)"));
  EXPECT_TRUE(Contains(trace.Texts('U'), "not ready to send."));

  SetTracking(1, 1);
  const std::wstring wsComponent = L"\"" + InstallFolder() + L"\\VmUsageTracking.dll\"";
  ASSERT_EQ(0u, RunProgram(L"regsvr32.exe /s /u " + wsComponent));
  trace = PlayOutlook(L"no-component");
  const DWORD dwRegistered = RunProgram(L"regsvr32.exe /s " + wsComponent);
  EXPECT_TRUE(Contains(trace.Texts('E'), std::to_string(REGDB_E_CLASSNOTREG) + " GetKxEnvironment()"));
  EXPECT_TRUE(Contains(trace.Texts('U'), "not ready to send."));
  EXPECT_FALSE(Contains(trace.Texts('U'), "Instantiated"));
  EXPECT_FALSE(std::filesystem::exists(m_reports));
  ASSERT_EQ(0u, dwRegistered);
}

}  // namespace
