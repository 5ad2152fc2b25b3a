#include "SimContainer.h"

#include <objbase.h>
#include <wincrypt.h>

#include "SimCompoundFile.h"
#include "com/ComPtr.h"

namespace Sim {
namespace {

constexpr wchar_t kDataSpaces[] =
    L"\x0006"
    L"DataSpaces";
constexpr wchar_t kPrimary[] =
    L"\x0006"
    L"Primary";
constexpr wchar_t kDataSpaceName[] = L"StrongEncryptionDataSpace";
constexpr wchar_t kTransformName[] = L"StrongEncryptionTransform";
constexpr wchar_t kEncryptionTransformId[] = L"{FF9A3F03-56EF-4613-BDD5-5A41C1D07246}";
constexpr DWORD kExternal = 0x10;  // fExternal: a custom provider did the encryption
constexpr WORD kVersionMajor = 4;
constexpr WORD kVersionMinor = 3;
constexpr DWORD kStreamMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;

class CWriter {
 public:
  void U16(WORD w) { Bytes(&w, sizeof w); }
  void U32(DWORD dw) { Bytes(&dw, sizeof dw); }
  void U64(ULONGLONG ull) { Bytes(&ull, sizeof ull); }
  void Bytes(const void* pv, size_t cb) {
    const BYTE* pb = static_cast<const BYTE*>(pv);
    m_bytes.insert(m_bytes.end(), pb, pb + cb);
  }
  // A length-prefixed UTF-16 string padded to four bytes (UNICODE-LP-P4).
  void PaddedString(const std::wstring& ws) {
    U32(static_cast<DWORD>(ws.size() * sizeof(wchar_t)));
    Bytes(ws.data(), ws.size() * sizeof(wchar_t));
    while (m_bytes.size() % 4) m_bytes.push_back(0);
  }
  // Reader, updater and writer version 1.0.
  void Versions() {
    for (int i = 0; i < 3; ++i) U16(1), U16(0);
  }
  std::vector<BYTE> m_bytes;
};

HRESULT WriteStream(IStorage* pStorage, const wchar_t* wszName, const std::vector<BYTE>& bytes) {
  CComPtr<IStream> cpStream;
  HRESULT hr = pStorage->CreateStream(wszName, kStreamMode, 0, 0, &cpStream);
  ULONG cbWritten = 0;
  if (SUCCEEDED(hr) && !bytes.empty()) hr = cpStream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &cbWritten);
  return SUCCEEDED(hr) && cbWritten != bytes.size() ? STG_E_WRITEFAULT : hr;
}

HRESULT CreateStorage(IStorage* pParent, const wchar_t* wszName, IStorage** ppStorage) {
  return pParent->CreateStorage(wszName, kStreamMode, 0, 0, ppStorage);
}

// The data spaces: the package stream is transformed by the encryption transform, the provider's.
std::vector<BYTE> VersionStream() {
  CWriter version;
  version.PaddedString(L"Microsoft.Container.DataSpaces");
  version.Versions();
  return version.m_bytes;
}

std::vector<BYTE> DataSpaceMapStream() {
  CWriter entry;
  entry.U32(1);  // one reference component
  entry.U32(0);  // of the kind stream
  entry.PaddedString(L"EncryptedPackage");
  entry.PaddedString(kDataSpaceName);
  CWriter map;
  map.U32(8);  // header length
  map.U32(1);  // entry count
  map.U32(static_cast<DWORD>(entry.m_bytes.size() + 4));
  map.Bytes(entry.m_bytes.data(), entry.m_bytes.size());
  return map.m_bytes;
}

std::vector<BYTE> DefinitionStream() {
  CWriter definition;
  definition.U32(8);  // header length
  definition.U32(1);  // transform count
  definition.PaddedString(kTransformName);
  return definition.m_bytes;
}

std::vector<BYTE> TransformStream(const std::wstring& wsProviderId) {
  CWriter transform;
  const std::wstring wsId = kEncryptionTransformId;
  transform.U32(static_cast<DWORD>(4 + 4 + 4 + wsId.size() * sizeof(wchar_t)));  // up to the name
  transform.U32(1);                                                              // transform type
  transform.PaddedString(wsId);
  transform.PaddedString(L"Microsoft.Container.EncryptionTransform");
  transform.Versions();
  transform.PaddedString(wsProviderId);  // the encryption's name: the provider
  transform.U32(8);                      // block size
  transform.U32(1);                      // cipher mode: CBC
  transform.U32(4);                      // reserved
  return transform.m_bytes;
}

HRESULT WriteDataSpaces(IStorage* pRoot, const std::wstring& wsProviderId) {
  CComPtr<IStorage> cpSpaces, cpInfo, cpTransforms, cpTransform;
  HRESULT hr = CreateStorage(pRoot, kDataSpaces, &cpSpaces);
  if (SUCCEEDED(hr)) hr = WriteStream(cpSpaces, L"Version", VersionStream());
  if (SUCCEEDED(hr)) hr = WriteStream(cpSpaces, L"DataSpaceMap", DataSpaceMapStream());
  if (SUCCEEDED(hr)) hr = CreateStorage(cpSpaces, L"DataSpaceInfo", &cpInfo);
  if (SUCCEEDED(hr)) hr = WriteStream(cpInfo, kDataSpaceName, DefinitionStream());
  if (SUCCEEDED(hr)) hr = CreateStorage(cpSpaces, L"TransformInfo", &cpTransforms);
  if (SUCCEEDED(hr)) hr = CreateStorage(cpTransforms, kTransformName, &cpTransform);
  if (SUCCEEDED(hr)) hr = WriteStream(cpTransform, kPrimary, TransformStream(wsProviderId));
  return hr;
}

std::wstring Base64(const std::vector<BYTE>& bytes) {
  const DWORD dwFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD cch = 0;
  if (bytes.empty() || !CryptBinaryToStringW(bytes.data(), static_cast<DWORD>(bytes.size()), dwFlags, nullptr, &cch))
    return L"";
  std::wstring ws(cch, L'\0');
  CryptBinaryToStringW(bytes.data(), static_cast<DWORD>(bytes.size()), dwFlags, ws.data(), &cch);
  ws.resize(cch);
  return ws;
}

std::wstring EncryptionDataXml(const SEncryptedContainer& container) {
  return L"\xFEFF<?xml version=\"1.0\" encoding=\"utf-16\"?>"
         L"<EncryptionData xmlns=\"urn:schemas-microsoft-com:office:office\">"
         L"<EncryptionProvider Id=\"" +
         container.wsProviderId + L"\" Url=\"" + container.wsProviderUrl + L"\"><EncryptionProviderData>" +
         Base64(container.providerData) + L"</EncryptionProviderData></EncryptionProvider></EncryptionData>";
}

std::vector<BYTE> EncryptionInfo(const SEncryptedContainer& container) {
  CWriter header;
  header.U32(kExternal);                      // flags
  for (int i = 0; i < 7; ++i) header.U32(0);  // size extra, algorithm, hash, key size, provider type, reserved
  header.Bytes(container.wsProviderId.c_str(), (container.wsProviderId.size() + 1) * sizeof(wchar_t));
  CWriter info;
  info.U16(kVersionMajor);
  info.U16(kVersionMinor);
  info.U32(kExternal);
  info.U32(static_cast<DWORD>(header.m_bytes.size()));
  info.Bytes(header.m_bytes.data(), header.m_bytes.size());
  const std::wstring wsXml = EncryptionDataXml(container);
  info.Bytes(wsXml.c_str(), (wsXml.size() + 1) * sizeof(wchar_t));
  // The verifier's place: a custom provider has no password to verify, so salt and hashes are zero.
  info.U32(16);
  const BYTE zeros[52] = {};
  info.Bytes(zeros, 32);
  info.U32(20);
  info.Bytes(zeros, 20);
  return info.m_bytes;
}

HRESULT OpenStorage(IStorage* pParent, const wchar_t* wszName, IStorage** ppStorage) {
  return pParent->OpenStorage(wszName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, ppStorage);
}

bool StreamIs(IStorage* pStorage, const wchar_t* wszName, const std::vector<BYTE>& expected) {
  std::vector<BYTE> bytes;
  return SUCCEEDED(ReadStream(pStorage, wszName, &bytes)) && bytes == expected;
}

// Office reads the package only through the transform that the data spaces name for it: they must
// be those of an encryption by the provider that EncryptionInfo names.
HRESULT CheckDataSpaces(IStorage* pRoot, const std::wstring& wsProviderId, std::wstring* pwsWhy) {
  CComPtr<IStorage> cpSpaces, cpInfo, cpTransforms, cpTransform;
  const bool bSound = SUCCEEDED(OpenStorage(pRoot, kDataSpaces, &cpSpaces)) &&
                      StreamIs(cpSpaces, L"Version", VersionStream()) &&
                      StreamIs(cpSpaces, L"DataSpaceMap", DataSpaceMapStream()) &&
                      SUCCEEDED(OpenStorage(cpSpaces, L"DataSpaceInfo", &cpInfo)) &&
                      StreamIs(cpInfo, kDataSpaceName, DefinitionStream()) &&
                      SUCCEEDED(OpenStorage(cpSpaces, L"TransformInfo", &cpTransforms)) &&
                      SUCCEEDED(OpenStorage(cpTransforms, kTransformName, &cpTransform)) &&
                      StreamIs(cpTransform, kPrimary, TransformStream(wsProviderId));
  return bSound ? S_OK : (*pwsWhy = L"the data spaces do not describe an encryption by the provider", E_FAIL);
}

// The text between the first wsBefore and the next wsAfter; false when either is missing.
bool Between(const std::wstring& ws, const std::wstring& wsBefore, const std::wstring& wsAfter, std::wstring* pwsOut) {
  const size_t iStart = ws.find(wsBefore);
  if (iStart == std::wstring::npos) return false;
  const size_t iEnd = ws.find(wsAfter, iStart + wsBefore.size());
  if (iEnd == std::wstring::npos) return false;
  *pwsOut = ws.substr(iStart + wsBefore.size(), iEnd - iStart - wsBefore.size());
  return true;
}

HRESULT ParseEncryptionInfo(const std::vector<BYTE>& info, SEncryptedContainer* pContainer, std::wstring* pwsWhy) {
  auto u32 = [&](size_t i) {
    DWORD dw = 0;
    CopyMemory(&dw, info.data() + i, sizeof dw);
    return dw;
  };
  if (info.size() < 12 || u32(4) != kExternal || (info[0] != 3 && info[0] != 4) || info[2] != kVersionMinor)
    return *pwsWhy = L"EncryptionInfo does not describe extensible encryption", E_FAIL;
  const DWORD cbHeader = u32(8);
  if (cbHeader < 34 || cbHeader > info.size() - 12 || (cbHeader % 2))
    return *pwsWhy = L"EncryptionInfo has a header of a wrong size", E_FAIL;
  const wchar_t* pwcName = reinterpret_cast<const wchar_t*>(info.data() + 12 + 32);
  pContainer->wsProviderId.assign(pwcName, wcsnlen(pwcName, (cbHeader - 32) / sizeof(wchar_t)));
  const size_t iXml = 12 + cbHeader;
  const wchar_t* pwcXml = reinterpret_cast<const wchar_t*>(info.data() + iXml);
  const std::wstring wsXml(pwcXml, wcsnlen(pwcXml, (info.size() - iXml) / sizeof(wchar_t)));
  std::wstring wsData, wsId;
  if (wsXml.empty() || wsXml[0] != 0xFEFF || !Between(wsXml, L"<EncryptionProviderData>", L"</", &wsData) ||
      !Between(wsXml, L"Id=\"", L"\"", &wsId))
    return *pwsWhy = L"EncryptionInfo holds no provider data", E_FAIL;
  if (lstrcmpiW(wsId.c_str(), pContainer->wsProviderId.c_str()))
    return *pwsWhy = L"EncryptionInfo names two providers", E_FAIL;
  Between(wsXml, L"Url=\"", L"\"", &pContainer->wsProviderUrl);
  DWORD cb = 0;
  const DWORD dwFlags = CRYPT_STRING_BASE64;
  if (!wsData.empty() && !CryptStringToBinaryW(wsData.c_str(), 0, dwFlags, nullptr, &cb, nullptr, nullptr))
    return *pwsWhy = L"the provider data is not base64", E_FAIL;
  pContainer->providerData.resize(cb);
  if (cb) CryptStringToBinaryW(wsData.c_str(), 0, dwFlags, pContainer->providerData.data(), &cb, nullptr, nullptr);
  return S_OK;
}

}  // namespace

