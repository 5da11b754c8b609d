// Relay messages as modal boxes raised on the relay's own thread; the relay
// stalls until the operator dismisses the box.
#pragma once

#include "platform/alert.h"

namespace vx::ui {

class GuiAlertSink : public AlertSink {
 public:
  void ShowRelayAlert(const std::string& text) override;
};

// Installs the process's sink; it is never destroyed, as relays may outlive main.
void InstallGuiAlertSink();

}  // namespace vx::ui
