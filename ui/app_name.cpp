#include "ui/app_name.h"

#include <windows.h>

namespace vx::ui {

namespace {

std::wstring ModuleBaseName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) {
      return L"vexhold";
    }
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) {
    name.resize(dot);
  }
  return name;
}

}  // namespace

const std::wstring& AppName() {
  static const std::wstring* name = new std::wstring(ModuleBaseName());  // relays use it at exit
  return *name;
}

}  // namespace vx::ui
