// UTF-8 (the core's texts) to UTF-16 (the window system's) and back.
#pragma once

#include <string>

namespace vx::ui {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace vx::ui
