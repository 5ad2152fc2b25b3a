#include "module/RegistryScript.h"

#include <cstdint>
#include <cwctype>
#include <utility>

namespace {

bool EqualsNoCase(const std::wstring& ws, const wchar_t* wsz) {
  return CompareStringOrdinal(ws.c_str(), static_cast<int>(ws.size()), wsz, -1, TRUE) == CSTR_EQUAL;
}

int HexDigit(wchar_t wch) {
  if (wch >= L'0' && wch <= L'9') return wch - L'0';
  if (wch >= L'a' && wch <= L'f') return wch - L'a' + 10;
  if (wch >= L'A' && wch <= L'F') return wch - L'A' + 10;
  return -1;
}

// Decimal, or hexadecimal after "0x".
bool ParseDword(const std::wstring& ws, DWORD* pdw) {
  const bool bHex = ws.size() > 2 && ws[0] == L'0' && (ws[1] == L'x' || ws[1] == L'X');
  const size_t iStart = bHex ? 2 : 0;
  const int nBase = bHex ? 16 : 10;
  if (ws.size() == iStart) return false;
  uint64_t u = 0;
  for (size_t i = iStart; i < ws.size(); ++i) {
    const int nDigit = HexDigit(ws[i]);
    if (nDigit < 0 || nDigit >= nBase) return false;
    u = u * nBase + nDigit;
    if (u > MAXDWORD) return false;
  }
  *pdw = static_cast<DWORD>(u);
  return true;
}

bool ParseBinary(const std::wstring& ws, std::vector<BYTE>* pData) {
  if (ws.size() % 2 != 0) return false;
  for (size_t i = 0; i < ws.size(); i += 2) {
    const int nHigh = HexDigit(ws[i]);
    const int nLow = HexDigit(ws[i + 1]);
    if (nHigh < 0 || nLow < 0) return false;
    pData->push_back(static_cast<BYTE>(nHigh * 16 + nLow));
  }
  return true;
}

struct CRootName {
  const wchar_t* wszShort;
  const wchar_t* wszLong;
  HKEY hPredefined;
  const wchar_t* wszPath;
};

// Registration is machine-wide: HKCR means the machine's classes, never the user's.
const CRootName g_rootNames[] = {
    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_LOCAL_MACHINE, L"Software\\Classes"},
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, L""},
    {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER, L""},
    {L"HKU", L"HKEY_USERS", HKEY_USERS, L""},
};

struct CToken {
  std::wstring ws;
  bool bQuoted = false;
  unsigned nLine = 0;
};

class CScriptParser {
 public:
  explicit CScriptParser(const CReplacements& replacements) : m_replacements(replacements) {}

  bool Tokenize(const std::wstring& wsScript);
  bool ParseRoots(std::vector<CScriptRoot>* pRoots);
  const std::wstring& GetError() const { return m_wsError; }

 private:
  bool Fail(const std::wstring& wsWhat);
  bool Replace(std::wstring* pws);
  const CToken* Next() { return m_iNext < m_tokens.size() ? &m_tokens[m_iNext++] : nullptr; }
  bool NextIs(const wchar_t* wszWord) const;
  bool Expect(const wchar_t* wszWord, const wchar_t* wszAfter);
  bool ParseBody(CScriptKey* pKey);
  bool ParseKey(CScriptKey* pParent);
  bool ParseData(CScriptValue* pValue);

  const CReplacements& m_replacements;
  std::vector<CToken> m_tokens;
  size_t m_iNext = 0;
  unsigned m_nLine = 1;
  std::wstring m_wsError;
};

bool CScriptParser::Fail(const std::wstring& wsWhat) {
  const unsigned nLine = m_iNext > 0 && m_iNext <= m_tokens.size() ? m_tokens[m_iNext - 1].nLine : m_nLine;
  m_wsError = L"line " + std::to_wstring(nLine) + L": " + wsWhat;
  return false;
}

