#include "formregion/FormRegionAddIn.h"

#include <string>

#include "com/CriticalSection.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "mail/ReceivedMail.h"
#include "module/AddInModule.h"
#include "module/ResourceStrings.h"
#include "module/RibbonSupport.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "res/resource.h"

namespace {

// A raw resource of the module.
bool LoadModuleData(UINT nID, const BYTE*& pData, DWORD& cb) {
  const HMODULE hModule = g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr;
  const HRSRC hInfo = FindResourceW(hModule, MAKEINTRESOURCEW(nID), MAKEINTRESOURCEW(10));
  const HGLOBAL hData = hInfo ? LoadResource(hModule, hInfo) : nullptr;
  pData = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
  cb = pData ? SizeofResource(hModule, hInfo) : 0;
  return pData != nullptr;
}

// The item's _MailItem interface; null for any other item.
CComPtr<IDispatch> MailItemOf(IDispatch* pItem) {
  CComPtr<IDispatch> cpMailItem;
  if (pItem) pItem->QueryInterface(Outlook::IID__MailItem, reinterpret_cast<void**>(&cpMailItem));
  return cpMailItem;
}

}  // namespace

CFormRegionAddIn::CFormRegionAddIn(IUnknown* pOuter) : COfficeAddIn(pOuter) { InitializeCriticalSection(&m_csRegions); }

CFormRegionAddIn::~CFormRegionAddIn() { DeleteCriticalSection(&m_csRegions); }

void* CFormRegionAddIn::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, Outlook::IID__FormRegionStartup))
    return static_cast<Outlook::_FormRegionStartup*>(this);
  if (IsEqualIID(riid, Office::IID_IDTExtensibility2)) return static_cast<Office::IDTExtensibility2*>(this);
  return nullptr;
}

HRESULT CFormRegionAddIn::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT CFormRegionAddIn::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT CFormRegionAddIn::GetIDsOfNames(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) {
  for (UINT i = 0; rgDispId && i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT CFormRegionAddIn::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT CFormRegionAddIn::GetFormRegionStorage(BSTR FormRegionName, IDispatch* Item, LONG, Outlook::OlFormRegionMode,
                                               Outlook::OlFormRegionSize, VARIANT* Storage) {
  CTraceScope trace("CFormRegionAddIn::GetFormRegionStorage");
  return GuardComEntry(trace, [&]() -> HRESULT {
    trace.Message("FormRegionName = %ls", FormRegionName ? FormRegionName : L"");
    if (!Storage) return E_POINTER;
    VariantInit(Storage);
    CComPtr<IDispatch> cpMailItem = MailItemOf(Item);
    if (!cpMailItem) return E_NOTIMPL;
    CRegionInfo info;
    HRESULT hr = AnalyzeMessage(cpMailItem, &info.dwKind, &info.bsText, &info.hCertificate);
    if (FAILED(hr)) {
      trace.Error("AnalyzeMessage()", hr);
      return E_NOTIMPL;
    }
    const BYTE* pData = nullptr;
    DWORD cb = 0;
    if (!LoadModuleData(IDR_FORMREGION_STORAGE, pData, cb)) {
      hr = HRESULT_FROM_WIN32(GetLastError());
      trace.Error("LoadResource(IDR_FORMREGION_STORAGE)", hr);
      return hr;
    }
    CSafeArray layout;
    hr = layout.CreateBytes(pData, cb);
    if (FAILED(hr)) {
      trace.Error("SafeArrayCreateVector()", hr);
      return hr;
    }
    info.cpMailItem = cpMailItem;
    try {
      CCriticalSectionLock lock(&m_csRegions);
      m_mapRegions.insert_or_assign(cpMailItem.Get(), std::move(info));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    Storage->vt = VT_ARRAY | VT_UI1;
    Storage->parray = layout.Detach();
    return S_OK;
  });
}

HRESULT CFormRegionAddIn::BeforeFormRegionShow(IDispatch* FormRegion) {
  CTraceScope trace("CFormRegionAddIn::BeforeFormRegionShow");
  return GuardComEntry(trace, [&]() -> HRESULT {
    CComPtr<IDispatch> cpItem;
    HRESULT hr = FormRegion ? LateBound::GetObjectProperty(FormRegion, L"Item", &cpItem) : E_POINTER;
    if (FAILED(hr)) {
      trace.Error("FormRegion->get_Item()", hr);
      return hr;
    }
    CComPtr<IDispatch> cpMailItem = MailItemOf(cpItem);
    if (!cpMailItem) return E_NOTIMPL;
    CRegionInfo info;
    {
      CCriticalSectionLock lock(&m_csRegions);
      auto it = m_mapRegions.find(cpMailItem.Get());
      if (it == m_mapRegions.end()) return E_NOTIMPL;
      info = std::move(it->second);
      m_mapRegions.erase(it);
    }
    info.cpFormRegion = FormRegion;
    auto spData = std::make_shared<CRegionItemData>(std::move(info));
    return spData->ConnectRegion();
  });
}

HRESULT CFormRegionAddIn::GetFormRegionManifest(BSTR FormRegionName, LONG, VARIANT* Manifest) {
  CTraceScope trace("CFormRegionAddIn::GetFormRegionManifest");
  return GuardComEntry(trace, [&]() -> HRESULT {
    trace.Message("FormRegionName = %ls", FormRegionName ? FormRegionName : L"");
    if (!Manifest) return E_POINTER;
    VariantInit(Manifest);
    CComBSTR bsXml;
    HRESULT hr = LoadRibbonXml(IDR_FORMREGION_MANIFEST, &bsXml);
    if (FAILED(hr)) {
      trace.Error("LoadRibbonXml(IDR_FORMREGION_MANIFEST)", hr);
      return hr;
    }
    std::wstring wsXml(bsXml.c_str());
    const size_t iName = wsXml.find(L"%ls");
    if (iName != std::wstring::npos) wsXml.replace(iName, 3, LoadResourceString(IDS_REGION_NAME));
    Manifest->bstrVal = SysAllocStringLen(wsXml.data(), static_cast<UINT>(wsXml.size()));
    if (!Manifest->bstrVal) return E_OUTOFMEMORY;
    Manifest->vt = VT_BSTR;
    return S_OK;
  });
}

HRESULT CFormRegionAddIn::GetFormRegionIcon(BSTR, LONG, Outlook::OlFormRegionIcon, VARIANT*) {
  CTraceScope trace("CFormRegionAddIn::GetFormRegionIcon");
  return E_NOTIMPL;
}
