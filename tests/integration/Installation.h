#pragma once
// The module as tools/install-prefix.sh installed and registered it in the test prefix, and its classes.
#include <windows.h>

#include <string>

struct CClassInfo {
  const wchar_t* wszName;  // ProgID "VmOfcX.<name>", description "<name> Class"
  const wchar_t* wszClsid;
  const wchar_t* wszThreadingModel;
  bool bAggregatable;
};

inline constexpr CClassInfo kModuleClasses[] = {
    {L"ComposeRibbon", L"{EE56F4B6-F1B5-451E-B620-A428E1A9E050}", L"Apartment", false},
    {L"DocumentRibbon", L"{19F4F7D5-B328-495E-AB68-23A990CA63C8}", L"Apartment", false},
    {L"EncryptionProvider", L"{0F9A36C7-8501-4224-A39D-054EF270C86F}", L"Both", true},
    {L"FormRegionAddIn", L"{E92963FC-1B05-4AD6-A71B-F376D32CC9A0}", L"Apartment", false},
    {L"Launcher", L"{BF9EEB7C-184E-477A-9F56-45D3E2B60755}", L"Apartment", true},
    {L"SignatureProvider", L"{F4ECAC9C-B199-4598-8CD8-30C4C90537D7}", L"Both", true},
    {L"SMIMEPolicy", L"{EEB449E5-19E8-4E63-ADBB-06712FC9D9F6}", L"Apartment", true},
};

inline constexpr wchar_t kLibId[] = L"{1661F3B2-D3B0-403E-A1DA-7DF01B93BA00}";

// "VelmoraPath" of HKLM\SOFTWARE\Velmora (64-bit view).
std::wstring InstallFolder();
std::wstring ModulePath();

// Runs "regsvr32 <options> <module>", waits for it and returns its exit code.
DWORD RunRegsvr32(const wchar_t* wszOptions);
// Runs a command line, waits for it and returns its exit code.
DWORD RunProgram(std::wstring wsCommand);

GUID ToGuid(const wchar_t* wszGuid);

// The build folder: the parent of the test program's folder.
std::wstring BuildFolder();
// The simulator's runner, ofcsim.exe, in the build folder.
std::wstring SimulatorPath();
// A whole file, or an empty text when it cannot be read; a file written whole.
std::string ReadTextFile(const std::wstring& wsPath);
void WriteTextFile(const std::wstring& wsPath, const std::string& sText);

template <class TFunction>
TFunction GetExport(HMODULE hModule, const char* szName) {
  // Through void (*)(), the one function type that any other converts to without a warning.
  return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, szName)));
}
