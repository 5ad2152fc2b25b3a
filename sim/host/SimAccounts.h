#pragma once
// The mail accounts of the simulated Outlook's profile and Outlook's account manager
// (CLSID_OlkAccountManager), which Outlook offers in its own process.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace Sim {

// One mail account as a scenario or a test configures it.
struct SMailAccount {
  std::wstring wsSmtpAddress;   // empty: an account without an SMTP address, as Exchange's
  std::wstring wsName;          // the account's name
  std::wstring wsUserName;      // the user's display name
  std::wstring wsEmailAddress;  // the user's address-book entry's address; empty: the SMTP address
};

// What the profile keeps of an account beyond its configuration.
struct SAccountRecord {
  SMailAccount account;
  std::wstring wsStamp;
  std::wstring wsSendStamp;
  std::vector<BYTE> identityId;  // entry id of the user's address-book entry
};

// What the account manager's clients told it, for tests to check.
struct SAccountManagerLog {
  std::wstring wsIdentity;  // the profile name from the last Init's helper
  bool bSession = false;    // that helper handed out a MAPI session
  LONG lLive = 0;           // account manager objects alive now
};

struct SAccountStore {
  std::vector<SAccountRecord> records;
  SAccountManagerLog log;
};

// Registers the account manager's class object in this process (CoRegisterClassObject), as
// Outlook does for the add-ins it loads; RevokeClassObject with the cookie ends it.
HRESULT RegisterAccountManager(std::shared_ptr<SAccountStore> spStore, DWORD* pdwCookie);

}  // namespace Sim
