#pragma once
// The pages of the certificate-success wizard and the invitation-selection wizard.
#include <windows.h>
#include <wincrypt.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

#include "com/Bstr.h"
#include "ui/MuiPropertyPage.h"
#include "ui/RecipientList.h"

class CCertLibrary;

// Announces the issued certificate and makes it the user's default: always when it is the only
// one, else when the user keeps check box 231 checked.
class CCertSuccessSetDefaultPage : public CMuiPropertyPageImpl {
 public:
  // wsIssued: the certificate as Base64 text.
  CCertSuccessSetDefaultPage(const CCertLibrary& certLib, const std::wstring& wsIssued);
  ~CCertSuccessSetDefaultPage() override;

 protected:
  bool OnInitDialog() override;
  bool OnWizardNext() override;
  void OnHelp() override;

 private:
  void MakeDefault() const;

  const CCertLibrary& m_certLib;
  PCCERT_CONTEXT m_pIssued = nullptr;
  bool m_bAutomaticDefault = true;
};

// Saves the user's credentials, protected by a password, to a ".vmpsm" file.
class CCertificateBackupPage : public CMuiPropertyPageImpl {
 public:
  CCertificateBackupPage();

 protected:
  bool OnInitDialog() override;
  bool OnWizardNext() override;
  void OnCommand(WORD wID, WORD wCode) override;

 private:
  void OnBrowse();
  // False when the user must change something; the path may get its extension.
  bool CheckTarget(std::wstring& wsPath) const;
  HRESULT WriteBackup(const std::wstring& wsPath, const std::wstring& wsPassword) const;
};

// A correspondent that can be invited: name and e-mail address.
using CInviteContact = std::pair<std::wstring, std::wstring>;

// The correspondents to invite: the valid trusted contacts, then the contacts of a folder.
// The result is the checked addresses joined with "; ".
class CInviteSelectionPage : public CMuiPropertyPageImpl {
 public:
  // pContactsFolder: an Outlook contacts folder, may be null.
  CInviteSelectionPage(const CCertLibrary& certLib, IDispatch* pContactsFolder);

  const std::vector<CInviteContact>& GetContacts() const { return m_contacts; }
  // The result; ownership passes to the caller.
  BSTR DetachResult() { return m_bsResult.Detach(); }

 protected:
  bool OnInitDialog() override;
  bool OnWizardNext() override;
  void OnCommand(WORD wID, WORD wCode) override;
  LRESULT OnNotify(const NMHDR& hdr) override;

 private:
  // Adds a contact whose address is not offered yet.
  void AddFolderContact(const std::wstring& wsName, const std::wstring& wsEmail);
  void CollectTrustedContacts(const CCertLibrary& certLib);
  void CollectFolderContacts(IDispatch* pContactsFolder);

  std::vector<CInviteContact> m_contacts;
  CComBSTR m_bsResult;
  CRecipientList m_list;
};

class CInvitationCompletePage : public CMuiPropertyPageImpl {
 public:
  CInvitationCompletePage();

 protected:
  bool OnInitDialog() override;
};
