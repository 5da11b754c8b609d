// A non-owning view of a window: the routine control calls in one place.
#pragma once

#include <windows.h>

#include <string>

namespace vx::ui {

class Window {
 public:
  Window() = default;
  explicit Window(HWND hwnd) : m_hwnd(hwnd) {}

  void Attach(HWND hwnd) { m_hwnd = hwnd; }
  HWND Hwnd() const { return m_hwnd; }

  LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const {
    return SendMessageW(m_hwnd, msg, wp, lp);
  }
  void Enable(bool enable) const { EnableWindow(m_hwnd, enable ? TRUE : FALSE); }
  bool IsEnabled() const { return IsWindowEnabled(m_hwnd) != FALSE; }
  void Show(int cmd) const { ShowWindow(m_hwnd, cmd); }
  std::wstring Text() const;
  void SetText(const std::wstring& text) const { SetWindowTextW(m_hwnd, text.c_str()); }
  // The window's rectangle in the client coordinates of `parent`.
  RECT RectIn(HWND parent) const;

 protected:
  HWND m_hwnd = nullptr;
};

}  // namespace vx::ui
