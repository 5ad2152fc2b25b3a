#pragma once
// A process-wide table of per-message values under the message's key: the security choices and
// the invitation types have the same form. Every lookup and change holds the table's lock.
#include <windows.h>

#include <vector>

#include "com/CriticalSection.h"
#include "mail/MailItemKey.h"

// Keys and values in insertion order; the first equal key wins.
class CMessageTable {
 public:
  CMessageTable() { InitializeCriticalSection(&m_cs); }
  ~CMessageTable() { DeleteCriticalSection(&m_cs); }
  CMessageTable(const CMessageTable&) = delete;
  CMessageTable& operator=(const CMessageTable&) = delete;

  // The key's value; false when there is no entry.
  bool Find(const CMailItemKey& key, DWORD* pdwValue) {
    CCriticalSectionLock lock(&m_cs);
    const size_t i = IndexOf(key);
    if (i == m_keys.size()) return false;
    *pdwValue = m_values[i];
    return true;
  }
  // Removes the key's entry; with pdwValue, hands out its value. False when there was none.
  bool Take(const CMailItemKey& key, DWORD* pdwValue) {
    CCriticalSectionLock lock(&m_cs);
    const size_t i = IndexOf(key);
    if (i == m_keys.size()) return false;
    if (pdwValue) *pdwValue = m_values[i];
    m_keys.erase(m_keys.begin() + static_cast<ptrdiff_t>(i));
    m_values.erase(m_values.begin() + static_cast<ptrdiff_t>(i));
    return true;
  }
  size_t Count() {
    CCriticalSectionLock lock(&m_cs);
    return m_keys.size();
  }
  void Replace(const CMailItemKey& key, DWORD dwValue) {
    CCriticalSectionLock lock(&m_cs);
    Take(key, nullptr);
    m_keys.push_back(key);
    m_values.push_back(dwValue);
  }

 private:
  size_t IndexOf(const CMailItemKey& key) const {
    size_t i = 0;
    while (i < m_keys.size() && !(m_keys[i] == key)) ++i;
    return i;
  }

  CRITICAL_SECTION m_cs;
  std::vector<CMailItemKey> m_keys;
  std::vector<DWORD> m_values;
};
