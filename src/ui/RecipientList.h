#pragma once
// The recipient lists of the dialogs and pages: a list view with the columns name (string 421)
// and e-mail address (string 422), sorted by a click on a column header (ascending first, then
// alternating, with the arrow on that header only). With check boxes, a row whose check state
// changes while it is selected gives its state to every other selected row.
#include <windows.h>
#include <commctrl.h>

#include <string>

class CRecipientList {
 public:
  void Attach(HWND hList, bool bCheckBoxes);
  HWND GetHwnd() const { return m_hList; }

  void Clear() const { ListView_DeleteAllItems(m_hList); }
  // Appends a row; its item data is lParam.
  int AddRow(const std::wstring& wsName, const std::wstring& wsEmail, LPARAM lParam) const;
  int GetRowCount() const { return ListView_GetItemCount(m_hList); }
  bool IsRowChecked(int iRow) const { return ListView_GetCheckState(m_hList, iRow) != FALSE; }
  void CheckRow(int iRow, bool bChecked) const { ListView_SetCheckState(m_hList, iRow, bChecked ? TRUE : FALSE); }
  LPARAM GetRowData(int iRow) const;
  std::wstring GetRowText(int iRow, int iColumn) const;

  // Handles the list's notifications (column clicks, check changes); true when it was one of them.
  bool OnNotify(const NMHDR& hdr);

 private:
  void Sort(int iColumn);
  void PropagateCheck(int iRow);

  HWND m_hList = nullptr;
  int m_iSortColumn = -1;
  bool m_bAscending = true;
  bool m_bPropagating = false;
};
