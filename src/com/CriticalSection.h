#pragma once
// Holds a critical section for its scope, so that an exception cannot leave it entered.
#include <windows.h>

class CCriticalSectionLock {
 public:
  explicit CCriticalSectionLock(CRITICAL_SECTION* pcs) : m_pcs(pcs) { EnterCriticalSection(m_pcs); }
  ~CCriticalSectionLock() { LeaveCriticalSection(m_pcs); }
  CCriticalSectionLock(const CCriticalSectionLock&) = delete;
  CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION* m_pcs;
};
