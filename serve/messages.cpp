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
      "用法: vexhold-serve [--dir 目录] [--quiet] [--help] [--version]\n"
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
      "映射的消息和连接的建立、关闭都带时间写到标准错误输出。\n"
      "\n"
      "选项:\n"
      "  -d, --dir 目录   setting.ini 所在的目录 (默认: 当前目录)\n"
      "  -q, --quiet      不记录连接的建立和关闭\n"
      "  -h, --help       显示本帮助并退出\n"
      "  -V, --version    显示版本并退出\n"
      "\n"
      "退出码:\n"
      "  0  运行后被停止 (或 --help、--version)\n"
      "  1  命令行参数错误\n"
      "  2  没有能启动的映射: 文件无法读取或创建, 没有有效的映射,\n"
      "     或者全部映射都启动失败 (例如端口已被占用)\n"
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
  return Format("收到 SIGHUP, 重新读取 %s", path.c_str());
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

}  // namespace vx::msg
