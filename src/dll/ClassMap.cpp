#include "dll/ClassMap.h"

#include <oaidl.h>

#include "VmOfcX_h.h"
#include "com/ComObject.h"
#include "documents/DocumentRibbon.h"
#include "documents/EncryptionProvider.h"
#include "documents/SignatureProvider.h"
#include "formregion/FormRegionAddIn.h"
#include "mail/Launcher.h"
#include "outlook/ComposeRibbon.h"
#include "policy/SMIMEPolicy.h"
#include "res/resource.h"

namespace {

const CClassEntry g_classMap[] = {
    {&CLSID_ComposeRibbon, IDR_COMPOSERIBBON, CreateComObject<CComposeRibbon>, false},
    {&CLSID_DocumentRibbon, IDR_DOCUMENTRIBBON, CreateComObject<CDocumentRibbon>, false},
    {&CLSID_EncryptionProvider, IDR_ENCRYPTIONPROVIDER, CreateComObject<CEncryptionProvider>, true},
    {&CLSID_FormRegionAddIn, IDR_FORMREGIONADDIN, CreateComObject<CFormRegionAddIn>, false},
    {&CLSID_Launcher, IDR_LAUNCHER, CreateComObject<CLauncher>, true},
    {&CLSID_SignatureProvider, IDR_SIGNATUREPROVIDER, CreateComObject<CSignatureProvider>, true},
    {&CLSID_SMIMEPolicy, IDR_SMIMEPOLICY, CreateComObject<CSMIMEPolicy>, true},
};

}  // namespace

std::span<const CClassEntry> GetClassMap() { return g_classMap; }
