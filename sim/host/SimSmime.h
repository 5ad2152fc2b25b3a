#pragma once
// The simulated Outlook's S/MIME engine: what Outlook does with a message's security flags and
// security profile when the message is submitted, and the RFC 5322 text it sends.
#include <windows.h>
#include <mapix.h>

#include <functional>
#include <string>
#include <vector>

namespace Sim {

using Bytes = std::vector<BYTE>;

constexpr ULONG kSecurityFlagsTag = 0x6E010003;    // PR_SECURITY_FLAGS
constexpr ULONG kSecurityProfileTag = 0x6E031102;  // the one-message security profile (PT_MV_BINARY)
enum : LONG { kSecurityEncrypt = 0x1, kSecuritySign = 0x2 };
// The message's Internet form (RFC 5322) as sent, or as delivered from the mail drop.
constexpr ULONG kInternetMessageTag = 0x7FF00102;

// A security profile as Outlook reads it. The label is the DER of an ESS security label, or empty.
struct SSecurityProfile {
  std::string sName;
  std::wstring wsName;
  Bytes signingHash;
  Bytes encryptionHash;
  Bytes capabilities;
  Bytes label;
};

// Reads a profile strictly: every record in its place with its length and value, the DER values
// whole. Anything else is MAPI_E_CORRUPT_DATA, which fails the send as Outlook's engine does.
HRESULT ParseSecurityProfile(const Bytes& profile, SSecurityProfile* pProfile);

struct SMailAddress {
  std::wstring wsName;
  std::wstring wsAddress;
  LONG lType = MAPI_TO;  // MAPI_TO, MAPI_CC or MAPI_BCC
};

struct SMailAttachment {
  std::wstring wsFileName;
  Bytes data;
};

// What the engine takes of a submitted message.
struct SOutgoingMail {
  SMailAddress from;
  std::vector<SMailAddress> recipients;
  std::wstring wsSubject;
  std::wstring wsBody;
  std::vector<SMailAttachment> attachments;
  LONG lSecurityFlags = 0;
  std::vector<Bytes> profiles;  // the profile property's values: none, or the one profile
};

// A recipient's certificate (DER) from the contacts folder, or empty.
using ContactCertificate = std::function<Bytes(const std::wstring& wsAddress)>;

// The message as Outlook sends it: headers and a plain, multipart/signed or
// application/x-pkcs7-mime body. Signing uses the profile's certificate and its key provider;
// sealing encrypts for each recipient with a certificate (trusted contacts, then the contacts
// folder) and for the sender. pLog receives what the engine decided, a line each.
HRESULT ComposeMime(const SOutgoingMail& mail, const ContactCertificate& contactCertificate, std::string* psMime,
                    std::vector<std::wstring>* pLog);

// The mail drop: MAILDROP\<recipient address>\<message>.eml, one copy a recipient.
HRESULT DropMail(const std::wstring& wsDropFolder, const SOutgoingMail& mail, const std::string& sMime);

// A message file of the mail drop; a header of a message's top level (unfolded, an encoded word
// of UTF-8 decoded); the MAPI message class Outlook gives a received message of that form.
HRESULT ReadInternetMessage(const std::wstring& wsFile, std::string* psMime);
std::wstring InternetHeader(const std::string& sMime, const char* szName);
std::wstring InternetMessageClass(const std::string& sMime);

// What Outlook reads of a received S/MIME message: enveloped data (DER, Triple DES as the engine
// writes it) opened with a key of the user's personal store; the security label (DER) among the
// signer's signed attributes of a SignedData, S_FALSE when it has none.
HRESULT OpenEnvelope(const Bytes& enveloped, std::string* psContent);
HRESULT SignerLabel(const Bytes& signedData, bool bDetached, Bytes* pLabel);

}  // namespace Sim
