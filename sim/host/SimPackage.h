#pragma once
// The document package of the simulated Word, Excel and PowerPoint: a minimal Open XML package
// (ECMA-376 Part 2, Open Packaging Conventions) in a ZIP archive, with [Content_Types].xml, the
// package relationships and the application's main part, which holds the document's text (one
// paragraph, row or slide paragraph a line).
#include <windows.h>

#include <string>
#include <vector>

namespace Sim {

enum class EDocApp { Word, Excel, PowerPoint };

// The package of the document's text, with its XML signatures (ECMA-376 Part 2, 13: the parts
// /_xmlsignatures/sigN.xml, related from the origin part /_xmlsignatures/origin.sigs, which the
// package relationships name). Fails with E_INVALIDARG and a reason when the text holds a
// character that XML cannot carry.
HRESULT MakePackage(EDocApp app, const std::wstring& wsText, std::vector<BYTE>* pPackage, std::wstring* pwsWhy,
                    const std::vector<std::string>& signatures = {});

// UTF-8 and back.
std::string Utf8(const std::wstring& ws);
std::wstring FromUtf8(const std::string& s);

// A part that a signature covers: every part but the package relationships and the signatures'
// own parts, with its content type.
struct SSignedPart {
  std::string sName;  // without a leading slash
  std::string sContentType;
  std::vector<BYTE> data;
};

// The parts a signature covers and the package's signature parts, from a package that
// ReadPackage accepts.
HRESULT ReadSignatureParts(const std::vector<BYTE>& package, std::vector<SSignedPart>* pParts,
                           std::vector<std::string>* pSignatures, std::wstring* pwsWhy);

// The text of a package that MakePackage wrote for the same application. A package of another
// application gives ERROR_BAD_FORMAT, a damaged one ERROR_FILE_CORRUPT (or what ReadZip says),
// as HRESULTs, with *pwsWhy saying what is wrong.
HRESULT ReadPackage(EDocApp app, const std::vector<BYTE>& package, std::wstring* pwsText, std::wstring* pwsWhy);

}  // namespace Sim
