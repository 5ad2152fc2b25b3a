#include "SimPackage.h"

#include <map>

#include "SimZip.h"
#include "XmlC14n.h"

namespace Sim {
namespace {

constexpr char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
constexpr char kRelationshipsNs[] = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr char kRelationshipTypes[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr char kRelationshipsType[] = "application/vnd.openxmlformats-package.relationships+xml";
constexpr char kDrawingNs[] =
    " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
    " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
    " xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";

const HRESULT kCorrupt = HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);

constexpr char kSignatureRelationships[] = "http://schemas.openxmlformats.org/package/2006/relationships/digital-signature/";
constexpr char kOriginPart[] = "_xmlsignatures/origin.sigs";
constexpr char kOriginType[] = "application/vnd.openxmlformats-package.digital-signature-origin";
constexpr char kSignatureType[] = "application/vnd.openxmlformats-package.digital-signature-xmlsignature+xml";

// Where an application keeps its text. Word keeps it in the main part; Excel and PowerPoint in a
// sheet or slide that the main part relates to. A '#' in a paragraph stands for its number.
struct SLayout {
  const wchar_t* wszKind;
  std::string sMainPart;
  std::string sMainType;
  std::string sMainXml;     // empty: the main part is the text part
  std::string sTextRel;     // the main part's relationship to the text part, after kRelationshipTypes
  std::string sTextTarget;  // the text part relative to the main part's folder
  std::string sTextType;
  std::string sTextBegin;
  std::string sTextEnd;
  std::string sParagraphBegin;
  std::string sParagraphEnd;
  std::string sEmptyParagraph;
  std::string sParagraph;  // the paragraph element's local name; the text is in "t" elements
};

const SLayout kLayouts[] = {
    {L"Word document", "word/document.xml",
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml", "", "", "", "",
     "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>",
     "</w:body></w:document>", "<w:p><w:r><w:t xml:space=\"preserve\">", "</w:t></w:r></w:p>", "<w:p/>", "p"},
    {L"Excel workbook", "xl/workbook.xml", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
     "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\""
     " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
     "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>",
     "worksheet", "worksheets/sheet1.xml", "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml",
     "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>",
     "</sheetData></worksheet>", "<row r=\"#\"><c r=\"A#\" t=\"inlineStr\"><is><t xml:space=\"preserve\">",
     "</t></is></c></row>", "<row r=\"#\"/>", "row"},
    {L"PowerPoint presentation", "ppt/presentation.xml",
     "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml",
     "<p:presentation" + std::string(kDrawingNs) +
         "><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId1\"/></p:sldIdLst>"
         "<p:sldSz cx=\"9144000\" cy=\"6858000\"/><p:notesSz cx=\"6858000\" cy=\"9144000\"/></p:presentation>",
     "slide", "slides/slide1.xml", "application/vnd.openxmlformats-officedocument.presentationml.slide+xml",
     "<p:sld" + std::string(kDrawingNs) +
         "><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
         "<p:grpSpPr/><p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Text 1\"/><p:cNvSpPr txBox=\"1\"/><p:nvPr/>"
         "</p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/>",
     "</p:txBody></p:sp></p:spTree></p:cSld></p:sld>", "<a:p><a:r><a:t>", "</a:t></a:r></a:p>", "<a:p/>", "p"},
};

HRESULT Fail(HRESULT hr, std::wstring* pwsWhy, const std::wstring& wsWhy) {
  *pwsWhy = wsWhy;
  return hr;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool IsUtf8(const std::string& s) {
  return s.empty() ||
         MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0) > 0;
}

// One line of text as XML character data; false when it holds a character XML 1.0 cannot carry.
bool EscapeLine(const std::wstring& wsLine, std::wstring* pwsOut, wchar_t* pwcBad) {
  for (const wchar_t wc : wsLine) {
    if ((wc < 0x20 && wc != L'\t' && wc != L'\r') || wc == 0xFFFE || wc == 0xFFFF) return *pwcBad = wc, false;
    // A carriage return would be read back as a line feed.
    *pwsOut += wc == L'&'    ? L"&amp;"
               : wc == L'<'  ? L"&lt;"
               : wc == L'>'  ? L"&gt;"
               : wc == L'\r' ? L"&#13;"
                             : std::wstring(1, wc);
  }
  return true;
}

std::string ReplaceNumber(std::string s, size_t n) {
  for (size_t i = s.find('#'); i != std::string::npos; i = s.find('#', i)) s.replace(i, 1, std::to_string(n));
  return s;
}

// A relationships part; a type holding "://" is taken whole, others follow kRelationshipTypes.
std::string Relationships(const std::vector<std::pair<std::string, std::string>>& typesAndTargets) {
  std::string sXml = kXmlDeclaration + std::string("<Relationships xmlns=\"") + kRelationshipsNs + "\">";
  for (size_t i = 0; i < typesAndTargets.size(); ++i) {
    const auto& [sType, sTarget] = typesAndTargets[i];
    sXml += "<Relationship Id=\"rId" + std::to_string(i + 1) + "\" Type=\"" +
            (sType.find("://") == std::string::npos ? kRelationshipTypes + sType : sType) + "\" Target=\"" +
            sTarget + "\"/>";
  }
  return sXml + "</Relationships>";
}

std::string Relationships(const std::string& sType, const std::string& sTarget) {
  return Relationships({{sType, sTarget}});
}

std::string Folder(const std::string& sPart) { return sPart.substr(0, sPart.rfind('/') + 1); }

// The relationships part of a part: "word/document.xml" -> "word/_rels/document.xml.rels".
std::string RelationshipsPart(const std::string& sPart) {
  return Folder(sPart) + "_rels/" + sPart.substr(Folder(sPart).size()) + ".rels";
}

std::vector<BYTE> Bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

// An XML element's start or end, or character data inside an element; names without prefix.
struct SXmlToken {
  enum EKind { kStart, kEnd, kText } kind;
  std::string sName;
  std::map<std::string, std::string> attributes;
  std::string sText;
};

std::string LocalName(const std::string& sName) { return sName.substr(sName.find(':') + 1); }

// Character data with its references resolved; false for an unknown or malformed reference.
bool Unescape(const std::string& s, std::string* pOut) { return XmlDsig::ResolveReferences(s, false, pOut); }

// The elements and character data of a small XML document; false when it is not well-formed as
// far as this reader looks: tags closed and nested, quoted attributes, known references, one root.
// Document type declarations are refused, as Open XML packages must not have them.
bool Tokenize(const std::string& xml, std::vector<SXmlToken>* pTokens) {
  std::vector<std::string> open;
  bool bRoot = false;
  size_t i = 0;
  auto skipTo = [&](const char* szEnd) {
    const size_t iEnd = xml.find(szEnd, i);
    i = iEnd == std::string::npos ? std::string::npos : iEnd + strlen(szEnd);
    return i != std::string::npos;
  };
  while (i < xml.size()) {
    if (xml[i] != '<') {
      const size_t iEnd = std::min(xml.find('<', i), xml.size());
      SXmlToken text{SXmlToken::kText, "", {}, ""};
      if (!Unescape(xml.substr(i, iEnd - i), &text.sText)) return false;
      i = iEnd;
      if (!open.empty())
        pTokens->push_back(std::move(text));
      else if (text.sText.find_first_not_of(" \t\r\n") != std::string::npos)
        return false;
      continue;
    }
    if (!xml.compare(i, 2, "<?")) {
      if (!skipTo("?>")) return false;
      continue;
    }
    if (!xml.compare(i, 4, "<!--")) {
      if (!skipTo("-->")) return false;
      continue;
    }
    if (!xml.compare(i, 9, "<![CDATA[")) {
      const size_t iStart = i + 9;
      if (open.empty() || !skipTo("]]>")) return false;
      pTokens->push_back({SXmlToken::kText, "", {}, xml.substr(iStart, i - 3 - iStart)});
      continue;
    }
    if (!xml.compare(i, 2, "<!")) return false;
    // The tag's end: the first '>' outside a quoted attribute value.
    size_t iEnd = i + 1;
    for (char cQuote = 0; iEnd < xml.size() && (cQuote || xml[iEnd] != '>'); ++iEnd) {
      if (cQuote == xml[iEnd])
        cQuote = 0;
      else if (!cQuote && (xml[iEnd] == '"' || xml[iEnd] == '\''))
        cQuote = xml[iEnd];
    }
    if (iEnd >= xml.size()) return false;
    std::string sTag = xml.substr(i + 1, iEnd - i - 1);
    i = iEnd + 1;
    if (!sTag.empty() && sTag[0] == '/') {
      const std::string sName = sTag.substr(1, sTag.find_last_not_of(" \t\r\n"));
      if (open.empty() || open.back() != sName) return false;
      open.pop_back();
      pTokens->push_back({SXmlToken::kEnd, LocalName(sName), {}, ""});
      continue;
    }
    const bool bEmpty = !sTag.empty() && sTag.back() == '/';
    if (bEmpty) sTag.pop_back();
    const size_t cchName = sTag.find_first_of(" \t\r\n");
    SXmlToken start{SXmlToken::kStart, sTag.substr(0, cchName), {}, ""};
    if (start.sName.empty() || (open.empty() && bRoot)) return false;
    for (size_t iAttr = sTag.find_first_not_of(" \t\r\n", cchName); iAttr != std::string::npos;
         iAttr = sTag.find_first_not_of(" \t\r\n", iAttr)) {
      const size_t iEquals = sTag.find('=', iAttr);
      const size_t iQuote = sTag.find_first_not_of(" \t\r\n", iEquals + 1);
      if (iEquals == std::string::npos || iEquals == iAttr || iQuote == std::string::npos ||
          (sTag[iQuote] != '"' && sTag[iQuote] != '\''))
        return false;
      const size_t iClose = sTag.find(sTag[iQuote], iQuote + 1);
      if (iClose == std::string::npos) return false;
      const std::string sName = sTag.substr(iAttr, sTag.find_last_not_of(" \t\r\n", iEquals - 1) + 1 - iAttr);
      if (!Unescape(sTag.substr(iQuote + 1, iClose - iQuote - 1), &start.attributes[LocalName(sName)])) return false;
      iAttr = iClose + 1;
    }
    bRoot = true;
    if (!bEmpty) open.push_back(start.sName);
    start.sName = LocalName(start.sName);
    pTokens->push_back(start);
    if (bEmpty) pTokens->push_back({SXmlToken::kEnd, start.sName, {}, ""});
  }
  return bRoot && open.empty();
}

// What an XML processor reads: every line break as a line feed (XML 1.0, 2.11).
std::string NormalizedLineBreaks(std::string s) {
  for (size_t i = s.find('\r'); i != std::string::npos; i = s.find('\r', i)) {
    const bool bPair = i + 1 < s.size() && s[i + 1] == '\n';
    s.replace(i, bPair ? 2 : 1, "\n");
  }
  return s;
}

// The parts of a package by name, as OPC compares them: without case.
class CParts {
 public:
  explicit CParts(std::vector<SZipEntry> entries) : m_entries(std::move(entries)) {}
  const SZipEntry* Find(const std::string& sPart) const {
    for (const SZipEntry& entry : m_entries) {
      if (!lstrcmpiA(entry.sName.c_str(), sPart.c_str())) return &entry;
    }
    return nullptr;
  }
  HRESULT Xml(const std::string& sPart, std::vector<SXmlToken>* pTokens, std::wstring* pwsWhy) const {
    const SZipEntry* pEntry = Find(sPart);
    if (!pEntry) return Fail(kCorrupt, pwsWhy, L"the package has no part /" + Wide(sPart));
    const std::string sXml = NormalizedLineBreaks(std::string(pEntry->data.begin(), pEntry->data.end()));
    if (IsUtf8(sXml) && Tokenize(sXml, pTokens)) return S_OK;
    return Fail(kCorrupt, pwsWhy, L"the part /" + Wide(sPart) + L" is not well-formed UTF-8 XML");
  }

