#include "ui/RecipientList.h"

#include "module/ResourceStrings.h"
#include "res/StringIds.h"

void CRecipientList::Attach(HWND hList, bool bCheckBoxes) {
  m_hList = hList;
  ListView_SetExtendedListViewStyle(hList, LVS_EX_FULLROWSELECT | (bCheckBoxes ? LVS_EX_CHECKBOXES : 0));
  RECT rc = {};
  GetClientRect(hList, &rc);
  const int cxClient = rc.right - rc.left;
  const int acxColumns[] = {cxClient - cxClient / 2 - GetSystemMetrics(SM_CXVSCROLL), cxClient / 2};
  const UINT anStrings[] = {IDS_COLUMN_NAME, IDS_COLUMN_EMAIL};
  for (int i = 0; i < 2; ++i) {
    std::wstring wsTitle = LoadResourceString(anStrings[i]);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = acxColumns[i];
    column.pszText = wsTitle.data();
    column.iSubItem = i;
    ListView_InsertColumn(hList, i, &column);
  }
}

int CRecipientList::AddRow(const std::wstring& wsName, const std::wstring& wsEmail, LPARAM lParam) const {
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = GetRowCount();
  item.pszText = const_cast<wchar_t*>(wsName.c_str());
  item.lParam = lParam;
  const int iRow = ListView_InsertItem(m_hList, &item);
  if (iRow >= 0) ListView_SetItemText(m_hList, iRow, 1, const_cast<wchar_t*>(wsEmail.c_str()));
  return iRow;
}

LPARAM CRecipientList::GetRowData(int iRow) const {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = iRow;
  return ListView_GetItem(m_hList, &item) ? item.lParam : 0;
}

std::wstring CRecipientList::GetRowText(int iRow, int iColumn) const {
  wchar_t wszText[512] = {};
  ListView_GetItemText(m_hList, iRow, iColumn, wszText, ARRAYSIZE(wszText));
  return wszText;
}

bool CRecipientList::OnNotify(const NMHDR& hdr) {
  if (hdr.hwndFrom != m_hList) return false;
  if (hdr.code == LVN_COLUMNCLICK) {
    Sort(reinterpret_cast<const NMLISTVIEW&>(hdr).iSubItem);
    return true;
  }
  if (hdr.code == LVN_ITEMCHANGED) {
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(hdr);
    if ((change.uChanged & LVIF_STATE) &&
        (change.uNewState & LVIS_STATEIMAGEMASK) != (change.uOldState & LVIS_STATEIMAGEMASK))
      PropagateCheck(change.iItem);
    return true;
  }
  return false;
}

void CRecipientList::Sort(int iColumn) {
  m_bAscending = iColumn == m_iSortColumn ? !m_bAscending : true;
  m_iSortColumn = iColumn;
  ListView_SortItemsEx(
      m_hList,
      [](LPARAM lRow1, LPARAM lRow2, LPARAM lThis) -> int {
        const auto* pThis = reinterpret_cast<const CRecipientList*>(lThis);
        const int iOrder = lstrcmpiW(pThis->GetRowText(static_cast<int>(lRow1), pThis->m_iSortColumn).c_str(),
                                     pThis->GetRowText(static_cast<int>(lRow2), pThis->m_iSortColumn).c_str());
        return pThis->m_bAscending ? iOrder : -iOrder;
      },
      reinterpret_cast<LPARAM>(this));
  HWND hHeader = ListView_GetHeader(m_hList);
  for (int i = 0; i < Header_GetItemCount(hHeader); ++i) {
    HDITEMW header = {};
    header.mask = HDI_FORMAT;
    Header_GetItem(hHeader, i, &header);
    header.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (i == iColumn) header.fmt |= m_bAscending ? HDF_SORTUP : HDF_SORTDOWN;
    Header_SetItem(hHeader, i, &header);
  }
}

void CRecipientList::PropagateCheck(int iRow) {
  if (m_bPropagating || iRow < 0 || !(ListView_GetItemState(m_hList, iRow, LVIS_SELECTED) & LVIS_SELECTED)) return;
  m_bPropagating = true;
  const bool bChecked = IsRowChecked(iRow);
  for (int i = ListView_GetNextItem(m_hList, -1, LVNI_SELECTED); i >= 0;
       i = ListView_GetNextItem(m_hList, i, LVNI_SELECTED))
    if (i != iRow) CheckRow(i, bChecked);
  m_bPropagating = false;
}
