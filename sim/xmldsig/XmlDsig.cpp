// The XML digital-signature classes that Office brings with MSXML 5, standing in where they are
// missing: DOMDocument50 is the platform's DOM document, MXDigitalSignature50 signs and verifies
// enveloped signatures as Office's signatures need them (same-document references, inclusive
// Canonical XML, SHA-1, RSA-SHA1 through CryptoAPI, the certificate in the key information).
#include <windows.h>
#include <wincrypt.h>

#include <msxml2.h>

#include <algorithm>
#include <string>
#include <vector>

#include "XmlC14n.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "hosts/XmlDigitalSignature.h"

namespace {

using namespace MSXML2;

constexpr wchar_t kDsigNs[] = L"http://www.w3.org/2000/09/xmldsig#";
constexpr char kC14n[] = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr char kSha1[] = "http://www.w3.org/2000/09/xmldsig#sha1";
constexpr char kRsaSha1[] = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The platform's DOM document of MSXML 6.
constexpr CLSID kClsidDOMDocument60 = {0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};

HMODULE g_hModule = nullptr;
volatile LONG g_lLocks = 0;

std::string Utf8(const wchar_t* pwsz, int cch = -1) {
  const int cb = WideCharToMultiByte(CP_UTF8, 0, pwsz, cch, nullptr, 0, nullptr, nullptr);
  std::string s(cb, '\0');
  WideCharToMultiByte(CP_UTF8, 0, pwsz, cch, s.data(), cb, nullptr, nullptr);
  if (cch < 0 && !s.empty()) s.pop_back();
  return s;
}

std::wstring Base64(const BYTE* pb, DWORD cb) {
  const DWORD dwFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD cch = 0;
  CryptBinaryToStringW(pb, cb, dwFlags, nullptr, &cch);
  std::wstring ws(cch, L'\0');
  CryptBinaryToStringW(pb, cb, dwFlags, ws.data(), &cch);
  ws.resize(cch);
  return ws;
}

bool FromBase64(const std::string& s, std::vector<BYTE>* pBytes) {
  DWORD cb = 0;
  if (!CryptStringToBinaryA(s.c_str(), static_cast<DWORD>(s.size()), CRYPT_STRING_BASE64, nullptr, &cb, nullptr,
                            nullptr))
    return false;
  pBytes->resize(cb);
  return CryptStringToBinaryA(s.c_str(), static_cast<DWORD>(s.size()), CRYPT_STRING_BASE64, pBytes->data(), &cb,
                              nullptr, nullptr);
}

HRESULT LastError() { return HRESULT_FROM_WIN32(GetLastError()); }

// SHA-1 of bytes, or their signature with a private key, through one CryptoAPI hash.
class CSha1 {
 public:
  explicit CSha1(HCRYPTPROV hProv) {
    if (!hProv && CryptAcquireContextW(&m_hOwnProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
      hProv = m_hOwnProv;
    if (!hProv || !CryptCreateHash(hProv, CALG_SHA1, 0, 0, &m_hHash)) m_hr = LastError();
  }
  ~CSha1() {
    if (m_hHash) CryptDestroyHash(m_hHash);
    if (m_hOwnProv) CryptReleaseContext(m_hOwnProv, 0);
  }
  CSha1(const CSha1&) = delete;
  CSha1& operator=(const CSha1&) = delete;

  HRESULT Hash(const std::string& s) {
    if (SUCCEEDED(m_hr) &&
        !CryptHashData(m_hHash, reinterpret_cast<const BYTE*>(s.data()), static_cast<DWORD>(s.size()), 0))
      m_hr = LastError();
    return m_hr;
  }
  HRESULT Value(std::vector<BYTE>* pValue) {
    DWORD cb = 20;
    pValue->resize(cb);
    if (SUCCEEDED(m_hr) && !CryptGetHashParam(m_hHash, HP_HASHVAL, pValue->data(), &cb, 0)) m_hr = LastError();
    return m_hr;
  }
  // XML signatures carry the RSA signature big-endian; CryptoAPI gives and takes it little-endian.
  HRESULT Sign(DWORD dwKeySpec, std::vector<BYTE>* pSignature) {
    DWORD cb = 0;
    if (SUCCEEDED(m_hr) && CryptSignHashW(m_hHash, dwKeySpec, nullptr, 0, nullptr, &cb)) {
      pSignature->resize(cb);
      if (CryptSignHashW(m_hHash, dwKeySpec, nullptr, 0, pSignature->data(), &cb))
        return std::reverse(pSignature->begin(), pSignature->end()), S_OK;
    }
    return FAILED(m_hr) ? m_hr : LastError();
  }
  // S_FALSE when the signature does not match.
  HRESULT Verify(HCRYPTKEY hKey, std::vector<BYTE> signature) {
    std::reverse(signature.begin(), signature.end());
    if (FAILED(m_hr)) return m_hr;
    return CryptVerifySignatureW(m_hHash, signature.data(), static_cast<DWORD>(signature.size()), hKey, nullptr, 0)
               ? S_OK
               : S_FALSE;
  }

 private:
  HCRYPTPROV m_hOwnProv = 0;
  HCRYPTHASH m_hHash = 0;
  HRESULT m_hr = S_OK;
};

// Reference counting and IDispatch without type information, shared by both objects.
template <class TInterface>
class CObject : public TInterface {
 public:
  CObject() { InterlockedIncrement(&g_lLocks); }
  virtual ~CObject() { InterlockedDecrement(&g_lLocks); }
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;

  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_lRefs); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG lRefs = InterlockedDecrement(&m_lRefs);
    if (!lRefs) delete this;
    return lRefs;
  }
  // Office's signing calls the C++ interfaces only; scripts are not served.
  STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override { return pctinfo ? (*pctinfo = 0, S_OK) : E_POINTER; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 protected:
  HRESULT Answer(REFIID riid, std::initializer_list<IID> iids, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const IID& iid : iids) {
      if (IsEqualIID(riid, iid)) return *ppv = this, AddRef(), S_OK;
    }
    return E_NOINTERFACE;
  }

