#pragma once
// The S/MIME security policy module of the suite's security labels: Outlook loads it through
// GetSMimePolicy for the suite's policy identifier. It turns a classification into a readable
// text, lets every reader open a message, and accepts a label for sending only while the signer's
// key still reports the label's classification and each recipient is a trusted contact.
#include <windows.h>

#include <string>

#include "com/ComObject.h"
#include "hosts/SMimePolicy.h"

// The policy identifier of the suite's security labels.
inline constexpr char kVmSecurityPolicyOid[] = "1.3.6.1.4.1.51877.1.2";

// GetSMimePolicy: a new policy object's interface riid for the suite's policy identifier (compared
// byte for byte); E_NOINTERFACE for any other identifier.
HRESULT GetSMimePolicyInterface(LPCSTR pszPolicyOid, REFIID riid, IUnknown** ppUnknown);

// The resource string id of a classification's text; 0 for classification 0 (an empty text).
UINT LabelStringId(DWORD dwClassification);

class CSMIMEPolicy final : public CComObjectRoot,
                           public Outlook::ISMimePolicyFullEdit,
                           public Outlook::ISMimePolicyLabelInfo,
                           public Outlook::ISMimePolicyValidateSend,
                           public Outlook::ISMimePolicyCheckAccess {
 public:
  explicit CSMIMEPolicy(IUnknown* pOuter) : CComObjectRoot(pOuter) {}
  VM_DELEGATING_IUNKNOWN

  // ISMimePolicySimpleEdit, ISMimePolicyFullEdit
  STDMETHOD(GetPolicyInfo)(DWORD dwFlags, DWORD* pdwPolicyFlags) override;
  STDMETHOD(GetClassifications)
  (DWORD dwFlags, DWORD* pcClassifications, LPWSTR** ppwszClassifications, DWORD** ppdwClassifications,
   DWORD* pdwDefaultClassification) override;
  STDMETHOD(GetDefaultPolicyInfo)(DWORD dwFlags, DWORD* pdwClassification, LPWSTR* pwszPrivacyMark) override;
  STDMETHOD(IsLabelValid)(DWORD dwFlags, HWND hwnd, Outlook::PSMIME_SECURITY_LABEL* pplabel) override;
  STDMETHOD(DoAdvancedEdit)(DWORD dwFlags, HWND hwnd, Outlook::PSMIME_SECURITY_LABEL* pplabel) override;
  STDMETHOD(IsLabelValidAdvanced)(DWORD dwFlags, HWND hwnd, Outlook::PSMIME_SECURITY_LABEL* pplabel) override;

  // ISMimePolicyLabelInfo
  STDMETHOD(GetLabelAsStrings)
  (DWORD dwFlags, Outlook::PSMIME_SECURITY_LABEL plabel, LPWSTR* pwszPolicyName, LPWSTR* pwszClassification,
   LPWSTR* pwszPrivacyMark, LPWSTR* pwszCategory) override;
  STDMETHOD(GetStringizedLabel)(DWORD dwFlags, Outlook::PSMIME_SECURITY_LABEL plabel, LPWSTR* pwszLabel) override;
  STDMETHOD(DisplayAdvancedLabelProperties)(DWORD dwFlags, HWND hwnd, Outlook::PSMIME_SECURITY_LABEL plabel) override;

  // ISMimePolicyValidateSend
  STDMETHOD(IsValidLabelSignerCert)
  (DWORD dwFlags, HWND hwnd, Outlook::PSMIME_SECURITY_LABEL plabel, PCCERT_CONTEXT pccert) override;
  STDMETHOD(IsValidLabelRecipientCert)
  (DWORD dwFlags, HWND hwnd, Outlook::PSMIME_SECURITY_LABEL plabel, PCCERT_CONTEXT pccert) override;

  // ISMimePolicyCheckAccess
  STDMETHOD(IsAccessGranted)
  (DWORD dwFlags, HWND hwnd, Outlook::PSMIME_SECURITY_LABEL plabel, PCCERT_CONTEXT pccertDecrypt,
   PCCERT_CONTEXT pccertSign, HCERTSTORE hcertstor) override;

 protected:
  void* FindInterface(REFIID riid) override;
};
