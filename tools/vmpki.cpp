// The test PKI: makes the suite's authority, users' own certificates (also expired ones),
// contacts' certificates, and drives the certificate library for the demo.
//
//   vmpki authority FOLDER               the authority's certificate and key, unless there; the
//                                        certificate joins the user's intermediate store "CA"
//   vmpki user EMAIL NAME [--expired]    an own certificate with its key in the suite's provider
//   vmpki contact EMAIL NAME FILE        a contact's certificate (DER) for a key that is not kept
//   vmpki obtain EMAIL NAME              enrols through the certificate library
//   vmpki request EMAIL NAME             an enterprise request; the authority's answer is in
//                                        its folder, Answers\EMAIL.vmpfx
//   vmpki add-contact FILE               installs a certificate as a trusted contact
//   vmpki export EMAIL CERT [KEY]        the user's own certificate of that address (DER) and,
//                                        for checks by other programs, its private key
//                                        (CryptoAPI PRIVATEKEYBLOB)
//   vmpki classify EMAIL VALUE           the classification the suite's provider reports for the
//                                        key of the user's own certificate of that address
//   vmpki list                           the user's own certificates and trusted contacts
//   vmpki trust FILE                     the authority made a trusted root of the machine, as an
//                                        administrator deploys it; then the file's Authenticode
//                                        signature checked by WinVerifyTrust
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <string>
#include <vector>

#include "OwnCertificates.h"
#include "TestAuthority.h"
#include "suite/VmCertServices.h"

