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

// "host:port", "[v6]:port".
std::string Remote(const std::string& host, unsigned port) {
  std::string h = Printable(host, 256);
  if (host.find(':') != std::string::npos)
    h = "[" + h + "]";
  return h + ":" + std::to_string(port);
}

}  // namespace

std::string HelpText() {
  std::string text =
#ifdef _WIN32
      "用法: vexhold-serve [--dir 目录] [--quiet] [--watch] [--help] [--version] [其他选项]\n"
      "      vexhold-serve --install [--dir 目录] [--name 服务名] [其他选项]\n"
      "      vexhold-serve --uninstall [--name 服务名]\n"
#else
      "用法: vexhold-serve [--dir 目录] [--quiet] [--watch] [--help] [--version] [其他选项]\n"
#endif
      "\n"
      "无窗口运行 目录/setting.ini 中的全部端口映射 (与图形界面使用同一个文件),\n"
      "每个映射在本地端口上监听, 并把每个连接转发到远程地址和端口。\n"
      "远程地址 (IP=) 可以是 IPv4 地址、IPv6 地址或主机名; 主机名在每个新连接时解析,\n"
      "解析出的地址在连接超时内依次尝试。\n"
#ifdef _WIN32
      "按 Ctrl+C 或 Ctrl+Break 停止全部映射并退出; 再次按下时立即退出。\n"
#else
      "收到 SIGINT 或 SIGTERM 时停止全部映射并退出; 停止过程中再次收到时立即退出。\n"
      "收到 SIGHUP 时重新读取 setting.ini, 只停止和启动有变化的映射,\n"
      "未变化的映射保留其连接。收到 SIGUSR1 时记录每个映射的统计数字。\n"
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
      "输出跟不上时丢弃日志行并记下丢弃的行数, 转发不受影响。\n"
      "\n"
      "选项:\n"
#ifdef _WIN32
      "  -d, --dir 目录            setting.ini 所在的目录 (默认: 当前目录;\n"
      "                            --install 时默认为 vexhold-serve.exe 所在的目录)\n"
#else
      "  -d, --dir 目录            setting.ini 所在的目录 (默认: 当前目录)\n"
#endif
      "  -q, --quiet               不记录连接的建立和关闭\n"
      "  -w, --watch               setting.ini 改变时自动重新读取; 没有能运行的映射时\n"
      "                            不退出, 等待文件改变\n"
      "      --bind 地址           监听的本地地址 (默认: 所有 IPv4 接口; :: 为 IPv6,\n"
      "                            系统允许时同时接受 IPv4)\n"
      "      --connect-timeout 秒  连接远程地址的超时, 包括解析主机名和依次尝试的\n"
      "                            全部地址 (默认: 10)\n"
      "      --idle-timeout 秒     双向都没有数据这么久的连接被关闭 (默认: 0, 不关闭)\n"
      "      --max-connections N   每个映射同时转发的连接数上限 (默认: 4096),\n"
      "                            超过时新连接立即被关闭\n"
      "      --half-close          一方关闭发送后把关闭传给另一方, 两个方向都结束后才关闭连接\n"
      "                            (默认: 任一方关闭即关闭整个连接, 已收到的数据先送出)\n"
#ifdef _WIN32
      "      --stats-interval 秒   每隔这么久记录统计数字 (默认: 只在停止时)\n"
#else
      "      --stats-interval 秒   每隔这么久记录统计数字 (默认: 只在 SIGUSR1 时和停止时)\n"
#endif
      "      --threads N           转发线程数, 映射分布到各线程 (默认: 1)\n"
      "      --busy-poll 微秒      处理完事件后最多继续查看这么久再休眠, 降低往返延迟;\n"
#ifdef _WIN32
      "                            随来回的间隔自动伸缩 (默认: 0, 立即休眠; 最大 1000)\n"
#else
      "                            随来回的间隔自动伸缩 (默认: 200; 0: 立即休眠; 最大 1000)\n"
#endif
#ifdef _WIN32
      "      --log-size MiB        服务日志文件的大小上限 (默认 10), 超过时换新文件,\n"
      "                            保留 3 个旧文件 (vexhold-serve.1.log 到 .3.log)\n"
      "      --install             安装为自动启动的 Windows 服务 (需要管理员权限),\n"
      "                            其余选项写进服务的命令行\n"
      "      --uninstall           停止并删除服务 (需要管理员权限)\n"
      "      --name 服务名         服务的名称 (默认: vexhold-serve)\n"
      "      --service             由服务管理器使用, 不要手动指定\n"
#else
      "      --log-size MiB        只用于 Windows 服务的日志文件, 这里没有作用\n"
#endif
      "  -h, --help                显示本帮助并退出\n"
      "  -V, --version             显示版本并退出\n"
      "\n"
      "退出码:\n"
#ifdef _WIN32
      "  0  运行后被停止 (或 --help、--version, 或服务安装、卸载成功)\n"
      "  1  命令行参数错误 (或服务安装、卸载失败)\n"
#else
      "  0  运行后被停止 (或 --help、--version)\n"
      "  1  命令行参数错误\n"
#endif
      "  2  没有能启动的映射: 文件无法读取或创建, 没有有效的映射,\n"
      "     或者全部映射都启动失败 (例如端口已被占用); --watch 时不会因此退出\n"
      "  3  停止过程中再次收到停止信号, 未等停止完成就退出\n";
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

std::string BadOptionValue(const std::string& option, const std::string& value,
                           const std::string& expected) {
  return Format("vexhold-serve: 参数 %s 的值 \"%s\" 无效 (应为 %s)\n", option.c_str(),
                Printable(value).c_str(), expected.c_str());
}

std::string Printable(std::string_view value, std::size_t limit) {
  std::string out;
  std::size_t shown = 0;
  std::size_t i = 0;
  auto escape = [&out](unsigned char b) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", b);
    out += hex;
  };
  while (i < value.size() && shown < limit) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    std::size_t len = c < 0x80             ? 1
                      : (c & 0xE0) == 0xC0 ? 2
                      : (c & 0xF0) == 0xE0 ? 3
                      : (c & 0xF8) == 0xF0 ? 4
                                           : 0;
    bool valid = len > 0 && i + len <= value.size();
    std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
    for (std::size_t k = 1; valid && k < len; ++k) {
      unsigned char t = static_cast<unsigned char>(value[i + k]);
      valid = (t & 0xC0) == 0x80;
      cp = (cp << 6) | (t & 0x3Fu);
    }
    // Overlong forms, surrogates and C1 controls are escaped like C0 ones.
    if (valid && len > 1) {
      static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
      valid = cp >= kLeast[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) && cp > 0x9F;
    }
    if (!valid || cp < 0x20 || cp == 0x7F) {
      escape(c);
      ++i;
    } else {
      out.append(value.substr(i, len));
      i += len;
    }
    ++shown;
  }
  if (i < value.size())
    out += "...(共 " + std::to_string(value.size()) + " 字节)";
  return out;
}

