#include "SimRibbon.h"

#include <olectl.h>

#include "SimOutlook.h"
#include "com/Bstr.h"

namespace Sim {
namespace {

std::wstring Unescape(std::wstring ws) {
  static const std::pair<const wchar_t*, const wchar_t*> kEntities[] = {
      {L"&lt;", L"<"}, {L"&gt;", L">"}, {L"&quot;", L"\""}, {L"&apos;", L"'"}, {L"&amp;", L"&"}};
  for (const auto& [wszFrom, wszTo] : kEntities) {
    for (size_t pos = ws.find(wszFrom); pos != std::wstring::npos; pos = ws.find(wszFrom, pos + 1)) {
      ws.replace(pos, wcslen(wszFrom), wszTo);
    }
  }
  return ws;
}

HRESULT CopyText(const std::wstring& ws, BSTR* pbs) {
  if (!pbs) return E_POINTER;
  *pbs = SysAllocStringLen(ws.data(), static_cast<UINT>(ws.size()));
  return *pbs ? S_OK : E_OUTOFMEMORY;
}

// The icon of a picture and its size in pixels; Office's ribbons take icons and bitmaps.
HRESULT PictureIcon(IPictureDisp* pPicture, HICON* phIcon, SIZE* pSize) {
  CComPtr<IPicture> cpPicture;
  HRESULT hr = pPicture ? pPicture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&cpPicture)) : E_POINTER;
  SHORT sType = PICTYPE_NONE;
  OLE_HANDLE hHandle = 0;
  if (SUCCEEDED(hr)) hr = cpPicture->get_Type(&sType);
  if (SUCCEEDED(hr)) hr = cpPicture->get_Handle(&hHandle);
  if (SUCCEEDED(hr) && (sType != PICTYPE_ICON || !hHandle)) hr = DISP_E_TYPEMISMATCH;
  if (FAILED(hr)) return hr;
  *phIcon = reinterpret_cast<HICON>(static_cast<UINT_PTR>(hHandle));
  ICONINFO info = {};
  if (!GetIconInfo(*phIcon, &info)) return HRESULT_FROM_WIN32(GetLastError());
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  *pSize = {bitmap.bmWidth, info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2};
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return S_OK;
}

}  // namespace

HRESULT PictureSize(IPictureDisp* pPicture, std::wstring* pwsSize) {
  HICON hIcon = nullptr;
  SIZE size = {};
  const HRESULT hr = PictureIcon(pPicture, &hIcon, &size);
  if (SUCCEEDED(hr)) *pwsSize = std::to_wstring(size.cx) + L"x" + std::to_wstring(size.cy);
  return hr;
}

HRESULT DrawPicture(HDC hdc, int x, int y, IPictureDisp* pPicture) {
  HICON hIcon = nullptr;
  SIZE size = {};
  const HRESULT hr = PictureIcon(pPicture, &hIcon, &size);
  if (SUCCEEDED(hr)) DrawIconEx(hdc, x, y, hIcon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
  return hr;
}

HRESULT PictureBitmap(IPictureDisp* pPicture, HBITMAP* phBitmap) {
  HICON hIcon = nullptr;
  SIZE size = {};
  const HRESULT hr = PictureIcon(pPicture, &hIcon, &size);
  if (FAILED(hr)) return hr;
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), size.cx, -size.cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* pvBits = nullptr;
  *phBitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pvBits, nullptr, 0);
  if (!*phBitmap) return E_OUTOFMEMORY;
  const HDC hdc = CreateCompatibleDC(nullptr);
  const HGDIOBJ hOld = SelectObject(hdc, *phBitmap);
  DrawIconEx(hdc, 0, 0, hIcon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
  SelectObject(hdc, hOld);
  DeleteDC(hdc);
  return S_OK;
}

