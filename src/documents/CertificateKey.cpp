#include "documents/CertificateKey.h"

#include "module/Trace.h"

HRESULT CCertificateKey::Open(PCCERT_CONTEXT pCert, HWND hwndOwner, CTraceScope& trace, DWORD dwAcquireFlags) {
  DWORD dwKeySpec = 0;
  if (!CryptAcquireCertificatePrivateKey(pCert, CRYPT_ACQUIRE_NO_HEALING | dwAcquireFlags, nullptr, &m_hProv,
                                         &dwKeySpec, &m_bRelease)) {
    const HRESULT hr = LastErrorResult();
    trace.Error("CryptAcquireCertificatePrivateKey()", hr);
    return hr;
  }
  trace.Message("CryptAcquireCertificatePrivateKey() succeeded");
  // A provider that refuses an owner window still asks for the key, only without an owner.
  CryptSetProvParam(m_hProv, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&hwndOwner), 0);
  if (!CryptGetUserKey(m_hProv, dwKeySpec, &m_hKey)) {
    const HRESULT hr = LastErrorResult();
    trace.Error("CryptGetUserKey()", hr);
    return hr;
  }
  trace.Message("CryptGetUserKey() succeeded");
  return S_OK;
}

CCertificateKey::~CCertificateKey() {
  if (!m_hProv) return;
  m_hKey.Close();
  const HWND hwndNone = nullptr;
  CryptSetProvParam(m_hProv, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&hwndNone), 0);
  if (m_bRelease) CryptReleaseContext(m_hProv, 0);
}
