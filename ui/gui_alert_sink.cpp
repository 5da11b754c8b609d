#include "ui/gui_alert_sink.h"

#include <windows.h>

#include "ui/app_name.h"
#include "ui/framework/text.h"

namespace vx::ui {

void GuiAlertSink::ShowRelayAlert(const std::string& text) {
  // No owner: the main window may be hidden in the tray, and it belongs to
  // another thread.
  MessageBoxW(nullptr, Widen(text).c_str(), AppName().c_str(),
              MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
}

void InstallGuiAlertSink() {
  static GuiAlertSink* sink = new GuiAlertSink;
  SetAlertSink(sink);
}

}  // namespace vx::ui
