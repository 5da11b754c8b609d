// vexhold-serve.exe as a Windows service under the real service manager
// (Wine's services.exe in the test runs): --install, start, bytes relayed on
// loopback, a reload by PARAMCHANGE, the log file and its rotation, stop
// within 3 s, --uninstall.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>
#include <vector>

#include "serve/service.h"
#include "tests/relay/relay_fixture.h"
#include "tests/serve/setting_text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace vx::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::wstring kExe = WindowsPath(VEXHOLD_SERVE_BINARY);

std::string Slurp(const std::filesystem::path& p) {
  return test::ReadBytes(p);
}

void Spit(const std::filesystem::path& p, const std::string& text) {
  test::WriteBytes(p, text);
}

// vexhold-serve.exe with arguments, run to its end.
int Serve(const std::vector<std::string>& args, std::string* out) {
  std::wstring cmd = L"\"" + kExe + L"\"";
  for (const std::string& a : args)
    cmd += L" \"" + Widen(a) + L"\"";
  return RunProgram(cmd, out);
}

std::string UniqueName(const char* what) {
  static int n = 0;
  return std::string("vexhold-test-") + what + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++n);
}

class ServiceManager {
 public:
  ServiceManager() : m_scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
  ~ServiceManager() {
    if (m_scm)
      CloseServiceHandle(m_scm);
  }
  SC_HANDLE Open(const std::string& name) {
    return OpenServiceW(m_scm, Widen(name).c_str(), SERVICE_ALL_ACCESS);
  }

 private:
  SC_HANDLE m_scm;
};

// One installed service, removed at the end whatever the test did.
class InstalledService {
 public:
  InstalledService(const std::string& name, const std::vector<std::string>& installArgs)
      : m_name(name) {
    std::vector<std::string> args{"--install", "--name", name};
    args.insert(args.end(), installArgs.begin(), installArgs.end());
    installCode = Serve(args, &installOutput);
    m_handle = m_manager.Open(name);
  }
  ~InstalledService() {
    if (m_handle) {
      SERVICE_STATUS s;
      ControlService(m_handle, SERVICE_CONTROL_STOP, &s);
      WaitState(SERVICE_STOPPED, 6000);
      DeleteService(m_handle);
      CloseServiceHandle(m_handle);
    }
  }
  SC_HANDLE Handle() const { return m_handle; }
  // Lets go of the service: a service is deleted once no handle is open.
  void Release() {
    if (m_handle)
      CloseServiceHandle(m_handle);
    m_handle = nullptr;
  }
  const std::string& Name() const { return m_name; }

  SERVICE_STATUS_PROCESS Status() const {
    SERVICE_STATUS_PROCESS s{};
    DWORD needed = 0;
    QueryServiceStatusEx(m_handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s,
                         &needed);
    return s;
  }
  // Polls until the state is reached; every state seen goes to *seen. A busy
  // poll catches states that last only a few milliseconds.
  bool WaitState(DWORD state, int timeoutMs, std::vector<SERVICE_STATUS_PROCESS>* seen = nullptr,
                 bool busy = false) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
      SERVICE_STATUS_PROCESS s = Status();
      if (seen && (seen->empty() || seen->back().dwCurrentState != s.dwCurrentState))
        seen->push_back(s);
      if (s.dwCurrentState == state)
        return true;
      if (Clock::now() > deadline)
        return false;
      if (busy)
        std::this_thread::yield();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  int installCode = -1;
  std::string installOutput;

 private:
  ServiceManager m_manager;
  std::string m_name;
  SC_HANDLE m_handle = nullptr;
};

