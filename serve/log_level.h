// How much a log line matters, numbered as the syslog priorities are, so a
// sink that speaks that language (a journal prefix "<3>") can use the value.
#pragma once

namespace vx {

enum class LogLevel {
  kError = 3,    // a pair or the program cannot do its job (port in use, out of descriptors)
  kWarning = 4,  // something was refused or skipped (bad pair, connect failed, limit reached)
  kNotice = 5,   // the program's own course (start, reload, stop, figures)
  kInfo = 6,     // one connection opened or closed
};

}  // namespace vx
