// Standalone Asio, as every engine file includes it. The build defines
// ASIO_STANDALONE and ASIO_NO_DEPRECATED (and, on Windows, the system version).
#pragma once

#include <asio.hpp>
