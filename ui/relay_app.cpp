#include "ui/relay_app.h"

#include <windows.h>
#include <commctrl.h>

#include "ui/gui_alert_sink.h"
#include "ui/mapping_dlg.h"

namespace vx::ui {

bool CRelayApp::InitInstance() {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof(icc);
  icc.dwICC = ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES | ICC_LISTVIEW_CLASSES;
  InitCommonControlsEx(&icc);
  InstallGuiAlertSink();

  CMappingDlg dlg;
  dlg.DoModal(nullptr);
  return false;
}

}  // namespace vx::ui

namespace {
vx::ui::CRelayApp theApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  theApp.InitInstance();
  // Relays still running end with the process; their tables never go away.
  return 0;
}