 private:
  std::vector<SZipEntry> m_entries;
};

// The target of the relationship of that type in a relationships part, as a part name.
HRESULT Target(const CParts& parts, const std::string& sSource, const std::string& sType, std::string* psPart,
               std::wstring* pwsWhy, const std::string& sFullType = "") {
  std::vector<SXmlToken> tokens;
  const std::string sRelationships = sSource.empty() ? "_rels/.rels" : RelationshipsPart(sSource);
  HRESULT hr = parts.Xml(sRelationships, &tokens, pwsWhy);
  if (FAILED(hr)) return hr;
  for (SXmlToken& token : tokens) {
    if (token.kind != SXmlToken::kStart || token.sName != "Relationship" ||
        token.attributes["Type"] != (sFullType.empty() ? kRelationshipTypes + sType : sFullType))
      continue;
    const std::string& sTarget = token.attributes["Target"];
    *psPart = !sTarget.empty() && sTarget[0] == '/' ? sTarget.substr(1) : Folder(sSource) + sTarget;
    return S_OK;
  }
  return Fail(kCorrupt, pwsWhy, L"/" + Wide(sRelationships) + L" has no " + Wide(sType) + L" relationship");
}

// A part's content type: its override, or else the default of its extension.
std::string ContentType(const std::vector<SXmlToken>& types, const std::string& sPart) {
  const std::string sExtension = sPart.substr(sPart.rfind('.') + 1);
  std::string sDefault;
  for (const SXmlToken& token : types) {
    if (token.kind != SXmlToken::kStart) continue;
    const auto itType = token.attributes.find("ContentType");
    if (itType == token.attributes.end()) continue;
    const auto itName = token.attributes.find(token.sName == "Override" ? "PartName" : "Extension");
    if (itName == token.attributes.end()) continue;
    if (token.sName == "Override" && !lstrcmpiA(itName->second.c_str(), ("/" + sPart).c_str())) return itType->second;
    if (token.sName == "Default" && !lstrcmpiA(itName->second.c_str(), sExtension.c_str())) sDefault = itType->second;
  }
  return sDefault;
}

// The text of the paragraphs: one line each, from their "t" elements.
std::string ParagraphText(const std::vector<SXmlToken>& tokens, const std::string& sParagraph) {
  std::string sText;
  bool bFirst = true, bInText = false;
  for (const SXmlToken& token : tokens) {
    if (token.kind == SXmlToken::kStart && token.sName == sParagraph) {
      if (!bFirst) sText += '\n';
      bFirst = false;
    }
    if (token.sName == "t" && token.kind != SXmlToken::kText) bInText = token.kind == SXmlToken::kStart;
    if (token.kind == SXmlToken::kText && bInText) sText += token.sText;
  }
  return sText;
}

}  // namespace

std::string Utf8(const std::wstring& ws) {
  const int cb = WideCharToMultiByte(CP_UTF8, 0, ws.data(), static_cast<int>(ws.size()), nullptr, 0, nullptr, nullptr);
  std::string s(cb, '\0');
  WideCharToMultiByte(CP_UTF8, 0, ws.data(), static_cast<int>(ws.size()), s.data(), cb, nullptr, nullptr);
  return s;
}

std::wstring FromUtf8(const std::string& s) {
  std::wstring ws(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), ws.data(), static_cast<int>(ws.size()));
  return ws;
}

