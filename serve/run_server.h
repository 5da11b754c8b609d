// One run of the server as main() and the Windows service both do it: the
// logger on the given writer, the relays' alert sink, the file watch when
// asked for, the server until it is stopped.
#pragma once

#include "serve/cli.h"
#include "serve/logger.h"

namespace vx {

// Returns the exit code. A forced exit (a second stop while some relay still
// runs) does not return: the process ends at once, after NotifyShutdownComplete.
int RunServer(const ServeOptions& options, Logger::Writer writer);

}  // namespace vx
