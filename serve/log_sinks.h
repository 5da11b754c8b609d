// The forms a log line takes on its way out, as Logger writers.
#pragma once

#include <string>

#include "serve/log_level.h"
#include "serve/logger.h"

namespace vx {

// "YYYY-MM-DD HH:MM:SS.mmm message\n": a terminal or a file read by people.
std::string TimestampedLine(const std::string& message);
// "<N>message\n" for every line of the message: the journal adds its own time
// and takes N as the line's syslog priority.
std::string JournalLine(LogLevel level, const std::string& message);

// Whether stderr is the journal's stream: JOURNAL_STREAM names its device and
// inode ("dev:ino"), so a stderr redirected elsewhere by a child of the
// service (or by hand) is not taken for it.
bool StderrIsJournal();

Logger::Writer StderrLogWriter();
Logger::Writer JournalLogWriter();
// The journal form when stderr is the journal, the timestamped form otherwise.
Logger::Writer ConsoleLogWriter();

}  // namespace vx
