// What the command logic needs of the main window. The Win32 window
// implements it; tests implement it with a scripted operator.
#pragma once

#include <string>

#include "store/mapping_entry.h"

namespace vx {

// Control ids of the main window's buttons.
enum class MappingButton : int {
  Modify = 1001,
  Delete = 1002,
  Start = 1003,
  Stop = 1004,
};

// Message box flags and answers, with their Windows values.
enum : unsigned {
  kMbOk = 0x00,
  kMbYesNo = 0x04,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
};
enum : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdYes = 6,
  kIdNo = 7,
};

class IMappingView {
 public:
  virtual ~IMappingView() = default;

  // List: insert a row at position 0 with the text of column 0; the new row's index.
  virtual int InsertRowAtTop(const std::string& column0) = 0;
  virtual void SetCellText(int row, int column, const std::string& text) = 0;
  virtual std::string CellText(int row, int column) const = 0;
  virtual void DeleteAllRows() = 0;
  virtual int RowCount() const = 0;
  // LVM_GETSELECTIONMARK: -1 when there is none.
  virtual int SelectionMark() const = 0;

  virtual void EnableButton(MappingButton button, bool enable) = 0;

  // A modal OK box with the application's name as caption (AfxMessageBox).
  virtual void ShowAppMessage(const std::string& text) = 0;
  // A modal box of the main window with caption "提示"; returns kIdOk, kIdYes, ...
  virtual int ShowNotice(const std::string& text, unsigned flags) = 0;

  // Runs the editor dialog preset with `entry`; true (IDOK) with the edited
  // texts in `entry`, false for a cancel (entry then unchanged).
  virtual bool RunEditor(MappingEntry& entry) = 0;

  // Hides the window into the notification area (true) or restores it.
  virtual void ShowInTray(bool hide) = 0;
};

}  // namespace vx
