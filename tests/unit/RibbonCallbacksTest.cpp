// The ribbon callbacks are boundaries: a failure inside one is traced and answered with an error
// code. Here the module has no resource module beside it, so every text fails to load, and the
// controls have no window.
#include <olectl.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "TraceFixture.h"
#include "com/Bstr.h"
#include "com/ComObject.h"
#include "documents/DocumentRibbon.h"
#include "outlook/ComposeRibbon.h"

namespace {

// IDispatch of a stack object that none of the callbacks calls by name.
template <class I>
class CStackDispatch : public I {
 public:
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

// A ribbon control as Office passes it, with no window behind it.
class CTestControl final : public CStackDispatch<Office::IRibbonControl> {
 public:
  explicit CTestControl(const wchar_t* wszId) : m_wsId(wszId) {}
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    const bool bKnown = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
                        IsEqualIID(riid, Office::IID_IRibbonControl);
    *ppv = bKnown ? this : nullptr;
    return bKnown ? S_OK : E_NOINTERFACE;
  }
  STDMETHOD(get_Id)(BSTR* pbsId) override { return (*pbsId = SysAllocString(m_wsId.c_str())) ? S_OK : E_OUTOFMEMORY; }
  STDMETHOD(get_Context)(IDispatch** ppContext) override {
    *ppContext = nullptr;
    return S_OK;
  }
  STDMETHOD(get_Tag)(BSTR* pbsTag) override { return (*pbsTag = SysAllocString(L"")) ? S_OK : E_OUTOFMEMORY; }

 private:
  std::wstring m_wsId;
};

// A control whose calls throw, as a broken host or a bug below a callback would.
class CThrowingControl final : public CStackDispatch<Office::IRibbonControl> {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, Office::IID_IRibbonUI)) throw std::runtime_error("broken ribbon");
    const bool bKnown = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
                        IsEqualIID(riid, Office::IID_IRibbonControl);
    *ppv = bKnown ? this : nullptr;
    return bKnown ? S_OK : E_NOINTERFACE;
  }
  STDMETHOD(get_Id)(BSTR*) override { throw std::runtime_error("broken control"); }
  STDMETHOD(get_Context)(IDispatch**) override { throw std::runtime_error("broken control"); }
  STDMETHOD(get_Tag)(BSTR*) override { throw std::runtime_error("broken control"); }
};

// Anything that is not a ribbon control.
class CNotAControl final : public CStackDispatch<IDispatch> {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
};

class RibbonCallbacksTest : public TraceTest {
 protected:
  void SetUp() override {
    TraceTest::SetUp();
    SwitchOn();
    StartTracing();
    ASSERT_EQ(S_OK,
              CreateComObject<CComposeRibbon>(nullptr, IID_IComposeRibbon, reinterpret_cast<void**>(&m_cpRibbon)));
  }
  void TearDown() override {
    m_cpRibbon.Release();
    TraceTest::TearDown();
  }
  // Whether the trace holds an error record of that call.
  bool Traced(const std::string& sCall) const {
    for (const std::string& sText : Read().Texts('E'))
      if (sText.find(sCall) != std::string::npos) return true;
    return false;
  }
  CComPtr<IComposeRibbon> m_cpRibbon;
};

TEST_F(RibbonCallbacksTest, ATextThatLoadsNowhereIsRefusedAndTraced) {
  constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  CTestControl help(L"CustomMenuHelp"), button(L"CustomButton");
  CComBSTR bsText;
  EXPECT_EQ(kNotFound, m_cpRibbon->Ribbon_GetMenuItemLabel(&help, &bsText));
  EXPECT_EQ(kNotFound, m_cpRibbon->Ribbon_GetMenuItemTip(&help, &bsText));
  EXPECT_EQ(kNotFound, m_cpRibbon->Ribbon_GetGroupLabel(&button, &bsText));
  EXPECT_EQ(kNotFound, m_cpRibbon->Ribbon_GetButtonLabel(&button, &bsText));
  EXPECT_EQ(nullptr, static_cast<BSTR>(bsText));
  EXPECT_TRUE(Traced("LoadResourceString()"));
  // Controls the table does not know get no text at all.
  CTestControl divider(L"CustomMenuDivider");
  EXPECT_EQ(E_NOTIMPL, m_cpRibbon->Ribbon_GetMenuItemLabel(&divider, &bsText));
  EXPECT_EQ(E_NOTIMPL, m_cpRibbon->Ribbon_GetButtonLabel(&divider, &bsText));
}

