#include "SimSignatures.h"

#include <ocidl.h>
#include <olectl.h>
#include <shlwapi.h>
#include <wincrypt.h>

#include <memory>

#include "MemoryStreams.h"
#include "SimOutlook.h"
#include "SimPackage.h"
#include "XmlC14n.h"
#include "com/Bstr.h"

namespace Sim {
namespace {

constexpr IID kIidSignatureSet = {0x000C0410, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidSignature = {0x000C0411, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr char kSha1[] = "http://www.w3.org/2000/09/xmldsig#sha1";
// Excel's object model fails with its one automation error.
constexpr HRESULT kExcelError = static_cast<HRESULT>(0x800A03EC);
constexpr char kDsigNs[] = "http://www.w3.org/2000/09/xmldsig#";
constexpr char kOfficeNs[] = "http://schemas.microsoft.com/office/2006/digsig";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string Escape(const std::string& s) {
  std::string sOut;
  for (const char c : s)
    sOut += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
  return sOut;
}

std::string Base64(const std::vector<BYTE>& bytes) {
  DWORD cch = 0;
  const DWORD dwFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), dwFlags, nullptr, &cch);
  std::string s(cch, '\0');
  CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), dwFlags, s.data(), &cch);
  s.resize(cch);
  return s;
}

std::vector<BYTE> FromBase64(const std::string& s) {
  DWORD cb = 0;
  std::vector<BYTE> bytes;
  if (CryptStringToBinaryA(s.c_str(), static_cast<DWORD>(s.size()), CRYPT_STRING_BASE64, nullptr, &cb, nullptr,
                           nullptr)) {
    bytes.resize(cb);
    CryptStringToBinaryA(s.c_str(), static_cast<DWORD>(s.size()), CRYPT_STRING_BASE64, bytes.data(), &cb, nullptr,
                         nullptr);
  }
  return bytes;
}

// A stream over bytes whose reads hand out pieces of varying size, as Office's streams do.
class CPieceStream final : public CUnknownImpl<IStream> {
 public:
  explicit CPieceStream(const std::vector<BYTE>& bytes)
      : CUnknownImpl({IID_ISequentialStream, IID_IStream}), m_cpInner(MemoryStream(bytes)) {}
  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) override {
    static const ULONG kPieces[] = {512, 100, 4096, 1, 777, 65536, 313};
    const ULONG cbPiece = kPieces[m_iPiece++ % ARRAYSIZE(kPieces)];
    return m_cpInner->Read(pv, cb < cbPiece ? cb : cbPiece, pcbRead);
  }
  STDMETHOD(Write)(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override {
    return m_cpInner->Seek(dlibMove, dwOrigin, plibNewPosition);
  }
  STDMETHOD(SetSize)(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHOD(Commit)(DWORD) override { return S_OK; }
  STDMETHOD(Revert)() override { return S_OK; }
  STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHOD(Stat)(STATSTG* pStat, DWORD dwFlags) override { return m_cpInner->Stat(pStat, dwFlags); }
  STDMETHOD(Clone)(IStream**) override { return E_NOTIMPL; }

 private:
  CComPtr<IStream> m_cpInner;
  size_t m_iPiece = 0;
};

// Office's cancel callback: the user never cancels in the simulator.
class CQueryContinue final : public CUnknownImpl<IQueryContinue> {
 public:
  CQueryContinue() : CUnknownImpl({IID_IQueryContinue}) {}
  STDMETHOD(QueryContinue)() override { return S_OK; }
};

// A picture's bitmap as a bitmap file (32 bits a pixel). The platform's IPicture::SaveAsFile writes
// nothing for a picture made from a handle.
std::vector<BYTE> BitmapFile(IPictureDisp* pPicture) {
  CComPtr<IPicture> cpPicture;
  OLE_HANDLE hHandle = 0;
  BITMAP bm = {};
  if (!pPicture || FAILED(pPicture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&cpPicture))) ||
      FAILED(cpPicture->get_Handle(&hHandle)) ||
      !GetObjectW(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(hHandle)), sizeof bm, &bm))
    return {};
  BITMAPINFOHEADER info = {sizeof info, bm.bmWidth, bm.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  const DWORD cbPixels = static_cast<DWORD>(bm.bmWidth) * static_cast<DWORD>(bm.bmHeight) * 4;
  BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(sizeof file + sizeof info + cbPixels), 0, 0,
                           static_cast<DWORD>(sizeof file + sizeof info)};
  std::vector<BYTE> bytes(file.bfSize);
  memcpy(bytes.data(), &file, sizeof file);
  memcpy(bytes.data() + sizeof file, &info, sizeof info);
  HDC hdc = GetDC(nullptr);
  const int cLines = GetDIBits(hdc, reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(hHandle)), 0, bm.bmHeight,
                               bytes.data() + file.bfOffBits, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ReleaseDC(nullptr, hdc);
  return cLines == bm.bmHeight ? bytes : std::vector<BYTE>{};
}

