// The signature provider with the installed module's strings, bitmaps and dialogs: the setup of a
// signature line, the signing ceremony with the user's certificate, and the line's images.
#include <string>
#include <vector>

#include "../../sim/host/MemoryStreams.h"
#include "../support/SignatureObjects.h"
#include "UiFixture.h"
#include "com/Variant.h"
#include "documents/SignatureOptions.h"
#include "documents/SignatureProvider.h"
#include "module/Branding.h"
#include "module/CertLibrary.h"
#include "module/Settings.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"

namespace {

using namespace UiDriver;

using SignatureFakes::CInfo;
using SignatureFakes::CSetup;
using SignatureFakes::Make;

// 32-bit pixels of a bitmap, top row first.
struct CPixels {
  explicit CPixels(HBITMAP hBitmap) {
    BITMAP bm = {};
    if (!hBitmap || !GetObjectW(hBitmap, sizeof(bm), &bm)) return;
    cx = bm.bmWidth;
    cy = bm.bmHeight;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), cx, -cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    pixels.resize(static_cast<size_t>(cx) * cy);
    HDC hdc = GetDC(nullptr);
    GetDIBits(hdc, hBitmap, 0, cy, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, hdc);
  }
  // How many pixels of the rectangle differ from the other picture's.
  int Differing(const CPixels& other, const RECT& rc) const {
    int n = 0;
    for (LONG y = rc.top; y < rc.bottom && y < cy; ++y)
      for (LONG x = rc.left; x < rc.right && x < cx; ++x)
        n += (pixels[y * cx + x] & 0xFFFFFF) != (other.pixels[y * other.cx + x] & 0xFFFFFF);
    return n;
  }
  LONG cx = 0;
  LONG cy = 0;
  std::vector<DWORD> pixels;
};

constexpr RECT kBodyLine1 = {8, 98, 400, 113};
constexpr RECT kBodyLine2 = {8, 113, 400, 128};
constexpr RECT kSignerName = {106, 50, 400, 86};
constexpr RECT kSigningDate = {200, 5, 395, 34};
constexpr UINT kBackgrounds[] = {IDB_SIGLINE_SOFTWARE_REQUIRED, IDB_SIGLINE_UNSIGNED, IDB_SIGLINE_SIGNED_VALID,
                                 IDB_SIGLINE_SIGNED_INVALID};

class SignatureProviderUiTest : public CUiTest {
 protected:
  void SetUp() override {
    CUiTest::SetUp();
    ForgetUserSettings();
    OleInitialize(nullptr);
    ASSERT_EQ(S_OK, CreateComObject<CSignatureProvider>(nullptr, Office::IID_SignatureProvider,
                                                        reinterpret_cast<void**>(&m_cpProvider)));
  }
  void TearDown() override {
    m_cpProvider.Release();
    g_bAddingSignature = false;
    OleUninitialize();
    CUiTest::TearDown();
  }

  // The picture of a kind of image, and its background.
  HRESULT Image(Office::SignatureLineImage kind, CSetup* pSetup, CInfo* pInfo, CPixels* pImage, CPixels* pBackground) {
    CComPtr<IPictureDisp> cpPictureDisp;
    const HRESULT hr = m_cpProvider->GenerateSignatureLineImage(kind, pSetup, pInfo, nullptr, &cpPictureDisp);
    CComPtr<IPicture> cpPicture;
    OLE_HANDLE hPicture = 0;
    if (cpPictureDisp && SUCCEEDED(cpPictureDisp->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&cpPicture))))
      cpPicture->get_Handle(&hPicture);
    *pImage = CPixels(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(hPicture)));
    if (kind >= 0 && kind < static_cast<int>(ARRAYSIZE(kBackgrounds))) {
      const HBITMAP hBackground = static_cast<HBITMAP>(LoadImageW(
          CBranding::LoadResourceDLL(), MAKEINTRESOURCEW(kBackgrounds[kind]), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
      *pBackground = CPixels(hBackground);
      DeleteObject(hBackground);
    }
    return hr;
  }

  // Runs an operation while drive answers the dialog that it opens.
  HRESULT Driven(const std::function<HRESULT()>& operation, const std::function<void(HWND)>& drive) {
    HRESULT hr = E_UNEXPECTED;
    RunDrivenCall(
        [&] {
          hr = operation();
          return INT_PTR{0};
        },
        drive);
    return hr;
  }

  static PCCERT_CONTEXT OwnCertificate() {
    const CCertLibrary certLib;
    PCCERT_CONTEXT pCert = nullptr;
    certLib.CM_GetMyCert(&pCert);
    return pCert;
  }

  CComPtr<Office::SignatureProvider> m_cpProvider;
};

