#pragma once
// A small XML reader and Canonical XML 1.0 (W3C, 2001-03-15, without comments) of one element
// with its descendants, as XML signatures digest same-document references and SignedInfo. The
// reader takes what the platform's DOM serialises: UTF-8, no document type declaration, only the
// predefined entities and character references.
#include <memory>
#include <string>
#include <vector>

namespace XmlDsig {

struct SXmlNode {
  enum EKind { kElement, kText, kProcessingInstruction } kind = kElement;
  std::string sName;                                            // qualified name, or a PI's target
  std::vector<std::pair<std::string, std::string>> attributes;  // namespace declarations included
  std::string sText;                                            // character data, or a PI's data
  std::vector<std::unique_ptr<SXmlNode>> children;
  SXmlNode* pParent = nullptr;

  const std::string* Attribute(const std::string& sName) const;
  std::string Prefix() const;
  std::string LocalName() const;
  // The namespace that a prefix ("" for the default) stands for here; "" when none.
  std::string NamespaceOf(const std::string& sPrefix) const;
  std::string NamespaceUri() const { return NamespaceOf(Prefix()); }
};

// Character data, or an attribute value (its literal white space becoming spaces), with the predefined
// entities and character references resolved; false for an unknown or malformed reference.
bool ResolveReferences(const std::string& s, bool bAttribute, std::string* pOut);

// The document element, or nullptr when the text is not well-formed as far as this reader looks.
std::unique_ptr<SXmlNode> ParseXml(const std::string& sXml);

// The first element in document order below or at pRoot that satisfies the predicate.
template <class Pred>
const SXmlNode* FindElement(const SXmlNode* pRoot, Pred pred) {
  if (pRoot->kind != SXmlNode::kElement) return nullptr;
  if (pred(*pRoot)) return pRoot;
  for (const auto& child : pRoot->children) {
    if (const SXmlNode* pFound = FindElement(child.get(), pred)) return pFound;
  }
  return nullptr;
}

// The character data directly inside an element; "" for none or a null element.
std::string TextOf(const SXmlNode* pElement);

// The element's canonical form (its namespace context and xml: attributes taken from its ancestors).
std::string Canonicalize(const SXmlNode& element);

}  // namespace XmlDsig