std::wstring Thumbprint(PCCERT_CONTEXT pCert) {
  BYTE hash[20];
  DWORD cb = sizeof hash;
  std::wstring ws;
  if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, hash, &cb)) return ws;
  for (DWORD i = 0; i < cb; ++i) {
    wchar_t wsz[3];
    wsprintfW(wsz, L"%02X", hash[i]);
    ws += wsz;
  }
  return ws;
}

class CSignatureSetup final : public CDispatch {
 public:
  CSignatureSetup(const std::wstring& wsProvider, bool bLine)
      : CDispatch({Office::IID_SignatureSetup}), m_wsProvider(wsProvider) {
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t wszId[40] = {};
    StringFromGUID2(guid, wszId, 40);
    m_wsId = wszId;
    AddMember(L"ReadOnly", 1, [this](SCall& call) { return SetBool(call.pResult, m_bReadOnly); });
    AddMember(L"Id", 2, [this](SCall& call) { return SetBstr(call.pResult, m_wsId); });
    AddMember(L"SignatureProvider", 3, [this](SCall& call) { return SetBstr(call.pResult, m_wsProvider); });
    const std::pair<const wchar_t*, std::wstring*> strings[] = {{L"SuggestedSigner", &m_wsSuggestedSigner},
                                                                {L"SuggestedSignerLine2", &m_wsLine2},
                                                                {L"SuggestedSignerEmail", &m_wsEmail},
                                                                {L"SigningInstructions", &m_wsInstructions},
                                                                {L"AdditionalXml", &m_wsAdditionalXml}};
    const DISPID dispids[] = {4, 5, 6, 7, 10};
    for (size_t i = 0; i < ARRAYSIZE(strings); ++i) {
      std::wstring* pws = strings[i].second;
      AddMember(strings[i].first, dispids[i], [this, pws](SCall& call) {
        if (!(call.wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) return SetBstr(call.pResult, *pws);
        return m_bReadOnly ? E_ACCESSDENIED : ArgString(call, call.args.size() - 1, pws);
      });
    }
    for (const auto& [wszName, dispid, pb] :
         {std::tuple{L"AllowComments", 8, &m_bAllowComments}, std::tuple{L"ShowSignDate", 9, &m_bShowSignDate}}) {
      bool* pbValue = pb;
      AddMember(wszName, dispid, [this, pbValue](SCall& call) {
        if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBool(call.pResult, *pbValue);
        CVariant var;
        VARIANT* pArg = Arg(call, call.args.size() - 1);
        HRESULT hr = pArg ? VariantChangeType(&var, pArg, 0, VT_BOOL) : E_INVALIDARG;
        if (SUCCEEDED(hr) && m_bReadOnly) hr = E_ACCESSDENIED;
        if (SUCCEEDED(hr)) *pbValue = var.boolVal != VARIANT_FALSE;
        return hr;
      });
    }
    m_bShowSignDate = bLine;
  }
  std::wstring m_wsProvider, m_wsId, m_wsSuggestedSigner, m_wsLine2, m_wsEmail, m_wsInstructions, m_wsAdditionalXml;
  bool m_bAllowComments = false, m_bShowSignDate = true, m_bReadOnly = false;
};

class CSignatureInfo final : public CDispatch {
 public:
  explicit CSignatureInfo(const std::wstring& wsProvider)
      : CDispatch({Office::IID_SignatureInfo}), m_wsProvider(wsProvider) {
    AddMember(L"ReadOnly", 1, [this](SCall& call) { return SetBool(call.pResult, m_bSigned); });
    AddMember(L"SignatureProvider", 2, [this](SCall& call) { return SetBstr(call.pResult, m_wsProvider); });
    for (const auto& [wszName, dispid, pws] :
         {std::tuple{L"SignatureText", 3, &m_wsText}, std::tuple{L"SignatureComment", 5, &m_wsComment}}) {
      std::wstring* pwsValue = pws;
      AddMember(wszName, dispid, [this, pwsValue](SCall& call) {
        if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBstr(call.pResult, *pwsValue);
        return m_bSigned ? E_ACCESSDENIED : ArgString(call, call.args.size() - 1, pwsValue);
      });
    }
    AddMember(L"GetSignatureDetail", 6, [this](SCall& call) {
      LONG lDetail = -1;
      HRESULT hr = ArgLong(call, 0, &lDetail);
      if (FAILED(hr)) return hr;
      if (lDetail == Office::sigdetLocalSigningTime) {
        if (!m_dSigningTime) return E_FAIL;  // not signed yet
        call.pResult->vt = VT_DATE;
        call.pResult->date = m_dSigningTime;
        return S_OK;
      }
      if (lDetail == Office::sigdetSignatureType) return SetLong(call.pResult, m_bLine ? 2 : 1);
      return E_INVALIDARG;
    });
    AddMember(L"GetCertificateDetail", 7, [this](SCall& call) {
      LONG lDetail = -1;
      HRESULT hr = ArgLong(call, 0, &lDetail);
      if (FAILED(hr)) return hr;
      if (lDetail == Office::certdetAvailable) return SetBool(call.pResult, m_pCert != nullptr);
      if (!m_pCert) return E_FAIL;
      if (lDetail == Office::certdetThumbprint) return SetBstr(call.pResult, Thumbprint(m_pCert));
      if (lDetail == Office::certdetSubject || lDetail == Office::certdetIssuer) {
        wchar_t wszName[256] = {};
        CertGetNameStringW(m_pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE,
                           lDetail == Office::certdetIssuer ? CERT_NAME_ISSUER_FLAG : 0, nullptr, wszName, 256);
        return SetBstr(call.pResult, wszName);
      }
      if (lDetail == Office::certdetExpirationDate) {
        SYSTEMTIME st;
        FileTimeToSystemTime(&m_pCert->pCertInfo->NotAfter, &st);
        call.pResult->vt = VT_DATE;
        return SystemTimeToVariantTime(&st, &call.pResult->date) ? S_OK : E_FAIL;
      }
      return E_INVALIDARG;
    });
    AddMember(L"ContentVerificationResults", 8, [this](SCall& call) { return SetLong(call.pResult, m_lContent); });
    AddMember(L"CertificateVerificationResults", 9,
              [this](SCall& call) { return SetLong(call.pResult, m_lCertificate); });
    AddMember(L"IsValid", 10, [this](SCall& call) { return SetBool(call.pResult, IsValid()); });
    // The provider names the signer's certificate by its thumbprint, in the user's own store.
    AddMember(L"SelectCertificateDetailByThumbprint", 16, [this](SCall& call) {
      std::wstring wsThumbprint;
      HRESULT hr = ArgString(call, 0, &wsThumbprint);
      BYTE hash[20];
      DWORD cb = sizeof hash;
      if (SUCCEEDED(hr) &&
          !CryptStringToBinaryW(wsThumbprint.c_str(), 0, CRYPT_STRING_HEX, hash, &cb, nullptr, nullptr))
        hr = E_INVALIDARG;
      if (FAILED(hr)) return hr;
      CRYPT_HASH_BLOB blob = {cb, hash};
      HCERTSTORE hStore = CertOpenSystemStoreW(0, L"MY");
      PCCERT_CONTEXT pCert =
          hStore ? CertFindCertificateInStore(hStore, kEncoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr) : nullptr;
      if (hStore) CertCloseStore(hStore, 0);
      if (!pCert) return CRYPT_E_NOT_FOUND;
      SetCertificate(pCert);
      CertFreeCertificateContext(pCert);
      return S_OK;
    });
  }
  ~CSignatureInfo() override {
    if (m_pCert) CertFreeCertificateContext(m_pCert);
  }
  void SetCertificate(PCCERT_CONTEXT pCert) {
    if (m_pCert) CertFreeCertificateContext(m_pCert);
    m_pCert = pCert ? CertDuplicateCertificateContext(pCert) : nullptr;
  }
  bool IsValid() const { return m_lContent == Office::contverresValid && m_lCertificate == Office::certverresValid; }

