#include "documents/EncryptionProvider.h"

#include <algorithm>

#include "com/Bstr.h"
#include "documents/DocumentSecurityFlags.h"
#include "documents/ProviderCalls.h"
#include "documents/RecipientChoice.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "tracking/UsageTracking.h"

namespace {

constexpr unsigned int kAllPermissions = 0x7F;  // msoPermissionAllCommon

void ReleaseAll(std::vector<PCCERT_CONTEXT>& certs) {
  for (PCCERT_CONTEXT pCert : certs) CertFreeCertificateContext(pCert);
  certs.clear();
}

// The user's choice of recipients; IDOK fills the record.
INT_PTR ChooseRecipients(HWND hParent, const std::vector<PCCERT_CONTEXT>* pPreselected,
                         CEncryptionSessionData* pRecord) {
  std::vector<PCCERT_CONTEXT> chosen;
  const INT_PTR iResult = RecipientChooser().Choose(hParent, pPreselected, &chosen);
  if (iResult == IDOK) pRecord->SetRecipients(chosen);
  ReleaseAll(chosen);
  return iResult;
}

}  // namespace

class CEncryptionProvider::CSessionLock {
 public:
  explicit CSessionLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
  ~CSessionLock() { LeaveCriticalSection(&m_cs); }
  CSessionLock(const CSessionLock&) = delete;
  CSessionLock& operator=(const CSessionLock&) = delete;

 private:
  CRITICAL_SECTION& m_cs;
};

CEncryptionProvider::CEncryptionProvider(IUnknown* pOuter) : COfficeAddIn(pOuter) {
  InitializeCriticalSection(&m_csSessions);
}

CEncryptionProvider::~CEncryptionProvider() {
  for (CEncryptionSessionData& record : m_aRecords) record.Reset();
  DeleteCriticalSection(&m_csSessions);
}

VM_OFFICE_PROVIDER_IMPL(CEncryptionProvider, Office::EncryptionProvider, Office::IID_EncryptionProvider)

int CEncryptionProvider::AddSession(const CEncryptionSessionData& record) {
  const CSessionLock lock(m_csSessions);
  int iHandle = 0;
  while (std::find(m_aHandles.begin(), m_aHandles.end(), iHandle) != m_aHandles.end()) ++iHandle;
  // Both tables make room first: the record's copy may throw and leaves them as they were, and
  // the handle then goes in without allocating, so the two never fall out of step.
  m_aRecords.reserve(m_aRecords.size() + 1);
  m_aHandles.reserve(m_aHandles.size() + 1);
  m_aRecords.push_back(record);
  m_aHandles.push_back(iHandle);
  return iHandle;
}

HRESULT CEncryptionProvider::CopySession(int iHandle, CEncryptionSessionData* pRecord) {
  const CSessionLock lock(m_csSessions);
  const auto it = std::find(m_aHandles.begin(), m_aHandles.end(), iHandle);
  if (it == m_aHandles.end()) return E_INVALIDARG;
  *pRecord = m_aRecords[it - m_aHandles.begin()];
  return S_OK;
}

HRESULT CEncryptionProvider::ReplaceSession(int iHandle, const CEncryptionSessionData& record) {
  const CSessionLock lock(m_csSessions);
  const auto it = std::find(m_aHandles.begin(), m_aHandles.end(), iHandle);
  if (it == m_aHandles.end()) return E_INVALIDARG;
  m_aRecords[it - m_aHandles.begin()] = record;
  return S_OK;
}

HRESULT CEncryptionProvider::GetProviderDetail(Office::EncryptionProviderDetail encprovdet, VARIANT* value) {
  CTraceScope scope("CEncryptionProvider::GetProviderDetail");
  return Guarded(scope, [&]() -> HRESULT {
    if (!value) return E_POINTER;
    VariantClear(value);
    switch (encprovdet) {
      case Office::encprovdetUrl:
        return SoftwareUrl(scope, value);
      case Office::encprovdetAlgorithm:
        V_VT(value) = VT_BSTR;
        V_BSTR(value) = SysAllocString(L"3DES");
        return S_OK;
      case Office::encprovdetBlockCipher:
        V_VT(value) = VT_BOOL;
        V_BOOL(value) = VARIANT_TRUE;
        return S_OK;
      case Office::encprovdetCipherBlockSize:
        V_VT(value) = VT_I4;
        V_I4(value) = 64;
        return S_OK;
      case Office::encprovdetCipherMode:
        V_VT(value) = VT_I4;
        V_I4(value) = Office::cipherModeCBC;
        return S_OK;
    }
    return E_NOTIMPL;
  });
}

