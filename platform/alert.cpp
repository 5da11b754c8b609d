#include "platform/alert.h"

#include <atomic>

namespace vx {

namespace {
std::atomic<AlertSink*> g_sink{nullptr};
}

void SetAlertSink(AlertSink* sink) {
  g_sink.store(sink, std::memory_order_release);
}

AlertSink* CurrentAlertSink() {
  return g_sink.load(std::memory_order_acquire);
}

void RaiseRelayAlert(const std::string& text) {
  if (AlertSink* sink = CurrentAlertSink())
    sink->ShowRelayAlert(text);
}

}  // namespace vx
