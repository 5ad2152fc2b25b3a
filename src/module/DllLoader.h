#pragma once
// A library bound at run time, so that the module loads and fails cleanly where it is missing.
#include <windows.h>

#include <string>

namespace LibHelper {

class CDLLLoader {
 public:
  CDLLLoader() = default;
  virtual ~CDLLLoader() { Free(); }
  CDLLLoader(const CDLLLoader&) = delete;
  CDLLLoader& operator=(const CDLLLoader&) = delete;

  // Frees the library held, then loads wszName; false (with the loader's last error) when that fails.
  bool Load(const wchar_t* wszName) {
    Free();
    m_hModule = LoadLibraryW(wszName);
    return m_hModule != nullptr;
  }

  // Frees the library held, then loads wszName from the folder of hBeside, resolving its own
  // dependencies from there too.
  bool LoadBeside(HMODULE hBeside, const wchar_t* wszName) {
    Free();
    wchar_t wszPath[MAX_PATH] = {};
    const DWORD cchPath = GetModuleFileNameW(hBeside, wszPath, MAX_PATH);
    if (!cchPath || cchPath >= MAX_PATH) return false;
    std::wstring wsPath(wszPath, cchPath);
    wsPath.resize(wsPath.rfind(L'\\') + 1);
    m_hModule = LoadLibraryExW((wsPath + wszName).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return m_hModule != nullptr;
  }

  HMODULE GetModule() const { return m_hModule; }

  // An entry point of the library, or null.
  template <class TFunction>
  TFunction GetProc(const char* szName) const {
    if (!m_hModule) return nullptr;
    // Through void (*)(), which any function pointer type converts to without a warning.
    return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(GetProcAddress(m_hModule, szName)));
  }

 private:
  void Free() {
    if (m_hModule) FreeLibrary(m_hModule);
    m_hModule = nullptr;
  }

  HMODULE m_hModule = nullptr;
};

}  // namespace LibHelper
