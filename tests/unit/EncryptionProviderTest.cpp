#include "documents/EncryptionProvider.h"

#include <gtest/gtest.h>

#include "../support/ProviderInterfaces.h"

#include "SessionTestSupport.h"
#include "com/Bstr.h"
#include "documents/DocumentSecurityFlags.h"
#include "documents/RecipientChoice.h"
#include "module/CleanupList.h"
#include "module/ResourceStrings.h"
#include "res/StringIds.h"

using namespace SessionTest;

namespace {

// Hands out a fixed recipient list, as the recipient dialog would after the user's choice.
class CFixedChooser final : public CRecipientChooser {
 public:
  INT_PTR Choose(HWND, const std::vector<PCCERT_CONTEXT>* pPreselected, std::vector<PCCERT_CONTEXT>* pChosen) override {
    m_preselectedCount = pPreselected ? pPreselected->size() : 0;
    for (PCCERT_CONTEXT pCert : m_recipients) pChosen->push_back(CertDuplicateCertificateContext(pCert));
    return m_iResult;
  }
  void ShowDetails(HWND, const std::vector<PCCERT_CONTEXT>& recipients) override { m_shownCount = recipients.size(); }

  std::vector<PCCERT_CONTEXT> m_recipients;
  INT_PTR m_iResult = IDOK;
  size_t m_preselectedCount = 0;
  size_t m_shownCount = 0;
};

std::vector<BYTE> Pattern(size_t cb) {
  std::vector<BYTE> bytes(cb);
  for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<BYTE>((i * 131 + (i >> 9)) & 0xFF);
  return bytes;
}

class EncryptionProvider : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    wchar_t wszPath[MAX_PATH] = {};
    DWORD cchPath = MAX_PATH;
    s_bSuite = ReadInstallPath(wszPath, &cchPath, KEY_WOW64_64KEY) == ERROR_SUCCESS;
    if (!s_bSuite) return;
    s_pOwner = MakeCertificate(L"Provider Owner " + NewGuidText());
    s_pStranger = MakeCertificate(L"Provider Stranger " + NewGuidText());
    s_bStored = AddToUserStore(L"MY", s_pOwner);
  }
  static void TearDownTestSuite() {
    CertFreeCertificateContext(s_pOwner);
    CertFreeCertificateContext(s_pStranger);
  }
  void SetUp() override {
    ASSERT_TRUE(s_bSuite) << "the suite is not installed in this prefix";
    // Certificates the tests make for themselves: when that fails, the tests fail.
    ASSERT_NE(nullptr, s_pOwner) << "a test certificate could not be made";
    ASSERT_NE(nullptr, s_pStranger) << "a test certificate could not be made";
    ASSERT_TRUE(s_bStored) << "the test certificate could not be stored";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_chooser.m_recipients = {s_pOwner};
    SetRecipientChooser(&m_chooser);
    ASSERT_EQ(S_OK, CreateComObject<CEncryptionProvider>(nullptr, Office::IID_EncryptionProvider,
                                                         reinterpret_cast<void**>(&m_cpProvider)));
  }
  void TearDown() override {
    m_cpProvider.Release();
    SetRecipientChooser(nullptr);
    g_bRemoveEncryptionRequested = false;
    CoUninitialize();
  }

  int NewSession() {
    int iHandle = -1;
    EXPECT_EQ(S_OK, m_cpProvider->NewSession(nullptr, &iHandle));
    return iHandle;
  }
  std::vector<BYTE> Transform(int iHandle, const std::vector<BYTE>& input, bool bEncrypt, HRESULT hrExpected = S_OK) {
    CComPtr<IStream> cpInput = MemoryStream(input);
    CComPtr<IStream> cpOutput = MemoryStream();
    CComBSTR bsName(L"EncryptedPackage");
    EXPECT_EQ(hrExpected, bEncrypt ? m_cpProvider->EncryptStream(iHandle, bsName, cpInput, cpOutput)
                                   : m_cpProvider->DecryptStream(iHandle, bsName, cpInput, cpOutput));
    return StreamBytes(cpOutput);
  }
  std::vector<BYTE> SavedProviderData(int iHandle) {
    CComPtr<IStream> cpData = MemoryStream();
    int cbWritten = 0;
    EXPECT_EQ(S_OK, m_cpProvider->Save(iHandle, cpData, &cbWritten));
    std::vector<BYTE> bytes = StreamBytes(cpData);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(cbWritten));
    return bytes;
  }
  // The provider data comes as Office hands it over: in pieces of varying size.
  HRESULT Authenticate(const std::vector<BYTE>& data, int* piHandle) {
    CComPtr<IStream> cpData = PiecewiseStream(data);
    unsigned int uPermissions = 0;
    const HRESULT hr = m_cpProvider->Authenticate(nullptr, cpData, &uPermissions, piHandle);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(0x7Fu, uPermissions);
    }
    return hr;
  }

  static inline bool s_bSuite = false;
  static inline bool s_bStored = false;
  static inline PCCERT_CONTEXT s_pOwner = nullptr;
  static inline PCCERT_CONTEXT s_pStranger = nullptr;
  CFixedChooser m_chooser;
  CComPtr<Office::EncryptionProvider> m_cpProvider;
};

