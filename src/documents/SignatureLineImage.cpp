// The picture of a signature line, drawn with GDI+ on a background of the branding library.
#include <windows.h>
#include <gdiplus.h>
#include <olectl.h>

#include <memory>
#include <string>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "documents/ProviderCalls.h"
#include "documents/SignatureObjects.h"
#include "documents/SignatureProvider.h"
#include "module/Branding.h"
#include "module/ResourceStrings.h"
#include "res/StringIds.h"

namespace {

constexpr float kTextSize = 11.0f;
constexpr wchar_t kFallbackFace[] = L"Arial";
const Gdiplus::Color kBlack(0xFF000000);
const Gdiplus::Color kSignerBlue(0xFF1F497D);
const Gdiplus::Color kWhite(0xFFFFFFFF);

const Gdiplus::RectF kBodyLine1(8, 98, 392, 15);
const Gdiplus::RectF kBodyLine2(8, 113, 392, 15);
const Gdiplus::RectF kSignerName(106, 0, 294, 86);
const Gdiplus::RectF kSigningDate(0, 5, 395, 29);
const Gdiplus::RectF kSuggestedLabel(106, 56, 294, 15);
const Gdiplus::RectF kSuggestedSigner(106, 71, 294, 15);

struct CImageKind {
  const char* szTrace;
  UINT nBitmap;
  UINT nBodyString;  // 0: the body text comes from the setup or the signature
};

const CImageKind* ImageKind(Office::SignatureLineImage siglnimg) {
  static const CImageKind kinds[] = {
      {"siglnimgSoftwareRequired", IDB_SIGLINE_SOFTWARE_REQUIRED, IDS_SIGLINE_SOFTWARE_REQUIRED},
      {"siglnimgUnsigned", IDB_SIGLINE_UNSIGNED, 0},
      {"siglnimgSignedValid", IDB_SIGLINE_SIGNED_VALID, 0},
      {"siglnimgSignedInvalid", IDB_SIGLINE_SIGNED_INVALID, IDS_SIGLINE_INVALID},
  };
  const int i = static_cast<int>(siglnimg);
  return i >= 0 && i < static_cast<int>(ARRAYSIZE(kinds)) ? &kinds[i] : nullptr;
}

class CGdiplusSession {
 public:
  CGdiplusSession() {
    const Gdiplus::GdiplusStartupInput input;
    m_status = Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
  }
  ~CGdiplusSession() {
    if (m_status == Gdiplus::Ok) Gdiplus::GdiplusShutdown(m_token);
  }
  CGdiplusSession(const CGdiplusSession&) = delete;
  CGdiplusSession& operator=(const CGdiplusSession&) = delete;
  bool Started() const { return m_status == Gdiplus::Ok; }

 private:
  ULONG_PTR m_token = 0;
  Gdiplus::Status m_status;
};

std::unique_ptr<Gdiplus::Font> MakeFont(const std::wstring& wsFace, float fSize, INT iStyle) {
  auto pFont = std::make_unique<Gdiplus::Font>(wsFace.c_str(), fSize, iStyle, Gdiplus::UnitPixel);
  if (pFont->GetLastStatus() != Gdiplus::Ok || !pFont->IsAvailable()) pFont.reset();
  return pFont;
}

std::wstring GuiFontFace() {
  LOGFONTW logFont = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(logFont), &logFont);
  return logFont.lfFaceName;
}

// The system's GUI face; else the sign font's face; else Arial.
std::unique_ptr<Gdiplus::Font> MakeTextFont(const std::wstring& wsGuiFace) {
  std::unique_ptr<Gdiplus::Font> pFont = MakeFont(wsGuiFace, kTextSize, Gdiplus::FontStyleRegular);
  const std::wstring wsSignFace = LoadResourceString(IDS_SIGN_FONT_FACE);
  if (!pFont && wsSignFace != wsGuiFace) pFont = MakeFont(wsSignFace, kTextSize, Gdiplus::FontStyleRegular);
  if (!pFont && wsSignFace != kFallbackFace && wsGuiFace != kFallbackFace)
    pFont = MakeFont(kFallbackFace, kTextSize, Gdiplus::FontStyleRegular);
  return pFont;
}

class CLineFormat {
 public:
  CLineFormat(Gdiplus::StringAlignment horizontal, Gdiplus::StringAlignment vertical) {
    m_format.SetAlignment(horizontal);
    m_format.SetLineAlignment(vertical);
    m_format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
    m_format.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
  }
  const Gdiplus::StringFormat* Get() const { return &m_format; }

 private:
  Gdiplus::StringFormat m_format;
};

