#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "../support/RegistrySandbox.h"
#include "com/Bstr.h"
#include "fixtures/TestStrings.h"
#include "module/AddInModule.h"
#include "module/Branding.h"
#include "module/MessageBox.h"
#include "module/ResourceStrings.h"

namespace {

constexpr LANGID kEnglishUS = 1033;
constexpr LANGID kGermanGermany = 1031;

std::wstring TestsFolder() {
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
  std::wstring wsPath(wszPath);
  return wsPath.substr(0, wsPath.rfind(L'\\') + 1);
}

// unit_tests.exe plays the module: its satellites lie in language folders beside it, and the
// English one is its resource module, as DllMain makes it for VmOfcX.dll.
class ResourceStringsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const HMODULE hExe = GetModuleHandleW(nullptr);
    m_module.SetModuleInstance(hExe);
    m_hSatellite = LoadResourceModule(hExe, kEnglishUS);
    ASSERT_NE(nullptr, m_hSatellite) << "en-US\\unit_tests.exe.mui missing";
    m_module.SetResourceInstance(m_hSatellite);
  }
  void TearDown() override { FreeLibrary(m_hSatellite); }

  CAddInModule m_module{{}};
  HMODULE m_hSatellite = nullptr;
};

TEST_F(ResourceStringsTest, ASpecificLanguageFallsBackToItsNeutralLanguage) {
  for (LANGID wLang : {3076, 1028, 5124})
    EXPECT_EQ(L"Traditional Chinese", LoadResourceString(IDS_TEST_TRADITIONAL_CHINESE, wLang)) << wLang;
  EXPECT_EQ(L"Traditional Chinese", LoadResourceString(IDS_TEST_TRADITIONAL_CHINESE, LANG_ZH_HANT));
  EXPECT_EQ(L"German, neutral", LoadResourceString(IDS_TEST_GERMAN_NEUTRAL, kGermanGermany));
  EXPECT_EQ(L"German, neutral", LoadResourceString(IDS_TEST_GERMAN_NEUTRAL, 3079));
  // The language's own satellite comes before its fallback.
  EXPECT_EQ(L"German, Germany satellite", LoadResourceString(IDS_TEST_GERMAN_BOTH, kGermanGermany));
  EXPECT_EQ(L"German, neutral satellite", LoadResourceString(IDS_TEST_GERMAN_BOTH, LANG_GERMAN));
}

TEST_F(ResourceStringsTest, TheResourceModulesAnswerOnlyInTheirOwnLanguage) {
  // With neutral German as the resource module, German (Germany) still reaches its satellite.
  const HMODULE hGerman = LoadResourceModule(GetModuleHandleW(nullptr), LANG_GERMAN);
  ASSERT_NE(nullptr, hGerman);
  m_module.SetResourceInstance(hGerman);
  EXPECT_EQ(L"German, Germany satellite", LoadResourceString(IDS_TEST_GERMAN_BOTH, kGermanGermany));
  EXPECT_EQ(L"German, neutral satellite", LoadResourceString(IDS_TEST_GERMAN_BOTH));
  m_module.SetResourceInstance(m_hSatellite);
  FreeLibrary(hGerman);
}

TEST_F(ResourceStringsTest, AStringMissingInTheLanguageComesFromTheResourceModules) {
  EXPECT_EQ(L"English only", LoadResourceString(IDS_TEST_ENGLISH_ONLY, kGermanGermany));
  EXPECT_EQ(L"English only", LoadResourceString(IDS_TEST_ENGLISH_ONLY, LANG_ZH_HANT));
  EXPECT_EQ(L"English only", LoadResourceString(IDS_TEST_ENGLISH_ONLY));
  // A fallback never crosses into another language's satellite.
  EXPECT_EQ(L"", LoadResourceString(IDS_TEST_TRADITIONAL_CHINESE, kGermanGermany));
  EXPECT_EQ(L"", LoadResourceString(IDS_TEST_GERMAN_NEUTRAL));
  EXPECT_EQ(L"", LoadResourceString(IDS_TEST_GERMAN_NEUTRAL + 1000));
}

TEST_F(ResourceStringsTest, NeutralArabicIsNeverLoaded) {
  const HMODULE hExe = GetModuleHandleW(nullptr);
  // The "ar" satellite exists, as the neutral German one does.
  EXPECT_EQ(nullptr, LoadResourceModule(hExe, LANG_ARABIC));
  const HMODULE hGerman = LoadResourceModule(hExe, LANG_GERMAN);
  EXPECT_NE(nullptr, hGerman);
  FreeLibrary(hGerman);
  EXPECT_EQ(nullptr, LoadResourceModule(hExe, MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN)));
  EXPECT_EQ(L"", LoadResourceString(IDS_TEST_ARABIC, MAKELANGID(LANG_ARABIC, SUBLANG_ARABIC_SAUDI_ARABIA)));
}

