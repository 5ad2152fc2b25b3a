#pragma once
// The one-message security profile that tells Outlook's S/MIME engine which certificate signs
// and encrypts a message, which algorithms are offered and, for sealed messages, which security
// label the message carries. Layout: docs/security-profile.md.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// The message properties that the S/MIME engine reads.
constexpr ULONG kPrSecurityFlags = 0x6E010003;    // PR_SECURITY_FLAGS: 0x2 sign, 0x1 seal
constexpr ULONG kPrSecurityProfile = 0x6E031102;  // PT_MV_BINARY: the profile is its only value
constexpr DWORD kSecurityFlagSign = 0x2;
constexpr DWORD kSecurityFlagSeal = 0x1;

// The profile's record tags, in the order they are written.
enum : WORD {
  kProfileTagVersion = 0x0001,
  kProfileTagDefault = 0x0006,
  kProfileTagAlgorithms = 0x0020,
  kProfileTagName = 0x000B,
  kProfileTagNameW = 0x0051,
  kProfileTagSigningHash = 0x0022,
  kProfileTagEncryptionHash = 0x0009,
  kProfileTagCapabilities = 0x0002,
  kProfileTagSecurityLabel = 0x0050,
};

// Policy of the suite's security labels.
constexpr char kSecurityLabelPolicy[] = "1.3.6.1.4.1.51877.1.2";

// The DER ESSSecurityLabel (CMS attribute 1.2.840.113549.1.9.16.2.2) of the suite's policy with
// this classification, without privacy mark or categories.
std::vector<BYTE> EncodeSecurityLabel(DWORD dwClassification);

// The profile: wsName (ANSI and UTF-16), the certificate's SHA-1 hash for signing and
// encryption, the DER S/MIME capabilities, and the label's classification when there is one.
std::vector<BYTE> BuildSecurityProfile(const std::wstring& wsName, const BYTE (&abCertHash)[20],
                                       const std::vector<BYTE>& capabilities, std::optional<DWORD> classification);

// The module's binary resource 606: the DER SMIMECapabilities offered in every profile.
HRESULT LoadSMimeCapabilities(std::vector<BYTE>* pCapabilities);
