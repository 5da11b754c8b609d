// Drawing at the window's DPI. The program declares itself per-monitor (v2)
// aware where the system has that and system aware otherwise (manifest), so
// the system no longer stretches it: whatever is sized in pixels in code
// scales by these.
#pragma once

#include <windows.h>

namespace vx::ui {

inline constexpr UINT kBaseDpi = 96;

// The DPI the window is drawn at: its monitor's under per-monitor awareness,
// the system's otherwise.
UINT WindowDpi(HWND hwnd);

// A length given for 96 DPI, at `dpi`.
inline int ScaleToDpi(int length, UINT dpi) {
  return MulDiv(length, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

// GetSystemMetrics as it would answer at `dpi` (icon and cursor sizes).
int SystemMetricAt(int index, UINT dpi);

}  // namespace vx::ui
