#include "SimLabelPolicy.h"

#include <mapicode.h>

#include <functional>

#include "hosts/SMimePolicy.h"

namespace Sim {

namespace {

constexpr wchar_t kLabelPoliciesKey[] = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel\\";

// One DER element at pb[*pos]: its tag and contents; false when it does not fit.
bool ReadElement(const std::vector<BYTE>& der, size_t* pPos, BYTE* pbTag, std::vector<BYTE>* pContents) {
  size_t pos = *pPos;
  if (pos + 2 > der.size()) return false;
  *pbTag = der[pos++];
  size_t cb = der[pos++];
  if (cb & 0x80) {
    const size_t cbLength = cb & 0x7F;
    if (cbLength < 1 || cbLength > 2 || pos + cbLength > der.size()) return false;
    cb = 0;
    for (size_t i = 0; i < cbLength; ++i) cb = (cb << 8) | der[pos++];
  }
  if (pos + cb > der.size()) return false;
  pContents->assign(der.begin() + static_cast<std::ptrdiff_t>(pos),
                    der.begin() + static_cast<std::ptrdiff_t>(pos + cb));
  *pPos = pos + cb;
  return true;
}

std::string DottedObjectId(const std::vector<BYTE>& contents) {
  std::string sOid = std::to_string(contents[0] / 40) + "." + std::to_string(contents[0] % 40);
  DWORD dwArc = 0;
  for (size_t i = 1; i < contents.size(); ++i) {
    dwArc = (dwArc << 7) | (contents[i] & 0x7F);
    if (!(contents[i] & 0x80)) sOid += "." + std::to_string(dwArc), dwArc = 0;
  }
  return sOid;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

HRESULT ReadPolicyValue(const std::string& sPolicy, const wchar_t* wszName, std::wstring* pwsValue) {
  wchar_t wszValue[MAX_PATH] = {};
  DWORD cbValue = sizeof wszValue;
  const LSTATUS ls = RegGetValueW(HKEY_LOCAL_MACHINE, (kLabelPoliciesKey + Wide(sPolicy)).c_str(), wszName,
                                  RRF_RT_REG_SZ, nullptr, wszValue, &cbValue);
  *pwsValue = wszValue;
  return HRESULT_FROM_WIN32(ls);
}

// The module's answer for the label, the signer and each recipient, in that order.
HRESULT AskPolicy(Outlook::PFNGetSMimePolicy pfnGetPolicy, const SSecurityLabel& label, HWND hwnd,
                  PCCERT_CONTEXT pSigner, const std::vector<PCCERT_CONTEXT>& recipients,
                  std::vector<std::wstring>* pLog) {
  Outlook::SMIME_SECURITY_LABEL smimeLabel = {
      const_cast<LPSTR>(label.sPolicy.c_str()), label.bHasClassification, label.dwClassification, nullptr, 0, nullptr};
  Outlook::PSMIME_SECURITY_LABEL pLabel = &smimeLabel;
  Outlook::ISMimePolicySimpleEdit* pEdit = nullptr;
  HRESULT hr = pfnGetPolicy(0, label.sPolicy.c_str(), CP_ACP, Outlook::IID_ISMimePolicySimpleEdit,
                            reinterpret_cast<IUnknown**>(&pEdit));
  if (SUCCEEDED(hr)) {
    hr = pEdit->IsLabelValid(0, hwnd, &pLabel);
    pEdit->Release();
  }
  if (FAILED(hr)) return pLog->push_back(L"The security policy refused the label"), hr;
  Outlook::ISMimePolicyValidateSend* pValidate = nullptr;
  hr = pfnGetPolicy(0, label.sPolicy.c_str(), CP_ACP, Outlook::IID_ISMimePolicyValidateSend,
                    reinterpret_cast<IUnknown**>(&pValidate));
  if (FAILED(hr)) return pLog->push_back(L"The security policy cannot validate senders"), hr;
  hr = pValidate->IsValidLabelSignerCert(0, hwnd, pLabel, pSigner);
  if (FAILED(hr)) pLog->push_back(L"The security policy refused the signer");
  for (size_t i = 0; SUCCEEDED(hr) && i < recipients.size(); ++i) {
    hr = pValidate->IsValidLabelRecipientCert(0, hwnd, pLabel, recipients[i]);
    if (FAILED(hr)) pLog->push_back(L"The security policy refused recipient " + std::to_wstring(i + 1));
  }
  pValidate->Release();
  return hr;
}

// Loads the module registered for the policy identifier ("DllPath", "FuncName") for one use. A
// module that is not registered or cannot be loaded fails as a refusal does.
HRESULT WithPolicyModule(const std::string& sPolicy, std::vector<std::wstring>* pLog,
                         const std::function<HRESULT(Outlook::PFNGetSMimePolicy)>& use) {
  std::wstring wsDllPath, wsFuncName;
  HRESULT hr = ReadPolicyValue(sPolicy, L"DllPath", &wsDllPath);
  if (SUCCEEDED(hr)) hr = ReadPolicyValue(sPolicy, L"FuncName", &wsFuncName);
  if (FAILED(hr)) return pLog->push_back(L"No security policy module for " + Wide(sPolicy)), hr;
  const HMODULE hModule = LoadLibraryW(wsDllPath.c_str());
  const std::string sFuncName(wsFuncName.begin(), wsFuncName.end());
  const auto pfnGetPolicy = hModule ? reinterpret_cast<Outlook::PFNGetSMimePolicy>(
                                          reinterpret_cast<void (*)()>(GetProcAddress(hModule, sFuncName.c_str())))
                                    : nullptr;
  if (!pfnGetPolicy) {
    hr = GetLastError() ? HRESULT_FROM_WIN32(GetLastError()) : E_FAIL;
    pLog->push_back(L"The security policy module " + wsDllPath + L" cannot be loaded");
  } else {
    hr = use(pfnGetPolicy);
  }
  if (hModule) FreeLibrary(hModule);
  return hr;
}

}  // namespace

HRESULT DecodeSecurityLabel(const std::vector<BYTE>& der, SSecurityLabel* pLabel) {
  size_t pos = 0;
  BYTE bTag = 0;
  std::vector<BYTE> set, element;
  if (!ReadElement(der, &pos, &bTag, &set) || bTag != 0x31 || pos != der.size()) return MAPI_E_CORRUPT_DATA;
  pos = 0;
  if (!ReadElement(set, &pos, &bTag, &element) || bTag != 0x06 || element.empty()) return MAPI_E_CORRUPT_DATA;
  *pLabel = {DottedObjectId(element), false, 0};
  if (pos < set.size() && set[pos] == 0x02) {
    if (!ReadElement(set, &pos, &bTag, &element) || element.empty() || element.size() > 5) return MAPI_E_CORRUPT_DATA;
    pLabel->bHasClassification = true;
    for (BYTE b : element) pLabel->dwClassification = (pLabel->dwClassification << 8) | b;
  }
  return S_OK;
}

HRESULT ValidateLabelForSending(const SSecurityLabel& label, HWND hwnd, PCCERT_CONTEXT pSigner,
                                const std::vector<PCCERT_CONTEXT>& recipients, std::vector<std::wstring>* pLog) {
  return WithPolicyModule(label.sPolicy, pLog, [&](Outlook::PFNGetSMimePolicy pfnGetPolicy) {
    const HRESULT hr = AskPolicy(pfnGetPolicy, label, hwnd, pSigner, recipients, pLog);
    if (SUCCEEDED(hr)) pLog->push_back(L"The security policy accepted the label");
    return hr;
  });
}

HRESULT ReadLabel(const SSecurityLabel& label, HWND hwnd, std::wstring* pwsText, std::vector<std::wstring>* pLog) {
  pwsText->clear();
  return WithPolicyModule(label.sPolicy, pLog, [&](Outlook::PFNGetSMimePolicy pfnGetPolicy) {
    Outlook::SMIME_SECURITY_LABEL smimeLabel = {const_cast<LPSTR>(label.sPolicy.c_str()),
                                                label.bHasClassification,
                                                label.dwClassification,
                                                nullptr,
                                                0,
                                                nullptr};
    Outlook::ISMimePolicyCheckAccess* pAccess = nullptr;
    HRESULT hr = pfnGetPolicy(0, label.sPolicy.c_str(), CP_ACP, Outlook::IID_ISMimePolicyCheckAccess,
                              reinterpret_cast<IUnknown**>(&pAccess));
    if (SUCCEEDED(hr)) {
      hr = pAccess->IsAccessGranted(0, hwnd, &smimeLabel, nullptr, nullptr, nullptr);
      pAccess->Release();
    }
    if (FAILED(hr)) return pLog->push_back(L"The security policy denied access to the message"), hr;
    Outlook::ISMimePolicyLabelInfo* pInfo = nullptr;
    hr = pfnGetPolicy(0, label.sPolicy.c_str(), CP_ACP, Outlook::IID_ISMimePolicyLabelInfo,
                      reinterpret_cast<IUnknown**>(&pInfo));
    LPWSTR pwszLabel = nullptr;
    if (SUCCEEDED(hr)) {
      hr = pInfo->GetStringizedLabel(0, &smimeLabel, &pwszLabel);
      pInfo->Release();
    }
    if (FAILED(hr)) return pLog->push_back(L"The security policy cannot show the label"), hr;
    if (!pwszLabel) return S_OK;
    // The text is the caller's, in a global block that holds it with its terminating zero.
    const SIZE_T cbBlock = GlobalSize(pwszLabel);
    const size_t cchText = cbBlock ? wcsnlen(pwszLabel, cbBlock / sizeof(wchar_t)) : 0;
    if (!cbBlock || cchText == cbBlock / sizeof(wchar_t)) hr = E_INVALIDARG;
    if (SUCCEEDED(hr)) pwsText->assign(pwszLabel, cchText);
    if (cbBlock && GlobalFree(pwszLabel)) hr = E_INVALIDARG;
    if (FAILED(hr)) pLog->push_back(L"The security policy gave the label's text in no global block");
    return hr;
  });
}

}  // namespace Sim
