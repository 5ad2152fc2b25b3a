#pragma once
// Received messages in their MIME form: loaded with the MIME message objects of Office or
// Windows, decrypted with the user's keys, their signatures verified and their signer looked up
// among the trusted contacts. Nothing here shows or changes a message.
#include <windows.h>
#include <mapix.h>
#include <wincrypt.h>

#include "mail/CmsDecoding.h"
#include "mimeole.h"

class CCertLibrary;

class CMimeMessage {
 public:
  // A MIME message object (Office's class first, then Windows') loaded from the stream at its
  // current position.
  static HRESULT Initialize(IMimeMessage** ppMessage, IStream* pStream);
  // IMF_SIGNED and IMF_ENCRYPTED of the message's outer form, from its root's content type.
  static HRESULT GetFlags(IMimeMessage* pMessage, DWORD* pdwFlags);
  // Verifies the signature of a signed message, opaque or detached (multipart/signed with
  // either spelling of the protocol). S_FALSE, and no signer, for a message that is not signed.
  static HRESULT Decode(IMimeMessage* pMessage, CVerifiedSignature* pSignature);
};

// Replaces an encrypted message by its decrypted content; S_OK and the message as it was when it
// is not encrypted.
HRESULT DecryptMessage(IMimeMessage** ppMessage);

// The certificate in hStore that the signer names as its preferred encryption certificate, a new
// reference; null when there is none or it is not the signer's own (another subject).
PCCERT_CONTEXT GetSignerCertFromStore(const CVerifiedSignature& signature, HCERTSTORE hStore, DWORD dwSigner);

// Loads the message at the start of the stream, decrypts it when it is encrypted and verifies its
// signature (S_FALSE for a message that is not signed).
HRESULT LoadVerifiedMessage(IStream* pStream, IMimeMessage** ppMessage, CVerifiedSignature* pSignature);

// Whether the signer of the message in the stream is a trusted contact already:
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when not. Both out arguments may be null.
HRESULT FindExistingBuddy(IStream* pStream, BSTR* pbsDisplayName, PCCERT_CONTEXT* ppCertificate);
// The same for a message that LoadVerifiedMessage has decoded.
HRESULT FindExistingBuddy(const CVerifiedSignature& signature, BSTR* pbsDisplayName, PCCERT_CONTEXT* ppCertificate);

// A contact's display text, "name [address]" or the one of the two that exists: E_ACCESSDENIED
// for a certificate of a kind not accepted for contacts, E_INVALIDARG when it has neither.
HRESULT GetContactText(const CCertLibrary& certLib, PCCERT_CONTEXT pCert, BSTR* pbsText);

// Task memory as the stream helpers hand it out, freed at scope exit.
struct CTaskMemory {
  CTaskMemory() = default;
  ~CTaskMemory() { CoTaskMemFree(pb); }
  CTaskMemory(const CTaskMemory&) = delete;
  CTaskMemory& operator=(const CTaskMemory&) = delete;
  BYTE* pb = nullptr;
  ULONG cb = 0;
};

// A whole stream, from its start, in task memory (CoTaskMemFree), read 256 bytes at a time.
HRESULT ReadWholeStream(IStream* pStream, BYTE** ppb, ULONG* pcb);
// A property or body part opened as a stream, whole, in task memory.
HRESULT ReadWholeProperty(IMAPIProp* pProp, ULONG ulPropTag, BYTE** ppb, ULONG* pcb);
// A read-only memory stream over a copy of the bytes, made by shlwapi.dll's ordinal 12; the
// library stays loaded while the stream lives.
HRESULT CreateMemoryStream(const BYTE* pb, UINT cb, IStream** ppStream);
// An empty memory stream to write into, growing by doubling (the platform's grow by each write).
HRESULT CreateGrowingStream(IStream** ppStream);
