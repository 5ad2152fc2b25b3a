#include "ui/Dialogs.h"

#include <cryptuiapi.h>

#include <cstdio>

#include "module/ActCtx.h"
#include "module/CertLibrary.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"

namespace {

constexpr char kRsaAlgorithm[] = "1.2.840.113549.1.1.1";

// Replaces the caller's string only when a new one could be made.
void AssignBstr(BSTR& bsTarget, const std::wstring& wsValue) {
  BSTR bsNew = SysAllocStringLen(wsValue.c_str(), static_cast<UINT>(wsValue.size()));
  if (!bsNew) return;
  SysFreeString(bsTarget);
  bsTarget = bsNew;
}

}  // namespace

CSignatureSetupDialog::CSignatureSetupDialog(BSTR& bsSuggestedSigner, BSTR& bsInstructions, VARIANT_BOOL& bShowSignDate,
                                             VARIANT_BOOL& bAddTitle)
    : CMuiDialogImpl(IDD_SIGNATURE_SETUP),
      m_bsSuggestedSigner(bsSuggestedSigner),
      m_bsInstructions(bsInstructions),
      m_bShowSignDate(bShowSignDate),
      m_bAddTitle(bAddTitle) {}

bool CSignatureSetupDialog::OnInitDialog() {
  SetItemText(IDC_SUGGESTED_SIGNER, m_bsSuggestedSigner ? m_bsSuggestedSigner : L"");
  SetItemText(IDC_SIGNING_INSTRUCTIONS, m_bsInstructions ? m_bsInstructions : L"");
  SetChecked(IDC_SHOW_SIGN_DATE, m_bShowSignDate != VARIANT_FALSE);
  SetChecked(IDC_ADD_TITLE, m_bAddTitle != VARIANT_FALSE);
  return true;
}

void CSignatureSetupDialog::OnOK() {
  AssignBstr(m_bsSuggestedSigner, GetItemText(IDC_SUGGESTED_SIGNER));
  AssignBstr(m_bsInstructions, GetItemText(IDC_SIGNING_INSTRUCTIONS));
  m_bShowSignDate = IsChecked(IDC_SHOW_SIGN_DATE) ? VARIANT_TRUE : VARIANT_FALSE;
  m_bAddTitle = IsChecked(IDC_ADD_TITLE) ? VARIANT_TRUE : VARIANT_FALSE;
}

CSignatureDetailsDialog::CSignatureDetailsDialog(const CCertLibrary& certLib, bool bValid, PCCERT_CONTEXT pSigner,
                                                 const std::wstring& wsSigningTime, const std::wstring& wsComment)
    : CMuiDialogImpl(IDD_SIGNATURE_DETAILS),
      m_certLib(certLib),
      m_bValid(bValid),
      m_pSigner(pSigner),
      m_wsSigningTime(wsSigningTime),
      m_wsComment(wsComment) {}

bool CSignatureDetailsDialog::OnInitDialog() {
  CTraceScope trace("CSignatureDetailsDialog::OnInitDialog");
  const std::pair<int, UINT> aLabels[] = {
      {IDC_SIGNER_LABEL, IDS_DETAILS_SIGNER},   {IDC_TIME_LABEL, IDS_DETAILS_TIME},
      {IDC_HASH_LABEL, IDS_DETAILS_HASH},       {IDC_KEY_LABEL, IDS_DETAILS_KEY},
      {IDC_COMMENT_LABEL, IDS_DETAILS_COMMENT}, {IDC_STATUS_LABEL, IDS_DETAILS_STATUS}};
  for (const auto& [nID, nString] : aLabels) SetItemString(nID, nString);
  SetItemString(IDC_SIGNATURE_STATUS, m_bValid ? IDS_SIGNATURE_VALID : IDS_SIGNATURE_INVALID);
  std::wstring wsComment;
  for (wchar_t wch : m_wsComment) wsComment += wch == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, wch);
  SetItemText(IDC_COMMENT, wsComment);
  SetItemText(IDC_SIGNER, SignerText());
  if (!m_wsSigningTime.empty()) SetItemText(IDC_SIGNING_TIME, m_wsSigningTime);
  SetItemString(IDC_HASH_ALGORITHM, IDS_HASH_ALGORITHM_SHA1);
  SetItemText(IDC_KEY_ALGORITHM, KeyAlgorithmText());
  EnableItem(IDC_VIEW_CERTIFICATE, m_pSigner != nullptr);
  SetFocus(Item(IDCANCEL));
  return false;
}

std::wstring CSignatureDetailsDialog::SignerText() const {
  if (!m_pSigner || !m_certLib.GC_IsVmBuddyCertificate(m_pSigner)) return std::wstring();
  CLibraryString wsName(m_certLib), wsEmail(m_certLib);
  m_certLib.GC_GetSubjectName(m_pSigner, wsName.Out());
  m_certLib.GC_GetEmail(m_pSigner, wsEmail.Out());
  const std::wstring wsNameText = wsName.Get() ? wsName.Get() : L"";
  const std::wstring wsEmailText = wsEmail.Get() ? wsEmail.Get() : L"";
  if (wsNameText.empty() || wsEmailText.empty()) return wsNameText + wsEmailText;
  return wsNameText + L" [" + wsEmailText + L"]";
}

std::wstring CSignatureDetailsDialog::KeyAlgorithmText() const {
  if (!m_pSigner) return std::wstring();
  const CERT_PUBLIC_KEY_INFO& keyInfo = m_pSigner->pCertInfo->SubjectPublicKeyInfo;
  const char* szAlgorithm = keyInfo.Algorithm.pszObjId ? keyInfo.Algorithm.pszObjId : "";
  if (*szAlgorithm && strcmp(szAlgorithm, kRsaAlgorithm) != 0)
    return std::wstring(szAlgorithm, szAlgorithm + strlen(szAlgorithm));
  const std::wstring wsName = LoadResourceString(IDS_KEY_ALGORITHM_RSA);
  const DWORD dwBits =
      CertGetPublicKeyLength(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, const_cast<CERT_PUBLIC_KEY_INFO*>(&keyInfo));
  if (!dwBits) return wsName;
  wchar_t wszText[128] = {};
  swprintf(wszText, ARRAYSIZE(wszText), L"%ls (%u)", wsName.c_str(), static_cast<unsigned>(dwBits));
  return wszText;
}

void CSignatureDetailsDialog::OnCommand(WORD wID, WORD wCode) {
  if (wID != IDC_VIEW_CERTIFICATE || wCode != BN_CLICKED || !m_pSigner) return;
  CRYPTUI_VIEWCERTIFICATE_STRUCTW view = {};
  view.dwSize = sizeof(view);
  view.hwndParent = m_hWnd;
  view.dwFlags = CRYPTUI_DISABLE_EDITPROPERTIES | CRYPTUI_DISABLE_ADDTOSTORE;
  view.pCertContext = m_pSigner;
  BOOL bPropertiesChanged = FALSE;
  CVmActCtx actCtx;
  if (!CryptUIDlgViewCertificateW(&view, &bPropertiesChanged)) {
    CTraceScope trace("CSignatureDetailsDialog::OnViewCertificate");
    trace.Error("CryptUIDlgViewCertificateW()", HRESULT_FROM_WIN32(GetLastError()));
  }
}
