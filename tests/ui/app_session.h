// Drives a running vexhold.exe from outside, as an operator would: it finds
// the program's windows and sends them the messages a mouse and keyboard
// would cause. Every wait is bounded.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/wait.h"

namespace vx::uitest {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

using test::WaitFor;
using test::WindowsPath;

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

// Wine settings the screenshots need: a bitmap CJK face standing in for
// 宋体, and window frames drawn by Wine (there is no window manager).
void PrepareWineDisplay();

class AppSession {
 public:
  // Starts the program in a new directory, empty or holding `settingIni`;
  // with `programName`, a copy of the program by that name in that directory.
  explicit AppSession(const std::string& settingIni = "", const std::wstring& programName = L"");
  ~AppSession();
  AppSession(const AppSession&) = delete;
  AppSession& operator=(const AppSession&) = delete;

  bool Started() const { return m_main != nullptr; }
  const std::wstring& Directory() const { return m_dir; }
  std::string ReadSettingFile() const;
  bool HasExited(Duration limit);
  HANDLE Process() const { return m_pi.hProcess; }
  DWORD ProcessId() const { return m_pi.dwProcessId; }

  HWND Main() const { return m_main; }
  HWND MainItem(int id) const { return GetDlgItem(m_main, id); }
  // A top-level dialog of the program with this caption, waiting up to `limit`.
  HWND FindDialog(const std::wstring& caption, Duration limit = 5000ms) const;
  // Whether any dialog of the program other than the main window is open.
  bool OtherDialogOpen(const std::wstring& caption) const;

  // Operator actions. Clicks are posted: a click may run a modal loop.
  static void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }
  static void TypeChars(HWND edit, const std::wstring& chars);
  static void ClearEdit(HWND edit);
  static std::wstring Text(HWND hwnd);
  void PostKey(HWND target, UINT vk) const;
  // The program's keyboard focus (null while none of its windows is active).
  HWND Focus() const;
  void SysCommand(UINT id) const { PostMessageW(m_main, WM_SYSCOMMAND, id, 0); }
  void TrayNotify(UINT mouseMessage) const {
    PostMessageW(m_main, WM_USER + 0x100, 100, mouseMessage);
  }
  // A left click inside the list at client point (x, y).
  void ClickList(int x, int y) const;

  // The list, read through the program's own memory.
  int RowCount() const;
  std::wstring Cell(int row, int column) const;
  std::vector<std::wstring> Headings() const;
  // IPM_GETADDRESS of an address control of the program.
  std::uint32_t IpAddress(HWND ip) const;
  // Selects one row of the list (as a click on it would).
  void SelectRow(int row) const;

  // The message text of a message box (its longest static text).
  static std::wstring BoxText(HWND box);
  // Whether the notification area holds the main window's icon 100.
  bool TrayIconPresent() const;
  // As a shell restart does: the shell forgets the icon.
  void RemoveTrayIcon() const;

  // Screenshot of a window (or of the screen when hwnd is null) into the artifacts.
  void Screenshot(HWND hwnd, const std::string& name) const;

 private:
  class Remote;

  PROCESS_INFORMATION m_pi{};
  std::wstring m_dir;
  HWND m_main = nullptr;
};

}  // namespace vx::uitest
