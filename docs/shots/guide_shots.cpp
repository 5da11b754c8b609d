// Takes the user guide's pictures from the real vexhold.exe: each window and
// message box an operator meets, in the order the guide explains them. Every
// pair relays to loopback. Run by scripts/guide-screenshots.sh.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "tests/ui/app_session.h"
#include "tests/support/ports.h"
#include "tests/support/sockets.h"
#include "tests/support/test_server.h"

namespace {

using namespace vx::uitest;
namespace net = vx::net;
namespace test = vx::test;

constexpr int kAdd = 1000, kModify = 1001, kDelete = 1002, kStart = 1003, kStop = 1004;
constexpr int kLocalPort = 1007, kRemotePort = 1009, kRemoteIp = 1013;
const std::wstring kApp = L"vexhold";
const std::wstring kEditorCaption = L"增加/修改映射对";
const std::wstring kNotice = L"提示";

int g_failures = 0;

bool Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "guide_shots: %s\n", what);
    ++g_failures;
  }
  return ok;
}

void Fill(HWND editor, const std::wstring& local, const std::wstring& remote) {
  HWND lp = GetDlgItem(editor, kLocalPort);
  HWND rp = GetDlgItem(editor, kRemotePort);
  AppSession::ClearEdit(lp);
  AppSession::TypeChars(lp, local);
  AppSession::ClearEdit(rp);
  AppSession::TypeChars(rp, remote);
  SendMessageW(GetDlgItem(editor, kRemoteIp), IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 1));
}

// Add with the given values; `shot` photographs the filled editor first.
bool Add(AppSession& app, const std::wstring& local, const std::wstring& remote,
         const char* shot = nullptr) {
  AppSession::Click(app.MainItem(kAdd));
  HWND editor = app.FindDialog(kEditorCaption);
  if (!Check(editor != nullptr, "the editor did not open"))
    return false;
  Fill(editor, local, remote);
  if (shot)
    app.Screenshot(editor, shot);
  AppSession::Click(GetDlgItem(editor, IDOK));
  return true;
}

// Photographs the box with `caption`, then presses `button`.
void Box(AppSession& app, const std::wstring& caption, int button, const char* shot) {
  HWND box = app.FindDialog(caption);
  if (!Check(box != nullptr, shot))
    return;
  app.Screenshot(box, shot);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  WaitFor([&] { return !IsWindow(box); }, 5000ms, "!IsWindow(box)");
}

void Window(AppSession& app) {
  test::TaggedEchoServer web("web:"), db("db:");
  std::wstring p1 = std::to_wstring(test::FreePort());
  std::wstring p2 = std::to_wstring(test::FreePort());
  std::wstring b1 = std::to_wstring(web.Port()), b2 = std::to_wstring(db.Port());

  app.Screenshot(app.Main(), "01-main-empty");
  Add(app, p1, b1, "02-editor");
  Check(WaitFor([&] { return app.RowCount() == 1; }, 5000ms, "app.RowCount() == 1"),
        "the first pair was not added");
  Add(app, p2, b2);
  Check(WaitFor([&] { return app.RowCount() == 2; }, 5000ms, "app.RowCount() == 2"),
        "the second pair was not added");
  app.Screenshot(app.Main(), "03-main-pairs");

  Add(app, p1, L"81");
  Box(app, kApp, IDOK, "04-duplicate-port");
  Add(app, L"0", L"81");
  Box(app, kApp, IDOK, "05-port-range");
  app.ClickList(100, 200);
  WaitFor([&] { return IsWindowEnabled(app.MainItem(kModify)) != FALSE; }, 3000ms,
          "IsWindowEnabled(app.MainItem(kModify)) != FALSE");
  AppSession::Click(app.MainItem(kModify));
  Box(app, kNotice, IDOK, "06-select-row");
  app.SelectRow(1);
  AppSession::Click(app.MainItem(kDelete));
  Box(app, kNotice, IDNO, "07-delete-confirm");

  AppSession::Click(app.MainItem(kStart));
  Check(WaitFor([&] { return !IsWindowVisible(app.Main()); }, 10000ms,
                "!IsWindowVisible(app.Main())"),
        "Start did not hide");
  Sleep(500);
  // The whole screen; the script cuts it down to the notification area.
  app.Screenshot(nullptr, "08-tray");
  net::UniqueSocket held;
  WaitFor(
      [&] {
        return test::RoundTrip(static_cast<std::uint16_t>(std::stoi(p1)), "up", 1000ms) == "web:up";
      },
      5000ms,
      "test::RoundTrip(static_cast<std::uint16_t>(std::stoi(p1)), \"up\", 1000ms) == \"web:up\"");
  test::RoundTrip(static_cast<std::uint16_t>(std::stoi(p1)), "hold", 3000ms, &held);
  app.TrayNotify(WM_LBUTTONDBLCLK);
  Check(WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000ms,
                "IsWindowVisible(app.Main()) != FALSE"),
        "not restored");
  Check(WaitFor([&] { return app.Cell(0, 3) == L"1"; }, 5000ms, "app.Cell(0, 3) == L\"1\""),
        "the count did not show 1");
  app.Screenshot(app.Main(), "09-main-running");
  held.Reset();
  AppSession::Click(app.MainItem(kStop));
  WaitFor([&] { return IsWindowEnabled(app.MainItem(kStart)) != FALSE; }, 8000ms,
          "IsWindowEnabled(app.MainItem(kStart)) != FALSE");

  app.SysCommand(0x10);
  HWND about = app.FindDialog(L"关于 Vexhold");
  if (Check(about != nullptr, "no about box")) {
    app.Screenshot(about, "10-about");
    AppSession::Click(GetDlgItem(about, IDOK));
    WaitFor([&] { return !IsWindow(about); }, 3000ms, "!IsWindow(about)");
  }
}

// A pair whose port another program holds: the relay's own box.
void PortInUse() {
  std::uint16_t port = test::FreePort();
  test::PortHolder busy(port);
  std::string ini = "[Num]\r\nNumber=1\r\nQueldaUrlList=\r\n[1]\r\nCport=" + std::to_string(port) +
                    "\r\nIP=127.0.0.1\r\nSport=9\r\n";
  AppSession app(ini);
  if (Check(app.Started(), "the second session did not start")) {
    AppSession::Click(app.MainItem(kStart));
    Box(app, kApp, IDOK, "11-port-in-use");
    app.TrayNotify(WM_LBUTTONDBLCLK);
    WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000ms,
            "IsWindowVisible(app.Main()) != FALSE");
    AppSession::Click(app.MainItem(kStop));
    WaitFor([&] { return IsWindowEnabled(app.MainItem(kStart)) != FALSE; }, 8000ms,
            "IsWindowEnabled(app.MainItem(kStart)) != FALSE");
  }
  busy.Release();
}

}  // namespace

int main() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  {
    AppSession app;
    if (!Check(app.Started(), "the main window did not appear"))
      return 1;
    Window(app);
  }
  PortInUse();
  WSACleanup();
  return g_failures == 0 ? 0 : 1;
}