  std::wstring m_wsProvider, m_wsText, m_wsComment;
  DATE m_dSigningTime = 0;
  bool m_bSigned = false, m_bLine = false;
  LONG m_lContent = Office::contverresUnverified, m_lCertificate = Office::certverresUnverified;
  PCCERT_CONTEXT m_pCert = nullptr;
};

}  // namespace

class CSignature final : public CDispatch {
 public:
  CSignature(CSignatureSet* pSet, const std::wstring& wsProvider, bool bLine)
      : CDispatch({kIidSignature}), m_pSet(pSet), m_bLine(bLine) {
    m_cpSetup = MakeObject<CSignatureSetup>(wsProvider, bLine);
    m_cpInfo = MakeObject<CSignatureInfo>(wsProvider);
    m_cpInfo->m_bLine = bLine;
    AddMember(L"Signer", 0x60030000, [this](SCall& call) { return SetBstr(call.pResult, m_cpInfo->m_wsText); });
    AddMember(L"IsValid", 0x60030003, [this](SCall& call) { return SetBool(call.pResult, m_cpInfo->IsValid()); });
    AddMember(L"SignDate", 0x6003000A, [this](SCall& call) {
      call.pResult->vt = VT_DATE;
      call.pResult->date = m_cpInfo->m_dSigningTime;
      return S_OK;
    });
    AddMember(L"IsSigned", 0x6003000B, [this](SCall& call) { return SetBool(call.pResult, m_cpInfo->m_bSigned); });
    AddMember(L"Sign", 0x6003000C, [this](SCall&) { return Sign(); });
    AddMember(L"Details", 0x6003000D,
              [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(m_cpInfo)); });
    AddMember(L"ShowDetails", 0x6003000E, [this](SCall&) { return ShowDetails(); });
    AddMember(L"Setup", 0x60030010,
              [this](SCall& call) { return SetObject(call.pResult, static_cast<IDispatch*>(m_cpSetup)); });
    AddMember(L"IsSignatureLine", 0x60030011, [this](SCall& call) { return SetBool(call.pResult, m_bLine); });
  }

  // A new signature or line: the provider's details, and for a line its setup and unsigned image.
  HRESULT Prepare() {
    HRESULT hr = Provider();
    for (int iDetail = Office::sigprovdetUrl; SUCCEEDED(hr) && iDetail <= Office::sigprovdetUseOfficeStampUI;
         ++iDetail) {
      CVariant varValue;
      const HRESULT hrDetail =
          m_cpProvider->GetProviderDetail(static_cast<Office::SignatureProviderDetail>(iDetail), &varValue);
      Log(L"GetProviderDetail " + std::to_wstring(iDetail) + L" " + HresultText(hrDetail));
      if (SUCCEEDED(hrDetail) && varValue.vt == VT_BSTR && varValue.bstrVal) {
        if (iDetail == Office::sigprovdetUrl) m_wsProviderUrl = varValue.bstrVal;
        if (iDetail == Office::sigprovdetHashAlgorithm) m_sHashAlgorithm = Utf8(varValue.bstrVal);
      }
    }
    // Office hashes the parts with what the provider names; it knows SHA-1 only.
    if (SUCCEEDED(hr) && m_sHashAlgorithm != kSha1) hr = NTE_BAD_ALGID;
    if (SUCCEEDED(hr) && m_bLine) {
      hr = m_cpProvider->ShowSignatureSetup(Window(), AsSetup());
      Log(L"ShowSignatureSetup " + HresultText(hr));
      if (SUCCEEDED(hr)) hr = LineImage(Office::siglnimgUnsigned, &m_cpImage);
    }
    return hr;
  }

  HRESULT Sign() {
    if (m_cpInfo->m_bSigned) return E_ACCESSDENIED;
    HRESULT hr = Provider();
    if (SUCCEEDED(hr)) {
      hr = m_cpProvider->ShowSigningCeremony(Window(), AsSetup(), AsInfo());
      Log(L"ShowSigningCeremony " + HresultText(hr));
    }
    // The signing time is known to the provider while it draws the signed images (their date).
    SYSTEMTIME st, stLocal;
    GetSystemTime(&st);
    SystemTimeToTzSpecificLocalTime(nullptr, &st, &stLocal);
    SystemTimeToVariantTime(&stLocal, &m_cpInfo->m_dSigningTime);
    CComPtr<IPictureDisp> cpValid, cpInvalid;
    if (SUCCEEDED(hr) && m_bLine) hr = LineImage(Office::siglnimgSignedValid, &cpValid);
    if (SUCCEEDED(hr) && m_bLine) hr = LineImage(Office::siglnimgSignedInvalid, &cpInvalid);
    std::vector<BYTE> package;
    if (SUCCEEDED(hr)) hr = m_pSet->Host().package(&package);
    std::vector<SSignedPart> parts;
    std::vector<std::string> ignored;
    std::wstring wsWhy;
    if (SUCCEEDED(hr)) hr = ReadSignatureParts(package, &parts, &ignored, &wsWhy);
    std::string sManifest;
    for (size_t i = 0; SUCCEEDED(hr) && i < parts.size(); ++i) {
      std::vector<BYTE> digest;
      hr = Hash(parts[i], &digest);
      sManifest += "<Reference URI=\"" + ReferenceUri(parts[i]) + "\"><DigestMethod Algorithm=\"" + m_sHashAlgorithm +
                   "\"/><DigestValue>" + Base64(digest) + "</DigestValue></Reference>";
    }
    CComPtr<IStream> cpXml;
    if (SUCCEEDED(hr)) {
      cpXml = MemoryStream(Template(sManifest, st, cpValid, cpInvalid));
      hr = m_cpProvider->SignXmlDsig(CQuery(), AsSetup(), AsInfo(), cpXml);
      Log(L"SignXmlDsig " + HresultText(hr));
    }
    if (FAILED(hr)) {
      m_cpInfo->m_dSigningTime = 0;
      return hr;
    }
    const std::vector<BYTE> xml = StreamBytes(cpXml);
    m_sXml.assign(xml.begin(), xml.end());
    m_sCheckedXml = m_sXml;
    m_cpInfo->m_bSigned = true;
    m_cpSetup->m_bReadOnly = true;
    m_cpInfo->m_lContent = Office::contverresValid;
    m_cpInfo->m_lCertificate = m_cpInfo->m_pCert ? Office::certverresValid : Office::certverresError;
    if (m_bLine) m_cpImage = cpValid;
    hr = m_cpProvider->NotifySignatureAdded(Window(), AsSetup(), AsInfo());
    Log(L"NotifySignatureAdded " + HresultText(hr));
    return S_OK;
  }

  // A stored signature: what Office reads from its Office object, then the provider's verdict on
  // the XML, with the manifest's digests of the parts as they are now.
  HRESULT Verify(const std::string& sXml, const std::vector<SSignedPart>& parts) {
    m_sXml = sXml;
    auto document = XmlDsig::ParseXml(sXml);
    if (!document) return Log(L"Signature: not well-formed XML"), HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
    m_cpInfo->m_bSigned = true;
    m_cpSetup->m_bReadOnly = true;
    m_cpSetup->m_wsId = FromUtf8(ElementText(*document, kOfficeNs, "SetupID"));
    m_cpSetup->m_wsProvider = m_cpInfo->m_wsProvider =
        FromUtf8(ElementText(*document, kOfficeNs, "SignatureProviderId"));
    m_bLine = m_cpInfo->m_bLine = ElementText(*document, kOfficeNs, "SignatureType") == "2";
    m_cpInfo->m_wsText = FromUtf8(ElementText(*document, kOfficeNs, "SignatureText"));
    m_cpInfo->m_wsComment = FromUtf8(ElementText(*document, kOfficeNs, "SignatureComments"));
    const std::string sCertificate = ElementText(*document, kDsigNs, "X509Certificate");
    const std::vector<BYTE> encoded = FromBase64(sCertificate);
    PCCERT_CONTEXT pCert =
        encoded.empty() ? nullptr
                        : CertCreateCertificateContext(kEncoding, encoded.data(), static_cast<DWORD>(encoded.size()));
    m_cpInfo->SetCertificate(pCert);
    m_cpInfo->m_lCertificate = !pCert                                              ? Office::certverresError
                               : CertVerifyTimeValidity(nullptr, pCert->pCertInfo) ? Office::certverresExpired
                                                                                   : Office::certverresValid;
    if (pCert) CertFreeCertificateContext(pCert);
    Log(L"Signer's certificate: certverres " + std::to_wstring(m_cpInfo->m_lCertificate));
    SYSTEMTIME st = {};
    const std::string sTime =
        ElementText(*document, "http://schemas.openxmlformats.org/package/2006/digital-signature", "Value");
    if (sscanf_s(sTime.c_str(), "%hu-%hu-%huT%hu:%hu:%hu", &st.wYear, &st.wMonth, &st.wDay, &st.wHour, &st.wMinute,
                 &st.wSecond) == 6) {
      SYSTEMTIME stLocal;
      SystemTimeToTzSpecificLocalTime(nullptr, &st, &stLocal);
      SystemTimeToVariantTime(&stLocal, &m_cpInfo->m_dSigningTime);
    }
    HRESULT hr = Provider();
    // The manifest as the parts are now: a changed or missing part changes its digest.
    std::string sChecked = sXml;
    const XmlDsig::SXmlNode* pManifest = XmlDsig::FindElement(document.get(), [](const XmlDsig::SXmlNode& e) {
      return e.LocalName() == "Manifest" && e.NamespaceUri() == kDsigNs;
    });
    for (size_t i = 0; SUCCEEDED(hr) && pManifest && i < pManifest->children.size(); ++i) {
      const std::string* psUri = pManifest->children[i]->Attribute("URI");
      if (!psUri) continue;
      std::vector<BYTE> digest;
      for (const SSignedPart& part : parts) {
        if (ReferenceUri(part) == *psUri) hr = Hash(part, &digest);
      }
      const size_t iReference = sChecked.find("URI=\"" + Escape(*psUri) + "\"");
      const size_t iValue = sChecked.find("DigestValue>", iReference);
      const size_t iEnd = sChecked.find("</", iValue);
      if (iReference == std::string::npos || iValue == std::string::npos || iEnd == std::string::npos) continue;
      const std::string sDigest = Base64(digest);
      if (sChecked.compare(iValue + 12, iEnd - iValue - 12, sDigest))
        Log(L"Manifest digest differs: " + FromUtf8(*psUri));
      sChecked.replace(iValue + 12, iEnd - iValue - 12, sDigest);
    }
    m_sCheckedXml = sChecked;
    Office::ContentVerificationResults content = Office::contverresError;
    Office::CertificateVerificationResults certificate = Office::certverresError;
    if (SUCCEEDED(hr)) {
      CComPtr<IStream> cpXml = MemoryStream(std::vector<BYTE>(sChecked.begin(), sChecked.end()));
      hr = m_cpProvider->VerifyXmlDsig(CQuery(), AsSetup(), AsInfo(), cpXml, &content, &certificate);
      Log(L"VerifyXmlDsig " + HresultText(hr) + L" contverres " + std::to_wstring(content));
    }
    m_cpInfo->m_lContent = SUCCEEDED(hr) ? content : Office::contverresError;
    // A line shows the image that the provider drew for this state when it was signed.
    if (m_bLine) m_cpImage = StoredImage(*document, m_cpInfo->IsValid() ? "idValidSigLnImg" : "idInvalidSigLnImg");
    return S_OK;  // an invalid signature leaves the document readable
  }

  // The provider is shown the signature with the manifest as it was verified, so that its details
  // judge the parts as they are.
  HRESULT ShowDetails() {
    HRESULT hr = Provider();
    CComPtr<IStream> cpXml = MemoryStream(std::vector<BYTE>(m_sCheckedXml.begin(), m_sCheckedXml.end()));
    Office::ContentVerificationResults content = static_cast<Office::ContentVerificationResults>(m_cpInfo->m_lContent);
    Office::CertificateVerificationResults certificate =
        static_cast<Office::CertificateVerificationResults>(m_cpInfo->m_lCertificate);
    if (SUCCEEDED(hr)) {
      hr = m_cpProvider->ShowSignatureDetails(Window(), AsSetup(), AsInfo(), cpXml, &content, &certificate);
      Log(L"ShowSignatureDetails " + HresultText(hr));
    }
    return hr;
  }

  const std::string& Xml() const { return m_sXml; }
  bool Signed() const { return m_cpInfo->m_bSigned; }
  IPictureDisp* Image() const { return m_cpImage; }

 private:
  HRESULT Provider() {
    if (m_cpProvider) return S_OK;
    const HRESULT hr = m_pSet->Host().findProvider(m_cpSetup->m_wsProvider, &m_cpProvider);
    if (FAILED(hr)) Log(L"No connected signature provider " + m_cpSetup->m_wsProvider);
    return hr;
  }
  void Log(const std::wstring& ws) const { m_pSet->Host().log(ws); }
  IUnknown* Window() const { return m_pSet->Host().window(); }
  Office::SignatureSetup* AsSetup() const {
    return reinterpret_cast<Office::SignatureSetup*>(static_cast<IDispatch*>(m_cpSetup));
  }
  Office::SignatureInfo* AsInfo() const {
    return reinterpret_cast<Office::SignatureInfo*>(static_cast<IDispatch*>(m_cpInfo));
  }
  static CComPtr<IUnknown> CQuery() {
    CComPtr<IUnknown> cp;
    cp.Attach(static_cast<IQueryContinue*>(new CQueryContinue()));
    return cp;
  }
  static std::string ReferenceUri(const SSignedPart& part) {
    return "/" + part.sName + "?ContentType=" + part.sContentType;
  }

  HRESULT LineImage(Office::SignatureLineImage image, IPictureDisp** ppPicture) {
    const HRESULT hr = m_cpProvider->GenerateSignatureLineImage(image, AsSetup(), AsInfo(), nullptr, ppPicture);
    Log(L"GenerateSignatureLineImage " + std::to_wstring(image) + L" " + HresultText(hr));
    return SUCCEEDED(hr) && !*ppPicture ? E_POINTER : hr;
  }

  HRESULT Hash(const SSignedPart& part, std::vector<BYTE>* pDigest) {
    CComPtr<IStream> cpStream;
    cpStream.Attach(new CPieceStream(part.data));
    SAFEARRAY* psa = nullptr;
    HRESULT hr = m_cpProvider->HashStream(CQuery(), cpStream, &psa);
    Log(L"HashStream /" + FromUtf8(part.sName) + L" " + HresultText(hr));
    if (SUCCEEDED(hr) && (!psa || SafeArrayGetDim(psa) != 1 || SafeArrayGetElemsize(psa) != 1)) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr)) {
      BYTE* pb = nullptr;
      const ULONG cb = psa->rgsabound[0].cElements;
      SafeArrayAccessData(psa, reinterpret_cast<void**>(&pb));
      pDigest->assign(pb, pb + cb);
      SafeArrayUnaccessData(psa);
    }
    if (psa) SafeArrayDestroy(psa);
    return hr;
  }

  static std::string PictureBase64(IPictureDisp* pPicture) { return Base64(BitmapFile(pPicture)); }

  // Office's signature template: the package object (manifest and signing time) and the Office
  // object (what Office records about the signature), and a line's images, each referenced.
  std::vector<BYTE> Template(const std::string& sManifest, const SYSTEMTIME& st, IPictureDisp* pValid,
                             IPictureDisp* pInvalid) const {
    char szTime[32];
    wsprintfA(szTime, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    std::vector<std::string> objects = {"idPackageObject", "idOfficeObject"};
    if (m_bLine) objects.insert(objects.end(), {"idValidSigLnImg", "idInvalidSigLnImg"});
    std::string sXml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Signature xmlns=\"" + std::string(kDsigNs) +
                       "\" Id=\"idPackageSignature\"><SignedInfo><CanonicalizationMethod "
                       "Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/><SignatureMethod "
                       "Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>";
    for (const std::string& sObject : objects)
      sXml += "<Reference Type=\"http://www.w3.org/2000/09/xmldsig#Object\" URI=\"#" + sObject +
              "\"><DigestMethod Algorithm=\"" + std::string(kSha1) + "\"/><DigestValue/></Reference>";
    sXml +=
        "</SignedInfo><SignatureValue/><Object Id=\"idPackageObject\"><Manifest>" + sManifest +
        "</Manifest><SignatureProperties><SignatureProperty Id=\"idSignatureTime\" Target=\"#idPackageSignature\">"
        "<mdssi:SignatureTime xmlns:mdssi=\"http://schemas.openxmlformats.org/package/2006/digital-signature\">"
        "<mdssi:Format>YYYY-MM-DDThh:mm:ssTZD</mdssi:Format><mdssi:Value>" +
        std::string(szTime) +
        "</mdssi:Value></mdssi:SignatureTime></SignatureProperty></SignatureProperties></Object>"
        "<Object Id=\"idOfficeObject\"><SignatureProperties><SignatureProperty Id=\"idOfficeV1Details\" "
        "Target=\"#idPackageSignature\"><SignatureInfoV1 xmlns=\"" +
        std::string(kOfficeNs) + "\"><SetupID>" + Utf8(m_cpSetup->m_wsId) + "</SetupID><SignatureText>" +
        Escape(Utf8(m_cpInfo->m_wsText)) + "</SignatureText><SignatureImage/><SignatureComments>" +
        Escape(Utf8(m_cpInfo->m_wsComment)) +
        "</SignatureComments><WindowsVersion>6.1</WindowsVersion><OfficeVersion>" + Utf8(m_pSet->Host().wsAppVersion) +
        "</OfficeVersion><ApplicationVersion>" + Utf8(m_pSet->Host().wsAppVersion) +
        "</ApplicationVersion><Monitors>1</Monitors><HorizontalResolution>1280</HorizontalResolution>"
        "<VerticalResolution>1024</VerticalResolution><ColorDepth>32</ColorDepth><SignatureProviderId>" +
        Utf8(m_cpSetup->m_wsProvider) + "</SignatureProviderId><SignatureProviderUrl>" + Escape(Utf8(m_wsProviderUrl)) +
        "</SignatureProviderUrl><SignatureProviderDetails>9</SignatureProviderDetails><ManifestHashAlgorithm>" +
        m_sHashAlgorithm + "</ManifestHashAlgorithm><SignatureType>" + (m_bLine ? "2" : "1") +
        "</SignatureType></SignatureInfoV1></SignatureProperty></SignatureProperties></Object>";
    if (m_bLine)
      sXml += "<Object Id=\"idValidSigLnImg\">" + PictureBase64(pValid) + "</Object><Object Id=\"idInvalidSigLnImg\">" +
              PictureBase64(pInvalid) + "</Object>";
    sXml += "</Signature>";
    return std::vector<BYTE>(sXml.begin(), sXml.end());
  }

  static CComPtr<IPictureDisp> StoredImage(const XmlDsig::SXmlNode& document, const std::string& sId) {
    const XmlDsig::SXmlNode* pObject = XmlDsig::FindElement(
        &document, [&](const XmlDsig::SXmlNode& e) { return e.Attribute("Id") && *e.Attribute("Id") == sId; });
    CComPtr<IPictureDisp> cpPicture;
    if (!pObject || pObject->children.empty()) return cpPicture;
    const std::vector<BYTE> bytes = FromBase64(pObject->children[0]->sText);
    CComPtr<IStream> cpStream = MemoryStream(bytes);
    OleLoadPicture(cpStream, static_cast<LONG>(bytes.size()), FALSE, IID_IPictureDisp,
                   reinterpret_cast<void**>(&cpPicture));
    return cpPicture;
  }

  static std::string ElementText(const XmlDsig::SXmlNode& document, const char* pszNs, const char* pszName) {
    const XmlDsig::SXmlNode* pElement = XmlDsig::FindElement(
        &document, [&](const XmlDsig::SXmlNode& e) { return e.LocalName() == pszName && e.NamespaceUri() == pszNs; });
    return XmlDsig::TextOf(pElement);
  }

  CSignatureSet* m_pSet;
  bool m_bLine;
  CComPtr<CSignatureSetup> m_cpSetup;
  CComPtr<CSignatureInfo> m_cpInfo;
  CComPtr<Office::SignatureProvider> m_cpProvider;
  CComPtr<IPictureDisp> m_cpImage;  // the line's image in its current state
  std::wstring m_wsProviderUrl;
  std::string m_sHashAlgorithm;
  std::string m_sXml;         // as stored
  std::string m_sCheckedXml;  // with the manifest's digests of the parts when it was signed or opened
};

