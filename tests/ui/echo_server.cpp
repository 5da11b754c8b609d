#include "tests/ui/echo_server.h"

#include <ws2tcpip.h>

namespace vx::uitest {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

struct WinsockInit {
  WinsockInit() {
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
  }
};
void EnsureWinsock() {
  static WinsockInit init;
}

}  // namespace

EchoServer::EchoServer(std::string tag) : m_tag(std::move(tag)) {
  EnsureWinsock();
  m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = Loopback(0);
  bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  listen(m_listener, 8);
  int len = sizeof(a);
  getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
  m_port = ntohs(a.sin_port);
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

EchoServer::~EchoServer() {
  m_stop = true;
  closesocket(m_listener);
  m_acceptor.join();
  for (SOCKET s : m_clientSockets) {
    shutdown(s, SD_BOTH);
    closesocket(s);
  }
  for (std::thread& t : m_clients) {
    t.join();
  }
}

void EchoServer::AcceptLoop() {
  while (!m_stop) {
    SOCKET c = accept(m_listener, nullptr, nullptr);
    if (c == INVALID_SOCKET) {
      return;
    }
    m_clientSockets.push_back(c);
    m_clients.emplace_back([this, c] {
      char buf[4096];
      for (;;) {
        int n = recv(c, buf, sizeof(buf), 0);
        if (n <= 0) {
          return;
        }
        std::string reply = m_tag + std::string(buf, static_cast<size_t>(n));
        if (send(c, reply.data(), static_cast<int>(reply.size()), 0) <= 0) {
          return;
        }
      }
    });
  }
}

std::uint16_t FreeLoopbackPort() {
  EnsureWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = Loopback(0);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  int len = sizeof(a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  return ntohs(a.sin_port);
}

std::string RoundTrip(std::uint16_t port, const std::string& text, unsigned timeoutMs,
                      SOCKET* kept) {
  EnsureWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  DWORD tv = timeoutMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&tv), sizeof(tv));
  sockaddr_in a = Loopback(port);
  std::string got;
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
      send(s, text.data(), static_cast<int>(text.size()), 0) > 0) {
    char buf[4096];
    ULONGLONG end = GetTickCount64() + timeoutMs;
    auto complete = [&] {
      return got.size() >= text.size() &&
             got.compare(got.size() - text.size(), text.size(), text) == 0;
    };
    while (!complete() && GetTickCount64() < end) {
      int n = recv(s, buf, sizeof(buf), 0);
      if (n <= 0) {
        break;
      }
      got.append(buf, static_cast<size_t>(n));
    }
  }
  if (kept != nullptr) {
    *kept = s;
  } else {
    closesocket(s);
  }
  return got;
}

}  // namespace vx::uitest
