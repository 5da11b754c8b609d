// The IPv4 address control (SysIPAddress32).
#pragma once

#include <cstdint>

#include "ui/framework/window.h"

namespace vx::ui {

class IpAddressCtrl : public Window {
 public:
  using Window::Window;

  // Host order; the most significant byte is the first field.
  void SetAddress(std::uint32_t hostOrder) const;
  // Blank fields read as 0.
  std::uint32_t Address() const;
};

}  // namespace vx::ui
