// Loopback peers, scratch directories and waiting helpers for the command tests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/alert.h"
#include "platform/socket.h"

namespace vx::test {

// A fresh directory, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

std::string ReadFileText(const std::filesystem::path& path);
void WriteFileText(const std::filesystem::path& path, const std::string& text);

// A TCP port on which nothing listens right now (checked by binding it).
std::uint16_t PickFreePort();

// A backend on 127.0.0.1 that answers every byte with byte ^ key, so a reply
// tells which backend a relay reached.
class XorEchoServer {
 public:
  explicit XorEchoServer(std::uint8_t key);
  ~XorEchoServer();
  XorEchoServer(const XorEchoServer&) = delete;
  XorEchoServer& operator=(const XorEchoServer&) = delete;
  std::uint16_t Port() const { return m_port; }
  std::uint8_t Key() const { return m_key; }

 private:
  void Serve();

  std::uint8_t m_key;
  std::uint16_t m_port = 0;
  net::UniqueSocket m_listener;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// Holds a port: listens on it so that a relay cannot bind it.
class PortBlocker {
 public:
  explicit PortBlocker(std::uint16_t port);
  bool Holding() const { return m_socket.Valid(); }

 private:
  net::UniqueSocket m_socket;
};

// A client connection to 127.0.0.1:port; invalid when the connect failed.
net::UniqueSocket ConnectLoopback(std::uint16_t port);
// Sends `payload` and reads the reply; true when it is payload ^ key, within
// `timeoutMs`.
bool RoundTrip(net::Socket s, const std::string& payload, std::uint8_t key, int timeoutMs = 3000);
// Connects (retrying until a relay has started listening) and does one round trip.
bool PortRelaysTo(std::uint16_t port, std::uint8_t key, int timeoutMs = 3000);
// True when nothing accepts connections on the port.
bool PortRefuses(std::uint16_t port);

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// Records relay alerts; relays go on at once.
class RecordingAlertSink : public AlertSink {
 public:
  void ShowRelayAlert(const std::string& text) override;
  std::vector<std::string> Alerts() const;
  void Clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_alerts;
};

RecordingAlertSink& TestAlerts();

}  // namespace vx::test