HRESULT CEncryptionProvider::NewSession(IUnknown* ParentWindow, int* SessionHandle) {
  CTraceScope scope("CEncryptionProvider::NewSession");
  return Guarded(scope, [&]() -> HRESULT {
    if (!SessionHandle) return E_POINTER;
    const HWND hParent = ParentWindowOf(ParentWindow);
    if (g_bRemoveEncryptionRequested) {
      g_bRemoveEncryptionRequested = false;
      VmMessageBox(hParent, IDS_MSG_NOT_ENCRYPTED, IDS_CAPTION, MB_ICONWARNING);
      return E_ABORT;
    }
    CEncryptionSessionData record;
    if (ChooseRecipients(hParent, nullptr, &record) != IDOK) return E_ABORT;
    const HRESULT hr = record.GenerateSessionKey();
    if (FAILED(hr)) return hr;
    *SessionHandle = AddSession(record);
    CountFeatureUse(kDocumentEncryptedCounter);
    return S_OK;
  });
}

HRESULT CEncryptionProvider::Authenticate(IUnknown* ParentWindow, IUnknown* EncryptionData,
                                          unsigned int* PermissionsMask, int* SessionHandle) {
  CTraceScope scope("CEncryptionProvider::Authenticate");
  return Guarded(scope, [&]() -> HRESULT {
    if (!PermissionsMask || !SessionHandle) return E_POINTER;
    CComPtr<IStream> cpStream;
    HRESULT hr = QueryStream(scope, EncryptionData, &cpStream);
    if (FAILED(hr)) return hr;
    const HWND hParent = ParentWindowOf(ParentWindow);
    CEncryptionSessionData record;
    hr = record.ReadSessionData(hParent, cpStream);
    if (SUCCEEDED(hr)) {
      *PermissionsMask = kAllPermissions;
      *SessionHandle = AddSession(record);
      return S_OK;
    }
    switch (hr) {
      case E_ABORT:
      case HRESULT_FROM_WIN32(ERROR_CANCELLED):
        break;
      case NTE_NO_KEY:
      case NTE_BAD_KEYSET:
        VmMessageBox(hParent, IDS_MSG_KEY_NOT_USABLE, IDS_CAPTION, MB_ICONERROR);
        break;
      case NTE_KEYSET_ENTRY_BAD:
        VmMessageBox(hParent, IDS_MSG_KEY_DAMAGED, IDS_CAPTION, MB_ICONERROR);
        break;
      default:
        VmMessageBox(hParent, IDS_MSG_DECRYPT_FAILED, IDS_CAPTION, MB_ICONWARNING);
    }
    return hr;
  });
}

HRESULT CEncryptionProvider::CloneSession(int SessionHandle, int* NewSessionHandle) {
  CTraceScope scope("CEncryptionProvider::CloneSession");
  return Guarded(scope, [&]() -> HRESULT {
    if (!NewSessionHandle) return E_POINTER;
    CEncryptionSessionData record;
    const HRESULT hr = CopySession(SessionHandle, &record);
    if (SUCCEEDED(hr)) *NewSessionHandle = AddSession(record);
    return hr;
  });
}

HRESULT CEncryptionProvider::EndSession(int SessionHandle) {
  CTraceScope scope("CEncryptionProvider::EndSession");
  return Guarded(scope, [&]() -> HRESULT {
    const CSessionLock lock(m_csSessions);
    const auto it = std::find(m_aHandles.begin(), m_aHandles.end(), SessionHandle);
    if (it == m_aHandles.end()) return E_INVALIDARG;
    const auto index = it - m_aHandles.begin();
    m_aHandles.erase(it);
    m_aRecords.erase(m_aRecords.begin() + index);
    return S_OK;
  });
}

