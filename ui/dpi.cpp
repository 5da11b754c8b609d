#include "ui/dpi.h"

namespace vx::ui {

namespace {

// Windows 10 (1607) and later; looked up so the program still starts on
// older systems, which then draw at the system DPI.
template <typename Fn>
Fn User32(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  FARPROC proc = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

UINT SystemDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen != nullptr) {
    ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

}  // namespace

UINT WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto forWindow = User32<GetDpiForWindowFn>("GetDpiForWindow");
  UINT dpi = forWindow != nullptr && hwnd != nullptr ? forWindow(hwnd) : 0;
  return dpi != 0 ? dpi : SystemDpi();
}

int SystemMetricAt(int index, UINT dpi) {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto forDpi = User32<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (forDpi != nullptr) {
    return forDpi(index, dpi);
  }
  return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

}  // namespace vx::ui
