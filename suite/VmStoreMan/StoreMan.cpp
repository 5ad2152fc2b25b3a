// The secret store: which user holds which secret. A user's secrets are the names of the key
// pairs that the suite's key provider keeps for that user.
#include <windows.h>
#include <sddl.h>

#include <cwchar>
#include <vector>

#include "SolvaneKeys.h"
#include "SuiteHandles.h"
#include "suite/VmCertServices.h"

namespace {

HRESULT CurrentUserSid(std::wstring* pwsSid) {
  HANDLE hToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return LastErrorResult();
  BYTE rgbUser[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)] = {};
  DWORD cbUser = sizeof(rgbUser);
  const BOOL bRead = GetTokenInformation(hToken, TokenUser, rgbUser, cbUser, &cbUser);
  const HRESULT hrRead = bRead ? S_OK : LastErrorResult();
  CloseHandle(hToken);
  if (FAILED(hrRead)) return hrRead;
  CLocalMemory wszSid;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(rgbUser)->User.Sid, reinterpret_cast<LPWSTR*>(&wszSid)))
    return LastErrorResult();
  *pwsSid = static_cast<const wchar_t*>(wszSid.Get());
  return S_OK;
}

// The keys of the user of that SID: the current user's, or those of a loaded profile.
std::vector<CSolvaneKeyRecord> KeysOf(LPCWSTR wszSid) {
  std::wstring wsCurrent;
  if (!wszSid) return {};
  if (SUCCEEDED(CurrentUserSid(&wsCurrent)) && _wcsicmp(wsCurrent.c_str(), wszSid) == 0)
    return ReadKeyRecords(HKEY_CURRENT_USER);
  CRegKey hUser;
  if (RegOpenKeyExW(HKEY_USERS, wszSid, 0, KEY_READ, &hUser) != ERROR_SUCCESS) return {};
  return ReadKeyRecords(hUser);
}

HRESULT TaskString(const std::wstring& wsText, LPWSTR* pwszOut) {
  return CopyOutString(wsText, pwszOut, CoTaskMemAlloc);
}

class CSecretManager : public ISecretManager {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISecretManager) ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_lRef); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG lRef = InterlockedDecrement(&m_lRef);
    if (lRef == 0) delete this;
    return lRef;
  }

  STDMETHODIMP GetCurrentUserSid(LPWSTR* pwszSid) override {
    if (!pwszSid) return E_POINTER;
    std::wstring wsSid;
    const HRESULT hr = CurrentUserSid(&wsSid);
    if (FAILED(hr)) return hr;
    return CopyOutString(wsSid, pwszSid, [](size_t cb) { return LocalAlloc(LMEM_FIXED, cb); });
  }

  STDMETHODIMP CountSecrets(LPCWSTR wszSid, DWORD* pdwCount) override {
    if (!pdwCount) return E_POINTER;
    *pdwCount = static_cast<DWORD>(KeysOf(wszSid).size());
    return S_OK;
  }

  STDMETHODIMP GetSecretName(LPCWSTR wszSid, DWORD dwIndex, LPWSTR* pwszName) override {
    const std::vector<CSolvaneKeyRecord> keys = KeysOf(wszSid);
    if (dwIndex >= keys.size()) return E_INVALIDARG;
    return TaskString(keys[dwIndex].wsName, pwszName);
  }

  STDMETHODIMP GetSecretContainer(LPCWSTR wszSid, LPCWSTR wszName, LPWSTR* pwszContainer) override {
    const CSolvaneKeyRecord* pKey = nullptr;
    const std::vector<CSolvaneKeyRecord> keys = KeysOf(wszSid);
    for (const CSolvaneKeyRecord& key : keys)
      if (wszName && key.wsName == wszName) pKey = &key;
    return pKey ? TaskString(pKey->wsContainer, pwszContainer) : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }

  STDMETHODIMP_(BOOL) HoldsSecret(LPCWSTR wszSid, LPCWSTR wszName) override {
    for (const CSolvaneKeyRecord& key : KeysOf(wszSid))
      if (wszName && key.wsName == wszName) return TRUE;
    return FALSE;
  }

 private:
  virtual ~CSecretManager() = default;
  volatile LONG m_lRef = 1;
};

}  // namespace

extern "C" {

HRESULT WINAPI CreateSecretManager(ISecretManager** ppManager) {
  if (!ppManager) return E_POINTER;
  *ppManager = new (std::nothrow) CSecretManager();
  return *ppManager ? S_OK : E_OUTOFMEMORY;
}

HRESULT WINAPI StringSidFromUserName(LPCWSTR wszUserName, LPWSTR* pwszSid) {
  if (!wszUserName || !pwszSid) return E_POINTER;
  *pwszSid = nullptr;
  BYTE rgbSid[SECURITY_MAX_SID_SIZE] = {};
  DWORD cbSid = sizeof(rgbSid);
  wchar_t wszDomain[256] = {};
  DWORD cchDomain = ARRAYSIZE(wszDomain);
  SID_NAME_USE use = SidTypeUnknown;
  if (!LookupAccountNameW(nullptr, wszUserName, rgbSid, &cbSid, wszDomain, &cchDomain, &use)) return LastErrorResult();
  return ConvertSidToStringSidW(rgbSid, pwszSid) ? S_OK : LastErrorResult();
}

}  // extern "C"
