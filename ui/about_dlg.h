// The about box (template 100): everything it does is the dialog base's.
#pragma once

#include "res/resource.h"
#include "ui/framework/dialog.h"

namespace vx::ui {

class CAboutDlg : public Dialog {
 public:
  CAboutDlg() : Dialog(IDD_ABOUTBOX) {}
};

}  // namespace vx::ui