TEST_F(RibbonCallbacksTest, AControlThatIsNoRibbonControlIsRefusedAndTraced) {
  CNotAControl notAControl;
  CComBSTR bsText;
  VARIANT_BOOL bVisible = VARIANT_FALSE;
  EXPECT_EQ(E_NOINTERFACE, m_cpRibbon->Ribbon_GetMenuItemLabel(&notAControl, &bsText));
  EXPECT_EQ(E_NOINTERFACE, m_cpRibbon->Ribbon_GetMenuItemVisible(&notAControl, &bVisible));
  EXPECT_EQ(E_NOINTERFACE, m_cpRibbon->Ribbon_OnMenuItemClicked(&notAControl));
  EXPECT_EQ(E_POINTER, m_cpRibbon->Ribbon_OnMenuItemClicked(nullptr));
  EXPECT_TRUE(Traced("QueryInterface(__uuidof(Office::IRibbonControl))"));
}

// Whatever a callback meets below it, Outlook gets E_UNEXPECTED and the trace an error record
// with empty text.
TEST_F(RibbonCallbacksTest, AnExceptionInsideAnyCallbackBecomesEUnexpected) {
  CThrowingControl broken;
  CComBSTR bsText;
  VARIANT_BOOL bVisible = VARIANT_FALSE;
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_OnLoadCompose(&broken));
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_OnLoadExplorer(&broken));
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_GetGroupLabel(&broken, &bsText));
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_GetButtonLabel(&broken, &bsText));
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_GetMenuItemLabel(&broken, &bsText));
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_GetMenuItemTip(&broken, &bsText));
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_GetMenuItemVisible(&broken, &bVisible));
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_OnMenuItemClicked(&broken));
  EXPECT_EQ(E_UNEXPECTED, m_cpRibbon->Ribbon_OnButtonClicked(&broken));
  const std::vector<std::string> errors = Read().Texts('E');
  EXPECT_EQ(9, std::count(errors.begin(), errors.end(), std::to_string(E_UNEXPECTED) + " "));
}

// An invitation needs the control's window; without one the click fails, traced.
TEST_F(RibbonCallbacksTest, AMissingWindowEndsAnInvitationCommand) {
  CTestControl invite(L"CustomMenuInvite"), batch(L"CustomMenuBatchInvite");
  EXPECT_EQ(E_FAIL, m_cpRibbon->Ribbon_OnMenuItemClicked(&invite));
  EXPECT_EQ(E_FAIL, m_cpRibbon->Ribbon_OnMenuItemClicked(&batch));
  EXPECT_TRUE(Traced("cpControl->get_Context()"));
  CTestControl unknown(L"CustomMenuDivider");
  EXPECT_EQ(E_NOTIMPL, m_cpRibbon->Ribbon_OnMenuItemClicked(&unknown));
}

TEST_F(RibbonCallbacksTest, OnlyTheTwoMailRibbonsAndTheTableImagesAreServed) {
  CComPtr<Office::IRibbonExtensibility> cpExtensibility;
  ASSERT_EQ(S_OK,
            m_cpRibbon->QueryInterface(Office::IID_IRibbonExtensibility, reinterpret_cast<void**>(&cpExtensibility)));
  CComBSTR bsXml;
  EXPECT_EQ(E_NOTIMPL, cpExtensibility->GetCustomUI(CComBSTR(L"Microsoft.Outlook.Mail.Read"), &bsXml));
  EXPECT_EQ(E_NOTIMPL, cpExtensibility->GetCustomUI(nullptr, &bsXml));
  EXPECT_EQ(E_POINTER, cpExtensibility->GetCustomUI(CComBSTR(L"Microsoft.Outlook.Explorer"), nullptr));
  CComPtr<IPictureDisp> cpPicture;
  CComBSTR bsUnknown(L"NoSuchImage");
  BSTR bsIn = bsUnknown;  // CComBSTR's & empties it for an out-parameter
  EXPECT_EQ(E_NOTIMPL, m_cpRibbon->Ribbon_OnLoadImage(&bsIn, &cpPicture));
  EXPECT_EQ(nullptr, cpPicture.Get());
  EXPECT_EQ(E_POINTER, m_cpRibbon->Ribbon_OnLoadImage(nullptr, &cpPicture));
  const std::vector<std::string> messages = Read().Texts('U');
  EXPECT_NE(messages.end(), std::find(messages.begin(), messages.end(), "Image ID = NoSuchImage"));
  EXPECT_TRUE(Traced("LoadRibbonIcon()"));
}