TEST_F(SignatureProviderUiTest, EachKindOfLineImageShowsItsTextsOnItsBackground) {
  CComPtr<CSetup> cpSetup = Make<CSetup>();
  CComPtr<CInfo> cpInfo = Make<CInfo>();
  cpSetup->m_values[L"SigningInstructions"] = CComVariant(L"Check the figures.");
  cpSetup->m_values[L"SuggestedSigner"] = CComVariant(L"Mia Example");
  cpInfo->m_values[L"SignatureText"] = CComVariant(L"Mia Example");
  cpInfo->m_values[L"SignatureComment"] = CComVariant(L"Approved");
  CPixels image(nullptr), background(nullptr);
  // Office's order: the software-required image without setup, the unsigned one before signing.
  const std::pair<Office::SignatureLineImage, CInfo*> kinds[] = {{Office::siglnimgSoftwareRequired, nullptr},
                                                                 {Office::siglnimgUnsigned, nullptr},
                                                                 {Office::siglnimgSignedValid, cpInfo},
                                                                 {Office::siglnimgSignedInvalid, cpInfo}};
  for (const auto& [kind, pInfo] : kinds) {
    ASSERT_EQ(S_OK, Image(kind, kind == Office::siglnimgSoftwareRequired ? nullptr : cpSetup.Get(), pInfo, &image,
                          &background))
        << kind;
    EXPECT_EQ(400, image.cx) << kind;
    EXPECT_EQ(130, image.cy) << kind;
    EXPECT_GT(image.Differing(background, kBodyLine1), 20) << kind;
    // The suggested signer while nobody has signed; the signer's name after.
    EXPECT_EQ(kind != Office::siglnimgSoftwareRequired, image.Differing(background, kSignerName) > 20) << kind;
    EXPECT_EQ(0, image.Differing(background, kSigningDate)) << kind;
  }
  CComPtr<IPictureDisp> cpPicture;
  EXPECT_EQ(E_NOTIMPL,
            m_cpProvider->GenerateSignatureLineImage(Office::siglnimgSigned, cpSetup, cpInfo, nullptr, &cpPicture));
  EXPECT_EQ(nullptr, cpPicture.Get());
}

TEST_F(SignatureProviderUiTest, ASignedLineShowsTheSignerAndTheDateOnlyWhenTheSetupAsksForIt) {
  CComPtr<CSetup> cpSetup = Make<CSetup>();
  CComPtr<CInfo> cpInfo = Make<CInfo>();
  cpInfo->m_values[L"SignatureText"] = CComVariant(L"Mia Example");
  cpInfo->m_values[L"SignatureComment"] = CComVariant(L"Approved");
  cpInfo->SetSigningTime({2024, 5, 3, 1, 10, 0, 0, 0});
  CPixels image(nullptr), background(nullptr);
  for (const bool bShowSignDate : {false, true}) {
    cpSetup->m_values[L"ShowSignDate"] = CComVariant(bShowSignDate);
    ASSERT_EQ(S_OK, Image(Office::siglnimgSignedValid, cpSetup, cpInfo, &image, &background));
    EXPECT_GT(image.Differing(background, kSignerName), 50);
    EXPECT_EQ(bShowSignDate, image.Differing(background, kSigningDate) > 20) << bShowSignDate;
    EXPECT_GT(image.Differing(background, kBodyLine1), 20);
    EXPECT_EQ(0, image.Differing(background, kBodyLine2));
  }
}

