// The stream cipher against one CryptoAPI call over the whole stream, around the edges of its
// 512-byte pieces at several lengths, with streams that answer in small reads or fail.
#include "documents/ContentCipher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "../../sim/host/MemoryStreams.h"
#include "../support/TestStream.h"
#include "documents/EncryptionSessionData.h"

namespace {

const BYTE kKeyMaterial[48] = {7, 1, 2, 3, 4, 5, 6, 7, 8, 9};
constexpr size_t kLong = 64 * 1024;

std::vector<BYTE> Pattern(size_t cb) {
  std::vector<BYTE> bytes(cb);
  for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<BYTE>((i * 167 + (i >> 9) + (i >> 16)) & 0xFF);
  return bytes;
}

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
