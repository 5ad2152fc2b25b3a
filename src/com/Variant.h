#pragma once
// VARIANT and SAFEARRAY holders: cleared and destroyed at scope exit.
#include <oleauto.h>
#include <utility>

class CComVariant : public VARIANT {
 public:
  CComVariant() { VariantInit(this); }
  CComVariant(const CComVariant& other) {
    VariantInit(this);
    VariantCopy(this, const_cast<CComVariant*>(&other));
  }
  explicit CComVariant(const wchar_t* wsz) {
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = SysAllocString(wsz);
  }
  explicit CComVariant(LONG l) {
    VariantInit(this);
    vt = VT_I4;
    lVal = l;
  }
  explicit CComVariant(bool b) {
    VariantInit(this);
    vt = VT_BOOL;
    boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  }
  explicit CComVariant(IDispatch* p) {
    VariantInit(this);
    vt = VT_DISPATCH;
    pdispVal = p;
    if (p) p->AddRef();
  }
  ~CComVariant() { VariantClear(this); }
  CComVariant& operator=(const CComVariant& other) {
    if (this != &other) VariantCopy(this, const_cast<CComVariant*>(&other));
    return *this;
  }
  HRESULT Clear() { return VariantClear(this); }
  HRESULT ChangeType(VARTYPE vtNew) { return VariantChangeType(this, this, 0, vtNew); }
};

class CSafeArray {
 public:
  CSafeArray() = default;
  explicit CSafeArray(SAFEARRAY* psa) : m_psa(psa) {}
  CSafeArray(const CSafeArray&) = delete;
  CSafeArray& operator=(const CSafeArray&) = delete;
  ~CSafeArray() { Destroy(); }

  // A one-dimensional byte array holding a copy of the bytes.
  HRESULT CreateBytes(const void* pData, ULONG cb) {
    Destroy();
    m_psa = SafeArrayCreateVector(VT_UI1, 0, cb);
    if (!m_psa) return E_OUTOFMEMORY;
    void* pDest = nullptr;
    HRESULT hr = SafeArrayAccessData(m_psa, &pDest);
    if (FAILED(hr)) return hr;
    if (cb) CopyMemory(pDest, pData, cb);
    return SafeArrayUnaccessData(m_psa);
  }
  void Destroy() {
    if (m_psa) SafeArrayDestroy(std::exchange(m_psa, nullptr));
  }
  SAFEARRAY** operator&() {
    Destroy();
    return &m_psa;
  }
  SAFEARRAY* Get() const { return m_psa; }
  SAFEARRAY* Detach() { return std::exchange(m_psa, nullptr); }

 private:
  SAFEARRAY* m_psa = nullptr;
};