TEST_F(SignatureProviderUiTest, TheCommentTakesTwoLinesWhenItHasALineFeedOrIsTooLongForOne) {
  CComPtr<CInfo> cpInfo = Make<CInfo>();
  cpInfo->m_values[L"SignatureText"] = CComVariant(L"Mia Example");
  CPixels image(nullptr), background(nullptr);
  const std::wstring wsLong(120, L'W');
  const std::pair<std::wstring, bool> comments[] = {{L"Director\nKey unlocked with a password", true},
                                                    {L"Approved", false},
                                                    {L"Approved for the board " + wsLong, true},
                                                    {L"", false}};
  for (const auto& [wsComment, bTwoLines] : comments) {
    cpInfo->m_values[L"SignatureComment"] = CComVariant(wsComment.c_str());
    ASSERT_EQ(S_OK, Image(Office::siglnimgSignedValid, nullptr, cpInfo, &image, &background));
    EXPECT_EQ(!wsComment.empty(), image.Differing(background, kBodyLine1) > 20) << wsComment;
    EXPECT_EQ(bTwoLines, image.Differing(background, kBodyLine2) > 20) << wsComment;
  }
}

TEST_F(SignatureProviderUiTest, ANewLineIsSetUpInTheDialogAndCancellingChangesNothing) {
  CComPtr<CSetup> cpSetup = Make<CSetup>();
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED),
            Driven([&] { return m_cpProvider->ShowSignatureSetup(nullptr, cpSetup); },
                   [](HWND hDlg) {
                     EXPECT_EQ(LoadResourceString(IDS_SIGLINE_INSTRUCTIONS), Text(hDlg, IDC_SIGNING_INSTRUCTIONS));
                     EXPECT_EQ(L"", Text(hDlg, IDC_SUGGESTED_SIGNER));
                     EXPECT_TRUE(IsChecked(hDlg, IDC_SHOW_SIGN_DATE));
                     EXPECT_FALSE(IsChecked(hDlg, IDC_ADD_TITLE));
                     Click(hDlg, IDCANCEL);
                   }));
  EXPECT_EQ(VT_EMPTY, V_VT(&cpSetup->m_values[L"SuggestedSigner"]));
  EXPECT_EQ(VT_EMPTY, V_VT(&cpSetup->m_values[L"AdditionalXml"]));

  EXPECT_EQ(S_OK, Driven([&] { return m_cpProvider->ShowSignatureSetup(nullptr, cpSetup); },
                         [](HWND hDlg) {
                           SetText(hDlg, IDC_SUGGESTED_SIGNER, L"Mia Example");
                           SetChecked(hDlg, IDC_SHOW_SIGN_DATE, false);
                           SetChecked(hDlg, IDC_ADD_TITLE, true);
                           Click(hDlg, IDOK);
                         }));
  EXPECT_EQ(L"Mia Example", cpSetup->String(L"SuggestedSigner"));
  EXPECT_EQ(LoadResourceString(IDS_SIGLINE_INSTRUCTIONS), cpSetup->String(L"SigningInstructions"));
  EXPECT_EQ(VARIANT_FALSE, V_BOOL(&cpSetup->m_values[L"ShowSignDate"]));
  EXPECT_EQ(VARIANT_TRUE, V_BOOL(&cpSetup->m_values[L"AllowComments"]));
  const CComBSTR bsXml(cpSetup->String(L"AdditionalXml").c_str());
  EXPECT_TRUE(CSignatureOptions(bsXml).m_bAddTitle) << bsXml.c_str();

  // Set up before: the dialog shows the line's values.
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED),
            Driven([&] { return m_cpProvider->ShowSignatureSetup(nullptr, cpSetup); },
                   [](HWND hDlg) {
                     EXPECT_EQ(L"Mia Example", Text(hDlg, IDC_SUGGESTED_SIGNER));
                     EXPECT_FALSE(IsChecked(hDlg, IDC_SHOW_SIGN_DATE));
                     EXPECT_TRUE(IsChecked(hDlg, IDC_ADD_TITLE));
                     Click(hDlg, IDCANCEL);
                   }));
}

