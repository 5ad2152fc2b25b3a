// A minimal custom signature provider for the simulator's own tests of Office's signing: it signs
// with the first certificate of the user's store that has a private key, through the MSXML 5
// classes registered on the machine, and draws plain line images (one colour per state).
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wincrypt.h>

#include <string>

#include "AddInServer.h"
#include "SimDispatch.h"
#include "com/Bstr.h"
#include "com/LateBound.h"
#include "hosts/OfficeAddIn.h"
#include "hosts/SignatureProvider.h"
#include "hosts/XmlDigitalSignature.h"

namespace {

// {5B1E0C6A-2F4D-4E7B-9A3C-7D2E1F0B8C41}
constexpr CLSID kClsid = {0x5B1E0C6A, 0x2F4D, 0x4E7B, {0x9A, 0x3C, 0x7D, 0x2E, 0x1F, 0x0B, 0x8C, 0x41}};
constexpr wchar_t kClsidText[] = L"{5B1E0C6A-2F4D-4E7B-9A3C-7D2E1F0B8C41}";
constexpr wchar_t kProgId[] = L"OfficeSim.TestSignatureProvider";

// The signing certificate: the first one of "MY" with a private key.
PCCERT_CONTEXT SigningCertificate() {
  HCERTSTORE hStore = CertOpenSystemStoreW(0, L"MY");
  PCCERT_CONTEXT pCert = nullptr;
  DWORD cb = 0;
  while (hStore && (pCert = CertEnumCertificatesInStore(hStore, pCert)) &&
         !CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb)) {
  }
  PCCERT_CONTEXT pFound = pCert ? CertDuplicateCertificateContext(pCert) : nullptr;
  if (pCert) CertFreeCertificateContext(pCert);
  if (hStore) CertCloseStore(hStore, 0);
  return pFound;
}

// The signature document loaded from Office's stream, and a signature object bound to it.
HRESULT Prepare(IUnknown* pStream, IXMLDOMDocument2** ppDocument, MSXML2::IXMLDigitalSignatureEx** ppSignature) {
  HRESULT hr = CoCreateInstance(MSXML2::CLSID_DOMDocument50, nullptr, CLSCTX_INPROC_SERVER,
                                MSXML2::IID_IXMLDOMDocument3, reinterpret_cast<void**>(ppDocument));
  VARIANT varStream = {};
  varStream.vt = VT_UNKNOWN;
  varStream.punkVal = pStream;
  VARIANT_BOOL bLoaded = VARIANT_FALSE;
  if (SUCCEEDED(hr)) (*ppDocument)->put_preserveWhiteSpace(VARIANT_TRUE), (*ppDocument)->put_async(VARIANT_FALSE);
  if (SUCCEEDED(hr)) hr = (*ppDocument)->load(varStream, &bLoaded);
  if (SUCCEEDED(hr) && !bLoaded) hr = E_INVALIDARG;
  VARIANT varNs = {};
  varNs.vt = VT_BSTR;
  varNs.bstrVal = SysAllocString(L"xmlns:ds='http://www.w3.org/2000/09/xmldsig#'");
  if (SUCCEEDED(hr)) hr = (*ppDocument)->setProperty(CComBSTR(L"SelectionNamespaces"), varNs);
  VariantClear(&varNs);
  CComPtr<IXMLDOMNode> cpNode;
  if (SUCCEEDED(hr)) hr = (*ppDocument)->selectSingleNode(CComBSTR(L".//ds:Signature"), &cpNode);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(MSXML2::CLSID_MXDigitalSignature50, nullptr, CLSCTX_INPROC_SERVER,
                          MSXML2::IID_IXMLDigitalSignatureEx, reinterpret_cast<void**>(ppSignature));
  if (SUCCEEDED(hr)) hr = (*ppSignature)->putref_signature(cpNode);
  return hr;
}

HRESULT PutString(IUnknown* pObject, const wchar_t* pwszName, const std::wstring& ws) {
  CComPtr<IDispatch> cpDisp;
  HRESULT hr = pObject ? pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&cpDisp)) : E_POINTER;
  Sim::CVariant var(ws);
  return SUCCEEDED(hr) ? LateBound::PutProperty(cpDisp, pwszName, var) : hr;
}

class CTestSignatureProvider final : public Sim::CDispatchImpl<Office::SignatureProvider> {
 public:
  CTestSignatureProvider() : CDispatchImpl({Office::IID_SignatureProvider}) {
    InterlockedIncrement(&Sim::g_lAddInObjects);
  }
  ~CTestSignatureProvider() override { InterlockedDecrement(&Sim::g_lAddInObjects); }

