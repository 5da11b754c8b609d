#include "ui/web_link.h"

#include <shellapi.h>

#include <string>

namespace vx::ui {

const wchar_t* LinkLabelText() {
  static const std::wstring* text = new std::wstring(std::wstring(kMakerName) + L" " + kWebAddress);
  return text->c_str();
}

void OpenWebLink(HWND owner) {
  ShellExecuteW(owner, nullptr, kWebAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace vx::ui
