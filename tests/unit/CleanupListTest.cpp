#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "module/CleanupList.h"

namespace {

// Points "VelmoraPath" at a private folder for the test and puts the old value back.
class CleanupListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora", 0, nullptr, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &m_hKey, nullptr));
    DWORD cb = sizeof(m_wszSaved);
    m_bHadValue =
        RegQueryValueExW(m_hKey, L"VelmoraPath", nullptr, nullptr, reinterpret_cast<BYTE*>(m_wszSaved), &cb) ==
        ERROR_SUCCESS;
    wchar_t wszTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, wszTemp);
    m_wsFolder = std::wstring(wszTemp) + L"VmOfcXCleanupTest";
    CreateDirectoryW(m_wsFolder.c_str(), nullptr);
    m_wsFile = m_wsFolder + L"\\Cleanup.txt";
    DeleteFileW(m_wsFile.c_str());
    SetPath(m_wsFolder);
  }
  void TearDown() override {
    if (m_bHadValue)
      SetPath(m_wszSaved);
    else
      RegDeleteValueW(m_hKey, L"VelmoraPath");
    RegCloseKey(m_hKey);
    DeleteFileW(m_wsFile.c_str());
    RemoveDirectoryW(m_wsFolder.c_str());
  }
  void SetPath(const std::wstring& wsPath) {
    RegSetValueExW(m_hKey, L"VelmoraPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(wsPath.c_str()),
                   static_cast<DWORD>((wsPath.size() + 1) * sizeof(wchar_t)));
  }
  void SetRaw(DWORD dwType, const void* pData, DWORD cb) {
    RegSetValueExW(m_hKey, L"VelmoraPath", 0, dwType, static_cast<const BYTE*>(pData), cb);
  }
  std::string ReadFileBytes() const {
    std::ifstream file(std::filesystem::path(m_wsFile), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  void WriteFileBytes(const std::string& sBytes) const {
    std::ofstream(std::filesystem::path(m_wsFile), std::ios::binary) << sBytes;
  }
  // The UTF-16LE bytes of an ASCII text.
  static std::string Utf16(const std::string& sText) {
    std::string sBytes;
    for (char ch : sText) sBytes += {ch, '\0'};
    return sBytes;
  }
  static inline const std::string kMark = "\xFF\xFE";

  HKEY m_hKey = nullptr;
  wchar_t m_wszSaved[MAX_PATH] = {};
  bool m_bHadValue = false;
  std::wstring m_wsFolder, m_wsFile;
};

TEST_F(CleanupListTest, LinesCarryOnlyTheFieldsGiven) {
  ASSERT_EQ(S_OK, AddCleanupLine(L"HKU", L"SOFTWARE\\Velmora", CLEANUP_KEY, nullptr));
  ASSERT_EQ(S_OK, AddCleanupLine(L"HKU", L"SOFTWARE\\A", 0, nullptr));
  ASSERT_EQ(S_OK, AddCleanupLine(L"HKU", L"SOFTWARE\\A", CLEANUP_VALUE, L"EmailSecurity"));
  ASSERT_EQ(S_OK, AddCleanupLine(L"HKU", L"SOFTWARE\\A", 0, L""));
  EXPECT_EQ(kMark + Utf16("HKU\tSOFTWARE\\Velmora\t4\r\n"
                          "HKU\tSOFTWARE\\A\r\n"
                          "HKU\tSOFTWARE\\A\t1\tEmailSecurity\r\n"
                          "HKU\tSOFTWARE\\A\t0\t \r\n"),
            ReadFileBytes());
}

TEST_F(CleanupListTest, ForeignOrEmptyFileIsStartedAgain) {
  WriteFileBytes("not a list");
  ASSERT_EQ(S_OK, AddCleanupLine(L"HKU", L"K", 0, nullptr));
  EXPECT_EQ(kMark + Utf16("HKU\tK\r\n"), ReadFileBytes());

  WriteFileBytes("");
  ASSERT_EQ(S_OK, AddCleanupLine(L"HKU", L"K", 0, nullptr));
  EXPECT_EQ(kMark + Utf16("HKU\tK\r\n"), ReadFileBytes());

  WriteFileBytes(kMark + Utf16("old\r\n"));
  ASSERT_EQ(S_OK, AddCleanupLine(L"HKU", L"K", 0, nullptr));
  EXPECT_EQ(kMark + Utf16("old\r\nHKU\tK\r\n"), ReadFileBytes());
}

TEST_F(CleanupListTest, FailuresAreReported) {
  EXPECT_EQ(E_INVALIDARG, AddCleanupLine(nullptr, L"K", 0, nullptr));
  EXPECT_EQ(E_INVALIDARG, AddCleanupLine(L"HKU", L"", 0, nullptr));

  // Another writer holding the file unshared.
  HANDLE hHeld = CreateFileW(m_wsFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), AddCleanupLine(L"HKU", L"K", 0, nullptr));
  CloseHandle(hHeld);

  RegDeleteValueW(m_hKey, L"VelmoraPath");
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), AddCleanupLine(L"HKU", L"K", 0, nullptr));
}

TEST_F(CleanupListTest, InstallPathMustBeATerminatedString) {
  wchar_t wszBuffer[MAX_PATH];
  DWORD cch = MAX_PATH;
  ASSERT_EQ(ERROR_SUCCESS, ReadInstallPath(wszBuffer, &cch, KEY_WOW64_64KEY));
  EXPECT_EQ(m_wsFolder, std::wstring(wszBuffer, cch));

  const DWORD dwNumber = 7;
  SetRaw(REG_DWORD, &dwNumber, sizeof(dwNumber));
  cch = MAX_PATH;
  EXPECT_EQ(ERROR_INVALID_DATA, ReadInstallPath(wszBuffer, &cch, KEY_WOW64_64KEY));

  SetRaw(REG_SZ, L"C:\\x", 3 * sizeof(wchar_t));  // no terminating zero
  cch = MAX_PATH;
  EXPECT_EQ(ERROR_INVALID_DATA, ReadInstallPath(wszBuffer, &cch, KEY_WOW64_64KEY));

  SetRaw(REG_EXPAND_SZ, "C\0:\0\\\0\0", 7);  // odd length
  cch = MAX_PATH;
  EXPECT_EQ(ERROR_INVALID_DATA, ReadInstallPath(wszBuffer, &cch, KEY_WOW64_64KEY));
}

}  // namespace
