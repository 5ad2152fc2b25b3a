#pragma once
// Outlook's MIME conversion in both directions: a received Internet message becomes a MAPI
// message (class, sender, text, attachments) and a MAPI message is written back as MIME, also
// for add-ins through the converter class Outlook registers (CLSID_IConverterSession).
#include <windows.h>
#include <mapix.h>

#include <functional>
#include <string>
#include <vector>

namespace Sim {

// Fills a received message from its Internet form (line ends made CRLF): the form itself (0x7FF00102), the message
// class Outlook gives it, the sender, the text and the attachments of a plain, multipart or
// multipart/signed message. Opaque and encrypted S/MIME keep their one body as it came.
HRESULT MimeToMessage(const std::string& sMime, IMessage* pMessage);

// The security label (DER) of a received S/MIME message, as Outlook finds it when the message is
// opened: sealed content decrypted with the user's key, then the signer's signed attributes.
// S_FALSE when the message is no S/MIME or carries no label.
HRESULT ReceivedSecurityLabel(const std::string& sMime, std::vector<BYTE>* pLabel);

// Takes a message's MIME form, whole.
using MimeSink = std::function<HRESULT(const char* pch, size_t cch)>;
// Writes a message as MIME: a received one as it came (without a copy), another as Outlook would
// send it.
using MessageWriter = std::function<HRESULT(IMessage* pMessage, const MimeSink& sink)>;
// Serves the converter class in this process until revoked (CoRevokeClassObject).
HRESULT RegisterConverter(MessageWriter writer, DWORD* pdwCookie);

}  // namespace Sim
