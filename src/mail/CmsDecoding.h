#pragma once
// The PKCS #7 parts of received S/MIME messages. The platform's CryptMsg functions decode and
// verify signatures; what they leave undone on some systems is done here on every system
// (docs/platform-notes.md): the message digest of signed attributes is compared, EnvelopedData
// is decrypted by hand with the user's key, and the encryption-preference attribute is read
// without the platform's decoder.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "documents/CryptHandles.h"

using CByteVector = std::vector<BYTE>;

struct CMsgCloser {
  static void Close(HCRYPTMSG h) { CryptMsgClose(h); }
};
struct CStoreCloser {
  static void Close(HCERTSTORE h) { CertCloseStore(h, 0); }
};
using CCryptMsgHandle = CCryptHandle<HCRYPTMSG, CMsgCloser>;
using CCertStoreHandle = CCryptHandle<HCERTSTORE, CStoreCloser>;

// Decrypts EnvelopedData (BER or DER, in a ContentInfo) for the first key-transport recipient
// whose certificate is in hStore: the content key with that certificate's private key, the
// content with Triple DES or AES in CBC mode. CRYPT_E_RECIPIENT_NOT_FOUND when the user is
// none of the recipients; CRYPT_E_UNKNOWN_ALGO for other algorithms.
HRESULT DecryptEnvelopedData(const BYTE* pb, size_t cb, HCERTSTORE hStore, CByteVector* pContent);

// A SignedData whose every signer's signature has been verified against the content.
class CVerifiedSignature {
 public:
  // pbContent: the content of a detached signature, null for an opaque one. Fails with the
  // platform's error, or CRYPT_E_HASH_VALUE when a signer's message digest is not the
  // content's, or CRYPT_E_NO_SIGNER when there is no signer or its certificate is not carried.
  HRESULT Verify(const BYTE* pbSignature, size_t cbSignature, const BYTE* pbContent, size_t cbContent);
  // The message's certificates (valid after a successful Verify).
  HCERTSTORE Certificates() const { return m_hStore; }
  // The signer's certificate from the message, a new reference; null for a bad index.
  PCCERT_CONTEXT SignerCertificate(DWORD dwSigner) const;
  // The value of a signed attribute of the signer (its first value, DER); empty when absent.
  CByteVector SignedAttribute(DWORD dwSigner, const char* szOid) const;

 private:
  // The signer's CRYPT_ATTRIBUTES; empty when it has no signed attribute.
  CByteVector SignedAttributes(DWORD dwSigner) const;

  CCryptMsgHandle m_hMsg;
  CCertStoreHandle m_hStore;
};

// The certificate that an encryption-preference attribute value (1.3.6.1.4.1.311.16.4, or the
// same choice tagged [0] as in S/MIME's own preference) names by issuer and serial number, in
// hStore; null when it is not there or the value names it by a key identifier or anything else.
PCCERT_CONTEXT FindPreferredCertificate(const CByteVector& preference, HCERTSTORE hStore);
