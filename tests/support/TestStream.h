#pragma once
// A memory stream for provider tests, as the simulator's streams behave.
#include <objidl.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "../../sim/host/MemoryStreams.h"

// A memory stream that answers reads a few bytes at a time and, when told, fails a read or a write
// once that many bytes have passed.
class CTestStream final : public IStream {
 public:
  explicit CTestStream(const std::vector<BYTE>& bytes, ULONG cbMaxRead)
      : m_cpInner(MemoryStream(bytes)), m_cbMaxRead(cbMaxRead) {}
  ULONG m_cbFailAt = ULONG_MAX;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ISequentialStream) && !IsEqualIID(riid, IID_IStream)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override { return --m_cRef; }
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (m_cbPassed >= m_cbFailAt) return STG_E_READFAULT;
    ULONG cbRead = 0;
    const HRESULT hr = m_cpInner->Read(pv, std::min(cb, m_cbMaxRead), &cbRead);
    m_cbPassed += cbRead;
    if (pcbRead) *pcbRead = cbRead;
    return hr;
  }
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (m_cbPassed + cb > m_cbFailAt) return STG_E_MEDIUMFULL;
    m_cbPassed += cb;
    return m_cpInner->Write(pv, cb, pcbWritten);
  }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

  std::vector<BYTE> Bytes() { return StreamBytes(m_cpInner); }

 private:
  CComPtr<IStream> m_cpInner;
  ULONG m_cbMaxRead;
  ULONG m_cbPassed = 0;
  ULONG m_cRef = 1;
};
