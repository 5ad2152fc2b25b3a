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

CRibbonUI::CRibbonUI(COutlook* pOutlook, std::wstring wsProgId, std::wstring wsRibbonId)
    : CDispatchImpl({Office::IID_IRibbonUI}),
      m_pOutlook(pOutlook),
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
  m_pOutlook->Log(L"Invalidate " + m_wsProgId + L" " + m_wsRibbonId + L" (" + std::to_wstring(m_ulInvalidations) +
                  L")");
  return S_OK;
}

STDMETHODIMP CRibbonUI::InvalidateControl(BSTR bsControlId) {
  ++m_ulInvalidations;
  m_pOutlook->Log(L"InvalidateControl " + m_wsProgId + L" " + (bsControlId ? bsControlId : L""));
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
    if (chFirst == L'/' || chFirst == L'?' || chFirst == L'!') {
      pos = end;
      continue;
    }
    SXmlElement element;
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
    pElements->push_back(std::move(element));
    pos = wsXml.find(L'>', i);
  }
  return true;
}

}  // namespace Sim
