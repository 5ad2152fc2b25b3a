// The signature provider's own logic in-process: its description, the hash of streams read in
// pieces, the options XML of signature lines and the comment that says how the key was unlocked.
#include "documents/SignatureProvider.h"

#include <gtest/gtest.h>

#include <cstring>

#include "../support/ProviderInterfaces.h"
#include "../support/TestStream.h"
#include "SessionTestSupport.h"
#include "documents/CryptHandles.h"
#include "documents/SignatureOptions.h"
#include "res/StringIds.h"
#include "tracking/UsageTracking.h"

namespace {

// Answers S_OK a given number of times, then S_FALSE.
class CContinue final : public Office::IQueryContinue {
 public:
  explicit CContinue(int iAnswersBeforeStop = INT_MAX) : m_iAnswersBeforeStop(iAnswersBeforeStop) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, Office::IID_IQueryContinue)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<Office::IQueryContinue*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP ContinueCallback() override { return ++m_iCalls > m_iAnswersBeforeStop ? S_FALSE : S_OK; }
  int m_iCalls = 0;

 private:
  int m_iAnswersBeforeStop;
};

std::vector<BYTE> Pattern(size_t cb) {
  std::vector<BYTE> bytes(cb);
  for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<BYTE>((i * 151 + (i >> 9) + (i >> 17)) & 0xFF);
  return bytes;
}

// SHA-1 of the bytes in one call.
std::vector<BYTE> Sha1(const std::vector<BYTE>& bytes) {
  CCryptProvHandle hProv;
  CCryptHashHandle hHash;
  std::vector<BYTE> hash(20);
  DWORD cbHash = static_cast<DWORD>(hash.size());
  if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash) ||
      !CryptHashData(hHash, bytes.data(), static_cast<DWORD>(bytes.size()), 0) ||
      !CryptGetHashParam(hHash, HP_HASHVAL, hash.data(), &cbHash, 0))
    hash.clear();
  return hash;
}

std::vector<BYTE> ArrayBytes(SAFEARRAY* psa) {
  std::vector<BYTE> bytes;
  void* pv = nullptr;
  if (psa && SafeArrayGetDim(psa) == 1 && SUCCEEDED(SafeArrayAccessData(psa, &pv))) {
    bytes.assign(static_cast<BYTE*>(pv), static_cast<BYTE*>(pv) + psa->rgsabound[0].cElements);
    SafeArrayUnaccessData(psa);
  }
  return bytes;
}

class SignatureProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_EQ(S_OK, CreateComObject<CSignatureProvider>(nullptr, Office::IID_SignatureProvider,
                                                        reinterpret_cast<void**>(&m_cpProvider)));
  }
  void TearDown() override {
    m_cpProvider.Release();
    CoUninitialize();
  }

  HRESULT Hash(IStream* pStream, CContinue& queryContinue, std::vector<BYTE>* pHash) {
    SAFEARRAY* psa = nullptr;
    const HRESULT hr = m_cpProvider->HashStream(&queryContinue, pStream, &psa);
    *pHash = ArrayBytes(psa);
    if (psa) SafeArrayDestroy(psa);
    return hr;
  }

  CComPtr<Office::SignatureProvider> m_cpProvider;
};

TEST_F(SignatureProvider, DescribesItselfAsAUserInterfaceOnlyProviderHashingWithSha1) {
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(S_OK, m_cpProvider->GetProviderDetail(Office::sigprovdetHashAlgorithm, &value));
  ASSERT_EQ(VT_BSTR, V_VT(&value));
  EXPECT_STREQ(L"http://www.w3.org/2000/09/xmldsig#sha1", V_BSTR(&value));
  const std::pair<Office::SignatureProviderDetail, VARIANT_BOOL> flags[] = {
      {Office::sigprovdetUIOnly, VARIANT_TRUE},
      {Office::sigprovdetUseOfficeUI, VARIANT_FALSE},
      {Office::sigprovdetUseOfficeStampUI, VARIANT_FALSE}};
  for (const auto& [detail, bExpected] : flags) {
    ASSERT_EQ(S_OK, m_cpProvider->GetProviderDetail(detail, &value)) << detail;
    EXPECT_EQ(VT_BOOL, V_VT(&value)) << detail;
    EXPECT_EQ(bExpected, V_BOOL(&value)) << detail;
  }
  ASSERT_EQ(S_OK, m_cpProvider->GetProviderDetail(Office::sigprovdetUrl, &value));
  ASSERT_EQ(VT_BSTR, V_VT(&value));
  EXPECT_NE(0u, SysStringLen(V_BSTR(&value)));
  EXPECT_EQ(E_NOTIMPL, m_cpProvider->GetProviderDetail(static_cast<Office::SignatureProviderDetail>(5), &value));
  EXPECT_EQ(VT_EMPTY, V_VT(&value));
  EXPECT_EQ(E_POINTER, m_cpProvider->GetProviderDetail(Office::sigprovdetUIOnly, nullptr));
}

TEST_F(SignatureProvider, AnswersItsInterfacesAndTheFreeThreadedMarshaler) {
  ExpectProviderInterfaces(m_cpProvider, Office::IID_SignatureProvider);
}

