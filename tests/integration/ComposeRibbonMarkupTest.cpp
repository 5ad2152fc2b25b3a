// The compose add-in's ribbon documents and images as Office asks the installed module for them:
// ribbon ids and image ids in any letter case.
#include <gtest/gtest.h>
#include <olectl.h>

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

// The width and height of a picture's icon, as "WxH"; empty when it holds none.
std::wstring IconSize(IPictureDisp* pPicture) {
  CComPtr<IPicture> cpPicture;
  OLE_HANDLE hHandle = 0;
  ICONINFO info = {};
  if (!pPicture || FAILED(pPicture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&cpPicture))) ||
      FAILED(cpPicture->get_Handle(&hHandle)) ||
      !GetIconInfo(reinterpret_cast<HICON>(static_cast<UINT_PTR>(hHandle)), &info))
    return L"";
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  const LONG cy = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return std::to_wstring(bitmap.bmWidth) + L"x" + std::to_wstring(cy);
}

TEST_F(ComposeRibbonMarkupTest, EveryImageIdInAnyCaseLoadsItsIconAtItsSize) {
  const struct {
    const wchar_t* wszId;
    const wchar_t* wszSize;
  } kImages[] = {{L"ButtonImage", L"32x32"}, {L"RequestCertImage", L"16x16"}, {L"SignImage", L"16x16"},
                 {L"SealImage", L"16x16"},   {L"InviteImage", L"16x16"},      {L"BatchInviteImage", L"16x16"},
                 {L"ManageImage", L"16x16"}, {L"BuddiesImage", L"16x16"},     {L"OptionsImage", L"16x16"},
                 {L"HelpImage", L"16x16"}};
  for (const auto& image : kImages) {
    std::wstring wsUpper = image.wszId, wsLower = image.wszId;
    for (wchar_t& wch : wsUpper) wch = towupper(wch);
    for (wchar_t& wch : wsLower) wch = towlower(wch);
    for (const std::wstring& wsId : {std::wstring(image.wszId), wsUpper, wsLower}) {
      CComBSTR bsId(wsId.c_str());
      BSTR bsIn = bsId;  // the callback reads the id through the pointer
      CComPtr<IPictureDisp> cpPicture;
      EXPECT_EQ(S_OK, m_cpRibbon->Ribbon_OnLoadImage(&bsIn, &cpPicture)) << wsId;
      EXPECT_EQ(image.wszSize, IconSize(cpPicture)) << wsId;
    }
  }
  // Ids of the document ribbon's images and near misses are not the mail ribbons'.
  for (const wchar_t* wszId : {L"EncryptImage", L"SealImage ", L"Seal", L""}) {
    CComBSTR bsId(wszId);
    BSTR bsIn = bsId;
    CComPtr<IPictureDisp> cpPicture;
    EXPECT_EQ(E_NOTIMPL, m_cpRibbon->Ribbon_OnLoadImage(&bsIn, &cpPicture)) << wszId;
    EXPECT_EQ(nullptr, cpPicture.Get());
  }
}

}  // namespace