// "%NAME%" becomes its replacement and "%%" a single '%'; names are case-insensitive.
bool CScriptParser::Replace(std::wstring* pws) {
  std::wstring wsOut;
  for (size_t i = 0; i < pws->size(); ++i) {
    if ((*pws)[i] != L'%') {
      wsOut += (*pws)[i];
      continue;
    }
    const size_t iEnd = pws->find(L'%', i + 1);
    if (iEnd == std::wstring::npos) return Fail(L"'%' without its closing '%' in '" + *pws + L"'");
    const std::wstring wsName = pws->substr(i + 1, iEnd - i - 1);
    i = iEnd;
    if (wsName.empty()) {
      wsOut += L'%';
      continue;
    }
    auto it = m_replacements.begin();
    while (it != m_replacements.end() && !EqualsNoCase(wsName, it->first.c_str())) ++it;
    if (it == m_replacements.end()) return Fail(L"no replacement for %" + wsName + L"%");
    wsOut += it->second;
  }
  *pws = std::move(wsOut);
  return true;
}

// Tokens are separated by white space; a quoted token runs to its closing quote, with '' for a quote.
bool CScriptParser::Tokenize(const std::wstring& wsScript) {
  size_t i = 0;
  while (i < wsScript.size()) {
    const wchar_t wch = wsScript[i];
    if (iswspace(wch)) {
      if (wch == L'\n') ++m_nLine;
      ++i;
      continue;
    }
    CToken token;
    token.nLine = m_nLine;
    if (wch == L'\'') {
      token.bQuoted = true;
      for (++i;; ++i) {
        if (i >= wsScript.size()) {
          m_nLine = token.nLine;
          return Fail(L"quoted text is not closed");
        }
        if (wsScript[i] == L'\'') {
          if (i + 1 >= wsScript.size() || wsScript[i + 1] != L'\'') break;
          ++i;
        }
        if (wsScript[i] == L'\n') ++m_nLine;
        token.ws += wsScript[i];
      }
      ++i;
    } else {
      while (i < wsScript.size() && !iswspace(wsScript[i])) token.ws += wsScript[i++];
    }
    if (!Replace(&token.ws)) return false;
    m_tokens.push_back(std::move(token));
  }
  return true;
}

bool CScriptParser::NextIs(const wchar_t* wszWord) const {
  return m_iNext < m_tokens.size() && !m_tokens[m_iNext].bQuoted && EqualsNoCase(m_tokens[m_iNext].ws, wszWord);
}

bool CScriptParser::Expect(const wchar_t* wszWord, const wchar_t* wszAfter) {
  if (!NextIs(wszWord)) return Fail(std::wstring(L"expected '") + wszWord + L"' after '" + wszAfter + L"'");
  ++m_iNext;
  return true;
}

bool CScriptParser::ParseRoots(std::vector<CScriptRoot>* pRoots) {
  while (const CToken* pToken = Next()) {
    const CRootName* pName = nullptr;
    for (const CRootName& name : g_rootNames) {
      if (!pToken->bQuoted && (EqualsNoCase(pToken->ws, name.wszShort) || EqualsNoCase(pToken->ws, name.wszLong)))
        pName = &name;
    }
    if (!pName) return Fail(L"unknown root key '" + pToken->ws + L"'");
    CScriptRoot root;
    root.hPredefined = pName->hPredefined;
    root.key.wsName = pName->wszPath;
    root.key.removal = ERemoval::NoRemove;
    if (!Expect(L"{", pToken->ws.c_str()) || !ParseBody(&root.key)) return false;
    pRoots->push_back(std::move(root));
  }
  return true;
}

// The inside of a key's braces, up to and including the closing brace.
bool CScriptParser::ParseBody(CScriptKey* pKey) {
  for (;;) {
    if (NextIs(L"}")) {
      ++m_iNext;
      return true;
    }
    if (m_iNext >= m_tokens.size()) return Fail(L"missing '}' at the end of the script");
    if (NextIs(L"val")) {
      ++m_iNext;
      const CToken* pName = Next();
      if (!pName || (!pName->bQuoted && (pName->ws == L"{" || pName->ws == L"}" || pName->ws == L"=")))
        return Fail(L"expected a value name after 'val'");
      CScriptValue value;
      value.wsName = pName->ws;
      if (!Expect(L"=", pName->ws.c_str()) || !ParseData(&value)) return false;
      pKey->values.push_back(std::move(value));
    } else if (!ParseKey(pKey)) {
      return false;
    }
  }
}

