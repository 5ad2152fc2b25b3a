// When a trace file is written, where, with which header, and how settings changes reach a running process.
#include <algorithm>
#include <regex>

#include "TraceFixture.h"
#include "module/Trace.h"
#include "module/TraceFacility.h"

namespace {

using TraceFileTest = TraceTest;

void TraceOneScope(const char* szName) {
  StartTracing();
  { CTraceScope trace(szName); }
  VmTraceNS::Shutdown();
}

bool Contains(const std::vector<std::string>& lines, const std::string& sLine) {
  return std::find(lines.begin(), lines.end(), sLine) != lines.end();
}

std::filesystem::path ModuleDirectory() {
  wchar_t wszPath[MAX_PATH + 1];
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH + 1);
  return std::filesystem::path(wszPath).parent_path();
}

std::wstring RuleFileName() {
  DWORD dwSession = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &dwSession);
  return L"unit_tests.unit_tests.exe.x64." + std::to_wstring(dwSession) + L".trc3";
}

TEST_F(TraceFileTest, NoFileUnlessTracingGoesToAFile) {
  const std::filesystem::path defaultFile = ModuleDirectory() / RuleFileName();
  TraceOneScope("::NoKey");
  EXPECT_FALSE(std::filesystem::exists(defaultFile));

  m_registry.SetString(TRACING_KEY, L"FileName", m_file.wstring());
  const struct {
    const wchar_t* wszName;
    DWORD dwValue;
  } cases[] = {{L"DoTrace", 0}, {L"TraceToFile", 0}, {L"TraceToFile", 2}};
  for (const auto& test : cases) {
    SetTracing(L"DoTrace", 1);
    SetTracing(test.wszName, test.dwValue);
    TraceOneScope("::Off");
    EXPECT_FALSE(std::filesystem::exists(m_file)) << test.wszName << test.dwValue;
  }
  // A value of another type counts as missing.
  m_registry.SetString(TRACING_KEY, L"DoTrace", L"1");
  SetTracing(L"TraceToFile", 1);
  TraceOneScope("::WrongType");
  EXPECT_FALSE(std::filesystem::exists(m_file));
  // "FileName" is taken as it is: its directory is not created.
  SetTracing(L"DoTrace", 1);
  m_registry.SetString(TRACING_KEY, L"FileName", (m_dir / L"missing" / L"x.trc3").wstring());
  TraceOneScope("::Unopened");
  EXPECT_FALSE(std::filesystem::exists(m_dir / L"missing"));
}

TEST_F(TraceFileTest, NewFileBeginsWithTheHeader) {
  SwitchOn();
  const std::wstring wsProducts = L"SOFTWARE\\Velmora\\Products\\";
  m_registry.SetString(wsProducts + L"VmTraceTestA", L"Version", L"2.5");
  m_registry.SetString(wsProducts + L"VmTraceTestB", L"Other", L"");
  m_registry.SetString(wsProducts + L"VmTraceTestC", L"Version", std::wstring(250, L'9'));
  m_registry.SetDword(L"SOFTWARE\\Policies\\Velmora", L"NetworkSupport", 0);
  TraceOneScope("::Header");

  const CTraceFile file = Read();
  const std::vector<std::string> lines = file.HeaderLines();
  ASSERT_GE(lines.size(), 11u) << file.sHeader;
  char szComputer[256];
  DWORD cchComputer = sizeof(szComputer);
  ASSERT_TRUE(GetComputerNameA(szComputer, &cchComputer));
  EXPECT_EQ("trace3", lines[0]);
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(Compiled: [A-Z][a-z]{2} [ \d]\d \d{4} \d\d:\d\d:\d\d)")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(
      lines[2],
      std::regex(
          R"(OS: (Windows7|Server2008|WindowsVista|WindowsXP|Server2003|Windows2000|UNKNOWN OS\(Major:\d+ Minor:\d+\)))")))
      << lines[2];
  EXPECT_TRUE(lines[3].starts_with("ServicePack: ")) << lines[3];
  EXPECT_EQ(std::string("Machine name: ") + szComputer, lines[4]);
  EXPECT_EQ("Trace Ver: 3.0.1", lines[5]);
  EXPECT_EQ("FileVersion: UNKNOWN", lines[6]);  // the test program has no version resource
  EXPECT_TRUE(Contains(lines, "Product: VmTraceTestA; Version: 2.5"));
  EXPECT_TRUE(Contains(lines, "Product: VmTraceTestB; Version: ERROR(0x2)"));
  // A cut product line still ends its line.
  EXPECT_TRUE(Contains(lines, "Product: VmTraceTestC; Version: " + std::string(258 - 32, '9')));
  EXPECT_EQ("installation: LOCAL", lines[lines.size() - 3]);
  EXPECT_TRUE(std::regex_match(lines[lines.size() - 2], std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3})")))
      << lines[lines.size() - 2];
  EXPECT_EQ(".", lines.back());
  EXPECT_TRUE(file.Kinds().starts_with("tT>")) << file.Kinds();
  EXPECT_EQ("><", file.EventKinds());
}

