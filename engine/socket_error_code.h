// Errors in the form the relay messages show them: Windows Sockets codes, on
// every system ("连接服务器失败(10061)!" for a refused connect).
#pragma once

#include <system_error>

#include "engine/asio.h"

namespace vx::engine {

// The Windows Sockets code of a socket or name-resolution error.
int WindowsSocketsCode(const asio::error_code& ec);

// Errors after which an accept or a new socket must wait for descriptors or
// memory to come back, instead of being tried again at once.
bool IsOutOfResources(const asio::error_code& ec);

// A non-blocking call that found nothing to do yet.
inline bool WouldBlock(const asio::error_code& ec) {
  return ec == asio::error::would_block || ec == asio::error::try_again;
}

}  // namespace vx::engine
