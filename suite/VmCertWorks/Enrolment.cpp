// Enrolment against the suite's authority: a key pair in the suite's key provider, a
// certificate issued for it, and the certificate installed with its key.
#include "CertWorks.h"
#include "resource.h"
#include "suite/VmCertServices.h"

namespace {

constexpr wchar_t kPendingKey[] = L"Software\\Velmora\\CertWorks\\Pending";
constexpr wchar_t kCallsKey[] = L"Software\\Velmora\\CertWorks\\Calls";
constexpr LONGLONG kValidityDays = 365;

struct CIdentity {
  std::wstring wsEmail;
  std::wstring wsName;
};

std::wstring ItemText(HWND hDlg, int iItem) {
  wchar_t wszText[256] = {};
  GetDlgItemTextW(hDlg, iItem, wszText, ARRAYSIZE(wszText));
  return wszText;
}

INT_PTR CALLBACK IdentityProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  auto* pIdentity = reinterpret_cast<CIdentity*>(GetWindowLongPtrW(hDlg, DWLP_USER));
  switch (uMsg) {
    case WM_INITDIALOG:
      pIdentity = reinterpret_cast<CIdentity*>(lParam);
      SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
      SetDlgItemTextW(hDlg, IDC_EMAIL, pIdentity->wsEmail.c_str());
      SetDlgItemTextW(hDlg, IDC_NAME, pIdentity->wsName.c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        pIdentity->wsEmail = ItemText(hDlg, IDC_EMAIL);
        pIdentity->wsName = ItemText(hDlg, IDC_NAME);
        if (pIdentity->wsEmail.empty() || pIdentity->wsName.empty()) return TRUE;
      }
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(hDlg, LOWORD(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

// Asks the user for what the caller did not know.
HRESULT CompleteIdentity(HWND hwndOwner, CIdentity* pIdentity) {
  if (!pIdentity->wsEmail.empty() && !pIdentity->wsName.empty()) return S_OK;
  const INT_PTR iResult = DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_IDENTITY), hwndOwner, IdentityProc,
                                          reinterpret_cast<LPARAM>(pIdentity));
  if (iResult == -1) return LastErrorResult();
  return iResult == IDOK ? S_OK : HRESULT_FROM_WIN32(ERROR_CANCELLED);
}

HRESULT IssueForNewKey(const CIdentity& identity, std::wstring* pwsContainer, std::vector<BYTE>* pDer) {
  const CTestAuthority* pAuthority = Authority();
  if (!pAuthority) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::vector<BYTE> publicKey;
  HRESULT hr = CreateSuiteKeyPair(pwsContainer, &publicKey);
  if (FAILED(hr)) return hr;
  return pAuthority->Issue(*reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(publicKey.data()), identity.wsEmail,
                           identity.wsName, FileTimeFromNow(-1), FileTimeFromNow(kValidityDays), pDer);
}

HRESULT Enrol(const CIdentity& identity) {
  std::wstring wsContainer;
  std::vector<BYTE> der;
  const HRESULT hr = IssueForNewKey(identity, &wsContainer, &der);
  return SUCCEEDED(hr) ? InstallOwnCertificate(der, wsContainer) : hr;
}

// Which enrolments the library was asked for, for tests: HKCU\Software\Velmora\CertWorks\Calls,
// one value a call, named by its number from 1.
void RecordCall(const std::wstring& wsCall) {
  CRegKey hCalls;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kCallsKey, 0, nullptr, 0, KEY_READ | KEY_SET_VALUE, nullptr, &hCalls,
                      nullptr) != ERROR_SUCCESS)
    return;
  DWORD dwCount = 0;
  RegQueryInfoKeyW(hCalls, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &dwCount, nullptr, nullptr, nullptr,
                   nullptr);
  RegSetValueExW(hCalls, std::to_wstring(dwCount + 1).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wsCall.c_str()),
                 static_cast<DWORD>((wsCall.size() + 1) * sizeof(wchar_t)));
}

CIdentity IdentityOf(LPCWSTR wszEmail, LPCWSTR wszName) { return {wszEmail ? wszEmail : L"", wszName ? wszName : L""}; }

// The pending key container whose public key the certificate carries.
HRESULT FindPendingKey(PCCERT_CONTEXT pCert, std::wstring* pwsContainer) {
  CRegKey hPending;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kPendingKey, 0, KEY_READ, &hPending) != ERROR_SUCCESS) return NTE_NO_KEY;
  wchar_t wszContainer[MAX_PATH];
  for (DWORD dwIndex = 0;; ++dwIndex) {
    DWORD cchContainer = ARRAYSIZE(wszContainer);
    if (RegEnumValueW(hPending, dwIndex, wszContainer, &cchContainer, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return NTE_NO_KEY;
    CCryptProv hProv;
    std::vector<BYTE> publicKey;
    if (CryptAcquireContextW(&hProv, wszContainer, VM_SOLVANE_PROV_NAME, PROV_RSA_FULL, CRYPT_SILENT) &&
        SUCCEEDED(ExportPublicKey(hProv, AT_KEYEXCHANGE, &publicKey)) &&
        CertComparePublicKeyInfo(X509_ASN_ENCODING, &pCert->pCertInfo->SubjectPublicKeyInfo,
                                 reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(publicKey.data()))) {
      *pwsContainer = wszContainer;
      return S_OK;
    }
  }
}

}  // namespace

