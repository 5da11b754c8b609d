// The run under the service manager: status reports with wait hints, the
// controls, the log file and the event log.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "serve/console.h"
#include "serve/event_log_win.h"
#include "serve/log_file.h"
#include "serve/logger.h"
#include "serve/messages.h"
#include "serve/notify.h"
#include "serve/run_server.h"
#include "serve/service.h"
#include "serve/stop_signal.h"

namespace vx {

namespace {

// A stop must end every relay within this long; the second stop request
// (which ends the relays' waits at once) goes out well before it.
constexpr DWORD kStopHintMs = 3000;
constexpr DWORD kSecondStopMs = 2000;
constexpr DWORD kTerminateMs = 2800;
constexpr DWORD kStartHintMs = 10000;

class Service : public ReadinessListener {
 public:
  explicit Service(const ServeOptions& options) : m_options(options) {}

  void Main();
  DWORD Control(DWORD control);
  void OnReady() override;
  void OnStopping() override { BeginStop(); }
  // A forced exit: the process ends right after this.
  void ReportForcedExit() { Finish(kExitForced); }

 private:
  void SetState(DWORD state, DWORD waitHint, int exitCode = 0);
  void BeginStop();
  void Heartbeat();
  void Watchdog();
  void Finish(int exitCode);
  // A whole line as the Logger forms it (the Logger's writer).
  void Log(LogLevel level, const std::string& line);
  // A line of the service's own, stamped now.
  void Note(LogLevel level, const std::string& text) { Log(level, Logger::FormatLine(text)); }