TEST_F(SignatureProvider, HashIsTheSha1OfTheStreamAroundItsPieceEdges) {
  for (const size_t cb : {size_t{0}, size_t{511}, size_t{512}, size_t{513}, size_t{3 * 1024 * 1024 + 7}}) {
    const std::vector<BYTE> bytes = Pattern(cb);
    // Whole pieces as asked, and reads that give less than asked, as the simulator's streams do.
    for (const ULONG cbMaxRead : {ULONG{512}, ULONG{97}}) {
      CTestStream stream(bytes, cbMaxRead);
      CContinue queryContinue;
      std::vector<BYTE> hash;
      ASSERT_EQ(S_OK, Hash(&stream, queryContinue, &hash)) << cb << " in reads of " << cbMaxRead;
      EXPECT_EQ(Sha1(bytes), hash) << cb << " in reads of " << cbMaxRead;
      EXPECT_EQ(20u, hash.size());
      // Asked once before every read, the last one finding the end.
      EXPECT_EQ(static_cast<int>((cb + cbMaxRead - 1) / cbMaxRead + 1), queryContinue.m_iCalls);
    }
  }
}

TEST_F(SignatureProvider, HashingStopsWithAbortWhenOfficeSaysSo) {
  const std::vector<BYTE> bytes = Pattern(4096);
  for (const int iAnswers : {0, 3}) {
    CTestStream stream(bytes, 512);
    CContinue queryContinue(iAnswers);
    SAFEARRAY* psa = nullptr;
    EXPECT_EQ(E_ABORT, m_cpProvider->HashStream(&queryContinue, &stream, &psa)) << iAnswers;
    EXPECT_EQ(nullptr, psa);
    EXPECT_EQ(iAnswers + 1, queryContinue.m_iCalls);
  }
}

TEST_F(SignatureProvider, HashingRefusesWhatIsNotAStreamOrACallback) {
  CTestStream stream(Pattern(10), 512);
  CContinue queryContinue;
  SAFEARRAY* psa = nullptr;
  EXPECT_EQ(E_NOINTERFACE, m_cpProvider->HashStream(&queryContinue, &queryContinue, &psa));
  EXPECT_EQ(E_NOINTERFACE, m_cpProvider->HashStream(&stream, &stream, &psa));
  EXPECT_EQ(E_NOINTERFACE, m_cpProvider->HashStream(nullptr, &stream, &psa));
  EXPECT_EQ(nullptr, psa);
  EXPECT_EQ(E_POINTER, m_cpProvider->HashStream(&queryContinue, &stream, nullptr));
}

// Damaged or foreign signature documents: a signature element missing, in another namespace, or
// with key information that carries no certificate.
const char* const kHostileSignatureDocuments[] = {
    "",
    "\x01\x02garbage\xff",
    "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>",
    "<root><Signature xmlns=\"urn:other\"/></root>",
    "<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///C:/windows/win.ini\">]><r>&e;</r>",
    "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo><CanonicalizationMethod "
    "Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/><SignatureMethod "
    "Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/><Reference URI=\"#o\"><DigestMethod "
    "Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue>AAAA</DigestValue></Reference></SignedInfo>"
    "<SignatureValue>AAAA</SignatureValue><KeyInfo><KeyName>nobody</KeyName></KeyInfo><Object "
    "Id=\"o\">text</Object></Signature>",
};

TEST_F(SignatureProvider, HostileSignatureDocumentsGiveAnErrorCode) {
  for (const char* szDocument : kHostileSignatureDocuments) {
    const std::vector<BYTE> bytes(szDocument, szDocument + strlen(szDocument));
    CContinue queryContinue;
    Office::ContentVerificationResults contverres = Office::contverresVerifying;
    Office::CertificateVerificationResults certverres = Office::certverresVerifying;
    CComPtr<IStream> cpStream = MemoryStream(bytes);
    EXPECT_TRUE(
        FAILED(m_cpProvider->VerifyXmlDsig(&queryContinue, nullptr, nullptr, cpStream, &contverres, &certverres)))
        << szDocument;
    EXPECT_EQ(Office::contverresVerifying, contverres) << szDocument;
    EXPECT_EQ(Office::certverresVerifying, certverres) << szDocument;
    // Signing leaves a document it cannot sign as it was.
    cpStream = MemoryStream(bytes);
    EXPECT_TRUE(FAILED(m_cpProvider->SignXmlDsig(&queryContinue, nullptr, nullptr, cpStream))) << szDocument;
    EXPECT_EQ(bytes, StreamBytes(cpStream)) << szDocument;
  }
}

TEST_F(SignatureProvider, AnAddedSignatureIsAnnouncedAndCountedAsASignedDocument) {
  SessionTest::CMessageBoxAnswerer answerer(IDOK);
  EXPECT_EQ(S_OK, m_cpProvider->NotifySignatureAdded(nullptr, nullptr, nullptr));
  EXPECT_EQ(1u, answerer.Texts().size());
  EXPECT_NE(std::wstring::npos, g_UsageTracker.ReportText().find(L"d4\t41\n"));
}