bool WaitForText(const std::filesystem::path& file, const std::string& text, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Slurp(file).find(text) == std::string::npos) {
    if (Clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::wstring EventSourceKey(const std::string& name) {
  return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + Widen(name);
}

bool Echoes(net::Socket s, unsigned seed) {
  std::string data = Pattern(30000, seed), back;
  return SendAll(s, data) && RecvExact(s, data.size(), &back) && back == data;
}

TEST(WindowsService, InstallStartRelayReloadByParamChangeLogRotationStopUninstall) {
  TestServer backend(TestServer::kEcho);
  TempDir dir;
  std::uint16_t pa = FreePort(), pb = FreePort();
  Spit(dir.Path() / "setting.ini", IniText({To(pa, backend.Port())}));
  // A full log file and three old ones: the service's first line rotates them.
  auto log = dir.Path() / "vexhold-serve.log";
  std::string filler = "\xEF\xBB\xBF";
  while (filler.size() < 1024 * 1024 - 40)
    filler += "2000-01-01 00:00:00.000 filler line\r\n";
  Spit(log, filler);
  Spit(dir.Path() / "vexhold-serve.1.log", "old 1");
  Spit(dir.Path() / "vexhold-serve.2.log", "old 2");
  Spit(dir.Path() / "vexhold-serve.3.log", "old 3");

  const std::string name = UniqueName("main");
  const std::string winDir = dir.Path().string();
  InstalledService service(name, {"--dir", winDir, "--log-size", "1"});
  ASSERT_EQ(service.installCode, 0) << service.installOutput;
  EXPECT_NE(service.installOutput.find("已安装服务 " + name + " (自动启动)"), std::string::npos)
      << service.installOutput;
  ASSERT_NE(service.Handle(), nullptr);

  // Registered as asked: automatic start, the options on its command line.
  {
    std::vector<BYTE> buf(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
    ASSERT_TRUE(
        QueryServiceConfigW(service.Handle(), config, static_cast<DWORD>(buf.size()), &needed));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(Narrow(config->lpBinaryPathName),
              Narrow(L"\"" + kExe + L"\" --service --name " + Widen(name) + L" --dir " +
                     Widen(winDir) + L" --log-size 1"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey(name).c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    wchar_t file[1024] = {};
    DWORD size = sizeof file;
    EXPECT_EQ(RegQueryValueExW(key, L"EventMessageFile", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(file), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Narrow(file), Narrow(kExe));
  }
  std::string out;
  EXPECT_EQ(Serve({"--install", "--name", name, "--dir", winDir}, &out), 1);
  EXPECT_NE(out.find("服务 " + name + " 已存在"), std::string::npos) << out;

  // Start: START_PENDING with a wait hint, then RUNNING with the controls.
  ASSERT_TRUE(StartServiceW(service.Handle(), 0, nullptr));
  std::vector<SERVICE_STATUS_PROCESS> seen;
  ASSERT_TRUE(service.WaitState(SERVICE_RUNNING, 15000, &seen, true)) << Slurp(log);
  // START_PENDING lasts as long as reading the file and starting the pairs
  // takes; on a loaded machine the poll can miss it, but when it sees it, it
  // must carry a wait hint.
  if (seen.size() >= 2) {
    EXPECT_EQ(seen.front().dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_GT(seen.front().dwWaitHint, 0u);
  } else {
    std::printf("[ info ] the start was over before the poll saw START_PENDING\n");
  }
  DWORD accepted = seen.back().dwControlsAccepted;
  EXPECT_TRUE(accepted & SERVICE_ACCEPT_STOP);
  EXPECT_TRUE(accepted & SERVICE_ACCEPT_SHUTDOWN);
  EXPECT_TRUE(accepted & SERVICE_ACCEPT_PARAMCHANGE);
  EXPECT_EQ(RunProgram(L"sc query " + Widen(name), &out), 0);
  EXPECT_NE(out.find("RUNNING"), std::string::npos) << out;

  net::UniqueSocket ca = ConnectWhenListening(pa);
  ASSERT_TRUE(ca.Valid());
  EXPECT_TRUE(Echoes(ca.Get(), 1));

  // The full file moved to .1, the others one up, the oldest gone.
  ASSERT_TRUE(WaitForText(log, "正在运行 1 个映射", 5000)) << Slurp(log);
  std::string fresh = Slurp(log);
  EXPECT_EQ(fresh.compare(0, 3, "\xEF\xBB\xBF"), 0);
  EXPECT_NE(fresh.find(" vexhold-serve " VEXHOLD_VERSION " 启动, 使用 " + winDir),
            std::string::npos)
      << fresh;
  EXPECT_NE(fresh.find("\r\n"), std::string::npos);
  EXPECT_EQ(Slurp(dir.Path() / "vexhold-serve.1.log"), filler);
  EXPECT_EQ(Slurp(dir.Path() / "vexhold-serve.2.log"), "old 1");
  EXPECT_EQ(Slurp(dir.Path() / "vexhold-serve.3.log"), "old 2");
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "vexhold-serve.4.log"));

  // PARAMCHANGE reads the file again: the new pair starts, the old one keeps
  // its connection.
  Spit(dir.Path() / "setting.ini", IniText({To(pa, backend.Port()), To(pb, backend.Port())}));
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(service.Handle(), SERVICE_CONTROL_PARAMCHANGE, &status));
  ASSERT_TRUE(WaitForText(log, "重新读取完成: 保留 1 个, 停止 0 个, 启动 1 个映射", 5000))
      << Slurp(log);
  EXPECT_NE(Slurp(log).find("服务管理器要求重新读取 setting.ini (PARAMCHANGE)"), std::string::npos);
  net::UniqueSocket cb = ConnectWhenListening(pb);
  ASSERT_TRUE(cb.Valid());
  EXPECT_TRUE(Echoes(cb.Get(), 2));
  EXPECT_TRUE(Echoes(ca.Get(), 3));

  // Stop: STOP_PENDING with a hint, every relay ended, STOPPED without error.
  Clock::time_point asked = Clock::now();
  ASSERT_TRUE(ControlService(service.Handle(), SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(service.WaitState(SERVICE_STOPPED, 5000)) << Slurp(log);
  EXPECT_LT(Clock::now() - asked, std::chrono::seconds(3));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_GT(status.dwWaitHint, 0u);
  EXPECT_EQ(service.Status().dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
  EXPECT_TRUE(WaitPeerClosed(ca.Get()));
  EXPECT_TRUE(WaitPeerClosed(cb.Get()));
  EXPECT_NE(Slurp(log).find("全部映射已停止, 退出"), std::string::npos) << Slurp(log);

  service.Release();
  EXPECT_EQ(Serve({"--uninstall", "--name", name}, &out), 0) << out;
  EXPECT_NE(out.find("已停止并删除服务 " + name), std::string::npos) << out;
  ServiceManager manager;
  EXPECT_EQ(manager.Open(name), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey(name).c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(Serve({"--uninstall", "--name", name}, &out), 1);
  EXPECT_NE(out.find("服务 " + name + " 不存在"), std::string::npos) << out;
}

TEST(WindowsService, NothingToRunFailsTheStartUnlessItWatchesTheFile) {
  TestServer backend(TestServer::kEcho);
  TempDir dir;
  auto log = dir.Path() / "vexhold-serve.log";
  {
    InstalledService service(UniqueName("empty"), {"--dir", dir.Path().string()});
    ASSERT_EQ(service.installCode, 0) << service.installOutput;
    ASSERT_TRUE(StartServiceW(service.Handle(), 0, nullptr));
    ASSERT_TRUE(service.WaitState(SERVICE_STOPPED, 15000)) << Slurp(log);
    SERVICE_STATUS_PROCESS s = service.Status();
    EXPECT_EQ(s.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(s.dwServiceSpecificExitCode, 2u);
    EXPECT_NE(Slurp(log).find("没有能运行的映射, 退出"), std::string::npos) << Slurp(log);
  }
  // With --watch it runs with nothing and takes the first save.
  InstalledService service(UniqueName("watch"), {"--dir", dir.Path().string(), "--watch"});
  ASSERT_EQ(service.installCode, 0) << service.installOutput;
  ASSERT_TRUE(StartServiceW(service.Handle(), 0, nullptr));
  ASSERT_TRUE(service.WaitState(SERVICE_RUNNING, 15000)) << Slurp(log);
  ASSERT_TRUE(WaitForText(log, "等待 setting.ini 改变", 5000)) << Slurp(log);
  std::uint16_t port = FreePort();
  Spit(dir.Path() / "setting.ini.new", IniText({To(port, backend.Port())}));
  ASSERT_TRUE(MoveFileExW((dir.Path() / "setting.ini.new").wstring().c_str(),
                          (dir.Path() / "setting.ini").wstring().c_str(),
                          MOVEFILE_REPLACE_EXISTING));
  ASSERT_TRUE(WaitForText(log, "启动 1 个映射", 5000)) << Slurp(log);
  net::UniqueSocket c = ConnectWhenListening(port);
  ASSERT_TRUE(c.Valid());
  EXPECT_TRUE(Echoes(c.Get(), 4));
}

TEST(WindowsService, AStopWithAConnectPendingEndsCleanlyWithinThreeSeconds) {
  TempDir dir;
  // A remote whose accept queue is full: its SYNs are dropped, and the
  // relay's connect waits through the retries while the stop comes.
  std::uint16_t full = FreePort(), port = FreePort();
  net::UniqueSocket holder(net::CreateListenSocket());
  ASSERT_EQ(net::Bind(holder.Get(), net::SocketAddress{net::kInaddrAny, full}), 0);
  ASSERT_EQ(net::Listen(holder.Get(), 0), 0);
  std::vector<net::UniqueSocket> fill;
  for (int i = 0; i < 3; ++i) {
    fill.emplace_back(net::CreateStreamSocket());
    net::SetNonBlocking(fill.back().Get());
    net::Connect(fill.back().Get(), net::SocketAddress{Loopback(), full});
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Spit(dir.Path() / "setting.ini", IniText({To(port, full)}));
  auto log = dir.Path() / "vexhold-serve.log";
  InstalledService service(UniqueName("stuck"), {"--dir", dir.Path().string()});
  ASSERT_EQ(service.installCode, 0) << service.installOutput;
  ASSERT_TRUE(StartServiceW(service.Handle(), 0, nullptr));
  ASSERT_TRUE(service.WaitState(SERVICE_RUNNING, 15000)) << Slurp(log);
  net::UniqueSocket c = ConnectWhenListening(port);
  ASSERT_TRUE(c.Valid());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  Clock::time_point asked = Clock::now();
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(service.Handle(), SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(service.WaitState(SERVICE_STOPPED, 10000)) << Slurp(log);
  EXPECT_LT(Clock::now() - asked, std::chrono::seconds(3)) << Slurp(log);
  // A pending connect never holds the stop: no overdue stop, an ordinary end.
  EXPECT_EQ(Slurp(log).find("停止已等待"), std::string::npos) << Slurp(log);
  EXPECT_NE(Slurp(log).find("全部映射已停止, 退出"), std::string::npos) << Slurp(log);
  SERVICE_STATUS_PROCESS s = service.Status();
  EXPECT_EQ(s.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(s.dwServiceSpecificExitCode, 0u);
}

TEST(WindowsService, TheConsoleIsToldWhatCannotBeDone) {
  std::string out;
  EXPECT_EQ(Serve({"--service"}, &out), 1);
  EXPECT_NE(out.find("--service 只能由服务管理器启动"), std::string::npos) << out;
  EXPECT_EQ(Serve({"--install", "--name", UniqueName("nodir"), "--dir", "Z:\\no\\such\\dir"}, &out),
            1);
  EXPECT_NE(out.find("目录 Z:\\no\\such\\dir 不存在"), std::string::npos) << out;
  EXPECT_EQ(Serve({"--install", "--uninstall"}, &out), 1);
  EXPECT_NE(out.find("只能用其中一个"), std::string::npos) << out;
  EXPECT_EQ(Serve({"--install", "--name", "a\\b"}, &out), 1);
  EXPECT_NE(out.find("服务名 \"a\\b\" 无效"), std::string::npos) << out;
}

}  // namespace
}  // namespace vx::test
