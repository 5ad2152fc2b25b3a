#pragma once
// The form region add-in of Outlook 2007 and later: Outlook asks it for the region's manifest,
// then, for each received message it is about to show, for the region's layout (where the
// message is analysed) and finally hands it the region to fill.
#include <windows.h>

#include <map>

#include "com/ComObject.h"
#include "com/OfficeAddIn.h"
#include "formregion/RegionItemData.h"
#include "hosts/FormRegion.h"

class CFormRegionAddIn final : public COfficeAddIn, public Outlook::_FormRegionStartup {
 public:
  explicit CFormRegionAddIn(IUnknown* pOuter);
  ~CFormRegionAddIn() override;
  VM_DELEGATING_IUNKNOWN

  // IDispatch: Outlook calls _FormRegionStartup through its slots; by name only the four members.
  VM_DISPATCH_METHODS

  // _FormRegionStartup
  STDMETHOD(GetFormRegionStorage)
  (BSTR FormRegionName, IDispatch* Item, LONG LCID, Outlook::OlFormRegionMode FormRegionMode,
   Outlook::OlFormRegionSize FormRegionSize, VARIANT* Storage) override;
  STDMETHOD(BeforeFormRegionShow)(IDispatch* FormRegion) override;
  STDMETHOD(GetFormRegionManifest)(BSTR FormRegionName, LONG LCID, VARIANT* Manifest) override;
  STDMETHOD(GetFormRegionIcon)
  (BSTR FormRegionName, LONG LCID, Outlook::OlFormRegionIcon Icon, VARIANT* Result) override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  // The analysis of each message between its storage request and its region's showing, by
  // the message's _MailItem pointer.
  CRITICAL_SECTION m_csRegions;
  std::map<IDispatch*, CRegionInfo> m_mapRegions;
};