CRibbonUI::CRibbonUI(LogFn log, std::wstring wsProgId, std::wstring wsRibbonId)
    : CDispatchImpl({Office::IID_IRibbonUI}),
      m_log(std::move(log)),
      m_wsProgId(std::move(wsProgId)),
      m_wsRibbonId(std::move(wsRibbonId)) {
  AddMember(L"Invalidate", 1, [this](SCall&) { return Invalidate(); });
  AddMember(L"InvalidateControl", 2, [this](SCall& call) {
    std::wstring wsId;
    HRESULT hr = ArgString(call, 0, &wsId);
    return SUCCEEDED(hr) ? InvalidateControl(CComBSTR(wsId.c_str())) : hr;
  });
}

STDMETHODIMP CRibbonUI::Invalidate() {
  ++m_ulInvalidations;
  m_log(L"Invalidate " + m_wsProgId + L" " + m_wsRibbonId + L" (" + std::to_wstring(m_ulInvalidations) + L")");
  return S_OK;
}

STDMETHODIMP CRibbonUI::InvalidateControl(BSTR bsControlId) {
  ++m_ulInvalidations;
  m_log(L"InvalidateControl " + m_wsProgId + L" " + (bsControlId ? bsControlId : L""));
  return S_OK;
}

STDMETHODIMP CRibbonUI::InvalidateControlMso(BSTR) { return S_OK; }
STDMETHODIMP CRibbonUI::ActivateTab(BSTR) { return S_OK; }
STDMETHODIMP CRibbonUI::ActivateTabMso(BSTR) { return S_OK; }
STDMETHODIMP CRibbonUI::ActivateTabQ(BSTR, BSTR) { return S_OK; }

CRibbonControl::CRibbonControl(std::wstring wsId, std::wstring wsTag, IDispatch* pContext)
    : CDispatchImpl({Office::IID_IRibbonControl}),
      m_wsId(std::move(wsId)),
      m_wsTag(std::move(wsTag)),
      m_cpContext(pContext) {
  AddMember(L"Id", 1, [this](SCall& call) { return SetBstr(call.pResult, m_wsId); });
  AddMember(L"Context", 2, [this](SCall& call) { return SetObject(call.pResult, m_cpContext); });
  AddMember(L"Tag", 3, [this](SCall& call) { return SetBstr(call.pResult, m_wsTag); });
}

STDMETHODIMP CRibbonControl::get_Id(BSTR* pbsId) { return CopyText(m_wsId, pbsId); }
STDMETHODIMP CRibbonControl::get_Tag(BSTR* pbsTag) { return CopyText(m_wsTag, pbsTag); }
STDMETHODIMP CRibbonControl::get_Context(IDispatch** ppContext) { return m_cpContext.CopyTo(ppContext); }

// Enough XML for ribbon documents: elements, attributes in either quote, comments, declarations.
bool ParseRibbonXml(const std::wstring& wsXml, std::vector<SXmlElement>* pElements) {
  std::vector<std::wstring> openIds;  // of the elements not yet closed, empty for those without
  size_t pos = 0;
  while ((pos = wsXml.find(L'<', pos)) != std::wstring::npos) {
    if (!wsXml.compare(pos, 4, L"<!--")) {
      pos = wsXml.find(L"-->", pos);
      if (pos == std::wstring::npos) return false;
      continue;
    }
    const size_t end = wsXml.find(L'>', pos);
    if (end == std::wstring::npos) return false;
    const wchar_t chFirst = wsXml[pos + 1];
    if (chFirst == L'/' && !openIds.empty()) openIds.pop_back();
    if (chFirst == L'/' || chFirst == L'?' || chFirst == L'!') {
      pos = end;
      continue;
    }
    SXmlElement element;
    for (auto it = openIds.rbegin(); it != openIds.rend() && element.wsParentId.empty(); ++it) element.wsParentId = *it;
    size_t i = pos + 1;
    while (i < end && !iswspace(wsXml[i]) && wsXml[i] != L'/') element.wsName += wsXml[i++];
    while (i < end) {
      while (i < end && (iswspace(wsXml[i]) || wsXml[i] == L'/')) ++i;
      const size_t eq = wsXml.find(L'=', i);
      if (i >= end || eq == std::wstring::npos || eq > end) break;
      std::wstring wsName = wsXml.substr(i, eq - i);
      while (!wsName.empty() && iswspace(wsName.back())) wsName.pop_back();
      size_t quote = eq + 1;
      while (quote < end && iswspace(wsXml[quote])) ++quote;
      const size_t close = wsXml.find(wsXml[quote], quote + 1);
      if (close == std::wstring::npos) return false;
      element.attributes[wsName] = Unescape(wsXml.substr(quote + 1, close - quote - 1));
      i = close + 1;
    }
    pos = wsXml.find(L'>', i);
    if (pos != std::wstring::npos && wsXml[pos - 1] != L'/') {
      auto itId = element.attributes.find(L"id");
      openIds.push_back(itId == element.attributes.end() ? L"" : itId->second);
    }
    pElements->push_back(std::move(element));
  }
  return true;
}

