// The set-default page and the last page of the wizards.
#include <windows.h>

#include "module/CertLibrary.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"
#include "ui/WizardPages.h"

namespace {

constexpr wchar_t kPersonalCertificateAdded[] = L"Velmora Personal Certificate Added";
constexpr wchar_t kHelpTopic[] = L"1_1_3_2_3_3.html";

PCCERT_CONTEXT DecodeCertificate(const std::wstring& wsBase64) {
  DWORD cbDer = 0;
  if (!CryptStringToBinaryW(wsBase64.c_str(), 0, CRYPT_STRING_BASE64_ANY, nullptr, &cbDer, nullptr, nullptr))
    return nullptr;
  std::vector<BYTE> der(cbDer);
  if (!CryptStringToBinaryW(wsBase64.c_str(), 0, CRYPT_STRING_BASE64_ANY, der.data(), &cbDer, nullptr, nullptr))
    return nullptr;
  return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), cbDer);
}

}  // namespace

CCertSuccessSetDefaultPage::CCertSuccessSetDefaultPage(const CCertLibrary& certLib, const std::wstring& wsIssued)
    : CMuiPropertyPageImpl(IDD_PAGE_CERT_SUCCESS, IDS_CERT_SUCCESS_TITLE, true),
      m_certLib(certLib),
      m_pIssued(DecodeCertificate(wsIssued)) {
  if (!m_pIssued) {
    CTraceScope trace("CCertSuccessSetDefaultPage::CCertSuccessSetDefaultPage");
    trace.Error("CertCreateCertificateContext()", HRESULT_FROM_WIN32(GetLastError()));
  }
}

CCertSuccessSetDefaultPage::~CCertSuccessSetDefaultPage() {
  if (m_pIssued) CertFreeCertificateContext(m_pIssued);
}

bool CCertSuccessSetDefaultPage::OnInitDialog() {
  CTraceScope trace("CCertSuccessSetDefaultPage::OnInitDialog");
  DWORD dwCount = 0;
  {
    CPersonalStoreScope personalStore(m_certLib);
    CLibraryMemory<PCCERT_CONTEXT> certs(m_certLib);
    const HRESULT hr = m_certLib.CM_EnumMyCerts(0, certs.Out(), &dwCount);
    if (FAILED(hr)) {
      trace.Error("CM_EnumMyCerts()", hr);
      dwCount = 0;
    }
    for (DWORD i = 0; i < dwCount; ++i) CertFreeCertificateContext(certs.Get()[i]);
  }
  trace.Message("Own certificates = %u", static_cast<unsigned>(dwCount));
  // With several certificates the user chooses; the box starts checked.
  m_bAutomaticDefault = dwCount < 2;
  ShowItem(IDC_MAKE_DEFAULT, !m_bAutomaticDefault);
  SetChecked(IDC_MAKE_DEFAULT, !m_bAutomaticDefault);
  return true;
}

bool CCertSuccessSetDefaultPage::OnWizardNext() {
  CTraceScope trace("CCertSuccessSetDefaultPage::OnWizardNext");
  if (m_bAutomaticDefault || IsChecked(IDC_MAKE_DEFAULT)) MakeDefault();
  if (HANDLE hEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, kPersonalCertificateAdded)) {
    PulseEvent(hEvent);
    CloseHandle(hEvent);
  } else {
    trace.Error("OpenEventW()", HRESULT_FROM_WIN32(GetLastError()));
  }
  return true;
}

void CCertSuccessSetDefaultPage::MakeDefault() const {
  CTraceScope trace("CCertSuccessSetDefaultPage::MakeDefault");
  CPersonalStoreScope personalStore(m_certLib);
  if (FAILED(personalStore.Result()) || !m_pIssued) {
    trace.Error("CM_OpenPersonalStore()", FAILED(personalStore.Result()) ? personalStore.Result() : E_POINTER);
    return;
  }
  PCCERT_CONTEXT pFound = CertFindCertificateInStore(personalStore.Store(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                     CERT_FIND_EXISTING, m_pIssued, nullptr);
  if (!pFound) {
    trace.Error("CertFindCertificateInStore()", HRESULT_FROM_WIN32(GetLastError()));
    return;
  }
  const HRESULT hr = m_certLib.CM_SelectMyCert(pFound);
  if (FAILED(hr)) trace.Error("CM_SelectMyCert()", hr);
  CertFreeCertificateContext(pFound);
}

void CCertSuccessSetDefaultPage::OnHelp() {
  const HRESULT hr = m_certLib.GC_HtmlHelp(kHelpTopic);
  if (FAILED(hr)) {
    CTraceScope trace("CCertSuccessSetDefaultPage::OnHelp");
    trace.Error("GC_HtmlHelp()", hr);
  }
}

CInvitationCompletePage::CInvitationCompletePage() : CMuiPropertyPageImpl(IDD_PAGE_INVITATION_COMPLETE, 0, false) {}

bool CInvitationCompletePage::OnInitDialog() {
  // Captions 233 and 234 had their brand tokens replaced with the template's other texts.
  SetItemString(IDC_COMPLETE_TEXT, IDS_INVITATION_COMPLETE);
  return true;
}
