#include "engine/open_file_limit.h"

namespace vx::engine {

// Windows sockets are handles, not C runtime descriptors: no limit to raise.
OpenFileLimit RaiseOpenFileLimit() {
  return OpenFileLimit();
}

}  // namespace vx::engine