TEST_F(TraceFileTest, AppendingProcessWritesNewProcessRecordInsteadOfHeader) {
  SwitchOn();
  TraceOneScope("::First");
  SetTracing(L"NewFileAlways", 0);
  TraceOneScope("::Second");

  CTraceFile file = Read();
  EXPECT_EQ("><N><", file.EventKinds());
  EXPECT_NE(std::string::npos, file.Kinds().find("NtT>")) << file.Kinds();
  EXPECT_EQ((std::vector<std::string>{"::First", "::Second"}), file.Texts('>'));
  ASSERT_EQ(1u, file.Texts('N').size());
  EXPECT_TRUE(std::regex_match(file.Texts('N')[0], std::regex(R"(\d\d-\d\d-\d{4})"))) << file.Texts('N')[0];
  EXPECT_TRUE(Contains(file.HeaderLines(), "installation: NETWORK"));

  m_registry.Delete(TRACING_KEY, L"NewFileAlways");
  TraceOneScope("::Third");
  file = Read();
  EXPECT_FALSE(file.sHeader.empty());
  EXPECT_EQ((std::vector<std::string>{"::Third"}), file.Texts('>'));
}

TEST_F(TraceFileTest, FileIsNamedAfterProcessModuleAndSession) {
  SetTracing(L"DoTrace", 1);
  const std::filesystem::path defaultFile = ModuleDirectory() / RuleFileName();
  TraceOneScope("::ModuleDirectory");
  EXPECT_TRUE(ReadTraceFile(defaultFile).sHeader.starts_with("trace3\r\n"));
  std::filesystem::remove(defaultFile);

  // Missing directories are created; the value is not expanded.
  const std::filesystem::path traceDir = m_dir / L"a" / L"%NOEXPAND%" / L"b";
  m_registry.SetString(TRACING_KEY, L"TracePath", traceDir.wstring(), REG_EXPAND_SZ);
  TraceOneScope("::TracePath");
  EXPECT_EQ((std::vector<std::string>{"::TracePath"}), ReadTraceFile(traceDir / RuleFileName()).Texts('>'));
}

TEST_F(TraceFileTest, SettingsOfThe32BitViewApplyWhenThe64BitKeyIsMissing) {
  HKEY hKey = nullptr;
  ASSERT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, TRACING_KEY, 0, KEY_READ | KEY_WOW64_64KEY, &hKey))
      << "this test needs a machine without tracing settings in the 64-bit view";
  m_registry.SetDword(TRACING_KEY, L"DoTrace", 1, KEY_WOW64_32KEY);
  m_registry.SetString(TRACING_KEY, L"FileName", m_file.wstring(), REG_SZ, KEY_WOW64_32KEY);
  TraceOneScope("::View32");
  EXPECT_EQ((std::vector<std::string>{"::View32"}), Read().Texts('>'));
}

TEST_F(TraceFileTest, RunningProcessRereadsSettingsAfter30SecondsAndKeepsItsFile) {
  SwitchOn();
  StartTracing();
  const DWORD dwBefore = GetTickCount();
  { CTraceScope trace("::On"); }
  const DWORD dwAfter = GetTickCount();
  SetTracing(L"DoTrace", 0);
  VmTraceNS::g_pTraceFacility->Refresh(dwBefore + 30000);
  { CTraceScope trace("::WithinInterval"); }
  VmTraceNS::g_pTraceFacility->Refresh(dwAfter + 30001);
  { CTraceScope trace("::Off"); }
  SetTracing(L"DoTrace", 1);
  VmTraceNS::g_pTraceFacility->Refresh(dwAfter + 60002);
  { CTraceScope trace("::OnAgain"); }

  const CTraceFile file = Read();
  EXPECT_EQ((std::vector<std::string>{"::On", "::WithinInterval", "::OnAgain"}), file.Texts('>'));
  EXPECT_EQ(0u, file.Texts('N').size());
}

}  // namespace