 private:
  volatile LONG m_lRefs = 1;
};

// A key: the certificate whose private key signs or whose public key verifies.
class CKey final : public CObject<IXMLDSigKeyEx> {
 public:
  explicit CKey(PCCERT_CONTEXT pCert) : m_pCert(CertDuplicateCertificateContext(pCert)) {}
  ~CKey() override {
    if (m_hProv && m_bFreeProv) CryptReleaseContext(m_hProv, 0);
    CertFreeCertificateContext(m_pCert);
  }
  static CKey* From(IXMLDSigKey* pKey) {
    CComPtr<IXMLDSigKeyEx> cpKey;
    if (!pKey || FAILED(pKey->QueryInterface(IID_IXMLDSigKeyEx, reinterpret_cast<void**>(&cpKey)))) return nullptr;
    return dynamic_cast<CKey*>(cpKey.Get());
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return Answer(riid, {IID_IUnknown, IID_IDispatch, IID_IXMLDSigKey, IID_IXMLDSigKeyEx}, ppv);
  }
  // The certificate object of CAPICOM, which this machine does not have.
  STDMETHODIMP getVerifyingCertificate(IUnknown** ppCertificate) override {
    if (ppCertificate) *ppCertificate = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP getCSPHandle(ULONG_PTR* phProvider) override {
    if (!phProvider) return E_POINTER;
    HRESULT hr = PrivateKey(nullptr);
    *phProvider = SUCCEEDED(hr) ? m_hProv : 0;
    return hr;
  }
  STDMETHODIMP getVerifyingCertificateContext(const void** ppCertContext) override {
    if (!ppCertContext) return E_POINTER;
    *ppCertContext = m_pCert;
    return S_OK;
  }

  PCCERT_CONTEXT Certificate() const { return m_pCert; }
  HRESULT PrivateKey(DWORD* pdwKeySpec) {
    if (!m_hProv && !CryptAcquireCertificatePrivateKey(m_pCert, 0, nullptr, &m_hProv, &m_dwKeySpec, &m_bFreeProv))
      return m_hProv = 0, LastError();
    if (pdwKeySpec) *pdwKeySpec = m_dwKeySpec;
    return S_OK;
  }
  HCRYPTPROV Provider() const { return m_hProv; }

 private:
  PCCERT_CONTEXT m_pCert;
  HCRYPTPROV m_hProv = 0;
  DWORD m_dwKeySpec = 0;
  BOOL m_bFreeProv = FALSE;
};

// The DOM side: the signature element's children in the signature namespace.
CComPtr<IXMLDOMNode> DsChild(IXMLDOMNode* pParent, const wchar_t* pwszName, size_t nIndex = 0) {
  CComPtr<IXMLDOMNode> cpChild;
  if (pParent) pParent->get_firstChild(&cpChild);
  while (cpChild) {
    DOMNodeType type = NODE_INVALID;
    CComBSTR bsNs, bsName;
    cpChild->get_nodeType(&type);
    cpChild->get_namespaceURI(&bsNs);
    cpChild->get_baseName(&bsName);
    if (type == NODE_ELEMENT && !lstrcmpW(bsNs.c_str(), kDsigNs) && !lstrcmpW(bsName.c_str(), pwszName) && !nIndex--)
      return cpChild;
    CComPtr<IXMLDOMNode> cpNext;
    cpChild->get_nextSibling(&cpNext);
    cpChild = cpNext;
  }
  return nullptr;
}

// The tree side: the same.
const XmlDsig::SXmlNode* DsChild(const XmlDsig::SXmlNode* pParent, const char* pszName, size_t nIndex = 0) {
  if (!pParent) return nullptr;
  for (const auto& child : pParent->children) {
    if (child->kind == XmlDsig::SXmlNode::kElement && child->LocalName() == pszName &&
        child->NamespaceUri() == Utf8(kDsigNs) && !nIndex--)
      return child.get();
  }
  return nullptr;
}

std::string AlgorithmOf(const XmlDsig::SXmlNode* pParent, const char* pszChild) {
  const XmlDsig::SXmlNode* pChild = DsChild(pParent, pszChild);
  const std::string* psAlgorithm = pChild ? pChild->Attribute("Algorithm") : nullptr;
  return psAlgorithm ? *psAlgorithm : "";
}

class CDigitalSignature final : public CObject<IXMLDigitalSignatureEx> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return Answer(riid, {IID_IUnknown, IID_IDispatch, IID_IXMLDigitalSignature, IID_IXMLDigitalSignatureEx}, ppv);
  }

