// The forms a log line takes on its way out, as Logger writers.
#pragma once

#include <string>

#include "serve/log_level.h"
#include "serve/logger.h"

namespace vx {

// "<N>message\n" for every line of the message: the journal adds its own time
// and takes N as the line's syslog priority.
std::string JournalLine(LogLevel level, const std::string& message);

// Whether stderr is the journal's stream: JOURNAL_STREAM names its device and
// inode ("dev:ino"), so a stderr redirected elsewhere by a child of the
// service (or by hand) is not taken for it.
bool StderrIsJournal();

// The text of a line the Logger formed, without its stamp and line end.
std::string MessageOfLine(const std::string& line);

// Writers for Logger (which hands them whole stamped lines).
Logger::Writer StderrLogWriter();
Logger::Writer JournalLogWriter();
// The journal form when stderr is the journal, the timestamped form otherwise.
Logger::Writer ConsoleLogWriter();

}  // namespace vx
