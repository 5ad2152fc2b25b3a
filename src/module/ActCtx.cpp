#include "module/ActCtx.h"

#include "module/AddInModule.h"
#include "res/resource.h"

CVmActCtx::CVmActCtx() {
  const HMODULE hModule = g_pAddInModule ? g_pAddInModule->GetModuleInstance() : nullptr;
  wchar_t wszPath[MAX_PATH] = {};
  if (!hModule || !GetModuleFileNameW(hModule, wszPath, MAX_PATH)) return;
  ACTCTXW actCtx = {};
  actCtx.cbSize = sizeof(actCtx);
  actCtx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  actCtx.lpSource = wszPath;
  actCtx.hModule = hModule;
  actCtx.lpResourceName = MAKEINTRESOURCEW(IDR_ISOLATION_MANIFEST);
  m_hActCtx = CreateActCtxW(&actCtx);
  if (m_hActCtx != INVALID_HANDLE_VALUE && !ActivateActCtx(m_hActCtx, &m_ulCookie)) m_ulCookie = 0;
}

CVmActCtx::~CVmActCtx() {
  const DWORD dwLastError = GetLastError();
  if (m_ulCookie) DeactivateActCtx(0, m_ulCookie);
  if (m_hActCtx != INVALID_HANDLE_VALUE) ReleaseActCtx(m_hActCtx);
  SetLastError(dwLastError);
}