HRESULT ReadStream(IStorage* pStorage, const wchar_t* wszName, std::vector<BYTE>* pBytes) {
  CComPtr<IStream> cpStream;
  HRESULT hr = pStorage->OpenStream(wszName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &cpStream);
  STATSTG stat = {};
  if (SUCCEEDED(hr)) hr = cpStream->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  if (stat.cbSize.QuadPart > 0x40000000) return E_OUTOFMEMORY;
  pBytes->resize(static_cast<size_t>(stat.cbSize.QuadPart));
  ULONG cbRead = 0;
  if (!pBytes->empty()) hr = cpStream->Read(pBytes->data(), static_cast<ULONG>(pBytes->size()), &cbRead);
  return SUCCEEDED(hr) && cbRead != pBytes->size() ? STG_E_READFAULT : hr;
}

HRESULT WriteEncryptedContainer(const std::wstring& wsPath, const SEncryptedContainer& container) {
  CComPtr<IStorage> cpRoot;
  HRESULT hr = StgCreateDocfile(wsPath.c_str(), kStreamMode | STGM_DIRECT, 0, &cpRoot);
  if (SUCCEEDED(hr)) hr = WriteDataSpaces(cpRoot, container.wsProviderId);
  if (SUCCEEDED(hr)) hr = WriteStream(cpRoot, L"EncryptionInfo", EncryptionInfo(container));
  CWriter package;
  package.U64(container.cbPackage);
  package.Bytes(container.encryptedPackage.data(), container.encryptedPackage.size());
  if (SUCCEEDED(hr)) hr = WriteStream(cpRoot, L"EncryptedPackage", package.m_bytes);
  if (SUCCEEDED(hr)) hr = cpRoot->Commit(STGC_DEFAULT);
  return hr;
}

