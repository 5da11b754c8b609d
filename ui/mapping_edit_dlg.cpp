#include "ui/mapping_edit_dlg.h"

#include "platform/socket.h"
#include "res/resource.h"
#include "ui/framework/text.h"

namespace vx::ui {

namespace {
constexpr int kPortTextLimit = 5;
}

CMappingEditDlg::CMappingEditDlg() : Dialog(IDD_MAPPING_EDIT) {}

bool CMappingEditDlg::OnInitDialog() {
  m_remotePortEdit.Subclass(Item(IDC_REMOTE_PORT));
  m_localPortEdit.Subclass(Item(IDC_LOCAL_PORT));
  m_remoteIpCtrl.Attach(Item(IDC_REMOTE_IP));

  m_localPortEdit.Send(EM_LIMITTEXT, kPortTextLimit);
  m_remotePortEdit.Send(EM_LIMITTEXT, kPortTextLimit);
  m_localPortEdit.SetText(m_localPort);
  m_remotePortEdit.SetText(m_remotePort);

  // inet_addr semantics: shortened and octal/hex forms parse; anything else
  // is INADDR_NONE and shows as 255.255.255.255.
  std::uint32_t addr = net::InetAddr(Narrow(m_remoteIp).c_str());
  m_remoteIpCtrl.SetAddress(net::NetToHost32(addr));
  return true;  // focus to the first tab stop, OK
}

void CMappingEditDlg::OnOK() {
  m_localPort = m_localPortEdit.Text();
  m_remotePort = m_remotePortEdit.Text();
  m_remoteIp = Widen(net::InetNtoa(net::HostToNet32(m_remoteIpCtrl.Address())));
  Dialog::OnOK();
}

}  // namespace vx::ui
