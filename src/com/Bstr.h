#pragma once
// BSTR holder: frees at scope exit.
#include <oleauto.h>
#include <utility>

class CComBSTR {
 public:
  CComBSTR() = default;
  explicit CComBSTR(const wchar_t* wsz) : m_bs(wsz ? SysAllocString(wsz) : nullptr) {}
  CComBSTR(const wchar_t* wsz, UINT cch) : m_bs(SysAllocStringLen(wsz, cch)) {}
  CComBSTR(const CComBSTR& other) : m_bs(other.m_bs ? SysAllocStringLen(other.m_bs, other.Length()) : nullptr) {}
  CComBSTR(CComBSTR&& other) noexcept : m_bs(std::exchange(other.m_bs, nullptr)) {}
  ~CComBSTR() { SysFreeString(m_bs); }
  CComBSTR& operator=(CComBSTR other) noexcept {
    std::swap(m_bs, other.m_bs);
    return *this;
  }

  BSTR* operator&() {
    Empty();
    return &m_bs;
  }
  operator BSTR() const { return m_bs; }
  const wchar_t* c_str() const { return m_bs ? m_bs : L""; }
  UINT Length() const { return SysStringLen(m_bs); }
  void Empty() {
    SysFreeString(m_bs);
    m_bs = nullptr;
  }
  void Attach(BSTR bs) {
    SysFreeString(m_bs);
    m_bs = bs;
  }
  BSTR Detach() { return std::exchange(m_bs, nullptr); }
  // Hands out a copy, as an [out] BSTR parameter wants.
  HRESULT CopyTo(BSTR* pbs) const {
    if (!pbs) return E_POINTER;
    *pbs = nullptr;
    if (!m_bs) return S_OK;
    *pbs = SysAllocStringLen(m_bs, Length());
    return *pbs ? S_OK : E_OUTOFMEMORY;
  }

 private:
  BSTR m_bs = nullptr;
};
