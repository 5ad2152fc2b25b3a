// Throughput of the encryption provider's EncryptStream and DecryptStream on a 16 MiB stream, side
// by side with raw CryptoAPI Triple DES over the same bytes in this process (same key derivation).
// The provider runs the cipher in calls of one 512-byte piece each, so its target is judged against
// raw calls of 512 bytes; one call over the whole buffer is shown beside it. Each is measured in
// alternating rounds and the best round counts. Times are this thread's processor time, which other
// programs on a shared machine do not inflate. With OPENSSL_3DES_MBPS set (tools/bench.sh measures
// `openssl enc -des-ede3-cbc` on this machine) the provider is also set beside OpenSSL.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../sim/host/MemoryStreams.h"
#include "BenchClock.h"
#include "com/ComPtr.h"
#include "documents/EncryptionProvider.h"
#include "documents/RecipientChoice.h"

namespace {

constexpr size_t kBytes = 16 * 1024 * 1024;
constexpr int kRounds = 5;

// The session's one recipient: only the key material matters here, so any certificate will do.
class CBenchChooser final : public CRecipientChooser {
 public:
  INT_PTR Choose(HWND, const std::vector<PCCERT_CONTEXT>*, std::vector<PCCERT_CONTEXT>* pChosen) override {
    BYTE name[64];
    CERT_NAME_BLOB nameBlob = {sizeof(name), name};
    if (!CertStrToNameW(X509_ASN_ENCODING, L"CN=Bench", CERT_X500_NAME_STR, nullptr, name, &nameBlob.cbData, nullptr))
      return IDCANCEL;
    PCCERT_CONTEXT pCert = CertCreateSelfSignCertificate(0, &nameBlob, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!pCert) return IDCANCEL;
    pChosen->push_back(pCert);
    return IDOK;
  }
  void ShowDetails(HWND, const std::vector<PCCERT_CONTEXT>&) override {}
};

double MegabytesPerSecond(double dSeconds) { return static_cast<double>(kBytes) / (1024.0 * 1024.0) / dSeconds; }

// The provider's cipher: Triple DES from a SHA-1 hash of key material, CBC, zero IV, over the
// whole buffer in calls of cbPiece bytes.
double RawSeconds(std::vector<BYTE> bytes, bool bEncrypt, size_t cbPiece) {
  HCRYPTPROV hProv = 0;
  HCRYPTHASH hHash = 0;
  HCRYPTKEY hKey = 0;
  const BYTE keyMaterial[48] = {1};
  if (!CryptAcquireContextW(&hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash) || !CryptHashData(hHash, keyMaterial, sizeof(keyMaterial), 0) ||
      !CryptDeriveKey(hProv, CALG_3DES, hHash, CRYPT_EXPORTABLE, &hKey))
    return -1;
  BOOL bDone = TRUE;
  const double dStart = ThreadSeconds();
  for (size_t i = 0; i < kBytes && bDone; i += cbPiece) {
    DWORD cbData = static_cast<DWORD>(cbPiece);
    bDone = bEncrypt ? CryptEncrypt(hKey, 0, FALSE, 0, bytes.data() + i, &cbData, static_cast<DWORD>(cbPiece))
                     : CryptDecrypt(hKey, 0, FALSE, 0, bytes.data() + i, &cbData);
  }
  const double dSeconds = ThreadSeconds() - dStart;
  CryptDestroyKey(hKey);
  CryptDestroyHash(hHash);
  CryptReleaseContext(hProv, 0);
  return bDone ? dSeconds : -1;
}

// One stream through the provider; the output stream is returned for the next step.
double ProviderSeconds(Office::EncryptionProvider* pProvider, int iSession, const std::vector<BYTE>& input,
                       bool bEncrypt, CComPtr<IStream>& cpOutput) {
  CComPtr<IStream> cpInput = MemoryStream(input);
  // Room for the whole output in memory already written once, as the raw cipher's buffer is: the
  // platform's memory stream would otherwise grow by reallocating for every write, and fresh pages
  // cost the system a fault each on first touch (about a tenth of the provider's time here); either
  // would time the host's storage, not the provider.
  cpOutput = MemoryStream(std::vector<BYTE>(input.size() + 8));
  const double dStart = ThreadSeconds();
  const HRESULT hr = bEncrypt ? pProvider->EncryptStream(iSession, nullptr, cpInput, cpOutput)
                              : pProvider->DecryptStream(iSession, nullptr, cpInput, cpOutput);
  const double dSeconds = ThreadSeconds() - dStart;
  ULARGE_INTEGER uliEnd = {};
  const LARGE_INTEGER liZero = {};
  cpOutput->Seek(liZero, STREAM_SEEK_CUR, &uliEnd);
  cpOutput->SetSize(uliEnd);
  return SUCCEEDED(hr) ? dSeconds : -1;
}

void Report(const char* szName, double dProvider, double dRawPieces, double dRaw, double dOpenSsl) {
  printf(
      "%s %.1f MB/s; raw CryptoAPI 3DES in 512-byte calls %.1f MB/s, ratio %.2f (target >= 0.90); in one call %.1f "
      "MB/s, ratio %.2f",
      szName, MegabytesPerSecond(dProvider), MegabytesPerSecond(dRawPieces), dRawPieces / dProvider,
      MegabytesPerSecond(dRaw), dRaw / dProvider);
  if (dOpenSsl > 0)
    printf("; openssl des-ede3-cbc %.1f MB/s, ratio %.2f", dOpenSsl, MegabytesPerSecond(dProvider) / dOpenSsl);
  printf("\n");
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CBenchChooser chooser;
  SetRecipientChooser(&chooser);
  int iResult = 1;
  {
    CComPtr<Office::EncryptionProvider> cpProvider;
    int iSession = -1;
    if (FAILED(CreateComObject<CEncryptionProvider>(nullptr, Office::IID_EncryptionProvider,
                                                    reinterpret_cast<void**>(&cpProvider))) ||
        FAILED(cpProvider->NewSession(nullptr, &iSession))) {
      fprintf(stderr, "encrypt_bench: no session\n");
    } else {
      std::vector<BYTE> plain(kBytes);
      for (size_t i = 0; i < kBytes; ++i) plain[i] = static_cast<BYTE>(i * 2654435761u >> 24);
      std::vector<BYTE> padded = plain;
      padded.resize(kBytes + 8);
      double dEncrypt = 1e9, dDecrypt = 1e9, dRawEncrypt = 1e9, dRawDecrypt = 1e9, dPiecesEncrypt = 1e9,
             dPiecesDecrypt = 1e9;
      bool bOk = true;
      for (int iRound = 0; iRound < kRounds && bOk; ++iRound) {
        CComPtr<IStream> cpCipher, cpPlain;
        const double dE = ProviderSeconds(cpProvider, iSession, plain, true, cpCipher);
        const double dRE = RawSeconds(padded, true, kBytes);
        const double dPE = RawSeconds(padded, true, kContentPieceSize);
        const double dD = ProviderSeconds(cpProvider, iSession, StreamBytes(cpCipher), false, cpPlain);
        const double dRD = RawSeconds(padded, false, kBytes);
        const double dPD = RawSeconds(padded, false, kContentPieceSize);
        bOk = dE > 0 && dRE > 0 && dPE > 0 && dD > 0 && dRD > 0 && dPD > 0 && StreamBytes(cpPlain) == plain;
        dPiecesEncrypt = std::min(dPiecesEncrypt, dPE), dPiecesDecrypt = std::min(dPiecesDecrypt, dPD);
        dEncrypt = std::min(dEncrypt, dE), dRawEncrypt = std::min(dRawEncrypt, dRE);
        dDecrypt = std::min(dDecrypt, dD), dRawDecrypt = std::min(dRawDecrypt, dRD);
      }
      const char* szOpenSsl = getenv("OPENSSL_3DES_MBPS");
      const double dOpenSsl = szOpenSsl ? atof(szOpenSsl) : 0;
      if (bOk) {
        Report("EncryptStream", dEncrypt, dPiecesEncrypt, dRawEncrypt, dOpenSsl);
        Report("DecryptStream", dDecrypt, dPiecesDecrypt, dRawDecrypt, dOpenSsl);
        iResult = 0;
      } else {
        fprintf(stderr, "encrypt_bench: a stream failed or did not round-trip\n");
      }
      cpProvider->EndSession(iSession);
    }
  }
  SetRecipientChooser(nullptr);
  CoUninitialize();
  return iResult;
}
