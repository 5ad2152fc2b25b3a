#include "SimFormRegion.h"

#include <olectl.h>
#include <shlwapi.h>

#include <algorithm>

#include "SimCompoundFile.h"
#include "SimContainer.h"
#include "SimOutlook.h"
#include "SimPackage.h"
#include "XmlC14n.h"
#include "hosts/FormRegion.h"

namespace Sim {
namespace {

constexpr wchar_t kRegionsKey[] = L"Software\\Microsoft\\Office\\Outlook\\FormRegions\\";
constexpr char kManifestNamespace[] = "http://schemas.microsoft.com/office/outlook/12/formregion.xsd";
// The manifest schema's elements of a region (those a region may name; the schema refuses others).
const char* const kManifestElements[] = {"name",
                                         "title",
                                         "formRegionName",
                                         "formRegionType",
                                         "showInspectorCompose",
                                         "showInspectorRead",
                                         "showReadingPane",
                                         "hidden",
                                         "exactMessageClass",
                                         "layoutFile",
                                         "addin",
                                         "icons",
                                         "stringOverride",
                                         "version",
                                         "description",
                                         "contact",
                                         "displayAfter",
                                         "customActions",
                                         "ribbonAccelerator",
                                         "showPrint",
                                         "formRegionMode"};
constexpr GUID kStdFont = {0x0BE35203, 0x8F91, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
constexpr GUID kStdPicture = {0x0BE35204, 0x8F91, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
constexpr WORD kCachedImage = 12;  // the Forms 2.0 image among the cached control classes
constexpr DWORD kSiteVisible = 0x2;
constexpr DWORD kSiteDefaultFlags = 0x33;
// Dispatch ids of the controls' members (stock ids of the Forms 2.0 and Outlook controls).
constexpr DISPID kDispEnabled = -514, kDispText = -517, kDispCaption = -518, kDispPicture = -523;
constexpr DISPID kDispName = static_cast<DISPID>(0x80010000), kDispVisible = static_cast<DISPID>(0x80010007);

// xsd:boolean.
bool ParseBoolean(const std::string& s, bool* pb) {
  if (s == "true" || s == "1") return *pb = true, true;
  if (s == "false" || s == "0") return *pb = false, true;
  return false;
}

// Little-endian fields of a Forms 2.0 stream; a read past the end leaves it failed.
class CFormReader {
 public:
  CFormReader(const BYTE* pb, size_t cb) : m_pb(pb), m_cb(cb) {}
  template <class T>
  T Take() {
    T value{};
    if (m_pos + sizeof(T) > m_cb) {
      m_bFailed = true;
      m_pos = m_cb;
      return value;
    }
    CopyMemory(&value, m_pb + m_pos, sizeof(T));
    m_pos += sizeof(T);
    return value;
  }
  std::vector<BYTE> Bytes(size_t cb) {
    if (m_pos + cb > m_cb) {
      m_bFailed = true;
      m_pos = m_cb;
      return {};
    }
    m_pos += cb;
    return {m_pb + m_pos - cb, m_pb + m_pos};
  }
  // Skips to the next multiple of n counted from base.
  void Align(size_t n, size_t base) {
    while ((m_pos - base) % n) Take<BYTE>();
  }
  size_t Pos() const { return m_pos; }
  bool Failed() const { return m_bFailed; }
  bool AtEnd() const { return m_pos == m_cb; }

 private:
  const BYTE* m_pb;
  size_t m_cb;
  size_t m_pos = 0;
  bool m_bFailed = false;
};

enum class EControl { kImage, kTextBox, kCommandButton };

// A control on a region's form: the extender's Name and Visible with the control's own members.
class CFormControl final : public CDispatch {
 public:
  CFormControl(EControl kind, std::wstring wsName, bool bVisible)
      : CDispatch({MSForms::IID_IControl, kind == EControl::kImage     ? MSForms::IID_IImage
                                          : kind == EControl::kTextBox ? Outlook::IID__OlkTextBox
                                                                       : Outlook::IID__OlkCommandButton}),
        m_kind(kind),
        m_wsName(std::move(wsName)) {
    m_bVisible = bVisible;
    AddMember(L"Name", kDispName, [this](SCall& call) { return SetBstr(call.pResult, m_wsName); });
    AddMember(L"Visible", kDispVisible, BoolMember(&m_bVisible));
    if (kind == EControl::kImage) {
      AddMember(L"Picture", kDispPicture, [this](SCall& call) { return PictureMember(call); });
    } else if (kind == EControl::kTextBox) {
      AddMember(L"Text", kDispText, TextMember(&m_wsText));
      AddMember(L"Value", 0, TextMember(&m_wsText));
    } else {
      AddEvents(Outlook::DIID_OlkCommandButtonEvents);
      AddMember(L"Caption", kDispCaption, TextMember(&m_wsCaption));
      AddMember(L"Enabled", kDispEnabled, BoolMember(&m_bEnabled));
    }
  }
  EControl Kind() const { return m_kind; }
  const std::wstring& Name() const { return m_wsName; }
  void SetPicture(IPictureDisp* pPicture) { m_cpPicture = pPicture; }

  bool m_bVisible = true;
  bool m_bEnabled = true;
  std::wstring m_wsText, m_wsCaption;

 private:
  MemberFn BoolMember(bool* pb) {
    return [pb](SCall& call) {
      if (!(call.wFlags & DISPATCH_PROPERTYPUT)) return SetBool(call.pResult, *pb);
      VARIANT* pValue = Arg(call, 0);
      CVariant value;
      HRESULT hr = pValue ? VariantChangeType(&value, pValue, 0, VT_BOOL) : DISP_E_PARAMNOTFOUND;
      if (SUCCEEDED(hr)) *pb = value.boolVal != VARIANT_FALSE;
      return hr;
    };
  }
  MemberFn TextMember(std::wstring* pws) {
    return [pws](SCall& call) {
      return call.wFlags & DISPATCH_PROPERTYPUT ? ArgString(call, 0, pws) : SetBstr(call.pResult, *pws);
    };
  }
  // A picture is put by reference and must be one (IPicture).
  HRESULT PictureMember(SCall& call) {
    if (!(call.wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) return SetObject(call.pResult, m_cpPicture);
    VARIANT* pValue = Arg(call, 0);
    if (!pValue || pValue->vt != VT_DISPATCH || !pValue->pdispVal) return DISP_E_TYPEMISMATCH;
    CComPtr<IPicture> cpPicture;
    HRESULT hr = pValue->pdispVal->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&cpPicture));
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    CComPtr<IPictureDisp> cpDisp;
    hr = cpPicture->QueryInterface(IID_IPictureDisp, reinterpret_cast<void**>(&cpDisp));
    if (SUCCEEDED(hr)) m_cpPicture = cpDisp;
    return hr;
  }

  EControl m_kind;
  std::wstring m_wsName;
  CComPtr<IPictureDisp> m_cpPicture;
};

// The form (_UserForm) and its Controls, by name in any letter case or by 0-based index.
class CRegionForm final : public CDispatch {
 public:
  CRegionForm() : CDispatch({MSForms::IID__UserForm}) {
    m_cpControls = MakeObject<CDispatch>(std::vector<IID>{MSForms::IID_Controls});
    m_cpControls->AddMember(L"Item", 0, [this](SCall& call) {
      VARIANT* pIndex = Arg(call, 0);
      if (!pIndex) return DISP_E_PARAMNOTFOUND;
      if (pIndex->vt == VT_BSTR) {
        for (CFormControl* pControl : m_controls) {
          if (!lstrcmpiW(pControl->Name().c_str(), pIndex->bstrVal)) return SetObject(call.pResult, pControl);
        }
        return E_INVALIDARG;
      }
      LONG l = 0;
      HRESULT hr = ArgLong(call, 0, &l);
      if (FAILED(hr)) return hr;
      if (l < 0 || static_cast<size_t>(l) >= m_controls.size()) return E_INVALIDARG;
      return SetObject(call.pResult, m_controls[l]);
    });
    m_cpControls->AddMember(L"Count", 0x60020000, [this](SCall& call) {
      return SetLong(call.pResult, static_cast<LONG>(m_controls.size()));
    });
    AddMember(L"Controls", 0x60020001, [this](SCall& call) { return SetObject(call.pResult, m_cpControls); });
  }
  CFormControl* Control(EControl kind) const {
    for (CFormControl* pControl : m_controls) {
      if (pControl->Kind() == kind) return pControl;
    }
    return nullptr;
  }
  std::vector<CComPtr<CFormControl>> m_controls;

 private:
  CComPtr<CDispatch> m_cpControls;
};

// A shown region (_FormRegion) with its FormRegionEvents.
class CFormRegion final : public CDispatch {
 public:
  CFormRegion(IDispatch* pItem, CRegionForm* pForm, LONG lMode, IDispatch* pInspector, const SRegionManifest& manifest)
      : CDispatch({Outlook::IID__FormRegion}), m_cpForm(pForm) {
    AddEvents(Outlook::DIID_FormRegionEvents);
    CComPtr<IDispatch> cpItem(pItem), cpInspector(pInspector);
    AddMember(L"Item", 0xFA60, [cpItem](SCall& call) { return SetObject(call.pResult, cpItem); });
    AddMember(L"Form", 0xFB39, [this](SCall& call) { return SetObject(call.pResult, m_cpForm); });
    AddMember(L"FormRegionMode", 0xFB34, [lMode](SCall& call) { return SetLong(call.pResult, lMode); });
    AddMember(L"Inspector", 0xF03E, [cpInspector](SCall& call) { return SetObject(call.pResult, cpInspector); });
    AddMember(L"InternalName", 0x2102, [name = manifest.wsName](SCall& call) { return SetBstr(call.pResult, name); });
    AddMember(L"DisplayName", 0x3001, [title = manifest.wsTitle](SCall& call) { return SetBstr(call.pResult, title); });
  }
  CRegionForm* Form() const { return m_cpForm; }
  bool m_bClosed = false;

 private:
  CComPtr<CRegionForm> m_cpForm;
};

HRESULT Refuse(std::wstring* pwsWhy, const std::wstring& wsWhy, HRESULT hr = E_INVALIDARG) {
  *pwsWhy = wsWhy;
  return hr;
}

// The bytes of a byte array, as GetFormRegionStorage returns the layout.
HRESULT StorageBytes(const VARIANT& storage, std::vector<BYTE>* pBytes, std::wstring* pwsWhy) {
  if (storage.vt != (VT_ARRAY | VT_UI1) || !storage.parray || SafeArrayGetDim(storage.parray) != 1)
    return Refuse(pwsWhy, L"the storage is no byte array", DISP_E_TYPEMISMATCH);
  LONG lLower = 0, lUpper = -1;
  SafeArrayGetLBound(storage.parray, 1, &lLower);
  SafeArrayGetUBound(storage.parray, 1, &lUpper);
  void* pData = nullptr;
  HRESULT hr = SafeArrayAccessData(storage.parray, &pData);
  if (FAILED(hr)) return hr;
  const BYTE* pb = static_cast<const BYTE*>(pData);
  pBytes->assign(pb, pb + (lUpper - lLower + 1));
  SafeArrayUnaccessData(storage.parray);
  return S_OK;
}

struct SSite {
  std::wstring wsName;
  WORD wClass = 0x7FFF;
  DWORD dwFlags = kSiteDefaultFlags;
  DWORD cbObject = 0;
};

// The FormControl of stream "f": the properties this layout may store, its font, class table and sites.
HRESULT ReadFormControl(const std::vector<BYTE>& f, std::vector<CLSID>* pClasses, std::vector<SSite>* pSites,
                        std::wstring* pwsWhy) {
  constexpr DWORD kNextId = 0x8, kBooleans = 0x40, kDisplayedSize = 0x400, kFont = 0x100000;
  CFormReader r(f.data(), f.size());
  if (r.Take<BYTE>() != 0 || r.Take<BYTE>() != 4) return Refuse(pwsWhy, L"the form is not of version 4.0");
  const WORD cbForm = r.Take<WORD>();
  const size_t posMask = r.Pos();
  const DWORD dwMask = r.Take<DWORD>();
  if (dwMask & ~(kNextId | kBooleans | kDisplayedSize | kFont))
    return Refuse(pwsWhy, L"form properties the simulator does not read: " + HresultText(dwMask));
  const size_t posData = r.Pos();
  DWORD dwBooleans = 0x4;
  if (dwMask & kNextId) r.Take<DWORD>();
  if (dwMask & kBooleans) dwBooleans = r.Take<DWORD>();
  if (dwMask & kFont) {
    r.Align(2, posData);
    if (r.Take<WORD>() != 0xFFFF) return Refuse(pwsWhy, L"the form's font is not in its stream data");
  }
  r.Align(4, posData);
  if (dwMask & kDisplayedSize) r.Bytes(8);
  if (r.Pos() - posMask != cbForm) return Refuse(pwsWhy, L"the form's size field is wrong");
  if (dwMask & kFont) {
    const std::vector<BYTE> guid = r.Bytes(sizeof(GUID));
    if (guid.size() != sizeof(GUID) || !IsEqualGUID(*reinterpret_cast<const GUID*>(guid.data()), kStdFont))
      return Refuse(pwsWhy, L"the form's font is no StdFont");
    if (r.Take<BYTE>() != 1) return Refuse(pwsWhy, L"the form's font is not of version 1");
    r.Bytes(2 + 1 + 2 + 4);
    r.Bytes(r.Take<BYTE>());
  }
  constexpr DWORD kDesignExtender = 0x4000, kNoClassTable = 0x8000;
  if (dwBooleans & kDesignExtender) return Refuse(pwsWhy, L"a design extender the simulator does not read");
  if (!(dwBooleans & kNoClassTable)) {
    for (WORD i = 0, c = r.Take<WORD>(); i < c && !r.Failed(); ++i) {
      if (r.Take<WORD>() != 0 || r.Take<WORD>() != 20 || r.Take<DWORD>() != 0x1)
        return Refuse(pwsWhy, L"class table entries other than a class id");
      const std::vector<BYTE> clsid = r.Bytes(sizeof(CLSID));
      if (!r.Failed()) pClasses->push_back(*reinterpret_cast<const CLSID*>(clsid.data()));
    }
  }
  const DWORD cSites = r.Take<DWORD>(), cbSites = r.Take<DWORD>();
  const size_t posSites = r.Pos();
  for (DWORD cTyped = 0; cTyped < cSites && !r.Failed();) {
    const BYTE bDepth = r.Take<BYTE>(), bTypeOrCount = r.Take<BYTE>();
    const BYTE bCount = bTypeOrCount & 0x80 ? bTypeOrCount & 0x7F : 1;
    const BYTE bType = bTypeOrCount & 0x80 ? r.Take<BYTE>() : bTypeOrCount;
    if (bDepth != 0 || bType != 1 || !bCount) return Refuse(pwsWhy, L"sites other than OLE controls on the form");
    cTyped += bCount;
  }
  r.Align(4, posSites);
  constexpr DWORD kName = 0x1, kId = 0x4, kFlags = 0x10, kObjectSize = 0x20, kTabIndex = 0x40, kClass = 0x80,
                  kPosition = 0x100;
  for (DWORD i = 0; i < cSites && !r.Failed(); ++i) {
    if (r.Take<WORD>() != 0) return Refuse(pwsWhy, L"a site of another version");
    const WORD cbSite = r.Take<WORD>();
    const size_t posSite = r.Pos();
    const DWORD dwSiteMask = r.Take<DWORD>();
    if (dwSiteMask & ~(kName | kId | kFlags | kObjectSize | kTabIndex | kClass | kPosition))
      return Refuse(pwsWhy, L"site properties the simulator does not read: " + HresultText(dwSiteMask));
    const size_t posBlock = r.Pos();
    SSite site;
    const DWORD dwName = dwSiteMask & kName ? r.Take<DWORD>() : 0;
    if (dwSiteMask & kId) r.Take<DWORD>();
    if (dwSiteMask & kFlags) site.dwFlags = r.Take<DWORD>();
    if (dwSiteMask & kObjectSize) site.cbObject = r.Take<DWORD>();
    if (dwSiteMask & kTabIndex) r.Take<SHORT>();
    if (dwSiteMask & kClass) r.Align(2, posBlock), site.wClass = r.Take<WORD>();
    r.Align(4, posBlock);
    const size_t cbName = dwName & 0x7FFFFFFF;
    const std::vector<BYTE> name = r.Bytes(cbName);
    if (dwName & 0x80000000) {
      site.wsName.assign(name.begin(), name.end());
    } else {
      site.wsName.assign(reinterpret_cast<const wchar_t*>(name.data()), name.size() / sizeof(wchar_t));
    }
    r.Align(4, posBlock);
    if (dwSiteMask & kPosition) r.Bytes(8);
    if (r.Pos() - posSite != cbSite) return Refuse(pwsWhy, L"a site's size field is wrong");
    pSites->push_back(std::move(site));
  }
  if (r.Failed() || r.Pos() - posSites != cbSites || !r.AtEnd())
    return Refuse(pwsWhy, L"the form's stream is cut short or has more than its sites");
  return S_OK;
}

// An ImageControl of stream "o" with its picture, which must load.
HRESULT ReadImage(const std::vector<BYTE>& data, CFormControl* pImage, std::wstring* pwsWhy) {
  constexpr DWORD kSize = 0x200, kPicture = 0x400;
  CFormReader r(data.data(), data.size());
  if (r.Take<BYTE>() != 0 || r.Take<BYTE>() != 2) return Refuse(pwsWhy, L"the image is not of version 2.0");
  const WORD cbImage = r.Take<WORD>();
  const size_t posMask = r.Pos();
  const DWORD dwMask = r.Take<DWORD>();
  if (dwMask & ~(kSize | kPicture))
    return Refuse(pwsWhy, L"image properties the simulator does not read: " + HresultText(dwMask));
  const size_t posData = r.Pos();
  if ((dwMask & kPicture) && r.Take<WORD>() != 0xFFFF) return Refuse(pwsWhy, L"the image's picture is not in its data");
  r.Align(4, posData);
  if (dwMask & kSize) r.Bytes(8);
  if (r.Pos() - posMask != cbImage) return Refuse(pwsWhy, L"the image's size field is wrong");
  if (dwMask & kPicture) {
    const std::vector<BYTE> guid = r.Bytes(sizeof(GUID));
    if (guid.size() != sizeof(GUID) || !IsEqualGUID(*reinterpret_cast<const GUID*>(guid.data()), kStdPicture))
      return Refuse(pwsWhy, L"the image's picture is no StdPicture");
    const DWORD dwPreamble = r.Take<DWORD>(), cbPicture = r.Take<DWORD>();
    const std::vector<BYTE> picture = r.Bytes(cbPicture);
    if (dwPreamble != 0x0000746C || r.Failed()) return Refuse(pwsWhy, L"the image's picture is damaged");
    CComPtr<IStream> cpStream;
    cpStream.Attach(SHCreateMemStream(picture.data(), static_cast<UINT>(picture.size())));
    CComPtr<IPictureDisp> cpPicture;
    HRESULT hr = cpStream ? OleLoadPicture(cpStream, static_cast<LONG>(picture.size()), FALSE, IID_IPictureDisp,
                                           reinterpret_cast<void**>(&cpPicture))
                          : E_OUTOFMEMORY;
    if (FAILED(hr)) return Refuse(pwsWhy, L"the image's picture does not load", hr);
    pImage->SetPicture(cpPicture);
  }
  return r.AtEnd() && !r.Failed() ? S_OK : Refuse(pwsWhy, L"the image's data has more than its properties");
}

}  // namespace

HRESULT ParseRegionManifest(const std::wstring& wsXml, SRegionManifest* pManifest, std::wstring* pwsWhy) {
  auto spRoot = XmlDsig::ParseXml(Utf8(wsXml));
  if (!spRoot) return Refuse(pwsWhy, L"the manifest is not well-formed");
  if (spRoot->LocalName() != "FormRegion" || spRoot->NamespaceUri() != kManifestNamespace)
    return Refuse(pwsWhy, L"the manifest's root is not a FormRegion of the manifest schema");
  std::vector<std::string> seen;
  for (const auto& spChild : spRoot->children) {
    if (spChild->kind == XmlDsig::SXmlNode::kText) {
      if (spChild->sText.find_first_not_of(" \t\r\n") != std::string::npos)
        return Refuse(pwsWhy, L"text in the FormRegion element");
      continue;
    }
    if (spChild->kind != XmlDsig::SXmlNode::kElement) continue;
    const std::string sName = spChild->LocalName();
    if (spChild->NamespaceUri() != kManifestNamespace ||
        std::none_of(std::begin(kManifestElements), std::end(kManifestElements),
                     [&](const char* sz) { return sName == sz; }))
      return Refuse(pwsWhy, L"the element " + FromUtf8(sName) + L" is not in the manifest schema");
    if (std::find(seen.begin(), seen.end(), sName) != seen.end())
      return Refuse(pwsWhy, L"the element " + FromUtf8(sName) + L" is there twice");
    seen.push_back(sName);
    const std::string sText = XmlDsig::TextOf(spChild.get());
    bool* pbFlag = sName == "showInspectorCompose" ? &pManifest->bCompose
                   : sName == "showInspectorRead"  ? &pManifest->bRead
                   : sName == "showReadingPane"    ? &pManifest->bReadingPane
                                                   : nullptr;
    if (pbFlag && !ParseBoolean(sText, pbFlag))
      return Refuse(pwsWhy, L"the value of " + FromUtf8(sName) + L" is no boolean");
    if (sName == "name") pManifest->wsName = FromUtf8(sText);
    if (sName == "formRegionName") pManifest->wsTitle = FromUtf8(sText);
    if (sName == "formRegionType") pManifest->wsType = FromUtf8(sText);
  }
  if (pManifest->wsName.empty()) return Refuse(pwsWhy, L"the manifest names no region");
  const std::wstring& wsType = pManifest->wsType;
  if (wsType != L"adjoining" && wsType != L"separate" && wsType != L"replace" && wsType != L"replaceAll")
    return Refuse(pwsWhy, L"the region's type is not one of the schema's");
  return S_OK;
}

HRESULT LoadRegionForm(const VARIANT& storage, CComPtr<CDispatch>& cpResult, std::wstring* pwsWhy) {
  std::vector<BYTE> file;
  HRESULT hr = StorageBytes(storage, &file, pwsWhy);
  if (FAILED(hr)) return hr;
  if (!IsCompoundFile(file)) return Refuse(pwsWhy, L"the storage is no compound file", STG_E_FILEALREADYEXISTS);
  hr = CheckCompoundFile(file, pwsWhy);
  if (FAILED(hr)) return hr;
  HGLOBAL hGlobal = GlobalAlloc(GMEM_MOVEABLE, file.size());
  if (!hGlobal) return E_OUTOFMEMORY;
  CopyMemory(GlobalLock(hGlobal), file.data(), file.size());
  GlobalUnlock(hGlobal);
  CComPtr<ILockBytes> cpBytes;
  hr = CreateILockBytesOnHGlobal(hGlobal, TRUE, &cpBytes);
  if (FAILED(hr)) {
    GlobalFree(hGlobal);
    return hr;
  }
  CComPtr<IStorage> cpStorage;
  hr = StgOpenStorageOnILockBytes(cpBytes, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &cpStorage);
  if (FAILED(hr)) return Refuse(pwsWhy, L"the storage does not open", hr);
  STATSTG stat = {};
  hr = cpStorage->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  if (!IsEqualCLSID(stat.clsid, MSForms::CLSID_UserForm)) return Refuse(pwsWhy, L"the storage holds no Forms 2.0 form");
  std::vector<BYTE> f, o;
  hr = ReadStream(cpStorage, L"f", &f);
  if (FAILED(hr)) return Refuse(pwsWhy, L"the form has no stream \"f\"", hr);
  std::vector<CLSID> classes;
  std::vector<SSite> sites;
  hr = ReadFormControl(f, &classes, &sites, pwsWhy);
  if (FAILED(hr)) return hr;
  DWORD cbObjects = 0;
  for (const SSite& site : sites) cbObjects += site.cbObject;
  if (cbObjects) {
    hr = ReadStream(cpStorage, L"o", &o);
    if (FAILED(hr)) return Refuse(pwsWhy, L"the form has no stream \"o\"", hr);
  }
  if (o.size() != cbObjects) return Refuse(pwsWhy, L"the stream \"o\" does not hold the controls' data");

  auto cpForm = MakeObject<CRegionForm>();
  size_t posObject = 0;
  for (const SSite& site : sites) {
    EControl kind;
    if (site.wClass == kCachedImage) {
      kind = EControl::kImage;
    } else if (site.wClass >= 0x8000 && site.wClass - 0x8000u < classes.size() &&
               (IsEqualCLSID(classes[site.wClass - 0x8000], Outlook::CLSID_OlkTextBox) ||
                IsEqualCLSID(classes[site.wClass - 0x8000], Outlook::CLSID_OlkCommandButton))) {
      kind = IsEqualCLSID(classes[site.wClass - 0x8000], Outlook::CLSID_OlkTextBox) ? EControl::kTextBox
                                                                                    : EControl::kCommandButton;
    } else {
      return Refuse(pwsWhy, L"the control " + site.wsName + L" is of a class the simulator does not make");
    }
    if (site.wsName.empty()) return Refuse(pwsWhy, L"a control without a name");
    for (CFormControl* pOther : cpForm->m_controls) {
      if (!lstrcmpiW(pOther->Name().c_str(), site.wsName.c_str()))
        return Refuse(pwsWhy, L"two controls named " + site.wsName);
    }
    auto cpControl = MakeObject<CFormControl>(kind, site.wsName, (site.dwFlags & kSiteVisible) != 0);
    const std::vector<BYTE> data(o.begin() + posObject, o.begin() + posObject + site.cbObject);
    posObject += site.cbObject;
    if (kind != EControl::kImage && !data.empty())
      return Refuse(pwsWhy, L"data of Outlook's control " + site.wsName + L" that the simulator does not read");
    if (kind == EControl::kImage && !data.empty()) {
      hr = ReadImage(data, cpControl, pwsWhy);
      if (FAILED(hr)) return hr;
    }
    cpForm->m_controls.push_back(cpControl);
  }
  cpResult = cpForm.Get();
  return S_OK;
}

std::wstring RegionState(CDispatch* pRegion) {
  const CRegionForm* pForm = static_cast<CFormRegion*>(pRegion)->Form();
  const CFormControl* pLabel = pForm->Control(EControl::kTextBox);
  const CFormControl* pButton = pForm->Control(EControl::kCommandButton);
  std::wstring ws = pLabel ? pLabel->m_wsText : L"(no label)";
  if (!pButton) return ws + L" | (no button)";
  const std::wstring wsState = !pButton->m_bVisible ? L"hidden" : pButton->m_bEnabled ? L"enabled" : L"disabled";
  return ws + L" | " + (pButton->m_wsCaption.empty() ? wsState : pButton->m_wsCaption + L" " + wsState);
}

HRESULT PressRegionButton(CDispatch* pRegion, std::wstring* pwsDetail) {
  CFormControl* pButton = static_cast<CFormRegion*>(pRegion)->Form()->Control(EControl::kCommandButton);
  if (!pButton || !pButton->m_bVisible || !pButton->m_bEnabled)
    return *pwsDetail = L"the region's button cannot be pressed", E_ACCESSDENIED;
  const HRESULT hr = pButton->Fire(Outlook::DIID_OlkCommandButtonEvents, Outlook::DISPID_OlkClick);
  *pwsDetail = L"Click " + HresultText(hr) + L" to " +
               std::to_wstring(pButton->SinkCount(Outlook::DIID_OlkCommandButtonEvents)) + L" sinks";
  return S_OK;
}

const std::vector<CFormRegionHost::SDefinition>& CFormRegionHost::Definitions(const std::wstring& wsMessageClass) {
  for (const auto& [wsClass, definitions] : m_definitions) {
    if (!lstrcmpiW(wsClass.c_str(), wsMessageClass.c_str())) return definitions;
  }
  std::vector<SDefinition> definitions;
  for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(hRoot, (kRegionsKey + wsMessageClass).c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) continue;
    for (DWORD i = 0;; ++i) {
      wchar_t wszName[256], wszData[512] = {};
      DWORD cchName = 256, cbData = sizeof wszData - sizeof(wchar_t), dwType = 0;
      if (RegEnumValueW(hKey, i, wszName, &cchName, nullptr, &dwType, reinterpret_cast<BYTE*>(wszData), &cbData) !=
          ERROR_SUCCESS)
        break;
      if (dwType != REG_SZ) continue;
      SDefinition definition;
      definition.wsName = wszName;
      definition.wsProgId = wszData;
      if (definition.wsProgId.empty() || definition.wsProgId[0] != L'=') {
        m_log(L"Form region " + definition.wsName + L": manifest files are not read by the simulator");
        continue;
      }
      definition.wsProgId.erase(0, 1);
      CComPtr<Outlook::_FormRegionStartup> cpStartup;
      IUnknown* pAddIn = m_addIns(definition.wsProgId);
      HRESULT hr = pAddIn
                       ? pAddIn->QueryInterface(Outlook::IID__FormRegionStartup, reinterpret_cast<void**>(&cpStartup))
                       : E_NOINTERFACE;
      CVariant manifest;
      if (SUCCEEDED(hr)) {
        BSTR bsName = SysAllocString(definition.wsName.c_str());
        hr = cpStartup->GetFormRegionManifest(bsName, GetUserDefaultLCID(), &manifest);
        SysFreeString(bsName);
      }
      std::wstring wsWhy;
      if (SUCCEEDED(hr) && manifest.vt != VT_BSTR) hr = DISP_E_TYPEMISMATCH, wsWhy = L"the manifest is no string";
      if (SUCCEEDED(hr)) hr = ParseRegionManifest(manifest.bstrVal, &definition.manifest, &wsWhy);
      definition.bValid = SUCCEEDED(hr);
      m_log(L"Form region " + definition.wsName + L" of " + definition.wsProgId + L": manifest " +
            (SUCCEEDED(hr) ? L"\"" + definition.manifest.wsTitle + L"\" " + definition.manifest.wsType
                           : L"refused " + HresultText(hr) + (wsWhy.empty() ? L"" : L" (" + wsWhy + L")")));
      definitions.push_back(std::move(definition));
    }
    RegCloseKey(hKey);
  }
  m_definitions.emplace_back(wsMessageClass, std::move(definitions));
  return m_definitions.back().second;
}

std::vector<CComPtr<CDispatch>> CFormRegionHost::Show(IDispatch* pItem, const std::wstring& wsMessageClass, LONG lMode,
                                                      IDispatch* pInspector) {
  std::vector<CComPtr<CDispatch>> shown;
  // A region of a class is shown for the classes derived from it ("IPM.Note.SMIME" from "IPM.Note").
  for (std::wstring wsClass = wsMessageClass; !wsClass.empty();) {
    for (const SDefinition& definition : Definitions(wsClass)) {
      const SRegionManifest& manifest = definition.manifest;
      if (!definition.bValid || !(lMode == Outlook::olFormRegionPreview ? manifest.bReadingPane
                                  : lMode == Outlook::olFormRegionRead  ? manifest.bRead
                                                                        : manifest.bCompose))
        continue;
      CComPtr<Outlook::_FormRegionStartup> cpStartup;
      IUnknown* pAddIn = m_addIns(definition.wsProgId);
      if (!pAddIn ||
          FAILED(pAddIn->QueryInterface(Outlook::IID__FormRegionStartup, reinterpret_cast<void**>(&cpStartup))))
        continue;
      CVariant storage;
      BSTR bsName = SysAllocString(definition.wsName.c_str());
      const Outlook::OlFormRegionSize size =
          manifest.wsType == L"adjoining" ? Outlook::olFormRegionTypeAdjoining : Outlook::olFormRegionTypeSeparate;
      HRESULT hr = cpStartup->GetFormRegionStorage(bsName, pItem, GetUserDefaultLCID(),
                                                   static_cast<Outlook::OlFormRegionMode>(lMode), size, &storage);
      SysFreeString(bsName);
      std::wstring wsWhy;
      CComPtr<CDispatch> cpForm;
      if (SUCCEEDED(hr)) hr = LoadRegionForm(storage, cpForm, &wsWhy);
      if (FAILED(hr)) {
        m_log(L"Form region " + definition.wsName + L": no region " + HresultText(hr) +
              (wsWhy.empty() ? L"" : L" (" + wsWhy + L")"));
        continue;
      }
      auto cpRegion =
          MakeObject<CFormRegion>(pItem, static_cast<CRegionForm*>(cpForm.Get()), lMode, pInspector, manifest);
      hr = cpStartup->BeforeFormRegionShow(cpRegion);
      m_log(L"Form region " + definition.wsName + L" shown: BeforeFormRegionShow " + HresultText(hr));
      m_made.push_back(cpRegion.Get());
      shown.push_back(cpRegion.Get());
    }
    const size_t iDot = wsClass.rfind(L'.');
    wsClass = iDot == std::wstring::npos ? L"" : wsClass.substr(0, iDot);
  }
  return shown;
}

void CFormRegionHost::Close(std::vector<CComPtr<CDispatch>>& regions) {
  for (CDispatch* pRegion : regions) {
    auto* pFormRegion = static_cast<CFormRegion*>(pRegion);
    if (std::exchange(pFormRegion->m_bClosed, true)) continue;
    m_log(L"Form region closed: Close " +
          HresultText(pRegion->Fire(Outlook::DIID_FormRegionEvents, Outlook::DISPID_FormRegionClose)));
  }
  regions.clear();
}

size_t CFormRegionHost::RegionSinks() const {
  size_t c = 0;
  for (CDispatch* pRegion : m_made) c += pRegion->SinkCount(Outlook::DIID_FormRegionEvents);
  return c;
}

size_t CFormRegionHost::ButtonSinks() const {
  size_t c = 0;
  for (CDispatch* pRegion : m_made) {
    if (CFormControl* pButton = static_cast<CFormRegion*>(pRegion)->Form()->Control(EControl::kCommandButton))
      c += pButton->SinkCount(Outlook::DIID_OlkCommandButtonEvents);
  }
  return c;
}

void CFormRegionHost::Clear() { m_definitions.clear(); }

}  // namespace Sim
