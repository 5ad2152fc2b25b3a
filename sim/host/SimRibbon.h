#pragma once
// Ribbon objects that Office hands to add-ins, and the reading of ribbon XML.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <ocidl.h>

#include "SimDispatch.h"
#include "SimRibbonWindow.h"
#include "hosts/OfficeAddIn.h"

namespace Sim {

using LogFn = std::function<void(const std::wstring&)>;

class CRibbonUI final : public CDispatchImpl<Office::IRibbonUI> {
 public:
  // Invalidate is logged with the ribbon id, since one add-in may have a ribbon in each kind of window.
  CRibbonUI(LogFn log, std::wstring wsProgId, std::wstring wsRibbonId);
  STDMETHOD(Invalidate)() override;
  STDMETHOD(InvalidateControl)(BSTR bsControlId) override;
  STDMETHOD(InvalidateControlMso)(BSTR bsControlId) override;
  STDMETHOD(ActivateTab)(BSTR bsControlId) override;
  STDMETHOD(ActivateTabMso)(BSTR bsControlId) override;
  STDMETHOD(ActivateTabQ)(BSTR bsControlId, BSTR bsNamespace) override;
  ULONG m_ulInvalidations = 0;

 private:
  LogFn m_log;
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
  std::wstring wsParentId;  // the id of the nearest enclosing element that has one
};
bool ParseRibbonXml(const std::wstring& wsXml, std::vector<SXmlElement>* pElements);

// What a window's ribbon showed for one control at its last refresh.
struct SControlState {
  std::wstring wsLabel;
  std::wstring wsTip;    // getSupertip's text
  std::wstring wsImage;  // getImage's picture ("WxH"), or "none" when it gave none
  bool bVisible = true;
  bool bEnabled = true;
  CComPtr<IPictureDisp> cpImage;  // getImage's picture
};

// The ribbons that a host's add-ins gave, one per add-in and ribbon id, and the calls that Office
// makes on them: callbacks by name through the add-in's IDispatch, with an IRibbonControl whose
// Context is the window the ribbon is shown in.
class CRibbonHost {
 public:
  explicit CRibbonHost(LogFn log) : m_log(std::move(log)) {}
  // Asks the add-in once for the ribbon of that id (GetCustomUI), then loads it: onLoad with an
  // IRibbonUI, loadImage for every image id its controls name.
  void Load(const std::wstring& wsProgId, IDispatch* pAddIn, const std::wstring& wsRibbonId);
  // Asks every control of the ribbons of that id for its state in the window, as Office draws them.
  void Refresh(const std::wstring& wsRibbonId, IDispatch* pWindow);
  // The add-in was released: its ribbons go.
  void Forget(const std::wstring& wsProgId);
  // Calls the onAction callback of a control (toggle buttons and check boxes get pressed true).
  HRESULT Click(const std::wstring& wsRibbonId, IDispatch* pWindow, const std::wstring& wsControlId);
  // The state of a control in a window's ribbon, refreshed now.
  HRESULT ControlState(const std::wstring& wsRibbonId, IDispatch* pWindow, const std::wstring& wsControlId,
                       SControlState* pState);
  // The picture that an add-in's loadImage gave for an image id of a ribbon, or null.
  IPictureDisp* Image(const std::wstring& wsRibbonId, const std::wstring& wsImageId) const;
  // The add-ins' groups of the ribbons of that id as the window shows them now (SimRibbonWindow.h).
  std::vector<SRibbonGroup> Groups(const std::wstring& wsRibbonId, IDispatch* pWindow);
  // How often an add-in's ribbon of that id was invalidated (Invalidate and InvalidateControl).
  ULONG Invalidations(const std::wstring& wsRibbonId) const;

 private:
  struct SControl {
    std::wstring wsElement;
    std::map<std::wstring, std::wstring> attributes;
    std::wstring wsParentId;
  };
  struct SRibbon {
    std::wstring wsProgId;
    std::wstring wsRibbonId;
    CComPtr<IDispatch> cpAddIn;
    std::vector<SControl> controls;  // none when the add-in has no ribbon of that id
    CComPtr<CRibbonUI> cpRibbonUI;
    std::map<std::wstring, CComPtr<IPictureDisp>> images;  // what loadImage gave, by image id
  };
  HRESULT InvokeCallback(SRibbon& ribbon, const std::wstring& wsName, std::vector<VARIANT> args, VARIANT* pResult);
  void LoadImages(SRibbon& ribbon, const std::wstring& wsCallback);
  static IPictureDisp* ImageOf(const SRibbon& ribbon, const SControl& control);
  std::vector<SRibbonItem> MenuEntries(const std::wstring& wsRibbonId, IDispatch* pWindow,
                                       const std::wstring& wsMenuId);
  const SControl* FindControl(const std::wstring& wsRibbonId, const std::wstring& wsControlId, SRibbon** ppRibbon);

  LogFn m_log;
  std::vector<SRibbon> m_ribbons;
};

// "WxH" of an icon or bitmap picture, as Office draws it on the ribbon; other pictures are refused.
HRESULT PictureSize(
    IPictureDisp* pPicture,
    std::wstring* pwsSize);  // The picture drawn on a transparent 32-bit bitmap of its size; the caller deletes it.
HRESULT PictureBitmap(IPictureDisp* pPicture, HBITMAP* phBitmap);
// Draws an icon picture at its size with its top left corner at (x, y).
HRESULT DrawPicture(HDC hdc, int x, int y, IPictureDisp* pPicture);

}  // namespace Sim