TEST_F(EncryptionProvider, DescribesTripleDesCbcWith64BitBlocks) {
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(S_OK, m_cpProvider->GetProviderDetail(Office::encprovdetAlgorithm, &value));
  EXPECT_EQ(VT_BSTR, V_VT(&value));
  EXPECT_STREQ(L"3DES", V_BSTR(&value));
  ASSERT_EQ(S_OK, m_cpProvider->GetProviderDetail(Office::encprovdetBlockCipher, &value));
  EXPECT_EQ(VT_BOOL, V_VT(&value));
  EXPECT_EQ(VARIANT_TRUE, V_BOOL(&value));
  ASSERT_EQ(S_OK, m_cpProvider->GetProviderDetail(Office::encprovdetCipherBlockSize, &value));
  EXPECT_EQ(VT_I4, V_VT(&value));
  EXPECT_EQ(64, V_I4(&value));
  ASSERT_EQ(S_OK, m_cpProvider->GetProviderDetail(Office::encprovdetCipherMode, &value));
  EXPECT_EQ(1, V_I4(&value));
  ASSERT_EQ(S_OK, m_cpProvider->GetProviderDetail(Office::encprovdetUrl, &value));
  EXPECT_EQ(VT_BSTR, V_VT(&value));
  EXPECT_EQ(E_NOTIMPL, m_cpProvider->GetProviderDetail(static_cast<Office::EncryptionProviderDetail>(5), &value));
  EXPECT_EQ(VT_EMPTY, V_VT(&value));
}

TEST_F(EncryptionProvider, AnswersItsInterfacesAndTheFreeThreadedMarshaler) {
  ExpectProviderInterfaces(m_cpProvider, Office::IID_EncryptionProvider);
}

TEST_F(EncryptionProvider, HandlesAreTheSmallestFreeNumbersAndUnknownOnesAreRefused) {
  EXPECT_EQ(0, NewSession());
  EXPECT_EQ(1, NewSession());
  EXPECT_EQ(S_OK, m_cpProvider->EndSession(0));
  EXPECT_EQ(0, NewSession());
  int iClone = -1;
  EXPECT_EQ(E_INVALIDARG, m_cpProvider->CloneSession(7, &iClone));
  EXPECT_EQ(-1, iClone);
  EXPECT_EQ(2, NewSession());
  EXPECT_EQ(E_INVALIDARG, m_cpProvider->EndSession(7));
  int cbWritten = 0;
  EXPECT_EQ(E_INVALIDARG, m_cpProvider->Save(7, MemoryStream(), &cbWritten));
  Transform(7, Pattern(10), true, E_INVALIDARG);
  EXPECT_EQ(E_POINTER, m_cpProvider->NewSession(nullptr, nullptr));
  m_chooser.m_iResult = IDCANCEL;
  int iHandle = -1;
  EXPECT_EQ(E_ABORT, m_cpProvider->NewSession(nullptr, &iHandle));
}

