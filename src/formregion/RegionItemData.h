#pragma once
// One shown form region: what the analysis found for its message, the region's controls, and
// the two event sinks (the region's Close, the accept button's Click) that keep it alive until
// the region closes.
#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "documents/CryptHandles.h"

// The analysis of one received message, kept from the region's storage request to its showing.
struct CRegionInfo {
  CComBSTR bsText;
  CCertContextHandle hCertificate;  // may be null
  DWORD dwKind = 0;
  CComPtr<IDispatch> cpMailItem;
  CComPtr<IDispatch> cpFormRegion;
};

class CRegionItemData : public std::enable_shared_from_this<CRegionItemData> {
 public:
  explicit CRegionItemData(CRegionInfo&& info) : m_info(std::move(info)) {}
  CRegionItemData(const CRegionItemData&) = delete;
  CRegionItemData& operator=(const CRegionItemData&) = delete;

  // Advises the region's events (the sink holds this object), then connects the controls.
  HRESULT ConnectRegion();
  // The accept button was pressed: the message's action runs; the button is disabled once a
  // certificate was installed.
  HRESULT OnRegionButtonClicked();

 private:
  // Fills the region's image, label and button for the message's kind.
  HRESULT Connect();
  HRESULT OnRegionEvent(DISPID dispIdMember);

  CRegionInfo m_info;
  BOOL m_bIsReply = FALSE;
  DWORD m_dwRegionCookie = 0;
  DWORD m_dwButtonCookie = 0;
  CComPtr<IDispatch> m_cpButton;  // _OlkCommandButton
  CComPtr<IDispatch> m_cpLabel;   // _OlkTextBox
};

// The accept button's OlkCommandButtonEvents: Click goes to its region; the sink holds the region.
class COlkButtonEventHandler {
 public:
  explicit COlkButtonEventHandler(std::shared_ptr<CRegionItemData> spOwner) : m_spOwner(std::move(spOwner)) {}
  HRESULT operator()(DISPID dispIdMember, DISPPARAMS* pParams) const;

 private:
  std::shared_ptr<CRegionItemData> m_spOwner;
};
