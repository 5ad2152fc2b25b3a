// The module's form region as Outlook takes it: its manifest and layout pass the simulated
// Outlook's checks, and the checks refuse what Outlook refuses.
#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "Installation.h"
#include "SimFormRegion.h"
#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/FormRegion.h"
#include "hosts/Outlook.h"

namespace {

class FormRegion : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CLSID clsid = CLSID_NULL;
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"VmOfcX.FormRegionAddIn", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, Outlook::IID__FormRegionStartup,
                                     reinterpret_cast<void**>(&m_cpStartup)));
  }
  void TearDown() override {
    m_cpStartup.Release();
    CoUninitialize();
  }

  // The layout the module hands Outlook for a mail item, as it is in the module's resources.
  static std::vector<BYTE> ModuleLayout() {
    const HMODULE hModule = LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC hInfo = hModule ? FindResourceW(hModule, MAKEINTRESOURCEW(605), MAKEINTRESOURCEW(10)) : nullptr;
    const BYTE* pb = hInfo ? static_cast<const BYTE*>(LockResource(LoadResource(hModule, hInfo))) : nullptr;
    std::vector<BYTE> layout;
    if (pb) layout.assign(pb, pb + SizeofResource(hModule, hInfo));
    if (hModule) FreeLibrary(hModule);
    return layout;
  }
  static HRESULT Load(const std::vector<BYTE>& layout, CComPtr<Sim::CDispatch>& cpForm, std::wstring* pwsWhy) {
    CSafeArray bytes;
    EXPECT_EQ(S_OK, bytes.CreateBytes(layout.data(), static_cast<ULONG>(layout.size())));
    VARIANT storage = {};
    storage.vt = VT_ARRAY | VT_UI1;
    storage.parray = bytes.Get();
    return Sim::LoadRegionForm(storage, cpForm, pwsWhy);
  }

  CComPtr<Outlook::_FormRegionStartup> m_cpStartup;
};

TEST_F(FormRegion, TheModulesManifestAndLayoutAreWhatOutlookAccepts) {
  CComVariant manifest;
  BSTR bsName = SysAllocString(L"VmOfcX");
  ASSERT_EQ(S_OK, m_cpStartup->GetFormRegionManifest(bsName, 1033, &manifest));
  ASSERT_EQ(VT_BSTR, manifest.vt);
  Sim::SRegionManifest region;
  std::wstring wsWhy;
  ASSERT_EQ(S_OK, Sim::ParseRegionManifest(manifest.bstrVal, &region, &wsWhy)) << wsWhy;
  EXPECT_EQ(L"VmOfcX", region.wsName);
  EXPECT_EQ(L"Tessaly", region.wsTitle);  // string 403, the product's name
  EXPECT_EQ(L"adjoining", region.wsType);
  EXPECT_FALSE(region.bCompose);
  EXPECT_TRUE(region.bRead);
  EXPECT_TRUE(region.bReadingPane);

  // Only mail items get a region.
  CComVariant storage;
  auto cpContact = Sim::MakeObject<Sim::CDispatch>(std::vector<IID>{Outlook::IID__ContactItem});
  EXPECT_EQ(E_NOTIMPL, m_cpStartup->GetFormRegionStorage(bsName, cpContact, 1033, Outlook::olFormRegionRead,
                                                         Outlook::olFormRegionTypeAdjoining, &storage));
  EXPECT_EQ(VT_EMPTY, storage.vt);
  EXPECT_EQ(E_NOTIMPL, m_cpStartup->GetFormRegionIcon(bsName, 1033, Outlook::olFormRegionIconDefault, &storage));
  SysFreeString(bsName);

  CComPtr<Sim::CDispatch> cpForm;
  ASSERT_EQ(S_OK, Load(ModuleLayout(), cpForm, &wsWhy)) << wsWhy;
  CComPtr<IDispatch> cpControls, cpLabel;
  ASSERT_EQ(S_OK, LateBound::GetObjectProperty(cpForm, L"Controls", &cpControls));
  const std::pair<const wchar_t*, IID> controls[] = {{L"MainImage", MSForms::IID_IImage},
                                                     {L"mainlabel", Outlook::IID__OlkTextBox},
                                                     {L"AcceptButton", Outlook::IID__OlkCommandButton}};
  for (const auto& [wszName, iid] : controls) {
    SCOPED_TRACE(wszName);
    CComPtr<IDispatch> cpControl;
    ASSERT_EQ(S_OK, LateBound::GetObjectProperty(cpControls, L"Item", &cpControl, {CComVariant(wszName)}));
    CComPtr<IUnknown> cpInterface;
    EXPECT_EQ(S_OK, cpControl->QueryInterface(iid, reinterpret_cast<void**>(&cpInterface)));
  }
  // The image shows the layout's picture until the add-in puts its own.
  CComPtr<IDispatch> cpImage, cpPicture;
  ASSERT_EQ(S_OK, LateBound::GetObjectProperty(cpControls, L"Item", &cpImage, {CComVariant(L"MainImage")}));
  EXPECT_EQ(S_OK, LateBound::GetObjectProperty(cpImage, L"Picture", &cpPicture));
  EXPECT_NE(S_OK, cpImage->QueryInterface(Outlook::IID__OlkTextBox, reinterpret_cast<void**>(&cpLabel)));
}

