#include "module/ResourceStrings.h"

#include <versionhelpers.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string_view>
#include <type_traits>

#include "com/ComException.h"
#include "module/AddInModule.h"
#include "module/Branding.h"
#include "module/Trace.h"

namespace {

// English (United States): the language every installation carries.
constexpr LANGID kUltimateFallbackLanguage = 1033;

struct CLibraryDeleter {
  void operator()(HMODULE hModule) const { FreeLibrary(hModule); }
};
using CLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, CLibraryDeleter>;

struct CBrandToken {
  const wchar_t* wszToken;
  UINT nID;
};

// In replacement order.
constexpr CBrandToken kBrandTokens[] = {
    {L"<<%PN%>>", IDS_BRAND_PRODUCT},       {L"<<%PF%>>", IDS_BRAND_PRODUCT_FAMILY}, {L"<<%BR%>>", IDS_BRAND_BRAND},
    {L"<<%SP%>>", IDS_BRAND_SHORT_PRODUCT}, {L"<<%UD%>>", IDS_BRAND_URL_DOWNLOAD},   {L"<<%UF%>>", IDS_BRAND_URL_FAQ},
    {L"<<%UA%>>", IDS_BRAND_URL_ACCOUNT},
};

// A language as a whole: no sublanguage, or neutral Chinese traditional.
bool IsNeutralLanguage(LANGID wLang) { return wLang == LANG_ZH_HANT || wLang == PRIMARYLANGID(wLang); }

// The neutral language that a specific language falls back to.
LANGID NeutralLanguage(LANGID wLang) {
  if (wLang == 1028 || wLang == 3076 || wLang == 5124) return LANG_ZH_HANT;
  return PRIMARYLANGID(wLang);
}

bool GetLanguageFolder(LANGID wLang, std::wstring& wsFolder) {
  // Neutral Chinese is named by its script, and Wine names every neutral language after one
  // of its regions ("de-DE" for 7), so neutral names are made here.
  if (wLang == LANG_ZH_HANT) {
    wsFolder = L"zh-Hant";
    return true;
  }
  if (wLang == LANG_CHINESE) {
    wsFolder = L"zh-Hans";
    return true;
  }
  wchar_t wszName[LOCALE_NAME_MAX_LENGTH] = {};
  if (!LCIDToLocaleName(MAKELCID(wLang, SORT_DEFAULT), wszName, LOCALE_NAME_MAX_LENGTH, 0)) return false;
  wsFolder = wszName;
  const size_t nDash = wsFolder.find(L'-');
  if (IsNeutralLanguage(wLang) && nDash != std::wstring::npos) wsFolder.resize(nDash);
  return true;
}

HMODULE LoadSatelliteFile(const std::wstring& wsModulePath, LANGID wLang) {
  std::wstring wsFolder;
  if (!GetLanguageFolder(wLang, wsFolder)) return nullptr;
  const size_t nName = wsModulePath.rfind(L'\\') + 1;
  const std::wstring wsPath = wsModulePath.substr(0, nName) + wsFolder + L'\\' + wsModulePath.substr(nName) + L".mui";
  return LoadLibraryExW(wsPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

// Our own satellite lookup in place of the platform's MUI loader, which Wine lacks. Language 0
// tries the user's and the system's UI languages, each with its neutral language, then English.
HMODULE LoadSatellite(const std::wstring& wsModulePath, LANGID wLang) {
  if (wLang != 0) return LoadSatelliteFile(wsModulePath, wLang);
  const LANGID wUser = GetUserDefaultUILanguage();
  const LANGID wSystem = GetSystemDefaultUILanguage();
  for (LANGID wCandidate :
       {wUser, NeutralLanguage(wUser), wSystem, NeutralLanguage(wSystem), kUltimateFallbackLanguage}) {
    if (HMODULE hSatellite = LoadSatelliteFile(wsModulePath, wCandidate)) return hSatellite;
  }
  return nullptr;
}

HMODULE SafeLoadMUILibrary(const std::wstring& wsModulePath, LANGID wLang) {
  CTraceScope trace("::SafeLoadMUILibrary");
  trace.Message("Module: %ls", wsModulePath.c_str());
  trace.Message("LangID: %04X", wLang);
  if (wLang == LANG_ARABIC) {
    trace.Message("Avoiding access violation on Arabic Windows...");
    return nullptr;
  }
  HMODULE hLibrary = nullptr;
  try {
    hLibrary = LoadSatellite(wsModulePath, wLang);
  } catch (...) {
    trace.Error("LoadMUILibrary()", E_UNEXPECTED);
  }
  trace.Message("hLibrary = 0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hLibrary)));
  return hLibrary;
}

// Systems before version 6 choose the language here. The satellite lookup never answers with
// the module itself, so every candidate that loads is the answer.
HMODULE LoadDefaultMUILibrary(const std::wstring& wsModulePath) {
  CTraceScope trace("::LoadDefaultMUILibrary");
  if (IsWindowsVistaOrGreater()) return SafeLoadMUILibrary(wsModulePath, 0);
  for (LANGID wLang : {GetUserDefaultUILanguage(), kUltimateFallbackLanguage}) {
    trace.Message("Trying the language (0x%04X)...", wLang);
    if (HMODULE hLibrary = SafeLoadMUILibrary(wsModulePath, wLang)) return hLibrary;
    if (!IsNeutralLanguage(wLang)) {
      trace.Message("Trying the corresponding neutral language...");
      if (HMODULE hLibrary = SafeLoadMUILibrary(wsModulePath, NeutralLanguage(wLang))) return hLibrary;
    }
    if (wLang != 2052 && wLang != 2070 && wLang != 4100 && SUBLANGID(wLang) != SUBLANG_DEFAULT) {
      trace.Message("Trying the corresponding default language...");
      const LANGID wDefault = MAKELANGID(PRIMARYLANGID(wLang), SUBLANG_DEFAULT);
      if (HMODULE hLibrary = SafeLoadMUILibrary(wsModulePath, wDefault)) return hLibrary;
    }
    trace.Message("Trying the standard fallback...");
    if (HMODULE hLibrary = SafeLoadMUILibrary(wsModulePath, 0)) return hLibrary;
  }
  return SafeLoadMUILibrary(wsModulePath, 0);
}

BOOL CALLBACK MatchLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD wLang, LONG_PTR lParam) {
  auto* pwWanted = reinterpret_cast<LANGID*>(lParam);
  if (wLang != *pwWanted) return TRUE;
  *pwWanted = 0;
  return FALSE;
}

bool HasLanguage(HMODULE hModule, const wchar_t* wszBlock, LANGID wLang) {
  LANGID wWanted = wLang;
  EnumResourceLanguagesW(hModule, RT_STRING, wszBlock, MatchLanguage, reinterpret_cast<LONG_PTR>(&wWanted));
  return wWanted == 0;
}

// The satellite loaded at start, then the module itself.
bool FindInResourceModules(UINT nID, LANGID wLang, std::wstring& wsText) {
  if (!g_pAddInModule) return false;
  const HMODULE hResource = g_pAddInModule->GetResourceInstance();
  const HMODULE hModule = g_pAddInModule->GetModuleInstance();
  return (hResource && FindModuleString(hResource, nID, wLang, wsText)) ||
         (hModule && hModule != hResource && FindModuleString(hModule, nID, wLang, wsText));
}

// Looks in the module's satellite for wLang, loaded for this lookup only.
bool FindInSatellite(UINT nID, LANGID wLang, std::wstring& wsText) {
  const HMODULE hModule = g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr;
  if (!hModule) return false;
  const CLibrary satellite(LoadResourceModule(hModule, wLang));
  return satellite && FindModuleString(satellite.get(), nID, wLang, wsText);
}

}  // namespace

HMODULE LoadResourceModule(HMODULE hModule, LANGID wLang) {
  wchar_t wszPath[MAX_PATH] = {};
  wchar_t wszLongPath[MAX_PATH] = {};
  if (!GetModuleFileNameW(hModule, wszPath, MAX_PATH)) return nullptr;
  const DWORD cchLong = GetLongPathNameW(wszPath, wszLongPath, MAX_PATH);
  const std::wstring wsPath = cchLong > 0 && cchLong < MAX_PATH ? wszLongPath : wszPath;
  return wLang != 0 ? SafeLoadMUILibrary(wsPath, wLang) : LoadDefaultMUILibrary(wsPath);
}

bool FindModuleString(HMODULE hModule, UINT nID, LANGID wLang, std::wstring& wsText) {
  const wchar_t* wszBlock = MAKEINTRESOURCEW(nID / 16 + 1);
  // FindResourceEx may answer with another language of the block; only the one asked for counts.
  if (wLang != 0 && !HasLanguage(hModule, wszBlock, wLang)) return false;
  const HRSRC hResource = FindResourceExW(hModule, RT_STRING, wszBlock, wLang);
  const HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : nullptr;
  const auto* pwch = static_cast<const wchar_t*>(hData ? LockResource(hData) : nullptr);
  if (!pwch) return false;
  const wchar_t* pwchEnd = pwch + SizeofResource(hModule, hResource) / sizeof(wchar_t);
  // A block holds 16 strings, each its length followed by its characters.
  for (UINT i = 0; i < nID % 16 && pwch < pwchEnd; ++i) pwch += 1 + *pwch;
  if (pwch >= pwchEnd || *pwch == 0 || pwch + 1 + *pwch > pwchEnd) return false;
  wsText.assign(pwch + 1, *pwch);
  return true;
}

std::wstring LoadResourceString(UINT nID, LANGID wLang) {
  std::wstring wsText;
  bool bFound = FindInResourceModules(nID, wLang, wsText) || FindInSatellite(nID, wLang, wsText);
  if (!bFound && wLang != 0 && !IsNeutralLanguage(wLang)) {
    const LANGID wFallback = NeutralLanguage(wLang);
    bFound = FindInResourceModules(nID, wFallback, wsText) || FindInSatellite(nID, wFallback, wsText);
  }
  if (!bFound) bFound = FindInResourceModules(nID, 0, wsText);
  if (bFound) ReplaceBrandTokens(wsText, CBranding::Instance());
  return wsText;
}

std::wstring FormatResourceString(UINT nID, const std::wstring& wsText) {
  const std::wstring wsFormat = LoadResourceString(nID);
  std::wstring wsResult(wsFormat.size() + wsText.size() + 1, L'\0');
  wsResult.resize(std::max(0, swprintf(wsResult.data(), wsResult.size(), wsFormat.c_str(), wsText.c_str())));
  return wsResult;
}

BSTR LoadResourceStringBSTR(UINT nID, LANGID wLang) {
  const std::wstring wsText = LoadResourceString(nID, wLang);
  const BSTR bsText = SysAllocStringLen(wsText.data(), static_cast<UINT>(wsText.size()));
  if (!bsText) throw CComException(E_OUTOFMEMORY);
  return bsText;
}

void ReplaceBrandTokens(std::wstring& wsText, const CBranding& branding) {
  for (const CBrandToken& token : kBrandTokens) {
    const std::wstring_view wsvToken(token.wszToken);
    size_t nPos = wsText.find(wsvToken);
    if (nPos == std::wstring::npos) continue;
    const std::wstring wsBrand = branding.GetString(token.nID);
    for (; nPos != std::wstring::npos; nPos = wsText.find(wsvToken, nPos + wsBrand.size()))
      wsText.replace(nPos, wsvToken.size(), wsBrand);
  }
}
