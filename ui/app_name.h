// The application's name: the program file's name without its extension.
// It is the caption of every box raised in the application's name.
#pragma once

#include <string>

namespace vx::ui {

const std::wstring& AppName();

}  // namespace vx::ui