TEST(SigningComment, FollowsHowTheKeyProviderSaysTheKeyWasUnlocked) {
  const std::pair<DWORD, UINT> table[] = {
      {0, 0},
      {1, IDS_UNLOCK_PASSWORD},
      {2, IDS_UNLOCK_SMART_CARD},
      {3, IDS_UNLOCK_CARD_AND_PASSWORD},
      {16, IDS_UNLOCK_LOGON},
      {8, IDS_UNLOCK_OTHER},
      {17, IDS_UNLOCK_OTHER},
      {0x100, IDS_UNLOCK_OTHER},
      // With 0x4: strong protection, and then by 0x8, 0x1 and 0x2.
      {4, IDS_UNLOCK_STRONG},
      {5, IDS_UNLOCK_STRONG_PASSWORD},
      {6, IDS_UNLOCK_STRONG_SMART_CARD},
      {7, IDS_UNLOCK_STRONG_CARD_AND_PASSWORD},
      {12, IDS_UNLOCK_STRONG},
      {15, IDS_UNLOCK_STRONG},
      {0x14, IDS_UNLOCK_STRONG},
  };
  for (const auto& [dwAuth, nExpected] : table) EXPECT_EQ(nExpected, SigningCommentId(dwAuth)) << "dwAuth " << dwAuth;
}

TEST(SigningComment, TheSignersTitleStandsOnTheLineBeforeTheComment) {
  EXPECT_EQ(L"Director\nKey unlocked", CommentWithTitle(L"Director", L"Key unlocked"));
  EXPECT_EQ(L"Director\n", CommentWithTitle(L"Director", L""));
  EXPECT_EQ(L"Key unlocked", CommentWithTitle(L"", L"Key unlocked"));
  EXPECT_EQ(L"", CommentWithTitle(L"", L""));
}

class SignatureOptions : public ::testing::Test {
 protected:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }

  static CSignatureOptions Parse(const wchar_t* wszXml) {
    CComBSTR bsXml(wszXml);
    return CSignatureOptions(bsXml);
  }
};

TEST_F(SignatureOptions, TheOptionsElementIsFoundInAnyLetterCase) {
  for (const wchar_t* wszXml : {L"<VelmoraSignature AddTitle=\"true\"/>", L"<velmorasignature AddTitle='1'/>",
                                L"<?xml version=\"1.0\"?>\r\n<VELMORASIGNATURE AddTitle=\"-1\"></VELMORASIGNATURE>"}) {
    const CSignatureOptions options = Parse(wszXml);
    EXPECT_FALSE(options.m_bNew) << wszXml;
    EXPECT_TRUE(options.m_bAddTitle) << wszXml;
  }
  for (const wchar_t* wszXml : {L"<VelmoraSignature/>", L"<VelmoraSignature AddTitle='0'/>",
                                L"<VelmoraSignature AddTitle='perhaps'/>", L"<VelmoraSignature addtitle='true'/>"}) {
    const CSignatureOptions options = Parse(wszXml);
    EXPECT_FALSE(options.m_bNew) << wszXml;
    EXPECT_FALSE(options.m_bAddTitle) << wszXml;
  }
}

TEST_F(SignatureOptions, AnythingElseLeavesANewLineWithoutTitle) {
  const CSignatureOptions none(nullptr);
  EXPECT_TRUE(none.m_bNew);
  EXPECT_FALSE(none.m_bAddTitle);
  for (const wchar_t* wszXml :
       {L"", L"<OtherSignature AddTitle='true'/>", L"<VelmoraSignature AddTitle='true'>",
        L"<x:VelmoraSignature xmlns:x='urn:x' AddTitle='true'/>", L"VelmoraSignature AddTitle=true",
        L"<root><VelmoraSignature AddTitle='true'/></root>",
        L"<!DOCTYPE VelmoraSignature [<!ENTITY e SYSTEM 'file:///C:/windows/win.ini'>]>"
        L"<VelmoraSignature AddTitle='&e;'/>",
        L"<!DOCTYPE a [<!ENTITY a '1'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;'>"
        L"<!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;'>]><a AddTitle='&d;'/>"}) {
    const CSignatureOptions options = Parse(wszXml);
    EXPECT_TRUE(options.m_bNew) << wszXml;
    EXPECT_FALSE(options.m_bAddTitle) << wszXml;
  }
}

TEST_F(SignatureOptions, WrittenOptionsReadBack) {
  for (const bool bAddTitle : {true, false}) {
    CSignatureOptions options(nullptr);
    options.m_bAddTitle = bAddTitle;
    const CComBSTR bsXml = options.GetXML();
    ASSERT_NE(0u, bsXml.Length());
    EXPECT_NE(nullptr, wcsstr(bsXml.c_str(), L"<VelmoraSignature"));
    const CSignatureOptions read(bsXml);
    EXPECT_FALSE(read.m_bNew) << bsXml.c_str();
    EXPECT_EQ(bAddTitle, read.m_bAddTitle) << bsXml.c_str();
  }
}

}  // namespace
