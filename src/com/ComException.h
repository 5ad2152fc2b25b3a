#pragma once
// An HRESULT raised as an exception by helpers that have no result of their own; every COM
// entry point catches it (with everything else) before returning to its caller.
#include <windows.h>

class CComException {
 public:
  explicit CComException(HRESULT hr) : m_hr(hr) {}
  HRESULT Error() const { return m_hr; }

 private:
  HRESULT m_hr;
};
