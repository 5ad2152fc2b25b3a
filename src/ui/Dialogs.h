#pragma once
// The module's modal dialogs. Each object lives for one DoModal on the caller's stack.
#include <windows.h>
#include <wincrypt.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "ui/MuiDialog.h"
#include "ui/RecipientList.h"

class CCertLibrary;

// "EmailSecurity": seal as well as sign (0x1), no advertisement (0x4).
class CEmailOptionsDialog : public CMuiDialogImpl {
 public:
  CEmailOptionsDialog();

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
};

// "DocumentSecurity" and "SignerTitle". Without signature lines, their controls are hidden and
// the dialog shrinks.
class CDocumentOptionsDialog : public CMuiDialogImpl {
 public:
  explicit CDocumentOptionsDialog(bool bSignatureLinesSupported);

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCommand(WORD wID, WORD wCode) override;

 private:
  void HideSignatureLineControls();
  void UpdateEnabling() const;

  bool m_bSignatureLinesSupported;
};

// The setup of a new signature line; the four values are the caller's, changed only by IDOK.
class CSignatureSetupDialog : public CMuiDialogImpl {
 public:
  CSignatureSetupDialog(BSTR& bsSuggestedSigner, BSTR& bsInstructions, VARIANT_BOOL& bShowSignDate,
                        VARIANT_BOOL& bAddTitle);

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  BSTR& m_bsSuggestedSigner;
  BSTR& m_bsInstructions;
  VARIANT_BOOL& m_bShowSignDate;
  VARIANT_BOOL& m_bAddTitle;
};

// One signature of a document: status, signer, time, algorithms and comment.
class CSignatureDetailsDialog : public CMuiDialogImpl {
 public:
  // pSigner may be null; the texts stay the caller's.
  CSignatureDetailsDialog(const CCertLibrary& certLib, bool bValid, PCCERT_CONTEXT pSigner,
                          const std::wstring& wsSigningTime, const std::wstring& wsComment);

 protected:
  bool OnInitDialog() override;
  void OnCommand(WORD wID, WORD wCode) override;

 private:
  std::wstring SignerText() const;
  std::wstring KeyAlgorithmText() const;

  const CCertLibrary& m_certLib;
  bool m_bValid;
  PCCERT_CONTEXT m_pSigner;
  std::wstring m_wsSigningTime;
  std::wstring m_wsComment;
};

// The language of an invitation; the result is the chosen locale id as "%08X", empty when
// none could be chosen.
class CInviteInstructionsDialog : public CMuiDialogImpl {
 public:
  CInviteInstructionsDialog(const CCertLibrary& certLib, std::wstring& wsLocale);

 protected:
  bool OnInitDialog() override;
  void OnClose(WORD wID) override;

 private:
  const CCertLibrary& m_certLib;
  std::wstring& m_wsLocale;
};

// Owns certificate contexts: each is freed when the holder goes.
class CCertificateList {
 public:
  CCertificateList() = default;
  ~CCertificateList() { Clear(); }
  CCertificateList(const CCertificateList&) = delete;
  CCertificateList& operator=(const CCertificateList&) = delete;
  // Keeps a copy.
  void Add(PCCERT_CONTEXT pCert) { m_certs.push_back(CertDuplicateCertificateContext(pCert)); }
  void Clear();
  const std::vector<PCCERT_CONTEXT>& Get() const { return m_certs; }

 private:
  std::vector<PCCERT_CONTEXT> m_certs;
};

// The trusted contacts for whom a document is encrypted. The result (on IDOK) is the checked
// contacts from the last row up, then the user's own certificate.
class CSelectBuddyDialog : public CMuiDialogImpl {
 public:
  // preselected: contacts to check, may be empty; the caller keeps them for the dialog's life.
  CSelectBuddyDialog(const CCertLibrary& certLib, const std::vector<PCCERT_CONTEXT>& preselected);
  const std::vector<PCCERT_CONTEXT>& GetResult() const { return m_result.Get(); }

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCommand(WORD wID, WORD wCode) override;
  LRESULT OnNotify(const NMHDR& hdr) override;
  bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, INT_PTR& lResult) override;

 private:
  void FillList();
  void OnAddPublished();
  void LayOut(int cx, int cy);

  const CCertLibrary& m_certLib;
  // A copy: callers pass temporaries such as {}.
  const std::vector<PCCERT_CONTEXT> m_preselected;
  CCertificateList m_ownCertificate;
  CCertificateList m_listed;
  CCertificateList m_result;
  CRecipientList m_list;
  SIZE m_minSize = {};
  SIZE m_clientSize = {};
  HWND m_hGripper = nullptr;
};

// The read-only list of a document's recipients.
class CEncryptionDetailsDialog : public CMuiDialogImpl {
 public:
  CEncryptionDetailsDialog(const CCertLibrary& certLib, const std::vector<PCCERT_CONTEXT>& recipients);

 protected:
  bool OnInitDialog() override;
  LRESULT OnNotify(const NMHDR& hdr) override;

 private:
  const CCertLibrary& m_certLib;
  const std::vector<PCCERT_CONTEXT> m_recipients;
  CRecipientList m_list;
};
