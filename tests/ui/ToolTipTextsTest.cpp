// The tooltip strings of the satellites: each belongs to a control of its template, and both
// languages have the same ones.
#include <set>

#include "UiFixture.h"
#include "ui/DialogIds.h"
#include "ui/MuiTemplate.h"

namespace {

class ToolTipTextsTest : public CUiTest {};

// The ids of the controls of template nID in hModule.
std::set<int> TemplateControls(HMODULE hModule, UINT nID) {
  std::set<int> ids;
  HRSRC hInfo = FindResourceW(hModule, MAKEINTRESOURCEW(nID), RT_DIALOG);
  if (!hInfo) return ids;
  for (const CTemplateItem& item :
       ParseDialogTemplate(LockResource(LoadResource(hModule, hInfo)), SizeofResource(hModule, hInfo)))
    ids.insert(item.nID);
  return ids;
}

TEST_F(ToolTipTextsTest, EveryTooltipBelongsToAControlOfItsTemplateInBothLanguages) {
  const HMODULE hEnglish = LoadResourceModule(m_hModule, kEnglishUS);
  const HMODULE hGerman = LoadResourceModule(m_hModule, kGermanGermany);
  ASSERT_TRUE(hEnglish && hGerman);
  int cTips = 0;
  for (UINT nTemplate = 101; nTemplate <= 116; ++nTemplate) {
    const std::set<int> controls = TemplateControls(hEnglish, nTemplate);
    EXPECT_EQ(controls, TemplateControls(hGerman, nTemplate)) << nTemplate;
    for (int nControl = 1; nControl < IDS_TOOLTIP_CONTROLS; ++nControl) {
      std::wstring wsEnglish, wsGerman;
      const bool bEnglish = FindModuleString(hEnglish, IDS_TOOLTIP(nTemplate, nControl), kEnglishUS, wsEnglish);
      const bool bGerman = FindModuleString(hGerman, IDS_TOOLTIP(nTemplate, nControl), kGermanGermany, wsGerman);
      if (!bEnglish && !bGerman) continue;
      ++cTips;
      EXPECT_TRUE(controls.count(nControl)) << nTemplate << "/" << nControl << " is no control of the template";
      EXPECT_TRUE(bEnglish && bGerman) << nTemplate << "/" << nControl << " lacks a language";
      EXPECT_NE(wsEnglish, wsGerman) << nTemplate << "/" << nControl;
    }
  }
  EXPECT_LT(0, cTips);
  FreeLibrary(hGerman);
  FreeLibrary(hEnglish);
}

}  // namespace
