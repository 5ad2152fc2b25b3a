#pragma once
// The compound file that Office writes for a document encrypted by a custom encryption provider
// (docs/encrypted-document-file.md): the data spaces that name the encryption transform, the
// "EncryptionInfo" stream with the extensible header and the provider data, and the
// "EncryptedPackage" stream.
#include <windows.h>

#include <string>
#include <vector>

namespace Sim {

struct SEncryptedContainer {
  std::wstring wsProviderId;   // the provider's class id, "{...}"
  std::wstring wsProviderUrl;  // what the provider gave as its address; may be empty
  std::vector<BYTE> providerData;
  ULONGLONG cbPackage = 0;  // the plain package's size
  std::vector<BYTE> encryptedPackage;
};

HRESULT WriteEncryptedContainer(const std::wstring& wsPath, const SEncryptedContainer& container);
// S_FALSE when the file is no compound file (a plain package); a compound file that is not an
// encrypted document, or a damaged one, gives a failure at once and *pwsWhy says what is wrong.
HRESULT ReadEncryptedContainer(const std::wstring& wsPath, SEncryptedContainer* pContainer, std::wstring* pwsWhy);

// A stream of a storage, whole.
HRESULT ReadStream(IStorage* pStorage, const wchar_t* wszName, std::vector<BYTE>* pBytes);
// The whole file.
HRESULT ReadFileBytes(const std::wstring& wsPath, std::vector<BYTE>* pBytes);

}  // namespace Sim