std::string FileCreated(const std::string& path) {
  return Format("已创建 %s (还没有映射)", Printable(path, 1024).c_str());
}

std::string FileUnusable(const std::string& path) {
  return Format("无法读取或创建 %s (没有 [Num] 节的 Number 值)", Printable(path, 1024).c_str());
}

std::string CreateFailed(const std::string& path, const std::string& reason) {
  return Format("创建 %s 失败: %s", Printable(path, 1024).c_str(), reason.c_str());
}

std::string BadCount(const std::string& text) {
  return Format("[Num] 节的 Number 值 \"%s\" 无效", Printable(text).c_str());
}

std::string CountTooLarge(int count, int served) {
  return Format("[Num] 节的 Number 值 %d 超过上限, 只运行第 1 到第 %d 节", count, served);
}

std::string BadLocalPort(int section, const std::string& text) {
  return Format("第 %d 节: 本地端口 Cport \"%s\" 无效 (应为 1 到 65535), 已跳过", section,
                Printable(text).c_str());
}

std::string BadRemoteAddress(int section, const std::string& text) {
  return Format("第 %d 节: 远程地址 IP \"%s\" 不是点分十进制的 IPv4 地址, 已跳过", section,
                Printable(text).c_str());
}

std::string BadRemoteHost(int section, const std::string& text) {
  return Format("第 %d 节: 远程地址 IP \"%s\" 不是 IPv4 地址、IPv6 地址或主机名, 已跳过", section,
                Printable(text).c_str());
}

std::string BadRemotePort(int section, const std::string& text) {
  return Format("第 %d 节: 远程端口 Sport \"%s\" 无效 (应为 1 到 65535), 已跳过", section,
                Printable(text).c_str());
}

std::string DuplicateLocalPort(int section, unsigned port, int firstSection) {
  return Format("第 %d 节: 本地端口 %u 已由第 %d 节使用, 已跳过", section, port, firstSection);
}

std::string Starting(const std::string& path, bool canReload) {
  return Format("vexhold-serve " VEXHOLD_VERSION " 启动, 使用 %s%s", Printable(path, 1024).c_str(),
                canReload ? " (SIGHUP 重新读取)" : "");
}

std::string StartingPair(int section, unsigned localPort, const std::string& host,
                         unsigned remotePort) {
  return Format("启动第 %d 节: 本地端口 %u -> %s", section, localPort,
                Remote(host, remotePort).c_str());
}

