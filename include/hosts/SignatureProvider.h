#pragma once
// Office's signature provider interface and the signature objects that Office hands to it,
// declared from their published ids, values and slot order.
#include <ocidl.h>
#include <oaidl.h>
#include <olectl.h>
#include <shobjidl.h>  // ::IQueryContinue: the same interface as the shell declares it (its method QueryContinue)

#include "hosts/EncryptionProvider.h"  // LIBID_Office

namespace Office {

inline constexpr IID IID_SignatureProvider = {
    0x000CD6A3, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_SignatureSetup = {
    0x000CD6A1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_SignatureInfo = {0x000CD6A2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr IID IID_IQueryContinue = {
    0x7307055C, 0xB24A, 0x486B, {0x9F, 0x25, 0x16, 0x3E, 0x59, 0x7A, 0x28, 0xA9}};

// Office's cancel callback during long provider work: S_OK to go on, anything else to stop.
struct IQueryContinue : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ContinueCallback() = 0;
};

enum SignatureProviderDetail {
  sigprovdetUrl = 0,
  sigprovdetHashAlgorithm = 1,
  sigprovdetUIOnly = 2,
  sigprovdetUseOfficeUI = 3,
  sigprovdetUseOfficeStampUI = 4,
};
enum SignatureLineImage {
  siglnimgSoftwareRequired = 0,
  siglnimgUnsigned = 1,
  siglnimgSignedValid = 2,
  siglnimgSignedInvalid = 3,
  siglnimgSigned = 4,
};
enum ContentVerificationResults {
  contverresError = 0,
  contverresVerifying = 1,
  contverresUnverified = 2,
  contverresValid = 3,
  contverresModified = 4,
};
enum CertificateVerificationResults {
  certverresError = 0,
  certverresVerifying = 1,
  certverresUnverified = 2,
  certverresValid = 3,
  certverresInvalid = 4,
  certverresExpired = 5,
  certverresRevoked = 6,
  certverresUntrusted = 7,
};
enum CertificateDetail {
  certdetAvailable = 0,
  certdetSubject = 1,
  certdetIssuer = 2,
  certdetExpirationDate = 3,
  certdetThumbprint = 4,
};
enum SignatureDetail {
  sigdetLocalSigningTime = 0,
  sigdetApplicationName = 1,
  sigdetApplicationVersion = 2,
  sigdetOfficeVersion = 3,
  sigdetWindowsVersion = 4,
  sigdetNumberOfMonitors = 5,
  sigdetHorizResolution = 6,
  sigdetVertResolution = 7,
  sigdetColorDepth = 8,
  sigdetSignedData = 9,
  sigdetDocPreviewImg = 10,
  sigdetIPFormHash = 11,
  sigdetIPCurrentView = 12,
  sigdetSignatureType = 13,
  sigdetHashAlgorithm = 14,
  sigdetShouldShowViewWarning = 15,
  sigdetDelSuggSigner = 16,
  sigdetDelSuggSignerSet = 17,
  sigdetDelSuggSignerLine2 = 18,
  sigdetDelSuggSignerLine2Set = 19,
  sigdetDelSuggSignerEmail = 20,
  sigdetDelSuggSignerEmailSet = 21,
};

// Dispatch ids of the members that the provider reaches by IDispatch (their vtable layout
// beyond IDispatch is not relied on).
enum SignatureSetupDispId {
  dispidSetupReadOnly = 1,
  dispidSetupId = 2,
  dispidSetupSignatureProvider = 3,
  dispidSetupSuggestedSigner = 4,
  dispidSetupSuggestedSignerLine2 = 5,
  dispidSetupSuggestedSignerEmail = 6,
  dispidSetupSigningInstructions = 7,
  dispidSetupAllowComments = 8,
  dispidSetupShowSignDate = 9,
  dispidSetupAdditionalXml = 10,
};
enum SignatureInfoDispId {
  dispidInfoReadOnly = 1,
  dispidInfoSignatureProvider = 2,
  dispidInfoSignatureText = 3,
  dispidInfoSignatureImage = 4,
  dispidInfoSignatureComment = 5,
  dispidInfoGetSignatureDetail = 6,
  dispidInfoGetCertificateDetail = 7,
  dispidInfoContentVerificationResults = 8,
  dispidInfoCertificateVerificationResults = 9,
  dispidInfoIsValid = 10,
  dispidInfoIsCertificateExpired = 11,
  dispidInfoIsCertificateRevoked = 12,
  dispidInfoIsCertificateUntrusted = 13,
  dispidInfoShowSignatureCertificate = 14,
  dispidInfoSelectSignatureCertificate = 15,
  dispidInfoSelectCertificateDetailByThumbprint = 16,
};

// Dual interfaces of the Office type library (derived from _IMsoDispObj); reached through
// IDispatch by member name.
struct SignatureSetup : public IDispatch {};
struct SignatureInfo : public IDispatch {};

// Dual; dispatch ids 0x60020000 to 0x60020008 in slot order. ParentWindow answers IOleWindow,
// QueryContinue IQueryContinue, the streams IStream.
struct SignatureProvider : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GenerateSignatureLineImage(SignatureLineImage siglnimg, SignatureSetup* psigsetup,
                                                               SignatureInfo* psiginfo, IUnknown* XmlDsigStream,
                                                               IPictureDisp** ppipictSigImage) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShowSignatureSetup(IUnknown* ParentWindow, SignatureSetup* psigsetup) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShowSigningCeremony(IUnknown* ParentWindow, SignatureSetup* psigsetup,
                                                        SignatureInfo* psiginfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE SignXmlDsig(IUnknown* QueryContinue, SignatureSetup* psigsetup,
                                                SignatureInfo* psiginfo, IUnknown* XmlDsigStream) = 0;
  virtual HRESULT STDMETHODCALLTYPE NotifySignatureAdded(IUnknown* ParentWindow, SignatureSetup* psigsetup,
                                                         SignatureInfo* psiginfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE VerifyXmlDsig(IUnknown* QueryContinue, SignatureSetup* psigsetup,
                                                  SignatureInfo* psiginfo, IUnknown* XmlDsigStream,
                                                  ContentVerificationResults* pcontverres,
                                                  CertificateVerificationResults* pcertverres) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShowSignatureDetails(IUnknown* ParentWindow, SignatureSetup* psigsetup,
                                                         SignatureInfo* psiginfo, IUnknown* XmlDsigStream,
                                                         ContentVerificationResults* pcontverres,
                                                         CertificateVerificationResults* pcertverres) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProviderDetail(SignatureProviderDetail sigprovdet, VARIANT* pvarDesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE HashStream(IUnknown* QueryContinue, IUnknown* Stream,
                                               SAFEARRAY** psigHashStream) = 0;
};

}  // namespace Office
