#pragma once
// The registry script (.rgs) as a tree: parsed whole before anything is written,
// so that a script with a mistake leaves the registry untouched.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "module/Registrar.h"

struct CScriptValue {
  std::wstring wsName;  // empty for the key's default value
  DWORD dwType = REG_NONE;
  std::vector<BYTE> data;
};

enum class ERemoval {
  Normal,       // written at registration; removed at unregistration when nothing else is left in it
  NoRemove,     // written at registration; kept at unregistration, though what it names inside goes
  ForceRemove,  // replaced with its whole subtree at registration; removed with it at unregistration
  Delete,       // removed with its subtree in both modes, never written
};

struct CScriptKey {
  std::wstring wsName;
  ERemoval removal = ERemoval::Normal;
  std::optional<CScriptValue> defaultValue;  // "= s '...'": goes and stays with the key
  std::vector<CScriptValue> values;          // "val Name = ...": removed at unregistration
  std::vector<CScriptKey> subkeys;
};

// A root block: the predefined key and, for HKCR, the path of the machine's classes below it.
struct CScriptRoot {
  HKEY hPredefined = nullptr;
  CScriptKey key;
};

// Parses wsScript with its %NAME% tokens replaced; on failure pwsError says where and why.
HRESULT ParseRegistryScript(const std::wstring& wsScript, const CReplacements& replacements,
                            std::vector<CScriptRoot>* pRoots, std::wstring* pwsError);

// Writes (bRegister) or removes the parsed script in the 64-bit registry view.
HRESULT ApplyRegistryScript(const std::vector<CScriptRoot>& roots, bool bRegister);