  ServeOptions m_options;
  std::string m_logPath;
  SERVICE_STATUS_HANDLE m_handle = nullptr;
  std::mutex m_statusMutex;
  SERVICE_STATUS m_status{};
  std::mutex m_logMutex;
  std::unique_ptr<RotatingLogFile> m_log;
  std::atomic<bool> m_ready{false};
  std::atomic<bool> m_stopping{false};
  std::mutex m_doneMutex;
  std::condition_variable m_doneCv;
  bool m_done = false;
  std::thread m_heartbeat;
};

Service* g_service = nullptr;

void Service::SetState(DWORD state, DWORD waitHint, int exitCode) {
  std::lock_guard<std::mutex> lock(m_statusMutex);
  if (m_status.dwCurrentState == SERVICE_STOPPED)
    return;  // nothing follows a stop
  m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  m_status.dwCurrentState = state;
  m_status.dwControlsAccepted =
      state == SERVICE_RUNNING
          ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE
          : 0;
  bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  m_status.dwCheckPoint = pending ? 1 : 0;
  m_status.dwWaitHint = waitHint;
  m_status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  m_status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  SetServiceStatus(m_handle, &m_status);
}

// While starting or stopping, the check point moves on twice a second, so the
// manager sees progress however long a start with many pairs takes.
void Service::Heartbeat() {
  std::unique_lock<std::mutex> lock(m_doneMutex);
  while (!m_doneCv.wait_for(lock, std::chrono::milliseconds(500), [this] { return m_done; })) {
    std::lock_guard<std::mutex> status(m_statusMutex);
    if (m_status.dwCurrentState == SERVICE_START_PENDING ||
        m_status.dwCurrentState == SERVICE_STOP_PENDING) {
      ++m_status.dwCheckPoint;
      SetServiceStatus(m_handle, &m_status);
    }
  }
}

void Service::Log(LogLevel level, const std::string& line) {
  std::lock_guard<std::mutex> lock(m_logMutex);
  if (m_log)
    m_log->Write(level, line);
}

void Service::OnReady() {
  m_ready.store(true);
  SetState(SERVICE_RUNNING, 0);
  ReportServiceEvent(m_options.name, LogLevel::kNotice,
                     msg::ServiceStarted(m_options.name, m_options.dir + "\\setting.ini"));
}

void Service::BeginStop() {
  if (m_stopping.exchange(true))
    return;
  SetState(SERVICE_STOP_PENDING, kStopHintMs);
  std::thread([this] { Watchdog(); }).detach();
}

void Service::Watchdog() {
  auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(m_doneMutex);
  if (m_doneCv.wait_until(lock, start + std::chrono::milliseconds(kSecondStopMs),
                          [this] { return m_done; })) {
    return;
  }
  lock.unlock();
  // A relay stuck in a connect or a send: the second request ends the wait.
  Note(LogLevel::kWarning, msg::ServiceStopOverdue(static_cast<int>(kSecondStopMs)));
  PostServeEvent(ServeEvent::kStop);
  lock.lock();
  if (m_doneCv.wait_until(lock, start + std::chrono::milliseconds(kTerminateMs),
                          [this] { return m_done; })) {
    return;
  }
  lock.unlock();
  Finish(kExitForced);
  TerminateProcess(GetCurrentProcess(), kExitForced);
}

DWORD Service::Control(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      BeginStop();
      PostServeEvent(ServeEvent::kStop);
      return NO_ERROR;
    case SERVICE_CONTROL_PARAMCHANGE:
      Note(LogLevel::kNotice, msg::ServiceParamChange());
      PostServeEvent(ServeEvent::kReload);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void Service::Finish(int exitCode) {
  {
    std::lock_guard<std::mutex> lock(m_doneMutex);
    if (m_done)
      return;
    m_done = true;
  }
  m_doneCv.notify_all();
  if (m_ready.load()) {
    ReportServiceEvent(m_options.name, LogLevel::kNotice, msg::ServiceStopped(m_options.name));
  } else {
    ReportServiceEvent(m_options.name, LogLevel::kError,
                       msg::ServiceStartFailed(m_options.name, exitCode, m_logPath));
  }
  if (m_heartbeat.joinable() && m_heartbeat.get_id() != std::this_thread::get_id())
    m_heartbeat.join();
  SetState(SERVICE_STOPPED, 0, exitCode);
}

void Service::Main() {
  m_handle = RegisterServiceCtrlHandlerExW(
      Widen(m_options.name).c_str(),
      [](DWORD control, DWORD, LPVOID, LPVOID) { return g_service->Control(control); }, nullptr);
  if (m_handle == nullptr)
    return;
  SetState(SERVICE_START_PENDING, kStartHintMs);
  m_heartbeat = std::thread([this] { Heartbeat(); });
  InstallStopSignals();
  m_logPath = m_options.dir + "\\vexhold-serve.log";
  m_log = std::make_unique<RotatingLogFile>(
      std::filesystem::u8path(m_logPath),
      static_cast<std::uint64_t>(m_options.logSizeMiB) * 1024 * 1024);
  if (!m_log->IsOpen())
    ReportServiceEvent(m_options.name, LogLevel::kWarning, msg::LogFileUnusable(m_logPath));
  SetShutdownHook([] { g_service->ReportForcedExit(); });
  SetReadinessListener(this);
  int code =
      RunServer(m_options, [this](LogLevel level, const std::string& line) { Log(level, line); });
  SetReadinessListener(nullptr);
  Finish(code);
}

std::wstring ProgramFolder() {
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(n);
  return path.substr(0, path.find_last_of(L"\\/"));
}

}  // namespace

std::wstring Widen(const std::string& text) {
  if (text.empty())
    return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty())
    return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

int RunAsService(const ServeOptions& options) {
  ServeOptions o = options;
  // A service starts in the system folder: a relative or missing folder is
  // taken from the program's own place, as --install does.
  if (!o.dirGiven)
    o.dir = Narrow(ProgramFolder());
  static Service service(o);
  g_service = &service;
  static std::wstring name = Widen(o.name);
  SERVICE_TABLE_ENTRYW table[] = {
      {&name[0], [](DWORD, LPWSTR*) { g_service->Main(); }},
      {nullptr, nullptr},
  };
  if (!StartServiceCtrlDispatcherW(table)) {
    WriteStderr(msg::NotUnderServiceManager());
    return kExitUsage;
  }
  return kExitStopped;
}

}  // namespace vx
