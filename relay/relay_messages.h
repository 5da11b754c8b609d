// The relay's messages, formatted with the local port (unsigned decimal) and,
// where the text has a second placeholder, the Windows Sockets error code.
#pragma once

#include <cstdint>
#include <string>

namespace vx {

inline constexpr char kMsgStartupFailed[] = "端口:%u WSAStartup启动失败(%d)! ";
inline constexpr char kMsgListenSocketFailed[] = "端口:%u 创建Socket失败(%d)!";
inline constexpr char kMsgPortInUse[] = "端口:%u 有另外一个程序在使用!";
inline constexpr char kMsgListenFailed[] = "端口:%u 监听失败(%d)!";
inline constexpr char kMsgServerSocketFailed[] = "端口:%u 创建服务器Socket失败(%d)!";
inline constexpr char kMsgConnectFailed[] = "端口:%u 连接服务器失败(%d)!";
inline constexpr char kMsgAcceptFailed[] = "接受端口:%u 失败(%d)!";
inline constexpr char kMsgSelectFailed[] = "端口:%u 创建选择模型失败(%d)!";
inline constexpr char kMsgOutOfMemory[] = "内存分配失败!";

std::string FormatRelayMessage(const char* format, std::uint16_t port, int code = 0);

}  // namespace vx
