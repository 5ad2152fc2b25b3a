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

// The package of the document's text. Fails with E_INVALIDARG and a reason when the text holds a
// character that XML cannot carry.
HRESULT MakePackage(EDocApp app, const std::wstring& wsText, std::vector<BYTE>* pPackage, std::wstring* pwsWhy);

// The text of a package that MakePackage wrote for the same application. A package of another
// application gives ERROR_BAD_FORMAT, a damaged one ERROR_FILE_CORRUPT (or what ReadZip says),
// as HRESULTs, with *pwsWhy saying what is wrong.
HRESULT ReadPackage(EDocApp app, const std::vector<BYTE>& package, std::wstring* pwsText, std::wstring* pwsWhy);

}  // namespace Sim