TEST_F(ResourceStringsTest, EveryBrandTokenOfAStringIsReplaced) {
  const std::wstring wsProduct = GetBrandString(IDS_BRAND_PRODUCT);
  const std::wstring wsExpected = wsProduct + L" protects mail; " + wsProduct + L" protects documents.";
  EXPECT_EQ(wsExpected, LoadResourceString(IDS_TEST_REPEATED_TOKEN));
  EXPECT_EQ(L"Plain text, <<% PN %>> is no token.", LoadResourceString(IDS_TEST_NO_TOKEN));

  CComBSTR bsText;
  bsText.Attach(LoadResourceStringBSTR(IDS_TEST_REPEATED_TOKEN));
  EXPECT_EQ(wsExpected, std::wstring(bsText.c_str(), bsText.Length()));
}

TEST_F(ResourceStringsTest, MessageBoxesShowTheLocalisedTextUnderTheCaption) {
  int iAnswer = 0;
  std::thread worker([&iAnswer] { iAnswer = VmMessageBox(nullptr, IDS_TEST_QUESTION, IDS_TEST_CAPTION, MB_YESNO); });
  HWND hBox = nullptr;
  for (int i = 0; i < 400 && !hBox; ++i) {
    hBox = FindWindowW(L"#32770", LoadResourceString(IDS_TEST_CAPTION).c_str());
    if (!hBox) Sleep(25);
  }
  ASSERT_NE(nullptr, hBox) << "no message box appeared";
  wchar_t wszText[100] = {};
  GetDlgItemTextW(hBox, 0xFFFF, wszText, 100);
  EXPECT_STREQ(L"Shall the test go on?", wszText);
  EXPECT_NE(nullptr, GetDlgItem(hBox, IDYES));
  SendMessageW(GetDlgItem(hBox, IDNO), BM_CLICK, 0, 0);
  worker.join();
  EXPECT_EQ(IDNO, iAnswer);
}

class BrandingTest : public ::testing::Test {
 protected:
  static void SetDllPath(const wchar_t* wszKey, const std::wstring& wsPath) {
    const DWORD cbPath = static_cast<DWORD>((wsPath.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, wszKey, L"DLLPath", REG_SZ, wsPath.c_str(), cbPath));
  }

  static constexpr wchar_t kProductKey[] = L"SOFTWARE\\Velmora\\Applications\\Tessaly\\Branding";
  static constexpr wchar_t kCommonKey[] = L"SOFTWARE\\Velmora\\Branding\\Common";
  CRegistrySandbox m_sandbox;
};

TEST_F(BrandingTest, TokensAreReplacedOneAfterAnotherAndReplacementsAreNotSearchedAgain) {
  SetDllPath(kProductKey, TestsFolder() + L"TestBranding.dll");
  const CBranding branding;
  ASSERT_NE(nullptr, branding.GetModule());
  // "<<%PF%>>" becomes "F<<%SP%>>", whose token is replaced in the later pass; "<<%SP%>>"
  // becomes "S<<%PF%>>", whose pass is over; "<<%PN%>>" becomes "N<<%PN%>>" once.
  std::wstring wsText = L"<<%PF%>>|<<%SP%>>|<<%PN%>>|<<%BR%>> <<%UD%>> <<%UF%>> <<%UA%>>";
  ReplaceBrandTokens(wsText, branding);
  EXPECT_EQ(L"FS<<%PF%>>|S<<%PF%>>|N<<%PN%>>|Brand D Q A", wsText);
}

TEST_F(BrandingTest, TheCommonKeyNamesTheDllWhenTheProductHasNone) {
  SetDllPath(kCommonKey, TestsFolder() + L"TestBranding.dll");
  EXPECT_EQ(L"Brand", CBranding().GetString(IDS_BRAND_BRAND));
}

TEST_F(BrandingTest, AMissingDllLeavesEmptyBrandStrings) {
  EXPECT_EQ(nullptr, CBranding().GetModule());
  SetDllPath(kProductKey, TestsFolder() + L"NoSuchBranding.dll");
  SetDllPath(kCommonKey, TestsFolder() + L"TestBranding.dll");
  const CBranding branding;
  EXPECT_EQ(nullptr, branding.GetModule());
  EXPECT_EQ(L"", branding.GetString(IDS_BRAND_PRODUCT));
  std::wstring wsText = L"<<%PN%>> and <<%BR%>>!";
  ReplaceBrandTokens(wsText, branding);
  EXPECT_EQ(L" and !", wsText);
}

}  // namespace