TEST_F(SignatureProviderUiTest, AReadOnlySetupOrALineAddedBeforeIsNotChanged) {
  CComPtr<CSetup> cpSetup = Make<CSetup>();
  cpSetup->m_values[L"ReadOnly"] = CComVariant(true);
  std::wstring wsMessage;
  const auto readAndClose = [&](HWND hDlg) {
    wsMessage = StaticTexts(hDlg);
    Click(hDlg, IDOK);
  };
  EXPECT_EQ(S_OK, Driven([&] { return m_cpProvider->ShowSignatureSetup(nullptr, cpSetup); }, readAndClose));
  EXPECT_NE(std::wstring::npos, wsMessage.find(LoadResourceString(IDS_MSG_SIGLINE_READ_ONLY)));
  EXPECT_EQ(VT_EMPTY, V_VT(&cpSetup->m_values[L"AdditionalXml"]));

  cpSetup->m_values[L"ReadOnly"] = CComVariant(false);
  cpSetup->m_values[L"AdditionalXml"] = CComVariant(L"<VelmoraSignature AddTitle='0'/>");
  g_bAddingSignature = true;
  wsMessage.clear();
  EXPECT_EQ(S_OK, Driven([&] { return m_cpProvider->ShowSignatureSetup(nullptr, cpSetup); }, readAndClose));
  EXPECT_NE(std::wstring::npos, wsMessage.find(LoadResourceString(IDS_MSG_SIGLINE_READ_ONLY)));
  EXPECT_EQ(VT_EMPTY, V_VT(&cpSetup->m_values[L"SuggestedSigner"]));
}

class SignatureCeremonyTest : public SignatureProviderUiTest {
 protected:
  void SetUp() override {
    SignatureProviderUiTest::SetUp();
    ForgetUserCertificates();
    MakeOwnCertificate(L"mia@tessaly.test", L"Mia Example");
  }
};

TEST_F(SignatureCeremonyTest, TheRibbonsLineIsSetUpFromTheSettingsWithoutADialog) {
  WriteUserSetting(kDocumentSecurity, 0x18);
  g_bAddingSignature = true;
  CComPtr<CSetup> cpSetup = Make<CSetup>();
  EXPECT_EQ(S_OK, m_cpProvider->ShowSignatureSetup(nullptr, cpSetup));
  EXPECT_EQ(L"Mia Example", cpSetup->String(L"SuggestedSigner"));
  EXPECT_EQ(LoadResourceString(IDS_SIGLINE_INSTRUCTIONS), cpSetup->String(L"SigningInstructions"));
  EXPECT_EQ(VARIANT_FALSE, V_BOOL(&cpSetup->m_values[L"ShowSignDate"]));
  EXPECT_EQ(VARIANT_TRUE, V_BOOL(&cpSetup->m_values[L"AllowComments"]));
  const CComBSTR bsXml(cpSetup->String(L"AdditionalXml").c_str());
  EXPECT_TRUE(CSignatureOptions(bsXml).m_bAddTitle) << bsXml.c_str();
}

TEST_F(SignatureCeremonyTest, TheSignatureNamesTheSignerAndHowTheKeyWasUnlocked) {
  CCertContext pCert(OwnCertificate());
  ASSERT_NE(nullptr, static_cast<PCCERT_CONTEXT>(pCert));
  HCRYPTPROV hProv = 0;
  DWORD dwKeySpec = 0;
  BOOL bFree = FALSE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(pCert, 0, nullptr, &hProv, &dwKeySpec, &bFree));
  const DWORD dwAuth = 5;
  EXPECT_TRUE(CryptSetProvParam(hProv, VM_PP_KEY_CLASS, reinterpret_cast<const BYTE*>(&dwAuth), VM_PP_ACCESS));
  if (bFree) CryptReleaseContext(hProv, 0);
  BYTE thumbprint[20] = {};
  DWORD cbThumbprint = sizeof(thumbprint);
  ASSERT_TRUE(CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, thumbprint, &cbThumbprint));
  wchar_t wszHex[41] = {};
  for (DWORD i = 0; i < cbThumbprint; ++i) swprintf(wszHex + 2 * i, 3, L"%02X", thumbprint[i]);

  WriteUserString(kSignerTitle, L"Director");
  for (const bool bAddTitle : {false, true}) {
    CComPtr<CSetup> cpSetup = Make<CSetup>();
    CComPtr<CInfo> cpInfo = Make<CInfo>();
    CSignatureOptions options(nullptr);
    options.m_bAddTitle = bAddTitle;
    cpSetup->m_values[L"AdditionalXml"] = CComVariant(options.GetXML().c_str());
    ASSERT_EQ(S_OK, m_cpProvider->ShowSigningCeremony(nullptr, cpSetup, cpInfo));
    EXPECT_EQ(L"Mia Example", cpInfo->String(L"SignatureText"));
    const std::wstring wsUnlock = LoadResourceString(IDS_UNLOCK_STRONG_PASSWORD);
    EXPECT_EQ(bAddTitle ? L"Director\n" + wsUnlock : wsUnlock, cpInfo->String(L"SignatureComment"));
    EXPECT_EQ(wszHex, cpInfo->String(L"Thumbprint"));
  }
}

