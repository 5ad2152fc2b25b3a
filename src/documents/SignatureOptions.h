#pragma once
// The option that a signature line carries besides Office's own setup fields (whether the
// signer's title joins the signature comment), kept in the setup's additional XML as one
// element: <VelmoraSignature AddTitle="..."/>. And the MSXML 5 side of a signature document:
// the loaded document with a digital-signature object bound to its signature element.
#include <msxml2.h>
#include <oleauto.h>

#include "com/Bstr.h"
#include "hosts/XmlDigitalSignature.h"

class CSignatureOptions {
 public:
  // bsXml: the setup's additional XML; null, empty or not ours leaves the defaults.
  explicit CSignatureOptions(BSTR bsXml);
  // The XML for the current options; empty when it cannot be made.
  CComBSTR GetXML() const;

  bool m_bNew = true;  // no options element was found: the line is set up for the first time
  bool m_bAddTitle = false;
};

// An MSXML document: MSXML 5's, else the one registered as "Msxml2.DOMDocument".
HRESULT CreateDOMDocument(IXMLDOMDocument** ppXmlDoc);

// Loads a signature document from pStream and binds an MSXML 5 digital-signature object to its
// ds:Signature element. A document without one fails the binding.
HRESULT PrepareXmlSignature(IStream* pStream, IXMLDOMDocument2** ppXmlDoc, MSXML2::IXMLDigitalSignatureEx** ppXmlDSig);
