// Screen captures saved as PNG files (uncompressed deflate: simple and exact).
#pragma once

#include <windows.h>

#include <string>

namespace vx::uitest {

// Saves the screen rectangle `rc` (screen coordinates) as a PNG; false on failure.
bool CaptureScreenRect(const RECT& rc, const std::wstring& path);
// The whole screen.
bool CaptureScreen(const std::wstring& path);

}  // namespace vx::uitest
