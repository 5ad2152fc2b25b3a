#pragma once
// The action the user takes on a received message once its analysis (AnalyzeMessage) offered one:
// the signer becomes a trusted contact and an invitation is answered, an authority's answer is
// installed and invitations go out, or an enterprise request is enrolled.
#include <windows.h>
#include <wincrypt.h>

#include "mail/ReceivedMail.h"

// Carries the action for a message of that kind out (kinds and texts as AnalyzeMessage gives
// them). bIsReply: the message is an invitation reply (IsInvitationReply), which is not answered
// again. *pdwDone (may be null) becomes 1 when a certificate was installed. E_ABORT when the user
// declined or must first get a certificate of their own.
HRESULT ProcessMessage(IDispatch* pMailItem, DWORD dwKind, LPCWSTR wszText, PCCERT_CONTEXT pCertificate, BOOL bIsReply,
                       DWORD* pdwDone);

// Keeps an invitation reply's window drawn as active while the contact's message box is in front:
// it answers WM_NCACTIVATE with TRUE itself until the first deactivation, which it lets through
// and then detaches and deletes itself.
class CReplyWindow {
 public:
  // A new CReplyWindow on the window; it deletes itself. False when the window cannot be subclassed.
  static bool Attach(HWND hwnd);

 private:
  explicit CReplyWindow(HWND hwnd) : m_hwnd(hwnd) {}
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                       DWORD_PTR dwRefData);
  HWND m_hwnd;
};