namespace {

// A callback's picture: its size as Office draws it, or why there is none.
HRESULT ResultPicture(const CVariant& varResult, CComPtr<IPictureDisp>& cpPicture, std::wstring* pwsSize) {
  HRESULT hr = varResult.vt == VT_DISPATCH && varResult.pdispVal ? S_OK : DISP_E_TYPEMISMATCH;
  if (SUCCEEDED(hr)) hr = varResult.pdispVal->QueryInterface(IID_IPictureDisp, reinterpret_cast<void**>(&cpPicture));
  if (SUCCEEDED(hr)) hr = PictureSize(cpPicture, pwsSize);
  return hr;
}

CComPtr<IDispatch> MakeControl(const std::map<std::wstring, std::wstring>& attributes, IDispatch* pWindow) {
  auto itTag = attributes.find(L"tag");
  auto cpControl =
      MakeObject<CRibbonControl>(attributes.at(L"id"), itTag == attributes.end() ? L"" : itTag->second, pWindow);
  return CComPtr<IDispatch>(static_cast<IDispatch*>(cpControl));
}

}  // namespace

void CRibbonHost::Load(const std::wstring& wsProgId, IDispatch* pAddIn, const std::wstring& wsRibbonId) {
  for (const SRibbon& ribbon : m_ribbons) {
    if (ribbon.wsProgId == wsProgId && ribbon.wsRibbonId == wsRibbonId) return;
  }
  m_ribbons.push_back({wsProgId, wsRibbonId, pAddIn, {}, {}, {}});
  SRibbon& ribbon = m_ribbons.back();
  CComPtr<Office::IRibbonExtensibility> cpExtensibility;
  if (FAILED(pAddIn->QueryInterface(Office::IID_IRibbonExtensibility, reinterpret_cast<void**>(&cpExtensibility))))
    return;
  CComBSTR bsXml;
  HRESULT hr = cpExtensibility->GetCustomUI(CComBSTR(wsRibbonId.c_str()), &bsXml);
  m_log(L"GetCustomUI " + wsProgId + L" " + wsRibbonId + L" " + HresultText(hr));
  std::vector<SXmlElement> elements;
  if (FAILED(hr) || !bsXml.Length() || !ParseRibbonXml(bsXml.c_str(), &elements)) return;
  std::wstring wsLoadImage;
  for (SXmlElement& element : elements) {
    if (element.wsName == L"customUI" && element.attributes.count(L"loadImage"))
      wsLoadImage = element.attributes[L"loadImage"];
    if (element.wsName == L"customUI" && element.attributes.count(L"onLoad")) {
      ribbon.cpRibbonUI.Attach(new CRibbonUI(m_log, wsProgId, wsRibbonId));
      CVariant varUI(static_cast<IDispatch*>(ribbon.cpRibbonUI));
      InvokeCallback(ribbon, element.attributes[L"onLoad"], {varUI}, nullptr);
    } else if (element.attributes.count(L"id")) {
      ribbon.controls.push_back({element.wsName, std::move(element.attributes), element.wsParentId});
    }
  }
  if (!wsLoadImage.empty()) LoadImages(ribbon, wsLoadImage);
}

