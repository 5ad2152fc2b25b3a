#pragma once
// Making a user's key pair in the suite's key provider and putting certificates into the
// current user's system stores.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "SuiteHandles.h"

constexpr wchar_t kMyStore[] = L"MY";
// The trusted contacts' certificates.
constexpr wchar_t kBuddyStore[] = L"VelmoraBuddies";

// A new key container of the suite's provider with an exchange key pair; its public key.
HRESULT CreateSuiteKeyPair(std::wstring* pwsContainer, std::vector<BYTE>* pPublicKey);

// A context of the certificate that names its key container in the suite's provider.
HRESULT CreateOwnCertificate(const BYTE* pbDer, DWORD cbDer, const std::wstring& wsContainer, PCCERT_CONTEXT* ppCert);

HCERTSTORE OpenUserStore(const wchar_t* wszStore);

// Adds through a handle of its own and closes it: a registry-backed store may keep additions
// in memory until its last handle and context are gone, so no context of it is kept.
HRESULT AddToUserStore(const wchar_t* wszStore, PCCERT_CONTEXT pCert, DWORD dwDisposition);
