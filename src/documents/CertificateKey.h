#pragma once
// A certificate's private key opened for one use through the suite's key provider.
#include <windows.h>
#include <wincrypt.h>

#include "documents/CryptHandles.h"
#include "module/Trace.h"

class CCertificateKey {
 public:
  CCertificateKey() = default;
  ~CCertificateKey();
  CCertificateKey(const CCertificateKey&) = delete;
  CCertificateKey& operator=(const CCertificateKey&) = delete;

  // Acquires the key's provider without healing, lets the provider's dialogs be owned by
  // hwndOwner and gets the key pair. Failures are traced under the API's name.
  HRESULT Open(PCCERT_CONTEXT pCert, HWND hwndOwner, CTraceScope& trace, DWORD dwAcquireFlags = 0);

  HCRYPTPROV Provider() const { return m_hProv; }
  HCRYPTKEY Key() const { return m_hKey; }

 private:
  HCRYPTPROV m_hProv = 0;
  BOOL m_bRelease = FALSE;
  CCryptKeyHandle m_hKey;
};
