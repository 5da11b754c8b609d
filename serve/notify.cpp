#include "serve/notify.h"

#include <atomic>
#include <chrono>

namespace vx {

namespace {

std::atomic<ReadinessListener*> g_listener{nullptr};

void Send(const std::string& state) {
  SendNotifySocket(NotifyMessage(state));
}

}  // namespace

void SetReadinessListener(ReadinessListener* listener) {
  g_listener.store(listener);
}

std::string NotifyMessage(const std::string& state) {
  if (state != "RELOADING=1")
    return state;
  auto usec = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
  return state + "\nMONOTONIC_USEC=" + std::to_string(usec);
}

void NotifyReady() {
  if (ReadinessListener* l = g_listener.load())
    l->OnReady();
  Send("READY=1");
}

void NotifyReloading() {
  Send("RELOADING=1");
}

void NotifyReloaded() {
  Send("READY=1");
}

void NotifyStopping() {
  if (ReadinessListener* l = g_listener.load())
    l->OnStopping();
  Send("STOPPING=1");
}

}  // namespace vx
