// Whether the calling process runs as the computer's built-in administrator decides whether the
// invitation launcher runs the work in a surrogate.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "mail/Launcher.h"

namespace {

// The computer account's SID with one more relative identifier.
std::vector<BYTE> MachineAccountSid(DWORD dwRid) {
  wchar_t wszComputer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD cchComputer = ARRAYSIZE(wszComputer);
  BYTE machineSid[SECURITY_MAX_SID_SIZE] = {};
  DWORD cbSid = sizeof machineSid;
  wchar_t wszDomain[MAX_PATH] = {};
  DWORD cchDomain = ARRAYSIZE(wszDomain);
  SID_NAME_USE use = SidTypeUnknown;
  EXPECT_TRUE(GetComputerNameW(wszComputer, &cchComputer));
  EXPECT_TRUE(LookupAccountNameW(nullptr, wszComputer, machineSid, &cbSid, wszDomain, &cchDomain, &use));
  const UCHAR cCount = *GetSidSubAuthorityCount(machineSid);
  std::vector<BYTE> sid(GetSidLengthRequired(cCount + 1));
  InitializeSid(sid.data(), GetSidIdentifierAuthority(machineSid), cCount + 1);
  for (UCHAR i = 0; i < cCount; ++i) *GetSidSubAuthority(sid.data(), i) = *GetSidSubAuthority(machineSid, i);
  *GetSidSubAuthority(sid.data(), cCount) = dwRid;
  return sid;
}

TEST(LauncherTest, OnlyTheMachineAccountWithRid500IsTheBuiltInAdministrator) {
  EXPECT_TRUE(IsBuiltInAdministrator(MachineAccountSid(DOMAIN_USER_RID_ADMIN).data()));
  EXPECT_FALSE(IsBuiltInAdministrator(MachineAccountSid(DOMAIN_USER_RID_GUEST).data()));
  BYTE adminsGroup[SECURITY_MAX_SID_SIZE] = {};
  DWORD cbGroup = sizeof adminsGroup;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminsGroup, &cbGroup));
  EXPECT_FALSE(IsBuiltInAdministrator(adminsGroup));
  EXPECT_FALSE(IsBuiltInAdministrator(nullptr));
}

}  // namespace
