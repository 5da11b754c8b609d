#include "ui/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace vx::ui {

NOTIFYICONDATAW TrayIcon::Record(HWND owner, HICON icon) const {
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = owner;
  nid.uID = m_id;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = m_callbackMessage;
  nid.hIcon = icon;
  wcsncpy(nid.szTip, m_tip.c_str(), std::size(nid.szTip) - 1);
  return nid;
}

bool TrayIcon::Add(HWND owner, HICON icon) {
  NOTIFYICONDATAW nid = Record(owner, icon);
  if (!Shell_NotifyIconW(NIM_ADD, &nid)) {
    return false;
  }
  m_owner = owner;
  m_icon = icon;
  return true;
}

void TrayIcon::Remove() {
  if (m_owner == nullptr) {
    return;
  }
  NOTIFYICONDATAW nid = Record(m_owner, m_icon);
  Shell_NotifyIconW(NIM_DELETE, &nid);
  m_owner = nullptr;
}

bool TrayIcon::Readd() {
  if (m_owner == nullptr) {
    return false;
  }
  NOTIFYICONDATAW nid = Record(m_owner, m_icon);
  if (!Shell_NotifyIconW(NIM_ADD, &nid)) {
    m_owner = nullptr;
    return false;
  }
  return true;
}

}  // namespace vx::ui