class CLineImage {
 public:
  CLineImage(CTraceScope& scope, Gdiplus::Bitmap& bitmap)
      : m_scope(scope), m_graphics(&bitmap), m_wsGuiFace(GuiFontFace()), m_pTextFont(MakeTextFont(m_wsGuiFace)) {
    m_graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
  }

  void DrawBody(const std::wstring& wsBody) {
    if (wsBody.empty()) return;
    std::wstring wsLine1 = wsBody;
    std::wstring wsLine2;
    const size_t nBreak = wsBody.find(L'\n');
    if (nBreak != std::wstring::npos) {
      wsLine1 = wsBody.substr(0, nBreak);
      wsLine2 = wsBody.substr(nBreak + 1);
    } else if (m_pTextFont) {
      Gdiplus::StringFormat measure;
      measure.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
      measure.SetTrimming(Gdiplus::StringTrimmingWord);
      Gdiplus::RectF bounds;
      INT iFitted = 0;
      INT iLines = 0;
      Remember(m_graphics.MeasureString(wsBody.c_str(), static_cast<INT>(wsBody.size()), m_pTextFont.get(), kBodyLine1,
                                        &measure, &bounds, &iFitted, &iLines));
      if (iFitted > 0 && static_cast<size_t>(iFitted) < wsBody.size()) {
        wsLine1 = wsBody.substr(0, iFitted);
        wsLine2 = wsBody.substr(iFitted);
      }
    }
    const CLineFormat format(Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear);
    DrawText(wsLine1, kBodyLine1, format);
    DrawText(wsLine2, kBodyLine2, format);
  }

  void DrawSigner(const std::wstring& wsSigner) {
    const std::wstring wsFace = LoadResourceString(IDS_SIGN_FONT_FACE);
    const float fSize = static_cast<float>(_wtoi(LoadResourceString(IDS_SIGN_FONT_SIZE).c_str()));
    const INT iStyle =
        _wtoi(LoadResourceString(IDS_SIGN_FONT_ITALIC).c_str()) ? Gdiplus::FontStyleItalic : Gdiplus::FontStyleRegular;
    std::unique_ptr<Gdiplus::Font> pSignFont = MakeFont(wsFace, fSize, iStyle);
    if (!pSignFont) pSignFont = MakeFont(kFallbackFace, fSize, iStyle);
    const Gdiplus::SolidBrush blue(kSignerBlue);
    const CLineFormat format(Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentFar);
    Gdiplus::Status status = DrawWith(pSignFont.get(), blue, wsSigner, kSignerName, format);
    m_scope.Message("DrawString()      = %d", static_cast<int>(status));
    if (status == Gdiplus::Ok) return;
    pSignFont = MakeFont(wsFace == kFallbackFace ? m_wsGuiFace : std::wstring(kFallbackFace), fSize, iStyle);
    status = DrawWith(pSignFont.get(), blue, wsSigner, kSignerName, format);
    m_scope.Message("DrawString()      = %d", static_cast<int>(status));
  }

  void DrawDate(const std::wstring& wsDate) {
    DrawText(wsDate, kSigningDate, CLineFormat(Gdiplus::StringAlignmentFar, Gdiplus::StringAlignmentNear));
  }

  void DrawSuggestedSigner(const std::wstring& wsSuggestedSigner) {
    const CLineFormat format(Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentFar);
    DrawText(LoadResourceString(IDS_SIGLINE_SUGGESTED_SIGNER), kSuggestedLabel, format);
    DrawText(wsSuggestedSigner, kSuggestedSigner, format);
  }

  // The last drawing failure; the picture is made regardless.
  Gdiplus::Status LastFailure() const { return m_lastFailure; }

 private:
  void DrawText(const std::wstring& wsText, const Gdiplus::RectF& rect, const CLineFormat& format) {
    if (wsText.empty()) return;
    const Gdiplus::SolidBrush black(kBlack);
    DrawWith(m_pTextFont.get(), black, wsText, rect, format);
  }
  Gdiplus::Status DrawWith(const Gdiplus::Font* pFont, const Gdiplus::Brush& brush, const std::wstring& wsText,
                           const Gdiplus::RectF& rect, const CLineFormat& format) {
    if (!pFont) return Remember(Gdiplus::FontFamilyNotFound);
    return Remember(
        m_graphics.DrawString(wsText.c_str(), static_cast<INT>(wsText.size()), pFont, rect, format.Get(), &brush));
  }
  Gdiplus::Status Remember(Gdiplus::Status status) {
    if (status != Gdiplus::Ok) m_lastFailure = status;
    return status;
  }

