// Throughput of the signature provider's HashStream on a 16 MiB stream, side by side with raw
// CryptoAPI SHA-1 over the same bytes in this process: in the provider's 512-byte calls and in
// one call. Each is measured in alternating rounds and the best round counts, in this thread's
// processor time.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "../sim/host/MemoryStreams.h"
#include "BenchClock.h"
#include "com/ComPtr.h"
#include "documents/SignatureProvider.h"

namespace {

constexpr size_t kBytes = 16 * 1024 * 1024;
constexpr size_t kPiece = 512;
constexpr int kRounds = 5;

class CAlwaysContinue final : public Office::IQueryContinue {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, Office::IID_IQueryContinue) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP ContinueCallback() override { return S_OK; }
};

double MegabytesPerSecond(double dSeconds) { return static_cast<double>(kBytes) / (1024.0 * 1024.0) / dSeconds; }

// SHA-1 of the bytes in calls of cbPiece; the hash is kept for comparison.
double RawSeconds(const std::vector<BYTE>& bytes, size_t cbPiece, std::vector<BYTE>* pHash) {
  HCRYPTPROV hProv = 0;
  HCRYPTHASH hHash = 0;
  if (!CryptAcquireContextW(&hProv, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return -1;
  const double dStart = ThreadSeconds();
  BOOL bDone = CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash);
  for (size_t i = 0; i < bytes.size() && bDone; i += cbPiece)
    bDone = CryptHashData(hHash, bytes.data() + i, static_cast<DWORD>(std::min(cbPiece, bytes.size() - i)), 0);
  pHash->resize(20);
  DWORD cbHash = 20;
  bDone = bDone && CryptGetHashParam(hHash, HP_HASHVAL, pHash->data(), &cbHash, 0);
  const double dSeconds = ThreadSeconds() - dStart;
  if (hHash) CryptDestroyHash(hHash);
  CryptReleaseContext(hProv, 0);
  return bDone ? dSeconds : -1;
}

double ProviderSeconds(Office::SignatureProvider* pProvider, const std::vector<BYTE>& bytes, std::vector<BYTE>* pHash) {
  CComPtr<IStream> cpStream = MemoryStream(bytes);
  CAlwaysContinue queryContinue;
  SAFEARRAY* psa = nullptr;
  const double dStart = ThreadSeconds();
  const HRESULT hr = pProvider->HashStream(&queryContinue, cpStream, &psa);
  const double dSeconds = ThreadSeconds() - dStart;
  if (FAILED(hr) || !psa) return -1;
  void* pv = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(psa, &pv))) {
    pHash->assign(static_cast<BYTE*>(pv), static_cast<BYTE*>(pv) + psa->rgsabound[0].cElements);
    SafeArrayUnaccessData(psa);
  }
  SafeArrayDestroy(psa);
  return dSeconds;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  int iResult = 1;
  {
    CComPtr<Office::SignatureProvider> cpProvider;
    if (FAILED(CreateComObject<CSignatureProvider>(nullptr, Office::IID_SignatureProvider,
                                                   reinterpret_cast<void**>(&cpProvider)))) {
      fprintf(stderr, "sign_bench: no provider\n");
    } else {
      std::vector<BYTE> bytes(kBytes);
      for (size_t i = 0; i < kBytes; ++i) bytes[i] = static_cast<BYTE>(i * 2654435761u >> 24);
      double dProvider = 1e9, dRawPieces = 1e9, dRaw = 1e9;
      bool bOk = true;
      for (int iRound = 0; iRound < kRounds && bOk; ++iRound) {
        std::vector<BYTE> provided, pieces, whole;
        const double dP = ProviderSeconds(cpProvider, bytes, &provided);
        const double dRP = RawSeconds(bytes, kPiece, &pieces);
        const double dR = RawSeconds(bytes, kBytes, &whole);
        bOk = dP > 0 && dRP > 0 && dR > 0 && provided == whole && pieces == whole;
        dProvider = std::min(dProvider, dP), dRawPieces = std::min(dRawPieces, dRP), dRaw = std::min(dRaw, dR);
      }
      if (bOk) {
        printf(
            "HashStream %.1f MB/s; raw CryptoAPI SHA-1 in one call %.1f MB/s, ratio %.2f (target >= 0.90); in "
            "512-byte calls %.1f MB/s, ratio %.2f\n",
            MegabytesPerSecond(dProvider), MegabytesPerSecond(dRaw), dRaw / dProvider, MegabytesPerSecond(dRawPieces),
            dRawPieces / dProvider);
        iResult = 0;
      } else {
        fprintf(stderr, "sign_bench: a hash failed or differed from CryptoAPI's\n");
      }
    }
  }
  CoUninitialize();
  return iResult;
}
