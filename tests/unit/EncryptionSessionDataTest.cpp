#include "documents/EncryptionSessionData.h"

#include <gtest/gtest.h>

#include <cstring>

#include "SessionTestSupport.h"
#include "module/CleanupList.h"

using namespace SessionTest;

namespace {

bool SuiteInstalled() {
  wchar_t wszPath[MAX_PATH] = {};
  DWORD cchPath = MAX_PATH;
  return ReadInstallPath(wszPath, &cchPath, KEY_WOW64_64KEY) == ERROR_SUCCESS;
}

DWORD ReadDword(const std::vector<BYTE>& bytes, size_t* pOffset) {
  DWORD dw = 0;
  memcpy(&dw, bytes.data() + *pOffset, sizeof(dw));
  *pOffset += sizeof(dw);
  return dw;
}

std::vector<BYTE> ReadField(const std::vector<BYTE>& bytes, size_t* pOffset) {
  const DWORD cb = ReadDword(bytes, pOffset);
  std::vector<BYTE> field(bytes.begin() + *pOffset, bytes.begin() + *pOffset + cb);
  *pOffset += cb;
  return field;
}

std::vector<BYTE> Blob(const CRYPT_INTEGER_BLOB& blob) { return {blob.pbData, blob.pbData + blob.cbData}; }

class EncryptionSessionData : public ::testing::Test {
 protected:
  // Two own certificates, a contact whose private key happens to be at hand, and a stranger.
  static void SetUpTestSuite() {
    s_bSuite = SuiteInstalled();
    if (!s_bSuite) return;
    s_pOwner = MakeCertificate(L"Session Owner " + NewGuidText());
    s_pSecondOwn = MakeCertificate(L"Session Owner Two " + NewGuidText());
    s_pContact = MakeCertificate(L"Session Contact " + NewGuidText());
    s_pStranger = MakeCertificate(L"Session Stranger " + NewGuidText());
    s_bStored = AddToUserStore(L"MY", s_pOwner) && AddToUserStore(L"MY", s_pSecondOwn) &&
                AddToUserStore(L"VelmoraBuddies", s_pContact);
  }
  static void TearDownTestSuite() {
    for (PCCERT_CONTEXT pCert : {s_pOwner, s_pSecondOwn, s_pContact, s_pStranger}) CertFreeCertificateContext(pCert);
  }
  void SetUp() override {
    ASSERT_TRUE(s_bSuite) << "the suite is not installed in this prefix";
    // Certificates the tests make for themselves: when that fails, the tests fail.
    for (PCCERT_CONTEXT pCert : {s_pOwner, s_pSecondOwn, s_pContact, s_pStranger})
      ASSERT_NE(nullptr, pCert) << "a test certificate could not be made";
    ASSERT_TRUE(s_bStored) << "the test certificates could not be stored";
  }

  static std::vector<BYTE> Written(const CEncryptionSessionData& record) {
    CComPtr<IStream> cpStream = MemoryStream();
    ULONG cbWritten = 0;
    EXPECT_EQ(S_OK, record.WriteSessionData(cpStream, &cbWritten));
    std::vector<BYTE> bytes = StreamBytes(cpStream);
    EXPECT_EQ(bytes.size(), cbWritten);
    return bytes;
  }
  static CEncryptionSessionData Keyed(std::initializer_list<PCCERT_CONTEXT> recipients) {
    CEncryptionSessionData record;
    record.SetRecipients(std::vector<PCCERT_CONTEXT>(recipients));
    EXPECT_EQ(S_OK, record.GenerateSessionKey());
    return record;
  }
  // Read as Office hands the data over: in pieces of varying size.
  static HRESULT Read(const std::vector<BYTE>& bytes, CEncryptionSessionData* pRecord) {
    CComPtr<IStream> cpStream = PiecewiseStream(bytes);
    return pRecord->ReadSessionData(nullptr, cpStream);
  }
  static void ExpectRecipients(const CEncryptionSessionData& record, std::initializer_list<PCCERT_CONTEXT> expected) {
    ASSERT_EQ(expected.size(), record.Recipients().size());
    size_t i = 0;
    for (PCCERT_CONTEXT pCert : expected)
      EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, pCert->pCertInfo, record.Recipients()[i++]->pCertInfo));
  }
  static void ExpectEmpty(const CEncryptionSessionData& record) {
    EXPECT_TRUE(record.Recipients().empty());
    EXPECT_TRUE(record.KeyMaterial().empty());
  }

  static inline bool s_bSuite = false;
  static inline bool s_bStored = false;
  static inline PCCERT_CONTEXT s_pOwner = nullptr;
  static inline PCCERT_CONTEXT s_pSecondOwn = nullptr;
  static inline PCCERT_CONTEXT s_pContact = nullptr;
  static inline PCCERT_CONTEXT s_pStranger = nullptr;
};

