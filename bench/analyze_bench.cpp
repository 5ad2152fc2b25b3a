// The cost of AnalyzeMessage on a received signed message of 10 MB, set beside the platform's own
// verification of the same signature over the same bytes in this process
// (CryptVerifyDetachedMessageSignature; target: a ratio of at most 2), and its time on a typical
// message of 50 KB beside Outlook's 500 ms limit for opening an item. The messages are detached
// signatures of the bench user's own certificate, delivered to the simulated Outlook: the analysis
// converts, loads and verifies them whole and then finds the user's own certificate, which is
// never captured. Each side is measured in alternating rounds and the best round counts, in this
// thread's processor time. Needs an own certificate of the suite for bench@example.org.
#include <windows.h>
#include <wincrypt.h>

#include <mapiutil.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../sim/host/SimOutlook.h"
#include "BenchClock.h"
#include "com/ComPtr.h"
#include "documents/CryptHandles.h"
#include "mail/MapiApi.h"
#include "mail/ReceivedMail.h"
#include "module/CertLibrary.h"

namespace {

constexpr wchar_t kUser[] = L"bench@example.org";
constexpr size_t kLargeBytes = 10 * 1024 * 1024;
constexpr size_t kTypicalBytes = 50 * 1024;
constexpr int kRounds = 3;
constexpr int kTypicalPerRound = 20;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A signed message: the signed entity and its detached signature.
struct SSigned {
  std::string sEntity;
  std::vector<BYTE> signature;
};

// Signed as Outlook signs: SHA-1, with signed attributes (content type, message digest, signing
// time) and the certificate chain, so that the analysis finds the end certificate by its issuer.
bool Sign(PCCERT_CONTEXT pCert, size_t cbText, SSigned* pSigned) {
  std::string& s = pSigned->sEntity;
  s = "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
  while (s.size() < cbText) s += std::string(74, static_cast<char>('a' + s.size() % 26)) + "\r\n";
  PCCERT_CHAIN_CONTEXT pChain = nullptr;
  CERT_CHAIN_PARA chainPara = {sizeof chainPara, {}};
  if (!CertGetCertificateChain(nullptr, pCert, nullptr, nullptr, &chainPara, 0, nullptr, &pChain)) return false;
  std::vector<PCCERT_CONTEXT> chain;
  for (DWORD i = 0; i < pChain->rgpChain[0]->cElement; ++i)
    chain.push_back(pChain->rgpChain[0]->rgpElement[i]->pCertContext);
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  BYTE rgbTime[32] = {};
  CRYPT_ATTR_BLOB time = {sizeof rgbTime, rgbTime};
  const bool bTime = CryptEncodeObject(kEncoding, szOID_RSA_signingTime, &now, rgbTime, &time.cbData);
  CRYPT_ATTRIBUTE signingTime = {const_cast<char*>(szOID_RSA_signingTime), 1, &time};
  CRYPT_SIGN_MESSAGE_PARA para = {};
  para.cbSize = sizeof para;
  para.dwMsgEncodingType = kEncoding;
  para.pSigningCert = pCert;
  para.HashAlgorithm.pszObjId = const_cast<char*>(szOID_OIWSEC_sha1);
  para.cMsgCert = static_cast<DWORD>(chain.size());
  para.rgpMsgCert = chain.data();
  para.cAuthAttr = 1;
  para.rgAuthAttr = &signingTime;
  const BYTE* pb = reinterpret_cast<const BYTE*>(s.data());
  DWORD cb = static_cast<DWORD>(s.size()), cbSigned = 0;
  bool bDone = bTime && CryptSignMessage(&para, TRUE, 1, &pb, &cb, nullptr, &cbSigned);
  if (bDone) {
    pSigned->signature.resize(cbSigned);
    bDone = CryptSignMessage(&para, TRUE, 1, &pb, &cb, pSigned->signature.data(), &cbSigned);
    pSigned->signature.resize(cbSigned);
  }
  CertFreeCertificateChain(pChain);
  return bDone;
}

std::string Mail(const SSigned& signedEntity, const char* szSubject) {
  DWORD cch = 0;
  const std::vector<BYTE>& sig = signedEntity.signature;
  CryptBinaryToStringA(sig.data(), static_cast<DWORD>(sig.size()), CRYPT_STRING_BASE64, nullptr, &cch);
  std::string sBase64(cch, '\0');
  CryptBinaryToStringA(sig.data(), static_cast<DWORD>(sig.size()), CRYPT_STRING_BASE64, sBase64.data(), &cch);
  sBase64.resize(cch);
  return std::string("From: Bench Signer <bench@tessaly.test>\r\nTo: bench@example.org\r\nSubject: ") + szSubject +
         "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; "
         "micalg=sha1; boundary=\"b1\"\r\n\r\n--b1\r\n" +
         signedEntity.sEntity + "\r\n--b1\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\n" +
         "Content-Transfer-Encoding: base64\r\n\r\n" + sBase64 + "\r\n--b1--\r\n";
}

bool WriteFileBytes(const std::wstring& wsPath, const std::string& s) {
  HANDLE hFile = CreateFileW(wsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  DWORD cbWritten = 0;
  const BOOL bDone = WriteFile(hFile, s.data(), static_cast<DWORD>(s.size()), &cbWritten, nullptr);
  CloseHandle(hFile);
  return bDone && cbWritten == s.size();
}

// Seconds per AnalyzeMessage of the item, cCalls times; negative unless it ends at the user's own certificate.
double AnalyzeSeconds(IDispatch* pItem, int cCalls) {
  const double dStart = ThreadSeconds();
  for (int i = 0; i < cCalls; ++i) {
    DWORD dwKind = 0;
    const HRESULT hr = AnalyzeMessage(pItem, &dwKind, nullptr, nullptr);
    if (hr != HRESULT_FROM_WIN32(ERROR_USER_EXISTS)) {
      fwprintf(stderr, L"analyze_bench: AnalyzeMessage gave 0x%08lX\n", static_cast<unsigned long>(hr));
      return -1;
    }
  }
  return (ThreadSeconds() - dStart) / cCalls;
}

double PlatformSeconds(const SSigned& signedEntity) {
  CRYPT_VERIFY_MESSAGE_PARA para = {};
  para.cbSize = sizeof para;
  para.dwMsgAndCertEncodingType = kEncoding;
  const BYTE* pb = reinterpret_cast<const BYTE*>(signedEntity.sEntity.data());
  DWORD cb = static_cast<DWORD>(signedEntity.sEntity.size());
  const double dStart = ThreadSeconds();
  PCCERT_CONTEXT pSigner = nullptr;
  const BOOL bDone =
      CryptVerifyDetachedMessageSignature(&para, 0, signedEntity.signature.data(),
                                          static_cast<DWORD>(signedEntity.signature.size()), 1, &pb, &cb, &pSigner);
  const double dSeconds = ThreadSeconds() - dStart;
  if (pSigner) CertFreeCertificateContext(pSigner);
  return bDone ? dSeconds : -1;
}

// The delivered item of that subject, or null.
IDispatch* ItemOfSubject(Sim::COutlook* pOutlook, const wchar_t* wszSubject) {
  for (IMessage* pMessage : pOutlook->Folder()) {
    SizedSPropTagArray(1, tags) = {1, {PR_SUBJECT_W}};
    ULONG cValues = 0;
    SPropValue* pValues = nullptr;
    const bool bFound =
        SUCCEEDED(pMessage->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &cValues, &pValues)) &&
        pValues[0].ulPropTag == PR_SUBJECT_W && !lstrcmpW(pValues[0].Value.lpszW, wszSubject);
    MapiApi::FreeBuffer(pValues);
    if (bFound) return pOutlook->MailItem(pMessage);
  }
  return nullptr;
}

PCCERT_CONTEXT FindUserCertificate() {
  HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  if (!hStore) return nullptr;
  PCCERT_CONTEXT pCert = CertFindCertificateInStore(hStore, kEncoding, 0, CERT_FIND_SUBJECT_STR, kUser, nullptr);
  CertCloseStore(hStore, 0);
  return pCert;
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const CCertContextHandle hCert(FindUserCertificate());
  SSigned large, typical;
  if (!hCert || !Sign(hCert, kLargeBytes, &large) || !Sign(hCert, kTypicalBytes, &typical)) {
    fwprintf(stderr, L"analyze_bench: no signed messages of %ls\n", kUser);
    return 1;
  }
  int iResult = 1;
  {
    Sim::SOutlookOptions options;
    options.onlyAddIns = {L"NoAddIn"};
    options.accounts = {{kUser, kUser, L"Bench User", L""}};
    options.wsProfilePath = Sim::TempFileName(L"olb");
    options.wsMailDrop = Sim::TempFileName(L"drb");
    const std::wstring wsFolder = options.wsMailDrop + L"\\" + kUser;
    SHCreateDirectoryExW(nullptr, wsFolder.c_str(), nullptr);
    bool bFailed = !WriteFileBytes(wsFolder + L"\\1.eml", Mail(large, "Large")) ||
                   !WriteFileBytes(wsFolder + L"\\2.eml", Mail(typical, "Typical"));
    // The add-in keeps the suite's certificate libraries loaded; so does the bench.
    const CCertLibrary certLibrary;
    CComPtr<Sim::COutlook> cpOutlook;
    cpOutlook.Attach(new Sim::COutlook(options));
    size_t cDelivered = 0;
    bFailed = bFailed || FAILED(cpOutlook->Start()) || FAILED(cpOutlook->Deliver(&cDelivered)) || cDelivered != 2;
    IDispatch* pLarge = bFailed ? nullptr : ItemOfSubject(cpOutlook, L"Large");
    IDispatch* pTypical = bFailed ? nullptr : ItemOfSubject(cpOutlook, L"Typical");
    bFailed = !pLarge || !pTypical;
    double dBestLarge = 1e9, dBestPlatform = 1e9, dBestTypical = 1e9;
    for (int iRound = 0; iRound < kRounds && !bFailed; ++iRound) {
      const double dLarge = AnalyzeSeconds(pLarge, 1);
      const double dPlatform = PlatformSeconds(large);
      const double dTypical = AnalyzeSeconds(pTypical, kTypicalPerRound);
      bFailed = dLarge < 0 || dPlatform < 0 || dTypical < 0;
      dBestLarge = std::min(dBestLarge, dLarge);
      dBestPlatform = std::min(dBestPlatform, dPlatform);
      dBestTypical = std::min(dBestTypical, dTypical);
    }
    cpOutlook->Quit();
    DeleteFileW(options.wsProfilePath.c_str());
    RemoveDirectoryW(wsFolder.c_str());
    RemoveDirectoryW(options.wsMailDrop.c_str());
    if (bFailed) {
      fwprintf(stderr, L"analyze_bench: a measured call failed\n");
    } else {
      wprintf(L"AnalyzeMessage, signed 10 MB:           %.1f ms\n", dBestLarge * 1000);
      wprintf(L"platform verification of the same:     %.1f ms\n", dBestPlatform * 1000);
      wprintf(L"ratio: %.2f (target: at most 2)\n", dBestLarge / dBestPlatform);
      wprintf(
          L"AnalyzeMessage, signed 50 KB:           %.1f ms per message (Outlook's limit for opening an item: 500 "
          L"ms)\n",
          dBestTypical * 1000);
      iResult = 0;
    }
  }
  CoUninitialize();
  return iResult;
}