HRESULT MakePackage(EDocApp app, const std::wstring& wsText, std::vector<BYTE>* pPackage, std::wstring* pwsWhy,
                    const std::vector<std::string>& signatures) {
  const SLayout& layout = kLayouts[static_cast<int>(app)];
  std::string sText = kXmlDeclaration + layout.sTextBegin;
  size_t nLine = 1;
  for (size_t iStart = 0;; ++nLine) {
    const size_t iEnd = std::min(wsText.find(L'\n', iStart), wsText.size());
    std::wstring wsLine;
    wchar_t wcBad = 0;
    if (!EscapeLine(wsText.substr(iStart, iEnd - iStart), &wsLine, &wcBad)) {
      wchar_t wszCode[8] = {};
      wsprintfW(wszCode, L"%04X", wcBad);
      return Fail(E_INVALIDARG, pwsWhy,
                  L"the text holds the character U+" + std::wstring(wszCode) + L", which XML cannot carry");
    }
    sText += wsLine.empty() ? ReplaceNumber(layout.sEmptyParagraph, nLine)
                            : ReplaceNumber(layout.sParagraphBegin, nLine) + Utf8(wsLine) + layout.sParagraphEnd;
    if (iEnd == wsText.size()) break;
    iStart = iEnd + 1;
  }
  sText += layout.sTextEnd;

  const bool bOwnTextPart = !layout.sTextRel.empty();
  const std::string sTextPart = bOwnTextPart ? Folder(layout.sMainPart) + layout.sTextTarget : layout.sMainPart;
  std::string sTypes = kXmlDeclaration +
                       std::string(
                           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                           "<Default Extension=\"rels\" ContentType=\"") +
                       kRelationshipsType +
                       "\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                       "<Override PartName=\"/" +
                       layout.sMainPart + "\" ContentType=\"" + layout.sMainType + "\"/>";
  if (bOwnTextPart) sTypes += "<Override PartName=\"/" + sTextPart + "\" ContentType=\"" + layout.sTextType + "\"/>";
  std::vector<std::pair<std::string, std::string>> packageRelationships = {{"officeDocument", layout.sMainPart}};
  std::vector<std::pair<std::string, std::string>> originRelationships;
  std::vector<SZipEntry> signatureEntries;
  for (size_t i = 0; i < signatures.size(); ++i) {
    const std::string sName = "sig" + std::to_string(i + 1) + ".xml";
    sTypes += "<Override PartName=\"/_xmlsignatures/" + sName + "\" ContentType=\"" + kSignatureType + "\"/>";
    originRelationships.push_back({kSignatureRelationships + std::string("signature"), sName});
    signatureEntries.push_back({"_xmlsignatures/" + sName, Bytes(signatures[i])});
  }
  if (!signatures.empty()) {
    sTypes += "<Override PartName=\"/" + std::string(kOriginPart) + "\" ContentType=\"" + kOriginType + "\"/>";
    packageRelationships.push_back({kSignatureRelationships + std::string("origin"), kOriginPart});
  }
  sTypes += "</Types>";

  std::vector<SZipEntry> entries = {
      {"[Content_Types].xml", Bytes(sTypes)},
      {"_rels/.rels", Bytes(Relationships(packageRelationships))},
  };
  if (bOwnTextPart) {
    entries.push_back({layout.sMainPart, Bytes(kXmlDeclaration + layout.sMainXml)});
    entries.push_back({RelationshipsPart(layout.sMainPart), Bytes(Relationships(layout.sTextRel, layout.sTextTarget))});
  }
  entries.push_back({sTextPart, Bytes(sText)});
  if (!signatures.empty()) {
    entries.push_back({kOriginPart, {}});
    entries.push_back({RelationshipsPart(kOriginPart), Bytes(Relationships(originRelationships))});
    entries.insert(entries.end(), signatureEntries.begin(), signatureEntries.end());
  }
  *pPackage = WriteZip(entries);
  return S_OK;
}

