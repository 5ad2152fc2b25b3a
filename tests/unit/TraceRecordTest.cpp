// What the trace records say: entries, exits, messages and errors, and which of them the settings let through.
#include <thread>

#include "TraceFixture.h"
#include "module/Trace.h"

namespace {

class TraceRecordTest : public TraceTest {
 protected:
  // One traced function with a message and an error, in a fresh facility; returns what reached the file.
  std::string SampleKinds(int iLevel = 0) {
    StartTracing();
    {
      CTraceScope trace("::Sample", iLevel);
      trace.Message("value = %d", 1);
      trace.Error("Sample()", E_FAIL);
    }
    return Read().EventKinds();
  }
};

TEST_F(TraceRecordTest, EntryMessageAndExitCarryTheirThreadAndNest) {
  SwitchOn();
  StartTracing();
  DWORD dwWorkerThread = 0;
  {
    CTraceScope trace("CComposeRibbon::OnConnection");
    trace.Message("Control ID = %ls", L"SendSecure");
    std::thread worker([&] {
      dwWorkerThread = GetCurrentThreadId();
      CTraceScope inner("::Worker");
    });
    worker.join();
  }
  const CTraceFile file = Read();
  EXPECT_EQ("tT>", file.Kinds().substr(0, 3));
  EXPECT_EQ((std::vector<std::string>{"CComposeRibbon::OnConnection", "::Worker"}), file.Texts('>'));
  EXPECT_EQ((std::vector<std::string>{"Control ID = SendSecure"}), file.Texts('U'));
  EXPECT_EQ((std::vector<std::string>{"", ""}), file.Texts('<'));
  const DWORD dwMainThread = GetCurrentThreadId();
  const std::vector<std::pair<DWORD, char>> expected = {
      {dwMainThread, '>'}, {dwMainThread, 'U'}, {dwWorkerThread, '>'}, {dwWorkerThread, '<'}, {dwMainThread, '<'}};
  std::vector<std::pair<DWORD, char>> events;
  for (const CTraceRecord& record : file.records)
    if (record.chKind != 't' && record.chKind != 'T') events.emplace_back(record.dwThreadId, record.chKind);
  EXPECT_EQ(expected, events);
}

TEST_F(TraceRecordTest, TracingKeepsTheCallersLastError) {
  SwitchOn();
  StartTracing();
  SetLastError(ERROR_ACCESS_DENIED);
  {
    CTraceScope trace("::FirstRecordOpensTheFile");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    trace.Message("%d", 1);
    trace.Error("Call()", E_FAIL);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST_F(TraceRecordTest, NamesAreCutAt99CharactersAndMissingNamesMarked) {
  SwitchOn();
  StartTracing();
  const std::string sLong(150, 'n');
  { CTraceScope trace(sLong.c_str()); }
  { CTraceScope trace(nullptr); }
  EXPECT_EQ((std::vector<std::string>{std::string(99, 'n'), "????"}), Read().Texts('>'));
}

TEST_F(TraceRecordTest, MessagesTakeNarrowAndWideArgumentsAndAreCutAsUtf8) {
  SwitchOn();
  StartTracing();
  {
    CTraceScope trace("::Messages");
    trace.Message("%s and %ls, %c%d", "narrow", L"wide \u00e9", '\xE9', 7);
    trace.Message(nullptr);
    trace.Message("");
    trace.Message("%s", std::string(500, 'x').c_str());
    // Two-byte characters: the cut keeps whole characters.
    trace.Message("%ls", std::wstring(300, L'\u00e9').c_str());
    // A format that does not fit the 400-unit buffer gives no record at all.
    trace.Message(std::string(400, 'f').c_str());
  }
  // The narrow character is taken in the ANSI code page.
  wchar_t wszCharacter[2] = {};
  MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, wszCharacter, 1);
  char szCharacter[8] = {};
  WideCharToMultiByte(CP_UTF8, 0, wszCharacter, 1, szCharacter, sizeof(szCharacter), nullptr, nullptr);
  std::string sCutCharacters;
  for (int i = 0; i < 199; ++i) sCutCharacters += "\xC3\xA9";
  EXPECT_EQ((std::vector<std::string>{"narrow and wide \xC3\xA9, " + std::string(szCharacter) + "7", "", "",
                                      std::string(399, 'x'), sCutCharacters}),
            Read().Texts('U'));
}

TEST_F(TraceRecordTest, ErrorsForFailuresAndSecurityStatusCodesOnly) {
  SwitchOn();
  StartTracing();
  {
    CTraceScope trace("::Errors");
    trace.Error("cpCommandBars->Add()", E_FAIL);
    trace.Error("", E_UNEXPECTED);
    trace.Error("InitializeSecurityContext()", MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_SECURITY, 0x312));
    trace.Error("S_OK()", S_OK);
    trace.Error("S_FALSE()", S_FALSE);
    trace.Error("Itf()", MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, 1));
    trace.Error(std::string(300, 'e').c_str(), E_FAIL);
  }
  EXPECT_EQ((std::vector<std::string>{"-2147467259 cpCommandBars->Add()", "-2147418113 ",
                                      "590610 InitializeSecurityContext()", "-2147467259 " + std::string(248, 'e')}),
            Read().Texts('E'));
}