void CRibbonHost::Refresh(const std::wstring& wsRibbonId, IDispatch* pWindow) {
  for (const SRibbon& ribbon : m_ribbons) {
    if (ribbon.wsRibbonId != wsRibbonId) continue;
    for (const SControl& control : ribbon.controls) {
      SControlState state;
      ControlState(wsRibbonId, pWindow, control.attributes.at(L"id"), &state);
    }
  }
}

void CRibbonHost::Forget(const std::wstring& wsProgId) {
  std::erase_if(m_ribbons, [&wsProgId](const SRibbon& ribbon) { return ribbon.wsProgId == wsProgId; });
}

HRESULT CRibbonHost::InvokeCallback(SRibbon& ribbon, const std::wstring& wsName, std::vector<VARIANT> args,
                                    VARIANT* pResult) {
  DISPID dispid = DISPID_UNKNOWN;
  LPOLESTR wszName = const_cast<LPOLESTR>(wsName.c_str());
  HRESULT hr = ribbon.cpAddIn->GetIDsOfNames(IID_NULL, &wszName, 1, LOCALE_USER_DEFAULT, &dispid);
  if (SUCCEEDED(hr)) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    hr = ribbon.cpAddIn->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, pResult, nullptr,
                                nullptr);
  }
  m_log(L"Callback " + wsName + L" " + HresultText(hr));
  return hr;
}

void CRibbonHost::LoadImages(SRibbon& ribbon, const std::wstring& wsCallback) {
  for (const SControl& control : ribbon.controls) {
    auto it = control.attributes.find(L"image");
    if (it == control.attributes.end() || ribbon.images.count(it->second)) continue;
    CVariant varResult;
    HRESULT hr = InvokeCallback(ribbon, wsCallback, {CVariant(it->second)}, &varResult);
    CComPtr<IPictureDisp> cpPicture;
    std::wstring wsSize;
    if (SUCCEEDED(hr)) hr = ResultPicture(varResult, cpPicture, &wsSize);
    m_log(L"Image " + it->second + L" " + (SUCCEEDED(hr) ? wsSize : HresultText(hr)));
    ribbon.images[it->second] = cpPicture;
  }
}

IPictureDisp* CRibbonHost::Image(const std::wstring& wsRibbonId, const std::wstring& wsImageId) const {
  for (const SRibbon& ribbon : m_ribbons) {
    if (ribbon.wsRibbonId != wsRibbonId) continue;
    auto itImage = ribbon.images.find(wsImageId);
    if (itImage != ribbon.images.end()) return itImage->second;
  }
  return nullptr;
}

ULONG CRibbonHost::Invalidations(const std::wstring& wsRibbonId) const {
  ULONG ulCount = 0;
  for (const SRibbon& ribbon : m_ribbons) {
    if (ribbon.wsRibbonId == wsRibbonId && ribbon.cpRibbonUI) ulCount += ribbon.cpRibbonUI->m_ulInvalidations;
  }
  return ulCount;
}

const CRibbonHost::SControl* CRibbonHost::FindControl(const std::wstring& wsRibbonId, const std::wstring& wsControlId,
                                                      SRibbon** ppRibbon) {
  for (SRibbon& ribbon : m_ribbons) {
    if (ribbon.wsRibbonId != wsRibbonId) continue;
    for (const SControl& control : ribbon.controls) {
      if (control.attributes.at(L"id") == wsControlId) {
        *ppRibbon = &ribbon;
        return &control;
      }
    }
  }
  return nullptr;
}

