#pragma once
// Streams in memory, as the host hands them to a provider, and their bytes read back whole.
// Office hands a provider streams that may answer a read with fewer bytes than asked, long before
// their end; PiecewiseStream does so, in pieces of varying size.
#include <objidl.h>
#include <shlwapi.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "com/ComPtr.h"

inline CComPtr<IStream> MemoryStream(const std::vector<BYTE>& bytes = {}) {
  CComPtr<IStream> cpStream;
  cpStream.Attach(SHCreateMemStream(bytes.empty() ? nullptr : bytes.data(), static_cast<UINT>(bytes.size())));
  return cpStream;
}

inline std::vector<BYTE> StreamBytes(IStream* pStream) {
  STATSTG stat = {};
  pStream->Stat(&stat, STATFLAG_NONAME);
  std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
  const LARGE_INTEGER liZero = {};
  pStream->Seek(liZero, STREAM_SEEK_SET, nullptr);
  ULONG cbRead = 0;
  if (!bytes.empty()) pStream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &cbRead);
  bytes.resize(cbRead);
  return bytes;
}

class CPiecewiseStream final : public IStream {
 public:
  explicit CPiecewiseStream(const std::vector<BYTE>& bytes) : m_cpInner(MemoryStream(bytes)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ISequentialStream) && !IsEqualIID(riid, IID_IStream)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return cRef;
  }
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    static constexpr ULONG kPieces[] = {1, 7, 512, 3, 4096, 63};
    const ULONG cbPiece = kPieces[m_iRead++ % ARRAYSIZE(kPieces)];
    return m_cpInner->Read(pv, std::min(cb, cbPiece), pcbRead);
  }
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    return m_cpInner->Write(pv, cb, pcbWritten);
  }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD dwOrigin, ULARGE_INTEGER* pPosition) override {
    return m_cpInner->Seek(move, dwOrigin, pPosition);
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override { return m_cpInner->SetSize(size); }
  STDMETHODIMP CopyTo(IStream* pTarget, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                      ULARGE_INTEGER* pcbWritten) override {
    return m_cpInner->CopyTo(pTarget, cb, pcbRead, pcbWritten);
  }
  STDMETHODIMP Commit(DWORD dwFlags) override { return m_cpInner->Commit(dwFlags); }
  STDMETHODIMP Revert() override { return m_cpInner->Revert(); }
  STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD dwType) override {
    return m_cpInner->LockRegion(offset, cb, dwType);
  }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD dwType) override {
    return m_cpInner->UnlockRegion(offset, cb, dwType);
  }
  STDMETHODIMP Stat(STATSTG* pStat, DWORD dwFlags) override { return m_cpInner->Stat(pStat, dwFlags); }
  STDMETHODIMP Clone(IStream** ppStream) override { return m_cpInner->Clone(ppStream); }

 private:
  ~CPiecewiseStream() = default;

  CComPtr<IStream> m_cpInner;
  size_t m_iRead = 0;
  LONG m_cRef = 1;
};

// A memory stream holding bytes that reads them back in pieces of varying size.
inline CComPtr<IStream> PiecewiseStream(const std::vector<BYTE>& bytes) {
  CComPtr<IStream> cpStream;
  cpStream.Attach(new CPiecewiseStream(bytes));
  return cpStream;
}
