#pragma once
// Outlook's S/MIME security policy module interfaces, declared from their published ids, layouts
// and slot order. Outlook finds a policy module by the policy identifier of a security label:
// HKLM\Software\Microsoft\Cryptography\OID\EncodingType 1\SMIMESecurityLabel\<identifier> names
// the DLL ("DllPath") and its entry point ("FuncName"), which hands out the policy object.
#include <windows.h>
#include <wincrypt.h>

namespace Outlook {

// The security label of a message as Outlook hands it over.
struct SMIME_SECURITY_LABEL {
  LPSTR pszObjIdSecurityPolicy;
  BOOL fHasClassification;
  DWORD dwClassification;
  LPWSTR wszPrivacyMark;
  DWORD cCategories;
  PCRYPT_ATTRIBUTE_TYPE_VALUE rgCategories;
};
using PSMIME_SECURITY_LABEL = SMIME_SECURITY_LABEL*;

inline constexpr IID IID_ISMimePolicySimpleEdit = {
    0x5073B6B4, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};
inline constexpr IID IID_ISMimePolicyFullEdit = {
    0x5073B6B5, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};
inline constexpr IID IID_ISMimePolicyCheckAccess = {
    0x5073B6B6, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};
inline constexpr IID IID_ISMimePolicyLabelInfo = {
    0x5073B6B7, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};
inline constexpr IID IID_ISMimePolicyValidateSend = {
    0x5073B6B8, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};

// Memory that these operations hand out is global memory, freed by the caller with GlobalFree.
struct ISMimePolicySimpleEdit : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPolicyInfo(DWORD dwFlags, DWORD* pdwPolicyFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClassifications(DWORD dwFlags, DWORD* pcClassifications,
                                                       LPWSTR** ppwszClassifications, DWORD** ppdwClassifications,
                                                       DWORD* pdwDefaultClassification) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDefaultPolicyInfo(DWORD dwFlags, DWORD* pdwClassification,
                                                         LPWSTR* pwszPrivacyMark) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsLabelValid(DWORD dwFlags, HWND hwnd, PSMIME_SECURITY_LABEL* pplabel) = 0;
};

struct ISMimePolicyFullEdit : public ISMimePolicySimpleEdit {
  virtual HRESULT STDMETHODCALLTYPE DoAdvancedEdit(DWORD dwFlags, HWND hwnd, PSMIME_SECURITY_LABEL* pplabel) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsLabelValidAdvanced(DWORD dwFlags, HWND hwnd, PSMIME_SECURITY_LABEL* pplabel) = 0;
};

struct ISMimePolicyLabelInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLabelAsStrings(DWORD dwFlags, PSMIME_SECURITY_LABEL plabel,
                                                      LPWSTR* pwszPolicyName, LPWSTR* pwszClassification,
                                                      LPWSTR* pwszPrivacyMark, LPWSTR* pwszCategory) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStringizedLabel(DWORD dwFlags, PSMIME_SECURITY_LABEL plabel,
                                                       LPWSTR* pwszLabel) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisplayAdvancedLabelProperties(DWORD dwFlags, HWND hwnd,
                                                                   PSMIME_SECURITY_LABEL plabel) = 0;
};

struct ISMimePolicyValidateSend : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE IsValidLabelSignerCert(DWORD dwFlags, HWND hwnd, PSMIME_SECURITY_LABEL plabel,
                                                           PCCERT_CONTEXT pccert) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsValidLabelRecipientCert(DWORD dwFlags, HWND hwnd, PSMIME_SECURITY_LABEL plabel,
                                                              PCCERT_CONTEXT pccert) = 0;
};

struct ISMimePolicyCheckAccess : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE IsAccessGranted(DWORD dwFlags, HWND hwnd, PSMIME_SECURITY_LABEL plabel,
                                                    PCCERT_CONTEXT pccertDecrypt, PCCERT_CONTEXT pccertSign,
                                                    HCERTSTORE hcertstor) = 0;
};

// The entry point named by "FuncName".
using PFNGetSMimePolicy = HRESULT(WINAPI*)(DWORD dwFlags, LPCSTR pszPolicyOid, UINT uiCodePage, REFIID riid,
                                           IUnknown** ppunk);

}  // namespace Outlook
