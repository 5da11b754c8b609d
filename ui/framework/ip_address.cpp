#include "ui/framework/ip_address.h"

#include <commctrl.h>

namespace vx::ui {

void IpAddressCtrl::SetAddress(std::uint32_t hostOrder) const {
  Send(IPM_SETADDRESS, 0, static_cast<LPARAM>(hostOrder));
}

std::uint32_t IpAddressCtrl::Address() const {
  DWORD value = 0;
  Send(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&value));
  return value;
}

}  // namespace vx::ui
