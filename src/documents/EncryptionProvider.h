#pragma once
// The custom encryption provider of Word, Excel and PowerPoint: sessions of recipients and key
// material, their provider data, and the cipher of the document's streams.
#include <windows.h>

#include <vector>

#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "com/OfficeAddIn.h"
#include "documents/ContentCipher.h"
#include "documents/EncryptionSessionData.h"
#include "hosts/EncryptionProvider.h"
#include "module/Trace.h"

class CEncryptionProvider final : public COfficeAddIn, public Office::EncryptionProvider {
 public:
  explicit CEncryptionProvider(IUnknown* pOuter);
  ~CEncryptionProvider() override;
  VM_DELEGATING_IUNKNOWN
  HRESULT FinalConstruct() override;

  // IDispatch, described by the Office type library's EncryptionProvider.
  VM_DISPATCH_METHODS

  // EncryptionProvider
  STDMETHOD(GetProviderDetail)(Office::EncryptionProviderDetail encprovdet, VARIANT* value) override;
  STDMETHOD(NewSession)(IUnknown* ParentWindow, int* SessionHandle) override;
  STDMETHOD(Authenticate)
  (IUnknown* ParentWindow, IUnknown* EncryptionData, unsigned int* PermissionsMask, int* SessionHandle) override;
  STDMETHOD(CloneSession)(int SessionHandle, int* NewSessionHandle) override;
  STDMETHOD(EndSession)(int SessionHandle) override;
  STDMETHOD(Save)(int SessionHandle, IUnknown* EncryptionData, int* BytesWritten) override;
  STDMETHOD(EncryptStream)
  (int SessionHandle, BSTR StreamName, IUnknown* UnencryptedStream, IUnknown* EncryptedStream) override;
  STDMETHOD(DecryptStream)
  (int SessionHandle, BSTR StreamName, IUnknown* EncryptedStream, IUnknown* UnencryptedStream) override;
  STDMETHOD(ShowSettings)
  (int SessionHandle, IUnknown* ParentWindow, VARIANT_BOOL ReadOnly, VARIANT_BOOL* Remove) override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  class CSessionLock;
  // The session table; each takes the lock for itself.
  int AddSession(const CEncryptionSessionData& record);
  HRESULT CopySession(int iHandle, CEncryptionSessionData* pRecord);
  HRESULT ReplaceSession(int iHandle, const CEncryptionSessionData& record);
  HRESULT TransformStream(CTraceScope& scope, int iHandle, IUnknown* pInput, IUnknown* pOutput,
                          CCipherDirection direction);

  CRITICAL_SECTION m_csSessions;
  std::vector<int> m_aHandles;
  std::vector<CEncryptionSessionData> m_aRecords;
  CComPtr<IUnknown> m_cpMarshaler;
};
