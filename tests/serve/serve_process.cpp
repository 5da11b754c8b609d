#include "tests/serve/serve_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace vx::test {

namespace {

int g_serveCounter = 0;

}  // namespace

ServeProcess::ServeProcess(const std::vector<std::string>& args,
                           const std::filesystem::path& logDir) {
  ++g_serveCounter;
  m_out = logDir / ("serve-" + std::to_string(g_serveCounter) + ".out");
  m_err = logDir / ("serve-" + std::to_string(g_serveCounter) + ".err");
  std::vector<std::string> argv_s;
  argv_s.push_back(VEXHOLD_SERVE_BINARY);
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  std::string out = m_out.string(), err = m_err.string();
  m_pid = ::fork();
  if (m_pid == 0) {
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, 1);
    ::dup2(e, 2);
    // A clean signal state, whatever the test runner left behind.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

ServeProcess::~ServeProcess() {
  if (m_pid > 0 && !m_exited) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
}

void ServeProcess::Signal(int sig) {
  ::kill(m_pid, sig);
}

int ServeProcess::WaitExit(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    int status = 0;
    pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
      m_exited = true;
      if (WIFEXITED(status))
        return WEXITSTATUS(status);
      if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
      return -2;
    }
    if (std::chrono::steady_clock::now() > deadline)
      return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string ServeProcess::Stderr() const {
  return ReadFile(m_err);
}
std::string ServeProcess::Stdout() const {
  return ReadFile(m_out);
}

bool ServeProcess::WaitForLog(const std::string& text, int timeoutMs, int times) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (CountOf(Stderr(), text) >= static_cast<std::size_t>(times))
      return true;
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int RunToExit(const std::vector<std::string>& args, const std::filesystem::path& logDir,
              std::string* out, std::string* err, int timeoutMs) {
  ServeProcess p(args, logDir);
  int code = p.WaitExit(timeoutMs);
  if (out)
    *out = p.Stdout();
  if (err)
    *err = p.Stderr();
  return code;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vexhold-serve-XXXXXX").string();
  char* made = ::mkdtemp(&tmpl[0]);
  m_path = made ? std::filesystem::path(made) : std::filesystem::path();
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!m_path.empty())
    std::filesystem::remove_all(m_path, ec);
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  // Replaced in one step, as an editor saving the file would.
  std::filesystem::path tmp = path;
  tmp += ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << text;
  }
  std::filesystem::rename(tmp, path);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::size_t CountOf(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

}  // namespace vx::test