TEST_F(EncryptionProvider, EveryLengthRoundTripsWithTheDocumentedCiphertextLength) {
  const int iHandle = NewSession();
  const std::vector<BYTE> plain = Pattern(2048);
  for (size_t cb = 0; cb <= plain.size(); ++cb) {
    const std::vector<BYTE> input(plain.begin(), plain.begin() + cb);
    const std::vector<BYTE> cipher = Transform(iHandle, input, true);
    const size_t cbExpected = cb % 512 == 0 ? cb : (cb / 8 + 1) * 8;
    ASSERT_EQ(cbExpected, cipher.size()) << cb;
    std::vector<BYTE> decrypted = Transform(iHandle, cipher, false);
    // A padded last piece of 512 bytes cannot be told from an unpadded one: its padding stays, and
    // the container's recorded size cuts it off.
    if (cb % 512 >= 504) {
      ASSERT_EQ(cbExpected, decrypted.size()) << cb;
      EXPECT_EQ(std::vector<BYTE>(cbExpected - cb, static_cast<BYTE>(cbExpected - cb)),
                std::vector<BYTE>(decrypted.begin() + cb, decrypted.end()));
      decrypted.resize(cb);
    }
    ASSERT_EQ(input, decrypted) << cb;
  }
  EXPECT_EQ(1008u, Transform(iHandle, Pattern(1000), true).size());
  EXPECT_EQ(1024u, Transform(iHandle, Pattern(1024), true).size());
  const std::vector<BYTE> large = Pattern(3 * 1024 * 1024 + 100);
  EXPECT_EQ(large, Transform(iHandle, Transform(iHandle, large, true), false));
}

TEST_F(EncryptionProvider, ClonesAndAuthenticatedSessionsDecryptWhatTheOriginalEncrypted) {
  const int iHandle = NewSession();
  const std::vector<BYTE> plain = Pattern(5000);
  const std::vector<BYTE> cipher = Transform(iHandle, plain, true);
  int iClone = -1;
  ASSERT_EQ(S_OK, m_cpProvider->CloneSession(iHandle, &iClone));
  const std::vector<BYTE> data = SavedProviderData(iClone);
  EXPECT_EQ(S_OK, m_cpProvider->EndSession(iHandle));
  EXPECT_EQ(plain, Transform(iClone, cipher, false));
  int iOpened = -1;
  ASSERT_EQ(S_OK, Authenticate(data, &iOpened));
  EXPECT_EQ(plain, Transform(iOpened, cipher, false));
}

TEST_F(EncryptionProvider, AuthenticateWithoutTheKeyWarnsAndDeniesAccess) {
  m_chooser.m_recipients = {s_pStranger};
  const std::vector<BYTE> data = SavedProviderData(NewSession());
  CMessageBoxAnswerer answerer(IDOK);
  int iHandle = -1;
  EXPECT_EQ(E_ACCESSDENIED, Authenticate(data, &iHandle));
  ASSERT_FALSE(answerer.Texts().empty());
  EXPECT_EQ(LoadResourceString(IDS_MSG_DECRYPT_FAILED), answerer.Texts().front());
}

TEST_F(EncryptionProvider, DamagedProviderDataFailsEveryTimeWithoutLeakingHandles) {
  const std::vector<BYTE> data = SavedProviderData(NewSession());
  CMessageBoxAnswerer answerer(IDOK);
  int iHandle = -1;
  // Warm up what the first failure loads, so the handle count compares like with like.
  EXPECT_TRUE(FAILED(Authenticate({}, &iHandle)));
  DWORD dwHandlesBefore = 0;
  GetProcessHandleCount(GetCurrentProcess(), &dwHandlesBefore);
  // One input per place a reader can go wrong: inside the count, a length, the wrapped key, the
  // issuer and the serial number when cut short; a huge count, a huge length, a damaged wrapped key
  // and an issuer that names nobody when changed. The owner's one record starts at 4.
  const size_t cbWrapped = 128;
  const size_t iIssuer = 4 + 4 + cbWrapped + 4;
  std::vector<std::vector<BYTE>> damaged;
  for (size_t cb : {size_t{2}, size_t{6}, size_t{4 + 4 + 60}, iIssuer + 3, data.size() - 1})
    damaged.emplace_back(data.begin(), data.begin() + cb);
  for (size_t i : {size_t{3}, size_t{7}, size_t{4 + 4 + 100}, iIssuer + 10}) {
    std::vector<BYTE> bytes = data;
    bytes[i] ^= 0xA5;
    damaged.push_back(bytes);
  }
  for (const std::vector<BYTE>& bytes : damaged) {
    EXPECT_TRUE(FAILED(Authenticate(bytes, &iHandle))) << bytes.size();
  }
  DWORD dwHandlesAfter = 0;
  GetProcessHandleCount(GetCurrentProcess(), &dwHandlesAfter);
  EXPECT_LE(dwHandlesAfter, dwHandlesBefore + 2);
}

