#pragma once
// Office's signature setup and signature information as a provider reaches them: members by name
// and their published dispatch ids, the properties kept in a bag. The signing time
// (GetSignatureDetail) and the thumbprint of the chosen certificate are kept as "SigningTime" and
// "Thumbprint".
#include <map>
#include <string>

#include "../../sim/host/SimDispatch.h"
#include "com/Variant.h"
#include "hosts/SignatureProvider.h"

namespace SignatureFakes {

template <class TInterface>
class CSignatureObject : public Sim::CDispatchImpl<TInterface> {
 public:
  CSignatureObject(const IID& iid, std::initializer_list<std::pair<const wchar_t*, DISPID>> properties)
      : Sim::CDispatchImpl<TInterface>({iid}) {
    for (const auto& [wszName, dispid] : properties) {
      this->AddMember(wszName, dispid, [this, wsName = std::wstring(wszName)](Sim::SCall& call) -> HRESULT {
        if (call.wFlags & DISPATCH_PROPERTYPUT) return VariantCopy(&m_values[wsName], call.args.back());
        return call.pResult ? VariantCopy(call.pResult, &m_values[wsName]) : S_OK;
      });
    }
  }
  std::wstring String(const wchar_t* wszName) {
    const CComVariant& value = m_values[wszName];
    return V_VT(&value) == VT_BSTR && V_BSTR(&value) ? V_BSTR(&value) : L"";
  }
  std::map<std::wstring, CComVariant> m_values;
};

class CSetup final : public CSignatureObject<Office::SignatureSetup> {
 public:
  CSetup()
      : CSignatureObject(Office::IID_SignatureSetup, {{L"ReadOnly", Office::dispidSetupReadOnly},
                                                      {L"SuggestedSigner", Office::dispidSetupSuggestedSigner},
                                                      {L"SigningInstructions", Office::dispidSetupSigningInstructions},
                                                      {L"AllowComments", Office::dispidSetupAllowComments},
                                                      {L"ShowSignDate", Office::dispidSetupShowSignDate},
                                                      {L"AdditionalXml", Office::dispidSetupAdditionalXml}}) {}
};

class CInfo final : public CSignatureObject<Office::SignatureInfo> {
 public:
  CInfo()
      : CSignatureObject(Office::IID_SignatureInfo,
                         {{L"SignatureText", Office::dispidInfoSignatureText},
                          {L"SignatureComment", Office::dispidInfoSignatureComment},
                          {L"ContentVerificationResults", Office::dispidInfoContentVerificationResults},
                          {L"CertificateVerificationResults", Office::dispidInfoCertificateVerificationResults}}) {
    this->AddMember(L"GetSignatureDetail", Office::dispidInfoGetSignatureDetail, [this](Sim::SCall& call) {
      LONG lDetail = -1;
      const HRESULT hr = Sim::ArgLong(call, 0, &lDetail);
      if (FAILED(hr)) return hr;
      return lDetail == Office::sigdetLocalSigningTime ? VariantCopy(call.pResult, &m_values[L"SigningTime"])
                                                       : E_INVALIDARG;
    });
    this->AddMember(L"GetCertificateDetail", Office::dispidInfoGetCertificateDetail, [this](Sim::SCall& call) {
      LONG lDetail = -1;
      const HRESULT hr = Sim::ArgLong(call, 0, &lDetail);
      if (FAILED(hr)) return hr;
      return lDetail == Office::certdetThumbprint ? VariantCopy(call.pResult, &m_values[L"Thumbprint"]) : E_INVALIDARG;
    });
    this->AddMember(L"SelectCertificateDetailByThumbprint", Office::dispidInfoSelectCertificateDetailByThumbprint,
                    [this](Sim::SCall& call) {
                      std::wstring wsThumbprint;
                      const HRESULT hr = Sim::ArgString(call, 0, &wsThumbprint);
                      if (SUCCEEDED(hr)) m_values[L"Thumbprint"] = CComVariant(wsThumbprint.c_str());
                      return hr;
                    });
  }
  void SetSigningTime(const SYSTEMTIME& st) {
    CComVariant& value = m_values[L"SigningTime"];
    value.Clear();
    V_VT(&value) = VT_DATE;
    SystemTimeToVariantTime(const_cast<SYSTEMTIME*>(&st), &V_DATE(&value));
  }
};

template <class T>
CComPtr<T> Make() {
  CComPtr<T> cp;
  cp.Attach(new T());
  return cp;
}

}  // namespace SignatureFakes