  STDMETHODIMP putref_signature(IXMLDOMNode* pNode) override {
    CComBSTR bsNs, bsName;
    DOMNodeType type = NODE_INVALID;
    if (!pNode || FAILED(pNode->get_nodeType(&type)) || type != NODE_ELEMENT) return E_INVALIDARG;
    pNode->get_namespaceURI(&bsNs);
    pNode->get_baseName(&bsName);
    if (lstrcmpW(bsNs.c_str(), kDsigNs) || lstrcmpW(bsName.c_str(), L"Signature")) return E_INVALIDARG;
    m_cpSignature = pNode;
    return S_OK;
  }
  STDMETHODIMP get_signature(IXMLDOMNode** ppNode) override {
    if (!ppNode) return E_POINTER;
    return m_cpSignature.CopyTo(ppNode), m_cpSignature ? S_OK : S_FALSE;
  }

  STDMETHODIMP sign(IXMLDSigKey* pKey, XMLDSIG_WRITEKEYINFO wki, IXMLDSigKey** ppSignedKey) override {
    if (ppSignedKey) *ppSignedKey = nullptr;
    CKey* pOwnKey = CKey::From(pKey);
    if (!m_cpSignature) return E_FAIL;
    if (!pOwnKey) return E_INVALIDARG;
    if (wki & ~(CERTIFICATES | PURGE)) return E_NOTIMPL;  // a key value is not written
    DWORD dwKeySpec = 0;
    HRESULT hr = pOwnKey->PrivateKey(&dwKeySpec);
    if (SUCCEEDED(hr)) hr = WriteKeyInfo(pOwnKey->Certificate(), wki);
    if (SUCCEEDED(hr)) hr = WriteDigests();
    std::unique_ptr<XmlDsig::SXmlNode> document;
    const XmlDsig::SXmlNode* pSignature = nullptr;
    if (SUCCEEDED(hr)) hr = ReadSignature(&document, &pSignature);
    std::vector<BYTE> value;
    if (SUCCEEDED(hr)) {
      CSha1 sha1(pOwnKey->Provider());
      hr = sha1.Hash(XmlDsig::Canonicalize(*DsChild(pSignature, "SignedInfo")));
      if (SUCCEEDED(hr)) hr = sha1.Sign(dwKeySpec, &value);
    }
    if (SUCCEEDED(hr)) hr = SetText(DsChild(m_cpSignature, L"SignatureValue"), Base64(value.data(), value.size()));
    if (SUCCEEDED(hr) && ppSignedKey) *ppSignedKey = (pKey->AddRef(), pKey);
    return hr;
  }