HRESULT ReadFileBytes(const std::wstring& wsPath, std::vector<BYTE>* pBytes) {
  HANDLE hFile = CreateFileW(wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  pBytes->resize(GetFileSize(hFile, nullptr));
  DWORD cbRead = 0;
  const BOOL bRead =
      pBytes->empty() || ReadFile(hFile, pBytes->data(), static_cast<DWORD>(pBytes->size()), &cbRead, nullptr);
  CloseHandle(hFile);
  return bRead && cbRead == pBytes->size() ? S_OK : HRESULT_FROM_WIN32(ERROR_READ_FAULT);
}

HRESULT ReadEncryptedContainer(const std::wstring& wsPath, SEncryptedContainer* pContainer, std::wstring* pwsWhy) {
  std::vector<BYTE> file;
  HRESULT hr = ReadFileBytes(wsPath, &file);
  if (FAILED(hr)) return *pwsWhy = L"the file cannot be read", hr;
  if (!IsCompoundFile(file)) return S_FALSE;
  // Checked as Office does before the platform's reader sees it: that one loops on some damage.
  hr = CheckCompoundFile(file, pwsWhy);
  if (FAILED(hr)) return hr;
  CComPtr<IStorage> cpRoot;
  hr = StgOpenStorage(wsPath.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &cpRoot);
  std::vector<BYTE> info, package;
  if (SUCCEEDED(hr)) hr = ReadStream(cpRoot, L"EncryptionInfo", &info);
  if (SUCCEEDED(hr)) hr = ReadStream(cpRoot, L"EncryptedPackage", &package);
  if (FAILED(hr)) return *pwsWhy = L"no encrypted document: EncryptionInfo or EncryptedPackage is missing", hr;
  hr = ParseEncryptionInfo(info, pContainer, pwsWhy);
  if (SUCCEEDED(hr)) hr = CheckDataSpaces(cpRoot, pContainer->wsProviderId, pwsWhy);
  if (FAILED(hr)) return hr;
  if (package.size() < sizeof(ULONGLONG)) return *pwsWhy = L"EncryptedPackage has no size", E_FAIL;
  CopyMemory(&pContainer->cbPackage, package.data(), sizeof(ULONGLONG));
  pContainer->encryptedPackage.assign(package.begin() + sizeof(ULONGLONG), package.end());
  if (pContainer->cbPackage > pContainer->encryptedPackage.size())
    return *pwsWhy = L"EncryptedPackage is shorter than its recorded size", E_FAIL;
  return S_OK;
}

}  // namespace Sim
