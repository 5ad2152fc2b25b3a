#include <gtest/gtest.h>

#include "../support/RegistrySandbox.h"
#include "module/Settings.h"

namespace {

constexpr wchar_t kUserKey[] = L"SOFTWARE\\Velmora\\Applications\\Tessaly";

void SetUserValue(const wchar_t* wszName, DWORD dwType, const void* pvData, DWORD cbData) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kUserKey, wszName, dwType, pvData, cbData));
}

class SettingsTest : public ::testing::Test {
 protected:
  CRegistrySandbox m_sandbox;
};

TEST_F(SettingsTest, WithoutTheKeyEverySettingHasItsDefault) {
  EXPECT_EQ(0u, ReadUserSetting(kEmailSecurity));
  EXPECT_EQ(0u, ReadUserSetting(kDocumentSecurity));
  EXPECT_EQ(0u, GetDocumentSecurity());
  EXPECT_EQ(0u, ReadUserSetting(kShowPublishedCerts));
  EXPECT_EQ(5u, ReadUserSetting(kEmailBalloon));
  EXPECT_EQ(5u, ReadUserSetting(kDocumentBalloon));
  EXPECT_EQ(L"", ReadUserString(kSignerTitle));
  // Reading creates nothing.
  HKEY hKey = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, kUserKey, 0, KEY_READ, &hKey));
}

TEST_F(SettingsTest, WritesCreateTheKeyAndAreSeenByTheNextReader) {
  WriteUserSetting(kEmailSecurity, 5);
  WriteUserSetting(kEmailBalloon, 0);
  WriteUserString(kSignerTitle, L"Head of Accounts");
  EXPECT_EQ(5u, ReadUserSetting(kEmailSecurity));
  EXPECT_EQ(0u, ReadUserSetting(kEmailBalloon));
  EXPECT_EQ(5u, ReadUserSetting(kDocumentBalloon));
  EXPECT_EQ(L"Head of Accounts", ReadUserString(kSignerTitle));

  WriteUserSetting(kEmailSecurity, 1);
  EXPECT_EQ(1u, ReadUserSetting(kEmailSecurity));
}

TEST_F(SettingsTest, ValuesOfAnotherTypeOrSizeGiveTheDefault) {
  SetUserValue(L"EmailBalloon", REG_SZ, L"9", sizeof(L"9"));
  const BYTE abShort[2] = {1, 0};
  SetUserValue(L"DocumentSecurity", REG_BINARY, abShort, sizeof(abShort));
  const DWORD dwTitle = 7;
  SetUserValue(kSignerTitle, REG_DWORD, &dwTitle, sizeof(dwTitle));
  EXPECT_EQ(5u, ReadUserSetting(kEmailBalloon));
  EXPECT_EQ(0u, GetDocumentSecurity());
  EXPECT_EQ(L"", ReadUserString(kSignerTitle));
}

TEST_F(SettingsTest, SignerTitleFitsInTwoHundredSixtyCharacters) {
  const std::wstring wsLongest(259, L'x');
  WriteUserString(kSignerTitle, wsLongest);
  EXPECT_EQ(wsLongest, ReadUserString(kSignerTitle));
  WriteUserString(kSignerTitle, wsLongest + L'y');
  EXPECT_EQ(L"", ReadUserString(kSignerTitle));
  // Stored without its terminating zero, the title still ends where the data ends.
  SetUserValue(kSignerTitle, REG_SZ, L"Clerk", 5 * sizeof(wchar_t));
  EXPECT_EQ(L"Clerk", ReadUserString(kSignerTitle));
}

}  // namespace