TEST_F(EncryptionSessionData, CopiesAreDeepAndOutliveTheirSourceAndResetEmpties) {
  auto pSource = std::make_unique<CEncryptionSessionData>(Keyed({s_pContact, s_pOwner}));
  const std::vector<BYTE> key(pSource->KeyMaterial().begin(), pSource->KeyMaterial().end());
  CEncryptionSessionData copy(*pSource);
  CEncryptionSessionData assigned;
  assigned = copy;
  EXPECT_NE(pSource->KeyMaterial().data(), copy.KeyMaterial().data());
  pSource.reset();
  for (const CEncryptionSessionData* pRecord : {&copy, &assigned}) {
    ExpectRecipients(*pRecord, {s_pContact, s_pOwner});
    EXPECT_EQ(key, std::vector<BYTE>(pRecord->KeyMaterial().begin(), pRecord->KeyMaterial().end()));
  }
  copy.Reset();
  ExpectEmpty(copy);
  ExpectRecipients(assigned, {s_pContact, s_pOwner});
}

TEST_F(EncryptionSessionData, EachSessionGetsFresh48ByteKeyMaterial) {
  const CEncryptionSessionData first = Keyed({s_pOwner});
  const CEncryptionSessionData second = Keyed({s_pOwner});
  ASSERT_EQ(48u, first.KeyMaterial().size());
  ASSERT_EQ(48u, second.KeyMaterial().size());
  EXPECT_NE(0, memcmp(first.KeyMaterial().data(), second.KeyMaterial().data(), 48));
}

TEST_F(EncryptionSessionData, WritesCountThenWrappedKeyIssuerAndSerialPerRecipient) {
  const CEncryptionSessionData record = Keyed({s_pStranger, s_pOwner});
  const std::vector<BYTE> bytes = Written(record);
  size_t offset = 0;
  ASSERT_EQ(2u, ReadDword(bytes, &offset));
  for (PCCERT_CONTEXT pCert : {s_pStranger, s_pOwner}) {
    std::vector<BYTE> wrapped = ReadField(bytes, &offset);
    EXPECT_EQ(128u, wrapped.size());  // the modulus of a 1024-bit key
    EXPECT_EQ(Blob(pCert->pCertInfo->Issuer), ReadField(bytes, &offset));
    EXPECT_EQ(Blob(pCert->pCertInfo->SerialNumber), ReadField(bytes, &offset));
    // The recipient's private key unwraps the key material from CryptoAPI's byte order.
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bFree = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(pCert, 0, nullptr, &hProv, &dwKeySpec, &bFree));
    CCryptKeyHandle hKey;
    ASSERT_TRUE(CryptGetUserKey(hProv, dwKeySpec, &hKey));
    DWORD cbData = static_cast<DWORD>(wrapped.size());
    ASSERT_TRUE(CryptDecrypt(hKey, 0, TRUE, 0, wrapped.data(), &cbData));
    hKey.Close();
    if (bFree) CryptReleaseContext(hProv, 0);
    EXPECT_EQ(0, memcmp(record.KeyMaterial().data(), wrapped.data(), 48));
    EXPECT_EQ(48u, cbData);
  }
  EXPECT_EQ(bytes.size(), offset);
}

TEST_F(EncryptionSessionData, WritingWithoutRecipientsWritesNothing) {
  CEncryptionSessionData record;
  ASSERT_EQ(S_OK, record.GenerateSessionKey());
  CComPtr<IStream> cpStream = MemoryStream();
  ULONG cbWritten = 7;
  EXPECT_EQ(E_FAIL, record.WriteSessionData(cpStream, &cbWritten));
  EXPECT_EQ(0u, cbWritten);
  EXPECT_TRUE(StreamBytes(cpStream).empty());
}

