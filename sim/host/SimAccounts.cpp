#include "SimAccounts.h"

#include <mapidefs.h>

#include "SimDispatch.h"
#include "hosts/OlkAccount.h"

namespace Sim {
namespace {

using namespace Olk;

#define VM_SIM_UNDOCUMENTED(name) \
  STDMETHOD(name)() override { return E_NOTIMPL; }

// The slots that Outlook leaves undocumented in both its account and its manager.
template <class TBase>
class COlkObject : public CUnknownImpl<TBase> {
 public:
  explicit COlkObject(const IID& iid) : CUnknownImpl<TBase>({IID_IOlkErrorUnknown, iid}) {}
  STDMETHOD(GetLastError)(HRESULT, LPWSTR*) override { return E_NOTIMPL; }
  VM_SIM_UNDOCUMENTED(PlaceHolder1)
  VM_SIM_UNDOCUMENTED(PlaceHolder2)
  VM_SIM_UNDOCUMENTED(PlaceHolder3)
  VM_SIM_UNDOCUMENTED(PlaceHolder4)
  VM_SIM_UNDOCUMENTED(PlaceHolder5)
  VM_SIM_UNDOCUMENTED(PlaceHolder6)
  VM_SIM_UNDOCUMENTED(PlaceHolder7)
  VM_SIM_UNDOCUMENTED(PlaceHolder8)
  VM_SIM_UNDOCUMENTED(PlaceHolder9)
  VM_SIM_UNDOCUMENTED(PlaceHolder10)
  // Memory handed out by GetProp.
  STDMETHOD(FreeMemory)(BYTE* pv) override {
    delete[] pv;
    return S_OK;
  }
};

// One account: its properties are read from the profile's record each time.
class CAccount final : public COlkObject<IOlkAccount> {
 public:
  CAccount(std::shared_ptr<SAccountStore> spStore, size_t iAccount)
      : COlkObject(IID_IOlkAccount), m_spStore(std::move(spStore)), m_iAccount(iAccount) {}

  STDMETHOD(GetAccountInfo)(CLSID*, DWORD*, CLSID**) override { return E_NOTIMPL; }
  STDMETHOD(SetProp)(DWORD, ACCT_VARIANT*) override { return E_NOTIMPL; }
  STDMETHOD(SaveChanges)(DWORD) override { return E_NOTIMPL; }

  // Strings and binaries are handed out in memory of this account, freed with FreeMemory.
  STDMETHOD(GetProp)(DWORD dwProp, ACCT_VARIANT* pVar) override {
    if (!pVar) return E_INVALIDARG;
    const SAccountRecord& record = m_spStore->records.at(m_iAccount);
    if (dwProp == PROP_MAPI_IDENTITY_ENTRYID) {
      pVar->dwType = PT_BINARY;
      pVar->Val.bin.cb = static_cast<ULONG>(record.identityId.size());
      pVar->Val.bin.pb = new BYTE[record.identityId.size()];
      CopyMemory(pVar->Val.bin.pb, record.identityId.data(), record.identityId.size());
      return S_OK;
    }
    const std::wstring* pws = dwProp == PROP_ACCT_NAME                ? &record.account.wsName
                              : dwProp == PROP_ACCT_USER_DISPLAY_NAME ? &record.account.wsUserName
                              : dwProp == PROP_ACCT_USER_EMAIL_ADDR   ? &record.account.wsSmtpAddress
                              : dwProp == PROP_ACCT_STAMP             ? &record.wsStamp
                              : dwProp == PROP_ACCT_SEND_STAMP        ? &record.wsSendStamp
                                                                      : nullptr;
    if (!pws || pws->empty()) return E_ACCT_NOT_FOUND;
    pVar->dwType = PT_UNICODE;
    pVar->Val.pwsz = new WCHAR[pws->size() + 1];
    CopyMemory(pVar->Val.pwsz, pws->c_str(), (pws->size() + 1) * sizeof(WCHAR));
    return S_OK;
  }

 private:
  std::shared_ptr<SAccountStore> m_spStore;
  size_t m_iAccount;
};

class CAccountEnum final : public CUnknownImpl<IOlkEnum> {
 public:
  explicit CAccountEnum(std::shared_ptr<SAccountStore> spStore)
      : CUnknownImpl({IID_IOlkEnum}), m_spStore(std::move(spStore)) {}
  STDMETHOD(GetCount)(DWORD* pulCount) override {
    if (!pulCount) return E_INVALIDARG;
    *pulCount = static_cast<DWORD>(m_spStore->records.size());
    return S_OK;
  }
  STDMETHOD(Reset)() override {
    m_iNext = 0;
    return S_OK;
  }
  STDMETHOD(GetNext)(IUnknown** ppunk) override {
    if (!ppunk) return E_INVALIDARG;
    *ppunk = nullptr;
    if (m_iNext >= m_spStore->records.size()) return S_FALSE;
    *ppunk = static_cast<IOlkAccount*>(new CAccount(m_spStore, m_iNext++));
    return S_OK;
  }
  STDMETHOD(Skip)(DWORD cSkip) override {
    m_iNext += cSkip;
    return S_OK;
  }

