#pragma once
// Form regions as Outlook 2007 and later run them: the regions registered for a message class
// (HKCU, then HKLM "Software\Microsoft\Office\Outlook\FormRegions\<class>", the class and the
// classes it derives from), an add-in's manifest asked for and checked against the manifest
// schema, the region's layout asked for each item it is about to show and loaded as a Forms 2.0
// form, BeforeFormRegionShow, and the region's Close when its window or the reading pane lets go.
#include <oaidl.h>

#include <functional>
#include <string>
#include <vector>

#include "SimDispatch.h"

namespace Sim {

// What a manifest says of a region.
struct SRegionManifest {
  std::wstring wsName;
  std::wstring wsTitle;  // formRegionName
  std::wstring wsType;   // adjoining, separate, replace or replaceAll
  bool bCompose = true, bRead = true, bReadingPane = true;
};

// S_OK, or E_INVALIDARG with *pwsWhy saying what Outlook refuses in it.
HRESULT ParseRegionManifest(const std::wstring& wsXml, SRegionManifest* pManifest, std::wstring* pwsWhy);

// A region's layout given as GetFormRegionStorage's result: a byte array holding a compound file
// with a Forms 2.0 form. cpForm: the form (_UserForm with its Controls); a refused layout gives a
// failure (E_INVALIDARG, STG_E_DOCFILECORRUPT, ...) with the reason.
HRESULT LoadRegionForm(const VARIANT& storage, CComPtr<CDispatch>& cpForm, std::wstring* pwsWhy);

// What a scenario reads of a shown region: "LABEL | CAPTION enabled|disabled|hidden".
std::wstring RegionState(CDispatch* pRegion);
// The user presses the region's accept button: E_ACCESSDENIED when it is disabled or hidden.
HRESULT PressRegionButton(CDispatch* pRegion, std::wstring* pwsDetail);

class CFormRegionHost {
 public:
  using AddInLookup = std::function<IUnknown*(const std::wstring& wsProgId)>;
  using Logger = std::function<void(const std::wstring&)>;
  CFormRegionHost(AddInLookup addIns, Logger log) : m_addIns(std::move(addIns)), m_log(std::move(log)) {}

  // The regions of the item's message class shown for it (mode: OlFormRegionMode), each given
  // the window object as its Inspector (null in the reading pane).
  std::vector<CComPtr<CDispatch>> Show(IDispatch* pItem, const std::wstring& wsMessageClass, LONG lMode,
                                       IDispatch* pInspector);
  // Raises Close on each region; they are shown no more.
  void Close(std::vector<CComPtr<CDispatch>>& regions);
  // Sinks on the Close event of every region made, and on the Click of their buttons.
  size_t RegionSinks() const;
  size_t ButtonSinks() const;
  // Forgets the add-ins' definitions (Outlook quits).
  void Clear();

 private:
  struct SDefinition {
    std::wstring wsName;
    std::wstring wsProgId;
    SRegionManifest manifest;
    bool bValid = false;
  };
  const std::vector<SDefinition>& Definitions(const std::wstring& wsMessageClass);

  AddInLookup m_addIns;
  Logger m_log;
  std::vector<std::pair<std::wstring, std::vector<SDefinition>>> m_definitions;  // by message class
  std::vector<CComPtr<CDispatch>> m_made;                                        // every region, for the sink counts
};

}  // namespace Sim
