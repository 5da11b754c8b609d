#include "serve/notify.h"

namespace vx {

// Windows has no notify socket; the service hears through its listener.
bool SendNotifySocket(const std::string&) {
  return false;
}

}  // namespace vx
