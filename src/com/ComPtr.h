#pragma once
// Smart interface pointer: releases at scope exit, queries on assignment from another interface.
#include <objbase.h>
#include <memory>
#include <utility>

template <class T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(T* p) : m_p(p) {  // NOLINT: implicit by design, like raw pointers
    if (m_p) m_p->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.m_p) {}
  CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  ~CComPtr() { Release(); }

  CComPtr& operator=(T* p) {
    if (p) p->AddRef();
    Release();
    m_p = p;
    return *this;
  }
  CComPtr& operator=(const CComPtr& other) { return *this = other.m_p; }
  CComPtr& operator=(CComPtr&& other) noexcept {
    if (this != std::addressof(other)) {
      Release();
      m_p = std::exchange(other.m_p, nullptr);
    }
    return *this;
  }

  void Release() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  // Takes ownership of a pointer that already carries a reference.
  void Attach(T* p) {
    Release();
    m_p = p;
  }
  T* Detach() { return std::exchange(m_p, nullptr); }

  T** operator&() {
    Release();
    return &m_p;
  }
  T* operator->() const { return m_p; }
  operator T*() const { return m_p; }
  T* Get() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  template <class Q>
  HRESULT QueryInterface(REFIID riid, Q** ppOut) const {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(riid, reinterpret_cast<void**>(ppOut));
  }
  HRESULT CopyTo(T** ppOut) const {
    if (!ppOut) return E_POINTER;
    *ppOut = m_p;
    if (m_p) m_p->AddRef();
    return S_OK;
  }

 private:
  T* m_p = nullptr;
};
