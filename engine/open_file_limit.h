// The process's limit of open descriptors: every relayed connection takes two.
#pragma once

namespace vx::engine {

struct OpenFileLimit {
  long before = 0;  // 0 where the system has no such limit for sockets
  long now = 0;
};

// Raises the soft limit to the hard limit, as far as the system allows.
OpenFileLimit RaiseOpenFileLimit();

}  // namespace vx::engine
