// vexhold-serve run as a child process (POSIX), its output captured in files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace vx::test {

class ServeProcess : public ProgramProcess {
 public:
  ServeProcess(const std::vector<std::string>& args, const std::filesystem::path& logDir,
               ProgramOptions options = {})
      : ProgramProcess(VEXHOLD_SERVE_BINARY, args, logDir, options) {}
};

// Runs the binary to completion (bounded) and returns its exit code.
int RunToExit(const std::vector<std::string>& args, const std::filesystem::path& logDir,
              std::string* out, std::string* err, int timeoutMs = 10000);

// Replaces the file in one step, as an editor saving it would.
void SaveReplacing(const std::filesystem::path& path, const std::string& text);

}  // namespace vx::test
