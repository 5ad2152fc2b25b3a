// The compose add-in's ribbon documents as Office asks the installed module for them: ribbon ids
// in any letter case.
#include <gtest/gtest.h>

#include <string>

#include "Installation.h"
#include "VmOfcX_h.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "hosts/OfficeAddIn.h"

namespace {

class ComposeRibbonMarkupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CLSID clsid = {};
    ASSERT_EQ(S_OK, CLSIDFromString(kModuleClasses[0].wszClsid, &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IComposeRibbon,
                                     reinterpret_cast<void**>(&m_cpRibbon)));
    ASSERT_EQ(S_OK, m_cpRibbon->QueryInterface(Office::IID_IRibbonExtensibility,
                                               reinterpret_cast<void**>(&m_cpExtensibility)));
  }
  void TearDown() override {
    m_cpExtensibility.Release();
    m_cpRibbon.Release();
    CoUninitialize();
  }
  std::wstring CustomUI(const wchar_t* wszRibbonId) {
    CComBSTR bsXml;
    EXPECT_EQ(S_OK, m_cpExtensibility->GetCustomUI(CComBSTR(wszRibbonId), &bsXml)) << wszRibbonId;
    return bsXml.c_str() ? bsXml.c_str() : L"";
  }
  CComPtr<IComposeRibbon> m_cpRibbon;
  CComPtr<Office::IRibbonExtensibility> m_cpExtensibility;
};

TEST_F(ComposeRibbonMarkupTest, RibbonIdsInAnyCaseGetTheirDocuments) {
  const std::wstring wsCompose = CustomUI(L"microsoft.outlook.mail.compose");
  EXPECT_NE(std::wstring::npos, wsCompose.find(L"idMso=\"TabNewMailMessage\""));
  EXPECT_NE(std::wstring::npos, wsCompose.find(L"CustomSplitButton"));
  const std::wstring wsExplorer = CustomUI(L"MICROSOFT.OUTLOOK.EXPLORER");
  EXPECT_NE(std::wstring::npos, wsExplorer.find(L"idMso=\"TabMail\""));
  EXPECT_EQ(std::wstring::npos, wsExplorer.find(L"CustomMenuSign"));
}

}  // namespace