class DocumentRibbonCallbacksTest : public RibbonCallbacksTest {
 protected:
  void SetUp() override {
    RibbonCallbacksTest::SetUp();
    ASSERT_EQ(S_OK, CreateComObject<CDocumentRibbon>(nullptr, IID_IDocumentRibbon,
                                                     reinterpret_cast<void**>(&m_cpDocumentRibbon)));
    ASSERT_EQ(S_OK, m_cpDocumentRibbon->QueryInterface(Office::IID_IRibbonExtensibility,
                                                       reinterpret_cast<void**>(&m_cpExtensibility)));
  }
  void TearDown() override {
    m_cpExtensibility.Release();
    m_cpDocumentRibbon.Release();
    RibbonCallbacksTest::TearDown();
  }
  // Whether the signature line item shows, as the operations object of the last ribbon id says.
  HRESULT SignatureLineVisible(VARIANT_BOOL* pbVisible) {
    CTestControl line(L"customMenuAddSignatureLine");
    return m_cpDocumentRibbon->Ribbon_GetMenuItemVisible(&line, pbVisible);
  }
  CComPtr<IDocumentRibbon> m_cpDocumentRibbon;
  CComPtr<Office::IRibbonExtensibility> m_cpExtensibility;
};

// The ribbon id chooses the operations object in any letter case (here the markup itself is not
// in the test's module); the ribbon of any other window gets no markup and leaves none.
TEST_F(DocumentRibbonCallbacksTest, TheRibbonIdInAnyCaseChoosesTheApplication) {
  CComBSTR bsXml;
  VARIANT_BOOL bVisible = VARIANT_TRUE;
  m_cpExtensibility->GetCustomUI(CComBSTR(L"microsoft.powerpoint.presentation"), &bsXml);
  ASSERT_EQ(S_OK, SignatureLineVisible(&bVisible));
  EXPECT_EQ(VARIANT_FALSE, bVisible);
  m_cpExtensibility->GetCustomUI(CComBSTR(L"MICROSOFT.EXCEL.WORKBOOK"), &bsXml);
  ASSERT_EQ(S_OK, SignatureLineVisible(&bVisible));
  EXPECT_EQ(VARIANT_TRUE, bVisible);
  EXPECT_EQ(E_NOTIMPL, m_cpExtensibility->GetCustomUI(CComBSTR(L"Microsoft.Outlook.Explorer"), &bsXml));
  EXPECT_EQ(nullptr, static_cast<BSTR>(bsXml));
  EXPECT_EQ(E_UNEXPECTED, SignatureLineVisible(&bVisible));
  EXPECT_TRUE(Traced("no operations object"));
}

TEST_F(DocumentRibbonCallbacksTest, UnknownControlsAndImagesAndAMissingWindowAreRefused) {
  CTestControl sign(L"CustomMenuSign"), help(L"CustomMenuHelp"), button(L"CustomButton");
  VARIANT_BOOL bVisible = VARIANT_FALSE;
  CComPtr<IDispatch> cpImage;
  EXPECT_EQ(E_NOTIMPL, m_cpDocumentRibbon->Ribbon_GetMenuItemVisible(&sign, &bVisible));
  EXPECT_EQ(E_NOTIMPL, m_cpDocumentRibbon->Ribbon_GetMenuItemImage(&help, &cpImage));
  EXPECT_EQ(E_NOTIMPL, m_cpDocumentRibbon->Ribbon_OnLoadImage(CComBSTR(L"SealImage"), &cpImage));
  EXPECT_EQ(nullptr, cpImage.Get());
  EXPECT_EQ(E_POINTER, m_cpDocumentRibbon->Ribbon_OnLoadImage(CComBSTR(L"HelpImage"), nullptr));
  // The document commands need the control's window.
  EXPECT_EQ(E_FAIL, m_cpDocumentRibbon->Ribbon_OnMenuItemClicked(&sign));
  EXPECT_EQ(E_FAIL, m_cpDocumentRibbon->Ribbon_OnButtonClicked(&button));
  EXPECT_TRUE(Traced("cpControl->get_Context()"));
  CTestControl divider(L"SignatureDivider");
  EXPECT_EQ(E_NOTIMPL, m_cpDocumentRibbon->Ribbon_OnMenuItemClicked(&divider));
}

}  // namespace
