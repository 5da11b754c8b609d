// CDigitEdit: a single-line edit whose typed characters are limited to the
// digits 0-9 and control characters. Pasted text is not filtered.
#pragma once

#include "ui/framework/subclassed_window.h"

namespace vx::ui {

class CDigitEdit : public SubclassedWindow {
 protected:
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  // True when the character is dropped.
  bool OnChar(UINT nChar);
};

}  // namespace vx::ui
