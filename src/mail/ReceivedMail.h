#pragma once
// What a received message means to the add-in: a signer who may become a trusted contact, an
// invitation or its reply, a certificate authority's answer or an enterprise request.
#include <windows.h>
#include <wincrypt.h>

#include <string>

struct IMimeMessage;
class CVerifiedSignature;

// Message kinds of received mail.
constexpr DWORD kKindNone = 0;
constexpr DWORD kKindNewSigner = 1;  // a signer who is not yet a trusted contact, or an invitation
constexpr DWORD kKindTrustedContact = 2;
constexpr DWORD kKindAuthorityAnswer = 3;    // an attachment ".vmpfx"
constexpr DWORD kKindEnterpriseRequest = 4;  // an attachment ".vmcarr" for the receiving address
// The result for a message that is neither signed nor encrypted (MIME OLE's code for it).
constexpr HRESULT kNotSignedOrEncrypted = static_cast<HRESULT>(0x800CCEE2);

// What the received mail item means to the add-in, without changing anything or showing a
// window: the kind, with the contact's display text and certificate (kinds 1 and 2, the
// certificate owned by the caller) or the answer's or request's text (kinds 3 and 4).
// E_INVALIDARG for a null item, E_POINTER for a null kind.
HRESULT AnalyzeMessage(IDispatch* pMailItem, DWORD* pdwKind, BSTR* pbsText, PCCERT_CONTEXT* ppCertificate);

// Nonzero for a certificate authority's answer (kind 3: the DER certificate as Base64 without
// line breaks, or the attachment's text) or an enterprise request for the receiving address
// (kind 4: the request's text).
BOOL IsFromCertAuthority(IDispatch* pMailItem, BSTR* pbsText, DWORD* pdwKind);
// Nonzero when an attachment's file-name extension is wszExt, compared without regard to case.
BOOL AttachmentExists(IDispatch* pMailItem, LPCWSTR wszExt);
BOOL IsInvitationReply(IDispatch* pMailItem);

// Takes the signer's certificate out of a signed MIME message (decrypted first when encrypted)
// whose signature verifies: its display text and, when ppCertificate is given, the certificate.
// ERROR_NOT_FOUND when the message is not signed or names no end certificate of the signer;
// ERROR_USER_EXISTS for the user's own certificate.
HRESULT AddNewBuddy(IStream* pMime, BSTR* pbsText, PCCERT_CONTEXT* ppCertificate);
// The same for a message that LoadVerifiedMessage has decoded.
HRESULT AddNewBuddy(IMimeMessage* pMessage, const CVerifiedSignature& signature, BSTR* pbsText,
                    PCCERT_CONTEXT* ppCertificate);

// An enterprise request "address, full name": both trimmed; both empty without a comma.
void ParseEnterpriseRequest(LPCWSTR wszRequest, std::wstring& wsAddress, std::wstring& wsFullName);
