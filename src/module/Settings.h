#pragma once
// The module's registry values. Per-user settings live under
// HKEY_CURRENT_USER\SOFTWARE\Velmora\Applications\Tessaly and are never cached: each use opens
// the key, reads or writes one value and closes it, so a change is seen by the next reader.
#include <windows.h>

#include <string>

// An open registry key, closed at scope exit.
class CRegistryKey {
 public:
  CRegistryKey() = default;
  ~CRegistryKey();
  CRegistryKey(const CRegistryKey&) = delete;
  CRegistryKey& operator=(const CRegistryKey&) = delete;

  // Each closes the key held before.
  LSTATUS Open(HKEY hRoot, const wchar_t* wszPath, REGSAM samDesired);
  LSTATUS Create(HKEY hRoot, const wchar_t* wszPath, REGSAM samDesired);

  // A missing value, or one that is not a REG_DWORD, gives dwDefault.
  DWORD ReadDword(const wchar_t* wszName, DWORD dwDefault) const;
  // A REG_SZ or REG_EXPAND_SZ value (not expanded) of at most cchMax characters with its zero.
  LSTATUS ReadString(const wchar_t* wszName, DWORD cchMax, std::wstring& wsValue) const;
  LSTATUS WriteDword(const wchar_t* wszName, DWORD dwValue) const;
  LSTATUS WriteString(const wchar_t* wszName, const std::wstring& wsValue) const;

 private:
  void Close();

  HKEY m_hKey = nullptr;
};

// A per-user DWORD setting and the value it has when it (or the key) is missing.
struct CDwordSetting {
  const wchar_t* wszName;
  DWORD dwDefault;
};

inline constexpr CDwordSetting kEmailSecurity{L"EmailSecurity", 0};
inline constexpr CDwordSetting kDocumentSecurity{L"DocumentSecurity", 0};
inline constexpr CDwordSetting kShowPublishedCerts{L"ShowPublishedCerts", 0};
inline constexpr CDwordSetting kEmailBalloon{L"EmailBalloon", 5};
inline constexpr CDwordSetting kDocumentBalloon{L"DocumentBalloon", 5};
// REG_SZ, empty by default; entered with at most 120 characters.
inline constexpr wchar_t kSignerTitle[] = L"SignerTitle";

DWORD ReadUserSetting(const CDwordSetting& setting);
// Skipped without a report when the key cannot be created.
void WriteUserSetting(const CDwordSetting& setting, DWORD dwValue);
// Up to 260 characters with the terminating zero; empty when missing.
std::wstring ReadUserString(const wchar_t* wszName);
void WriteUserString(const wchar_t* wszName, const std::wstring& wsValue);

// "DocumentSecurity", 0 when absent.
DWORD GetDocumentSecurity();

// "BinDir" of HKLM\SOFTWARE\Velmora\Applications (32-bit view): the folder of the suite's
// programs; empty when missing.
std::wstring ReadBinDir();
