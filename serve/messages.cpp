#include "serve/messages.h"

#include <cstdarg>
#include <cstdio>

#ifndef VEXHOLD_VERSION
#define VEXHOLD_VERSION "0.0.0"
#endif

namespace vx::msg {

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0)
    return std::string();
  if (static_cast<std::size_t>(n) < sizeof buf)
    return std::string(buf, static_cast<std::size_t>(n));
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(&out[0], out.size(), fmt, ap);
  va_end(ap);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace

std::string HelpText() {
  std::string text =
#ifdef _WIN32
      "用法: vexhold-serve [--dir 目录] [--quiet] [--watch] [--help] [--version]\n"
      "      vexhold-serve --install [--dir 目录] [--name 服务名] [--quiet] [--watch]\n"
      "                    [--log-size MiB]\n"
      "      vexhold-serve --uninstall [--name 服务名]\n"
#else
      "用法: vexhold-serve [--dir 目录] [--quiet] [--watch] [--help] [--version]\n"
#endif
      "\n"
      "无窗口运行 目录/setting.ini 中的全部端口映射 (与图形界面使用同一个文件),\n"
      "每个映射在所有本地接口上监听本地端口, 并把每个连接转发到远程地址和端口。\n"
#ifdef _WIN32
      "按 Ctrl+C 或 Ctrl+Break 停止全部映射并退出。\n"
#else
      "收到 SIGINT 或 SIGTERM 时停止全部映射并退出; 再次收到时立即退出。\n"
      "收到 SIGHUP 时重新读取 setting.ini, 只停止和启动有变化的映射,\n"
      "未变化的映射保留其连接。\n"
#endif
      "文件不存在时按图形界面首次启动的方式创建 (没有映射)。\n"
#ifdef _WIN32
      "映射的消息和连接的建立、关闭都带时间写到标准错误输出;\n"
      "作为服务运行时写到 目录\\vexhold-serve.log (UTF-8), 启动、停止和启动失败\n"
      "还写到 Windows 事件日志 (来源为服务名)。\n"
#else
      "映射的消息和连接的建立、关闭都带时间写到标准错误输出;\n"
      "标准错误输出是 systemd 日志时不带时间, 而带日志级别前缀。\n"
#endif
      "\n"
      "选项:\n"
#ifdef _WIN32
      "  -d, --dir 目录   setting.ini 所在的目录 (默认: 当前目录;\n"
      "                   --install 时默认为 vexhold-serve.exe 所在的目录)\n"
#else
      "  -d, --dir 目录   setting.ini 所在的目录 (默认: 当前目录)\n"
#endif
      "  -q, --quiet      不记录连接的建立和关闭\n"
      "  -w, --watch      setting.ini 改变时自动重新读取; 没有能运行的映射时\n"
      "                   不退出, 等待文件改变\n"
#ifdef _WIN32
      "  --log-size MiB   服务日志文件的大小上限 (默认 10), 超过时换新文件,\n"
      "                   保留 3 个旧文件 (vexhold-serve.1.log 到 .3.log)\n"
      "  --install        安装为自动启动的 Windows 服务 (需要管理员权限),\n"
      "                   其余选项写进服务的命令行\n"
      "  --uninstall      停止并删除服务 (需要管理员权限)\n"
      "  --name 服务名    服务的名称 (默认: vexhold-serve)\n"
      "  --service        由服务管理器使用, 不要手动指定\n"
#else
      "  --log-size MiB   只用于 Windows 服务的日志文件, 这里没有作用\n"
#endif
      "  -h, --help       显示本帮助并退出\n"
      "  -V, --version    显示版本并退出\n"
      "\n"
      "退出码:\n"
      "  0  运行后被停止 (或 --help、--version, 或服务安装、卸载成功)\n"
      "  1  命令行参数错误 (或服务安装、卸载失败)\n"
      "  2  没有能启动的映射: 文件无法读取或创建, 没有有效的映射,\n"
      "     或者全部映射都启动失败 (例如端口已被占用); --watch 时不会因此退出\n"
      "  3  再次收到停止信号, 未等全部映射停止就退出\n";
  return text;
}

std::string VersionText() {
  return "vexhold-serve " VEXHOLD_VERSION "\n";
}

std::string UnknownOption(const std::string& arg) {
  return Format("vexhold-serve: 未知的参数 \"%s\"\n", arg.c_str());
}