// [NoRemove|ForceRemove|Delete] Name [= type 'data'] [{ ... }]
bool CScriptParser::ParseKey(CScriptKey* pParent) {
  CScriptKey key;
  static const std::pair<const wchar_t*, ERemoval> kModifiers[] = {
      {L"NoRemove", ERemoval::NoRemove}, {L"ForceRemove", ERemoval::ForceRemove}, {L"Delete", ERemoval::Delete}};
  for (const auto& [wszWord, removal] : kModifiers) {
    if (NextIs(wszWord)) {
      ++m_iNext;
      key.removal = removal;
      break;
    }
  }
  const CToken* pName = Next();
  if (!pName) return Fail(L"expected a key name at the end of the script");
  if (!pName->bQuoted) {
    for (const wchar_t* wszReserved : {L"{", L"}", L"=", L"val", L"NoRemove", L"ForceRemove", L"Delete"}) {
      if (EqualsNoCase(pName->ws, wszReserved)) return Fail(L"expected a key name, found '" + pName->ws + L"'");
    }
  }
  if (pName->ws.empty()) return Fail(L"a key name cannot be empty");
  key.wsName = pName->ws;
  if (NextIs(L"=")) {
    ++m_iNext;
    key.defaultValue.emplace();
    if (!ParseData(&*key.defaultValue)) return false;
  }
  if (NextIs(L"{")) {
    ++m_iNext;
    if (!ParseBody(&key)) return false;
  }
  pParent->subkeys.push_back(std::move(key));
  return true;
}

// type 'data': s for a string, d for a number (decimal or 0x hexadecimal), b for hexadecimal bytes.
bool CScriptParser::ParseData(CScriptValue* pValue) {
  const CToken* pType = Next();
  if (!pType || pType->bQuoted) return Fail(L"expected a value type (s, d or b)");
  const CToken* pData = Next();
  if (!pData || !pData->bQuoted) return Fail(L"expected quoted data after '" + pType->ws + L"'");
  if (EqualsNoCase(pType->ws, L"s")) {
    pValue->dwType = REG_SZ;
    const BYTE* pbText = reinterpret_cast<const BYTE*>(pData->ws.c_str());
    pValue->data.assign(pbText, pbText + (pData->ws.size() + 1) * sizeof(wchar_t));
  } else if (EqualsNoCase(pType->ws, L"d")) {
    pValue->dwType = REG_DWORD;
    DWORD dw = 0;
    if (!ParseDword(pData->ws, &dw)) return Fail(L"'" + pData->ws + L"' is not a 32-bit number");
    const BYTE* pb = reinterpret_cast<const BYTE*>(&dw);
    pValue->data.assign(pb, pb + sizeof(dw));
  } else if (EqualsNoCase(pType->ws, L"b")) {
    pValue->dwType = REG_BINARY;
    if (!ParseBinary(pData->ws, &pValue->data)) return Fail(L"'" + pData->ws + L"' is not hexadecimal bytes");
  } else {
    return Fail(L"unknown value type '" + pType->ws + L"'");
  }
  return true;
}

class CKeyHandle {
 public:
  CKeyHandle() = default;
  ~CKeyHandle() { Close(); }
  CKeyHandle(const CKeyHandle&) = delete;
  CKeyHandle& operator=(const CKeyHandle&) = delete;
  void Close() {
    if (m_h) RegCloseKey(m_h);
    m_h = nullptr;
  }
  HKEY* operator&() {
    Close();
    return &m_h;
  }
  operator HKEY() const { return m_h; }

 private:
  HKEY m_h = nullptr;
};

constexpr REGSAM kAccess = KEY_READ | KEY_WRITE | KEY_WOW64_64KEY;

