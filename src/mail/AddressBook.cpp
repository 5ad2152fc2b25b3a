#include "mail/AddressBook.h"

#include <mapiutil.h>

#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/LateBound.h"
#include "com/Variant.h"
#include "hosts/Outlook.h"
#include "mail/MapiApi.h"
#include "module/Trace.h"

namespace {

// The profile section that holds Outlook's safe-senders list.
MAPIUID g_safeSendersSection = {
    {0x0A, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr ULONG kSafeSendersTag = 0x0418001F;

HRESULT OpenAdmin(IDispatch* pApplication, CTraceScope& trace, IMsgServiceAdmin** ppAdmin) {
  CComPtr<IDispatch> cpApplication;
  HRESULT hr = pApplication
                   ? pApplication->QueryInterface(Outlook::IID__Application, reinterpret_cast<void**>(&cpApplication))
                   : E_POINTER;
  if (FAILED(hr)) {
    trace.Error("QueryInterface(__uuidof(Outlook::_Application))", hr);
    return hr;
  }
  VARIANT varSession, varObject;
  VariantInit(&varObject);
  hr = LateBound::GetProperty(cpApplication, L"Session", &varSession);
  if (SUCCEEDED(hr) && varSession.vt != VT_DISPATCH) hr = E_FAIL;
  if (SUCCEEDED(hr)) hr = LateBound::GetProperty(varSession.pdispVal, L"MAPIOBJECT", &varObject);
  VariantClear(&varSession);
  if (FAILED(hr)) {
    trace.Error("cpNameSpace->get_MAPIOBJECT", hr);
    return hr;
  }
  CComPtr<IMAPISession> cpSession;
  hr = (varObject.vt == VT_UNKNOWN || varObject.vt == VT_DISPATCH) && varObject.punkVal
           ? varObject.punkVal->QueryInterface(IID_IMAPISession, reinterpret_cast<void**>(&cpSession))
           : E_NOINTERFACE;
  VariantClear(&varObject);
  if (FAILED(hr)) {
    trace.Error("QueryInterface(IID_IMAPISession)", hr);
    return hr;
  }
  hr = cpSession->AdminServices(0, ppAdmin);
  if (FAILED(hr)) trace.Error("cpSession->AdminServices()", hr);
  return hr;
}

}  // namespace

HRESULT FindMsgService(IMsgServiceAdmin* pAdmin, const char* szName, BOOL* pbFound, MAPIUID* pUid) {
  CTraceScope trace("FindMsgService()");
  if (!pAdmin || !szName || !pbFound) return E_POINTER;
  *pbFound = FALSE;
  CComPtr<IMAPITable> cpTable;
  HRESULT hr = pAdmin->GetMsgServiceTable(0, &cpTable);
  if (FAILED(hr)) {
    trace.Error("pAdmin->GetMsgServiceTable()", hr);
    return hr;
  }
  ULONG ulCount = 0;
  hr = cpTable->GetRowCount(0, &ulCount);
  SRowSet* pRows = nullptr;
  if (SUCCEEDED(hr)) hr = cpTable->QueryRows(static_cast<LONG>(ulCount), 0, &pRows);
  if (FAILED(hr)) {
    trace.Error("cpTable->QueryRows()", hr);
    return hr;
  }
  for (ULONG i = 0; i < pRows->cRows && !*pbFound; ++i) {
    const SRow& row = pRows->aRow[i];
    const SPropValue* pName = nullptr;
    const SPropValue* pServiceUid = nullptr;
    for (ULONG j = 0; j < row.cValues; ++j) {
      if (row.lpProps[j].ulPropTag == PR_SERVICE_NAME_A) pName = &row.lpProps[j];
      if (row.lpProps[j].ulPropTag == PR_SERVICE_UID) pServiceUid = &row.lpProps[j];
    }
    if (!pName || strcmp(pName->Value.lpszA, szName)) continue;
    *pbFound = TRUE;
    if (pUid && pServiceUid && pServiceUid->Value.bin.cb == sizeof(MAPIUID)) {
      CopyMemory(pUid, pServiceUid->Value.bin.lpb, sizeof(MAPIUID));
    }
  }
  MapiApi::FreeRows(pRows);
  return S_OK;
}

HRESULT RegisterAB(IDispatch* pApplication, BOOL bAdd, HWND hwnd, DWORD* pdwAdded) {
  CTraceScope trace("RegisterAB()");
  // Exceptions end here: the caller holds the profile lock.
  return GuardComEntry(trace, [&]() -> HRESULT {
    CComPtr<IMsgServiceAdmin> cpAdmin;
    HRESULT hr = OpenAdmin(pApplication, trace, &cpAdmin);
    if (FAILED(hr)) return hr;
    BOOL bFound = FALSE;
    MAPIUID uid = {};
    hr = FindMsgService(cpAdmin, kAddressBookService, &bFound, &uid);
    if (FAILED(hr)) return hr;
    if (!bAdd) {
      if (!bFound) return S_OK;
      hr = cpAdmin->DeleteMsgService(&uid);
      if (FAILED(hr)) trace.Error("cpAdmin->DeleteMsgService()", hr);
      return hr;
    }
    if (bFound) return S_OK;
    // The service name is 8-bit: MAPI_UNICODE is not passed.
    hr = cpAdmin->CreateMsgService(reinterpret_cast<LPTSTR>(const_cast<char*>(kAddressBookService)), nullptr,
                                   reinterpret_cast<ULONG_PTR>(hwnd), 0);
    if (FAILED(hr)) {
      trace.Error("cpAdmin->CreateMsgService()", hr);
      return hr;
    }
    hr = FindMsgService(cpAdmin, kAddressBookService, &bFound, &uid);
    if (FAILED(hr)) return hr;
    if (!bFound) return E_FAIL;
    hr = cpAdmin->ConfigureMsgService(&uid, reinterpret_cast<ULONG_PTR>(hwnd), SERVICE_UI_ALLOWED, 0, nullptr);
    if (FAILED(hr)) {
      trace.Error("cpAdmin->ConfigureMsgService()", hr);
      return hr;
    }
    if (pdwAdded) *pdwAdded = 1;
    return hr;
  });
}

HRESULT AddToSafeSenders(IDispatch* pApplication, LPCWSTR wszEntry) {
  CTraceScope trace("AddToSafeSenders()");
  // Exceptions end here: the caller holds the profile lock.
  return GuardComEntry(trace, [&]() -> HRESULT {
    if (!wszEntry) return E_POINTER;
    CComPtr<IMsgServiceAdmin> cpAdmin;
    HRESULT hr = OpenAdmin(pApplication, trace, &cpAdmin);
    if (FAILED(hr)) return hr;
    CComPtr<IProfSect> cpSection;
    hr = cpAdmin->OpenProfileSection(&g_safeSendersSection, nullptr, 0, &cpSection);
    if (FAILED(hr)) {
      trace.Error("cpAdmin->OpenProfileSection()", hr);
      return hr;
    }
    SizedSPropTagArray(1, tags) = {1, {kSafeSendersTag}};
    ULONG cValues = 0;
    SPropValue* pValues = nullptr;
    hr = cpSection->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &cValues, &pValues);
    if (FAILED(hr)) {
      trace.Error("cpSection->GetProps()", hr);
      return hr;
    }
    const std::unique_ptr<SPropValue, void (*)(void*)> valuesHolder(pValues, MapiApi::FreeBuffer);
    std::vector<std::wstring> entries;
    if (cValues == 1 && pValues[0].ulPropTag == kSafeSendersTag && pValues[0].Value.lpszW) {
      std::wstring wsList(pValues[0].Value.lpszW);
      for (size_t start = 0; start <= wsList.size();) {
        size_t end = wsList.find(L';', start);
        if (end == std::wstring::npos) end = wsList.size();
        if (end > start) entries.push_back(wsList.substr(start, end - start));
        start = end + 1;
      }
    }
    for (const std::wstring& wsEntry : entries) {
      if (!lstrcmpiW(wsEntry.c_str(), wszEntry)) return S_OK;
    }
    entries.push_back(wszEntry);
    std::wstring wsList;
    for (const std::wstring& wsEntry : entries) wsList += (wsList.empty() ? L"" : L";") + wsEntry;
    SPropValue value = {};
    value.ulPropTag = kSafeSendersTag;
    value.Value.lpszW = const_cast<LPWSTR>(wsList.c_str());
    hr = cpSection->SetProps(1, &value, nullptr);
    if (FAILED(hr)) trace.Error("cpSection->SetProps()", hr);
    return hr;
  });
}

HRESULT DefaultContactsFolder(IDispatch* pItem, IDispatch** ppContacts, CTraceScope& trace) {
  CComPtr<IDispatch> cpSession, cpContacts;
  HRESULT hr = LateBound::GetObjectProperty(pItem, L"Session", &cpSession);
  if (SUCCEEDED(hr))
    hr = LateBound::GetObjectProperty(cpSession, L"GetDefaultFolder", &cpContacts,
                                      {CComVariant(LONG{Outlook::olFolderContacts})});
  if (FAILED(hr)) trace.Error("cpSession->GetDefaultFolder(olFolderContacts)", hr);
  *ppContacts = cpContacts.Detach();
  return hr;
}