TEST_F(EncryptionSessionData, ReadsBackInOrderWithTheFirstOwnKeyAndDropsUnknownRecipients) {
  const CEncryptionSessionData written = Keyed({s_pContact, s_pStranger, s_pSecondOwn, s_pOwner});
  CEncryptionSessionData read;
  ASSERT_EQ(S_OK, Read(Written(written), &read));
  ExpectRecipients(read, {s_pContact, s_pSecondOwn, s_pOwner});
  ASSERT_EQ(48u, read.KeyMaterial().size());
  EXPECT_EQ(0, memcmp(written.KeyMaterial().data(), read.KeyMaterial().data(), 48));
  // Saved again, the stranger's record is gone.
  size_t offset = 0;
  EXPECT_EQ(3u, ReadDword(Written(read), &offset));
}

TEST_F(EncryptionSessionData, NoOwnRecipientDeniesAccessEvenWithAContactsKeyAtHand) {
  for (const std::vector<BYTE>& bytes : {Written(Keyed({s_pContact, s_pStranger})), std::vector<BYTE>(4, 0)}) {
    CEncryptionSessionData read = Keyed({s_pOwner});
    EXPECT_EQ(E_ACCESSDENIED, Read(bytes, &read));
    ExpectEmpty(read);
  }
}

TEST_F(EncryptionSessionData, HostileProviderDataFailsCleanlyAndLeavesTheRecordReset) {
  const std::vector<BYTE> valid = Written(Keyed({s_pOwner}));
  std::vector<std::vector<BYTE>> hostile;
  for (size_t cb = 0; cb < valid.size(); ++cb) hostile.emplace_back(valid.begin(), valid.begin() + cb);
  // An absurd recipient count, and a wrapped-key length beyond what remains and beyond any bound.
  hostile.push_back({0xFF, 0xFF, 0xFF, 0xFF});
  for (const DWORD cbField :
       std::initializer_list<DWORD>{static_cast<DWORD>(valid.size()), kMaxSessionFieldSize + 1, 0xFFFFFFF0ul}) {
    std::vector<BYTE> bytes = valid;
    memcpy(bytes.data() + 4, &cbField, sizeof(cbField));
    hostile.push_back(bytes);
  }
  for (const std::vector<BYTE>& bytes : hostile) {
    CEncryptionSessionData read = Keyed({s_pOwner});
    const HRESULT hr = Read(bytes, &read);
    EXPECT_TRUE(hr == E_FAIL || hr == E_ACCESSDENIED) << bytes.size() << " bytes: 0x" << std::hex << hr;
    ExpectEmpty(read);
  }
}

TEST_F(EncryptionSessionData, ContentKeyIsTheDocumentedSha1DerivationOfTheKeyMaterial) {
  const CEncryptionSessionData record = Keyed({s_pOwner});
  CContentKey contentKey;
  ASSERT_EQ(S_OK, record.DeriveContentKey(&contentKey));
  BYTE blob[64];
  DWORD cbBlob = sizeof(blob);
  ASSERT_TRUE(CryptExportKey(contentKey.Key(), 0, PLAINTEXTKEYBLOB, 0, blob, &cbBlob));
  const BYTE* pbDerived = blob + sizeof(BLOBHEADER) + sizeof(DWORD);
  ASSERT_EQ(24u, *reinterpret_cast<const DWORD*>(blob + sizeof(BLOBHEADER)));

  CCryptProvHandle hProv;
  ASSERT_TRUE(CryptAcquireContextW(&hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  auto sha1 = [&](const BYTE* pb, DWORD cb) {
    CCryptHashHandle hHash;
    std::vector<BYTE> digest(20);
    DWORD cbDigest = 20;
    EXPECT_TRUE(CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash));
    EXPECT_TRUE(CryptHashData(hHash, pb, cb, 0));
    EXPECT_TRUE(CryptGetHashParam(hHash, HP_HASHVAL, digest.data(), &cbDigest, 0));
    return digest;
  };
  const std::vector<BYTE> h = sha1(record.KeyMaterial().data(), 48);
  std::vector<BYTE> expected;
  for (const BYTE bPad : {0x36, 0x5C}) {
    BYTE pad[64];
    memset(pad, bPad, sizeof(pad));
    for (int i = 0; i < 20; ++i) pad[i] ^= h[i];
    const std::vector<BYTE> part = sha1(pad, sizeof(pad));
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_EQ(0, memcmp(expected.data(), pbDerived, 24));
}

}  // namespace