extern "C" {

HRESULT WINAPI CM_ObtainCert(HWND hwndOwner, LPCWSTR wszEmail, LPCWSTR wszName, DWORD) {
  CIdentity identity = IdentityOf(wszEmail, wszName);
  RecordCall(L"CM_ObtainCert " + identity.wsEmail + L" " + identity.wsName);
  const HRESULT hr = CompleteIdentity(hwndOwner, &identity);
  return SUCCEEDED(hr) ? Enrol(identity) : hr;
}

// An enterprise request: the key stays pending until the authority's answer is installed
// (CM_InstallCertResponse). The local authority answers at once, into its "Answers" folder,
// as "<address>.vmpfx" holding the issued certificate.
HRESULT WINAPI CM_RequestCert(HWND hwndOwner, LPCWSTR wszEmail, LPCWSTR wszName, DWORD) {
  CIdentity identity = IdentityOf(wszEmail, wszName);
  HRESULT hr = CompleteIdentity(hwndOwner, &identity);
  std::wstring wsContainer;
  std::vector<BYTE> der;
  if (SUCCEEDED(hr)) hr = IssueForNewKey(identity, &wsContainer, &der);
  if (FAILED(hr)) return hr;
  hr = HRESULT_FROM_WIN32(RegSetKeyValueW(HKEY_CURRENT_USER, kPendingKey, wsContainer.c_str(), REG_SZ,
                                          identity.wsEmail.c_str(),
                                          static_cast<DWORD>((identity.wsEmail.size() + 1) * sizeof(wchar_t))));
  if (FAILED(hr)) return hr;
  const std::wstring wsAnswers = AuthorityFolder() + L"\\Answers";
  if (!CreateDirectoryW(wsAnswers.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return LastErrorResult();
  return WriteFileBytes(wsAnswers + L"\\" + identity.wsEmail + L".vmpfx", der);
}

HRESULT WINAPI CM_RenewCertificate(HWND, PCCERT_CONTEXT pOldCert) {
  if (!pOldCert) return E_POINTER;
  wchar_t wszEmail[256] = {};
  wchar_t wszName[256] = {};
  CertGetNameStringW(pOldCert, CERT_NAME_EMAIL_TYPE, 0, nullptr, wszEmail, ARRAYSIZE(wszEmail));
  CertGetNameStringW(pOldCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, wszName, ARRAYSIZE(wszName));
  RecordCall(std::wstring(L"CM_RenewCertificate ") + wszEmail + L" " + wszName);
  if (!GC_IsVmBuddyCertificate(pOldCert)) return CERT_E_ISSUERCHAINING;
  return Enrol(IdentityOf(wszEmail, wszName));
}

HRESULT WINAPI CM_InstallCertResponse(HWND, LPCWSTR wszResponse, LPWSTR* pwszIssued) {
  if (!wszResponse || !pwszIssued) return E_POINTER;
  *pwszIssued = nullptr;
  DWORD cbDer = 0;
  if (!CryptStringToBinaryW(wszResponse, 0, CRYPT_STRING_BASE64_ANY, nullptr, &cbDer, nullptr, nullptr))
    return LastErrorResult();
  std::vector<BYTE> der(cbDer);
  if (!CryptStringToBinaryW(wszResponse, 0, CRYPT_STRING_BASE64_ANY, der.data(), &cbDer, nullptr, nullptr))
    return LastErrorResult();
  der.resize(cbDer);
  CCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), cbDer));
  if (!cert) return LastErrorResult();
  if (!GC_IsVmBuddyCertificate(cert)) return CERT_E_ISSUERCHAINING;

  std::wstring wsContainer;
  HRESULT hr = FindPendingKey(cert, &wsContainer);
  if (SUCCEEDED(hr)) hr = InstallOwnCertificate(der, wsContainer);
  if (FAILED(hr)) return hr;
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kPendingKey, wsContainer.c_str());

  DWORD cchIssued = 0;
  if (!CryptBinaryToStringW(der.data(), cbDer, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr, &cchIssued))
    return LastErrorResult();
  std::wstring wsIssued(cchIssued, L'\0');
  if (!CryptBinaryToStringW(der.data(), cbDer, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, wsIssued.data(), &cchIssued))
    return LastErrorResult();
  wsIssued.resize(cchIssued);
  return HandOutString(wsIssued, pwszIssued);
}

}  // extern "C"
