#pragma once
// Localised resources. A module's satellite resource module for a language is the file
// "<language>\<module file name>.mui" beside the module, where <language> is the language's
// locale name ("en-US", "de-DE"; "de" for neutral German, "zh-Hant" for 31748). Strings are
// looked up in the module's resource modules (the satellite loaded at start, then the module
// itself), then in satellites of the language and its fallback, and come with the brand
// tokens ("<<%PN%>>" and the others) replaced by the branding DLL's strings.
#include <windows.h>
#include <oleauto.h>

#include <string>

class CBranding;

// Neutral Chinese traditional: the fallback of 1028, 3076 and 5124.
constexpr LANGID LANG_ZH_HANT = 31748;

// Loads the satellite resource module of hModule for wLang as a data file; with wLang 0, the
// satellite of the user's language and its fallbacks. Null when there is none; the caller frees it.
HMODULE LoadResourceModule(HMODULE hModule, LANGID wLang);

// The string nID of hModule's string table in exactly wLang (0: the system's choice of
// language); false when the module has no such string or it is empty.
bool FindModuleString(HMODULE hModule, UINT nID, LANGID wLang, std::wstring& wsText);

// The localised string nID in wLang (0: the language of the satellite loaded at start), brand
// tokens replaced; empty when it exists nowhere.
std::wstring LoadResourceString(UINT nID, LANGID wLang = 0);
// The localised string nID, a format with one "%ls", with wsText put in.
std::wstring FormatResourceString(UINT nID, const std::wstring& wsText);
// The same as a new BSTR; throws CComException(E_OUTOFMEMORY) when it cannot be allocated.
BSTR LoadResourceStringBSTR(UINT nID, LANGID wLang = 0);

// Replaces, token by token, every occurrence of a brand token by its brand string, left to
// right; a replacement text is not searched again for the same token.
void ReplaceBrandTokens(std::wstring& wsText, const CBranding& branding);
