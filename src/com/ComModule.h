#pragma once
// The DLL server's lock count. Every live object, class-object lock and server
// lock holds one; the module can unload when it is zero.
#include <windows.h>

class CComModule {
 public:
  CComModule();
  virtual ~CComModule();
  CComModule(const CComModule&) = delete;
  CComModule& operator=(const CComModule&) = delete;

  LONG Lock() { return InterlockedIncrement(&m_lLockCount); }
  LONG Unlock() { return InterlockedDecrement(&m_lLockCount); }
  LONG GetLockCount() const { return m_lLockCount; }

 private:
  volatile LONG m_lLockCount = 0;
};

// The one module object of this DLL (or of a test program), set by its constructor.
extern CComModule* g_pComModule;