// Controls as Office names them: a split button by its button, the others by their own labels.
std::vector<SRibbonGroup> CRibbonHost::Groups(const std::wstring& wsRibbonId, IDispatch* pWindow) {
  const auto label = [&](const std::wstring& wsId, std::wstring* pwsLabel) {
    SControlState state;
    if (FAILED(ControlState(wsRibbonId, pWindow, wsId, &state)) || !state.bVisible) return false;
    *pwsLabel = state.wsLabel;
    return true;
  };
  std::vector<SRibbonGroup> groups;
  for (const SRibbon& ribbon : m_ribbons) {
    if (ribbon.wsRibbonId != wsRibbonId || !ribbon.cpAddIn) continue;
    for (const SControl& group : ribbon.controls) {
      SRibbonGroup ribbonGroup;
      const std::wstring& wsGroupId = group.attributes.at(L"id");
      if (group.wsElement != L"group" || !label(wsGroupId, &ribbonGroup.wsLabel)) continue;
      for (const SControl& control : ribbon.controls) {
        if (control.wsParentId != wsGroupId) continue;
        SRibbonItem item(control.attributes.at(L"id"));
        const SControl* pNamedBy = &control;
        const SControl* pMenu = nullptr;
        if (control.wsElement == L"splitButton") {
          item.lRole = ROLE_SYSTEM_SPLITBUTTON;
          for (const SControl& part : ribbon.controls) {
            if (part.wsParentId != item.wsControlId) continue;
            if (part.wsElement == L"button" && pNamedBy == &control) pNamedBy = &part;
            if (part.wsElement == L"menu" && !pMenu) pMenu = &part;
          }
        } else if (control.wsElement == L"menu") {
          item.lRole = ROLE_SYSTEM_BUTTONDROPDOWN;
          pMenu = &control;
        } else if (control.wsElement != L"button") {
          continue;
        }
        if (!label(pNamedBy->attributes.at(L"id"), &item.wsName)) continue;
        item.cpImage = ImageOf(ribbon, *pNamedBy);
        if (pMenu) {
          const std::wstring wsMenuId = pMenu->attributes.at(L"id");
          item.fnEntries = [this, wsRibbonId, pWindow, wsMenuId] { return MenuEntries(wsRibbonId, pWindow, wsMenuId); };
        }
        ribbonGroup.items.push_back(item);
      }
      groups.push_back(ribbonGroup);
    }
  }
  return groups;
}

IPictureDisp* CRibbonHost::ImageOf(const SRibbon& ribbon, const SControl& control) {
  auto itImage = control.attributes.find(L"image");
  if (itImage == control.attributes.end()) return nullptr;
  auto itPicture = ribbon.images.find(itImage->second);
  return itPicture == ribbon.images.end() ? nullptr : itPicture->second.Get();
}

// A menu's entries as Office shows them when it drops: the visible buttons named by their labels
// (asked now) with their images, and the separators.
std::vector<SRibbonItem> CRibbonHost::MenuEntries(const std::wstring& wsRibbonId, IDispatch* pWindow,
                                                  const std::wstring& wsMenuId) {
  std::vector<SRibbonItem> entries;
  SRibbon* pRibbon = nullptr;
  if (!FindControl(wsRibbonId, wsMenuId, &pRibbon)) return entries;
  for (const SControl& control : pRibbon->controls) {
    if (control.wsParentId != wsMenuId) continue;
    SRibbonItem entry(control.attributes.at(L"id"));
    if (control.wsElement == L"menuSeparator") {
      entry.lRole = ROLE_SYSTEM_SEPARATOR;
      entries.push_back(entry);
      continue;
    }
    SControlState state;
    if (control.wsElement != L"button" || FAILED(ControlState(wsRibbonId, pWindow, entry.wsControlId, &state)) ||
        !state.bVisible)
      continue;
    entry.wsName = state.wsLabel;
    entry.lRole = ROLE_SYSTEM_MENUITEM;
    entry.cpImage = state.cpImage ? state.cpImage.Get() : ImageOf(*pRibbon, control);
    const std::wstring wsId = entry.wsControlId;
    entry.fnAction = [this, wsRibbonId, pWindow, wsId] { Click(wsRibbonId, pWindow, wsId); };
    entries.push_back(entry);
  }
  return entries;
}

