// The level of a log line, numbered as the syslog priorities.
#pragma once

namespace vx {

enum class LogLevel { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

}  // namespace vx
