// The report-view list control.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "ui/framework/window.h"

namespace vx::ui {

class ListView : public Window {
 public:
  using Window::Window;

  void InsertColumn(int column, const std::wstring& heading, int width) const;
  int ColumnCount() const;
  int ColumnWidth(int column) const {
    return static_cast<int>(Send(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column)));
  }
  void SetColumnWidth(int column, int width) const {
    Send(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0));
  }
  void SetExtendedStyle(DWORD style) const;
  // Inserts a row at `row` with the text of column 0; the new row's index, or -1.
  int InsertItem(int row, const std::wstring& text) const;
  void SetItemText(int row, int column, const std::wstring& text) const;
  std::wstring ItemText(int row, int column) const;
  void DeleteAllItems() const { Send(LVM_DELETEALLITEMS); }
  int ItemCount() const { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }
  int SelectionMark() const { return static_cast<int>(Send(LVM_GETSELECTIONMARK)); }
};

}  // namespace vx::ui
