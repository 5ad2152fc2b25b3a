#pragma once
// Redirects HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of this process into empty scratch keys
// for the sandbox's lifetime, so that a test writes machine and user values of its own.
#include <windows.h>

#include <string>

class CRegistrySandbox {
 public:
  CRegistrySandbox() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    Redirect(HKEY_LOCAL_MACHINE, L"\\Machine", m_hMachine);
    Redirect(HKEY_CURRENT_USER, L"\\User", m_hUser);
  }
  ~CRegistrySandbox() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(m_hMachine);
    RegCloseKey(m_hUser);
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
  }
  CRegistrySandbox(const CRegistrySandbox&) = delete;
  CRegistrySandbox& operator=(const CRegistrySandbox&) = delete;

 private:
  static constexpr wchar_t kScratchKey[] = L"Software\\VmOfcX test sandbox";

  static void Redirect(HKEY hRoot, const wchar_t* wszName, HKEY& hScratch) {
    const std::wstring wsPath = std::wstring(kScratchKey) + wszName;
    RegCreateKeyExW(HKEY_CURRENT_USER, wsPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hScratch, nullptr);
    RegOverridePredefKey(hRoot, hScratch);
  }

  HKEY m_hMachine = nullptr;
  HKEY m_hUser = nullptr;
};
