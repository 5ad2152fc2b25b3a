#pragma once
// Invitations: messages that carry the user's certificate so that the receiver can make the
// sender a trusted contact (an invitation, ".vmcer") and answer with their own (a reply,
// ".vmcrr"). Open items that are invitations are remembered under their key until they close.
#include <windows.h>
#include <wincrypt.h>
#include <mapix.h>

#include <functional>
#include <string>

#include "mail/MailItemKey.h"

// Invitation types of a message; 0 when it is not one.
constexpr DWORD kInvitationNone = 0;
constexpr DWORD kInvitation = 1;
constexpr DWORD kInvitationReply = 2;

// Asks the user for an invitation's language, in a dialog owned by hOwner (may be null): the
// chosen locale id as "%08X", empty when none was chosen.
using InvitationLanguageChooser = std::function<std::wstring(HWND hOwner)>;

// Turns a new mail item into an invitation: its subject and body become the certificate library's
// invitation texts in the chosen language (pChooseLanguage), else in wszLanguage (may be null).
HRESULT SetupInvitation(IDispatch* pMailItem, const InvitationLanguageChooser* pChooseLanguage, LPCWSTR wszLanguage);
// Turns a reply to an invitation into an invitation reply; wszLanguage may be null.
HRESULT SetupInvitationReply(IDispatch* pMailItem, LPCWSTR wszLanguage);
// kInvitation, kInvitationReply, or kInvitationNone when the item is not recorded as either.
DWORD GetInvitationType(IDispatch* pMailItem);
// Forgets the item (it has closed).
HRESULT RemoveInvitationData(const CMailItemKey& key);

// Attaches the certificate's DER bytes by value, replacing an attachment of this kind added
// before; dwType is kInvitation or kInvitationReply. The message is not saved.
HRESULT AttachCertificate(IMessage* pMessage, PCCERT_CONTEXT pCert, DWORD dwType);

// Adds the product's advertisement to a plain-text or HTML body that does not hold it yet.
HRESULT InsertAdvertisement(IDispatch* pMailItem);
