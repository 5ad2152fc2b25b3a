#pragma once
// The simulated Outlook's use of security label policy modules, as its S/MIME engine uses them
// before it sends a labelled message: the module registered for the label's policy identifier
// (HKLM\Software\Microsoft\Cryptography\OID\EncodingType 1\SMIMESecurityLabel\<identifier>,
// "DllPath" and "FuncName") checks the label, the signer and every recipient, and gives the
// label's text for a received message.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace Sim {

// An ESS security label (DER): its policy identifier and, when it has one, its classification.
struct SSecurityLabel {
  std::string sPolicy;
  bool bHasClassification = false;
  DWORD dwClassification = 0;
};

// Reads a DER ESSSecurityLabel; MAPI_E_CORRUPT_DATA when it is not one.
HRESULT DecodeSecurityLabel(const std::vector<BYTE>& der, SSecurityLabel* pLabel);

// Asks the label's policy module whether the label may be sent by this signer to these
// recipients. A module that is not registered, cannot be loaded or refuses to give its object
// fails the check as a refusal does; pLog receives what was decided, a line each.
HRESULT ValidateLabelForSending(const SSecurityLabel& label, HWND hwnd, PCCERT_CONTEXT pSigner,
                                const std::vector<PCCERT_CONTEXT>& recipients, std::vector<std::wstring>* pLog);

// What Outlook asks of the label's policy module before it shows a received message: whether the
// user may read it, and the label's text (empty for a label without classification).
HRESULT ReadLabel(const SSecurityLabel& label, HWND hwnd, std::wstring* pwsText, std::vector<std::wstring>* pLog);

}  // namespace Sim
