#include "ui/framework/window.h"

namespace vx::ui {

std::wstring Window::Text() const {
  int n = GetWindowTextLengthW(m_hwnd);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(m_hwnd, text.data(), n + 1);
  text.resize(static_cast<size_t>(n > 0 ? n : 0));
  return text;
}

RECT Window::RectIn(HWND parent) const {
  RECT rc{};
  GetWindowRect(m_hwnd, &rc);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

}  // namespace vx::ui
