// vexhold-serve run as a child process (POSIX), its stderr captured in a file.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vx::test {

class ServeProcess {
 public:
  // Starts the binary with `args`; stdout and stderr go to files in `logDir`.
  ServeProcess(const std::vector<std::string>& args, const std::filesystem::path& logDir);
  ~ServeProcess();  // kills the child if it still runs
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  void Signal(int sig);
  // The exit code, -1 on time-out (the child then still runs), or 128 + n if
  // it died of signal n.
  int WaitExit(int timeoutMs);
  std::string Stderr() const;
  std::string Stdout() const;
  // Waits until stderr contains `text` `times` times.
  bool WaitForLog(const std::string& text, int timeoutMs, int times = 1) const;

 private:
  pid_t m_pid = -1;
  bool m_exited = false;
  std::filesystem::path m_out, m_err;
};

// Runs the binary to completion (bounded) and returns its exit code.
int RunToExit(const std::vector<std::string>& args, const std::filesystem::path& logDir,
              std::string* out, std::string* err, int timeoutMs = 10000);

// A fresh, empty directory, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

void WriteFile(const std::filesystem::path& path, const std::string& text);
std::string ReadFile(const std::filesystem::path& path);
std::size_t CountOf(const std::string& haystack, const std::string& needle);

}  // namespace vx::test