std::string MissingValue(const std::string& option) {
  return Format("vexhold-serve: 参数 %s 需要一个值\n", option.c_str());
}

std::string SeeHelp() {
  return "用 vexhold-serve --help 查看用法。\n";
}

std::string FileCreated(const std::string& path) {
  return Format("已创建 %s (还没有映射)", path.c_str());
}

std::string FileUnusable(const std::string& path) {
  return Format("无法读取或创建 %s (没有 [Num] 节的 Number 值)", path.c_str());
}

std::string BadCount(int count) {
  return Format("[Num] 节的 Number 值 %d 无效, 没有映射可运行", count);
}

std::string CountTooLarge(int count, int served) {
  return Format("[Num] 节的 Number 值 %d 超过上限, 只运行第 1 到第 %d 节", count, served);
}

std::string BadLocalPort(int section, const std::string& text) {
  return Format("第 %d 节: 本地端口 Cport \"%s\" 无效 (应为 1 到 65535), 已跳过", section,
                text.c_str());
}

std::string BadRemoteAddress(int section, const std::string& text) {
  return Format("第 %d 节: 远程地址 IP \"%s\" 不是点分十进制的 IPv4 地址, 已跳过", section,
                text.c_str());
}

std::string BadRemotePort(int section, const std::string& text) {
  return Format("第 %d 节: 远程端口 Sport \"%s\" 无效 (应为 1 到 65535), 已跳过", section,
                text.c_str());
}

std::string DuplicateLocalPort(int section, unsigned port, int firstSection) {
  return Format("第 %d 节: 本地端口 %u 已由第 %d 节使用, 已跳过", section, port, firstSection);
}

std::string TooManyRelays(int section) {
  return Format("第 %d 节: 同时运行的映射已达上限, 未启动", section);
}

std::string Starting(const std::string& path, bool canReload) {
  return Format("vexhold-serve " VEXHOLD_VERSION " 启动, 使用 %s%s", path.c_str(),
                canReload ? " (SIGHUP 重新读取)" : "");
}

std::string StartingPair(int section, unsigned localPort, const std::string& ip,
                         unsigned remotePort) {
  return Format("启动第 %d 节: 本地端口 %u -> %s:%u", section, localPort, ip.c_str(), remotePort);
}

std::string StoppingPair(int section, unsigned localPort, const std::string& ip,
                         unsigned remotePort) {
  return Format("停止第 %d 节: 本地端口 %u -> %s:%u", section, localPort, ip.c_str(), remotePort);
}

std::string RelayEnded(int section, unsigned localPort) {
  return Format("第 %d 节 (本地端口 %u) 的映射已结束", section, localPort);
}

std::string RunningSummary(int running, int configured) {
  return Format("正在运行 %d 个映射 (文件中有 %d 个有效映射)", running, configured);
}

std::string NothingRunning() {
  return "没有能运行的映射, 退出";
}

std::string StopRequested() {
  return "收到停止信号, 正在停止全部映射";
}

std::string StillWaiting(int left) {
  return Format("仍在等待 %d 个映射停止 (再次发送停止信号可立即退出)", left);
}

std::string ForcedExit() {
  return "再次收到停止信号, 立即退出";
}

std::string Stopped() {
  return "全部映射已停止, 退出";
}

std::string ReloadRequested(const std::string& path) {
  return Format("重新读取 %s", path.c_str());
}

std::string ReloadKeptOld() {
  return "文件不可用, 保留正在运行的映射";
}

std::string ReloadDone(int kept, int stopped, int started) {
  return Format("重新读取完成: 保留 %d 个, 停止 %d 个, 启动 %d 个映射", kept, stopped, started);
}

std::string ConnectionOpened(unsigned localPort, const std::string& peer) {
  return Format("端口:%u 新连接 %s", localPort, peer.c_str());
}

std::string ConnectionClosed(unsigned localPort, const std::string& peer) {
  return Format("端口:%u 连接关闭 %s", localPort, peer.c_str());
}

std::string LinesDropped(unsigned long long n) {
  return Format("(日志输出过慢, 丢弃了 %llu 行)", n);
}

std::string Watching(const std::string& path) {
  return Format("监视 %s 的变化 (--watch), 保存后自动重新读取", path.c_str());
}

std::string WaitingForChanges() {
  return "没有能运行的映射, 等待 setting.ini 改变 (--watch)";
}

