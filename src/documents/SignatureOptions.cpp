#include "documents/SignatureOptions.h"

#include "com/ComPtr.h"
#include "com/Variant.h"
#include "module/Trace.h"

namespace {

constexpr wchar_t kOptionsElement[] = L"VelmoraSignature";
constexpr wchar_t kAddTitleAttribute[] = L"AddTitle";
constexpr wchar_t kDsigNamespaces[] = L"xmlns:ds='http://www.w3.org/2000/09/xmldsig#'";

}  // namespace

HRESULT CreateDOMDocument(IXMLDOMDocument** ppXmlDoc) {
  CTraceScope scope("CSignatureOptions::CreateDOMDocument()");
  HRESULT hr = CoCreateInstance(MSXML2::CLSID_DOMDocument50, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                reinterpret_cast<void**>(ppXmlDoc));
  if (SUCCEEDED(hr)) return hr;
  CLSID clsid = {};
  hr = CLSIDFromProgID(L"Msxml2.DOMDocument", &clsid);
  if (SUCCEEDED(hr))
    hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, reinterpret_cast<void**>(ppXmlDoc));
  if (FAILED(hr)) scope.Error("CoCreateInstance(LMsxml2.DOMDocument)", hr);
  return hr;
}

CSignatureOptions::CSignatureOptions(BSTR bsXml) {
  CTraceScope scope("CSignatureOptions::CSignatureOptions()");
  if (!bsXml || !*bsXml) return;
  CComPtr<IXMLDOMDocument> cpXmlDoc;
  if (FAILED(CreateDOMDocument(&cpXmlDoc))) return;
  // Additional XML comes from the document: nothing outside it is fetched.
  cpXmlDoc->put_resolveExternals(VARIANT_FALSE);
  cpXmlDoc->put_validateOnParse(VARIANT_FALSE);
  VARIANT_BOOL bLoaded = VARIANT_FALSE;
  if (FAILED(cpXmlDoc->loadXML(bsXml, &bLoaded)) || !bLoaded) return;
  CComPtr<IXMLDOMElement> cpDocElement;
  HRESULT hr = cpXmlDoc->get_documentElement(&cpDocElement);
  if (FAILED(hr) || !cpDocElement) {
    scope.Error("cpXmlDoc->get_documentElement()", FAILED(hr) ? hr : E_FAIL);
    return;
  }
  CComBSTR bsName;
  if (FAILED(cpDocElement->get_nodeName(&bsName))) return;
  scope.Message("Root node: %ls", bsName.c_str());
  if (CompareStringOrdinal(bsName.c_str(), -1, kOptionsElement, -1, TRUE) != CSTR_EQUAL) return;
  m_bNew = false;
  CComVariant varAddTitle;
  const CComBSTR bsAttribute(kAddTitleAttribute);
  hr = cpDocElement->getAttribute(bsAttribute, &varAddTitle);
  if (FAILED(hr)) {
    scope.Error("cpDocElement->getAttribute()", hr);
    return;
  }
  if (SUCCEEDED(varAddTitle.ChangeType(VT_BOOL))) m_bAddTitle = V_BOOL(&varAddTitle) != VARIANT_FALSE;
}

CComBSTR CSignatureOptions::GetXML() const {
  CTraceScope scope("CSignatureOptions::GetXML()");
  CComBSTR bsXml;
  CComPtr<IXMLDOMDocument> cpXmlDoc;
  if (FAILED(CreateDOMDocument(&cpXmlDoc))) return bsXml;
  CComPtr<IXMLDOMElement> cpDocElement;
  const CComBSTR bsElement(kOptionsElement);
  HRESULT hr = cpXmlDoc->createElement(bsElement, &cpDocElement);
  if (FAILED(hr)) {
    scope.Error("cpXmlDoc->createElement()", hr);
    return bsXml;
  }
  const CComBSTR bsAttribute(kAddTitleAttribute);
  hr = cpDocElement->setAttribute(bsAttribute, CComVariant(m_bAddTitle));
  if (FAILED(hr)) {
    scope.Error("cpDocElement->setAttribute()", hr);
    return bsXml;
  }
  hr = cpXmlDoc->putref_documentElement(cpDocElement);
  if (FAILED(hr)) {
    scope.Error("cpXmlDoc->putref_documentElement()", hr);
    return bsXml;
  }
  hr = cpXmlDoc->get_xml(&bsXml);
  if (FAILED(hr)) scope.Error("cpXmlDoc->get_xml()", hr);
  return bsXml;
}

