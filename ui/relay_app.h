// CRelayApp: the application object. Its InitInstance runs the main window
// modally; the process ends when that window ends.
#pragma once

namespace vx::ui {

class CRelayApp {
 public:
  // FALSE: no message loop of its own follows.
  bool InitInstance();
};

}  // namespace vx::ui
