#include <gtest/gtest.h>

#include "../support/RegistryTree.h"
#include "module/Registrar.h"

namespace {

constexpr wchar_t kTestKey[] = L"Software\\VmOfcXRegistrarTest";
constexpr wchar_t kClassesTestKey[] = L"Software\\Classes\\VmOfcXRegistrarTest";

// Wraps a body into the private test key below HKCU\Software.
std::wstring InTestKey(const std::wstring& wsBody) {
  return L"HKCU\n{\n  NoRemove Software\n  {\n    " + wsBody + L"\n  }\n}\n";
}

void SetForeignValue(const std::wstring& wsSubKey, const wchar_t* wszName) {
  const std::wstring wsKey = std::wstring(kTestKey) + L"\\" + wsSubKey;
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, wsKey.c_str(), wszName, REG_SZ, L"x", sizeof(L"x")));
}

class RegistrarTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteTestKeys(); }
  void TearDown() override { DeleteTestKeys(); }
  static void DeleteTestKeys() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kClassesTestKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassesTestKey);
  }
  static CRegistryTree TestTree() { return ReadRegistryTree(HKEY_CURRENT_USER, kTestKey); }
};

TEST_F(RegistrarTest, WritesValuesOfEveryTypeWithQuotingAndReplacements) {
  const std::wstring wsScript = InTestKey(
      LR"(VmOfcXRegistrarTest = s 'It''s the ''default'''
    {
      val Path = s '%MODULE%'
      val Percent = s '100%% of %module%'
      val Number = d '3'
      val Largest = d '0xFFFFFFFF'
      val Bytes = b '00A1ff'
      val 'Spaced Name' = s ''
      'EncodingType 1'
      {
        'NoRemove' = s 'a key named like a keyword'
      }
      Bare
    })");
  const CReplacements replacements = {{L"MODULE", L"C:\\O'Neil's files\\VmOfcX.dll"}};
  ASSERT_EQ(S_OK, RunRegistryScript(wsScript, replacements, true));
  const CRegistryTree expected = {
      {L"", L""},
      {L"|", L"sz:It's the 'default'"},
      {L"|Path", L"sz:C:\\O'Neil's files\\VmOfcX.dll"},
      {L"|Percent", L"sz:100% of C:\\O'Neil's files\\VmOfcX.dll"},
      {L"|Number", L"dword:3"},
      {L"|Largest", L"dword:4294967295"},
      {L"|Bytes", L"binary:00a1ff"},
      {L"|Spaced Name", L"sz:"},
      {L"EncodingType 1", L""},
      {L"EncodingType 1\\NoRemove", L""},
      {L"EncodingType 1\\NoRemove|", L"sz:a key named like a keyword"},
      {L"Bare", L""},
  };
  EXPECT_EQ(expected, TestTree());
}

TEST_F(RegistrarTest, HkcrIsTheMachinesClassesAndLongRootNamesWork) {
  const std::wstring wsScript =
      L"HKCR { VmOfcXRegistrarTest { val A = s 'a' } }\n"
      L"HKEY_CURRENT_USER { NoRemove Software { VmOfcXRegistrarTest } }";
  ASSERT_EQ(S_OK, RunRegistryScript(wsScript, {}, true));
  EXPECT_EQ((CRegistryTree{{L"", L""}, {L"|A", L"sz:a"}}), ReadRegistryTree(HKEY_LOCAL_MACHINE, kClassesTestKey));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kClassesTestKey));
  EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, kTestKey));

  ASSERT_EQ(S_OK, RunRegistryScript(wsScript, {}, false));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kClassesTestKey));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kTestKey));
}

TEST_F(RegistrarTest, ForceRemoveAndDeleteClearSubtreesThatPlainKeysKeep) {
  SetForeignValue(L"Forced\\Old", L"Stale");
  SetForeignValue(L"Plain\\Other", L"Foreign");
  SetForeignValue(L"Obsolete\\Deep", L"Stale");
  const std::wstring wsScript = InTestKey(
      LR"(NoRemove VmOfcXRegistrarTest
    {
      ForceRemove Forced = s 'new' { New }
      Plain { val Mine = d '1' }
      Delete Obsolete { val NeverWritten = s 'x' }
    })");
  ASSERT_EQ(S_OK, RunRegistryScript(wsScript, {}, true));
  const CRegistryTree expected = {
      {L"", L""},
      {L"Forced", L""},
      {L"Forced|", L"sz:new"},
      {L"Forced\\New", L""},
      {L"Plain", L""},
      {L"Plain|Mine", L"dword:1"},
      {L"Plain\\Other", L""},
      {L"Plain\\Other|Foreign", L"sz:x"},
  };
  EXPECT_EQ(expected, TestTree());
}