CSignatureSet::CSignatureSet(SSignatureHost host) : CCollection({kIidSignatureSet}), m_host(std::move(host)) {
  AddMember(L"AddNonVisibleSignature", 0x60030006, [this](SCall& call) {
    std::wstring wsProvider;
    CSignature* pSignature = nullptr;
    HRESULT hr = ArgString(call, 0, &wsProvider);
    if (SUCCEEDED(hr)) hr = Add(wsProvider, false, &pSignature);
    if (SUCCEEDED(hr)) hr = pSignature->Sign();
    if (FAILED(hr) && pSignature) m_items.pop_back();
    return SUCCEEDED(hr) ? SetObject(call.pResult, static_cast<IDispatch*>(pSignature)) : hr;
  });
  AddMember(L"CanAddSignatureLine", 0x60030007,
            [this](SCall& call) { return SetBool(call.pResult, m_host.bLinesSupported); });
  AddMember(L"AddSignatureLine", 0x60030008, [this](SCall& call) {
    std::wstring wsProvider;
    CSignature* pSignature = nullptr;
    HRESULT hr = m_host.bLinesSupported ? ArgString(call, 0, &wsProvider) : E_NOTIMPL;
    if (SUCCEEDED(hr)) hr = Add(wsProvider, true, &pSignature);
    return SUCCEEDED(hr) ? SetObject(call.pResult, static_cast<IDispatch*>(pSignature)) : hr;
  });
  AddMember(L"Commit", 0x60030004, [](SCall&) { return S_OK; });
  AddMember(L"ShowSignaturesPane", 0x6003000B, [this](SCall&) {
    m_host.log(L"Signatures pane shown");
    return S_OK;
  });
}