  STDMETHODIMP verify(IXMLDSigKey* pKey, IXMLDSigKey** ppVerifyingKey) override {
    if (ppVerifyingKey) *ppVerifyingKey = nullptr;
    if (!m_cpSignature) return E_FAIL;
    std::unique_ptr<XmlDsig::SXmlNode> document;
    const XmlDsig::SXmlNode* pSignature = nullptr;
    HRESULT hr = ReadSignature(&document, &pSignature);
    if (FAILED(hr)) return hr;
    CComPtr<CKey> cpKey(CKey::From(pKey));
    if (!cpKey) {
      hr = KeyFromKeyInfo(pSignature, &cpKey);
      if (FAILED(hr)) return hr;
    }
    bool bValid = true;
    const XmlDsig::SXmlNode* pSignedInfo = DsChild(pSignature, "SignedInfo");
    for (size_t i = 0; const XmlDsig::SXmlNode* pReference = DsChild(pSignedInfo, "Reference", i); ++i) {
      std::vector<BYTE> digest, stored;
      hr = ReferenceDigest(*document, pReference, &digest);
      if (FAILED(hr)) return hr;
      const XmlDsig::SXmlNode* pValue = DsChild(pReference, "DigestValue");
      bValid = bValid && pValue && FromBase64(XmlDsig::TextOf(pValue), &stored) && stored == digest;
    }
    std::vector<BYTE> signature;
    const XmlDsig::SXmlNode* pValue = DsChild(pSignature, "SignatureValue");
    if (!pValue || !FromBase64(XmlDsig::TextOf(pValue), &signature)) bValid = false;
    if (bValid) {
      hr = CheckSignature(cpKey->Certificate(), XmlDsig::Canonicalize(*pSignedInfo), signature);
      if (FAILED(hr)) return hr;
      bValid = hr == S_OK;
    }
    if (ppVerifyingKey) *ppVerifyingKey = cpKey.Detach();
    return bValid ? S_OK : S_FALSE;
  }

  STDMETHODIMP createKeyFromCertContext(const void* pCertContext, IXMLDSigKeyEx** ppKey) override {
    if (!ppKey) return E_POINTER;
    *ppKey = nullptr;
    if (!pCertContext) return E_INVALIDARG;
    *ppKey = new CKey(static_cast<PCCERT_CONTEXT>(pCertContext));
    return S_OK;
  }

