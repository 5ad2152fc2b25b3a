// The user's own certificates, the current one, and what the library says about a certificate.
#include "CertWorks.h"

#include <memory>

#include "suite/VmCertServices.h"

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Velmora\\CertWorks";
constexpr wchar_t kCurrentValue[] = L"CurrentCertificate";
constexpr DWORD kSha1Size = 20;

bool ReadHash(PCCERT_CONTEXT pCert, BYTE (&rgbHash)[kSha1Size]) {
  DWORD cbHash = kSha1Size;
  return CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, rgbHash, &cbHash) != FALSE;
}

bool IsCurrent(PCCERT_CONTEXT pCert) {
  BYTE rgbCurrent[kSha1Size] = {};
  DWORD cbCurrent = sizeof(rgbCurrent);
  BYTE rgbHash[kSha1Size] = {};
  return RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, kCurrentValue, RRF_RT_REG_BINARY, nullptr, rgbCurrent,
                      &cbCurrent) == ERROR_SUCCESS &&
         cbCurrent == kSha1Size && ReadHash(pCert, rgbHash) && memcmp(rgbHash, rgbCurrent, kSha1Size) == 0;
}

bool IsValidNow(PCCERT_CONTEXT pCert) { return GC_IsCertificateValid(pCert, nullptr) != FALSE; }

HRESULT NameString(PCCERT_CONTEXT pCert, DWORD dwType, LPWSTR* pwszOut) {
  if (!pwszOut) return E_POINTER;
  *pwszOut = nullptr;
  if (!pCert) return E_POINTER;
  wchar_t wszName[512] = {};
  if (CertGetNameStringW(pCert, dwType, 0, nullptr, wszName, ARRAYSIZE(wszName)) <= 1) return CRYPT_E_NOT_FOUND;
  return HandOutString(wszName, pwszOut);
}

// Lets the user choose among several own certificates; cancelling is ERROR_CANCELLED.
HRESULT ChooseCertificate(HWND hwndOwner, const std::vector<CCertContext>& certs, PCCERT_CONTEXT* ppCert) {
  CCertStore hChoice(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (!hChoice) return LastErrorResult();
  for (const CCertContext& cert : certs)
    CertAddCertificateContextToStore(hChoice, cert.Get(), CERT_STORE_ADD_ALWAYS, nullptr);
  using PFN_Select = PCCERT_CONTEXT(WINAPI*)(HCERTSTORE, HWND, LPCWSTR, LPCWSTR, DWORD, DWORD, void*);
  std::unique_ptr<HINSTANCE__, decltype(&FreeLibrary)> hCryptUi(LoadLibraryW(L"cryptui.dll"), &FreeLibrary);
  auto pfnSelect = hCryptUi ? reinterpret_cast<PFN_Select>(reinterpret_cast<void*>(
                                  GetProcAddress(hCryptUi.get(), "CryptUIDlgSelectCertificateFromStore")))
                            : nullptr;
  if (!pfnSelect) return LastErrorResult();
  *ppCert = pfnSelect(hChoice, hwndOwner, L"Tessaly", L"Choose your certificate.", 0, 0, nullptr);
  return *ppCert ? S_OK : HRESULT_FROM_WIN32(ERROR_CANCELLED);
}

}  // namespace

const CTestAuthority* Authority() {
  static std::mutex s_mutex;
  static std::unique_ptr<CTestAuthority> s_pAuthority;
  std::lock_guard<std::mutex> lock(s_mutex);
  if (!s_pAuthority) {
    auto pAuthority = std::make_unique<CTestAuthority>();
    if (SUCCEEDED(pAuthority->Load(AuthorityFolder()))) s_pAuthority = std::move(pAuthority);
  }
  return s_pAuthority.get();
}

bool IsOwnCertificate(PCCERT_CONTEXT pCert) {
  if (!GC_IsVmBuddyCertificate(pCert)) return false;
  DWORD cbInfo = 0;
  if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo)) return false;
  std::vector<BYTE> info(cbInfo);
  if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &cbInfo)) return false;
  const auto* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
  return pInfo->pwszProvName && lstrcmpiW(pInfo->pwszProvName, VM_SOLVANE_PROV_NAME) == 0;
}

std::vector<CCertContext> OwnCertificates() {
  std::vector<CCertContext> certs;
  PersonalStore().ReadAll(&certs);
  std::erase_if(certs, [](const CCertContext& cert) { return !IsOwnCertificate(cert.Get()); });
  return certs;
}