TEST_F(SignatureCeremonyTest, CancellingTheCertificateChoiceShowsNoMessage) {
  MakeOwnCertificate(L"mia.second@tessaly.test", L"Mia Second");
  CComPtr<CInfo> cpInfo = Make<CInfo>();
  std::vector<std::wstring> others;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED),
            Driven([&] { return m_cpProvider->ShowSigningCeremony(nullptr, nullptr, cpInfo); },
                   [&](HWND hChooser) {
                     Click(hChooser, IDCANCEL);
                     WaitUntilGone(hChooser);
                     // Anything that comes after the choice is a message, answered and kept.
                     while (HWND hDlg = WaitForDialog(GetCurrentProcessId(), L"", 2000)) {
                       others.push_back(StaticTexts(hDlg));
                       Click(hDlg, IDOK);
                       WaitUntilGone(hDlg);
                     }
                   }));
  EXPECT_TRUE(others.empty()) << others.front();
  EXPECT_EQ(VT_EMPTY, V_VT(&cpInfo->m_values[L"SignatureText"]));
}

TEST_F(SignatureCeremonyTest, DetailsOfASignatureThatCannotBeReadComeFromOfficesResults) {
  CCertContext pCert(OwnCertificate());
  ASSERT_NE(nullptr, static_cast<PCCERT_CONTEXT>(pCert));
  CComPtr<CInfo> cpInfo = Make<CInfo>();
  cpInfo->SetSigningTime({2024, 5, 3, 1, 10, 0, 0, 0});
  const std::string damaged = "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>";
  for (const LONG lContent : {Office::contverresValid, Office::contverresModified}) {
    cpInfo->m_values[L"ContentVerificationResults"] = CComVariant(lContent);
    cpInfo->m_values[L"CertificateVerificationResults"] = CComVariant(LONG{Office::certverresValid});
    // The signer is found by the thumbprint that Office keeps, in the user's own store.
    ASSERT_EQ(S_OK, m_cpProvider->ShowSigningCeremony(nullptr, nullptr, cpInfo));
    cpInfo->m_values[L"SignatureComment"] = CComVariant(L"Approved\nSee page 2");
    CComPtr<IStream> cpStream = MemoryStream(std::vector<BYTE>(damaged.begin(), damaged.end()));
    EXPECT_EQ(
        S_OK,
        Driven([&] { return m_cpProvider->ShowSignatureDetails(nullptr, nullptr, cpInfo, cpStream, nullptr, nullptr); },
               [&](HWND hDlg) {
                 EXPECT_EQ(LoadResourceString(lContent == Office::contverresValid ? IDS_SIGNATURE_VALID
                                                                                  : IDS_SIGNATURE_INVALID),
                           Text(hDlg, IDC_SIGNATURE_STATUS));
                 EXPECT_NE(std::wstring::npos, Text(hDlg, IDC_SIGNER).find(L"Mia Example"));
                 EXPECT_EQ(L"Approved\r\nSee page 2", Text(hDlg, IDC_COMMENT));
                 Click(hDlg, IDCANCEL);
               }))
        << lContent;
  }
  // Without a thumbprint there is nobody to show.
  cpInfo->m_values[L"Thumbprint"].Clear();
  CComPtr<IStream> cpStream = MemoryStream();
  EXPECT_EQ(DISP_E_TYPEMISMATCH,
            m_cpProvider->ShowSignatureDetails(nullptr, nullptr, cpInfo, cpStream, nullptr, nullptr));
}

}  // namespace