  // Not used by Office's signatures: CAPICOM stores, external references, SAX input, HMAC and
  // key-container keys, debug output.
  STDMETHODIMP putref_store(IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP get_store(IUnknown**) override { return E_NOTIMPL; }
  STDMETHODIMP setReferenceData(BSTR, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP createSAXProxy(IUnknown**) override { return E_NOTIMPL; }
  STDMETHODIMP createKeyFromCSP(long, BSTR, BSTR, long, IXMLDSigKey**) override { return E_NOTIMPL; }
  STDMETHODIMP createKeyFromHMACSecret(BSTR, long, IXMLDSigKey**) override { return E_NOTIMPL; }
  STDMETHODIMP createKeyFromNode(IXMLDOMNode*, IXMLDSigKey**) override { return E_NOTIMPL; }
  STDMETHODIMP createKeyFromHMACSecretBinary(const BYTE*, long, long, IXMLDSigKeyEx**) override { return E_NOTIMPL; }
  STDMETHODIMP setStoreHandle(void*) override { return E_NOTIMPL; }
  STDMETHODIMP getStoreHandle(void**) override { return E_NOTIMPL; }
  STDMETHODIMP setDebugOutput(IStream*) override { return E_NOTIMPL; }

 private:
  // The document as the platform's DOM serialises it, read again, and the signature element in it,
  // found by its position among element children. SignedInfo and its algorithms are checked.
  HRESULT ReadSignature(std::unique_ptr<XmlDsig::SXmlNode>* pDocument, const XmlDsig::SXmlNode** ppSignature) {
    std::vector<size_t> path;
    CComPtr<IXMLDOMNode> cpNode = m_cpSignature;
    for (;;) {
      CComPtr<IXMLDOMNode> cpParent, cpSibling;
      DOMNodeType type = NODE_INVALID;
      if (FAILED(cpNode->get_parentNode(&cpParent)) || !cpParent) return E_INVALIDARG;  // not in a document
      cpParent->get_nodeType(&type);
      if (type == NODE_DOCUMENT) break;
      size_t nIndex = 0;
      for (cpNode->get_previousSibling(&cpSibling); cpSibling;) {
        cpSibling->get_nodeType(&type);
        nIndex += type == NODE_ELEMENT;
        CComPtr<IXMLDOMNode> cpPrevious;
        cpSibling->get_previousSibling(&cpPrevious);
        cpSibling = cpPrevious;
      }
      path.insert(path.begin(), nIndex);
      cpNode = cpParent;
    }
    // The document as saved: the platform's xml property indents, which changes the content.
    CComPtr<IXMLDOMDocument> cpDocument;
    CComPtr<IStream> cpStream;
    HRESULT hr = m_cpSignature->get_ownerDocument(&cpDocument);
    if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &cpStream);
    VARIANT varStream = {};
    varStream.vt = VT_UNKNOWN;
    varStream.punkVal = cpStream;
    if (SUCCEEDED(hr)) hr = cpDocument->save(varStream);
    HGLOBAL hGlobal = nullptr;
    STATSTG stat = {};
    if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(cpStream, &hGlobal);
    if (SUCCEEDED(hr)) hr = cpStream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    const char* pb = static_cast<const char*>(GlobalLock(hGlobal));
    std::string sXml(pb, pb + stat.cbSize.QuadPart);
    GlobalUnlock(hGlobal);
    if (sXml.size() >= 2 && static_cast<BYTE>(sXml[0]) == 0xFF && static_cast<BYTE>(sXml[1]) == 0xFE)
      sXml = Utf8(reinterpret_cast<const wchar_t*>(sXml.data() + 2), static_cast<int>(sXml.size() / 2 - 1));
    *pDocument = XmlDsig::ParseXml(sXml);
    const XmlDsig::SXmlNode* pNode = pDocument->get();
    for (size_t i = 0; pNode && i < path.size(); ++i) {
      size_t nElement = 0;
      const XmlDsig::SXmlNode* pChild = nullptr;
      for (const auto& child : pNode->children) {
        if (child->kind == XmlDsig::SXmlNode::kElement && nElement++ == path[i]) pChild = child.get();
      }
      pNode = pChild;
    }
    if (!pNode) return E_UNEXPECTED;  // the DOM serialised what this reader cannot read
    const XmlDsig::SXmlNode* pSignedInfo = DsChild(pNode, "SignedInfo");
    if (!pSignedInfo || !DsChild(pNode, "SignatureValue")) return E_INVALIDARG;
    if (AlgorithmOf(pSignedInfo, "CanonicalizationMethod") != kC14n ||
        AlgorithmOf(pSignedInfo, "SignatureMethod") != kRsaSha1)
      return NTE_BAD_ALGID;
    *ppSignature = pNode;
    return S_OK;
  }

  // A same-document reference's digest: its element, canonical, SHA-1.
  static HRESULT ReferenceDigest(const XmlDsig::SXmlNode& document, const XmlDsig::SXmlNode* pReference,
                                 std::vector<BYTE>* pDigest) {
    const std::string* psUri = pReference->Attribute("URI");
    if (!psUri || psUri->size() < 2 || (*psUri)[0] != '#') return E_NOTIMPL;  // only same-document references
    if (AlgorithmOf(pReference, "DigestMethod") != kSha1) return NTE_BAD_ALGID;
    if (const XmlDsig::SXmlNode* pTransforms = DsChild(pReference, "Transforms")) {
      for (size_t i = 0; const XmlDsig::SXmlNode* pTransform = DsChild(pTransforms, "Transform", i); ++i) {
        const std::string* psAlgorithm = pTransform->Attribute("Algorithm");
        if (!psAlgorithm || *psAlgorithm != kC14n) return NTE_BAD_ALGID;
      }
    }
    const std::string sId = psUri->substr(1);
    const XmlDsig::SXmlNode* pTarget = XmlDsig::FindElement(&document, [&](const XmlDsig::SXmlNode& element) {
      const std::string* psId = element.Attribute("Id");
      return psId && *psId == sId;
    });
    if (!pTarget) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    CSha1 sha1(0);
    sha1.Hash(XmlDsig::Canonicalize(*pTarget));
    return sha1.Value(pDigest);
  }

  HRESULT WriteDigests() {
    std::unique_ptr<XmlDsig::SXmlNode> document;
    const XmlDsig::SXmlNode* pSignature = nullptr;
    HRESULT hr = ReadSignature(&document, &pSignature);
    const XmlDsig::SXmlNode* pSignedInfo = DsChild(pSignature, "SignedInfo");
    CComPtr<IXMLDOMNode> cpSignedInfo = DsChild(m_cpSignature, L"SignedInfo");
    for (size_t i = 0; SUCCEEDED(hr) && DsChild(pSignedInfo, "Reference", i); ++i) {
      std::vector<BYTE> digest;
      hr = ReferenceDigest(*document, DsChild(pSignedInfo, "Reference", i), &digest);
      if (SUCCEEDED(hr))
        hr = SetText(DsChild(DsChild(cpSignedInfo, L"Reference", i), L"DigestValue"), Base64(digest.data(), 20));
    }
    return hr;
  }

  static HRESULT SetText(IXMLDOMNode* pElement, const std::wstring& wsText) {
    return pElement ? pElement->put_text(CComBSTR(wsText.c_str())) : E_INVALIDARG;
  }

  // A new element in the signature namespace, with the signature element's prefix.
  HRESULT AppendElement(IXMLDOMNode* pParent, const wchar_t* pwszName, IXMLDOMNode** ppElement) {
    CComPtr<IXMLDOMDocument> cpDocument;
    CComBSTR bsPrefix;
    m_cpSignature->get_prefix(&bsPrefix);
    const std::wstring wsName = bsPrefix.Length() ? std::wstring(bsPrefix.c_str()) + L":" + pwszName : pwszName;
    CComPtr<IXMLDOMNode> cpNew;
    VARIANT varType = {};
    varType.vt = VT_I4;
    varType.lVal = NODE_ELEMENT;
    HRESULT hr = m_cpSignature->get_ownerDocument(&cpDocument);
    if (SUCCEEDED(hr)) hr = cpDocument->createNode(varType, CComBSTR(wsName.c_str()), CComBSTR(kDsigNs), &cpNew);
    if (SUCCEEDED(hr)) hr = pParent->appendChild(cpNew, ppElement);
    return hr;
  }

  // The certificate in KeyInfo/X509Data/X509Certificate; KeyInfo is made after SignatureValue when
  // the template has none, and emptied first with PURGE.
  HRESULT WriteKeyInfo(PCCERT_CONTEXT pCert, XMLDSIG_WRITEKEYINFO wki) {
    CComPtr<IXMLDOMNode> cpKeyInfo = DsChild(m_cpSignature, L"KeyInfo");
    if (!(wki & CERTIFICATES) && !(wki & PURGE)) return S_OK;
    HRESULT hr = S_OK;
    if (!cpKeyInfo) {
      CComPtr<IXMLDOMNode> cpValue = DsChild(m_cpSignature, L"SignatureValue"), cpNext, cpNew;
      if (!cpValue) return E_INVALIDARG;
      hr = AppendElement(m_cpSignature, L"KeyInfo", &cpNew);
      cpValue->get_nextSibling(&cpNext);
      VARIANT varBefore = {};
      varBefore.vt = VT_UNKNOWN;
      varBefore.punkVal = cpNext;
      if (SUCCEEDED(hr) && cpNext) hr = m_cpSignature->insertBefore(cpNew, varBefore, &cpKeyInfo);
      if (SUCCEEDED(hr) && !cpNext) cpKeyInfo = cpNew;
    }
    for (CComPtr<IXMLDOMNode> cpChild;
         SUCCEEDED(hr) && (wki & PURGE) && (cpKeyInfo->get_firstChild(&cpChild), cpChild);) {
      CComPtr<IXMLDOMNode> cpRemoved;
      hr = cpKeyInfo->removeChild(cpChild, &cpRemoved);
    }
    if (FAILED(hr) || !(wki & CERTIFICATES)) return hr;
    CComPtr<IXMLDOMNode> cpData, cpCertificate;
    hr = AppendElement(cpKeyInfo, L"X509Data", &cpData);
    if (SUCCEEDED(hr)) hr = AppendElement(cpData, L"X509Certificate", &cpCertificate);
    if (SUCCEEDED(hr)) hr = SetText(cpCertificate, Base64(pCert->pbCertEncoded, pCert->cbCertEncoded));
    return hr;
  }

  static HRESULT KeyFromKeyInfo(const XmlDsig::SXmlNode* pSignature, CKey** ppKey) {
    const XmlDsig::SXmlNode* pCertificate =
        DsChild(DsChild(DsChild(pSignature, "KeyInfo"), "X509Data"), "X509Certificate");
    std::vector<BYTE> encoded;
    if (!pCertificate || !FromBase64(XmlDsig::TextOf(pCertificate), &encoded)) return NTE_NO_KEY;
    PCCERT_CONTEXT pCert = CertCreateCertificateContext(kEncoding, encoded.data(), static_cast<DWORD>(encoded.size()));
    if (!pCert) return LastError();
    *ppKey = new CKey(pCert);
    CertFreeCertificateContext(pCert);
    return S_OK;
  }

  static HRESULT CheckSignature(PCCERT_CONTEXT pCert, const std::string& sSignedInfo,
                                const std::vector<BYTE>& signature) {
    HCRYPTPROV hProv = 0;
    HCRYPTKEY hKey = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return LastError();
    HRESULT hr =
        CryptImportPublicKeyInfo(hProv, kEncoding, &pCert->pCertInfo->SubjectPublicKeyInfo, &hKey) ? S_OK : LastError();
    if (SUCCEEDED(hr)) {
      CSha1 sha1(hProv);
      sha1.Hash(sSignedInfo);
      hr = sha1.Verify(hKey, signature);
      CryptDestroyKey(hKey);
    }
    CryptReleaseContext(hProv, 0);
    return hr;
  }

  CComPtr<IXMLDOMNode> m_cpSignature;
};

// DOMDocument50 is the platform's DOM document of version 6, the nearest to MSXML 5's behaviour
// (XPath selections, no schema quirks of version 3).
HRESULT CreateDocument(IUnknown* pOuter, REFIID riid, void** ppv) {
  return CoCreateInstance(kClsidDOMDocument60, pOuter, CLSCTX_INPROC_SERVER, riid, ppv);
}

HRESULT CreateSignature(IUnknown* pOuter, REFIID riid, void** ppv) {
  if (pOuter) return CLASS_E_NOAGGREGATION;
  CComPtr<CDigitalSignature> cpSignature;
  cpSignature.Attach(new CDigitalSignature);
  return cpSignature->QueryInterface(riid, ppv);
}

class CFactory final : public IClassFactory {
 public:
  explicit CFactory(HRESULT (*pfnCreate)(IUnknown*, REFIID, void**)) : m_pfnCreate(pfnCreate) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = this;
    return S_OK;
  }
  // Static objects: their lifetime is the module's.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return m_pfnCreate(pOuter, riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL bLock) override {
    bLock ? InterlockedIncrement(&g_lLocks) : InterlockedDecrement(&g_lLocks);
    return S_OK;
  }

 private:
  HRESULT (*m_pfnCreate)(IUnknown*, REFIID, void**);
};

