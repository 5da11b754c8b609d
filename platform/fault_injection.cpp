#include "platform/fault_injection.h"

#include <mutex>
#include <vector>

namespace vx::fault {

std::atomic<bool> g_armed{false};

namespace {

struct State {
  std::mutex mutex;
  std::vector<Rule> rules;
  int fired[static_cast<int>(Call::kCleanup) + 1] = {};
};

State& GetState() {
  static State* state = new State;  // outlives relays running at exit
  return *state;
}

bool Matches(const Rule& rule, net::Socket s) {
  if (rule.localPort != 0) {
    net::SocketAddress a;
    if (s == net::kInvalidSocket || !net::LocalAddress(s, &a) || a.port != rule.localPort) {
      return false;
    }
  }
  if (rule.peerPort != 0) {
    net::SocketAddress a;
    if (s == net::kInvalidSocket || !net::PeerAddress(s, &a) || a.port != rule.peerPort) {
      return false;
    }
  }
  return true;
}

}  // namespace

void Arm(const Rule& rule) {
  State& st = GetState();
  std::lock_guard<std::mutex> guard(st.mutex);
  st.rules.push_back(rule);
  g_armed.store(true, std::memory_order_relaxed);
}

void Clear() {
  State& st = GetState();
  std::lock_guard<std::mutex> guard(st.mutex);
  st.rules.clear();
  for (int& f : st.fired)
    f = 0;
  g_armed.store(false, std::memory_order_relaxed);
}

int Fired(Call call) {
  State& st = GetState();
  std::lock_guard<std::mutex> guard(st.mutex);
  return st.fired[static_cast<int>(call)];
}

int Check(Call call, net::Socket s, std::uint32_t* len) {
  State& st = GetState();
  // The filters query the socket with unwrapped calls, so holding the lock
  // across them cannot recurse.
  std::lock_guard<std::mutex> guard(st.mutex);
  for (auto it = st.rules.begin(); it != st.rules.end(); ++it) {
    if (it->call != call || !Matches(*it, s))
      continue;
    if (it->skip > 0) {
      --it->skip;
      return 0;
    }
    int code = it->code;
    if (len != nullptr && it->maxBytes != 0 && *len > it->maxBytes)
      *len = it->maxBytes;
    ++st.fired[static_cast<int>(call)];
    if (it->times > 0 && --it->times == 0)
      st.rules.erase(it);
    if (st.rules.empty())
      g_armed.store(false, std::memory_order_relaxed);
    return code;
  }
  return 0;
}

}  // namespace vx::fault
