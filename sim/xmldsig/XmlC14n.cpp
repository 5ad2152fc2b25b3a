#include "XmlC14n.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace XmlDsig {
namespace {

constexpr char kXmlNamespace[] = "http://www.w3.org/XML/1998/namespace";

void AppendUtf8(unsigned long ulChar, std::string* pOut) {
  if (ulChar < 0x80) {
    *pOut += static_cast<char>(ulChar);
  } else if (ulChar < 0x800) {
    *pOut += static_cast<char>(0xC0 | (ulChar >> 6));
    *pOut += static_cast<char>(0x80 | (ulChar & 0x3F));
  } else if (ulChar < 0x10000) {
    *pOut += static_cast<char>(0xE0 | (ulChar >> 12));
    *pOut += static_cast<char>(0x80 | ((ulChar >> 6) & 0x3F));
    *pOut += static_cast<char>(0x80 | (ulChar & 0x3F));
  } else {
    *pOut += static_cast<char>(0xF0 | (ulChar >> 18));
    *pOut += static_cast<char>(0x80 | ((ulChar >> 12) & 0x3F));
    *pOut += static_cast<char>(0x80 | ((ulChar >> 6) & 0x3F));
    *pOut += static_cast<char>(0x80 | (ulChar & 0x3F));
  }
}

class CReader {
 public:
  explicit CReader(std::string sXml) : m_s(std::move(sXml)) {
    // Line-end handling (XML 1.0, 2.11).
    for (size_t i = m_s.find('\r'); i != std::string::npos; i = m_s.find('\r', i))
      m_s.replace(i, i + 1 < m_s.size() && m_s[i + 1] == '\n' ? 2 : 1, "\n");
  }

  std::unique_ptr<SXmlNode> Document() {
    std::unique_ptr<SXmlNode> root;
    while (SkipSpace(), m_i < m_s.size()) {
      if (Starts("<?")) {
        if (!SkipPast("?>")) return nullptr;
      } else if (Starts("<!--")) {
        if (!SkipPast("-->")) return nullptr;
      } else if (Starts("<") && !Starts("<!") && !root) {
        root = Element(nullptr);
        if (!root) return nullptr;
      } else {
        return nullptr;  // text outside the root, a second root, a document type declaration
      }
    }
    return root;
  }

 private:
  bool Starts(const char* sz) const { return !m_s.compare(m_i, strlen(sz), sz); }
  void SkipSpace() {
    while (m_i < m_s.size() && strchr(" \t\n", m_s[m_i])) ++m_i;
  }
  bool SkipPast(const char* szEnd) {
    const size_t iEnd = m_s.find(szEnd, m_i);
    m_i = iEnd == std::string::npos ? m_s.size() : iEnd + strlen(szEnd);
    return iEnd != std::string::npos;
  }
  std::string Name() {
    const size_t iStart = m_i;
    while (m_i < m_s.size() && !strchr(" \t\n/>=?", m_s[m_i])) ++m_i;
    return m_s.substr(iStart, m_i - iStart);
  }

  std::unique_ptr<SXmlNode> Element(SXmlNode* pParent) {
    auto element = std::make_unique<SXmlNode>();
    element->pParent = pParent;
    ++m_i;
    element->sName = Name();
    if (element->sName.empty()) return nullptr;
    for (;;) {
      SkipSpace();
      if (Starts("/>")) return m_i += 2, std::move(element);
      if (Starts(">")) break;
      std::string sName = Name();
      SkipSpace();
      if (sName.empty() || !Starts("=")) return nullptr;
      ++m_i;
      SkipSpace();
      if (m_i >= m_s.size() || (m_s[m_i] != '"' && m_s[m_i] != '\'')) return nullptr;
      const size_t iClose = m_s.find(m_s[m_i], m_i + 1);
      std::string sValue;
      if (iClose == std::string::npos || !ResolveReferences(m_s.substr(m_i + 1, iClose - m_i - 1), true, &sValue) ||
          element->Attribute(sName))
        return nullptr;
      element->attributes.emplace_back(std::move(sName), std::move(sValue));
      m_i = iClose + 1;
    }
    ++m_i;
    while (m_i < m_s.size()) {
      if (Starts("</")) {
        m_i += 2;
        const bool bMatch = Name() == element->sName;
        SkipSpace();
        if (!bMatch || !Starts(">")) return nullptr;
        ++m_i;
        return element;
      }
      if (Starts("<!--")) {
        if (!SkipPast("-->")) return nullptr;
      } else if (Starts("<![CDATA[")) {
        const size_t iStart = m_i + 9;
        if (!SkipPast("]]>")) return nullptr;
        AddText(element.get(), m_s.substr(iStart, m_i - 3 - iStart));
      } else if (Starts("<?")) {
        auto pi = std::make_unique<SXmlNode>();
        pi->kind = SXmlNode::kProcessingInstruction;
        m_i += 2;
        pi->sName = Name();
        SkipSpace();
        const size_t iStart = m_i;
        if (pi->sName.empty() || !SkipPast("?>")) return nullptr;
        pi->sText = m_s.substr(iStart, m_i - 2 - iStart);
        pi->pParent = element.get();
        element->children.push_back(std::move(pi));
      } else if (Starts("<!")) {
        return nullptr;
      } else if (Starts("<")) {
        auto child = Element(element.get());
        if (!child) return nullptr;
        element->children.push_back(std::move(child));
      } else {
        const size_t iEnd = std::min(m_s.find('<', m_i), m_s.size());
        std::string sText;
        if (!ResolveReferences(m_s.substr(m_i, iEnd - m_i), false, &sText)) return nullptr;
        AddText(element.get(), sText);
        m_i = iEnd;
      }
    }
    return nullptr;
  }

