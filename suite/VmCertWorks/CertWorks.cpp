// The library's module, allocator, invitation texts, locales and help.
#include "CertWorks.h"

#include <shellapi.h>

#include <cwchar>

#include "suite/VmCertServices.h"

HINSTANCE g_hInstance = nullptr;
HANDLE g_hHeap = nullptr;

namespace {

struct CInvitationTexts {
  LANGID wLanguage;
  const wchar_t* wszRequestSubject;
  const wchar_t* wszRequestBody;
  const wchar_t* wszReplySubject;
  const wchar_t* wszReplyBody;
};

// The first entry is the default.
constexpr CInvitationTexts kTexts[] = {
    {LANG_ENGLISH, L"Invitation to exchange secure e-mail",
     L"Hello,\r\n\r\nI would like to exchange signed and encrypted e-mail with you. My certificate is attached. "
     L"Please open this message with Tessaly and accept the invitation, so that we become trusted contacts.\r\n",
     L"Invitation accepted: secure e-mail",
     L"Hello,\r\n\r\nI have accepted your invitation. My certificate is attached: from now on we can exchange "
     L"signed and encrypted e-mail.\r\n"},
    {LANG_GERMAN, L"Einladung zum Austausch sicherer E-Mails",
     L"Hallo,\r\n\r\nich m\u00F6chte mit Ihnen signierte und verschl\u00FCsselte E-Mails austauschen. Mein Zertifikat "
     L"liegt bei. Bitte \u00F6ffnen Sie diese Nachricht mit Tessaly und nehmen Sie die Einladung an, damit wir "
     L"vertrauensw\u00FCrdige Kontakte werden.\r\n",
     L"Einladung angenommen: sichere E-Mails",
     L"Hallo,\r\n\r\nich habe Ihre Einladung angenommen. Mein Zertifikat liegt bei: ab jetzt k\u00F6nnen wir "
     L"signierte und verschl\u00FCsselte E-Mails austauschen.\r\n"},
};

constexpr LCID kSupportedLocales[] = {MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT),
                                      MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT)};

// "00000407" and the like; null or empty is the default language.
HRESULT TextsFor(LPCWSTR wszLanguage, const CInvitationTexts** ppTexts) {
  *ppTexts = &kTexts[0];
  if (!wszLanguage || !*wszLanguage) return S_OK;
  wchar_t* pwchEnd = nullptr;
  const unsigned long ulLocale = wcstoul(wszLanguage, &pwchEnd, 16);
  if (*pwchEnd || wcslen(wszLanguage) != 8) return E_INVALIDARG;
  for (const CInvitationTexts& texts : kTexts)
    if (PRIMARYLANGID(LANGIDFROMLCID(ulLocale)) == texts.wLanguage) *ppTexts = &texts;
  return S_OK;
}

HRESULT HandOutTexts(const wchar_t* wszBody, const wchar_t* wszSubject, LPWSTR* pwszBody, LPWSTR* pwszSubject) {
  if (!pwszBody || !pwszSubject) return E_POINTER;
  *pwszSubject = nullptr;
  HRESULT hr = HandOutString(wszBody, pwszBody);
  if (SUCCEEDED(hr)) hr = HandOutString(wszSubject, pwszSubject);
  if (FAILED(hr)) {
    GC_Deallocate(*pwszBody);
    *pwszBody = nullptr;
  }
  return hr;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) {
    g_hInstance = hInstance;
    g_hHeap = HeapCreate(0, 0, 0);
    DisableThreadLibraryCalls(hInstance);
    return g_hHeap != nullptr;
  }
  if (dwReason == DLL_PROCESS_DETACH && g_hHeap) HeapDestroy(g_hHeap);
  return TRUE;
}

extern "C" {

void WINAPI GC_Deallocate(void* pv) {
  if (pv) HeapFree(g_hHeap, 0, pv);
}

HRESULT WINAPI BM_GetTextBuddyRequest(LPCWSTR wszLanguage, LPWSTR* pwszBody, LPWSTR* pwszSubject) {
  const CInvitationTexts* pTexts = nullptr;
  const HRESULT hr = TextsFor(wszLanguage, &pTexts);
  return SUCCEEDED(hr) ? HandOutTexts(pTexts->wszRequestBody, pTexts->wszRequestSubject, pwszBody, pwszSubject) : hr;
}

HRESULT WINAPI BM_GetTextBuddyReply(LPCWSTR wszLanguage, LPWSTR* pwszBody, LPWSTR* pwszSubject) {
  const CInvitationTexts* pTexts = nullptr;
  const HRESULT hr = TextsFor(wszLanguage, &pTexts);
  return SUCCEEDED(hr) ? HandOutTexts(pTexts->wszReplyBody, pTexts->wszReplySubject, pwszBody, pwszSubject) : hr;
}

HRESULT WINAPI GC_EnumSupportedLocales(LCID** ppLocales, DWORD* pdwCount) {
  if (!ppLocales || !pdwCount) return E_POINTER;
  *ppLocales = static_cast<LCID*>(CoTaskMemAlloc(sizeof(kSupportedLocales)));
  if (!*ppLocales) return E_OUTOFMEMORY;
  memcpy(*ppLocales, kSupportedLocales, sizeof(kSupportedLocales));
  *pdwCount = ARRAYSIZE(kSupportedLocales);
  return S_OK;
}

HRESULT WINAPI GC_GetSoftwareURL(LPWSTR* pwszUrl) {
  return HandOutString(L"https://tessaly.velmora.example/", pwszUrl);
}

// Remembers the topic (the suite's help viewer starts from it) and opens the page when the
// suite's help is installed.
HRESULT WINAPI GC_HtmlHelp(LPCWSTR wszTopic) {
  if (!wszTopic || !*wszTopic || wcschr(wszTopic, L'\\') || wcschr(wszTopic, L'/')) return E_INVALIDARG;
  const LONG lResult = RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Velmora\\CertWorks", L"LastHelpTopic", REG_SZ,
                                       wszTopic, static_cast<DWORD>((wcslen(wszTopic) + 1) * sizeof(wchar_t)));
  if (lResult != ERROR_SUCCESS) return HRESULT_FROM_WIN32(lResult);
  const std::wstring wsPage = SuiteFolder() + L"\\Help\\" + wszTopic;
  if (GetFileAttributesW(wsPage.c_str()) == INVALID_FILE_ATTRIBUTES) return S_FALSE;
  const auto iResult =
      reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wsPage.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return iResult > 32 ? S_OK : HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION);
}

}  // extern "C"
