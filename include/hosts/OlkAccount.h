#pragma once
// Outlook's account management interfaces, declared from their published ids and slot order.
// Slots that Outlook does not document are kept as placeholders so that the later ones
// stay where Outlook has them.
#include <objbase.h>

namespace Olk {

#define VM_OLK_GUID(name, l1, w1) \
  inline constexpr GUID name = {l1, w1, 0x11D2, {0x8C, 0x3B, 0x00, 0x10, 0x4B, 0x2A, 0x66, 0x76}}
VM_OLK_GUID(CLSID_OlkAccountManager, 0xED475410, 0xB0D6);
VM_OLK_GUID(CLSID_OlkMail, 0xED475418, 0xB0D6);
VM_OLK_GUID(IID_IOlkErrorUnknown, 0x9240A6C0, 0xAF41);
VM_OLK_GUID(IID_IOlkEnum, 0x9240A6C1, 0xAF41);
VM_OLK_GUID(IID_IOlkAccountHelper, 0x9240A6CB, 0xAF41);
VM_OLK_GUID(IID_IOlkAccountManager, 0x9240A6CD, 0xAF41);
VM_OLK_GUID(IID_IOlkAccount, 0x9240A6D2, 0xAF41);
#undef VM_OLK_GUID

// Account properties (IOlkAccount::GetProp).
enum : DWORD {
  PROP_ACCT_NAME = 0x0002001F,
  PROP_ACCT_USER_DISPLAY_NAME = 0x000B001F,
  PROP_ACCT_USER_EMAIL_ADDR = 0x000C001F,
  PROP_ACCT_STAMP = 0x000D001F,
  PROP_ACCT_SEND_STAMP = 0x000E001F,
  PROP_MAPI_IDENTITY_ENTRYID = 0x20020102,
};

enum : DWORD { ACCT_INIT_NOSYNCH_MAPI_ACCTS = 0x1, OLK_ACCOUNT_NO_FLAGS = 0 };

inline constexpr HRESULT E_ACCT_NOT_FOUND = static_cast<HRESULT>(0x800C8101);
inline constexpr HRESULT E_OLK_ALREADY_INITIALIZED = static_cast<HRESULT>(0x800C8002);
inline constexpr HRESULT E_OLK_NOT_INITIALIZED = static_cast<HRESULT>(0x800C8005);

struct ACCT_BIN {
  ULONG cb;
  BYTE* pb;
};

// A property value: dwType is PT_LONG, PT_UNICODE or PT_BINARY; memory from GetProp is
// freed with the account's FreeMemory.
struct ACCT_VARIANT {
  DWORD dwType;
  union {
    DWORD dw;
    WCHAR* pwsz;
    ACCT_BIN bin;
  } Val;
};

struct IOlkErrorUnknown : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hr, LPWSTR* ppwszError) = 0;
};

struct IOlkEnum : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pulCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNext(IUnknown** ppunk) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(DWORD cSkip) = 0;
};

// Implemented by the client: the profile and MAPI session the account manager works on.
struct IOlkAccountHelper : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder1(LPVOID) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIdentity(LPWSTR pwszIdentity, DWORD* pcch) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMapiSession(LPUNKNOWN* ppmsess) = 0;
  virtual HRESULT STDMETHODCALLTYPE HandsOffSession() = 0;
};

struct IOlkAccount : public IOlkErrorUnknown {
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder1() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder2() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder3() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder4() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder5() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder6() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAccountInfo(CLSID* pclsidType, DWORD* pcCategories,
                                                   CLSID** prgclsidCategory) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProp(DWORD dwProp, ACCT_VARIANT* pVar) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProp(DWORD dwProp, ACCT_VARIANT* pVar) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder7() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder8() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder9() = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeMemory(BYTE* pv) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder10() = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveChanges(DWORD dwFlags) = 0;
};

struct IOlkAccountManager : public IOlkErrorUnknown {
  virtual HRESULT STDMETHODCALLTYPE Init(IOlkAccountHelper* pAcctHelper, DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisplayAccountList(HWND hwnd, DWORD dwFlags, LPCWSTR wszTitle, DWORD cCategories,
                                                       const CLSID* rgclsidCategories, const CLSID* pclsidType) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder1() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder2() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder3() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder4() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder5() = 0;
  virtual HRESULT STDMETHODCALLTYPE FindAccount(DWORD dwProp, ACCT_VARIANT* pVar, IOlkAccount** ppAccount) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder6() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder7() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder8() = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAccount(DWORD dwAcctID) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder9() = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveChanges(DWORD dwAcctID, DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOrder(const CLSID* pclsidCategory, DWORD* pcAccts, DWORD* prgAccts[]) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOrder(const CLSID* pclsidCategory, DWORD* pcAccts, DWORD* prgAccts[]) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumerateAccounts(const CLSID* pclsidCategory, const CLSID* pclsidType,
                                                      DWORD dwFlags, IOlkEnum** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder10() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder11() = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeMemory(BYTE* pv) = 0;
  virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* pNotify, DWORD* pdwCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD* pdwCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder12() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder13() = 0;
  virtual HRESULT STDMETHODCALLTYPE PlaceHolder14() = 0;
};

}  // namespace Olk
