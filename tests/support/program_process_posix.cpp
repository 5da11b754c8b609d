#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "tests/support/bytes.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace vx::test {

ProgramProcess::ProgramProcess(const std::string& program, const std::vector<std::string>& args,
                               const std::filesystem::path& logDir, ProgramOptions options) {
  static int counter = 0;
  ++counter;
  const std::string stem =
      std::filesystem::path(program).filename().string() + "-" + std::to_string(counter);
  m_out = logDir / (stem + ".out");
  m_err = logDir / (stem + ".err");
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string out = m_out.string(), err = m_err.string();
  m_pid = ::fork();
  if (m_pid == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = options.stderrFd >= 0 ? options.stderrFd
                                        : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, 1);
    ::dup2(e, 2);
    // Nothing else of the test's leaks into the child's descriptor count.
    if (::close_range(3, ~0u, 0) != 0) {
      for (int fd = 3; fd < 65536; ++fd)
        ::close(fd);
    }
    if (options.fileLimit > 0) {
      rlimit lim{static_cast<rlim_t>(options.fileLimit), static_cast<rlim_t>(options.fileLimit)};
      ::setrlimit(RLIMIT_NOFILE, &lim);
    }
    // A clean signal state, whatever the test runner left behind.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

ProgramProcess::~ProgramProcess() {
  if (m_pid > 0 && !m_exited) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
}

void ProgramProcess::Signal(int sig) {
  ::kill(m_pid, sig);
}

int ProgramProcess::WaitExit(int timeoutMs) {
  const Deadline deadline(Ms{timeoutMs});
  for (;;) {
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_exited = true;
      if (WIFEXITED(status))
        return WEXITSTATUS(status);
      return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -2;
    }
    if (deadline.Passed())
      return -1;
    std::this_thread::sleep_for(Ms(10));
  }
}

std::string ProgramProcess::Stderr() const {
  return ReadBytes(m_err);
}

std::string ProgramProcess::Stdout() const {
  return ReadBytes(m_out);
}

::testing::AssertionResult ProgramProcess::WaitForLog(const std::string& text, int timeoutMs,
                                                      int times) const {
  const Deadline deadline(Ms{timeoutMs});
  bool held;
  while (!(held = CountOf(Stderr(), text) >= static_cast<std::size_t>(times)) &&
         !deadline.Passed()) {
    std::this_thread::sleep_for(Ms(20));
  }
  auto outcome =
      WaitOutcome(held, deadline, std::to_string(times) + " log lines with \"" + text + "\"");
  if (!held) {
    const std::string err = Stderr();
    constexpr std::size_t kTail = 4000;
    outcome << "; stderr so far" << (err.size() > kTail ? " (its end)" : "") << ":\n"
            << (err.size() > kTail ? err.substr(err.size() - kTail) : err);
  }
  return outcome;
}

double ProgramProcess::CpuSeconds() const {
  std::ifstream f("/proc/" + std::to_string(m_pid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos)
    return 0;
  std::istringstream rest(stat.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14 || i == 15)
      ticks += std::stod(field);  // utime, stime
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long ProgramProcess::RssKiB() const {
  std::ifstream f("/proc/" + std::to_string(m_pid) + "/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("VmRSS:", 0) == 0)
      return std::stol(line.substr(6));
  }
  return 0;
}

}  // namespace vx::test
