#pragma once
// Owners of the CryptoAPI and registry handles the suite's stand-ins use (each closes at scope
// exit), and small helpers they share.
#include <windows.h>
#include <objbase.h>
#include <wincrypt.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

template <class T, class TTraits>
class CSuiteHandle {
 public:
  CSuiteHandle() = default;
  explicit CSuiteHandle(T h) : m_h(h) {}
  ~CSuiteHandle() { Reset(); }
  CSuiteHandle(const CSuiteHandle&) = delete;
  CSuiteHandle& operator=(const CSuiteHandle&) = delete;
  CSuiteHandle(CSuiteHandle&& other) noexcept : m_h(std::exchange(other.m_h, T{})) {}
  CSuiteHandle& operator=(CSuiteHandle&& other) noexcept {
    if (this != std::addressof(other)) {
      Reset();
      m_h = std::exchange(other.m_h, T{});
    }
    return *this;
  }

  void Reset(T h = T{}) {
    if (m_h) TTraits::Close(m_h);
    m_h = h;
  }
  T Detach() { return std::exchange(m_h, T{}); }
  T* operator&() {
    Reset();
    return &m_h;
  }
  T Get() const { return m_h; }
  operator T() const { return m_h; }
  explicit operator bool() const { return m_h != T{}; }

 private:
  T m_h{};
};

struct CStoreTraits {
  static void Close(HCERTSTORE h) { CertCloseStore(h, 0); }
};
struct CCertTraits {
  static void Close(PCCERT_CONTEXT p) { CertFreeCertificateContext(p); }
};
struct CProvTraits {
  static void Close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
struct CKeyTraits {
  static void Close(HCRYPTKEY h) { CryptDestroyKey(h); }
};
struct CRegKeyTraits {
  static void Close(HKEY h) { RegCloseKey(h); }
};
struct CLocalTraits {
  static void Close(void* p) { LocalFree(p); }
};

using CCertStore = CSuiteHandle<HCERTSTORE, CStoreTraits>;
using CCertContext = CSuiteHandle<PCCERT_CONTEXT, CCertTraits>;
using CCryptProv = CSuiteHandle<HCRYPTPROV, CProvTraits>;
using CCryptKey = CSuiteHandle<HCRYPTKEY, CKeyTraits>;
using CRegKey = CSuiteHandle<HKEY, CRegKeyTraits>;
using CLocalMemory = CSuiteHandle<void*, CLocalTraits>;

inline HRESULT LastErrorResult() {
  const DWORD dwError = GetLastError();
  return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

// Hands out a copy of the text in memory from pfnAlloc(byte count), which the receiver frees
// with that allocator's own function.
template <class TAlloc>
HRESULT CopyOutString(const std::wstring& wsText, LPWSTR* pwszOut, TAlloc pfnAlloc) {
  if (!pwszOut) return E_POINTER;
  const size_t cbText = (wsText.size() + 1) * sizeof(wchar_t);
  *pwszOut = static_cast<LPWSTR>(pfnAlloc(cbText));
  if (!*pwszOut) return E_OUTOFMEMORY;
  memcpy(*pwszOut, wsText.c_str(), cbText);
  return S_OK;
}

// A new GUID in registry form, after a prefix.
inline HRESULT NewGuidName(const wchar_t* wszPrefix, std::wstring* pwsName) {
  GUID guid{};
  const HRESULT hr = CoCreateGuid(&guid);
  if (FAILED(hr)) return hr;
  wchar_t wszGuid[40] = {};
  StringFromGUID2(guid, wszGuid, ARRAYSIZE(wszGuid));
  *pwsName = std::wstring(wszPrefix) + wszGuid;
  return S_OK;
}