std::string StoppingPair(int section, unsigned localPort, const std::string& host,
                         unsigned remotePort) {
  return Format("停止第 %d 节: 本地端口 %u -> %s", section, localPort,
                Remote(host, remotePort).c_str());
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
  return Format("仍在等待 %d 个转发线程结束 (再次发送停止信号可立即退出)", left);
}

std::string ForcedExit() {
  return "再次收到停止信号, 立即退出";
}

std::string Stopped() {
  return "全部映射已停止, 退出";
}

std::string ReloadRequested(const std::string& path) {
  return Format("重新读取 %s", Printable(path, 1024).c_str());
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

std::string OpenFileLimitRaised(long before, long now) {
  return Format("打开文件数上限已从 %ld 提高到 %ld", before, now);
}

std::string PairFigures(int section, unsigned localPort, const std::string& host,
                        unsigned remotePort, unsigned long long open, unsigned long long served,
                        unsigned long long refused, unsigned long long up,
                        unsigned long long down) {
  return Format(
      "第 %d 节 (本地端口 %u -> %s): 当前 %llu 个连接, 共接受 %llu 个, 超限关闭 %llu 个, "
      "上行 %llu 字节, 下行 %llu 字节",
      section, localPort, Remote(host, remotePort).c_str(), open, served, refused, up, down);
}

std::string ConnectionLimitReached(unsigned localPort, int limit) {
  return Format("端口:%u 连接数已达上限 %d, 新连接被立即关闭", localPort, limit);
}

std::string ConnectionLimitBurstEnded(unsigned localPort, unsigned long long refused) {
  return Format("端口:%u 连接数超限期间关闭了 %llu 个新连接", localPort, refused);
}

std::string NameUnresolved(unsigned localPort, const std::string& name, int code) {
  return Format("端口:%u 无法解析远程主机名 \"%s\" (%d), 客户端连接被关闭", localPort,
                Printable(name, 256).c_str(), code);
}

std::string DescriptorsAvailableAgain(unsigned localPort, unsigned long long failures) {
  return Format("端口:%u 恢复接受连接 (其间失败 %llu 次)", localPort, failures);
}

// --watch.

std::string Watching(const std::string& path) {
  return Format("监视 %s 的变化 (--watch), 保存后自动重新读取", Printable(path, 1024).c_str());
}

std::string WaitingForChanges() {
  return "没有能运行的映射, 等待 setting.ini 改变 (--watch)";
}

std::string WatchFileChanged(const std::string& path) {
  return Format("%s 已改变", Printable(path, 1024).c_str());
}

std::string WatchFileMissing(const std::string& path) {
  return Format("%s 暂时不存在, 保留正在运行的映射", Printable(path, 1024).c_str());
}

std::string WatchFailed(const std::string& dir, int error) {
  return Format("无法监视目录 %s 的变化 (错误 %d), 每 2 秒重试; 在此之前文件的变化不会自动生效",
                Printable(dir, 1024).c_str(), error);
}

std::string WatchResumed(const std::string& dir) {
  return Format("重新开始监视目录 %s 的变化", Printable(dir, 1024).c_str());
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
      name.c_str(), Printable(dir, 1024).c_str(), name.c_str());
}

std::string ServiceExists(const std::string& name) {
  return Format("vexhold-serve: 服务 %s 已存在, 请先用 --uninstall 卸载\n", name.c_str());
}

std::string ServiceDirMissing(const std::string& dir) {
  return Format("vexhold-serve: 目录 %s 不存在\n", Printable(dir, 1024).c_str());
}

std::string ServiceDisplayName(const std::string& name) {
  return name == "vexhold-serve" ? std::string("Vexhold 端口映射")
                                 : Format("Vexhold 端口映射 (%s)", name.c_str());
}

std::string ServiceDescription(const std::string& dir) {
  return Format("运行 %s\\setting.ini 中的端口映射, 日志写到同一目录的 vexhold-serve.log",
                Printable(dir, 1024).c_str());
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
  return Format("服务 %s 已启动, 使用 %s", name.c_str(), Printable(path, 1024).c_str());
}

std::string ServiceStopped(const std::string& name) {
  return Format("服务 %s 已停止", name.c_str());
}

std::string ServiceStartFailed(const std::string& name, int exitCode, const std::string& logPath) {
  return Format("服务 %s 启动失败 (退出码 %d): 没有能运行的映射, 详见 %s", name.c_str(), exitCode,
                Printable(logPath, 1024).c_str());
}

std::string ServiceParamChange() {
  return "服务管理器要求重新读取 setting.ini (PARAMCHANGE)";
}

std::string ServiceStopOverdue(int waitedMs) {
  return Format("停止已等待 %d 毫秒, 立即结束其余映射", waitedMs);
}

std::string LogFileUnusable(const std::string& path) {
  return Format("无法写入日志文件 %s", Printable(path, 1024).c_str());
}

}  // namespace vx::msg
