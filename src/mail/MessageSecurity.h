#pragma once
// Outgoing message security: the security profile and flags written on a message just before
// Outlook sends it, so that Outlook's S/MIME engine signs and seals it with the user's
// certificate for the sending account (docs/security-profile.md).
#include <windows.h>

#include "mail/MailItemKey.h"

// pMailItem: the _MailItem about to be sent. pbsContainer (may be null) receives the key
// container of the signing key when the message is sealed. ERROR_NOT_FOUND when signing is asked
// and no usable certificate exists (the user has been told).
HRESULT SetMessageSecurity(IDispatch* pMailItem, BOOL bSign, BOOL bSeal, BSTR* pbsContainer);

// The security that ApplyMessageSecurity applies: SetMessageSecurity.
IMessageSecurity& OutgoingMessageSecurity();

// The sent message's window has closed: the container's key is locked again (the suite's key
// provider's unlock period back to -1). Failures are traced only.
void LockKeyContainer(const wchar_t* wszContainer);
