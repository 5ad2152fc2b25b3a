// Prints the product name and some of the module's strings in the languages given, loaded from
// the installed module's satellites by the module's own code.
// Usage: vmstrings.exe LANGUAGE_ID...   (e.g. 1033 1031)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "module/AddInModule.h"
#include "module/Branding.h"
#include "module/CleanupList.h"
#include "module/ResourceStrings.h"
#include "res/StringIds.h"

namespace {

constexpr UINT kShownStrings[] = {IDS_CAPTION,    IDS_SECURE_SEND,         IDS_MENU_SEAL,
                                  IDS_TIP_SEAL,   IDS_MSG_RESTART_OUTLOOK, IDS_MSG_POLICY_NO_DOCUMENT_ENCRYPTION,
                                  IDS_ADVERT_TEXT};

// UTF-8 whatever the console's code page: the output goes to a Linux terminal or file.
void Print(const std::wstring& wsLine) {
  const int cbLine =
      WideCharToMultiByte(CP_UTF8, 0, wsLine.data(), static_cast<int>(wsLine.size()), nullptr, 0, nullptr, nullptr);
  std::string sLine(cbLine, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wsLine.data(), static_cast<int>(wsLine.size()), sLine.data(), cbLine, nullptr,
                      nullptr);
  printf("%s\n", sLine.c_str());
}

std::wstring OnOneLine(std::wstring wsText) {
  for (size_t nPos = 0; (nPos = wsText.find(L'\n', nPos)) != std::wstring::npos; nPos += 3)
    wsText.replace(nPos, wsText.find_first_not_of(L'\n', nPos) - nPos, L" / ");
  return wsText;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: vmstrings LANGUAGE_ID...\n");
    return 2;
  }
  wchar_t wszFolder[MAX_PATH] = {};
  DWORD cchFolder = MAX_PATH;
  if (ReadInstallPath(wszFolder, &cchFolder, KEY_WOW64_64KEY) != ERROR_SUCCESS) {
    fprintf(stderr, "VelmoraPath is not set: is the module installed?\n");
    return 1;
  }
  const std::wstring wsModule = std::wstring(wszFolder) + L"\\VmOfcX.dll";
  const HMODULE hModule = LoadLibraryW(wsModule.c_str());
  if (!hModule) {
    fprintf(stderr, "cannot load %ls: error %lu\n", wsModule.c_str(), GetLastError());
    return 1;
  }
  // As DllMain sets up the module inside VmOfcX.dll.
  CAddInModule module{{}};
  module.SetModuleInstance(hModule);
  const HMODULE hSatellite = LoadResourceModule(hModule, 0);
  if (hSatellite) module.SetResourceInstance(hSatellite);

  Print(L"Product name (branding string 101): " + GetBrandString(IDS_BRAND_SHORT_PRODUCT));
  for (int i = 1; i < argc; ++i) {
    const LANGID wLang = static_cast<LANGID>(wcstoul(argv[i], nullptr, 0));
    wchar_t wszName[LOCALE_NAME_MAX_LENGTH] = {};
    LCIDToLocaleName(MAKELCID(wLang, SORT_DEFAULT), wszName, LOCALE_NAME_MAX_LENGTH, 0);
    Print(L"\nLanguage " + std::to_wstring(wLang) + L" (" + wszName + L"):");
    for (UINT nID : kShownStrings)
      Print(L"  " + std::to_wstring(nID) + L"  " + OnOneLine(LoadResourceString(nID, wLang)));
  }
  if (hSatellite) FreeLibrary(hSatellite);
  FreeLibrary(hModule);
  return 0;
}