 private:
  std::shared_ptr<SAccountStore> m_spStore;
  size_t m_iNext = 0;
};

class CAccountManager final : public COlkObject<IOlkAccountManager> {
 public:
  explicit CAccountManager(std::shared_ptr<SAccountStore> spStore)
      : COlkObject(IID_IOlkAccountManager), m_spStore(std::move(spStore)) {
    ++m_spStore->log.lLive;
  }
  ~CAccountManager() override { --m_spStore->log.lLive; }

  // The helper is asked for the profile name as Outlook asks: first with too small a buffer.
  STDMETHOD(Init)(IOlkAccountHelper* pHelper, DWORD) override {
    if (!pHelper) return E_INVALIDARG;
    if (m_bInitialized) return E_OLK_ALREADY_INITIALIZED;
    WCHAR wszSmall[1] = {};
    DWORD cch = 1;
    HRESULT hr = pHelper->GetIdentity(wszSmall, &cch);
    if (hr != E_OUTOFMEMORY) return FAILED(hr) ? hr : E_UNEXPECTED;
    std::wstring wsIdentity(cch, L'\0');
    hr = pHelper->GetIdentity(wsIdentity.data(), &cch);
    if (FAILED(hr)) return hr;
    wsIdentity.resize(cch);
    IUnknown* pSession = nullptr;
    const bool bSession = SUCCEEDED(pHelper->GetMapiSession(&pSession)) && pSession;
    if (pSession) pSession->Release();
    m_spStore->log.wsIdentity = wsIdentity;
    m_spStore->log.bSession = bSession;
    m_bInitialized = true;
    return S_OK;
  }
  STDMETHOD(DisplayAccountList)(HWND, DWORD, LPCWSTR, DWORD, const CLSID*, const CLSID*) override { return E_NOTIMPL; }
  VM_SIM_UNDOCUMENTED(PlaceHolder11)
  VM_SIM_UNDOCUMENTED(PlaceHolder12)
  VM_SIM_UNDOCUMENTED(PlaceHolder13)
  VM_SIM_UNDOCUMENTED(PlaceHolder14)
  STDMETHOD(FindAccount)(DWORD, ACCT_VARIANT*, IOlkAccount**) override { return E_NOTIMPL; }
  STDMETHOD(DeleteAccount)(DWORD) override { return E_NOTIMPL; }
  STDMETHOD(SaveChanges)(DWORD, DWORD) override { return E_NOTIMPL; }
  STDMETHOD(GetOrder)(const CLSID*, DWORD*, DWORD**) override { return E_NOTIMPL; }
  STDMETHOD(SetOrder)(const CLSID*, DWORD*, DWORD**) override { return E_NOTIMPL; }
  STDMETHOD(Advise)(IUnknown*, DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(Unadvise)(DWORD*) override { return E_NOTIMPL; }
  // Every account of the profile is a mail account.
  STDMETHOD(EnumerateAccounts)(const CLSID* pclsidCategory, const CLSID*, DWORD, IOlkEnum** ppEnum) override {
    if (!ppEnum) return E_INVALIDARG;
    *ppEnum = nullptr;
    if (!m_bInitialized) return E_OLK_NOT_INITIALIZED;
    if (pclsidCategory && !IsEqualCLSID(*pclsidCategory, CLSID_OlkMail)) return E_ACCT_NOT_FOUND;
    *ppEnum = new CAccountEnum(m_spStore);
    return S_OK;
  }

 private:
  std::shared_ptr<SAccountStore> m_spStore;
  bool m_bInitialized = false;
};

#undef VM_SIM_UNDOCUMENTED

class CAccountManagerFactory final : public CUnknownImpl<IClassFactory> {
 public:
  explicit CAccountManagerFactory(std::shared_ptr<SAccountStore> spStore)
      : CUnknownImpl({IID_IClassFactory}), m_spStore(std::move(spStore)) {}
  STDMETHOD(CreateInstance)(IUnknown* pOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pOuter) return CLASS_E_NOAGGREGATION;
    CComPtr<CAccountManager> cpManager;
    cpManager.Attach(new CAccountManager(m_spStore));
    return cpManager->QueryInterface(riid, ppv);
  }
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }

 private:
  std::shared_ptr<SAccountStore> m_spStore;
};

}  // namespace

HRESULT RegisterAccountManager(std::shared_ptr<SAccountStore> spStore, DWORD* pdwCookie) {
  CComPtr<CAccountManagerFactory> cpFactory;
  cpFactory.Attach(new CAccountManagerFactory(std::move(spStore)));
  return CoRegisterClassObject(CLSID_OlkAccountManager, static_cast<IClassFactory*>(cpFactory), CLSCTX_INPROC_SERVER,
                               REGCLS_MULTIPLEUSE, pdwCookie);
}

}  // namespace Sim
