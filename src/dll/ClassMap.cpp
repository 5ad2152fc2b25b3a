#include "dll/ClassMap.h"

#include <oaidl.h>

#include "VmOfcX_h.h"
#include "com/ComObject.h"
#include "documents/DocumentRibbon.h"
#include "documents/EncryptionProvider.h"
#include "documents/SignatureProvider.h"
#include "mail/Launcher.h"
#include "outlook/ComposeRibbon.h"
#include "policy/SMIMEPolicy.h"
#include "res/resource.h"

namespace {

// Stands for a class whose features are not part of this build: it is created,
// counted and aggregated like the others and answers IUnknown and an IDispatch
// without members.
class CInertObject final : public CComObjectRoot, public IDispatch {
 public:
  explicit CInertObject(IUnknown* pOuter) : CComObjectRoot(pOuter) {}
  VM_DELEGATING_IUNKNOWN

  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) override {
    for (UINT i = 0; rgDispId && i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 protected:
  void* FindInterface(REFIID riid) override {
    return IsEqualIID(riid, IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
  }
};

const CClassEntry g_classMap[] = {
    {&CLSID_ComposeRibbon, IDR_COMPOSERIBBON, CreateComObject<CComposeRibbon>, false},
    {&CLSID_DocumentRibbon, IDR_DOCUMENTRIBBON, CreateComObject<CDocumentRibbon>, false},
    {&CLSID_EncryptionProvider, IDR_ENCRYPTIONPROVIDER, CreateComObject<CEncryptionProvider>, true},
    {&CLSID_FormRegionAddIn, IDR_FORMREGIONADDIN, CreateComObject<CInertObject>, false},
    {&CLSID_Launcher, IDR_LAUNCHER, CreateComObject<CLauncher>, true},
    {&CLSID_SignatureProvider, IDR_SIGNATUREPROVIDER, CreateComObject<CSignatureProvider>, true},
    {&CLSID_SMIMEPolicy, IDR_SMIMEPOLICY, CreateComObject<CSMIMEPolicy>, true},
};

}  // namespace

std::span<const CClassEntry> GetClassMap() { return g_classMap; }