HRESULT PrepareXmlSignature(IStream* pStream, IXMLDOMDocument2** ppXmlDoc, MSXML2::IXMLDigitalSignatureEx** ppXmlDSig) {
  CTraceScope scope("PrepareXmlSignature()");
  if (!pStream || !ppXmlDoc || !ppXmlDSig) return E_POINTER;
  *ppXmlDoc = nullptr;
  *ppXmlDSig = nullptr;
  // MSXML 5's document answers IXMLDOMDocument3, which begins as IXMLDOMDocument2 does.
  CComPtr<IXMLDOMDocument2> cpXmlDoc;
  HRESULT hr = CoCreateInstance(MSXML2::CLSID_DOMDocument50, nullptr, CLSCTX_INPROC_SERVER,
                                MSXML2::IID_IXMLDOMDocument3, reinterpret_cast<void**>(&cpXmlDoc));
  if (FAILED(hr)) {
    scope.Error("CoCreateInstance(__uuidof(MSXML2::DOMDocument50))", hr);
    return hr;
  }
  if (FAILED(hr = cpXmlDoc->put_async(VARIANT_FALSE)) || FAILED(hr = cpXmlDoc->put_validateOnParse(VARIANT_FALSE)) ||
      FAILED(hr = cpXmlDoc->put_preserveWhiteSpace(VARIANT_TRUE)) ||
      FAILED(hr = cpXmlDoc->put_resolveExternals(VARIANT_FALSE)))
    return hr;
  VARIANT varSource;
  VariantInit(&varSource);
  V_VT(&varSource) = VT_UNKNOWN;
  V_UNKNOWN(&varSource) = pStream;
  VARIANT_BOOL bLoaded = VARIANT_FALSE;
  hr = cpXmlDoc->load(varSource, &bLoaded);
  if (FAILED(hr)) return hr;
  if (!bLoaded) return E_INVALIDARG;
  const CComBSTR bsProperty(L"SelectionNamespaces");
  hr = cpXmlDoc->setProperty(bsProperty, CComVariant(kDsigNamespaces));
  if (FAILED(hr)) return hr;
  CComPtr<IXMLDOMNode> cpSignature;
  const CComBSTR bsQuery(L".//ds:Signature");
  hr = cpXmlDoc->selectSingleNode(bsQuery, &cpSignature);
  if (FAILED(hr)) return hr;
  CComPtr<MSXML2::IXMLDigitalSignatureEx> cpXmlDSig;
  hr = CoCreateInstance(MSXML2::CLSID_MXDigitalSignature50, nullptr, CLSCTX_INPROC_SERVER,
                        MSXML2::IID_IXMLDigitalSignatureEx, reinterpret_cast<void**>(&cpXmlDSig));
  if (FAILED(hr)) {
    scope.Error("CoCreateInstance(__uuidof(MSXML2::MXDigitalSignature50))", hr);
    return hr;
  }
  hr = cpXmlDSig->putref_signature(cpSignature);
  if (FAILED(hr)) {
    scope.Error("cpXmlDSig->putref_signature()", hr);
    return hr;
  }
  *ppXmlDoc = cpXmlDoc.Detach();
  *ppXmlDSig = cpXmlDSig.Detach();
  return hr;
}
