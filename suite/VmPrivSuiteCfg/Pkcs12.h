#pragma once
// PKCS #12 (RFC 7292) writer: certificates with their private keys, protected by a password.
// Certificates go in a plain certificate bag, each key in a shrouded key bag
// (pbeWithSHAAnd3-KeyTripleDES-CBC), key and certificate linked by a local key id (the
// certificate's SHA-1 hash); integrity is an HMAC-SHA-1 over the content.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

struct CPfxEntry {
  PCCERT_CONTEXT pCert;          // not owned
  std::vector<BYTE> privateKey;  // CryptoAPI PRIVATEKEYBLOB of an RSA key
};

HRESULT WritePkcs12(const std::vector<CPfxEntry>& entries, const std::wstring& wsPassword, std::vector<BYTE>* pPfx);
