// The backup page: the user's credentials, as the suite's backup library hands them out, are
// written to a ".vmpsm" file.
#include <windows.h>

#include <commdlg.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>

#include "com/Variant.h"
#include "module/AddInModule.h"
#include "module/DllLoader.h"
#include "module/MessageBox.h"
#include "module/ResourceStrings.h"
#include "module/Trace.h"
#include "res/StringIds.h"
#include "ui/DialogIds.h"
#include "ui/WizardPages.h"

namespace {

constexpr wchar_t kExtension[] = L".vmpsm";
constexpr size_t kMinPasswordLength = 6;
// VmBackupData's selector: every credential of the user.
constexpr DWORD kAllCredentials = 0xFFFFFFFF;
using PFN_VM_BACKUP_DATA = HRESULT(WINAPI*)(HWND, DWORD, LPCWSTR, VARIANT*);

std::wstring FolderNotWritableText(DWORD dwError) {
  const std::wstring wsFormat = LoadResourceString(IDS_MSG_FOLDER_NOT_WRITABLE);
  const std::wstring wsError = SystemErrorText(dwError);
  std::wstring wsText(wsFormat.size() + wsError.size() + 1, L'\0');
  wsText.resize(std::max(0, swprintf(wsText.data(), wsText.size(), wsFormat.c_str(), wsError.c_str())));
  return wsText;
}

bool Exists(const std::wstring& wsPath) { return GetFileAttributesW(wsPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

CCertificateBackupPage::CCertificateBackupPage() : CMuiPropertyPageImpl(IDD_PAGE_CERTIFICATE_BACKUP, 0, false) {}

bool CCertificateBackupPage::OnInitDialog() {
  SetItemString(IDC_PAGE_CAPTION, IDS_BACKUP_INTRO);
  return true;
}

void CCertificateBackupPage::OnCommand(WORD wID, WORD wCode) {
  if (wID == IDC_BROWSE && wCode == BN_CLICKED) OnBrowse();
}

void CCertificateBackupPage::OnBrowse() {
  CTraceScope trace("CCertificateBackupPage::OnBrowse");
  // The filter: its name and pattern, each ending in a null, then a final null.
  std::wstring wsFilter = LoadResourceString(IDS_BACKUP_FILTER);
  wsFilter.append(1, L'\0').append(L"*.vmpsm").append(2, L'\0');
  wchar_t wszPath[MAX_PATH] = {};
  lstrcpynW(wszPath, GetItemText(IDC_BACKUP_PATH).c_str(), MAX_PATH);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = m_hWnd;
  ofn.lpstrFilter = wsFilter.c_str();
  ofn.lpstrFile = wszPath;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrDefExt = L"vmpsm";
  ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_EXPLORER;
  if (GetSaveFileNameW(&ofn)) {
    SetItemText(IDC_BACKUP_PATH, wszPath);
  } else if (const DWORD dwError = CommDlgExtendedError()) {
    trace.Error("GetSaveFileNameW()", static_cast<HRESULT>(dwError));
  }
}

bool CCertificateBackupPage::OnWizardNext() {
  CTraceScope trace("CCertificateBackupPage::OnWizardNext");
  const std::wstring wsPassword = GetItemText(IDC_PASSWORD);
  const std::wstring wsConfirmation = GetItemText(IDC_PASSWORD_CONFIRM);
  if (wsPassword.empty()) {
    ComplainAt(IDC_PASSWORD, IDS_MSG_PASSWORD_EMPTY, IDS_BACKUP_CAPTION);
    return false;
  }
  if (wsConfirmation != wsPassword) {
    ComplainAt(IDC_PASSWORD, IDS_MSG_PASSWORD_MISMATCH, IDS_BACKUP_CAPTION);
    return false;
  }
  if (wsPassword.size() < kMinPasswordLength) {
    ComplainAt(IDC_PASSWORD, IDS_MSG_PASSWORD_SHORT, IDS_BACKUP_CAPTION);
    return false;
  }
  std::wstring wsPath = GetItemText(IDC_BACKUP_PATH);
  if (!CheckTarget(wsPath)) return false;
  SetItemText(IDC_BACKUP_PATH, wsPath);
  const HRESULT hr = WriteBackup(wsPath, wsPassword);
  if (FAILED(hr)) {
    trace.Error("WriteBackup()", hr);
    if (hr != E_ABORT && hr != HRESULT_FROM_WIN32(ERROR_CANCELLED))
      VmMessageBox(m_hWnd, SystemErrorText(static_cast<DWORD>(hr)), IDS_BACKUP_CAPTION, MB_OK | MB_ICONERROR);
    return false;
  }
  return true;
}

bool CCertificateBackupPage::CheckTarget(std::wstring& wsPath) const {
  CTraceScope trace("CCertificateBackupPage::CheckTarget");
  const size_t iName = wsPath.find_last_of(L"\\/");
  const size_t iDot = wsPath.rfind(L'.');
  if (iDot != std::wstring::npos && (iName == std::wstring::npos || iDot > iName)) wsPath.resize(iDot);
  wsPath += kExtension;
  const std::wstring wsFolder = iName == std::wstring::npos ? std::wstring() : wsPath.substr(0, iName);
  // A bare name or a drive-relative one would land wherever the process happens to stand.
  if (wsFolder.empty() || PathIsRelativeW(wsPath.c_str())) {
    ComplainAt(IDC_BACKUP_PATH, IDS_MSG_BACKUP_PATH_INCOMPLETE, IDS_BACKUP_CAPTION);
    return false;
  }
  trace.Message("Path: %ls", wsPath.c_str());
  if (!Exists(wsFolder)) {
    if (VmMessageBox(m_hWnd, IDS_MSG_CREATE_FOLDER, IDS_BACKUP_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
      return false;
    const int nError = SHCreateDirectoryExW(m_hWnd, wsFolder.c_str(), nullptr);
    if (nError != ERROR_SUCCESS && nError != ERROR_ALREADY_EXISTS) {
      trace.Error("SHCreateDirectoryExW()", HRESULT_FROM_WIN32(nError));
      VmMessageBox(m_hWnd, FolderNotWritableText(nError), IDS_BACKUP_CAPTION, MB_OK | MB_ICONERROR);
      return false;
    }
  }
  if (Exists(wsPath) &&
      VmMessageBox(m_hWnd, IDS_MSG_REPLACE_FILE, IDS_BACKUP_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return false;
  wchar_t wszProbe[MAX_PATH] = {};
  if (!GetTempFileNameW(wsFolder.c_str(), L"Vm", 0, wszProbe)) {
    const DWORD dwError = GetLastError();
    trace.Error("GetTempFileNameW()", HRESULT_FROM_WIN32(dwError));
    VmMessageBox(m_hWnd, FolderNotWritableText(dwError), IDS_BACKUP_CAPTION, MB_OK | MB_ICONERROR);
    return false;
  }
  DeleteFileW(wszProbe);
  return true;
}

HRESULT CCertificateBackupPage::WriteBackup(const std::wstring& wsPath, const std::wstring& wsPassword) const {
  CTraceScope trace("CCertificateBackupPage::WriteBackup");
  CWaitCursor waitCursor;
  LibHelper::CDLLLoader backupLibrary;
  if (!backupLibrary.LoadBeside(g_pAddInModule->GetModuleInstance(), L"VmPrivSuiteCfg.dll")) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    trace.Error("LoadLibraryExW(VmPrivSuiteCfg.dll)", hr);
    return hr;
  }
  const auto pfnBackupData = backupLibrary.GetProc<PFN_VM_BACKUP_DATA>("VmBackupData");
  if (!pfnBackupData) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    trace.Error("GetProcAddress(VmBackupData)", hr);
    return hr;
  }
  CComVariant varData;
  HRESULT hr = pfnBackupData(m_hWnd, kAllCredentials, wsPassword.c_str(), &varData);
  if (FAILED(hr)) {
    trace.Error("VmBackupData()", hr);
    return hr;
  }
  if (varData.vt != (VT_ARRAY | VT_UI1) || !varData.parray || SafeArrayGetDim(varData.parray) != 1) {
    trace.Error("VmBackupData() gave no byte array", E_UNEXPECTED);
    return E_UNEXPECTED;
  }
  const DWORD cbData = varData.parray->rgsabound[0].cElements;
  void* pData = nullptr;
  hr = SafeArrayAccessData(varData.parray, &pData);
  if (FAILED(hr)) return hr;
  HANDLE hFile = CreateFileW(wsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD cbWritten = 0;
  if (hFile == INVALID_HANDLE_VALUE) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    trace.Error("CreateFileW()", hr);
  } else {
    if (!WriteFile(hFile, pData, cbData, &cbWritten, nullptr) || cbWritten != cbData) {
      hr = HRESULT_FROM_WIN32(GetLastError());
      trace.Error("WriteFile()", hr);
    }
    CloseHandle(hFile);
    // No half-written backup is left behind.
    if (FAILED(hr)) DeleteFileW(wsPath.c_str());
  }
  SafeArrayUnaccessData(varData.parray);
  return hr;
}
