#include "ui/framework/list_view.h"

namespace vx::ui {

void ListView::InsertColumn(int column, const std::wstring& heading, int width) const {
  LVCOLUMNW col{};
  col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  col.fmt = LVCFMT_LEFT;
  col.cx = width;
  col.pszText = const_cast<wchar_t*>(heading.c_str());
  col.iSubItem = column;
  Send(LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col));
}

int ListView::ColumnCount() const {
  HWND header = reinterpret_cast<HWND>(Send(LVM_GETHEADER));
  return header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

void ListView::SetExtendedStyle(DWORD style) const {
  Send(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(style));
}

int ListView::InsertItem(int row, const std::wstring& text) const {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  return static_cast<int>(Send(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void ListView::SetItemText(int row, int column, const std::wstring& text) const {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  Send(LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::wstring ListView::ItemText(int row, int column) const {
  // Grow the buffer until the text fits (the control returns the copied length).
  for (int cap = 64;; cap *= 4) {
    std::wstring buf(static_cast<size_t>(cap), L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buf.data();
    item.cchTextMax = cap;
    int n = static_cast<int>(
        Send(LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (n < cap - 1 || cap >= 65536) {
      buf.resize(static_cast<size_t>(n > 0 ? n : 0));
      return buf;
    }
  }
}

}  // namespace vx::ui
