#pragma once
// Ribbon objects that Office hands to add-ins, and the reading of ribbon XML.
#include <map>
#include <string>
#include <vector>

#include <ocidl.h>

#include "SimDispatch.h"
#include "hosts/OfficeAddIn.h"

namespace Sim {

class COutlook;

class CRibbonUI final : public CDispatchImpl<Office::IRibbonUI> {
 public:
  // Invalidate is logged with the ribbon id, since one add-in may have a ribbon in each kind of window.
  CRibbonUI(COutlook* pOutlook, std::wstring wsProgId, std::wstring wsRibbonId);
  STDMETHOD(Invalidate)() override;
  STDMETHOD(InvalidateControl)(BSTR bsControlId) override;
  STDMETHOD(InvalidateControlMso)(BSTR bsControlId) override;
  STDMETHOD(ActivateTab)(BSTR bsControlId) override;
  STDMETHOD(ActivateTabMso)(BSTR bsControlId) override;
  STDMETHOD(ActivateTabQ)(BSTR bsControlId, BSTR bsNamespace) override;
  ULONG m_ulInvalidations = 0;

 private:
  COutlook* m_pOutlook;
  std::wstring m_wsProgId;
  std::wstring m_wsRibbonId;
};

class CRibbonControl final : public CDispatchImpl<Office::IRibbonControl> {
 public:
  CRibbonControl(std::wstring wsId, std::wstring wsTag, IDispatch* pContext);
  STDMETHOD(get_Id)(BSTR* pbsId) override;
  STDMETHOD(get_Context)(IDispatch** ppContext) override;
  STDMETHOD(get_Tag)(BSTR* pbsTag) override;

 private:
  std::wstring m_wsId;
  std::wstring m_wsTag;
  CComPtr<IDispatch> m_cpContext;
};

// The elements of a ribbon XML document in document order, each with its attributes.
struct SXmlElement {
  std::wstring wsName;
  std::map<std::wstring, std::wstring> attributes;
};
bool ParseRibbonXml(const std::wstring& wsXml, std::vector<SXmlElement>* pElements);

// "WxH" of an icon or bitmap picture, as Office draws it on the ribbon; other pictures are refused.
HRESULT PictureSize(
    IPictureDisp* pPicture,
    std::wstring* pwsSize);  // The picture drawn on a transparent 32-bit bitmap of its size; the caller deletes it.
HRESULT PictureBitmap(IPictureDisp* pPicture, HBITMAP* phBitmap);

}  // namespace Sim
