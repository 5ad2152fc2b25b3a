// The page where the user chooses the correspondents to invite.
#include <windows.h>

#include <algorithm>

#include "com/Bstr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "mail/Accounts.h"
#include "module/CertLibrary.h"
#include "module/MessageBox.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"
#include "ui/WizardPages.h"

namespace {

// Outlook's OlObjectClass for a contact item.
constexpr long kOlContact = 40;

std::wstring StringProperty(IDispatch* pDisp, const wchar_t* wszName) {
  CComVariant var;
  if (FAILED(LateBound::GetProperty(pDisp, wszName, &var)) || FAILED(var.ChangeType(VT_BSTR)) || !var.bstrVal)
    return std::wstring();
  return var.bstrVal;
}

}  // namespace

CInviteSelectionPage::CInviteSelectionPage(const CCertLibrary& certLib, IDispatch* pContactsFolder)
    : CMuiPropertyPageImpl(IDD_PAGE_INVITE_SELECTION, IDS_INVITE_SELECTION_TITLE, false) {
  CollectTrustedContacts(certLib);
  if (pContactsFolder) CollectFolderContacts(pContactsFolder);
}

void CInviteSelectionPage::AddFolderContact(const std::wstring& wsName, const std::wstring& wsEmail) {
  if (wsEmail.empty()) return;
  const bool bKnown = std::any_of(m_contacts.begin(), m_contacts.end(), [&](const CInviteContact& contact) {
    return CompareStringOrdinal(contact.second.c_str(), -1, wsEmail.c_str(), -1, TRUE) == CSTR_EQUAL;
  });
  if (!bKnown) m_contacts.emplace_back(wsName, wsEmail);
}

void CInviteSelectionPage::CollectTrustedContacts(const CCertLibrary& certLib) {
  CTraceScope trace("CInviteSelectionPage::CollectTrustedContacts");
  CBuddyStoreScope buddyStore(certLib);
  if (FAILED(buddyStore.Result())) {
    trace.Error("BM_OpenBuddyStore()", buddyStore.Result());
    return;
  }
  CLibraryMemory<PCCERT_CONTEXT> buddies(certLib);
  DWORD dwCount = 0;
  const HRESULT hr = certLib.BM_EnumBuddies(buddies.Out(), &dwCount);
  if (FAILED(hr)) {
    trace.Error("BM_EnumBuddies()", hr);
    return;
  }
  for (DWORD i = 0; i < dwCount; ++i) {
    PCCERT_CONTEXT pCert = buddies.Get()[i];
    if (certLib.GC_IsCertificateValid(pCert, nullptr)) {
      CLibraryString wsName(certLib), wsEmail(certLib);
      certLib.GC_GetSubjectName(pCert, wsName.Out());
      certLib.GC_GetEmail(pCert, wsEmail.Out());
      m_contacts.emplace_back(wsName.Get() ? wsName.Get() : L"", wsEmail.Get() ? wsEmail.Get() : L"");
    }
    CertFreeCertificateContext(pCert);
  }
}

void CInviteSelectionPage::CollectFolderContacts(IDispatch* pContactsFolder) {
  CTraceScope trace("CInviteSelectionPage::CollectFolderContacts");
  CComVariant varItems, varCount;
  HRESULT hr = LateBound::GetProperty(pContactsFolder, L"Items", &varItems);
  if (SUCCEEDED(hr) && varItems.vt != VT_DISPATCH) hr = E_NOINTERFACE;
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(varItems.pdispVal, L"Count", &varCount);
  if (SUCCEEDED(hr)) hr = varCount.ChangeType(VT_I4);
  if (FAILED(hr)) {
    trace.Error("cpFolder->Items->Count", hr);
    return;
  }
  for (long i = 1; i <= varCount.lVal; ++i) {
    CComVariant varItem, varClass;
    VARIANT varIndex = {};
    varIndex.vt = VT_I4;
    varIndex.lVal = i;
    if (FAILED(LateBound::Call(varItems.pdispVal, L"Item", {varIndex}, &varItem)) || varItem.vt != VT_DISPATCH ||
        FAILED(LateBound::GetProperty(varItem.pdispVal, L"Class", &varClass)) || FAILED(varClass.ChangeType(VT_I4)) ||
        varClass.lVal != kOlContact)
      continue;
    // Only Internet addresses can receive an invitation: another type's address is looked up
    // in the address book, and a contact without one there is left out.
    std::wstring wsAddress;
    if (CompareStringOrdinal(StringProperty(varItem.pdispVal, L"Email1AddressType").c_str(), -1, L"SMTP", -1, TRUE) ==
        CSTR_EQUAL) {
      wsAddress = StringProperty(varItem.pdispVal, L"Email1Address");
    } else {
      CComBSTR bsAddress;
      if (SUCCEEDED(GetContactItemAddress(varItem.pdispVal, &bsAddress))) wsAddress = bsAddress.c_str();
    }
    AddFolderContact(StringProperty(varItem.pdispVal, L"FullName"), wsAddress);
  }
  trace.Message("Contacts offered = %u", static_cast<unsigned>(m_contacts.size()));
}

bool CInviteSelectionPage::OnInitDialog() {
  m_list.Attach(Item(IDC_INVITE_LIST), true);
  for (size_t i = 0; i < m_contacts.size(); ++i)
    m_list.AddRow(m_contacts[i].first, m_contacts[i].second, static_cast<LPARAM>(i));
  return true;
}

void CInviteSelectionPage::OnCommand(WORD wID, WORD wCode) {
  if ((wID != IDC_SELECT_ALL && wID != IDC_SELECT_NONE) || wCode != BN_CLICKED) return;
  for (int i = 0; i < m_list.GetRowCount(); ++i) m_list.CheckRow(i, wID == IDC_SELECT_ALL);
}

LRESULT CInviteSelectionPage::OnNotify(const NMHDR& hdr) {
  m_list.OnNotify(hdr);
  return 0;
}

bool CInviteSelectionPage::OnWizardNext() {
  CTraceScope trace("CInviteSelectionPage::OnWizardNext");
  std::wstring wsResult;
  for (int i = 0; i < m_list.GetRowCount(); ++i) {
    if (!m_list.IsRowChecked(i)) continue;
    if (!wsResult.empty()) wsResult += L"; ";
    wsResult += m_list.GetRowText(i, 1);
  }
  if (m_list.GetRowCount() > 0 && wsResult.empty() &&
      VmMessageBox(m_hWnd, IDS_MSG_NOBODY_CHOSEN, IDS_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return false;
  m_bsResult = CComBSTR(wsResult.c_str());
  trace.Message("Recipients = %ls", m_bsResult.c_str());
  return true;
}
