// The stream cipher against one CryptoAPI call over the whole stream, around the edges of its
// 512-byte pieces at several lengths, with streams that answer in small reads or fail.
#include "documents/ContentCipher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "../../sim/host/MemoryStreams.h"
#include "documents/EncryptionSessionData.h"

namespace {

const BYTE kKeyMaterial[48] = {7, 1, 2, 3, 4, 5, 6, 7, 8, 9};
constexpr size_t kLong = 64 * 1024;

std::vector<BYTE> Pattern(size_t cb) {
  std::vector<BYTE> bytes(cb);
  for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<BYTE>((i * 167 + (i >> 9) + (i >> 16)) & 0xFF);
  return bytes;
}

// A memory stream that answers reads a few bytes at a time and, when told, fails a read or a write
// once that many bytes have passed.
class CTestStream final : public IStream {
 public:
  explicit CTestStream(const std::vector<BYTE>& bytes, ULONG cbMaxRead)
      : m_cpInner(MemoryStream(bytes)), m_cbMaxRead(cbMaxRead) {}
  ULONG m_cbFailAt = ULONG_MAX;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ISequentialStream) && !IsEqualIID(riid, IID_IStream)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override { return --m_cRef; }
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (m_cbPassed >= m_cbFailAt) return STG_E_READFAULT;
    ULONG cbRead = 0;
    const HRESULT hr = m_cpInner->Read(pv, std::min(cb, m_cbMaxRead), &cbRead);
    m_cbPassed += cbRead;
    if (pcbRead) *pcbRead = cbRead;
    return hr;
  }
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (m_cbPassed + cb > m_cbFailAt) return STG_E_MEDIUMFULL;
    m_cbPassed += cb;
    return m_cpInner->Write(pv, cb, pcbWritten);
  }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

  std::vector<BYTE> Bytes() { return StreamBytes(m_cpInner); }

 private:
  CComPtr<IStream> m_cpInner;
  ULONG m_cbMaxRead;
  ULONG m_cbPassed = 0;
  ULONG m_cRef = 1;
};

// Every transform gets a fresh key, as every stream call of the provider does.
HRESULT Transform(CCipherDirection direction, IStream* pInput, IStream* pOutput) {
  CContentKey key;
  const HRESULT hr = key.Derive(kKeyMaterial, sizeof(kKeyMaterial));
  return FAILED(hr) ? hr : TransformContent(key.Key(), direction, pInput, pOutput);
}

std::vector<BYTE> Transform(CCipherDirection direction, const std::vector<BYTE>& input, HRESULT hrExpected = S_OK) {
  CComPtr<IStream> cpInput = MemoryStream(input), cpOutput = MemoryStream();
  EXPECT_EQ(hrExpected, Transform(direction, cpInput, cpOutput)) << input.size();
  return StreamBytes(cpOutput);
}

// The whole stream in one call: the padding goes on exactly when the last piece is short.
std::vector<BYTE> EncryptInOneCall(std::vector<BYTE> bytes) {
  CContentKey key;
  EXPECT_EQ(S_OK, key.Derive(kKeyMaterial, sizeof(kKeyMaterial)));
  DWORD cbData = static_cast<DWORD>(bytes.size());
  bytes.resize(bytes.size() + 8);
  EXPECT_TRUE(CryptEncrypt(key.Key(), 0, cbData % kContentPieceSize != 0, 0, bytes.data(), &cbData,
                           static_cast<DWORD>(bytes.size())));
  bytes.resize(cbData);
  return bytes;
}

TEST(ContentCipher, MatchesOneCipherCallOverTheWholeStreamAroundPieceEdges) {
  for (size_t cb : {size_t{0}, size_t{511}, size_t{512}, kLong - 1, kLong, kLong + 1, kLong + 504, kLong + 511,
                    kLong + 512, 2 * kLong, 2 * kLong + 1000, 3 * kLong - 8}) {
    const std::vector<BYTE> plain = Pattern(cb);
    const std::vector<BYTE> cipher = Transform(CCipherDirection::Encrypt, plain);
    ASSERT_EQ(EncryptInOneCall(plain), cipher) << cb;
    std::vector<BYTE> decrypted = Transform(CCipherDirection::Decrypt, cipher);
    // A padded last piece of 512 bytes keeps its padding; the container's recorded size cuts it off.
    if (cb % kContentPieceSize >= 504) decrypted.resize(cb);
    EXPECT_EQ(plain, decrypted) << cb;
  }
}

TEST(ContentCipher, StreamsAnsweringInSmallReadsGiveTheSameBytes) {
  const std::vector<BYTE> plain = Pattern(kLong + 3000);
  const std::vector<BYTE> cipher = EncryptInOneCall(plain);
  for (ULONG cbMaxRead : {ULONG{1000}, ULONG{511}, ULONG{kLong - 8}}) {
    CTestStream input(plain, cbMaxRead), output({}, ULONG_MAX);
    ASSERT_EQ(S_OK, Transform(CCipherDirection::Encrypt, &input, &output));
    EXPECT_EQ(cipher, output.Bytes()) << cbMaxRead;
    CTestStream cipherInput(cipher, cbMaxRead), plainOutput({}, ULONG_MAX);
    ASSERT_EQ(S_OK, Transform(CCipherDirection::Decrypt, &cipherInput, &plainOutput));
    EXPECT_EQ(plain, plainOutput.Bytes()) << cbMaxRead;
  }
}

TEST(ContentCipher, FailuresEndTheTransformWithTheirCode) {
  const std::vector<BYTE> plain = Pattern(2 * kLong + 3000);
  CTestStream failingInput(plain, ULONG_MAX), output({}, ULONG_MAX);
  failingInput.m_cbFailAt = kLong + 512;
  EXPECT_EQ(STG_E_READFAULT, Transform(CCipherDirection::Encrypt, &failingInput, &output));
  CTestStream input(plain, ULONG_MAX), failingOutput({}, ULONG_MAX);
  failingOutput.m_cbFailAt = kLong;
  EXPECT_EQ(STG_E_MEDIUMFULL, Transform(CCipherDirection::Encrypt, &input, &failingOutput));
  EXPECT_EQ(kLong, failingOutput.Bytes().size());

  // A ciphertext cut short fails at its last piece; the pieces before it are still delivered.
  const std::vector<BYTE> cipher = EncryptInOneCall(plain);
  for (size_t cb : {size_t{2999}, kLong + 7, cipher.size() - 1}) {
    const std::vector<BYTE> decrypted =
        Transform(CCipherDirection::Decrypt, std::vector<BYTE>(cipher.begin(), cipher.begin() + cb), NTE_BAD_DATA);
    const size_t cbDelivered = cb / kContentPieceSize * kContentPieceSize;
    EXPECT_EQ(std::vector<BYTE>(plain.begin(), plain.begin() + cbDelivered), decrypted) << cb;
  }
  // A damaged byte before the last piece spoils the padding it chains into.
  std::vector<BYTE> damaged = cipher;
  damaged[damaged.size() - 9] ^= 0x40;
  Transform(CCipherDirection::Decrypt, damaged, NTE_BAD_DATA);
}

}  // namespace
