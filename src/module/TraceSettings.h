#pragma once
// The tracing settings: HKLM\SOFTWARE\Velmora\Tracing in the 64-bit registry view, or else in the 32-bit one.
#include <windows.h>

namespace VmTraceNS {

// Bits of the trace flags word.
constexpr DWORD TRACE_FLAG_TO_FILE = 0x04;
constexpr DWORD TRACE_FLAG_NEW_FILE_ALWAYS = 0x08;
constexpr DWORD TRACE_FLAG_ON = 0x20;
constexpr DWORD TRACE_FLAG_PROFILING = 0x40;
constexpr DWORD TRACE_FLAG_LOG = 0x80;
// Differs from every word read, so that the first refresh always initialises.
constexpr DWORD TRACE_FLAGS_UNKNOWN = 0x80000000;

// The "Tracing" key, open for reading for the object's lifetime when it exists in either view.
class CTracingKey {
 public:
  CTracingKey();
  ~CTracingKey();
  CTracingKey(const CTracingKey&) = delete;
  CTracingKey& operator=(const CTracingKey&) = delete;

  bool IsOpen() const { return m_hKey != nullptr; }
  // A missing value, or one of another type than REG_DWORD, gives dwDefault.
  DWORD ReadDword(const wchar_t* wszName, DWORD dwDefault) const;
  // A REG_SZ or REG_EXPAND_SZ value, not expanded. ERROR_FILE_NOT_FOUND also when it is of another type.
  LSTATUS ReadString(const wchar_t* wszName, wchar_t* wszValue, DWORD cchValue) const;
  // The flags word; 0 when the key is missing.
  DWORD ReadFlags() const;
  // Whether the "Components" and "ComponentsNOT" lists let the named component trace.
  bool IsComponentTraced(const wchar_t* wszComponent) const;

 private:
  HKEY m_hKey = nullptr;
  REGSAM m_samView = 0;
};

}  // namespace VmTraceNS
