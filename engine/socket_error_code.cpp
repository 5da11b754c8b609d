#include "engine/socket_error_code.h"

#include "platform/socket.h"

namespace vx::engine {

namespace {

// WSAHOST_NOT_FOUND and its neighbours: what Windows reports for names.
constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNoRecovery = 11003;
constexpr int kNoData = 11004;

}  // namespace

int WindowsSocketsCode(const asio::error_code& ec) {
  if (ec == asio::error::host_not_found)
    return kHostNotFound;
  if (ec == asio::error::host_not_found_try_again)
    return kTryAgain;
  if (ec == asio::error::no_recovery)
    return kNoRecovery;
  if (ec == asio::error::no_data)
    return kNoData;
  if (ec == asio::error::timed_out)
    return net::kErrTimedOut;
  if (ec == asio::error::connection_refused)
    return net::kErrConnRefused;
  if (ec == asio::error::connection_reset)
    return net::kErrConnReset;
  if (ec == asio::error::connection_aborted)
    return net::kErrConnAborted;
  if (ec.category() == asio::system_category())
    return net::SocketErrorFromSystem(ec.value());
  return kHostNotFound;  // the other resolver categories: the name did not resolve
}

bool IsOutOfResources(const asio::error_code& ec) {
  return ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space ||
         ec == asio::error::no_memory || ec == asio::error_code(ENFILE, asio::system_category());
}

}  // namespace vx::engine
