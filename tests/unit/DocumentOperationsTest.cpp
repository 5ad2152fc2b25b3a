// The menu's choices and the ribbon button become the flags of ApplySecurity and the removal
// request that the encryption provider consumes.
#include "documents/DocumentOperations.h"

#include <gtest/gtest.h>

#include "documents/DocumentSecurityFlags.h"
#include "module/Settings.h"

namespace {

class CRecordingOperations final : public CDocumentOperations {
 public:
  HRESULT ApplySecurity(IDispatch*, DWORD dwFlags) override {
    m_dwFlags = dwFlags;
    return S_FALSE;
  }
  bool SignatureLinesUnsupported() const override { return false; }
  DWORD m_dwFlags = 0xFFFFFFFF;
};

class DocumentOperations : public ::testing::Test {
 protected:
  void TearDown() override {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\Applications\\Tessaly", L"DocumentSecurity");
    g_bRemoveEncryptionRequested = false;
  }
  static void SetDocumentSecurity(DWORD dwValue) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\Applications\\Tessaly",
                                             L"DocumentSecurity", REG_DWORD, &dwValue, sizeof(dwValue)));
  }
  CRecordingOperations m_operations;
};

TEST_F(DocumentOperations, ChoicesReplaceTheActionBitsAndKeepTheSignatureLineOptions) {
  SetDocumentSecurity(0x1F);
  struct {
    bool bSign, bEncrypt;
    DWORD dwFlags;
    bool bRemoval;
  } const cases[] = {
      {true, false, 0x1C, false}, {true, true, 0x1D, false}, {false, true, 0x1F, false}, {false, false, 0x1F, true}};
  for (const auto& c : cases) {
    g_bRemoveEncryptionRequested = !c.bRemoval;
    EXPECT_EQ(S_FALSE, m_operations.ApplySecurityChoice(nullptr, c.bSign, c.bEncrypt));
    EXPECT_EQ(c.dwFlags, m_operations.m_dwFlags) << c.bSign << c.bEncrypt;
    EXPECT_EQ(c.bRemoval, g_bRemoveEncryptionRequested) << c.bSign << c.bEncrypt;
  }
}

TEST_F(DocumentOperations, TheButtonAppliesTheSettingAsItStandsAndDropsAPendingRemoval) {
  g_bRemoveEncryptionRequested = true;
  EXPECT_EQ(S_FALSE, m_operations.ApplyDefaultSecurity(nullptr));
  EXPECT_EQ(0u, m_operations.m_dwFlags);
  EXPECT_FALSE(g_bRemoveEncryptionRequested);
  SetDocumentSecurity(0x6);
  EXPECT_EQ(S_FALSE, m_operations.ApplyDefaultSecurity(nullptr));
  EXPECT_EQ(0x6u, m_operations.m_dwFlags);
}

}  // namespace
