// The MAPI interface ids the mail code queries.
#define USES_IID_IMessage
#define USES_IID_IMAPIProp
#define USES_IID_IMAPISession
#define USES_IID_IMsgServiceAdmin
#include <initguid.h>

#include "mail/MapiApi.h"

#include <mapiguid.h>

namespace MapiApi {
namespace {

// Plain name, then the decorated name, then the ordinal of the helper.
FARPROC Resolve(const char* szName, const char* szDecorated, WORD wOrdinal) {
  HMODULE hMapi = GetModuleHandleW(L"mapi32.dll");
  if (!hMapi) hMapi = LoadLibraryW(L"mapi32.dll");
  if (!hMapi) return nullptr;
  FARPROC pfn = GetProcAddress(hMapi, szName);
  if (!pfn && szDecorated) pfn = GetProcAddress(hMapi, szDecorated);
  if (!pfn && wOrdinal) pfn = GetProcAddress(hMapi, MAKEINTRESOURCEA(wOrdinal));
  return pfn;
}

template <class T>
T Bind(const char* szName, const char* szDecorated, WORD wOrdinal) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(Resolve(szName, szDecorated, wOrdinal)));
}

}  // namespace

HRESULT HrSetOneProp(IMAPIProp* pProp, SPropValue* pValue) {
  using PFN = HRESULT(WINAPI*)(IMAPIProp*, SPropValue*);
  static const PFN s_pfn = Bind<PFN>("HrSetOneProp", "HrSetOneProp@8", 136);
  return s_pfn ? s_pfn(pProp, pValue) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

void FreeBuffer(void* pv) {
  using PFN = ULONG(WINAPI*)(void*);
  static const PFN s_pfn = Bind<PFN>("MAPIFreeBuffer", "MAPIFreeBuffer@4", 0);
  if (pv && s_pfn) s_pfn(pv);
}

void FreeRows(SRowSet* pRows) {
  if (!pRows) return;
  for (ULONG i = 0; i < pRows->cRows; ++i) FreeBuffer(pRows->aRow[i].lpProps);
  FreeBuffer(pRows);
}

const SPropValue* FindProp(const SRow& row, ULONG ulTag) {
  for (ULONG i = 0; i < row.cValues; ++i) {
    if (row.lpProps[i].ulPropTag == ulTag) return &row.lpProps[i];
  }
  return nullptr;
}

}  // namespace MapiApi
