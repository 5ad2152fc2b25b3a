#pragma once
// Outlook's mail accounts: the one a message is sent from or was received by, and the one
// whose address matches a certificate's. Outlook 12 and later offer accounts in the object
// model; for Outlook 11 the account comes from MAPI properties, the compose window's account
// menu and Outlook's account manager.
#include <windows.h>
#include <mapix.h>

#include <string>

#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "hosts/OlkAccount.h"

namespace VmTraceNS {
class CTraceScope;
}

// The MAPI session of an application or item, through its Session's MAPIOBJECT.
HRESULT GetSession(IDispatch* pObject, VmTraceNS::CTraceScope& trace, IMAPISession** ppSession);
// The item's MAPI message (its MAPIOBJECT).
HRESULT GetItemMessage(IDispatch* pMailItem, VmTraceNS::CTraceScope& trace, IMessage** ppMessage);

// The SMTP address and the name of the account the item will be sent from.
HRESULT GetSendUsingAccount(IDispatch* pMailItem, BSTR* pbsAddress, BSTR* pbsName);
// Makes the item be sent from the account of that address; ERROR_NOT_FOUND when none has it.
HRESULT PutSendUsingAccount(IDispatch* pMailItem, LPCWSTR wszAddress);
// The address (and, when pbsName is given, the display name) that received the item.
HRESULT GetReceivedBy(IDispatch* pMailItem, BSTR* pbsAddress, BSTR* pbsName);
// A contact's e-mail address: the address-book entry that its property 0x81B3 names.
HRESULT GetContactAddress(IMAPIProp* pContact, IMAPISession* pSession, BSTR* pbsAddress);
// The same for an Outlook contact item, through its MAPI object and its session's.
HRESULT GetContactItemAddress(IDispatch* pContactItem, BSTR* pbsAddress);

// What the account manager needs of its client: the profile's name and its MAPI session.
class COlkAccountHelper final : public CComObjectRoot, public Olk::IOlkAccountHelper {
 public:
  // pApplication: Outlook's _Application.
  explicit COlkAccountHelper(IDispatch* pApplication);
  VM_DELEGATING_IUNKNOWN

  STDMETHOD(PlaceHolder1)(LPVOID) override { return E_NOTIMPL; }
  STDMETHOD(GetIdentity)(LPWSTR pwszIdentity, DWORD* pcch) override;
  STDMETHOD(GetMapiSession)(LPUNKNOWN* ppmsess) override;
  STDMETHOD(HandsOffSession)() override { return E_NOTIMPL; }

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  std::wstring m_wsIdentity;
  CComPtr<IMAPISession> m_cpSession;
};