TEST_F(TraceRecordTest, ComponentListsLeaveOnlyErrorsOfOtherComponents) {
  SwitchOn();
  const struct {
    std::vector<const wchar_t*> components, componentsNot;
    const char* szKinds;
  } cases[] = {
      {{L"OUTLOOK"}, {}, "E"},
      {{}, {L"Unit_Tests"}, "E"},
      {{}, {L"OUTLOOK"}, ">UE<"},
      {{L"Unit_Tests", L"WINWORD"}, {L"unit_tests"}, ">UE<"},
  };
  for (const auto& test : cases) {
    CRegistryValues lists;
    for (const wchar_t* wszName : test.components)
      lists.SetString(std::wstring(TRACING_KEY) + L"\\Components", wszName, L"");
    for (const wchar_t* wszName : test.componentsNot)
      lists.SetString(std::wstring(TRACING_KEY) + L"\\ComponentsNOT", wszName, L"");
    EXPECT_EQ(test.szKinds, SampleKinds()) << test.components.size() << " " << test.componentsNot.size();
  }
}

TEST_F(TraceRecordTest, VerbosityMustReachTheAbsoluteLevel) {
  SwitchOn();
  const struct {
    DWORD dwVerbosity;
    int iLevel;
    const char* szKinds;
  } cases[] = {{0, 0, ">UE<"}, {1, 2, "E"}, {2, 2, ">UE<"}, {1, -2, "E"}, {2, -2, ">UE<"}, {0xFFFFFFFF, 0, "E"}};
  for (const auto& test : cases) {
    SetTracing(L"Verbosity", test.dwVerbosity);
    EXPECT_EQ(test.szKinds, SampleKinds(test.iLevel)) << test.dwVerbosity << " " << test.iLevel;
  }
}

TEST_F(TraceRecordTest, ProfilingDropsMessagesOnly) {
  SwitchOn();
  SetTracing(L"DoProfiling", 1);
  EXPECT_EQ(">E<", SampleKinds());
}

TEST_F(TraceRecordTest, TimeRecordsOnlyWhenTheClockMoved) {
  SwitchOn();
  StartTracing();
  {
    CTraceScope trace("::Loop");
    for (int i = 0; i < 200; ++i) trace.Message("%d", i);
  }
  const CTraceFile file = Read();
  ASSERT_GE(file.records.size(), 2u);
  EXPECT_EQ('t', file.records[0].chKind);
  EXPECT_EQ('T', file.records[1].chKind);
  const std::vector<std::string> times = file.Texts('T');
  for (size_t i = 1; i < times.size(); ++i) EXPECT_NE(times[i - 1], times[i]);
  EXPECT_EQ(202u, file.records.size() - times.size() - file.Texts('t').size());
}

}  // namespace
