// The notification-area icon of the main window.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace vx::ui {

class TrayIcon {
 public:
  TrayIcon(UINT id, UINT callbackMessage, std::wstring tip)
      : m_id(id), m_callbackMessage(callbackMessage), m_tip(std::move(tip)) {}
  ~TrayIcon() { Remove(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // NIM_ADD. False when the shell refuses (no notification area, or no room
  // in it): the icon is then not shown.
  bool Add(HWND owner, HICON icon);
  void Remove();
  bool Shown() const { return m_owner != nullptr; }
  // After TaskbarCreated: the new shell has no icons; add ours again. False
  // when it refuses; the icon is then not shown.
  bool Readd();

 private:
  NOTIFYICONDATAW Record(HWND owner, HICON icon) const;

  UINT m_id;
  UINT m_callbackMessage;
  std::wstring m_tip;
  HWND m_owner = nullptr;
  HICON m_icon = nullptr;
};

}  // namespace vx::ui