  static void AddText(SXmlNode* pElement, const std::string& sText) {
    if (!pElement->children.empty() && pElement->children.back()->kind == SXmlNode::kText) {
      pElement->children.back()->sText += sText;
      return;
    }
    auto text = std::make_unique<SXmlNode>();
    text->kind = SXmlNode::kText;
    text->sText = sText;
    text->pParent = pElement;
    pElement->children.push_back(std::move(text));
  }

  std::string m_s;
  size_t m_i = 0;
};

using CNamespaces = std::map<std::string, std::string>;  // prefix ("" for the default) -> namespace

bool IsDeclaration(const std::string& sName, std::string* psPrefix) {
  if (sName == "xmlns") return psPrefix->clear(), true;
  if (sName.compare(0, 6, "xmlns:")) return false;
  *psPrefix = sName.substr(6);
  return true;
}

void Declare(const SXmlNode& element, CNamespaces* pScope) {
  std::string sPrefix;
  for (const auto& [sName, sValue] : element.attributes) {
    if (IsDeclaration(sName, &sPrefix)) (*pScope)[sPrefix] = sValue;
  }
}

std::string Escape(const std::string& s, bool bAttribute) {
  std::string sOut;
  for (const char c : s) {
    switch (c) {
      case '&':
        sOut += "&amp;";
        break;
      case '<':
        sOut += "&lt;";
        break;
      case '>':
        sOut += bAttribute ? ">" : "&gt;";
        break;
      case '"':
        sOut += bAttribute ? "&quot;" : "\"";
        break;
      case '\t':
        sOut += bAttribute ? "&#x9;" : "\t";
        break;
      case '\n':
        sOut += bAttribute ? "&#xA;" : "\n";
        break;
      case '\r':
        sOut += "&#xD;";
        break;
      default:
        sOut += c;
    }
  }
  return sOut;
}

struct SAttribute {
  std::string sNamespace, sLocal, sName, sValue;
  bool operator<(const SAttribute& other) const {
    return sNamespace != other.sNamespace ? sNamespace < other.sNamespace : sLocal < other.sLocal;
  }
};

void Write(const SXmlNode& node, const CNamespaces& parentScope, bool bApex, std::string* pOut) {
  if (node.kind == SXmlNode::kText) {
    *pOut += Escape(node.sText, false);
    return;
  }
  if (node.kind == SXmlNode::kProcessingInstruction) {
    *pOut += "<?" + node.sName + (node.sText.empty() ? "" : " " + node.sText) + "?>";
    return;
  }
  CNamespaces scope = parentScope;
  std::vector<SAttribute> attributes;
  std::map<std::string, std::string> inherited;  // xml:* attributes of the apex's ancestors
  if (bApex) {
    std::vector<const SXmlNode*> ancestors;
    for (const SXmlNode* p = node.pParent; p; p = p->pParent) ancestors.insert(ancestors.begin(), p);
    for (const SXmlNode* p : ancestors) {
      Declare(*p, &scope);
      for (const auto& [sName, sValue] : p->attributes) {
        if (!sName.compare(0, 4, "xml:")) inherited[sName] = sValue;
      }
    }
  }
  const CNamespaces outerScope = bApex ? CNamespaces{} : scope;
  Declare(node, &scope);
  std::string sPrefix;
  for (const auto& [sName, sValue] : node.attributes) {
    if (IsDeclaration(sName, &sPrefix)) continue;
    inherited.erase(sName);
    const size_t iColon = sName.find(':');
    const std::string sAttrPrefix = iColon == std::string::npos ? "" : sName.substr(0, iColon);
    const std::string sNamespace = sAttrPrefix.empty()    ? ""
                                   : sAttrPrefix == "xml" ? kXmlNamespace
                                                          : node.NamespaceOf(sAttrPrefix);
    attributes.push_back({sNamespace, sName.substr(iColon + 1), sName, sValue});
  }
  for (const auto& [sName, sValue] : inherited) attributes.push_back({kXmlNamespace, sName.substr(4), sName, sValue});
  std::sort(attributes.begin(), attributes.end());

  *pOut += "<" + node.sName;
  // Namespace declarations in prefix order (the default first): those the output parent lacks.
  for (const auto& [sNsPrefix, sUri] : scope) {
    const auto itOuter = outerScope.find(sNsPrefix);
    const std::string sOuter = itOuter == outerScope.end() ? "" : itOuter->second;
    if (sUri == sOuter || sNsPrefix == "xml") continue;
    *pOut += (sNsPrefix.empty() ? " xmlns" : " xmlns:" + sNsPrefix) + "=\"" + Escape(sUri, true) + "\"";
  }
  for (const SAttribute& attribute : attributes)
    *pOut += " " + attribute.sName + "=\"" + Escape(attribute.sValue, true) + "\"";
  *pOut += ">";
  for (const auto& child : node.children) Write(*child, scope, false, pOut);
  *pOut += "</" + node.sName + ">";
}

}  // namespace