HRESULT CEncryptionProvider::Save(int SessionHandle, IUnknown* EncryptionData, int* BytesWritten) {
  CTraceScope scope("CEncryptionProvider::Save");
  return Guarded(scope, [&]() -> HRESULT {
    if (!BytesWritten) return E_POINTER;
    CComPtr<IStream> cpStream;
    HRESULT hr = QueryStream(scope, EncryptionData, &cpStream);
    CEncryptionSessionData record;
    if (SUCCEEDED(hr)) hr = CopySession(SessionHandle, &record);
    if (FAILED(hr)) return hr;
    ULONG cbWritten = 0;
    hr = record.WriteSessionData(cpStream, &cbWritten);
    *BytesWritten = static_cast<int>(cbWritten);
    return hr;
  });
}

HRESULT CEncryptionProvider::TransformStream(CTraceScope& scope, int iHandle, IUnknown* pInput, IUnknown* pOutput,
                                             CCipherDirection direction) {
  CComPtr<IStream> cpInput;
  CComPtr<IStream> cpOutput;
  HRESULT hr = QueryStream(scope, pInput, &cpInput);
  if (SUCCEEDED(hr)) hr = QueryStream(scope, pOutput, &cpOutput);
  CEncryptionSessionData record;
  if (SUCCEEDED(hr)) hr = CopySession(iHandle, &record);
  if (FAILED(hr)) return hr;
  if (direction == CCipherDirection::Decrypt) scope.Message("Found session data.");
  CContentKey contentKey;
  hr = record.DeriveContentKey(&contentKey);
  return SUCCEEDED(hr) ? TransformContent(contentKey.Key(), direction, cpInput, cpOutput) : hr;
}

HRESULT CEncryptionProvider::EncryptStream(int SessionHandle, BSTR, IUnknown* UnencryptedStream,
                                           IUnknown* EncryptedStream) {
  CTraceScope scope("CEncryptionProvider::EncryptStream");
  return Guarded(scope, [&]() {
    return TransformStream(scope, SessionHandle, UnencryptedStream, EncryptedStream, CCipherDirection::Encrypt);
  });
}

HRESULT CEncryptionProvider::DecryptStream(int SessionHandle, BSTR, IUnknown* EncryptedStream,
                                           IUnknown* UnencryptedStream) {
  CTraceScope scope("CEncryptionProvider::DecryptStream");
  return Guarded(scope, [&]() {
    return TransformStream(scope, SessionHandle, EncryptedStream, UnencryptedStream, CCipherDirection::Decrypt);
  });
}

HRESULT CEncryptionProvider::ShowSettings(int SessionHandle, IUnknown* ParentWindow, VARIANT_BOOL ReadOnly,
                                          VARIANT_BOOL* Remove) {
  CTraceScope scope("CEncryptionProvider::ShowSettings");
  return Guarded(scope, [&]() -> HRESULT {
    const HWND hParent = ParentWindowOf(ParentWindow);
    if (g_bRemoveEncryptionRequested) {
      g_bRemoveEncryptionRequested = false;
      if (ReadOnly) {
        VmMessageBox(hParent, IDS_MSG_READ_ONLY, IDS_CAPTION, MB_ICONWARNING);
        return E_ABORT;
      }
      if (VmMessageBox(hParent, IDS_MSG_REMOVE_ENCRYPTION, IDS_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return E_ABORT;
      if (!Remove) return E_POINTER;
      *Remove = VARIANT_TRUE;
      return S_OK;
    }
    CEncryptionSessionData record;
    const HRESULT hr = CopySession(SessionHandle, &record);
    if (FAILED(hr)) return hr;
    if (ReadOnly) {
      RecipientChooser().ShowDetails(hParent, record.Recipients());
      return E_ABORT;
    }
    if (ChooseRecipients(hParent, &record.Recipients(), &record) != IDOK) return E_ABORT;
    return ReplaceSession(SessionHandle, record);
  });
}
