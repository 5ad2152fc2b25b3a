// Received messages taken apart: the stream helpers at the edges of their 256-byte reads, the
// flags of each outer form, and PKCS #7 input that is not what it claims. Messages from other
// programs are checked outside Windows (tests/interop/test_received_messages.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../../sim/host/MemoryStreams.h"
#include "com/ComPtr.h"
#include "mail/MimeMessage.h"

namespace {

std::vector<BYTE> Pattern(size_t cb) {
  std::vector<BYTE> bytes(cb);
  for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<BYTE>(i * 31 + (i >> 8));
  return bytes;
}

std::vector<BYTE> ReadAll(IStream* pStream) {
  BYTE* pb = nullptr;
  ULONG cb = 0;
  EXPECT_EQ(S_OK, ReadWholeStream(pStream, &pb, &cb));
  std::vector<BYTE> bytes(pb, pb + cb);
  CoTaskMemFree(pb);
  return bytes;
}

CComPtr<IMimeMessage> Load(const std::string& sMime) {
  CComPtr<IStream> cpStream;
  EXPECT_EQ(S_OK, CreateMemoryStream(reinterpret_cast<const BYTE*>(sMime.data()), static_cast<UINT>(sMime.size()),
                                     &cpStream));
  CComPtr<IMimeMessage> cpMessage;
  EXPECT_EQ(S_OK, CMimeMessage::Initialize(&cpMessage, cpStream));
  return cpMessage;
}

DWORD Flags(const std::string& sMime) {
  CComPtr<IMimeMessage> cpMessage = Load(sMime);
  DWORD dwFlags = 0xFFFF;
  EXPECT_EQ(S_OK, CMimeMessage::GetFlags(cpMessage, &dwFlags));
  return dwFlags;
}

std::string Pkcs7Mime(const std::string& sParameters, const std::string& sBase64) {
  return "MIME-Version: 1.0\r\nContent-Type: application/pkcs7-mime" + sParameters +
         "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + sBase64 + "\r\n";
}

class MimeDecodingTest : public ::testing::Test {
 protected:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(MimeDecodingTest, StreamsAreReadWholeFromTheirStartAndMemoryStreamsRefuseWriting) {
  for (size_t cb : {0u, 1u, 255u, 256u, 257u, 512u, 4096u + 3u}) {
    const std::vector<BYTE> bytes = Pattern(cb);
    CComPtr<IStream> cpStream = MemoryStream(bytes);
    const LARGE_INTEGER end = {};
    cpStream->Seek(end, STREAM_SEEK_END, nullptr);
    EXPECT_EQ(bytes, ReadAll(cpStream)) << cb;

    CComPtr<IStream> cpCopy;
    ASSERT_EQ(S_OK, CreateMemoryStream(bytes.data(), static_cast<UINT>(cb), &cpCopy));
    EXPECT_EQ(bytes, ReadAll(cpCopy)) << cb;
    ULONG cbWritten = 0;
    EXPECT_EQ(STG_E_ACCESSDENIED, cpCopy->Write("x", 1, &cbWritten));
    STATSTG stat = {};
    EXPECT_EQ(S_OK, cpCopy->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(static_cast<ULONGLONG>(cb), stat.cbSize.QuadPart);

    // The converter's target: written in pieces, one written over, read back whole.
    CComPtr<IStream> cpGrowing;
    ASSERT_EQ(S_OK, CreateGrowingStream(&cpGrowing));
    for (size_t pos = 0, cbPiece = 1; pos < cb; pos += cbPiece, cbPiece = cbPiece * 3 + 1)
      ASSERT_EQ(S_OK, cpGrowing->Write(bytes.data() + pos, static_cast<ULONG>(std::min(cbPiece, cb - pos)), nullptr));
    if (cb > 1) {
      LARGE_INTEGER second = {};
      second.QuadPart = 1;
      ASSERT_EQ(S_OK, cpGrowing->Seek(second, STREAM_SEEK_SET, nullptr));
      ASSERT_EQ(S_OK, cpGrowing->Write(bytes.data() + 1, 1, &cbWritten));
    }
    EXPECT_EQ(bytes, ReadAll(cpGrowing)) << cb;
    EXPECT_EQ(S_OK, cpGrowing->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(static_cast<ULONGLONG>(cb), stat.cbSize.QuadPart);
  }
}

TEST_F(MimeDecodingTest, FlagsComeFromTheOuterFormAndBrokenSecurityNeverPasses) {
  const std::string sText = "Content-Type: text/plain\r\n\r\nHello\r\n";
  EXPECT_EQ(0u, Flags("MIME-Version: 1.0\r\n" + sText));
  EXPECT_EQ(static_cast<DWORD>(IMF_SIGNED),
            Flags("MIME-Version: 1.0\r\nContent-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; "
                  "boundary=\"b\"\r\n\r\n--b\r\n" +
                  sText + "\r\n--b--\r\n"));
  EXPECT_EQ(static_cast<DWORD>(IMF_ENCRYPTED), Flags(Pkcs7Mime("; smime-type=enveloped-data", "MAA=")));
  EXPECT_EQ(static_cast<DWORD>(IMF_SIGNED), Flags(Pkcs7Mime("; smime-type=signed-data", "MAA=")));
  // Without smime-type the PKCS #7 content type decides; what is not PKCS #7 is neither.
  EXPECT_EQ(0u, Flags(Pkcs7Mime("", "AAECAwQ=")));

  // Claimed enveloped or signed data that is empty, truncated or nested without end fails
  // without a crash, and a message that cannot be decrypted stays as it was.
  std::string sDeep;
  for (int i = 0; i < 200; ++i) sDeep += "\x30\x80";
  DWORD cbBase64 = 0;
  CryptBinaryToStringA(reinterpret_cast<const BYTE*>(sDeep.data()), static_cast<DWORD>(sDeep.size()),
                       CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr, &cbBase64);
  std::string sDeepBase64(cbBase64, '\0');
  CryptBinaryToStringA(reinterpret_cast<const BYTE*>(sDeep.data()), static_cast<DWORD>(sDeep.size()),
                       CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, sDeepBase64.data(), &cbBase64);
  sDeepBase64.resize(cbBase64);
  // ContentInfo { envelopedData, [0] { SEQUENCE { INTEGER 0 } } }, cut short.
  const std::string sTruncated = "MBYGCSqGSIb3DQEHA6AJMAcCAQA";
  for (const std::string& sBase64 : {std::string("MAA="), sDeepBase64, sTruncated + "=", std::string("MIIE")}) {
    IMimeMessage* pMessage = Load(Pkcs7Mime("; smime-type=enveloped-data", sBase64)).Detach();
    IMimeMessage* const pBefore = pMessage;
    EXPECT_TRUE(FAILED(DecryptMessage(&pMessage))) << sBase64.substr(0, 20);
    EXPECT_EQ(pBefore, pMessage);
    pMessage->Release();
    CComPtr<IMimeMessage> cpSigned = Load(Pkcs7Mime("; smime-type=signed-data", sBase64));
    CVerifiedSignature signature;
    EXPECT_TRUE(FAILED(CMimeMessage::Decode(cpSigned, &signature))) << sBase64.substr(0, 20);
  }
}

}  // namespace
