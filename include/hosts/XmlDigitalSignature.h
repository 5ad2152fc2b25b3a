#pragma once
// MSXML 5's XML digital signature interfaces and classes, declared from their published ids and slot order
// (type library "Microsoft XML, v5.0"). Office brings these classes; the simulator registers a stand-in.
#include <msxml2.h>
#include <oaidl.h>

namespace MSXML2 {

#define VM_DSIG_IID(name, l1) \
  inline constexpr IID name = {l1, 0x20B3, 0x437E, {0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE, 0x90}}
VM_DSIG_IID(IID_IXMLDSigKey, 0x7474853B);
VM_DSIG_IID(IID_IXMLDSigKeyEx, 0x7474853C);
VM_DSIG_IID(IID_IXMLDigitalSignature, 0x7474853D);
VM_DSIG_IID(IID_IXMLDigitalSignatureEx, 0x7474853E);
#undef VM_DSIG_IID

#define VM_MSXML5_CLSID(name, l1) \
  inline constexpr CLSID name = {l1, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}}
VM_MSXML5_CLSID(CLSID_DOMDocument50, 0x88D969E5);
VM_MSXML5_CLSID(CLSID_MXDigitalSignature50, 0x88D969F5);
#undef VM_MSXML5_CLSID
inline constexpr wchar_t kProgIdDOMDocument50[] = L"Msxml2.DOMDocument.5.0";
inline constexpr wchar_t kProgIdMXDigitalSignature50[] = L"Msxml2.MXDigitalSignature.5.0";

// IXMLDOMDocument3: IXMLDOMDocument2 followed by validateNode and importNode. DOMDocument50's default interface;
// callers that need only IXMLDOMDocument2's members ask for it and use it as IXMLDOMDocument2.
inline constexpr IID IID_IXMLDOMDocument3 = {
    0x2933BF96, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// How sign writes the key information.
enum XMLDSIG_WRITEKEYINFO : unsigned long {
  NOKEYINFO = 0,
  KEYVALUE = 1,
  CERTIFICATES = 2,
  PURGE = 0x80000000,
};

// Dual; dispatch id 5.
struct IXMLDSigKey : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE getVerifyingCertificate(IUnknown** certificate) = 0;
};

// Not dispatchable beyond IXMLDSigKey.
struct IXMLDSigKeyEx : public IXMLDSigKey {
  virtual HRESULT STDMETHODCALLTYPE getCSPHandle(ULONG_PTR* hProvider) = 0;
  // The context stays owned by the key: the caller duplicates it to keep it.
  virtual HRESULT STDMETHODCALLTYPE getVerifyingCertificateContext(const void** certContext) = 0;
};

// Dual; dispatch ids: signature 8, store 9, sign 7, verify 10, setReferenceData 6, createSAXProxy 4,
// createKeyFromCSP 1, createKeyFromHMACSecret 2, createKeyFromNode 3.
struct IXMLDigitalSignature : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE putref_signature(::IXMLDOMNode* signatureNode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_signature(::IXMLDOMNode** signatureNode) = 0;
  virtual HRESULT STDMETHODCALLTYPE putref_store(IUnknown* store) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_store(IUnknown** store) = 0;
  // S_OK when signed; the key used comes back.
  virtual HRESULT STDMETHODCALLTYPE sign(IXMLDSigKey* keyRef, XMLDSIG_WRITEKEYINFO wki, IXMLDSigKey** signedKey) = 0;
  // S_OK when the signature and every reference are valid, S_FALSE when not; with no key the key comes from the
  // signature's key information. The key used comes back.
  virtual HRESULT STDMETHODCALLTYPE verify(IXMLDSigKey* keyRef, IXMLDSigKey** verifyingKey) = 0;
  virtual HRESULT STDMETHODCALLTYPE setReferenceData(BSTR uri, IUnknown* data) = 0;
  virtual HRESULT STDMETHODCALLTYPE createSAXProxy(IUnknown** proxy) = 0;
  virtual HRESULT STDMETHODCALLTYPE createKeyFromCSP(long providerType, BSTR providerName, BSTR keyContainerName,
                                                     long flags, IXMLDSigKey** keyRef) = 0;
  virtual HRESULT STDMETHODCALLTYPE createKeyFromHMACSecret(BSTR base64Secret, long hmacOutputLength,
                                                            IXMLDSigKey** keyRef) = 0;
  virtual HRESULT STDMETHODCALLTYPE createKeyFromNode(::IXMLDOMNode* keyInfo, IXMLDSigKey** keyRef) = 0;
};

// Not dispatchable beyond IXMLDigitalSignature: the CryptoAPI side for C and C++ callers.
struct IXMLDigitalSignatureEx : public IXMLDigitalSignature {
  // certContext is a PCCERT_CONTEXT; the key keeps its own duplicate.
  virtual HRESULT STDMETHODCALLTYPE createKeyFromCertContext(const void* certContext, IXMLDSigKeyEx** keyRef) = 0;
  virtual HRESULT STDMETHODCALLTYPE createKeyFromHMACSecretBinary(const BYTE* secret, long secretLength,
                                                                  long hmacOutputLength, IXMLDSigKeyEx** keyRef) = 0;
  virtual HRESULT STDMETHODCALLTYPE setStoreHandle(void* hCertStore) = 0;
  virtual HRESULT STDMETHODCALLTYPE getStoreHandle(void** hCertStore) = 0;
  virtual HRESULT STDMETHODCALLTYPE setDebugOutput(IStream* debugOutput) = 0;
};

}  // namespace MSXML2

__CRT_UUID_DECL(MSXML2::IXMLDSigKey, 0x7474853B, 0x20B3, 0x437E, 0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE, 0x90)
__CRT_UUID_DECL(MSXML2::IXMLDSigKeyEx, 0x7474853C, 0x20B3, 0x437E, 0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE, 0x90)
__CRT_UUID_DECL(MSXML2::IXMLDigitalSignature, 0x7474853D, 0x20B3, 0x437E, 0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE,
                0x90)
__CRT_UUID_DECL(MSXML2::IXMLDigitalSignatureEx, 0x7474853E, 0x20B3, 0x437E, 0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE,
                0x90)
