#pragma once
// The custom signature provider of Word, Excel and PowerPoint: signature line setups and images,
// the signing ceremony with the user's certificate, XML signatures through MSXML 5, and the hash
// of the document's streams. It keeps no state between calls.
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "com/OfficeAddIn.h"
#include "hosts/SignatureProvider.h"

// Process-wide, set only while the document operations add a signature line from the ribbon:
// the line's setup is then filled from the settings instead of the setup dialog.
extern bool g_bAddingSignature;

class CCertLibrary;

// Lets the user pick one of the own certificates (none to pick when there is one), under the
// module's activation context.
HRESULT ChooseOwnCertificate(const CCertLibrary& certLib, HWND hParent, PCCERT_CONTEXT* ppCert);

// The comment string that says how the signing key was unlocked, as the suite's key provider
// reports it in its parameter 4996; 0 for no comment.
UINT SigningCommentId(DWORD dwAuth);
// The signature comment with the signer's title (when there is one) on a line before it.
std::wstring CommentWithTitle(const std::wstring& wsTitle, const std::wstring& wsComment);

class CSignatureProvider final : public COfficeAddIn, public Office::SignatureProvider {
 public:
  explicit CSignatureProvider(IUnknown* pOuter) : COfficeAddIn(pOuter) {}
  VM_DELEGATING_IUNKNOWN
  HRESULT FinalConstruct() override;

  // IDispatch, described by the Office type library's SignatureProvider.
  VM_DISPATCH_METHODS

  // SignatureProvider
  STDMETHOD(GenerateSignatureLineImage)
  (Office::SignatureLineImage siglnimg, Office::SignatureSetup* psigsetup, Office::SignatureInfo* psiginfo,
   IUnknown* XmlDsigStream, IPictureDisp** ppipictSigImage) override;
  STDMETHOD(ShowSignatureSetup)(IUnknown* ParentWindow, Office::SignatureSetup* psigsetup) override;
  STDMETHOD(ShowSigningCeremony)
  (IUnknown* ParentWindow, Office::SignatureSetup* psigsetup, Office::SignatureInfo* psiginfo) override;
  STDMETHOD(SignXmlDsig)
  (IUnknown* QueryContinue, Office::SignatureSetup* psigsetup, Office::SignatureInfo* psiginfo,
   IUnknown* XmlDsigStream) override;
  STDMETHOD(NotifySignatureAdded)
  (IUnknown* ParentWindow, Office::SignatureSetup* psigsetup, Office::SignatureInfo* psiginfo) override;
  STDMETHOD(VerifyXmlDsig)
  (IUnknown* QueryContinue, Office::SignatureSetup* psigsetup, Office::SignatureInfo* psiginfo, IUnknown* XmlDsigStream,
   Office::ContentVerificationResults* pcontverres, Office::CertificateVerificationResults* pcertverres) override;
  STDMETHOD(ShowSignatureDetails)
  (IUnknown* ParentWindow, Office::SignatureSetup* psigsetup, Office::SignatureInfo* psiginfo, IUnknown* XmlDsigStream,
   Office::ContentVerificationResults* pcontverres, Office::CertificateVerificationResults* pcertverres) override;
  STDMETHOD(GetProviderDetail)(Office::SignatureProviderDetail sigprovdet, VARIANT* pvarDesc) override;
  STDMETHOD(HashStream)(IUnknown* QueryContinue, IUnknown* Stream, SAFEARRAY** psigHashStream) override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  CComPtr<IUnknown> m_cpMarshaler;
};