CFactory g_documentFactory(CreateDocument);
CFactory g_signatureFactory(CreateSignature);

struct SClass {
  const CLSID& clsid;
  const wchar_t* pwszProgId;
  const wchar_t* pwszName;
};
const SClass kClasses[] = {
    {CLSID_DOMDocument50, kProgIdDOMDocument50, L"XML DOM Document 5.0"},
    {CLSID_MXDigitalSignature50, kProgIdMXDigitalSignature50, L"XML Digital Signature 5.0"},
};

std::wstring ClassKey(const CLSID& clsid) {
  wchar_t wszClsid[40] = {};
  StringFromGUID2(clsid, wszClsid, 40);
  return std::wstring(L"Software\\Classes\\CLSID\\") + wszClsid;
}

LSTATUS SetString(const std::wstring& wsKey, const wchar_t* pwszName, const std::wstring& wsValue) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, wsKey.c_str(), pwszName, REG_SZ, wsValue.c_str(),
                         static_cast<DWORD>((wsValue.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) g_hModule = hInstance;
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (IsEqualCLSID(rclsid, CLSID_DOMDocument50)) return g_documentFactory.QueryInterface(riid, ppv);
  if (IsEqualCLSID(rclsid, CLSID_MXDigitalSignature50)) return g_signatureFactory.QueryInterface(riid, ppv);
  if (ppv) *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return g_lLocks ? S_FALSE : S_OK; }