HRESULT ReadSignatureParts(const std::vector<BYTE>& package, std::vector<SSignedPart>* pParts,
                           std::vector<std::string>* pSignatures, std::wstring* pwsWhy) {
  std::vector<SZipEntry> entries;
  HRESULT hr = ReadZip(package, &entries, pwsWhy);
  if (FAILED(hr)) return hr;
  const CParts parts(entries);
  std::vector<SXmlToken> types, relationships;
  hr = parts.Xml("[Content_Types].xml", &types, pwsWhy);
  if (FAILED(hr)) return hr;
  std::string sOrigin;
  if (SUCCEEDED(Target(parts, "", "", &sOrigin, pwsWhy, kSignatureRelationships + std::string("origin")))) {
    hr = parts.Xml(RelationshipsPart(sOrigin), &relationships, pwsWhy);
    if (FAILED(hr)) return hr;
  }
  pwsWhy->clear();
  for (SXmlToken& token : relationships) {
    if (token.kind != SXmlToken::kStart || token.sName != "Relationship" ||
        token.attributes["Type"] != kSignatureRelationships + std::string("signature"))
      continue;
    const std::string sPart = Folder(sOrigin) + token.attributes["Target"];
    const SZipEntry* pEntry = parts.Find(sPart);
    if (!pEntry || ContentType(types, sPart) != kSignatureType)
      return Fail(kCorrupt, pwsWhy, L"the signature part /" + Wide(sPart) + L" is missing or of another type");
    pSignatures->emplace_back(pEntry->data.begin(), pEntry->data.end());
  }
  for (const SZipEntry& entry : entries) {
    if (entry.sName == "[Content_Types].xml" || entry.sName == "_rels/.rels" || !entry.sName.compare(0, 15, "_xmlsignatures/"))
      continue;
    pParts->push_back({entry.sName, ContentType(types, entry.sName), entry.data});
  }
  return S_OK;
}