HRESULT CRibbonHost::ControlState(const std::wstring& wsRibbonId, IDispatch* pWindow, const std::wstring& wsControlId,
                                  SControlState* pState) {
  SRibbon* pRibbon = nullptr;
  const SControl* pControl = FindControl(wsRibbonId, wsControlId, &pRibbon);
  if (!pControl) return DISP_E_MEMBERNOTFOUND;
  *pState = {};
  auto itLabel = pControl->attributes.find(L"label");
  if (itLabel != pControl->attributes.end()) pState->wsLabel = itLabel->second;
  CVariant varControl(MakeControl(pControl->attributes, pWindow).Get());
  std::wstring wsDetails;
  for (const wchar_t* wszGetter : {L"getLabel", L"getSupertip", L"getVisible", L"getEnabled", L"getImage"}) {
    auto it = pControl->attributes.find(wszGetter);
    if (it == pControl->attributes.end()) continue;
    CVariant varResult;
    HRESULT hr = InvokeCallback(*pRibbon, it->second, {varControl}, &varResult);
    const std::wstring wsGetter = wszGetter;
    // An image callback that fails leaves the control without an image, as Office draws it.
    if (wsGetter == L"getImage") {
      CComPtr<IPictureDisp> cpPicture;
      if (FAILED(hr) || FAILED(ResultPicture(varResult, cpPicture, &pState->wsImage)))
        pState->wsImage = L"none";
      else
        pState->cpImage = cpPicture;
      wsDetails += L" image=" + pState->wsImage;
      continue;
    }
    if (FAILED(hr)) return hr;
    if ((wsGetter == L"getLabel" || wsGetter == L"getSupertip") && SUCCEEDED(varResult.ChangeType(VT_BSTR))) {
      (wsGetter == L"getLabel" ? pState->wsLabel : pState->wsTip) = varResult.bstrVal ? varResult.bstrVal : L"";
    } else if (SUCCEEDED(varResult.ChangeType(VT_BOOL))) {
      (wsGetter == L"getVisible" ? pState->bVisible : pState->bEnabled) = varResult.boolVal != VARIANT_FALSE;
    }
  }
  if (!pState->wsTip.empty()) wsDetails = L" tip=\"" + pState->wsTip + L"\"" + wsDetails;
  m_log(L"Control " + wsControlId + L" label=\"" + pState->wsLabel + L"\" visible=" + (pState->bVisible ? L"1" : L"0") +
        L" enabled=" + (pState->bEnabled ? L"1" : L"0") + wsDetails);
  return S_OK;
}

HRESULT CRibbonHost::Click(const std::wstring& wsRibbonId, IDispatch* pWindow, const std::wstring& wsControlId) {
  SRibbon* pRibbon = nullptr;
  const SControl* pControl = FindControl(wsRibbonId, wsControlId, &pRibbon);
  if (!pControl) return DISP_E_MEMBERNOTFOUND;
  auto it = pControl->attributes.find(L"onAction");
  if (it == pControl->attributes.end()) return DISP_E_MEMBERNOTFOUND;
  m_log(L"Click " + wsControlId);
  CVariant varControl(MakeControl(pControl->attributes, pWindow).Get());
  if (pControl->wsElement == L"toggleButton" || pControl->wsElement == L"checkBox") {
    return InvokeCallback(*pRibbon, it->second, {varControl, CVariant(true)}, nullptr);
  }
  return InvokeCallback(*pRibbon, it->second, {varControl}, nullptr);
}

}  // namespace Sim
