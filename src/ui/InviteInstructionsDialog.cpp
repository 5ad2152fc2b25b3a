#include "ui/Dialogs.h"

#include <versionhelpers.h>

#include <cstdio>

#include "module/CertLibrary.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"

namespace {

// A language without a region has the bare language's name; every other locale its display name.
std::wstring LocaleName(LCID lcid) {
  const bool bLanguageOnly = SUBLANGID(LANGIDFROMLCID(lcid)) == SUBLANG_NEUTRAL;
  const LCTYPE lcType =
      IsWindowsVistaOrGreater() && bLanguageOnly ? LOCALE_SLOCALIZEDLANGUAGENAME : LOCALE_SLOCALIZEDDISPLAYNAME;
  wchar_t wszName[LOCALE_NAME_MAX_LENGTH * 2] = {};
  GetLocaleInfoW(lcid, lcType, wszName, ARRAYSIZE(wszName));
  return wszName;
}

}  // namespace

CInviteInstructionsDialog::CInviteInstructionsDialog(const CCertLibrary& certLib, std::wstring& wsLocale)
    : CMuiDialogImpl(IDD_INVITE_INSTRUCTIONS), m_certLib(certLib), m_wsLocale(wsLocale) {}

bool CInviteInstructionsDialog::OnInitDialog() {
  CTraceScope trace("CInviteInstructionsDialog::OnInitDialog");
  SetItemString(IDC_PROMPT, IDS_INVITE_LANGUAGE_PROMPT);
  m_wsLocale.clear();
  LCID* pLocales = nullptr;
  DWORD dwCount = 0;
  const HRESULT hr = m_certLib.GC_EnumSupportedLocales(&pLocales, &dwCount);
  if (FAILED(hr)) trace.Error("GC_EnumSupportedLocales()", hr);
  const LANGID wUiLanguage = GetUserDefaultUILanguage();
  int iSelect = 0;
  for (DWORD i = 0; SUCCEEDED(hr) && i < dwCount; ++i) {
    const LRESULT lItem = SendDlgItemMessageW(m_hWnd, IDC_LANGUAGE, CB_ADDSTRING, 0,
                                              reinterpret_cast<LPARAM>(LocaleName(pLocales[i]).c_str()));
    if (lItem < 0) continue;
    SendDlgItemMessageW(m_hWnd, IDC_LANGUAGE, CB_SETITEMDATA, lItem, pLocales[i]);
    const LANGID wLanguage = LANGIDFROMLCID(pLocales[i]);
    if (wLanguage == wUiLanguage || wLanguage == PRIMARYLANGID(wUiLanguage)) iSelect = static_cast<int>(lItem);
  }
  CoTaskMemFree(pLocales);
  SendDlgItemMessageW(m_hWnd, IDC_LANGUAGE, CB_SETCURSEL, iSelect, 0);
  return true;
}

void CInviteInstructionsDialog::OnClose(WORD) {
  const LRESULT lItem = SendDlgItemMessageW(m_hWnd, IDC_LANGUAGE, CB_GETCURSEL, 0, 0);
  if (lItem == CB_ERR) return;
  wchar_t wszLocale[16] = {};
  swprintf(wszLocale, ARRAYSIZE(wszLocale), L"%08X",
           static_cast<unsigned>(SendDlgItemMessageW(m_hWnd, IDC_LANGUAGE, CB_GETITEMDATA, lItem, 0)));
  m_wsLocale = wszLocale;
}
