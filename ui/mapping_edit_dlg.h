// The editor of one mapping pair (template 129). It only moves texts: the
// caller presets the three strings, runs it and reads them back on IDOK.
#pragma once

#include <string>

#include "ui/digit_edit.h"
#include "ui/framework/dialog.h"
#include "ui/framework/ip_address.h"

namespace vx::ui {

class CMappingEditDlg : public Dialog {
 public:
  CMappingEditDlg();

  std::wstring m_localPort;
  std::wstring m_remotePort;
  std::wstring m_remoteIp;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  CDigitEdit m_remotePortEdit;
  CDigitEdit m_localPortEdit;
  IpAddressCtrl m_remoteIpCtrl;
};

}  // namespace vx::ui
