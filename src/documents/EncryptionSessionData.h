#pragma once
// One encryption session's recipients and key material, and the provider data that Office stores
// with an encrypted document (docs/document-session-data.md).
#include <objidl.h>
#include <windows.h>
#include <wincrypt.h>

#include <span>
#include <vector>

#include "documents/CryptHandles.h"

// Reading refuses provider data beyond these before allocating anything: a 16384-bit RSA key wraps
// to 2048 bytes and issuer names and serial numbers are far below a few kilobytes.
inline constexpr DWORD kMaxSessionFieldSize = 64 * 1024;
inline constexpr DWORD kMaxSessionRecipients = 4096;

// The Triple DES key of one stream, derived from a session's key material; owns the provider
// context, hash and key it needed.
class CContentKey {
 public:
  HRESULT Derive(const BYTE* pbKey, DWORD cbKey);
  HCRYPTKEY Key() const { return m_hKey; }

 private:
  CCryptProvHandle m_hProv;
  CCryptHashHandle m_hHash;
  CCryptKeyHandle m_hKey;
};

class CEncryptionSessionData {
 public:
  CEncryptionSessionData() = default;
  CEncryptionSessionData(const CEncryptionSessionData& other);
  CEncryptionSessionData& operator=(const CEncryptionSessionData& other);
  ~CEncryptionSessionData();

  void Reset();
  HRESULT GenerateSessionKey();
  HRESULT WriteSessionData(IStream* pStream, ULONG* pcbWritten) const;
  HRESULT ReadSessionData(HWND hParentWindow, IStream* pStream);
  HRESULT DeriveContentKey(CContentKey* pContentKey) const { return pContentKey->Derive(m_pbKey, m_cbKey); }

  // Each certificate is duplicated into the record.
  void SetRecipients(std::span<const PCCERT_CONTEXT> recipients);
  void AddRecipient(PCCERT_CONTEXT pCert);
  const std::vector<PCCERT_CONTEXT>& Recipients() const { return m_aRecipients; }
  std::span<const BYTE> KeyMaterial() const { return {m_pbKey, m_cbKey}; }

 private:
  void ReleaseRecipients();
  void FreeKey();

  std::vector<PCCERT_CONTEXT> m_aRecipients;
  BYTE* m_pbKey = nullptr;
  DWORD m_cbKey = 0;
};