TEST_F(RegistrarTest, UnregistrationKeepsNoRemoveKeysAndWhatTheScriptDoesNotName) {
  const std::wstring wsScript = InTestKey(
      LR"(NoRemove VmOfcXRegistrarTest
    {
      NoRemove Shared = s 'kept'
      {
        val Mine = s 'mine'
        Child = s 'child' { val X = d '1' }
      }
      Plain = s 'plain' { val Y = s 'y' }
      Busy { val Z = s 'z' }
      ForceRemove Forced { Inner }
    })");
  ASSERT_EQ(S_OK, RunRegistryScript(wsScript, {}, true));
  SetForeignValue(L"Shared", L"Foreign");
  SetForeignValue(L"Busy\\Foreign", L"Foreign");
  SetForeignValue(L"Forced\\Foreign", L"Foreign");

  ASSERT_EQ(S_OK, RunRegistryScript(wsScript, {}, false));
  const CRegistryTree expected = {
      {L"", L""},
      {L"Shared", L""},
      {L"Shared|", L"sz:kept"},
      {L"Shared|Foreign", L"sz:x"},
      {L"Busy", L""},
      {L"Busy\\Foreign", L""},
      {L"Busy\\Foreign|Foreign", L"sz:x"},
  };
  EXPECT_EQ(expected, TestTree());
  // What is already gone is no failure.
  EXPECT_EQ(S_OK, RunRegistryScript(wsScript, {}, false));
  EXPECT_EQ(expected, TestTree());
}

TEST_F(RegistrarTest, MalformedScriptsFailAndWriteNothing) {
  // A valid block comes first, so that anything applied before parsing ends would show.
  const std::wstring wsValid = InTestKey(L"VmOfcXRegistrarTest { val A = s 'a' }");
  const wchar_t* const kMistakes[] = {
      L"Inner {",                        // brace never closed
      L"} } } }",                        // one closing brace too many
      L"val B = x 'b'",                  // unknown value type
      L"val B = d '12a'",                // not a number
      L"val B = d '4294967296'",         // more than 32 bits
      L"val B = d ''",                   // empty number
      L"val B = b 'abc'",                // half a byte
      L"val B = b 'zz'",                 // not hexadecimal
      L"val B = s unquoted",             // data must be quoted
      L"val B s 'b'",                    // no '='
      L"val = s 'b'",                    // no value name
      L"NoRemove }",                     // modifier without a key
      L"ForceRemove NoRemove Inner",     // two modifiers
      L"'' = s 'b'",                     // empty key name
      L"Inner = s '%UNKNOWN%'",          // replacement not given
      L"Inner = s '50%'",                // lone percent sign
      L"Inner = s 'never closed } } }",  // quote never closed
  };
  for (const wchar_t* wszMistake : kMistakes) {
    const std::wstring wsScript =
        wsValid + InTestKey(L"NoRemove VmOfcXRegistrarTest { " + std::wstring(wszMistake) + L" }");
    SCOPED_TRACE(::testing::Message() << "script with: " << wszMistake);
    EXPECT_EQ(E_REGISTRY_SCRIPT_SYNTAX, RunRegistryScript(wsScript, {{L"MODULE", L"x"}}, true));
    EXPECT_EQ(CRegistryTree{}, TestTree());
  }
  EXPECT_EQ(E_REGISTRY_SCRIPT_SYNTAX, RunRegistryScript(wsValid + L"HKXX { }", {}, true));
  EXPECT_EQ(E_REGISTRY_SCRIPT_SYNTAX, RunRegistryScript(wsValid + L"HKLM", {}, true));
  EXPECT_EQ(CRegistryTree{}, TestTree());
}

}  // namespace
