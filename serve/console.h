// Text output of vexhold-serve. Texts are UTF-8; on a Windows console they
// are written as UTF-16 (WriteConsoleW) so that Chinese shows whatever the
// console's code page, and as UTF-8 bytes when redirected.
#pragma once

#include <string>
#include <vector>

namespace vx {

void WriteStdout(const std::string& text);
void WriteStderr(const std::string& text);

}  // namespace vx

namespace vx {

// The program's arguments (without the program name) as UTF-8: on Windows
// taken from the wide command line, elsewhere argv as it is.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace vx
