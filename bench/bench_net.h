// Loopback plumbing for the relay benchmark (POSIX): a backend that sinks and
// verifies or echoes, and the verified byte stream both ends agree on.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ports.h"

namespace vx::bench {

// Ports as the tests take them: below the ephemeral range, from this
// program's own block when one is given.
using test::FreePort;

// Connection modes, the first byte a client sends.
inline constexpr char kModeSink = 'S';  // then 8 bytes length, seed; stream; 1-byte verdict back
inline constexpr char kModeEcho = 'E';  // everything after the mode byte comes back
// Then 4 bytes reply size; each request of kRequestBytes gets a reply of that
// size, and the replies to all requests one read brings go out in one send,
// as a server answering a pipeline sends them.
inline constexpr char kModePipeline = 'P';
inline constexpr std::size_t kRequestBytes = 32;
inline constexpr char kVerdictOk = 'K';
inline constexpr char kVerdictBad = 'X';

// byte(pos) = table[pos mod 64 KiB] ^ key(seed, pos / 64 KiB): any lost,
// duplicated, flipped or reordered byte shows at its offset.
class Stream {
 public:
  explicit Stream(std::uint32_t seed);
  void Fill(std::uint64_t pos, char* out, std::size_t n) const;
  // Offset of the first mismatch in [pos, pos + n), or -1.
  long long Check(std::uint64_t pos, const char* data, std::size_t n) const;

 private:
  std::uint8_t Key(std::uint64_t block) const;
  std::uint32_t m_seed;
};

class Backend {
 public:
  Backend();  // listens on 127.0.0.1, an ephemeral port
  ~Backend();
  std::uint16_t Port() const { return m_port; }
  long long BadStreams() const { return m_bad.load(); }

 private:
  void AcceptLoop();
  void Serve(int fd);
  int m_listener = -1;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_quit{false};
  std::atomic<long long> m_bad{0};
  std::atomic<int> m_live{0};
  std::thread m_thread;
};

// Blocking client socket calls with an overall time-out per call (SO_RCVTIMEO/SO_SNDTIMEO).
int ConnectLoopback(std::uint16_t port, int timeoutMs = 5000);
bool SendAll(int fd, const char* data, std::size_t n);
bool RecvAll(int fd, char* data, std::size_t n);
void SetNoDelay(int fd);
void CloseFd(int fd);

}  // namespace vx::bench
