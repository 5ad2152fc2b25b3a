#pragma once
// What a received message means to the add-in: a signer who may become a trusted contact, an
// invitation or its reply, a certificate authority's answer or an enterprise request.
#include <windows.h>
#include <wincrypt.h>

#include <string>

// Takes the signer's certificate out of a signed MIME message (decrypted first when encrypted)
// whose signature verifies: its display text and, when ppCertificate is given, the certificate.
// ERROR_NOT_FOUND when the message is not signed or names no end certificate of the signer;
// ERROR_USER_EXISTS for the user's own certificate.
HRESULT AddNewBuddy(IStream* pMime, BSTR* pbsText, PCCERT_CONTEXT* ppCertificate);

// An enterprise request "address, full name": both trimmed; both empty without a comma.
void ParseEnterpriseRequest(LPCWSTR wszRequest, std::wstring& wsAddress, std::wstring& wsFullName);
