#pragma once
// CVmActCtx keeps the module's activation context active for its lifetime: the isolation
// manifest (resource 24, id 2) binds common controls 6.0.0.0. Every message box, dialog and
// suite-library call that may show a window is made inside one.
#include <windows.h>

class CVmActCtx {
 public:
  CVmActCtx();
  // Keeps the thread's last error, so that a failure inside the scope can still be read after it.
  ~CVmActCtx();
  CVmActCtx(const CVmActCtx&) = delete;
  CVmActCtx& operator=(const CVmActCtx&) = delete;

  bool IsActive() const { return m_ulCookie != 0; }

 private:
  HANDLE m_hActCtx = INVALID_HANDLE_VALUE;
  ULONG_PTR m_ulCookie = 0;
};
