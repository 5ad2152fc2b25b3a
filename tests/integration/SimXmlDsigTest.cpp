// MSXML 5's digital-signature classes as the simulator stands them in: canonical XML, signing an
// Office-style signature with a certificate's key, verifying it, and what a damaged one gives.
#include <gmock/gmock.h>
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "XmlC14n.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "hosts/XmlDigitalSignature.h"

namespace {

using namespace MSXML2;

TEST(SimXmlC14n, CanonicalFormOfAnElementInItsContext) {
  const auto document = XmlDsig::ParseXml(
      "<?xml version=\"1.0\"?>\r\n<!-- outside -->"
      "<a:root xmlns:a=\"urn:a\" xmlns=\"urn:d\" xml:lang=\"de\" b=\"1\">"
      "<item z=\"2\" a:y=\"1\" xmlns:c=\"urn:c\" Id=\"x\">"
      "<c:in xmlns:a=\"urn:a\" xmlns=\"\"><empty/><!-- gone --><![CDATA[<&>]]>&#13;\r\n"
      "<?pi  data?></c:in><t  v='a\tb&#9;\"'/></item></a:root>");
  ASSERT_TRUE(document);
  const XmlDsig::SXmlNode* pItem =
      XmlDsig::FindElement(document.get(), [](const XmlDsig::SXmlNode& e) { return e.Attribute("Id") != nullptr; });
  ASSERT_TRUE(pItem);
  // The apex carries the namespaces and xml: attributes in scope; declarations that repeat the
  // parent's are dropped, xmlns="" stays where the default changes; attributes sort by namespace.
  EXPECT_EQ(
      "<item xmlns=\"urn:d\" xmlns:a=\"urn:a\" xmlns:c=\"urn:c\" Id=\"x\" z=\"2\" xml:lang=\"de\" a:y=\"1\">"
      "<c:in xmlns=\"\"><empty></empty>&lt;&amp;&gt;&#xD;\n<?pi data?></c:in>"
      "<t v=\"a b&#x9;&quot;\"></t></item>",
      XmlDsig::Canonicalize(*pItem));
}

TEST(SimXmlC14n, RefusesWhatIsNotWellFormed) {
  for (const char* psz : {"<a><b></a></b>", "<a>&unknown;</a>", "<!DOCTYPE a><a/>", "<a/><b/>", "<a x='1' x='2'/>",
                          "<a", "text<a/>", "<a x='<'/>"})
    EXPECT_FALSE(XmlDsig::ParseXml(psz)) << psz;
}

constexpr char kTemplate[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"idPackageSignature\"><SignedInfo>"
    "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
    "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>"
    "<Reference Type=\"http://www.w3.org/2000/09/xmldsig#Object\" URI=\"#idPackageObject\">"
    "<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue/></Reference>"
    "<Reference Type=\"http://www.w3.org/2000/09/xmldsig#Object\" URI=\"#idOfficeObject\">"
    "<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue/></Reference>"
    "</SignedInfo><SignatureValue/>"
    "<Object Id=\"idPackageObject\" xmlns:mdssi=\"http://schemas.openxmlformats.org/package/2006/digital-signature\">"
    "<Manifest><Reference URI=\"/word/document.xml?ContentType=text/xml\"><DigestMethod "
    "Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue>AAAAAAAAAAAAAAAAAAAAAAAAAAA=</DigestValue>"
    "</Reference></Manifest><SignatureProperties><SignatureProperty Id=\"idSignatureTime\" "
    "Target=\"#idPackageSignature\"><mdssi:SignatureTime><mdssi:Format>YYYY-MM-DDThh:mm:ssTZD</mdssi:Format>"
    "<mdssi:Value>2026-12-06T02:00:00Z</mdssi:Value></mdssi:SignatureTime></SignatureProperty>"
    "</SignatureProperties></Object>\n"
    "<Object Id=\"idOfficeObject\"><SignatureProperties><SignatureProperty Id=\"idOfficeV1Details\" "
    "Target=\"#idPackageSignature\"><SignatureInfoV1 xmlns=\"http://schemas.microsoft.com/office/2006/digsig\">"
    "<SignatureComment>Ünïcode &amp; more</SignatureComment></SignatureInfoV1></SignatureProperty>"
    "</SignatureProperties></Object></Signature>";

class SimXmlDsigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    wchar_t wszPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
    std::wstring wsDll(wszPath);
    wsDll = wsDll.substr(0, wsDll.find_last_of(L'\\')) + L"\\..\\sim\\SimXmlDsig.dll";
    m_hDll = LoadLibraryW(wsDll.c_str());
    ASSERT_NE(nullptr, m_hDll);
    MakeCertificate();
  }
  void TearDown() override {
    if (m_pCert) CertFreeCertificateContext(m_pCert);
    HCRYPTPROV hProv = 0;
    CryptAcquireContextW(&hProv, kContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    CoUninitialize();
  }

  template <class T>
  CComPtr<T> Create(const CLSID& clsid, const IID& iid) {
    using PFN = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(m_hDll, "DllGetClassObject")));
    CComPtr<IClassFactory> cpFactory;
    CComPtr<T> cp;
    EXPECT_EQ(S_OK, pfn(clsid, IID_IClassFactory, reinterpret_cast<void**>(&cpFactory)));
    if (cpFactory) {
      EXPECT_EQ(S_OK, cpFactory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&cp)));
    }
    return cp;
  }

  // A signing key in the platform's provider with a self-signed certificate for it.
  void MakeCertificate() {
    HCRYPTPROV hProv = 0;
    CryptAcquireContextW(&hProv, kContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    ASSERT_TRUE(CryptAcquireContextW(&hProv, kContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    HCRYPTKEY hKey = 0;
    ASSERT_TRUE(CryptGenKey(hProv, AT_SIGNATURE, (2048 << 16), &hKey));
    CryptDestroyKey(hKey);
    BYTE name[128];
    DWORD cbName = sizeof name;
    ASSERT_TRUE(
        CertStrToNameW(X509_ASN_ENCODING, L"CN=Sam Signer", CERT_X500_NAME_STR, nullptr, name, &cbName, nullptr));
    CERT_NAME_BLOB subject = {cbName, name};
    CRYPT_KEY_PROV_INFO keyInfo = {const_cast<wchar_t*>(kContainer),
                                   const_cast<wchar_t*>(MS_ENHANCED_PROV_W),
                                   PROV_RSA_FULL,
                                   0,
                                   0,
                                   nullptr,
                                   AT_SIGNATURE};
    m_pCert = CertCreateSelfSignCertificate(hProv, &subject, 0, &keyInfo, nullptr, nullptr, nullptr, nullptr);
    CryptReleaseContext(hProv, 0);
    ASSERT_NE(nullptr, m_pCert);
  }

  // The template loaded as Office's provider loads it, and a signature object bound to it.
  void Load(const std::string& sXml) {
    m_cpDocument = Create<IXMLDOMDocument2>(CLSID_DOMDocument50, IID_IXMLDOMDocument3);
    ASSERT_TRUE(m_cpDocument);
    m_cpDocument->put_async(VARIANT_FALSE);
    m_cpDocument->put_preserveWhiteSpace(VARIANT_TRUE);
    const int cch = MultiByteToWideChar(CP_UTF8, 0, sXml.c_str(), -1, nullptr, 0);
    std::wstring ws(cch, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, sXml.c_str(), -1, ws.data(), cch);
    VARIANT_BOOL bLoaded = VARIANT_FALSE;
    ASSERT_EQ(S_OK, m_cpDocument->loadXML(CComBSTR(ws.c_str()), &bLoaded));
    ASSERT_EQ(VARIANT_TRUE, bLoaded);
    VARIANT varNs = {};
    varNs.vt = VT_BSTR;
    varNs.bstrVal = SysAllocString(L"xmlns:ds='http://www.w3.org/2000/09/xmldsig#'");
    ASSERT_EQ(S_OK, m_cpDocument->setProperty(CComBSTR(L"SelectionNamespaces"), varNs));
    VariantClear(&varNs);
    m_cpDsig = Create<IXMLDigitalSignatureEx>(CLSID_MXDigitalSignature50, IID_IXMLDigitalSignatureEx);
    ASSERT_TRUE(m_cpDsig);
    CComPtr<IXMLDOMNode> cpSignature = Node(L".//ds:Signature");
    ASSERT_TRUE(cpSignature);
    ASSERT_EQ(S_OK, m_cpDsig->putref_signature(cpSignature));
  }
  CComPtr<IXMLDOMNode> Node(const wchar_t* pwszPath) {
    CComPtr<IXMLDOMNode> cpNode;
    m_cpDocument->selectSingleNode(CComBSTR(pwszPath), &cpNode);
    return cpNode;
  }
  void SetText(const wchar_t* pwszPath, const wchar_t* pwszText) {
    CComPtr<IXMLDOMNode> cpNode = Node(pwszPath);
    ASSERT_TRUE(cpNode);
    ASSERT_EQ(S_OK, cpNode->put_text(CComBSTR(pwszText)));
  }
  HRESULT Sign() {
    CComPtr<IXMLDSigKeyEx> cpKey;
    CComPtr<IXMLDSigKey> cpSigned;
    EXPECT_EQ(S_OK, m_cpDsig->createKeyFromCertContext(m_pCert, &cpKey));
    return m_cpDsig->sign(cpKey, CERTIFICATES, &cpSigned);
  }
  HRESULT Verify(PCCERT_CONTEXT* ppSigner = nullptr) {
    CComPtr<IXMLDSigKey> cpKey;
    const HRESULT hr = m_cpDsig->verify(nullptr, &cpKey);
    CComPtr<IXMLDSigKeyEx> cpKeyEx;
    if (cpKey && ppSigner && SUCCEEDED(cpKey->QueryInterface(IID_IXMLDSigKeyEx, reinterpret_cast<void**>(&cpKeyEx)))) {
      const void* pCert = nullptr;
      EXPECT_EQ(S_OK, cpKeyEx->getVerifyingCertificateContext(&pCert));
      *ppSigner = CertDuplicateCertificateContext(static_cast<PCCERT_CONTEXT>(pCert));
    }
    return hr;
  }
  std::wstring Xml() {
    CComBSTR bsXml;
    m_cpDocument->get_xml(&bsXml);
    return bsXml.c_str();
  }

  static constexpr wchar_t kContainer[] = L"SimXmlDsigTest";
  HMODULE m_hDll = nullptr;
  PCCERT_CONTEXT m_pCert = nullptr;
  CComPtr<IXMLDOMDocument2> m_cpDocument;
  CComPtr<IXMLDigitalSignatureEx> m_cpDsig;
};

TEST_F(SimXmlDsigTest, SignsAndVerifiesAnOfficeSignature) {
  ASSERT_NO_FATAL_FAILURE(Load(kTemplate));
  ASSERT_EQ(S_OK, Sign());
  // Digests, the signature value and the certificate are in the document.
  CComBSTR bsDigest, bsValue, bsCertificate;
  Node(L".//ds:SignedInfo/ds:Reference[1]/ds:DigestValue")->get_text(&bsDigest);
  Node(L".//ds:SignatureValue")->get_text(&bsValue);
  ASSERT_TRUE(Node(L"/ds:Signature/ds:KeyInfo/ds:X509Data/ds:X509Certificate"));
  EXPECT_EQ(28u, bsDigest.Length());
  EXPECT_EQ(344u, bsValue.Length());  // 256 bytes of RSA signature
  PCCERT_CONTEXT pSigner = nullptr;
  EXPECT_EQ(S_OK, Verify(&pSigner));
  ASSERT_NE(nullptr, pSigner);
  EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, m_pCert->pCertInfo, pSigner->pCertInfo));
  CertFreeCertificateContext(pSigner);

  // The signed document read again by another document verifies as well.
  const std::wstring wsSigned = Xml();
  const int cb = WideCharToMultiByte(CP_UTF8, 0, wsSigned.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string sSigned(cb - 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wsSigned.c_str(), -1, sSigned.data(), cb, nullptr, nullptr);
  ASSERT_NO_FATAL_FAILURE(Load(sSigned));
  EXPECT_EQ(S_OK, Verify());
}

TEST_F(SimXmlDsigTest, ChangesAfterSigningMakeItInvalid) {
  // A manifest digest, the signed comment, the signature value: each change is found.
  for (const auto& [pwszPath, pwszText] :
       {std::pair{L".//ds:Manifest/ds:Reference/ds:DigestValue", L"BBBBBBBBBBBBBBBBBBBBBBBBBBB="},
        std::pair{L".//ds:SignatureProperty[@Id='idOfficeV1Details']", L"changed"},
        std::pair{L".//ds:SignatureValue", L"AAAA"}}) {
    ASSERT_NO_FATAL_FAILURE(Load(kTemplate));
    ASSERT_EQ(S_OK, Sign());
    ASSERT_NO_FATAL_FAILURE(SetText(pwszPath, pwszText));
    EXPECT_EQ(S_FALSE, Verify()) << pwszPath;
  }
}

TEST_F(SimXmlDsigTest, HostileSignatureDocumentsGiveErrors) {
  CComPtr<IXMLDigitalSignatureEx> cpDsig =
      Create<IXMLDigitalSignatureEx>(CLSID_MXDigitalSignature50, IID_IXMLDigitalSignatureEx);
  CComPtr<IXMLDSigKey> cpKey;
  EXPECT_EQ(E_INVALIDARG, cpDsig->putref_signature(nullptr));
  EXPECT_EQ(E_FAIL, cpDsig->verify(nullptr, &cpKey));

  // Not a signature element.
  ASSERT_NO_FATAL_FAILURE(Load(kTemplate));
  EXPECT_EQ(E_INVALIDARG, m_cpDsig->putref_signature(Node(L".//ds:SignedInfo")));
  // No certificate in the key information.
  EXPECT_EQ(NTE_NO_KEY, Verify());
  // A reference to an element that is not there.
  std::string sXml = kTemplate;
  sXml.replace(sXml.find("#idOfficeObject"), 15, "#idNowhere");
  ASSERT_NO_FATAL_FAILURE(Load(sXml));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), Sign());
  // Another digest algorithm.
  sXml = kTemplate;
  sXml.replace(sXml.find("xmldsig#sha1"), 12, "xmlenc#sha256");
  ASSERT_NO_FATAL_FAILURE(Load(sXml));
  EXPECT_EQ(NTE_BAD_ALGID, Sign());
}

}  // namespace
