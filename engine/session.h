// One relayed connection: the accepted client, the outbound connection to the
// remote (resolved and connected asynchronously, within the connect time-out),
// and the bytes in flight each way. A quiet direction holds no transfer
// buffer: it waits for readability and takes one only for the bytes that
// came. With epoll, a wait after a read that came back short costs no system
// call (engine/drained_wait.h). On Windows a busy direction (several reads in
// one sweep period) keeps its buffer under a pending read, the cheaper wait
// there, until a sweep finds it quiet. An idle connection holds none. Runs on
// its pair's event thread only.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "engine/asio.h"
#include "engine/buffer_pool.h"

namespace vx::engine {

class PairListener;

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(std::shared_ptr<PairListener> pair, asio::ip::tcp::socket client);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Counts the connection and starts connecting to the remote.
  void Start();
  // Closes both sides now (stop, idle time-out). Bytes in flight are dropped.
  void Close();
  // Whether no byte moved either way since `since`; connections still
  // connecting are never idle (the connect time-out covers them).
  bool IdleSince(std::chrono::steady_clock::time_point since) const;
  // The pair's busy sweep: gives back the buffers of directions that moved
  // nothing since the last sweep, reads once more where a quiet direction's
  // wait followed a short read, and starts a new count. Returns whether
  // anything moved, so the sweep goes on while traffic flows.
  bool SweepBusy();

  // The pair's list of live sessions.
  Session* m_prev = nullptr;
  Session* m_next = nullptr;

 private:
  enum Direction { kUp = 0, kDown = 1 };  // client -> remote, remote -> client
  struct Flow {
    explicit Flow(BufferPool& pool) : buffer(pool) {}
    PooledBuffer buffer;
    std::size_t held = 0;  // bytes in the buffer still to be written
    bool writing = false;
    bool ended = false;           // its reader sent a FIN
    bool busy = false;            // waits with a read into its buffer
    bool readPending = false;     // that read is outstanding
    bool quieting = false;        // it is being cancelled to give the buffer back
    unsigned hops = 0;            // reads passed on since the last busy sweep
    bool waiting = false;         // a wait for readability is queued
    bool drainedWait = false;     // it follows a short read: no re-check
    bool readAfterQuiet = false;  // the sweep has read once since it went quiet
  };
  struct Connecting;

  asio::ip::tcp::socket& From(int d) { return d == kUp ? m_client : m_server; }
  asio::ip::tcp::socket& To(int d) { return d == kUp ? m_server : m_client; }

  void Resolve();
  void ConnectNext();
  void ConnectFailed(const asio::error_code& ec);
  void OnConnectTimeout();
  void Connected();

  // Reads what is there and writes it on; returns to the reactor only when
  // nothing is left to read or the writer is full.
  void Pump(int d);
  enum AfterRead { kStopped, kDrained, kReadMore };
  // What a read's result leads to: its end, an error, or bytes passed on.
  AfterRead PassOn(int d, const asio::error_code& ec, std::size_t n);
  // Passes on the `n` bytes just read into the direction's buffer; false
  // when the direction goes no further now (a write left for later, or the
  // end of the connection).
  bool Forward(int d, std::size_t n);
  // Everything there was has been passed on: wait for the next bytes.
  void AwaitBytes(int d);
  // `drained`: the caller's read has just found the socket empty; otherwise
  // bytes may be waiting already (a fresh socket, a cancelled read).
  void WaitReadable(int d, bool drained);
  // The sweep's read of a direction gone quiet under a wait after a short read.
  void ReadAgainAfterQuiet(int d);
  void ReadWhenBusy(int d);
  void OnBusyRead(int d, const asio::error_code& ec, std::size_t n);
  void WriteRest(int d, std::size_t offset);
  void Ended(int d);
  // The end of the connection: `abortive` resets both sides (an error or a
  // reset on one side is passed on as a reset).
  void Finish(bool abortive);

  std::shared_ptr<PairListener> m_pair;
  asio::ip::tcp::socket m_client;
  asio::ip::tcp::socket m_server;
  std::unique_ptr<Connecting> m_connecting;
  Flow m_flows[2];                 // kUp, kDown
  asio::ip::tcp::endpoint m_peer;  // kept only when connection events are wanted
  std::chrono::steady_clock::time_point m_lastActive;
  bool m_relaying = false;
  bool m_closing = false;  // first end: both close once in-flight bytes are out
  bool m_finished = false;
};

}  // namespace vx::engine
