#include "mail/MimeMessage.h"

#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "module/CertLibrary.h"
#include "module/Trace.h"

namespace {

const CLSID kClsidMimeMessageOffice = {0x9EADBD1A, 0x447B, 0x4240, {0xA9, 0xDD, 0x73, 0xFE, 0x7C, 0x53, 0xA9, 0x81}};
const CLSID kClsidMimeMessage = {0xFD853CE3, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
constexpr DWORD kClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr ULONG kReadChunk = 256;
constexpr int kShCreateMemStreamOrdinal = 12;

// What the module's memory streams share: reference counting, and no locking or cloning.
class CStreamBase : public IStream {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG cRef = --m_cRef;
    if (cRef == 0) delete this;
    return cRef;
  }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return S_OK; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 protected:
  virtual ~CStreamBase() = default;

 private:
  std::atomic<ULONG> m_cRef{1};
};

// A stream that refuses writing and keeps shlwapi.dll loaded until its last reference goes.
class CLibraryStream final : public CStreamBase {
 public:
  CLibraryStream(IStream* pInner, HMODULE hLibrary) : m_pInner(pInner), m_hLibrary(hLibrary) {}

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override { return m_pInner->Read(pv, cb, pcbRead); }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD dwOrigin, ULARGE_INTEGER* pPosition) override {
    return m_pInner->Seek(move, dwOrigin, pPosition);
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  STDMETHODIMP CopyTo(IStream* pTarget, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                      ULARGE_INTEGER* pcbWritten) override {
    return m_pInner->CopyTo(pTarget, cb, pcbRead, pcbWritten);
  }
  STDMETHODIMP Stat(STATSTG* pStat, DWORD dwFlags) override {
    const HRESULT hr = m_pInner->Stat(pStat, dwFlags);
    if (SUCCEEDED(hr)) pStat->grfMode = STGM_READ;
    return hr;
  }

 private:
  ~CLibraryStream() override {
    m_pInner->Release();
    FreeLibrary(m_hLibrary);
  }
  IStream* m_pInner;
  HMODULE m_hLibrary;
};

// A memory stream that grows by doubling. The platform's memory streams grow by exactly what each
// write needs, so a large message written in many pieces is copied over and over (10 MB in
// Outlook's pieces: 2 s of processor time under Wine).
class CGrowingStream final : public CStreamBase {
 public:
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (!pv) return STG_E_INVALIDPOINTER;
    const ULONG cbRead = m_pos < m_data.size() ? static_cast<ULONG>(std::min<size_t>(cb, m_data.size() - m_pos)) : 0;
    if (cbRead) CopyMemory(pv, m_data.data() + m_pos, cbRead);
    m_pos += cbRead;
    if (pcbRead) *pcbRead = cbRead;
    return S_OK;
  }
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (!pv) return STG_E_INVALIDPOINTER;
    if (m_pos + cb > m_data.size()) {
      const HRESULT hr = Resize(m_pos + cb);
      if (FAILED(hr)) return hr;
    }
    if (cb) CopyMemory(m_data.data() + m_pos, pv, cb);
    m_pos += cb;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD dwOrigin, ULARGE_INTEGER* pPosition) override {
    const LONGLONG llBase = dwOrigin == STREAM_SEEK_SET   ? 0
                            : dwOrigin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(m_pos)
                            : dwOrigin == STREAM_SEEK_END ? static_cast<LONGLONG>(m_data.size())
                                                          : -1;
    if (llBase < 0) return STG_E_INVALIDFUNCTION;
    if (move.QuadPart < -llBase || move.QuadPart > static_cast<LONGLONG>(ULONG_MAX) - llBase)
      return STG_E_INVALIDFUNCTION;
    m_pos = static_cast<size_t>(llBase + move.QuadPart);
    if (pPosition) pPosition->QuadPart = m_pos;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER cb) override { return Resize(cb.QuadPart); }
  STDMETHODIMP CopyTo(IStream* pTarget, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                      ULARGE_INTEGER* pcbWritten) override {
    if (!pTarget) return STG_E_INVALIDPOINTER;
    const ULONG cbCopy =
        m_pos < m_data.size() ? static_cast<ULONG>(std::min<ULONGLONG>(cb.QuadPart, m_data.size() - m_pos)) : 0;
    ULONG cbWritten = 0;
    const HRESULT hr = cbCopy ? pTarget->Write(m_data.data() + m_pos, cbCopy, &cbWritten) : S_OK;
    m_pos += cbCopy;
    if (pcbRead) pcbRead->QuadPart = cbCopy;
    if (pcbWritten) pcbWritten->QuadPart = cbWritten;
    return hr;
  }
  STDMETHODIMP Stat(STATSTG* pStat, DWORD) override {
    if (!pStat) return STG_E_INVALIDPOINTER;
    ZeroMemory(pStat, sizeof *pStat);
    pStat->type = STGTY_STREAM;
    pStat->cbSize.QuadPart = m_data.size();
    pStat->grfMode = STGM_READWRITE;
    return S_OK;
  }

 private:
  // Up to what a 32-bit count holds, as the stream helpers read.
  HRESULT Resize(ULONGLONG cb) {
    if (cb > ULONG_MAX) return STG_E_MEDIUMFULL;
    try {
      m_data.resize(static_cast<size_t>(cb));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  std::vector<BYTE> m_data;
  size_t m_pos = 0;
};

// Whether an empty line, which ends the header section, begins at or after posFrom.
bool HasEmptyLine(const std::string& s, size_t posFrom) {
  if (posFrom == 0 && (s.rfind("\r\n", 0) == 0 || s.rfind("\n", 0) == 0)) return true;
  return s.find("\n\r\n", posFrom) != std::string::npos || s.find("\n\n", posFrom) != std::string::npos;
}

// Wine's MIME message reads past its data when the header section never ends in an empty line
// (a message cut short in its header; docs/platform-notes.md). Such a message is loaded from a
// copy that ends the header as the end of the data does; *ppComplete stays null for any other,
// whose stream is left where it was.
HRESULT CompleteHeader(IStream* pStream, IStream** ppComplete) {
  *ppComplete = nullptr;
  const LARGE_INTEGER zero = {};
  ULARGE_INTEGER start = {};
  HRESULT hr = pStream->Seek(zero, STREAM_SEEK_CUR, &start);
  if (FAILED(hr)) return hr;
  std::string sRead;
  char buffer[4096];
  bool bEnds = false;
  for (ULONG cbRead = sizeof buffer; !bEnds && cbRead == sizeof buffer;) {
    cbRead = 0;
    hr = pStream->Read(buffer, sizeof buffer, &cbRead);
    if (FAILED(hr)) return hr;
    const size_t posFrom = sRead.size() < 2 ? 0 : sRead.size() - 2;
    sRead.append(buffer, cbRead);
    bEnds = HasEmptyLine(sRead, posFrom);
  }
  if (bEnds) {
    LARGE_INTEGER back = {};
    back.QuadPart = static_cast<LONGLONG>(start.QuadPart);
    return pStream->Seek(back, STREAM_SEEK_SET, nullptr);
  }
  sRead += "\r\n\r\n";
  return CreateMemoryStream(reinterpret_cast<const BYTE*>(sRead.data()), static_cast<UINT>(sRead.size()), ppComplete);
}

// The data of a body, decoded from its transfer encoding, whole.
HRESULT ReadBody(IMimeMessage* pMessage, HBODY hBody, CTaskMemory* pData) {
  CComPtr<IMimeBody> cpBody;
  CComPtr<IStream> cpData;
  HRESULT hr = pMessage->BindToObject(hBody, IID_IMimeBody, reinterpret_cast<void**>(&cpBody));
  if (SUCCEEDED(hr)) hr = cpBody->GetData(IET_BINARY, &cpData);
  return SUCCEEDED(hr) ? ReadWholeStream(cpData, &pData->pb, &pData->cb) : hr;
}

// A parameter of a body's Content-Type, or empty. (Parameters are read as a list: not every MIME
// OLE answers the "par:" property names.)
std::string ContentTypeParameter(IMimeMessage* pMessage, HBODY hBody, const char* szName) {
  CComPtr<IMimeBody> cpBody;
  CComPtr<IMimeAllocator> cpAllocator;
  ULONG cParameters = 0;
  MIMEPARAMINFO* pParameters = nullptr;
  if (FAILED(pMessage->BindToObject(hBody, IID_IMimeBody, reinterpret_cast<void**>(&cpBody))) ||
      FAILED(MimeOleGetAllocator(&cpAllocator)) ||
      FAILED(cpBody->GetParameters("Content-Type", &cParameters, &pParameters)) || !pParameters)
    return std::string();
  std::string sValue;
  for (ULONG i = 0; i < cParameters; ++i) {
    if (pParameters[i].pszName && pParameters[i].pszData && !lstrcmpiA(pParameters[i].pszName, szName)) {
      sValue = pParameters[i].pszData;
      break;
    }
  }
  cpAllocator->FreeParamInfoArray(cParameters, pParameters, TRUE);
  return sValue;
}

bool IsPkcs7Mime(IMimeMessage* pMessage, HBODY hBody) {
  return pMessage->IsContentType(hBody, "application", "x-pkcs7-mime") == S_OK ||
         pMessage->IsContentType(hBody, "application", "pkcs7-mime") == S_OK;
}

// The first body of that type, or of the other spelling of a PKCS #7 subtype.
HRESULT FindBody(IMimeMessage* pMessage, const std::string& sType, CTraceScope& trace, HBODY* phBody) {
  const size_t posSlash = sType.find('/');
  if (posSlash == std::string::npos) return static_cast<HRESULT>(MIME_E_NOT_FOUND);
  std::string sPrimary = sType.substr(0, posSlash), sSubtype = sType.substr(posSlash + 1);
  FINDBODY find = {sPrimary.data(), sSubtype.data(), 0};
  HRESULT hr = pMessage->FindFirst(&find, phBody);
  if (hr == static_cast<HRESULT>(MIME_E_NOT_FOUND)) {
    for (const char* szPair : {"x-pkcs7-signature", "pkcs7-signature"}) {
      if (!lstrcmpiA(sSubtype.c_str(), szPair)) continue;
      std::string sOther = szPair;
      find = {sPrimary.data(), sOther.data(), 0};
      hr = pMessage->FindFirst(&find, phBody);
      break;
    }
  }
  if (FAILED(hr)) trace.Error("mimeMessage->FindFirst()", hr);
  return hr;
}

// The signed part of a multipart/signed message as it stands in the message: from its first
// header to the end of its body (the line break before the boundary is the boundary's). Only that
// part is read, at its size, so that a large message is not copied whole and grown piece by piece.
HRESULT ReadSignedPart(IMimeMessage* pMessage, HBODY hRoot, CByteVector* pContent) {
  HBODY hFirst = nullptr;
  CComPtr<IMimeBody> cpBody;
  CComPtr<IStream> cpSource;
  BODYOFFSETS offsets = {};
  HRESULT hr = pMessage->GetBody(IBL_FIRST, hRoot, &hFirst);
  if (SUCCEEDED(hr)) hr = pMessage->BindToObject(hFirst, IID_IMimeBody, reinterpret_cast<void**>(&cpBody));
  if (SUCCEEDED(hr)) hr = cpBody->GetOffsets(&offsets);
  if (SUCCEEDED(hr)) hr = pMessage->GetMessageSource(&cpSource, 0);
  if (SUCCEEDED(hr) && offsets.cbHeaderStart > offsets.cbBodyEnd) hr = CRYPT_E_BAD_ENCODE;
  LARGE_INTEGER start = {};
  start.QuadPart = offsets.cbHeaderStart;
  if (SUCCEEDED(hr)) hr = cpSource->Seek(start, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  try {
    pContent->resize(offsets.cbBodyEnd - offsets.cbHeaderStart);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (size_t cbDone = 0; cbDone < pContent->size();) {
    ULONG cbRead = 0;
    hr = cpSource->Read(pContent->data() + cbDone, static_cast<ULONG>(pContent->size() - cbDone), &cbRead);
    if (FAILED(hr)) return hr;
    // The source ends before the body does.
    if (!cbRead) return CRYPT_E_BAD_ENCODE;
    cbDone += cbRead;
  }
  return S_OK;
}

}  // namespace

HRESULT CMimeMessage::Initialize(IMimeMessage** ppMessage, IStream* pStream) {
  CTraceScope trace("CMimeMessage::Initialize");
  if (!ppMessage || !pStream) return E_POINTER;
  *ppMessage = nullptr;
  CComPtr<IMimeMessage> cpMessage;
  HRESULT hr = CoCreateInstance(kClsidMimeMessageOffice, nullptr, kClassContext, IID_IMimeMessage,
                                reinterpret_cast<void**>(&cpMessage));
  if (FAILED(hr)) {
    trace.Error("CoCreateInstance(CLSID_IMimeMessage_Office)", hr);
    hr = CoCreateInstance(kClsidMimeMessage, nullptr, kClassContext, IID_IMimeMessage,
                          reinterpret_cast<void**>(&cpMessage));
    if (FAILED(hr)) {
      trace.Error("CoCreateInstance(CLSID_IMimeMessage)", hr);
      return hr;
    }
  }
  CComPtr<IStream> cpComplete;
  hr = CompleteHeader(pStream, &cpComplete);
  if (SUCCEEDED(hr)) hr = cpMessage->Load(cpComplete ? cpComplete.Get() : pStream);
  if (FAILED(hr)) {
    trace.Error("Load()", hr);
    return hr;
  }
  *ppMessage = cpMessage.Detach();
  return S_OK;
}

HRESULT CMimeMessage::GetFlags(IMimeMessage* pMessage, DWORD* pdwFlags) {
  if (!pMessage || !pdwFlags) return E_POINTER;
  *pdwFlags = 0;
  HBODY hRoot = nullptr;
  HRESULT hr = pMessage->GetBody(IBL_ROOT, nullptr, &hRoot);
  if (FAILED(hr)) return hr;
  if (pMessage->IsContentType(hRoot, "multipart", "signed") == S_OK) {
    *pdwFlags = IMF_SIGNED;
  } else if (IsPkcs7Mime(pMessage, hRoot)) {
    // Without an smime-type the PKCS #7 content type tells.
    std::string sType = ContentTypeParameter(pMessage, hRoot, "smime-type");
    if (sType.empty()) {
      CTaskMemory data;
      hr = ReadBody(pMessage, hRoot, &data);
      if (FAILED(hr)) return hr;
      CCryptMsgHandle hMsg(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
      DWORD dwType = 0, cbType = sizeof dwType;
      if (hMsg && CryptMsgUpdate(hMsg, data.pb, data.cb, TRUE) &&
          CryptMsgGetParam(hMsg, CMSG_TYPE_PARAM, 0, &dwType, &cbType))
        sType = dwType == CMSG_ENVELOPED ? "enveloped-data" : dwType == CMSG_SIGNED ? "signed-data" : "";
    }
    *pdwFlags = !lstrcmpiA(sType.c_str(), "enveloped-data") ? IMF_ENCRYPTED
                : !lstrcmpiA(sType.c_str(), "signed-data")  ? IMF_SIGNED
                                                            : 0;
  }
  return S_OK;
}

HRESULT CMimeMessage::Decode(IMimeMessage* pMessage, CVerifiedSignature* pSignature) {
  CTraceScope trace("CMimeMessage::Decode");
  DWORD dwFlags = 0;
  HBODY hRoot = nullptr;
  HRESULT hr = GetFlags(pMessage, &dwFlags);
  if (SUCCEEDED(hr)) hr = pMessage->GetBody(IBL_ROOT, nullptr, &hRoot);
  if (FAILED(hr)) {
    trace.Error("GetBody(IBL_ROOT)", hr);
    return hr;
  }
  if (!(dwFlags & IMF_SIGNED)) return S_FALSE;
  CTaskMemory signature;
  CByteVector content;
  const bool bDetached = !IsPkcs7Mime(pMessage, hRoot);
  if (!bDetached) {
    hr = ReadBody(pMessage, hRoot, &signature);
  } else {
    const std::string sProtocol = ContentTypeParameter(pMessage, hRoot, "protocol");
    trace.Message("protocol = %s", sProtocol.c_str());
    HBODY hSignature = nullptr;
    hr = FindBody(pMessage, sProtocol, trace, &hSignature);
    if (SUCCEEDED(hr)) hr = ReadBody(pMessage, hSignature, &signature);
    if (SUCCEEDED(hr)) hr = ReadSignedPart(pMessage, hRoot, &content);
  }
  if (SUCCEEDED(hr)) {
    // A detached signature is verified over its content even when that is empty.
    static const BYTE kEmpty = 0;
    const BYTE* pbContent = !bDetached ? nullptr : content.empty() ? &kEmpty : content.data();
    hr = pSignature->Verify(signature.pb, signature.cb, pbContent, content.size());
  }
  if (FAILED(hr)) trace.Error("DecodeMessage()", hr);
  return hr;
}

HRESULT DecryptMessage(IMimeMessage** ppMessage) {
  CTraceScope trace("DecryptMessage()");
  if (!ppMessage || !*ppMessage) return E_POINTER;
  DWORD dwFlags = 0;
  HRESULT hr = CMimeMessage::GetFlags(*ppMessage, &dwFlags);
  if (FAILED(hr) || !(dwFlags & IMF_ENCRYPTED)) return hr;
  HBODY hBody = nullptr;
  FINDBODY find = {const_cast<LPSTR>("application"), const_cast<LPSTR>("x-pkcs7-mime"), 0};
  hr = (*ppMessage)->FindFirst(&find, &hBody);
  if (hr == static_cast<HRESULT>(MIME_E_NOT_FOUND)) hr = (*ppMessage)->GetBody(IBL_ROOT, nullptr, &hBody);
  CTaskMemory enveloped;
  if (SUCCEEDED(hr)) hr = ReadBody(*ppMessage, hBody, &enveloped);
  if (FAILED(hr)) {
    trace.Error("FindFirst()", hr);
    return hr;
  }
  CCertLibrary certLib;
  CPersonalStoreScope personalStore(certLib);
  hr = personalStore.Result();
  if (FAILED(hr)) {
    trace.Error("CM_OpenPersonalStore()", hr);
    return hr;
  }
  CByteVector content;
  hr = DecryptEnvelopedData(enveloped.pb, enveloped.cb, personalStore.Store(), &content);
  if (FAILED(hr)) {
    trace.Error("CryptDecryptMessage()", hr);
    return hr;
  }
  CComPtr<IStream> cpStream;
  CComPtr<IMimeMessage> cpDecrypted;
  hr = CreateMemoryStream(content.data(), static_cast<UINT>(content.size()), &cpStream);
  SecureZeroMemory(content.data(), content.size());
  if (SUCCEEDED(hr)) hr = CMimeMessage::Initialize(&cpDecrypted, cpStream);
  if (FAILED(hr)) return hr;
  (*ppMessage)->Release();
  *ppMessage = cpDecrypted.Detach();
  return S_OK;
}

PCCERT_CONTEXT GetSignerCertFromStore(const CVerifiedSignature& signature, HCERTSTORE hStore, DWORD dwSigner) {
  CTraceScope trace("GetSignerCertFromStore()");
  const CByteVector preference = signature.SignedAttribute(dwSigner, "1.3.6.1.4.1.311.16.4");
  if (preference.empty()) return nullptr;
  CCertContextHandle pPreferred(FindPreferredCertificate(preference, hStore));
  CCertContextHandle pSigner(signature.SignerCertificate(dwSigner));
  // The attribute is the signer's word only about certificates of its own subject.
  if (!pPreferred || !pSigner ||
      !CertCompareCertificateName(X509_ASN_ENCODING, &static_cast<PCCERT_CONTEXT>(pPreferred)->pCertInfo->Subject,
                                  &static_cast<PCCERT_CONTEXT>(pSigner)->pCertInfo->Subject))
    return nullptr;
  return pPreferred.Detach();
}

HRESULT LoadVerifiedMessage(IStream* pStream, IMimeMessage** ppMessage, CVerifiedSignature* pSignature) {
  const LARGE_INTEGER start = {};
  HRESULT hr = pStream->Seek(start, STREAM_SEEK_SET, nullptr);
  if (SUCCEEDED(hr)) hr = CMimeMessage::Initialize(ppMessage, pStream);
  if (SUCCEEDED(hr)) hr = DecryptMessage(ppMessage);
  return SUCCEEDED(hr) ? CMimeMessage::Decode(*ppMessage, pSignature) : hr;
}

HRESULT FindExistingBuddy(IStream* pStream, BSTR* pbsDisplayName, PCCERT_CONTEXT* ppCertificate) {
  if (pbsDisplayName) *pbsDisplayName = nullptr;
  if (ppCertificate) *ppCertificate = nullptr;
  if (!pStream) return E_POINTER;
  CComPtr<IMimeMessage> cpMessage;
  CVerifiedSignature signature;
  const HRESULT hr = LoadVerifiedMessage(pStream, &cpMessage, &signature);
  return SUCCEEDED(hr) ? FindExistingBuddy(signature, pbsDisplayName, ppCertificate) : hr;
}

HRESULT FindExistingBuddy(const CVerifiedSignature& signature, BSTR* pbsDisplayName, PCCERT_CONTEXT* ppCertificate) {
  CTraceScope trace("FindExistingBuddy()");
  HRESULT hr = S_OK;
  CCertLibrary certLib;
  CBuddyStoreScope buddyStore(certLib);
  if (FAILED(buddyStore.Result())) {
    trace.Error("BM_OpenBuddyStore()", buddyStore.Result());
    return buddyStore.Result();
  }
  CCertContextHandle pCert(GetSignerCertFromStore(signature, buddyStore.Store(), 0));
  if (!pCert) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  if (pbsDisplayName) hr = GetContactText(certLib, pCert, pbsDisplayName);
  if (SUCCEEDED(hr) && ppCertificate) *ppCertificate = pCert.Detach();
  return hr;
}

HRESULT GetContactText(const CCertLibrary& certLib, PCCERT_CONTEXT pCert, BSTR* pbsText) {
  if (!certLib.GC_IsVmBuddyCertificate(pCert)) return E_ACCESSDENIED;
  CLibraryString wsName(certLib), wsEmail(certLib);
  const bool bName = SUCCEEDED(certLib.GC_GetSubjectName(pCert, wsName.Out())) && wsName.Get() && *wsName.Get();
  const bool bEmail = SUCCEEDED(certLib.GC_GetEmail(pCert, wsEmail.Out())) && wsEmail.Get() && *wsEmail.Get();
  if (!bName && !bEmail) return E_INVALIDARG;
  const std::wstring wsText = bName && bEmail ? std::wstring(wsName.Get()) + L" [" + wsEmail.Get() + L"]"
                              : bName         ? std::wstring(wsName.Get())
                                              : std::wstring(wsEmail.Get());
  *pbsText = SysAllocStringLen(wsText.data(), static_cast<UINT>(wsText.size()));
  return *pbsText ? S_OK : E_OUTOFMEMORY;
}

HRESULT ReadWholeStream(IStream* pStream, BYTE** ppb, ULONG* pcb) {
  if (!pStream || !ppb || !pcb) return E_POINTER;
  *ppb = nullptr;
  *pcb = 0;
  const LARGE_INTEGER start = {};
  HRESULT hr = pStream->Seek(start, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  CTaskMemory data;
  ULONG cbCapacity = 0;
  for (ULONG cbRead = kReadChunk; cbRead == kReadChunk;) {
    if (data.cb > ULONG_MAX - kReadChunk) return E_OUTOFMEMORY;
    // The buffer grows by doubling, so that a large message is not copied for every chunk.
    if (data.cb + kReadChunk > cbCapacity) {
      const ULONG cbNew =
          cbCapacity > ULONG_MAX / 2 ? data.cb + kReadChunk : (cbCapacity ? cbCapacity * 2 : kReadChunk);
      auto* pbNew = static_cast<BYTE*>(CoTaskMemRealloc(data.pb, cbNew));
      if (!pbNew) return E_OUTOFMEMORY;
      data.pb = pbNew;
      cbCapacity = cbNew;
    }
    cbRead = 0;
    hr = pStream->Read(data.pb + data.cb, kReadChunk, &cbRead);
    if (FAILED(hr)) return hr;
    data.cb += cbRead;
  }
  *ppb = std::exchange(data.pb, nullptr);
  *pcb = data.cb;
  return S_OK;
}

HRESULT ReadWholeProperty(IMAPIProp* pProp, ULONG ulPropTag, BYTE** ppb, ULONG* pcb) {
  if (!pProp) return E_POINTER;
  CComPtr<IStream> cpStream;
  HRESULT hr = pProp->OpenProperty(ulPropTag, &IID_IStream, STGM_READ, 0, reinterpret_cast<IUnknown**>(&cpStream));
  return SUCCEEDED(hr) ? ReadWholeStream(cpStream, ppb, pcb) : hr;
}

HRESULT CreateMemoryStream(const BYTE* pb, UINT cb, IStream** ppStream) {
  if (!ppStream) return E_POINTER;
  *ppStream = nullptr;
  HMODULE hShlwapi = LoadLibraryW(L"shlwapi.dll");
  if (!hShlwapi) return HRESULT_FROM_WIN32(GetLastError());
  using PfnCreateMemStream = IStream*(WINAPI*)(const BYTE*, UINT);
  const auto pfnCreate = reinterpret_cast<PfnCreateMemStream>(
      reinterpret_cast<void*>(GetProcAddress(hShlwapi, MAKEINTRESOURCEA(kShCreateMemStreamOrdinal))));
  IStream* pInner = pfnCreate ? pfnCreate(pb, cb) : nullptr;
  if (!pInner) {
    FreeLibrary(hShlwapi);
    return pfnCreate ? E_OUTOFMEMORY : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  *ppStream = new (std::nothrow) CLibraryStream(pInner, hShlwapi);
  if (!*ppStream) {
    pInner->Release();
    FreeLibrary(hShlwapi);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CreateGrowingStream(IStream** ppStream) {
  if (!ppStream) return E_POINTER;
  *ppStream = new (std::nothrow) CGrowingStream();
  return *ppStream ? S_OK : E_OUTOFMEMORY;
}
