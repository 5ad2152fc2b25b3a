#pragma once
// The module's wizards. Each returns S_OK when the user finished it, E_ABORT when they
// cancelled, or the system's error when the wizard could not be shown.
#include <windows.h>
#include <oaidl.h>

class CCertLibrary;

// After a certificate authority's answer was installed: make the certificate the default, back
// up the credentials, choose correspondents to invite. wszIssued: the issued certificate as
// Base64 text; pContactsFolder may be null. *pbsRecipients (the caller's) gets the chosen
// addresses joined with "; ".
HRESULT RunCertificateSuccessWizard(const CCertLibrary& certLib, HWND hOwner, const wchar_t* wszIssued,
                                    IDispatch* pContactsFolder, BSTR* pbsRecipients);

// The correspondents of a batch invitation, chosen from the trusted contacts and the folder.
HRESULT RunInvitationSelectionWizard(const CCertLibrary& certLib, HWND hOwner, IDispatch* pContactsFolder,
                                     BSTR* pbsRecipients);