  CTraceScope& m_scope;
  Gdiplus::Graphics m_graphics;
  std::wstring m_wsGuiFace;
  std::unique_ptr<Gdiplus::Font> m_pTextFont;
  Gdiplus::Status m_lastFailure = Gdiplus::Ok;
};

// The signing date in the user's short date form; empty when there is none.
std::wstring SigningDate(CTraceScope& scope, IDispatch* pSigInfo) {
  CComVariant varTime;
  SYSTEMTIME st = {};
  wchar_t wszDate[128] = {};
  if (FAILED(SignatureObjects::GetDetail(pSigInfo, L"GetSignatureDetail", Office::sigdetLocalSigningTime, &varTime)) ||
      FAILED(varTime.ChangeType(VT_DATE)) || !VariantTimeToSystemTime(V_DATE(&varTime), &st) ||
      !GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, wszDate, ARRAYSIZE(wszDate))) {
    scope.Message("Date formatting");
    return std::wstring();
  }
  scope.Message("szDate            = %ls", wszDate);
  return wszDate;
}

}  // namespace

HRESULT CSignatureProvider::GenerateSignatureLineImage(Office::SignatureLineImage siglnimg,
                                                       Office::SignatureSetup* psigsetup,
                                                       Office::SignatureInfo* psiginfo, IUnknown*,
                                                       IPictureDisp** ppipictSigImage) {
  CTraceScope scope("CSignatureProvider::GenerateSignatureLineImage");
  return Guarded(scope, [&]() -> HRESULT {
    if (!ppipictSigImage) return E_POINTER;
    *ppipictSigImage = nullptr;
    const CComBSTR bsSigner = SignatureObjects::GetString(psiginfo, L"SignatureText");
    const CComBSTR bsComment = SignatureObjects::GetString(psiginfo, L"SignatureComment");
    const CComBSTR bsSuggestedSigner = SignatureObjects::GetString(psigsetup, L"SuggestedSigner");
    const CComBSTR bsInstruction = SignatureObjects::GetString(psigsetup, L"SigningInstructions");
    scope.Message("bsSigner          = %ls", bsSigner.c_str());
    scope.Message("bsComment         = %ls", bsComment.c_str());
    scope.Message("bsSuggestedSigner = %ls", bsSuggestedSigner.c_str());
    scope.Message("bsInstruction     = %ls", bsInstruction.c_str());
    const CImageKind* pKind = ImageKind(siglnimg);
    if (!pKind) {
      scope.Message("Unknown signature line image!");
      return E_NOTIMPL;
    }
    scope.Message("%s", pKind->szTrace);
    const std::wstring wsBody = pKind->nBodyString                     ? LoadResourceString(pKind->nBodyString)
                                : siglnimg == Office::siglnimgUnsigned ? bsInstruction.c_str()
                                                                       : bsComment.c_str();
    const HBITMAP hBackground = static_cast<HBITMAP>(LoadImageW(
        CBranding::LoadResourceDLL(), MAKEINTRESOURCEW(pKind->nBitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    HBITMAP hPicture = nullptr;
    {
      const CGdiplusSession gdiplus;
      if (!gdiplus.Started()) {
        if (hBackground) DeleteObject(hBackground);
        return E_FAIL;
      }
      Gdiplus::Bitmap bitmap(hBackground, nullptr);
      {
        CLineImage image(scope, bitmap);
        image.DrawBody(wsBody);
        if (bsSigner.Length()) {
          image.DrawSigner(bsSigner.c_str());
          const bool bShowSignDate = SignatureObjects::GetBool(psigsetup, L"ShowSignDate", false);
          scope.Message("fShowSigDate      = %d", bShowSignDate ? 1 : 0);
          if (bShowSignDate && psiginfo) image.DrawDate(SigningDate(scope, psiginfo));
        } else if (bsSuggestedSigner.Length()) {
          image.DrawSuggestedSigner(bsSuggestedSigner.c_str());
        }
        if (image.LastFailure() != Gdiplus::Ok)
          scope.Message("Last drawing failure = %d", static_cast<int>(image.LastFailure()));
      }
      bitmap.GetHBITMAP(kWhite, &hPicture);
    }
    if (hBackground) DeleteObject(hBackground);
    PICTDESC desc = {};
    desc.cbSizeofstruct = sizeof(desc);
    desc.picType = PICTYPE_BITMAP;
    desc.bmp.hbitmap = hPicture;
    const HRESULT hr =
        OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(ppipictSigImage));
    scope.Message("OleCreatePictureIndirect = 0x%08X", static_cast<unsigned>(hr));
    if (FAILED(hr) && hPicture) DeleteObject(hPicture);
    return hr;
  });
}
