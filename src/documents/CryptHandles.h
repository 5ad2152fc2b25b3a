#pragma once
// Owners of CryptoAPI provider contexts, keys, hashes and certificate contexts, closed on every path.
#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <utility>

template <class T, class TTraits>
class CCryptHandle {
 public:
  CCryptHandle() = default;
  explicit CCryptHandle(T h) : m_h(h) {}
  ~CCryptHandle() { Close(); }
  CCryptHandle(const CCryptHandle&) = delete;
  CCryptHandle& operator=(const CCryptHandle&) = delete;
  CCryptHandle(CCryptHandle&& other) noexcept : m_h(other.Detach()) {}
  CCryptHandle& operator=(CCryptHandle&& other) noexcept {
    if (this != std::addressof(other)) Attach(other.Detach());
    return *this;
  }

  void Close() {
    if (T h = std::exchange(m_h, T{})) TTraits::Close(h);
  }
  T* operator&() {
    Close();
    return &m_h;
  }
  void Attach(T h) {
    Close();
    m_h = h;
  }
  operator T() const { return m_h; }
  T Detach() { return std::exchange(m_h, T{}); }

 private:
  T m_h{};
};

struct CProvCloser {
  static void Close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
struct CKeyCloser {
  static void Close(HCRYPTKEY h) { CryptDestroyKey(h); }
};
struct CHashCloser {
  static void Close(HCRYPTHASH h) { CryptDestroyHash(h); }
};
struct CCertCloser {
  static void Close(PCCERT_CONTEXT p) { CertFreeCertificateContext(p); }
};

using CCryptProvHandle = CCryptHandle<HCRYPTPROV, CProvCloser>;
using CCryptKeyHandle = CCryptHandle<HCRYPTKEY, CKeyCloser>;
using CCryptHashHandle = CCryptHandle<HCRYPTHASH, CHashCloser>;
using CCertContextHandle = CCryptHandle<PCCERT_CONTEXT, CCertCloser>;

inline HRESULT LastErrorResult() {
  const DWORD dwError = GetLastError();
  return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}