const std::string* SXmlNode::Attribute(const std::string& sAttribute) const {
  for (const auto& [sAttrName, sValue] : attributes) {
    if (sAttrName == sAttribute) return &sValue;
  }
  return nullptr;
}

std::string SXmlNode::Prefix() const {
  const size_t iColon = sName.find(':');
  return iColon == std::string::npos ? "" : sName.substr(0, iColon);
}

std::string SXmlNode::LocalName() const { return sName.substr(sName.find(':') + 1); }

std::string SXmlNode::NamespaceOf(const std::string& sPrefix) const {
  const std::string sDeclaration = sPrefix.empty() ? "xmlns" : "xmlns:" + sPrefix;
  for (const SXmlNode* p = this; p; p = p->pParent) {
    if (const std::string* psValue = p->Attribute(sDeclaration)) return *psValue;
  }
  return "";
}

// malformed reference or a '<' in an attribute value.
bool ResolveReferences(const std::string& s, bool bAttribute, std::string* pOut) {
  static const std::map<std::string, char> kEntities = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  for (size_t i = 0; i < s.size(); ++i) {
    if (bAttribute && s[i] == '<') return false;
    if (s[i] != '&') {
      // Attribute-value normalisation: literal white space becomes a space.
      *pOut += bAttribute && (s[i] == '\t' || s[i] == '\n') ? ' ' : s[i];
      continue;
    }
    const size_t iEnd = s.find(';', i);
    if (iEnd == std::string::npos) return false;
    const std::string sName = s.substr(i + 1, iEnd - i - 1);
    i = iEnd;
    if (const auto it = kEntities.find(sName); it != kEntities.end()) {
      *pOut += it->second;
      continue;
    }
    const bool bHex = sName.size() > 2 && sName[1] == 'x';
    if (sName.size() < 2 || sName[0] != '#') return false;
    char* pszEnd = nullptr;
    const unsigned long ulChar = strtoul(sName.c_str() + (bHex ? 2 : 1), &pszEnd, bHex ? 16 : 10);
    if (*pszEnd || !ulChar || ulChar > 0x10FFFF || (ulChar >= 0xD800 && ulChar < 0xE000)) return false;
    AppendUtf8(ulChar, pOut);
  }
  return true;
}

std::unique_ptr<SXmlNode> ParseXml(const std::string& sXml) { return CReader(sXml).Document(); }

std::string TextOf(const SXmlNode* pElement) {
  std::string s;
  for (size_t i = 0; pElement && i < pElement->children.size(); ++i) {
    if (pElement->children[i]->kind == SXmlNode::kText) s += pElement->children[i]->sText;
  }
  return s;
}

std::string Canonicalize(const SXmlNode& element) {
  std::string sOut;
  Write(element, {}, true, &sOut);
  return sOut;
}

}  // namespace XmlDsig
