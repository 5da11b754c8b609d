// vexhold-serve as a Windows service: registering it, removing it, and the
// run under the service manager.
#pragma once

#include <string>

#include "serve/cli.h"

namespace vx {

// --install: an automatic-start service whose command line carries the
// folder (absolute) and the serve options. Returns the exit code.
int InstallService(const ServeOptions& options);
// --uninstall: stops the service (waiting a bounded time) and removes it.
int UninstallService(const ServeOptions& options);
// --service: hands the thread to the service manager; returns when stopped.
int RunAsService(const ServeOptions& options);

// The arguments the service's command line carries after the program's path.
std::vector<std::string> ServiceArguments(const ServeOptions& options, const std::string& dir);

// UTF-8 and UTF-16 for the wide Windows calls.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace vx