namespace {

constexpr LONGLONG kValidityDays = 365;

int Report(const char* szWhat, HRESULT hr) {
  if (FAILED(hr)) fwprintf(stderr, L"vmpki: %hs failed: 0x%08lX\n", szWhat, static_cast<unsigned long>(hr));
  return FAILED(hr) ? 1 : 0;
}

HRESULT LoadAuthority(CTestAuthority* pAuthority) { return pAuthority->Load(AuthorityFolder()); }

// The authority, made unless it is there, is a known issuer of this machine's user ("CA"), so
// that signatures carry the chain up to it.
HRESULT MakeAuthority(const std::wstring& wsFolder) {
  HRESULT hr = CTestAuthority::Create(wsFolder);
  CTestAuthority authority;
  const HRESULT hrLoad = SUCCEEDED(hr) ? authority.Load(wsFolder) : hr;
  if (FAILED(hrLoad)) return hrLoad;
  const HRESULT hrAdd = AddToUserStore(L"CA", authority.Certificate(), CERT_STORE_ADD_USE_EXISTING);
  return FAILED(hrAdd) ? hrAdd : hr;
}

HRESULT MakeUser(const std::wstring& wsEmail, const std::wstring& wsName, bool bExpired) {
  CTestAuthority authority;
  HRESULT hr = LoadAuthority(&authority);
  std::wstring wsContainer;
  std::vector<BYTE> publicKey;
  if (SUCCEEDED(hr)) hr = CreateSuiteKeyPair(&wsContainer, &publicKey);
  std::vector<BYTE> der;
  if (SUCCEEDED(hr))
    hr = authority.Issue(*reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(publicKey.data()), wsEmail, wsName,
                         FileTimeFromNow(bExpired ? -2 * kValidityDays : -1),
                         FileTimeFromNow(bExpired ? -kValidityDays : kValidityDays), &der);
  CCertContext cert;
  if (SUCCEEDED(hr)) hr = CreateOwnCertificate(der.data(), static_cast<DWORD>(der.size()), wsContainer, &cert);
  return SUCCEEDED(hr) ? AddToUserStore(kMyStore, cert, CERT_STORE_ADD_NEW) : hr;
}

HRESULT MakeContact(const std::wstring& wsEmail, const std::wstring& wsName, const std::wstring& wsFile) {
  CTestAuthority authority;
  HRESULT hr = LoadAuthority(&authority);
  CCryptProv hProv;
  if (SUCCEEDED(hr) && !CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    hr = LastErrorResult();
  CCryptKey hKey;
  if (SUCCEEDED(hr) && !CryptGenKey(hProv, AT_KEYEXCHANGE, 2048u << 16, &hKey)) hr = LastErrorResult();
  std::vector<BYTE> publicKey;
  if (SUCCEEDED(hr)) hr = ExportPublicKey(hProv, AT_KEYEXCHANGE, &publicKey);
  std::vector<BYTE> der;
  if (SUCCEEDED(hr))
    hr = authority.Issue(*reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(publicKey.data()), wsEmail, wsName,
                         FileTimeFromNow(-1), FileTimeFromNow(kValidityDays), &der);
  return SUCCEEDED(hr) ? WriteFileBytes(wsFile, der) : hr;
}

// The certificate library of the installed suite.
class CCertWorks {
 public:
  CCertWorks() : m_hModule(LoadLibraryW((SuiteFolder() + L"\\VmCertWorks.dll").c_str())) {}
  ~CCertWorks() {
    if (m_hModule) FreeLibrary(m_hModule);
  }
  CCertWorks(const CCertWorks&) = delete;
  CCertWorks& operator=(const CCertWorks&) = delete;
  bool IsLoaded() const { return m_hModule != nullptr; }
  template <class T>
  T* Entry(T*, const char* szName) const {
    return reinterpret_cast<T*>(reinterpret_cast<void*>(GetProcAddress(m_hModule, szName)));
  }

 private:
  HMODULE m_hModule;
};
#define VM_ENTRY(lib, name) (lib).Entry(&::name, #name)

void PrintCertificates(const CCertWorks& lib, const wchar_t* wszTitle, PCCERT_CONTEXT* ppCerts, DWORD dwCount) {
  wprintf(L"%ls: %lu\n", wszTitle, static_cast<unsigned long>(dwCount));
  for (DWORD i = 0; i < dwCount; ++i) {
    LPWSTR wszName = nullptr;
    LPWSTR wszEmail = nullptr;
    DWORD dwStatus = 0;
    VM_ENTRY(lib, GC_GetSubjectName)(ppCerts[i], &wszName);
    VM_ENTRY(lib, GC_GetEmail)(ppCerts[i], &wszEmail);
    const BOOL bValid = VM_ENTRY(lib, GC_IsCertificateValid)(ppCerts[i], &dwStatus);
    wprintf(L"  %ls <%ls> %ls\n", wszName ? wszName : L"", wszEmail ? wszEmail : L"",
            bValid                            ? L"valid"
            : dwStatus & VM_CERT_STATUS_RENEW ? L"expired, renewable"
                                              : L"not valid");
    VM_ENTRY(lib, GC_Deallocate)(wszName);
    VM_ENTRY(lib, GC_Deallocate)(wszEmail);
    CertFreeCertificateContext(ppCerts[i]);
  }
  VM_ENTRY(lib, GC_Deallocate)(ppCerts);
}

HRESULT List(const CCertWorks& lib) {
  PCCERT_CONTEXT* ppCerts = nullptr;
  DWORD dwCount = 0;
  HRESULT hr = VM_ENTRY(lib, CM_EnumMyCerts)(0, &ppCerts, &dwCount);
  if (FAILED(hr)) return hr;
  PrintCertificates(lib, L"Own certificates", ppCerts, dwCount);
  hr = VM_ENTRY(lib, BM_EnumBuddies)(&ppCerts, &dwCount);
  if (SUCCEEDED(hr)) PrintCertificates(lib, L"Trusted contacts", ppCerts, dwCount);
  return hr;
}

HRESULT AddContact(const CCertWorks& lib, const std::wstring& wsFile) {
  std::vector<BYTE> der;
  HRESULT hr = ReadFileBytes(wsFile, &der);
  if (FAILED(hr)) return hr;
  CCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  return cert ? VM_ENTRY(lib, BM_InstallBuddy)(cert, 0) : LastErrorResult();
}

// The first own certificate of the address in the personal store, or null.
PCCERT_CONTEXT FindOwnCertificate(HCERTSTORE hStore, const std::wstring& wsEmail) {
  PCCERT_CONTEXT pCert = nullptr;
  while ((pCert = CertEnumCertificatesInStore(hStore, pCert)) != nullptr) {
    wchar_t wszEmail[256] = {};
    CertGetNameStringW(pCert, CERT_NAME_EMAIL_TYPE, 0, nullptr, wszEmail, ARRAYSIZE(wszEmail));
    if (!lstrcmpiW(wszEmail, wsEmail.c_str())) break;
  }
  return pCert;
}

// The classification that the suite's provider reports for the key of the address's own
// certificate from now on, as the suite's tools set it.
HRESULT Classify(const std::wstring& wsEmail, DWORD dwClassification) {
  CCertStore hStore(OpenUserStore(kMyStore));
  if (!hStore) return LastErrorResult();
  const PCCERT_CONTEXT pCert = FindOwnCertificate(hStore, wsEmail);
  if (!pCert) return CRYPT_E_NOT_FOUND;
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hProv = 0;
  DWORD dwKeySpec = 0;
  BOOL bFree = FALSE;
  HRESULT hr = S_OK;
  if (!CryptAcquireCertificatePrivateKey(pCert, CRYPT_ACQUIRE_SILENT_FLAG, nullptr, &hProv, &dwKeySpec, &bFree) ||
      !CryptSetProvParam(hProv, VM_PP_KEY_CLASS, reinterpret_cast<const BYTE*>(&dwClassification), VM_PP_ACCESS))
    hr = LastErrorResult();
  if (bFree) CryptReleaseContext(hProv, 0);
  CertFreeCertificateContext(pCert);
  return hr;
}

// The own certificate of the address and its private key, as the tests outside Windows need them.
HRESULT Export(const std::wstring& wsEmail, const std::wstring& wsCertFile, const std::wstring* pwsKeyFile) {
  CCertStore hStore(OpenUserStore(kMyStore));
  if (!hStore) return LastErrorResult();
  const PCCERT_CONTEXT pCert = FindOwnCertificate(hStore, wsEmail);
  HRESULT hr = CRYPT_E_NOT_FOUND;
  if (pCert)
    hr = WriteFileBytes(wsCertFile,
                        std::vector<BYTE>(pCert->pbCertEncoded, pCert->pbCertEncoded + pCert->cbCertEncoded));
  if (pCert && SUCCEEDED(hr) && pwsKeyFile) {
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bFree = FALSE;
    CCryptKey hKey;
    std::vector<BYTE> blob;
    DWORD cbBlob = 0;
    if (!CryptAcquireCertificatePrivateKey(pCert, 0, nullptr, &hProv, &dwKeySpec, &bFree) ||
        !CryptGetUserKey(hProv, dwKeySpec, &hKey) || !CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, nullptr, &cbBlob)) {
      hr = LastErrorResult();
    } else {
      blob.resize(cbBlob);
      hr = CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, blob.data(), &cbBlob) ? WriteFileBytes(*pwsKeyFile, blob)
                                                                            : LastErrorResult();
    }
    hKey.Reset();
    if (bFree) CryptReleaseContext(hProv, 0);
  }
  if (pCert) CertFreeCertificateContext(pCert);
  return hr;
}

