#pragma once
// Certificates with private keys, memory streams and a message-box answerer for the tests of the
// encryption session data and provider.
#include <objidl.h>
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../sim/host/MemoryStreams.h"
#include "com/ComPtr.h"
#include "documents/CryptHandles.h"

namespace SessionTest {

inline std::wstring NewGuidText() {
  GUID guid = {};
  CoCreateGuid(&guid);
  wchar_t wszGuid[40] = {};
  StringFromGUID2(guid, wszGuid, ARRAYSIZE(wszGuid));
  return wszGuid;
}

// A self-signed certificate whose exchange key lives in a new container of the enhanced provider.
inline PCCERT_CONTEXT MakeCertificate(const std::wstring& wsCommonName) {
  const std::wstring wsContainer = L"SessionTest" + NewGuidText();
  CCryptProvHandle hProv;
  if (!CryptAcquireContextW(&hProv, wsContainer.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
    return nullptr;
  CCryptKeyHandle hKey;
  if (!CryptGenKey(hProv, AT_KEYEXCHANGE, (1024u << 16) | CRYPT_EXPORTABLE, &hKey)) return nullptr;
  const std::wstring wsSubject = L"CN=" + wsCommonName;
  BYTE name[512];
  CERT_NAME_BLOB nameBlob = {sizeof(name), name};
  if (!CertStrToNameW(X509_ASN_ENCODING, wsSubject.c_str(), CERT_X500_NAME_STR, nullptr, name, &nameBlob.cbData,
                      nullptr))
    return nullptr;
  CRYPT_KEY_PROV_INFO keyInfo = {};
  keyInfo.pwszContainerName = const_cast<LPWSTR>(wsContainer.c_str());
  keyInfo.pwszProvName = const_cast<LPWSTR>(MS_ENHANCED_PROV_W);
  keyInfo.dwProvType = PROV_RSA_FULL;
  keyInfo.dwKeySpec = AT_KEYEXCHANGE;
  // Passing the provider handle binds the certificate to the key just generated: given only the
  // key's place, the platform's certificate carried a public key that the container did not hold.
  PCCERT_CONTEXT pCert =
      CertCreateSelfSignCertificate(hProv, &nameBlob, 0, &keyInfo, nullptr, nullptr, nullptr, nullptr);
  // The platform does not always attach the key's place to the new certificate.
  if (pCert) CertSetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, 0, &keyInfo);
  return pCert;
}

// Certificates reach a system store for other handles only when the adding handle is closed.
inline bool AddToUserStore(const wchar_t* wszStore, PCCERT_CONTEXT pCert) {
  const HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, wszStore);
  if (!hStore) return false;
  const BOOL bAdded = CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(hStore, 0);
  return bAdded;
}

inline void Rewind(IStream* pStream) {
  LARGE_INTEGER zero = {};
  pStream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

// Answers every message box of this process with a given button and records its text.
class CMessageBoxAnswerer {
 public:
  explicit CMessageBoxAnswerer(int iButton) : m_iButton(iButton), m_thread([this] { Run(); }) {}
  ~CMessageBoxAnswerer() {
    m_bStop = true;
    m_thread.join();
  }
  std::vector<std::wstring> Texts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts;
  }

 private:
  void Run() {
    while (!m_bStop) {
      EnumWindows(&CMessageBoxAnswerer::AnswerWindow, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }
  static BOOL CALLBACK AnswerWindow(HWND hWnd, LPARAM lParam) {
    auto* pThis = reinterpret_cast<CMessageBoxAnswerer*>(lParam);
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    wchar_t wszClass[16] = {};
    GetClassNameW(hWnd, wszClass, ARRAYSIZE(wszClass));
    if (dwPid != GetCurrentProcessId() || wcscmp(wszClass, L"#32770") != 0 || !IsWindowVisible(hWnd)) return TRUE;
    wchar_t wszText[1024] = {};
    GetDlgItemTextW(hWnd, 0xFFFF, wszText, ARRAYSIZE(wszText));
    {
      std::lock_guard<std::mutex> lock(pThis->m_mutex);
      pThis->m_texts.push_back(wszText);
    }
    // A box without the wanted button (a warning with OK only) is answered with OK.
    HWND hButton = GetDlgItem(hWnd, pThis->m_iButton);
    if (!hButton) hButton = GetDlgItem(hWnd, IDOK);
    SendMessageW(hButton, BM_CLICK, 0, 0);
    return TRUE;
  }

  int m_iButton;
  std::atomic<bool> m_bStop{false};
  std::mutex m_mutex;
  std::vector<std::wstring> m_texts;
  std::thread m_thread;
};

}  // namespace SessionTest