HRESULT CSignatureSet::Add(const std::wstring& wsProvider, bool bLine, CSignature** ppSignature) {
  if (m_host.unsaved && m_host.unsaved()) {
    m_host.log(L"Signing refused: the workbook was never saved");
    return kExcelError;
  }
  auto cpSignature = MakeObject<CSignature>(this, wsProvider, bLine);
  const HRESULT hr = cpSignature->Prepare();
  if (FAILED(hr)) return hr;
  m_items.push_back(static_cast<IDispatch*>(cpSignature.Get()));
  *ppSignature = cpSignature;
  return S_OK;
}

CSignature* CSignatureSet::Signature(size_t i) const {
  return i < m_items.size() ? static_cast<CSignature*>(m_items[i].Get()) : nullptr;
}

HRESULT CSignatureSet::SaveLineImage(size_t i, const std::wstring& wsPath) const {
  const std::vector<BYTE> bytes = BitmapFile(i < m_items.size() ? Signature(i)->Image() : nullptr);
  if (bytes.empty()) return E_INVALIDARG;
  CComPtr<IStream> cpFile;
  HRESULT hr = SHCreateStreamOnFileEx(wsPath.c_str(), STGM_CREATE | STGM_WRITE, 0, TRUE, nullptr, &cpFile);
  if (SUCCEEDED(hr)) hr = cpFile->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  return hr;
}

std::vector<std::string> CSignatureSet::SignedXml() const {
  std::vector<std::string> signatures;
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (Signature(i)->Signed()) signatures.push_back(Signature(i)->Xml());
  }
  return signatures;
}

HRESULT CSignatureSet::Load(const std::vector<BYTE>& package, std::wstring* pwsWhy) {
  std::vector<SSignedPart> parts;
  std::vector<std::string> signatures;
  HRESULT hr = ReadSignatureParts(package, &parts, &signatures, pwsWhy);
  for (size_t i = 0; SUCCEEDED(hr) && i < signatures.size(); ++i) {
    auto cpSignature = MakeObject<CSignature>(this, L"", false);
    hr = cpSignature->Verify(signatures[i], parts);
    if (SUCCEEDED(hr)) m_items.push_back(static_cast<IDispatch*>(cpSignature.Get()));
  }
  return hr;
}

}  // namespace Sim