TEST_F(EncryptionProvider, ARemovalRequestIsConsumedByTheNextSessionOrSettingsCall) {
  int iHandle = NewSession();
  VARIANT_BOOL bRemove = VARIANT_FALSE;
  {
    CMessageBoxAnswerer answerer(IDYES);
    g_bRemoveEncryptionRequested = true;
    EXPECT_EQ(S_OK, m_cpProvider->ShowSettings(iHandle, nullptr, VARIANT_FALSE, &bRemove));
    EXPECT_EQ(VARIANT_TRUE, bRemove);
    EXPECT_FALSE(g_bRemoveEncryptionRequested);
    ASSERT_FALSE(answerer.Texts().empty());
    EXPECT_EQ(LoadResourceString(IDS_MSG_REMOVE_ENCRYPTION), answerer.Texts().back());
  }
  {
    CMessageBoxAnswerer answerer(IDNO);
    g_bRemoveEncryptionRequested = true;
    EXPECT_EQ(E_ABORT, m_cpProvider->ShowSettings(iHandle, nullptr, VARIANT_FALSE, &bRemove));
    g_bRemoveEncryptionRequested = true;
    EXPECT_EQ(E_ABORT, m_cpProvider->ShowSettings(iHandle, nullptr, VARIANT_TRUE, &bRemove));
    g_bRemoveEncryptionRequested = true;
    int iNew = -1;
    EXPECT_EQ(E_ABORT, m_cpProvider->NewSession(nullptr, &iNew));
    EXPECT_EQ(-1, iNew);
    EXPECT_FALSE(g_bRemoveEncryptionRequested);
    const std::vector<std::wstring> texts = answerer.Texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(LoadResourceString(IDS_MSG_READ_ONLY), texts[texts.size() - 2]);
    EXPECT_EQ(LoadResourceString(IDS_MSG_NOT_ENCRYPTED), texts.back());
  }
}

TEST_F(EncryptionProvider, SettingsChangeRecipientsButKeepHandleAndKeyMaterial) {
  const int iHandle = NewSession();
  const std::vector<BYTE> cipher = Transform(iHandle, Pattern(700), true);
  VARIANT_BOOL bRemove = VARIANT_FALSE;
  EXPECT_EQ(E_ABORT, m_cpProvider->ShowSettings(iHandle, nullptr, VARIANT_TRUE, &bRemove));
  EXPECT_EQ(1u, m_chooser.m_shownCount);
  m_chooser.m_recipients = {s_pStranger, s_pOwner};
  EXPECT_EQ(S_OK, m_cpProvider->ShowSettings(iHandle, nullptr, VARIANT_FALSE, &bRemove));
  EXPECT_EQ(1u, m_chooser.m_preselectedCount);
  EXPECT_EQ(VARIANT_FALSE, bRemove);
  DWORD dwCount = 0;
  memcpy(&dwCount, SavedProviderData(iHandle).data(), sizeof(dwCount));
  EXPECT_EQ(2u, dwCount);
  EXPECT_EQ(Pattern(700), Transform(iHandle, cipher, false));
  m_chooser.m_iResult = IDCANCEL;
  EXPECT_EQ(E_ABORT, m_cpProvider->ShowSettings(iHandle, nullptr, VARIANT_FALSE, &bRemove));
  EXPECT_EQ(E_INVALIDARG, m_cpProvider->ShowSettings(9, nullptr, VARIANT_FALSE, &bRemove));
}

}  // namespace
