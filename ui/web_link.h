// The maker's web link at the bottom left of the main window.
#pragma once

#include <windows.h>

namespace vx::ui {

// A bare host name: the shell's default action opens it in the web browser.
inline constexpr wchar_t kWebAddress[] = L"www.vexhold.example";
inline constexpr wchar_t kMakerName[] = L"Vexhold 工作室";

// "<maker> <address>", the label's text.
const wchar_t* LinkLabelText();

// Strictly inside on all four sides: the label's edge pixels do not count.
inline bool StrictlyInside(const RECT& rc, POINT pt) {
  return rc.left < pt.x && pt.x < rc.right && rc.top < pt.y && pt.y < rc.bottom;
}

void OpenWebLink(HWND owner);

}  // namespace vx::ui
