#pragma once
// The invitation launcher: other programs of the suite have Outlook open a new invitation without
// Outlook being in front. OX_CreateInvitation's worker thread does it through the Launcher object,
// which Windows runs in a surrogate as the interactive user, or in the calling process.
#include <windows.h>

#include "VmOfcX_h.h"
#include "com/ComObject.h"
#include "module/RibbonSupport.h"

// Makes the running (or a newly started) Outlook open a new invitation with the language dialog,
// through the compose add-in's SendTrustedContactInvitation.
HRESULT CreateOutlookInvitation();

// The body of OX_CreateInvitation's worker thread; writes its result through pResult.
void InvitationThread(HRESULT* pResult);

// Whether the SID is the computer's built-in administrator: the computer account's SID with the
// relative identifier 500.
bool IsBuiltInAdministrator(PSID pUserSid);

class CLauncher final : public CComObjectRoot, public ILauncher {
 public:
  explicit CLauncher(IUnknown* pOuter) : CComObjectRoot(pOuter) {}
  VM_DELEGATING_IUNKNOWN
  VM_TYPELIB_DISPATCH(ILauncher)

  // ILauncher
  STDMETHOD(CreateInvitation)() override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  CTypeLibInfo m_typeInfo{IID_ILauncher};
};