HRESULT ReadPackage(EDocApp app, const std::vector<BYTE>& package, std::wstring* pwsText, std::wstring* pwsWhy) {
  const SLayout& layout = kLayouts[static_cast<int>(app)];
  std::vector<SZipEntry> entries;
  HRESULT hr = ReadZip(package, &entries, pwsWhy);
  if (FAILED(hr)) return hr;
  const CParts parts(std::move(entries));
  std::vector<SXmlToken> types, main, text;
  std::string sMainPart;
  hr = parts.Xml("[Content_Types].xml", &types, pwsWhy);
  if (SUCCEEDED(hr)) hr = Target(parts, "", "officeDocument", &sMainPart, pwsWhy);
  if (FAILED(hr)) return hr;
  const std::string sMainType = ContentType(types, sMainPart);
  if (sMainType.empty()) return Fail(kCorrupt, pwsWhy, L"the part /" + Wide(sMainPart) + L" has no content type");
  if (sMainType != layout.sMainType)
    return Fail(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), pwsWhy,
                L"the package is no " + std::wstring(layout.wszKind) + L": its main part is of the type \"" +
                    Wide(sMainType) + L"\"");
  hr = parts.Xml(sMainPart, &main, pwsWhy);
  const bool bOwnTextPart = !layout.sTextRel.empty();
  if (SUCCEEDED(hr) && bOwnTextPart) {
    std::string sTextPart;
    hr = Target(parts, sMainPart, layout.sTextRel, &sTextPart, pwsWhy);
    if (SUCCEEDED(hr) && ContentType(types, sTextPart) != layout.sTextType)
      hr = Fail(kCorrupt, pwsWhy, L"the part /" + Wide(sTextPart) + L" has a wrong content type");
    if (SUCCEEDED(hr)) hr = parts.Xml(sTextPart, &text, pwsWhy);
  }
  if (SUCCEEDED(hr)) *pwsText = FromUtf8(ParagraphText(bOwnTextPart ? text : main, layout.sParagraph));
  return hr;
}

}  // namespace Sim
