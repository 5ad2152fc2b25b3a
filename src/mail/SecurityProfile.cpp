#include "mail/SecurityProfile.h"

#include "module/AddInModule.h"
#include "res/resource.h"

namespace {

// Tag, length counting the 4-byte header, data; little-endian, no padding.
void AppendRecord(std::vector<BYTE>& profile, WORD wTag, const void* pvData, size_t cbData) {
  const WORD wLength = static_cast<WORD>(cbData + 4);
  const BYTE abHeader[4] = {LOBYTE(wTag), HIBYTE(wTag), LOBYTE(wLength), HIBYTE(wLength)};
  profile.insert(profile.end(), abHeader, abHeader + 4);
  const BYTE* pb = static_cast<const BYTE*>(pvData);
  profile.insert(profile.end(), pb, pb + cbData);
}

void AppendDword(std::vector<BYTE>& profile, WORD wTag, DWORD dwValue) {
  const BYTE ab[4] = {LOBYTE(LOWORD(dwValue)), HIBYTE(LOWORD(dwValue)), LOBYTE(HIWORD(dwValue)),
                      HIBYTE(HIWORD(dwValue))};
  AppendRecord(profile, wTag, ab, sizeof ab);
}

// DER of a short element (contents below 128 bytes).
std::vector<BYTE> DerElement(BYTE bTag, const std::vector<BYTE>& contents) {
  std::vector<BYTE> element = {bTag, static_cast<BYTE>(contents.size())};
  element.insert(element.end(), contents.begin(), contents.end());
  return element;
}

std::vector<BYTE> DerObjectId(const char* szOid) {
  std::vector<DWORD> arcs;
  for (const char* p = szOid; *p;) {
    arcs.push_back(strtoul(p, const_cast<char**>(&p), 10));
    if (*p == '.') ++p;
  }
  std::vector<BYTE> contents = {static_cast<BYTE>(40 * arcs[0] + arcs[1])};
  for (size_t i = 2; i < arcs.size(); ++i) {
    BYTE abBase128[5];
    int n = 0;
    for (DWORD dw = arcs[i]; n == 0 || dw; dw >>= 7) abBase128[n++] = static_cast<BYTE>(dw & 0x7F);
    while (n--) contents.push_back(static_cast<BYTE>(abBase128[n] | (n ? 0x80 : 0)));
  }
  return DerElement(0x06, contents);
}

// A non-negative INTEGER in its shortest form.
std::vector<BYTE> DerInteger(DWORD dwValue) {
  std::vector<BYTE> contents;
  for (int nShift = 24; nShift >= 0; nShift -= 8) {
    const BYTE b = static_cast<BYTE>(dwValue >> nShift);
    if (contents.empty() && !b && nShift) continue;
    if (contents.empty() && (b & 0x80)) contents.push_back(0);
    contents.push_back(b);
  }
  return DerElement(0x02, contents);
}

}  // namespace

std::vector<BYTE> EncodeSecurityLabel(DWORD dwClassification) {
  std::vector<BYTE> contents = DerObjectId(kSecurityLabelPolicy);
  const std::vector<BYTE> classification = DerInteger(dwClassification);
  contents.insert(contents.end(), classification.begin(), classification.end());
  return DerElement(0x31, contents);
}

std::vector<BYTE> BuildSecurityProfile(const std::wstring& wsName, const BYTE (&abCertHash)[20],
                                       const std::vector<BYTE>& capabilities, std::optional<DWORD> classification) {
  std::vector<BYTE> profile;
  AppendDword(profile, kProfileTagVersion, 1);
  AppendDword(profile, kProfileTagDefault, 1);
  AppendDword(profile, kProfileTagAlgorithms, 7);
  const int cbName = WideCharToMultiByte(CP_ACP, 0, wsName.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string sName(cbName > 0 ? cbName : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, wsName.c_str(), -1, sName.data(), cbName, nullptr, nullptr);
  AppendRecord(profile, kProfileTagName, sName.data(), sName.size());
  AppendRecord(profile, kProfileTagNameW, wsName.c_str(), (wsName.size() + 1) * sizeof(wchar_t));
  AppendRecord(profile, kProfileTagSigningHash, abCertHash, sizeof abCertHash);
  AppendRecord(profile, kProfileTagEncryptionHash, abCertHash, sizeof abCertHash);
  AppendRecord(profile, kProfileTagCapabilities, capabilities.data(), capabilities.size());
  if (classification) {
    const std::vector<BYTE> label = EncodeSecurityLabel(*classification);
    AppendRecord(profile, kProfileTagSecurityLabel, label.data(), label.size());
  }
  return profile;
}

HRESULT LoadSMimeCapabilities(std::vector<BYTE>* pCapabilities) {
  const HMODULE hModule = g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr;
  const HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(IDR_SMIME_CAPABILITIES), MAKEINTRESOURCEW(10));
  const HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : nullptr;
  const BYTE* pb = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
  if (!pb) return HRESULT_FROM_WIN32(GetLastError());
  pCapabilities->assign(pb, pb + SizeofResource(hModule, hResource));
  return S_OK;
}
