// Throughput of the signature provider's HashStream on a 16 MiB stream (16 times a round), side
// by side with raw CryptoAPI SHA-1 over the same bytes in this process: in the provider's
// 512-byte calls and in one call. Then the cost of one SignXmlDsig on the signature template of a typical document,
// side by side with the platform's raw RSA signature of a SHA-1 hash with the same key. Each is
// measured in alternating rounds and the best round counts, in this thread's processor time.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../sim/host/MemoryStreams.h"
#include "BenchClock.h"
#include "com/ComPtr.h"
#include "documents/SignatureProvider.h"
#include "module/CertLibrary.h"

namespace {

constexpr size_t kBytes = 16 * 1024 * 1024;
constexpr int kRepeats = 16;  // hashes of the bytes in a round: Wine counts processor time in 10 ms ticks
constexpr size_t kPiece = 512;
constexpr int kRounds = 5;
constexpr int kSignatures = 20;  // a round of signatures: Wine counts processor time in 10 ms ticks

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

double MegabytesPerSecond(double dSeconds) {
  return static_cast<double>(kBytes) * kRepeats / (1024.0 * 1024.0) / dSeconds;
}

// SHA-1 of the bytes in calls of cbPiece, kRepeats times; the hash is kept for comparison.
double RawSeconds(const std::vector<BYTE>& bytes, size_t cbPiece, std::vector<BYTE>* pHash) {
  HCRYPTPROV hProv = 0;
  if (!CryptAcquireContextW(&hProv, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return -1;
  BOOL bDone = TRUE;
  const double dStart = ThreadSeconds();
  for (int iRepeat = 0; iRepeat < kRepeats && bDone; ++iRepeat) {
    HCRYPTHASH hHash = 0;
    bDone = CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash);
    for (size_t i = 0; i < bytes.size() && bDone; i += cbPiece)
      bDone = CryptHashData(hHash, bytes.data() + i, static_cast<DWORD>(std::min(cbPiece, bytes.size() - i)), 0);
    pHash->resize(20);
    DWORD cbHash = 20;
    bDone = bDone && CryptGetHashParam(hHash, HP_HASHVAL, pHash->data(), &cbHash, 0);
    if (hHash) CryptDestroyHash(hHash);
  }
  const double dSeconds = ThreadSeconds() - dStart;
  CryptReleaseContext(hProv, 0);
  return bDone ? dSeconds : -1;
}

// HashStream over the bytes, kRepeats times; the last hash is kept for comparison.
double ProviderSeconds(Office::SignatureProvider* pProvider, const std::vector<BYTE>& bytes, std::vector<BYTE>* pHash) {
  CComPtr<IStream> cpStream = MemoryStream(bytes);
  CAlwaysContinue queryContinue;
  HRESULT hr = S_OK;
  const double dStart = ThreadSeconds();
  for (int iRepeat = 0; iRepeat < kRepeats && SUCCEEDED(hr); ++iRepeat) {
    cpStream->Seek({}, STREAM_SEEK_SET, nullptr);
    SAFEARRAY* psa = nullptr;
    hr = pProvider->HashStream(&queryContinue, cpStream, &psa);
    void* pv = nullptr;
    if (SUCCEEDED(hr) && psa && SUCCEEDED(SafeArrayAccessData(psa, &pv))) {
      pHash->assign(static_cast<BYTE*>(pv), static_cast<BYTE*>(pv) + psa->rgsabound[0].cElements);
      SafeArrayUnaccessData(psa);
    }
    if (psa) SafeArrayDestroy(psa);
  }
  const double dSeconds = ThreadSeconds() - dStart;
  return SUCCEEDED(hr) ? dSeconds : -1;
}

// Office's signature template for a document of ten parts: the package object with the manifest
// of their digests and the signing time, referenced from SignedInfo.
std::vector<BYTE> SignatureTemplate() {
  std::string sXml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\" "
      "Id=\"idPackageSignature\"><SignedInfo><CanonicalizationMethod "
      "Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/><SignatureMethod "
      "Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/><Reference "
      "Type=\"http://www.w3.org/2000/09/xmldsig#Object\" URI=\"#idPackageObject\"><DigestMethod "
      "Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue/></Reference></SignedInfo><SignatureValue/>"
      "<Object Id=\"idPackageObject\"><Manifest>";
  for (int i = 0; i < 10; ++i)
    sXml += "<Reference URI=\"/word/part" + std::to_string(i) +
            ".xml?ContentType=application/xml\"><DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/>"
            "<DigestValue>2jmj7l5rSw0yVb/vlWAYkK/YBwk=</DigestValue></Reference>";
  sXml +=
      "</Manifest><SignatureProperties><SignatureProperty Id=\"idSignatureTime\" Target=\"#idPackageSignature\">"
      "<mdssi:SignatureTime xmlns:mdssi=\"http://schemas.openxmlformats.org/package/2006/digital-signature\">"
      "<mdssi:Format>YYYY-MM-DDThh:mm:ssTZD</mdssi:Format><mdssi:Value>2026-01-01T00:00:00Z</mdssi:Value>"
      "</mdssi:SignatureTime></SignatureProperty></SignatureProperties></Object></Signature>";
  return std::vector<BYTE>(sXml.begin(), sXml.end());
}

// Seconds for a round of SignXmlDsig calls, each on a fresh template.
double SignXmlDsigSeconds(Office::SignatureProvider* pProvider) {
  const std::vector<BYTE> xml = SignatureTemplate();
  std::vector<CComPtr<IStream>> streams;
  for (int i = 0; i < kSignatures; ++i) streams.push_back(MemoryStream(xml));
  CAlwaysContinue queryContinue;
  const double dStart = ThreadSeconds();
  for (auto& cpStream : streams) {
    if (FAILED(pProvider->SignXmlDsig(&queryContinue, nullptr, nullptr, cpStream))) return -1;
  }
  const double dSeconds = ThreadSeconds() - dStart;
  return StreamBytes(streams.back()).size() > xml.size() ? dSeconds : -1;
}

// Seconds for a round of raw RSA signatures of a SHA-1 hash with the certificate's key.
double RawSignSeconds(PCCERT_CONTEXT pCert) {
  HCRYPTPROV hProv = 0;
  DWORD dwKeySpec = 0;
  BOOL bFree = FALSE;
  if (!CryptAcquireCertificatePrivateKey(pCert, 0, nullptr, &hProv, &dwKeySpec, &bFree)) return -1;
  const BYTE data[] = "SignedInfo";
  BYTE signature[512];
  bool bDone = true;
  const double dStart = ThreadSeconds();
  for (int i = 0; i < kSignatures && bDone; ++i) {
    HCRYPTHASH hHash = 0;
    DWORD cbSignature = sizeof(signature);
    bDone = CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash) && CryptHashData(hHash, data, sizeof(data), 0) &&
            CryptSignHashW(hHash, dwKeySpec, nullptr, 0, signature, &cbSignature);
    if (hHash) CryptDestroyHash(hHash);
  }
  const double dSeconds = ThreadSeconds() - dStart;
  if (bFree) CryptReleaseContext(hProv, 0);
  return bDone ? dSeconds : -1;
}

// One signature's cost in the provider beside the raw RSA signature; false when a call failed.
bool CompareSigning(Office::SignatureProvider* pProvider) {
  const CCertLibrary certLib;
  const CPersonalStoreScope personalStore(certLib);
  PCCERT_CONTEXT pCert = nullptr;
  if (FAILED(certLib.CM_GetMyCert(&pCert)) || !pCert) {
    fprintf(stderr, "sign_bench: no own certificate (tools/bench.sh makes one)\n");
    return false;
  }
  double dProvider = 1e9, dRaw = 1e9;
  bool bOk = true;
  for (int iRound = 0; iRound < kRounds && bOk; ++iRound) {
    const double dP = SignXmlDsigSeconds(pProvider);
    const double dR = RawSignSeconds(pCert);
    bOk = dP > 0 && dR > 0;
    dProvider = std::min(dProvider, dP), dRaw = std::min(dRaw, dR);
  }
  CertFreeCertificateContext(pCert);
  if (!bOk) {
    fprintf(stderr, "sign_bench: a signature failed\n");
    return false;
  }
  printf("SignXmlDsig %.2f ms a signature; raw RSA-SHA1 signature with the same key %.2f ms, cost %.1f times\n",
         dProvider * 1000 / kSignatures, dRaw * 1000 / kSignatures, dProvider / dRaw);
  return true;
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
        iResult = CompareSigning(cpProvider) ? 0 : 1;
      } else {
        fprintf(stderr, "sign_bench: a hash failed or differed from CryptoAPI's\n");
      }
    }
  }
  CoUninitialize();
  return iResult;
}