TEST_F(FormRegion, OutlookRefusesBadManifests) {
  const std::wstring wsHead = L"<FormRegion xmlns=\"http://schemas.microsoft.com/office/outlook/12/formregion.xsd\">";
  const std::wstring wsGood = L"<name>R</name><formRegionType>adjoining</formRegionType>";
  Sim::SRegionManifest region;
  std::wstring wsWhy;
  ASSERT_EQ(S_OK, Sim::ParseRegionManifest(wsHead + wsGood + L"</FormRegion>", &region, &wsWhy)) << wsWhy;
  const std::wstring bad[] = {
      L"<FormRegion>" + wsGood + L"</FormRegion>",
      wsHead + wsGood,
      wsHead + wsGood + L"<colour>red</colour></FormRegion>",
      wsHead + wsGood + L"<name>S</name></FormRegion>",
      wsHead + wsGood + L"<showReadingPane>yes</showReadingPane></FormRegion>",
      wsHead + L"<formRegionType>adjoining</formRegionType></FormRegion>",
      wsHead + L"<name>R</name><formRegionType>beside</formRegionType></FormRegion>",
  };
  for (const std::wstring& wsXml : bad) {
    SCOPED_TRACE(wsXml);
    Sim::SRegionManifest refused;
    EXPECT_EQ(E_INVALIDARG, Sim::ParseRegionManifest(wsXml, &refused, &wsWhy));
  }
}

TEST_F(FormRegion, OutlookRefusesDamagedLayouts) {
  const std::vector<BYTE> layout = ModuleLayout();
  ASSERT_EQ(4096u, layout.size());
  // The mini stream starts in the file's fourth sector: "f" first, then "o"; the root's class id
  // is in the first directory entry.
  constexpr size_t kF = 2048, kRootClsid = 1024 + 80;
  struct SDamage {
    const char* szWhat;
    size_t cb;       // the length kept
    size_t posByte;  // a byte changed, or 0
  };
  const SDamage damages[] = {{"cut short", 3000, 0},
                             {"another root class", 4096, kRootClsid},
                             {"another form version", 4096, kF + 1},
                             {"another size field", 4096, kF + 2},
                             {"an unknown control class", 4096, kF + 69}};
  for (const SDamage& damage : damages) {
    SCOPED_TRACE(damage.szWhat);
    std::vector<BYTE> damaged(layout.begin(), layout.begin() + damage.cb);
    if (damage.posByte) damaged[damage.posByte] ^= 0x01;
    CComPtr<Sim::CDispatch> cpForm;
    std::wstring wsWhy;
    EXPECT_TRUE(FAILED(Load(damaged, cpForm, &wsWhy)));
    EXPECT_FALSE(wsWhy.empty());
    EXPECT_FALSE(cpForm);
  }
}

}  // namespace
