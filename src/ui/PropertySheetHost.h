#pragma once
// The property-sheet host behind OX_ShowProperties, and the launchers of the suite's
// management programs.
#include <windows.h>

#include <vector>

// A modal property sheet without an owner, showing pages that a management library made. It
// centres itself when first shown; kActivateMessage brings its last active pop-up to the front.
class COfcPropertySheet {
 public:
  static constexpr UINT kActivateMessage = WM_APP + 0x4F;

  COfcPropertySheet(UINT nTitleID, UINT nStartPage);
  ~COfcPropertySheet();
  COfcPropertySheet(const COfcPropertySheet&) = delete;
  COfcPropertySheet& operator=(const COfcPropertySheet&) = delete;

  // Takes the page; false (and the page destroyed) when the sheet cannot hold more.
  bool AddPage(HPROPSHEETPAGE hPage);
  size_t GetPageCount() const { return m_pages.size(); }
  // What PropertySheet returns; the pages belong to the sheet from then on.
  INT_PTR DoModal();

 private:
  static int CALLBACK SheetCallback(HWND hWnd, UINT uMsg, LPARAM lParam);
  static LRESULT CALLBACK SheetSubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                            DWORD_PTR dwRefData);
  void OnDllMessage(HWND hWnd) const;

  UINT m_nTitleID;
  UINT m_nStartPage;
  std::vector<HPROPSHEETPAGE> m_pages;
  bool m_bShown = false;
};

// OX_ShowProperties: szCommandLine is "<start page>,<management library>".
void ShowManagementProperties(const char* szCommandLine);

// The user's certificates and the trusted contacts in the suite's console, else in the
// property sheet of their management library.
void LaunchCertificateManager();
void LaunchBuddyManager();
