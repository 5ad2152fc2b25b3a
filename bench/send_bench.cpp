// The cost of SetMessageSecurity for one sealed message, set beside what Outlook then asks of the
// platform: signing a 100 KB message with the same certificate and key (CryptSignMessage, SHA-1),
// in this process. The add-in should never cost more than the signature it asks for (ratio at
// most 1.0). Messages are composed in the simulated Outlook outside the timing; each side is
// measured in alternating rounds and the best round counts, in this thread's processor time.
// Needs an own certificate of the suite for bench@example.org (tools/bench.sh makes one).
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "../sim/host/SimOutlook.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "documents/CryptHandles.h"
#include "mail/MessageSecurity.h"
#include "module/CertLibrary.h"
#include "BenchClock.h"

namespace {

constexpr wchar_t kSender[] = L"bench@example.org";
constexpr size_t kMessageBytes = 100 * 1024;
constexpr int kMessagesPerRound = 20;
constexpr int kRounds = 5;

// Seconds per message of SetMessageSecurity(sign, seal) on fresh messages; negative on failure.
double SecuritySeconds(Sim::COutlook* pOutlook) {
  std::vector<CComPtr<IDispatch>> items;
  for (int i = 0; i < kMessagesPerRound; ++i) {
    Sim::CInspector* pInspector = nullptr;
    if (FAILED(pOutlook->Compose(&pInspector))) return -1;
    // The window stays open, as when the user sends: the add-in takes its owner window from it.
    items.emplace_back(pOutlook->MailItem(pInspector->Message()));
  }
  const double dStart = ThreadSeconds();
  for (IDispatch* pItem : items) {
    CComBSTR bsContainer;
    const HRESULT hr = SetMessageSecurity(pItem, TRUE, TRUE, &bsContainer);
    if (FAILED(hr)) {
      fwprintf(stderr, L"send_bench: SetMessageSecurity failed: 0x%08lX\n", static_cast<unsigned long>(hr));
      return -1;
    }
  }
  return (ThreadSeconds() - dStart) / kMessagesPerRound;
}

// Seconds per 100 KB message signed by the platform with the certificate's key; negative on failure.
double PlatformSeconds(PCCERT_CONTEXT pCert, const std::vector<BYTE>& message) {
  CRYPT_SIGN_MESSAGE_PARA para = {};
  para.cbSize = sizeof para;
  para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  para.pSigningCert = pCert;
  para.HashAlgorithm.pszObjId = const_cast<char*>(szOID_OIWSEC_sha1);
  para.cMsgCert = 1;
  para.rgpMsgCert = &pCert;
  const BYTE* pbMessage = message.data();
  DWORD cbMessage = static_cast<DWORD>(message.size());
  std::vector<BYTE> signedMessage(message.size() + 16384);
  const double dStart = ThreadSeconds();
  for (int i = 0; i < kMessagesPerRound; ++i) {
    DWORD cbSigned = static_cast<DWORD>(signedMessage.size());
    if (!CryptSignMessage(&para, FALSE, 1, &pbMessage, &cbMessage, signedMessage.data(), &cbSigned)) {
      fwprintf(stderr, L"send_bench: CryptSignMessage failed: %lu\n", GetLastError());
      return -1;
    }
  }
  return (ThreadSeconds() - dStart) / kMessagesPerRound;
}

PCCERT_CONTEXT FindSenderCertificate() {
  HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  if (!hStore) return nullptr;
  PCCERT_CONTEXT pCert = CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                    CERT_FIND_SUBJECT_STR, kSender, nullptr);
  CertCloseStore(hStore, 0);
  return pCert;
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const CCertContextHandle hCert(FindSenderCertificate());
  if (!hCert) {
    fwprintf(stderr, L"send_bench: no own certificate for %ls\n", kSender);
    return 1;
  }
  int iResult = 1;
  {
    Sim::SOutlookOptions options;
    options.onlyAddIns = {L"NoAddIn"};
    options.accounts = {{kSender, kSender, L"Bench User", L""}};
    wchar_t wszFolder[MAX_PATH] = {}, wszProfile[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wszFolder);
    GetTempFileNameW(wszFolder, L"olb", 0, wszProfile);
    options.wsProfilePath = wszProfile;
    // The connected add-in keeps the suite's certificate libraries loaded; so does the bench.
    const CCertLibrary certLibrary;
    CComPtr<Sim::COutlook> cpOutlook;
    cpOutlook.Attach(new Sim::COutlook(options));
    std::vector<BYTE> message(kMessageBytes);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<BYTE>('a' + i % 26);
    double dBestSecurity = 1e9, dBestPlatform = 1e9;
    bool bFailed = FAILED(cpOutlook->Start());
    for (int iRound = 0; iRound < kRounds && !bFailed; ++iRound) {
      const double dSecurity = SecuritySeconds(cpOutlook);
      const double dPlatform = PlatformSeconds(hCert, message);
      bFailed = dSecurity < 0 || dPlatform < 0;
      dBestSecurity = std::min(dBestSecurity, dSecurity);
      dBestPlatform = std::min(dBestPlatform, dPlatform);
    }
    cpOutlook->Quit();
    DeleteFileW(wszProfile);
    if (bFailed) {
      fwprintf(stderr, L"send_bench: a measured call failed\n");
    } else {
      wprintf(L"SetMessageSecurity (sign and seal): %.3f ms per message\n", dBestSecurity * 1000);
      wprintf(L"platform signature of 100 KB:        %.3f ms per message\n", dBestPlatform * 1000);
      wprintf(L"ratio: %.2f (target: at most 1.0)\n", dBestSecurity / dBestPlatform);
      iResult = 0;
    }
  }
  CoUninitialize();
  return iResult;
}
