#pragma once
// What the suite's key provider records about each key pair it holds, per user:
// HKCU\Software\Velmora\Solvane\Keys\<container> with the key's name ("Name"), its
// classification ("Classification") and its unlock period ("UnlockPeriod").
#include <windows.h>

#include <string>
#include <vector>

constexpr wchar_t kSolvaneKeysPath[] = L"Software\\Velmora\\Solvane\\Keys";
constexpr DWORD kDefaultKeyClass = 1;  // unlocked by the user's passphrase

struct CSolvaneKeyRecord {
  std::wstring wsContainer;
  std::wstring wsName;
  DWORD dwClass = kDefaultKeyClass;
  DWORD dwUnlockPeriod = static_cast<DWORD>(-1);
};

// Creates the record of a container that has none yet, with a fresh key name.
HRESULT EnsureKeyRecord(const std::wstring& wsContainer);
HRESULT ReadKeyRecord(HKEY hUserRoot, const std::wstring& wsContainer, CSolvaneKeyRecord* pRecord);
HRESULT WriteKeyValue(const std::wstring& wsContainer, const wchar_t* wszValue, DWORD dwData);
HRESULT DeleteKeyRecord(const std::wstring& wsContainer);
// Every record of a user, hUserRoot being HKEY_CURRENT_USER or that user's hive.
std::vector<CSolvaneKeyRecord> ReadKeyRecords(HKEY hUserRoot);

// The provider's record of every get and set of its private parameters, one line a call:
// "%LOCALAPPDATA%\Velmora\Solvane\Parameters.log" (docs/certificate-services.md); its folders
// are made when missing.
std::wstring ParameterLogPath();

constexpr wchar_t kValueClass[] = L"Classification";
constexpr wchar_t kValueUnlockPeriod[] = L"UnlockPeriod";