HRESULT AddMachineRoot(PCCERT_CONTEXT pCert) {
  HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!hStore) return LastErrorResult();
  const BOOL bAdded = CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_USE_EXISTING, nullptr);
  const HRESULT hr = bAdded ? S_OK : LastErrorResult();
  CertCloseStore(hStore, 0);
  return hr;
}

// WinVerifyTrust answers a trust code, not a last error: a bad signature is TRUST_E_BAD_DIGEST.
HRESULT VerifyTrust(const std::wstring& wsFile) {
  CTestAuthority authority;
  HRESULT hr = LoadAuthority(&authority);
  if (SUCCEEDED(hr)) hr = AddMachineRoot(authority.Certificate());
  if (FAILED(hr)) return hr;
  WINTRUST_FILE_INFO file = {sizeof(file), wsFile.c_str(), nullptr, nullptr};
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  hr = static_cast<HRESULT>(WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return hr;
}

int Usage() {
  fputws(
      L"usage: vmpki authority FOLDER | user EMAIL NAME [--expired] | contact EMAIL NAME FILE |\n"
      L"             obtain EMAIL NAME | request EMAIL NAME | add-contact FILE | list |\n"
      L"             export EMAIL CERT [KEY] | classify EMAIL VALUE | trust FILE\n",
      stderr);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::wstring& wsCommand = args[0];
  if (wsCommand == L"authority" && args.size() == 2) return Report("authority", MakeAuthority(args[1]));
  if (wsCommand == L"user" && (args.size() == 3 || (args.size() == 4 && args[3] == L"--expired")))
    return Report("user", MakeUser(args[1], args[2], args.size() == 4));
  if (wsCommand == L"contact" && args.size() == 4) return Report("contact", MakeContact(args[1], args[2], args[3]));
  if (wsCommand == L"classify" && args.size() == 3)
    return Report("classify", Classify(args[1], wcstoul(args[2].c_str(), nullptr, 0)));
  if (wsCommand == L"trust" && args.size() == 2) return Report("trust", VerifyTrust(args[1]));
  if (wsCommand == L"export" && (args.size() == 3 || args.size() == 4))
    return Report("export", Export(args[1], args[2], args.size() == 4 ? &args[3] : nullptr));

  CCertWorks lib;
  if (!lib.IsLoaded()) return Report("loading VmCertWorks.dll", LastErrorResult());
  if (wsCommand == L"obtain" && args.size() == 3)
    return Report("obtain", VM_ENTRY(lib, CM_ObtainCert)(nullptr, args[1].c_str(), args[2].c_str(), 0));
  if (wsCommand == L"request" && args.size() == 3)
    return Report("request", VM_ENTRY(lib, CM_RequestCert)(nullptr, args[1].c_str(), args[2].c_str(), 1));
  if (wsCommand == L"add-contact" && args.size() == 2) return Report("add-contact", AddContact(lib, args[1]));
  if (wsCommand == L"list" && args.size() == 1) return Report("list", List(lib));
  return Usage();
}