LONG SetValue(HKEY hKey, const CScriptValue& value) {
  return RegSetValueExW(hKey, value.wsName.c_str(), 0, value.dwType, value.data.data(),
                        static_cast<DWORD>(value.data.size()));
}

LONG DeleteSubtree(HKEY hParent, const std::wstring& wsName) {
  const LONG lResult = RegDeleteTreeW(hParent, wsName.c_str());
  return lResult == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : lResult;
}

LONG WriteKey(HKEY hParent, const CScriptKey& key) {
  if (key.removal == ERemoval::ForceRemove || key.removal == ERemoval::Delete) {
    const LONG lResult = DeleteSubtree(hParent, key.wsName);
    if (lResult != ERROR_SUCCESS || key.removal == ERemoval::Delete) return lResult;
  }
  CKeyHandle hKey;
  LONG lResult = RegCreateKeyExW(hParent, key.wsName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess, nullptr,
                                 &hKey, nullptr);
  if (lResult == ERROR_SUCCESS && key.defaultValue) lResult = SetValue(hKey, *key.defaultValue);
  for (size_t i = 0; lResult == ERROR_SUCCESS && i < key.values.size(); ++i) lResult = SetValue(hKey, key.values[i]);
  for (size_t i = 0; lResult == ERROR_SUCCESS && i < key.subkeys.size(); ++i) lResult = WriteKey(hKey, key.subkeys[i]);
  return lResult;
}

// Best effort: goes on after a failure and returns the first one. What is already gone is no failure.
LONG RemoveKey(HKEY hParent, const CScriptKey& key) {
  if (key.removal == ERemoval::ForceRemove || key.removal == ERemoval::Delete)
    return DeleteSubtree(hParent, key.wsName);
  CKeyHandle hKey;
  const LONG lOpen = RegOpenKeyExW(hParent, key.wsName.c_str(), 0, kAccess, &hKey);
  if (lOpen != ERROR_SUCCESS) return lOpen == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : lOpen;
  LONG lFirstError = ERROR_SUCCESS;
  const auto note = [&lFirstError](LONG lResult) {
    if (lResult != ERROR_SUCCESS && lResult != ERROR_FILE_NOT_FOUND && lFirstError == ERROR_SUCCESS)
      lFirstError = lResult;
  };
  for (const CScriptValue& value : key.values) note(RegDeleteValueW(hKey, value.wsName.c_str()));
  for (const CScriptKey& subkey : key.subkeys) note(RemoveKey(hKey, subkey));
  if (key.removal == ERemoval::Normal) {
    // Subkeys the script does not name (or NoRemove ones) keep the key.
    DWORD cSubKeys = 0;
    note(RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, &cSubKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr));
    hKey.Close();
    if (cSubKeys == 0) note(RegDeleteKeyExW(hParent, key.wsName.c_str(), KEY_WOW64_64KEY, 0));
  }
  return lFirstError;
}

}  // namespace

HRESULT ParseRegistryScript(const std::wstring& wsScript, const CReplacements& replacements,
                            std::vector<CScriptRoot>* pRoots, std::wstring* pwsError) {
  CScriptParser parser(replacements);
  std::vector<CScriptRoot> roots;
  if (!parser.Tokenize(wsScript) || !parser.ParseRoots(&roots)) {
    *pwsError = parser.GetError();
    return E_REGISTRY_SCRIPT_SYNTAX;
  }
  *pRoots = std::move(roots);
  return S_OK;
}

HRESULT ApplyRegistryScript(const std::vector<CScriptRoot>& roots, bool bRegister) {
  LONG lFirstError = ERROR_SUCCESS;
  for (const CScriptRoot& root : roots) {
    const LONG lResult = bRegister ? WriteKey(root.hPredefined, root.key) : RemoveKey(root.hPredefined, root.key);
    if (lResult == ERROR_SUCCESS) continue;
    if (bRegister) return HRESULT_FROM_WIN32(lResult);
    if (lFirstError == ERROR_SUCCESS) lFirstError = lResult;
  }
  return HRESULT_FROM_WIN32(lFirstError);
}
