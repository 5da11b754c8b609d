// --install and --uninstall.
#include <windows.h>

#include <chrono>
#include <thread>

#include "serve/console.h"
#include "serve/event_log_win.h"
#include "serve/messages.h"
#include "serve/service.h"
#include "serve/win_command_line.h"

namespace vx {

namespace {

// Closes a service-manager handle on scope exit.
struct ScHandle {
  SC_HANDLE h;
  explicit ScHandle(SC_HANDLE handle) : h(handle) {}
  ~ScHandle() {
    if (h)
      CloseServiceHandle(h);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  explicit operator bool() const { return h != nullptr; }
};

std::wstring ExePath() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring FullPath(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0)
    return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
  full.resize(n);
  // "C:\dir\" and "C:\dir" name the same folder; a trailing backslash would
  // also end up before the closing quote of the command line.
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
    full.pop_back();
  return full;
}

int Refuse(const std::string& text) {
  WriteStderr(text);
  return kExitUsage;
}

}  // namespace

std::vector<std::string> ServiceArguments(const ServeOptions& options, const std::string& dir) {
  std::vector<std::string> args{"--service", "--name", options.name, "--dir", dir};
  const ServeOptions defaults;
  const engine::EngineSettings& e = options.engine;
  const engine::EngineSettings& d = defaults.engine;
  auto number = [&](const char* name, int value, int byDefault) {
    if (value != byDefault) {
      args.push_back(name);
      args.push_back(std::to_string(value));
    }
  };
  if (options.quiet)
    args.push_back("--quiet");
  if (options.watch)
    args.push_back("--watch");
  number("--log-size", options.logSizeMiB, defaults.logSizeMiB);
  if (!e.bindAddress.empty()) {
    args.push_back("--bind");
    args.push_back(e.bindAddress);
  }
  number("--connect-timeout", e.connectTimeoutSeconds, d.connectTimeoutSeconds);
  number("--idle-timeout", e.idleTimeoutSeconds, d.idleTimeoutSeconds);
  number("--max-connections", e.maxConnections, d.maxConnections);
  if (e.halfClose)
    args.push_back("--half-close");
  number("--threads", e.threads, d.threads);
  number("--busy-poll", e.busyPollMicroseconds, d.busyPollMicroseconds);
  number("--stats-interval", options.statsIntervalSeconds, defaults.statsIntervalSeconds);
  return args;
}

int InstallService(const ServeOptions& options) {
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!scm) {
    DWORD e = GetLastError();
    return Refuse(e == ERROR_ACCESS_DENIED ? msg::NeedAdmin()
                                           : msg::ServiceInstallFailed(options.name, e));
  }
  std::wstring exe = ExePath();
  std::wstring dir =
      options.dirGiven ? FullPath(Widen(options.dir)) : exe.substr(0, exe.find_last_of(L"\\/"));
  DWORD attributes = GetFileAttributesW(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Refuse(msg::ServiceDirMissing(Narrow(dir)));

  // The program's path is quoted even without a space: an unquoted path with
  // one would let "C:\Program.exe" run in its place.
  std::wstring commandLine =
      L"\"" + exe + L"\" " + Widen(JoinWindowsArguments(ServiceArguments(options, Narrow(dir))));
  std::wstring display = Widen(msg::ServiceDisplayName(options.name));
  ScHandle service(CreateServiceW(scm.h, Widen(options.name).c_str(), display.c_str(),
                                  SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                                  nullptr, nullptr, nullptr));
  if (!service) {
    DWORD e = GetLastError();
    if (e == ERROR_SERVICE_EXISTS || e == ERROR_DUPLICATE_SERVICE_NAME)
      return Refuse(msg::ServiceExists(options.name));
    return Refuse(e == ERROR_ACCESS_DENIED ? msg::NeedAdmin()
                                           : msg::ServiceInstallFailed(options.name, e));
  }
  std::wstring description = Widen(msg::ServiceDescription(Narrow(dir)));
  SERVICE_DESCRIPTIONW desc{&description[0]};
  ChangeServiceConfig2W(service.h, SERVICE_CONFIG_DESCRIPTION, &desc);
  // A crash is followed by a restart, twice a day at most (the last action
  // repeats for later failures, so it is none); a stop is no failure.
  SC_ACTION actions[3] = {
      {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  ChangeServiceConfig2W(service.h, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
  AddEventSource(options.name, exe);
  WriteStdout(msg::ServiceInstalled(options.name, Narrow(dir)));
  return kExitStopped;
}

int UninstallService(const ServeOptions& options) {
  ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) {
    DWORD e = GetLastError();
    return Refuse(e == ERROR_ACCESS_DENIED ? msg::NeedAdmin()
                                           : msg::ServiceRemoveFailed(options.name, e));
  }
  ScHandle service(OpenServiceW(scm.h, Widen(options.name).c_str(),
                                SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    DWORD e = GetLastError();
    if (e == ERROR_SERVICE_DOES_NOT_EXIST)
      return Refuse(msg::ServiceMissing(options.name));
    return Refuse(e == ERROR_ACCESS_DENIED ? msg::NeedAdmin()
                                           : msg::ServiceRemoveFailed(options.name, e));
  }
  SERVICE_STATUS status{};
  ControlService(service.h, SERVICE_CONTROL_STOP, &status);
  // The service ends every relay within 3 s of a stop; give it twice that.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
  bool stopped = false;
  while (QueryServiceStatus(service.h, &status)) {
    stopped = status.dwCurrentState == SERVICE_STOPPED;
    if (stopped || std::chrono::steady_clock::now() >= deadline)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!DeleteService(service.h)) {
    DWORD e = GetLastError();
    if (e != ERROR_SERVICE_MARKED_FOR_DELETE)
      return Refuse(msg::ServiceRemoveFailed(options.name, e));
  }
  RemoveEventSource(options.name);
  WriteStdout(stopped ? msg::ServiceRemoved(options.name) : msg::ServiceRemovedLater(options.name));
  return kExitStopped;
}

}  // namespace vx
