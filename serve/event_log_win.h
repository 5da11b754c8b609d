// Lines for the Windows event log, under the service's name as the source.
// The program's own message table (one message: the text as it stands) lets
// the event viewer show them without complaint.
#pragma once

#include <string>

#include "serve/log_level.h"

namespace vx {

// Registers the source under HKLM (EventMessageFile = this program).
bool AddEventSource(const std::string& name, const std::wstring& exePath);
void RemoveEventSource(const std::string& name);
// Reports one event; false when the event log refused it.
bool ReportServiceEvent(const std::string& source, LogLevel level, const std::string& text);

}  // namespace vx