  // An unsigned line is grey, a valid one green, an invalid one red.
  STDMETHOD(GenerateSignatureLineImage)
  (Office::SignatureLineImage siglnimg, Office::SignatureSetup*, Office::SignatureInfo*, IUnknown*,
   IPictureDisp** ppPicture) override {
    static const COLORREF kColours[] = {RGB(0, 0, 0), RGB(128, 128, 128), RGB(0, 160, 0), RGB(200, 0, 0)};
    if (!ppPicture) return E_POINTER;
    *ppPicture = nullptr;
    if (siglnimg < 0 || siglnimg > Office::siglnimgSignedInvalid) return E_NOTIMPL;
    HDC hdcScreen = GetDC(nullptr);
    HDC hdc = CreateCompatibleDC(hdcScreen);
    HBITMAP hbm = CreateCompatibleBitmap(hdcScreen, 40, 12);
    ReleaseDC(nullptr, hdcScreen);
    HGDIOBJ hOld = SelectObject(hdc, hbm);
    HBRUSH hbr = CreateSolidBrush(kColours[siglnimg]);
    const RECT rc = {0, 0, 40, 12};
    FillRect(hdc, &rc, hbr);
    DeleteObject(hbr);
    SelectObject(hdc, hOld);
    DeleteDC(hdc);
    PICTDESC desc = {sizeof desc, PICTYPE_BITMAP, {}};
    desc.bmp.hbitmap = hbm;
    return OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(ppPicture));
  }
  STDMETHOD(ShowSignatureSetup)(IUnknown*, Office::SignatureSetup* psigsetup) override {
    return PutString(psigsetup, L"SuggestedSigner", L"Test Signer");
  }
  STDMETHOD(ShowSigningCeremony)(IUnknown*, Office::SignatureSetup*, Office::SignatureInfo* psiginfo) override {
    PCCERT_CONTEXT pCert = SigningCertificate();
    if (!pCert) return NTE_NO_KEY;
    BYTE hash[20];
    DWORD cb = sizeof hash;
    CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, hash, &cb);
    std::wstring wsThumbprint;
    for (const BYTE b : hash) {
      wchar_t wsz[3];
      wsprintfW(wsz, L"%02X", b);
      wsThumbprint += wsz;
    }
    wchar_t wszName[256] = {};
    CertGetNameStringW(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, wszName, 256);
    CertFreeCertificateContext(pCert);
    CComPtr<IDispatch> cpInfo;
    HRESULT hr = psiginfo->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&cpInfo));
    Sim::CVariant varThumbprint(wsThumbprint);
    if (SUCCEEDED(hr)) hr = LateBound::Call(cpInfo, L"SelectCertificateDetailByThumbprint", {varThumbprint});
    if (SUCCEEDED(hr)) hr = PutString(psiginfo, L"SignatureText", wszName);
    if (SUCCEEDED(hr)) hr = PutString(psiginfo, L"SignatureComment", L"Signed by the test provider");
    return hr;
  }
  STDMETHOD(SignXmlDsig)(IUnknown*, Office::SignatureSetup*, Office::SignatureInfo*, IUnknown* XmlDsigStream) override {
    CComPtr<IXMLDOMDocument2> cpDocument;
    CComPtr<MSXML2::IXMLDigitalSignatureEx> cpSignature;
    HRESULT hr = Prepare(XmlDsigStream, &cpDocument, &cpSignature);
    PCCERT_CONTEXT pCert = SUCCEEDED(hr) ? SigningCertificate() : nullptr;
    if (SUCCEEDED(hr) && !pCert) hr = NTE_NO_KEY;
    CComPtr<MSXML2::IXMLDSigKeyEx> cpKey;
    CComPtr<MSXML2::IXMLDSigKey> cpSigned;
    if (SUCCEEDED(hr)) hr = cpSignature->createKeyFromCertContext(pCert, &cpKey);
    if (pCert) CertFreeCertificateContext(pCert);
    if (SUCCEEDED(hr)) hr = cpSignature->sign(cpKey, MSXML2::CERTIFICATES, &cpSigned);
    CComPtr<IStream> cpStream;
    if (SUCCEEDED(hr)) hr = XmlDsigStream->QueryInterface(IID_IStream, reinterpret_cast<void**>(&cpStream));
    if (SUCCEEDED(hr)) {
      const ULARGE_INTEGER uliZero = {};
      const LARGE_INTEGER liZero = {};
      cpStream->SetSize(uliZero);
      cpStream->Seek(liZero, STREAM_SEEK_SET, nullptr);
      VARIANT varStream = {};
      varStream.vt = VT_UNKNOWN;
      varStream.punkVal = cpStream;
      hr = cpDocument->save(varStream);
    }
    return hr;
  }
  STDMETHOD(NotifySignatureAdded)(IUnknown*, Office::SignatureSetup*, Office::SignatureInfo*) override { return S_OK; }
  STDMETHOD(VerifyXmlDsig)
  (IUnknown*, Office::SignatureSetup*, Office::SignatureInfo*, IUnknown* XmlDsigStream,
   Office::ContentVerificationResults* pcontverres, Office::CertificateVerificationResults*) override {
    CComPtr<IXMLDOMDocument2> cpDocument;
    CComPtr<MSXML2::IXMLDigitalSignatureEx> cpSignature;
    CComPtr<MSXML2::IXMLDSigKey> cpKey;
    HRESULT hr = Prepare(XmlDsigStream, &cpDocument, &cpSignature);
    if (SUCCEEDED(hr)) hr = cpSignature->verify(nullptr, &cpKey);
    if (SUCCEEDED(hr)) *pcontverres = hr == S_OK ? Office::contverresValid : Office::contverresModified;
    return SUCCEEDED(hr) ? S_OK : hr;
  }
  STDMETHOD(ShowSignatureDetails)
  (IUnknown*, Office::SignatureSetup*, Office::SignatureInfo*, IUnknown*, Office::ContentVerificationResults*,
   Office::CertificateVerificationResults*) override {
    return S_OK;
  }
  STDMETHOD(GetProviderDetail)(Office::SignatureProviderDetail sigprovdet, VARIANT* pvarDesc) override {
    if (!pvarDesc) return E_POINTER;
    VariantInit(pvarDesc);
    if (sigprovdet == Office::sigprovdetUrl) return Sim::SetBstr(pvarDesc, L"https://signer.example.test/");
    if (sigprovdet == Office::sigprovdetHashAlgorithm)
      return Sim::SetBstr(pvarDesc, L"http://www.w3.org/2000/09/xmldsig#sha1");
    if (sigprovdet <= Office::sigprovdetUseOfficeStampUI)
      return Sim::SetBool(pvarDesc, sigprovdet == Office::sigprovdetUIOnly);
    return E_NOTIMPL;
  }
  STDMETHOD(HashStream)(IUnknown*, IUnknown* Stream, SAFEARRAY** ppsa) override {
    CComPtr<IStream> cpStream;
    HCRYPTPROV hProv = 0;
    HCRYPTHASH hHash = 0;
    HRESULT hr = Stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(&cpStream));
    if (SUCCEEDED(hr) && !(CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
                           CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash)))
      hr = HRESULT_FROM_WIN32(GetLastError());
    BYTE buffer[512];
    for (ULONG cbRead = 0; SUCCEEDED(hr) && SUCCEEDED(cpStream->Read(buffer, sizeof buffer, &cbRead)) && cbRead;) {
      if (!CryptHashData(hHash, buffer, cbRead, 0)) hr = HRESULT_FROM_WIN32(GetLastError());
    }
    DWORD cbHash = 20;
    *ppsa = SUCCEEDED(hr) ? SafeArrayCreateVector(VT_UI1, 0, cbHash) : nullptr;
    if (*ppsa) CryptGetHashParam(hHash, HP_HASHVAL, static_cast<BYTE*>((*ppsa)->pvData), &cbHash, 0);
    if (hHash) CryptDestroyHash(hHash);
    if (hProv) CryptReleaseContext(hProv, 0);
    return hr;
  }

 protected:
  void* FindInterface(REFIID riid) override {
    if (IsEqualIID(riid, Office::IID_IDTExtensibility2)) return &m_extensibility;
    return CDispatchImpl::FindInterface(riid);
  }

 private:
  // Connected as an add-in of each application; nothing to do on the way in or out.
  class CExtensibility final : public Office::IDTExtensibility2 {
   public:
    explicit CExtensibility(IDispatch* pOwner) : m_pOwner(pOwner) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return m_pOwner->QueryInterface(riid, ppv); }
    STDMETHOD_(ULONG, AddRef)() override { return m_pOwner->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return m_pOwner->Release(); }
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override { return m_pOwner->GetTypeInfoCount(pctinfo); }
    STDMETHOD(GetTypeInfo)(UINT i, LCID lcid, ITypeInfo** pp) override { return m_pOwner->GetTypeInfo(i, lcid, pp); }
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT c, LCID lcid, DISPID* ids) override {
      return m_pOwner->GetIDsOfNames(riid, names, c, lcid, ids);
    }
    STDMETHOD(Invoke)
    (DISPID id, REFIID riid, LCID lcid, WORD w, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e, UINT* a) override {
      return m_pOwner->Invoke(id, riid, lcid, w, p, r, e, a);
    }
    STDMETHOD(OnConnection)(IDispatch*, Office::ext_ConnectMode, IDispatch*, SAFEARRAY**) override { return S_OK; }
    STDMETHOD(OnDisconnection)(Office::ext_DisconnectMode, SAFEARRAY**) override { return S_OK; }
    STDMETHOD(OnAddInsUpdate)(SAFEARRAY**) override { return S_OK; }
    STDMETHOD(OnStartupComplete)(SAFEARRAY**) override { return S_OK; }
    STDMETHOD(OnBeginShutdown)(SAFEARRAY**) override { return S_OK; }

   private:
    IDispatch* m_pOwner;
  };
  CExtensibility m_extensibility{this};
};

}  // namespace

const Sim::SAddInServer Sim::g_addInServer = {kClsid,
                                              kClsidText,
                                              kProgId,
                                              L"Both",
                                              L"Simulator test signature provider",
                                              {L"Word", L"Excel", L"PowerPoint"},
                                              Sim::CreateAddIn<CTestSignatureProvider>};