std::string WatchFileChanged(const std::string& path) {
  return Format("%s 已改变", path.c_str());
}

std::string WatchFileMissing(const std::string& path) {
  return Format("%s 暂时不存在, 保留正在运行的映射", path.c_str());
}

std::string WatchFailed(const std::string& dir, int error) {
  return Format("无法监视目录 %s 的变化 (错误 %d), 每 2 秒重试; 在此之前文件的变化不会自动生效",
                dir.c_str(), error);
}

std::string WatchResumed(const std::string& dir) {
  return Format("重新开始监视目录 %s 的变化", dir.c_str());
}

std::string BadLogSize(const std::string& text) {
  return Format("vexhold-serve: --log-size 的值 \"%s\" 无效 (应为 1 到 4096 的整数, 单位 MiB)\n",
                text.c_str());
}

std::string BadServiceName(const std::string& text) {
  return Format(
      "vexhold-serve: 服务名 \"%s\" 无效 (不能为空, 不能超过 256 个字符, 不能含 / 或 \\)\n",
      text.c_str());
}

std::string ConflictingModes() {
  return "vexhold-serve: --install、--uninstall 和 --service 只能用其中一个\n";
}

std::string NeedAdmin() {
  return "vexhold-serve: 安装或卸载服务需要管理员权限, 请在以管理员身份运行的命令提示符中重试\n";
}

std::string ServiceInstalled(const std::string& name, const std::string& dir) {
  return Format(
      "已安装服务 %s (自动启动), 使用 %s 中的 setting.ini; 用 sc start %s 或重启电脑启动它\n",
      name.c_str(), dir.c_str(), name.c_str());
}

std::string ServiceExists(const std::string& name) {
  return Format("vexhold-serve: 服务 %s 已存在, 请先用 --uninstall 卸载\n", name.c_str());
}

std::string ServiceDirMissing(const std::string& dir) {
  return Format("vexhold-serve: 目录 %s 不存在\n", dir.c_str());
}

std::string ServiceDisplayName(const std::string& name) {
  return name == "vexhold-serve" ? std::string("Vexhold 端口映射")
                                 : Format("Vexhold 端口映射 (%s)", name.c_str());
}

std::string ServiceDescription(const std::string& dir) {
  return Format("运行 %s\\setting.ini 中的端口映射, 日志写到同一目录的 vexhold-serve.log",
                dir.c_str());
}

std::string ServiceInstallFailed(const std::string& name, unsigned long error) {
  return Format("vexhold-serve: 无法安装服务 %s (错误 %lu)\n", name.c_str(), error);
}

std::string ServiceMissing(const std::string& name) {
  return Format("vexhold-serve: 服务 %s 不存在\n", name.c_str());
}

std::string ServiceRemoved(const std::string& name) {
  return Format("已停止并删除服务 %s\n", name.c_str());
}

std::string ServiceRemovedLater(const std::string& name) {
  return Format("服务 %s 已标记为删除, 它停止后即被删除\n", name.c_str());
}

std::string ServiceRemoveFailed(const std::string& name, unsigned long error) {
  return Format("vexhold-serve: 无法删除服务 %s (错误 %lu)\n", name.c_str(), error);
}

std::string NotUnderServiceManager() {
  return "vexhold-serve: --service 只能由服务管理器启动; 用 --install 安装服务\n";
}

std::string ServiceStarted(const std::string& name, const std::string& path) {
  return Format("服务 %s 已启动, 使用 %s", name.c_str(), path.c_str());
}

std::string ServiceStopped(const std::string& name) {
  return Format("服务 %s 已停止", name.c_str());
}

std::string ServiceStartFailed(const std::string& name, int exitCode, const std::string& logPath) {
  return Format("服务 %s 启动失败 (退出码 %d): 没有能运行的映射, 详见 %s", name.c_str(), exitCode,
                logPath.c_str());
}

std::string ServiceParamChange() {
  return "服务管理器要求重新读取 setting.ini (PARAMCHANGE)";
}

std::string ServiceStopOverdue(int waitedMs) {
  return Format("停止已等待 %d 毫秒, 立即结束其余映射", waitedMs);
}

std::string LogFileUnusable(const std::string& path) {
  return Format("无法写入日志文件 %s", path.c_str());
}

}  // namespace vx::msg