// Both classes under MSXML 5's class ids and version-dependent ProgIDs, threading model "Both".
STDAPI DllRegisterServer() {
  wchar_t wszPath[MAX_PATH] = {};
  GetModuleFileNameW(g_hModule, wszPath, MAX_PATH);
  LSTATUS status = ERROR_SUCCESS;
  for (const SClass& cls : kClasses) {
    wchar_t wszClsid[40] = {};
    StringFromGUID2(cls.clsid, wszClsid, 40);
    const std::wstring wsKey = ClassKey(cls.clsid);
    if (!status) status = SetString(wsKey, nullptr, cls.pwszName);
    if (!status) status = SetString(wsKey + L"\\InprocServer32", nullptr, wszPath);
    if (!status) status = SetString(wsKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    if (!status) status = SetString(wsKey + L"\\ProgID", nullptr, cls.pwszProgId);
    if (!status)
      status = SetString(std::wstring(L"Software\\Classes\\") + cls.pwszProgId + L"\\CLSID", nullptr, wszClsid);
  }
  return HRESULT_FROM_WIN32(status);
}

STDAPI DllUnregisterServer() {
  for (const SClass& cls : kClasses) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKey(cls.clsid).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\") + cls.pwszProgId).c_str());
  }
  return S_OK;
}
