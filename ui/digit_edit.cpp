#include "ui/digit_edit.h"

namespace vx::ui {

namespace {

// isdigit / iscntrl in the default locale, for UTF-16 code units.
bool IsDigit(UINT c) {
  return c >= L'0' && c <= L'9';
}
bool IsControl(UINT c) {
  return c < 0x20 || c == 0x7F;
}

}  // namespace

bool CDigitEdit::OnMessage(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_CHAR && OnChar(static_cast<UINT>(wp))) {
    result = 0;
    return true;
  }
  return false;
}

bool CDigitEdit::OnChar(UINT nChar) {
  return !(IsDigit(nChar) || IsControl(nChar));
}

}  // namespace vx::ui
