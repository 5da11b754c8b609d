// A request/response backend for the pipelined case of relay_bench: every
// request is kRequestBytes long and gets a reply of `replyBytes`; the replies
// to all requests read at once go out in one send, as a server answering a
// pipeline does. A batch of replies longer than the relay's buffer reaches
// the client as full buffers and a short remainder: the pattern that stalls
// on delayed acknowledgements unless the relay sends small writes at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace vx::bench {

inline constexpr std::size_t kRequestBytes = 32;

class PipelineBackend {
 public:
  explicit PipelineBackend(std::size_t replyBytes);  // 127.0.0.1, an ephemeral port
  ~PipelineBackend();
  PipelineBackend(const PipelineBackend&) = delete;
  PipelineBackend& operator=(const PipelineBackend&) = delete;
  std::uint16_t Port() const { return m_port; }
  std::size_t ReplyBytes() const { return m_replyBytes; }

 private:
  void AcceptLoop();
  void Serve(int fd);

  std::size_t m_replyBytes;
  int m_listener = -1;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_quit{false};
  std::atomic<int> m_live{0};
  std::thread m_thread;
};

}  // namespace vx::bench