HRESULT SelectCurrent(PCCERT_CONTEXT pCert) {
  BYTE rgbHash[kSha1Size] = {};
  if (!ReadHash(pCert, rgbHash)) return LastErrorResult();
  return HRESULT_FROM_WIN32(
      RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kCurrentValue, REG_BINARY, rgbHash, sizeof(rgbHash)));
}

HRESULT InstallOwnCertificate(const std::vector<BYTE>& der, const std::wstring& wsContainer) {
  CCertContext cert;
  HRESULT hr = CreateOwnCertificate(der.data(), static_cast<DWORD>(der.size()), wsContainer, &cert);
  if (SUCCEEDED(hr)) hr = PersonalStore().Add(cert, CERT_STORE_ADD_REPLACE_EXISTING);
  if (SUCCEEDED(hr)) hr = SelectCurrent(cert);
  if (FAILED(hr)) return hr;
  // Listeners wait on the event; setting and resetting it wakes every waiting one.
  if (HANDLE hEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, VM_CERT_ADDED_EVENT)) {
    SetEvent(hEvent);
    ResetEvent(hEvent);
    CloseHandle(hEvent);
  }
  return S_OK;
}

extern "C" {

HRESULT WINAPI CM_GetMyCert(PCCERT_CONTEXT* ppCert) {
  if (!ppCert) return E_POINTER;
  *ppCert = nullptr;
  const std::vector<CCertContext> certs = OwnCertificates();
  const CCertContext* pChosen = nullptr;
  for (const CCertContext& cert : certs)
    if (IsCurrent(cert)) pChosen = &cert;
  for (const CCertContext& cert : certs)
    if (!pChosen && IsValidNow(cert)) pChosen = &cert;
  if (!pChosen && !certs.empty()) pChosen = &certs.front();
  if (!pChosen) return CRYPT_E_NOT_FOUND;
  *ppCert = CertDuplicateCertificateContext(pChosen->Get());
  return S_OK;
}

HRESULT WINAPI CM_GetMyCertUI(HWND hwndOwner, PCCERT_CONTEXT* ppCert) {
  if (!ppCert) return E_POINTER;
  *ppCert = nullptr;
  const std::vector<CCertContext> certs = OwnCertificates();
  if (certs.size() <= 1) return CM_GetMyCert(ppCert);
  return ChooseCertificate(hwndOwner, certs, ppCert);
}

HRESULT WINAPI CM_SelectMyCert(PCCERT_CONTEXT pCert) {
  if (!pCert) return E_POINTER;
  if (!IsOwnCertificate(pCert) || !PersonalStore().Contains(pCert)) return CRYPT_E_NOT_FOUND;
  return SelectCurrent(pCert);
}

HRESULT WINAPI GC_GetEmail(PCCERT_CONTEXT pCert, LPWSTR* pwszEmail) {
  return NameString(pCert, CERT_NAME_EMAIL_TYPE, pwszEmail);
}

HRESULT WINAPI GC_GetSubjectName(PCCERT_CONTEXT pCert, LPWSTR* pwszName) {
  return NameString(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, pwszName);
}

BOOL WINAPI GC_IsCertificateValid(PCCERT_CONTEXT pCert, DWORD* pdwStatus) {
  DWORD dwStatus = VM_CERT_STATUS_INVALID;
  const CTestAuthority* pAuthority = Authority();
  if (pCert && pAuthority && pAuthority->HasIssued(pCert) &&
      CertVerifyTimeValidity(nullptr, pAuthority->Certificate()->pCertInfo) == 0) {
    const LONG lTime = CertVerifyTimeValidity(nullptr, pCert->pCertInfo);
    dwStatus = lTime == 0 ? 0 : lTime > 0 ? VM_CERT_STATUS_RENEW : VM_CERT_STATUS_INVALID;
  }
  if (pdwStatus) *pdwStatus = dwStatus;
  return dwStatus == 0;
}

int WINAPI GC_IsVmMyCertificate(PCCERT_CONTEXT pCert) { return pCert && IsOwnCertificate(pCert) ? 1 : 0; }

BOOL WINAPI GC_IsVmBuddyCertificate(PCCERT_CONTEXT pCert) {
  const CTestAuthority* pAuthority = Authority();
  return pCert && pAuthority && pAuthority->HasIssued(pCert) && HasSuiteUsage(pCert);
}

}  // extern "C"
