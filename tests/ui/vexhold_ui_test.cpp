// The real vexhold.exe, driven from outside under Wine (or Windows), each test
// in a fresh directory: its windows, its setting.ini, and relays on loopback.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "tests/ui/app_session.h"
#include "tests/support/ports.h"
#include "tests/support/sockets.h"
#include "tests/support/test_server.h"
#include "tests/ui/link_handler.h"

namespace vx::uitest {
namespace {

constexpr int kAdd = 1000, kModify = 1001, kDelete = 1002, kStart = 1003, kStop = 1004;
constexpr int kLocalPort = 1007, kRemotePort = 1009, kRemoteIp = 1013, kLink = 1020;
const std::wstring kApp = L"vexhold";  // the program file's name without extension
const std::wstring kEditorCaption = L"增加/修改映射对";
const std::wstring kNotice = L"提示";
const std::wstring kRangeText = L"测试端口为（1-65535）之间!";

bool Enabled(HWND h) {
  return IsWindowEnabled(h) != FALSE;
}

// Started by the shell as the web-link handler ("--record-link LOG URL"), this
// program only appends the address it was given to LOG and ends.
const bool g_recorder = [] {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv != nullptr && argc == 4 && wcscmp(argv[1], L"--record-link") == 0) {
    FILE* f = _wfopen(argv[2], L"ab");
    if (f != nullptr) {
      std::string url = Narrow(argv[3]) + "\n";
      fwrite(url.data(), 1, url.size(), f);
      fclose(f);
    }
    ExitProcess(0);
  }
  return false;
}();

class VexholdUi : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(app.Started()) << "the main window did not appear"; }

  std::string Name(const char* state) const {
    return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
           state;
  }

  // Opens the editor through the Add button.
  HWND OpenEditorByAdd() {
    AppSession::Click(app.MainItem(kAdd));
    return app.FindDialog(kEditorCaption);
  }

  // Fills the editor as an operator types and presses OK.
  void FillAndOk(HWND editor, const std::wstring& local, const std::string& ip,
                 const std::wstring& remote) {
    HWND lp = GetDlgItem(editor, kLocalPort);
    HWND rp = GetDlgItem(editor, kRemotePort);
    AppSession::ClearEdit(lp);
    AppSession::TypeChars(lp, local);
    AppSession::ClearEdit(rp);
    AppSession::TypeChars(rp, remote);
    unsigned a, b, c, d;
    ASSERT_EQ(sscanf(ip.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    SendMessageW(GetDlgItem(editor, kRemoteIp), IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
    AppSession::Click(GetDlgItem(editor, IDOK));
  }

  void AddPair(const std::wstring& local, const std::string& ip, const std::wstring& remote) {
    int rows = app.RowCount();
    HWND editor = OpenEditorByAdd();
    ASSERT_NE(editor, nullptr);
    FillAndOk(editor, local, ip, remote);
    ASSERT_TRUE(
        WaitFor([&] { return app.RowCount() == rows + 1; }, 5000ms, "app.RowCount() == rows + 1"));
  }

  // Waits for a box of the program with `caption`, checks its text, presses `button`.
  void ExpectBox(const std::wstring& caption, const std::wstring& text, int button,
                 const char* shot = nullptr) {
    HWND box = app.FindDialog(caption);
    ASSERT_NE(box, nullptr) << "no box captioned " << Narrow(caption);
    EXPECT_EQ(Narrow(AppSession::BoxText(box)), Narrow(text));
    if (shot != nullptr) {
      app.Screenshot(box, Name(shot));
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }, 5000ms, "!IsWindow(box)"));
  }

  bool CellBecomes(int row, int column, const std::wstring& text, Duration limit) {
    return WaitFor([&] { return app.Cell(row, column) == text; }, limit,
                   "app.Cell(row, column) == text");
  }

  AppSession app;
};

TEST_F(VexholdUi, FirstStartCreatesTheFileAndShowsAnEmptyListWithFourHeadings) {
  EXPECT_TRUE(WaitFor([&] { return !app.ReadSettingFile().empty(); }, 3000ms,
                      "!app.ReadSettingFile().empty()"));
  std::string ini = app.ReadSettingFile();
  EXPECT_NE(ini.find("[Num]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Number=0"), std::string::npos) << ini;

  std::vector<std::wstring> headings = app.Headings();
  ASSERT_EQ(headings.size(), 4u);
  EXPECT_EQ(Narrow(headings[0]), "本地端口");
  EXPECT_EQ(Narrow(headings[1]), "映射IP");
  EXPECT_EQ(Narrow(headings[2]), "映射端口");
  EXPECT_EQ(Narrow(headings[3]), "连接数");
  EXPECT_EQ(app.RowCount(), 0);
  EXPECT_EQ(SendMessageW(app.MainItem(1006), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x29);

  EXPECT_TRUE(Enabled(app.MainItem(kAdd)));
  EXPECT_EQ(app.Focus(), app.MainItem(kAdd));
  EXPECT_TRUE(Enabled(app.MainItem(kStart)));
  EXPECT_FALSE(Enabled(app.MainItem(kModify)));
  EXPECT_FALSE(Enabled(app.MainItem(kDelete)));
  // The Stop command has a visible button, greyed until Start.
  EXPECT_TRUE(IsWindowVisible(app.MainItem(kStop)));
  EXPECT_FALSE(Enabled(app.MainItem(kStop)));
  EXPECT_EQ(Narrow(AppSession::Text(app.MainItem(kStop))), "停止映射");
  EXPECT_EQ(Narrow(AppSession::Text(app.MainItem(kLink))), "Vexhold 工作室 www.vexhold.example");
  EXPECT_EQ(Narrow(AppSession::Text(app.Main())), "端口映射");
  app.Screenshot(app.Main(), Name("main"));

  // A click into the empty list enables Modify and Delete.
  app.ClickList(100, 200);
  // The program enables one button after the other: wait for both.
  EXPECT_TRUE(
      WaitFor([&] { return Enabled(app.MainItem(kModify)) && Enabled(app.MainItem(kDelete)); },
              3000ms, "Modify and Delete to be enabled"));
}

TEST_F(VexholdUi, EditorTakesDigitsOnlyUpToFiveAndAPasteReachesTheRangeCheck) {
  HWND editor = OpenEditorByAdd();
  ASSERT_NE(editor, nullptr);
  HWND lp = GetDlgItem(editor, kLocalPort);
  HWND rp = GetDlgItem(editor, kRemotePort);
  EXPECT_EQ(Narrow(AppSession::Text(lp)), "80");
  EXPECT_EQ(Narrow(AppSession::Text(rp)), "80");
  EXPECT_EQ(app.IpAddress(GetDlgItem(editor, kRemoteIp)), MAKEIPADDRESS(127, 0, 0, 1));
  EXPECT_FALSE(Enabled(app.Main())) << "the editor is modal";
  app.Screenshot(editor, Name("editor-presets"));

  // Focus starts on OK; Tab follows the template: Cancel, local port,
  // remote port, then the address.
  HWND ip = GetDlgItem(editor, kRemoteIp);
  EXPECT_TRUE(WaitFor([&] { return app.Focus() == GetDlgItem(editor, IDOK); }, 3000ms,
                      "app.Focus() == GetDlgItem(editor, IDOK)"));
  const HWND order[] = {GetDlgItem(editor, IDCANCEL), lp, rp};
  for (HWND next : order) {
    app.PostKey(app.Focus(), VK_TAB);
    EXPECT_TRUE(WaitFor([&] { return app.Focus() == next; }, 3000ms, "app.Focus() == next"))
        << "id " << GetDlgCtrlID(next);
  }
  app.PostKey(app.Focus(), VK_TAB);
  EXPECT_TRUE(WaitFor([&] { return IsChild(ip, app.Focus()) != FALSE; }, 3000ms,
                      "IsChild(ip, app.Focus()) != FALSE"));

  AppSession::ClearEdit(lp);
  AppSession::TypeChars(lp, L"a1.2-3+ 4x");
  EXPECT_EQ(Narrow(AppSession::Text(lp)), "1234");
  AppSession::TypeChars(lp, L"56");  // the sixth character is refused
  EXPECT_EQ(Narrow(AppSession::Text(lp)), "12345");
  AppSession::TypeChars(lp, L"\b");
  EXPECT_EQ(Narrow(AppSession::Text(lp)), "1234");
  AppSession::TypeChars(lp, L"中");
  EXPECT_EQ(Narrow(AppSession::Text(lp)), "1234");

  // Pasted text is not filtered.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, 4 * sizeof(wchar_t));
  wcscpy(static_cast<wchar_t*>(GlobalLock(mem)), L"abc");
  GlobalUnlock(mem);
  SetClipboardData(CF_UNICODETEXT, mem);
  CloseClipboard();
  AppSession::ClearEdit(rp);
  AppSession::TypeChars(rp, L"\x16");  // Ctrl+V
  EXPECT_EQ(Narrow(AppSession::Text(rp)), "abc");
  app.Screenshot(editor, Name("editor-typed"));

  AppSession::Click(GetDlgItem(editor, IDOK));
  ExpectBox(kApp, kRangeText, IDOK, "range-message");
  EXPECT_EQ(app.RowCount(), 0);
  EXPECT_NE(app.ReadSettingFile().find("Number=0"), std::string::npos);

  // Cancel changes nothing either.
  editor = OpenEditorByAdd();
  ASSERT_NE(editor, nullptr);
  AppSession::Click(GetDlgItem(editor, IDCANCEL));
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(editor); }, 3000ms, "!IsWindow(editor)"));
  EXPECT_EQ(app.RowCount(), 0);
}

TEST_F(VexholdUi, AddStoresThePairAndRejectsDuplicatesAndBadPorts) {
  AddPair(L"8080", "192.168.1.20", L"80");
  EXPECT_EQ(Narrow(app.Cell(0, 0)), "8080");
  EXPECT_EQ(Narrow(app.Cell(0, 1)), "192.168.1.20");
  EXPECT_EQ(Narrow(app.Cell(0, 2)), "80");
  EXPECT_TRUE(CellBecomes(0, 3, L"0", 3000ms));
  std::string ini = app.ReadSettingFile();
  EXPECT_NE(ini.find("Number=1"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[1]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Cport=8080"), std::string::npos) << ini;
  EXPECT_NE(ini.find("IP=192.168.1.20"), std::string::npos) << ini;
  app.Screenshot(app.Main(), Name("one-row"));

  HWND editor = OpenEditorByAdd();
  ASSERT_NE(editor, nullptr);
  FillAndOk(editor, L"8080", "127.0.0.1", L"81");
  ExpectBox(kApp, L"添加的端口已经存在", IDOK, "duplicate-message");

  editor = OpenEditorByAdd();
  ASSERT_NE(editor, nullptr);
  FillAndOk(editor, L"0", "127.0.0.1", L"81");
  ExpectBox(kApp, kRangeText, IDOK);

  editor = OpenEditorByAdd();
  ASSERT_NE(editor, nullptr);
  FillAndOk(editor, L"99999", "127.0.0.1", L"81");
  ExpectBox(kApp, kRangeText, IDOK);
  EXPECT_EQ(app.RowCount(), 1);

  // Enter runs the default button, Add, wherever the focus is in the window.
  app.PostKey(app.MainItem(1006), VK_RETURN);
  editor = app.FindDialog(kEditorCaption);
  ASSERT_NE(editor, nullptr) << "Enter did not open the editor";
  AppSession::Click(GetDlgItem(editor, IDCANCEL));
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(editor); }, 3000ms, "!IsWindow(editor)"));
  EXPECT_TRUE(IsWindow(app.Main()));
}

TEST_F(VexholdUi, ModifyAndDeleteAskForASelectionAndConfirmation) {
  AddPair(L"7001", "10.0.0.1", L"1");
  AddPair(L"7002", "10.0.0.2", L"2");
  AddPair(L"7003", "10.0.0.3", L"3");

  // The first click into the list, on empty space, enables the buttons.
  app.ClickList(100, 200);
  ASSERT_TRUE(
      WaitFor([&] { return Enabled(app.MainItem(kModify)) && Enabled(app.MainItem(kDelete)); },
              3000ms, "Modify and Delete to be enabled"));
  AppSession::Click(app.MainItem(kModify));
  ExpectBox(kNotice, L"请选择要修改的行!", IDOK, "select-row-message");
  AppSession::Click(app.MainItem(kDelete));
  ExpectBox(kNotice, L"请选择要删除的行!", IDOK);

  // Modifying a row without a change is refused.
  app.SelectRow(1);
  AppSession::Click(app.MainItem(kModify));
  HWND editor = app.FindDialog(kEditorCaption);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(Narrow(AppSession::Text(GetDlgItem(editor, kLocalPort))), "7002");
  AppSession::Click(GetDlgItem(editor, IDOK));
  ExpectBox(kApp, L"端口对已经存在!", IDOK);

  // Deleting the middle row moves the last pair into it; No keeps everything.
  app.SelectRow(0);
  AppSession::Click(app.MainItem(kDelete));
  ExpectBox(kNotice, L"此操作将不可恢复\n你确定要删除吗?\n", IDNO, "delete-confirm");
  EXPECT_EQ(app.RowCount(), 3);
  app.SelectRow(1);
  AppSession::Click(app.MainItem(kDelete));
  ExpectBox(kNotice, L"此操作将不可恢复\n你确定要删除吗?\n", IDYES);
  ASSERT_TRUE(WaitFor([&] { return app.RowCount() == 2; }, 5000ms, "app.RowCount() == 2"));
  EXPECT_EQ(Narrow(app.Cell(0, 0)), "7001");
  EXPECT_EQ(Narrow(app.Cell(1, 0)), "7003");
  EXPECT_NE(app.ReadSettingFile().find("Number=2"), std::string::npos);
}

TEST_F(VexholdUi, StartRelaysBytesCountsThemAndFollowsModifyDeleteAndStop) {
  test::TaggedEchoServer first("A:"), second("B:");
  std::uint16_t p1 = test::FreePort();
  std::uint16_t p2 = test::FreePort();
  AddPair(std::to_wstring(p1), "127.0.0.1", std::to_wstring(first.Port()));
  AddPair(std::to_wstring(p2), "127.0.0.1", std::to_wstring(second.Port()));

  AppSession::Click(app.MainItem(kStart));
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(app.Main()); }, 10000ms,
                      "!IsWindowVisible(app.Main())"))
      << "Start did not hide the window";
  EXPECT_TRUE(app.TrayIconPresent()) << "no notification icon after Start";
  EXPECT_FALSE(IsIconic(app.Main()));
  app.Screenshot(nullptr, Name("in-tray"));

  // The relays listen a moment after the window hides.
  ASSERT_TRUE(WaitFor([&] { return test::RoundTrip(p1, "probe", 1000ms) == "A:probe"; }, 5000ms,
                      "test::RoundTrip(p1, \"probe\", 1000ms) == \"A:probe\""));
  ASSERT_TRUE(WaitFor([&] { return test::RoundTrip(p2, "probe", 1000ms) == "B:probe"; }, 5000ms,
                      "test::RoundTrip(p2, \"probe\", 1000ms) == \"B:probe\""));
  EXPECT_TRUE(CellBecomes(0, 3, L"0", 2500ms));

  // Bytes flow both ways, and the open connection is counted within about a second.
  net::UniqueSocket held;
  EXPECT_EQ(test::RoundTrip(p1, "ping", 3000ms, &held), "A:ping");
  EXPECT_TRUE(CellBecomes(0, 3, L"1", 2500ms)) << Narrow(app.Cell(0, 3));
  EXPECT_EQ(Narrow(app.Cell(1, 3)), "0");
  held.Reset();
  EXPECT_TRUE(CellBecomes(0, 3, L"0", 2500ms)) << Narrow(app.Cell(0, 3));
  EXPECT_EQ(test::RoundTrip(p2, "pong", 3000ms), "B:pong");

  // Restore from the tray: the icon goes, the window comes back.
  app.TrayNotify(WM_LBUTTONDOWN);  // a single click does nothing
  Sleep(300);
  EXPECT_FALSE(IsWindowVisible(app.Main()));
  app.TrayNotify(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000ms,
                      "IsWindowVisible(app.Main()) != FALSE"));
  EXPECT_FALSE(app.TrayIconPresent());
  EXPECT_FALSE(Enabled(app.MainItem(kStart)));
  EXPECT_TRUE(Enabled(app.MainItem(kStop)));
  // The clicked Start button greyed itself: the keyboard focus moved on.
  EXPECT_TRUE(WaitFor([&] { return app.Focus() != nullptr; }, 3000ms, "app.Focus() != nullptr"));
  EXPECT_TRUE(Enabled(app.Focus()));
  app.Screenshot(app.Main(), Name("running"));

  // Modify while running: pair 1 now goes to the second server.
  app.SelectRow(0);
  AppSession::Click(app.MainItem(kModify));
  HWND editor = app.FindDialog(kEditorCaption);
  ASSERT_NE(editor, nullptr);
  FillAndOk(editor, std::to_wstring(p1), "127.0.0.1", std::to_wstring(second.Port()));
  EXPECT_TRUE(CellBecomes(0, 2, std::to_wstring(second.Port()), 8000ms));
  EXPECT_TRUE(WaitFor([&] { return test::RoundTrip(p1, "x", 1000ms) == "B:x"; }, 8000ms,
                      "test::RoundTrip(p1, \"x\", 1000ms) == \"B:x\""));

  // Delete the first row while running: the last pair moves into row 0 and
  // its relay keeps serving; the deleted pair's port closes.
  net::UniqueSocket moved;
  EXPECT_EQ(test::RoundTrip(p2, "keep", 3000ms, &moved), "B:keep");
  app.SelectRow(0);
  AppSession::Click(app.MainItem(kDelete));
  ExpectBox(kNotice, L"此操作将不可恢复\n你确定要删除吗?\n", IDYES);
  ASSERT_TRUE(WaitFor([&] { return app.RowCount() == 1; }, 8000ms, "app.RowCount() == 1"));
  EXPECT_EQ(app.Cell(0, 0), std::to_wstring(p2));
  EXPECT_TRUE(CellBecomes(0, 3, L"1", 3000ms)) << Narrow(app.Cell(0, 3));
  char buf[64];
  EXPECT_EQ(send(moved.Get(), "again", 5, 0), 5);
  int n = recv(moved.Get(), buf, sizeof(buf), 0);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "B:again");
  moved.Reset();
  EXPECT_TRUE(WaitFor([&] { return test::RoundTrip(p1, "gone", 500ms).empty(); }, 5000ms,
                      "test::RoundTrip(p1, \"gone\", 500ms).empty()"));

  // Stop ends every relay and switches the buttons back.
  AppSession::Click(app.MainItem(kStop));
  EXPECT_TRUE(
      WaitFor([&] { return Enabled(app.MainItem(kStart)) && !Enabled(app.MainItem(kStop)); },
              8000ms, "Enabled(app.MainItem(kStart)) && !Enabled(app.MainItem(kStop))"));
  EXPECT_TRUE(Enabled(app.Focus()));
  EXPECT_TRUE(WaitFor([&] { return test::RoundTrip(p2, "stopped", 500ms).empty(); }, 5000ms,
                      "test::RoundTrip(p2, \"stopped\", 500ms).empty()"));
  EXPECT_TRUE(IsWindowVisible(app.Main()));
}

TEST_F(VexholdUi, EscEndsTheProgramWhileRelaysRun) {
  test::TaggedEchoServer server("E:");
  std::uint16_t port = test::FreePort();
  AddPair(std::to_wstring(port), "127.0.0.1", std::to_wstring(server.Port()));
  AppSession::Click(app.MainItem(kStart));
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(app.Main()); }, 10000ms,
                      "!IsWindowVisible(app.Main())"));
  // The window hides once the relay has taken its parameters; it listens a
  // moment later.
  EXPECT_TRUE(WaitFor([&] { return test::RoundTrip(port, "up", 1000ms) == "E:up"; }, 5000ms,
                      "test::RoundTrip(port, \"up\", 1000ms) == \"E:up\""));
  app.TrayNotify(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000ms,
                      "IsWindowVisible(app.Main()) != FALSE"));

  app.PostKey(nullptr, VK_ESCAPE);
  ASSERT_TRUE(app.HasExited(10000ms)) << "Esc did not end the program";
  // Relays outlive the window until the process goes: a clean exit, no fault.
  DWORD code = 1234;
  GetExitCodeProcess(app.Process(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(WaitFor([&] { return test::RoundTrip(port, "down", 500ms).empty(); }, 5000ms,
                      "test::RoundTrip(port, \"down\", 500ms).empty()"));
}

TEST_F(VexholdUi, MinimiseHidesIntoTheTrayAndAboutBoxOpensFromTheSystemMenu) {
  app.SysCommand(SC_MINIMIZE);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(app.Main()); }, 5000ms,
                      "!IsWindowVisible(app.Main())"));
  EXPECT_FALSE(IsIconic(app.Main())) << "hidden, not minimised";
  EXPECT_TRUE(app.TrayIconPresent());
  app.TrayNotify(WM_RBUTTONUP);
  Sleep(300);
  EXPECT_FALSE(IsWindowVisible(app.Main()));
  app.TrayNotify(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000ms,
                      "IsWindowVisible(app.Main()) != FALSE"));
  EXPECT_FALSE(app.TrayIconPresent());

  // A restarted shell has no icons: a hidden window adds its icon again.
  app.SysCommand(SC_MINIMIZE);
  ASSERT_TRUE(WaitFor([&] { return app.TrayIconPresent(); }, 5000ms, "app.TrayIconPresent()"));
  app.RemoveTrayIcon();
  ASSERT_FALSE(app.TrayIconPresent());
  PostMessageW(app.Main(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitFor([&] { return app.TrayIconPresent(); }, 5000ms, "app.TrayIconPresent()"));
  app.TrayNotify(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000ms,
                      "IsWindowVisible(app.Main()) != FALSE"));

  app.SysCommand(0x10);
  HWND about = app.FindDialog(L"关于 Vexhold");
  ASSERT_NE(about, nullptr);
  EXPECT_FALSE(Enabled(app.Main())) << "the about box is modal";
  EXPECT_NE(FindWindowExW(about, nullptr, L"Static", L"Vexhold 1.0 版"), nullptr);
  app.Screenshot(about, Name("about"));
  AppSession::Click(GetDlgItem(about, IDOK));
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }, 3000ms, "!IsWindow(about)"));
  EXPECT_TRUE(WaitFor([&] { return Enabled(app.Main()); }, 3000ms, "Enabled(app.Main())"));
  EXPECT_TRUE(IsWindow(app.Main()));

  // The close box ends the program.
  app.SysCommand(SC_CLOSE);
  EXPECT_TRUE(app.HasExited(5000ms));
}

TEST_F(VexholdUi, ARelayFailureIsABoxOnTheRelayThreadCaptionedWithTheProgramName) {
  // Something else holds the port the pair wants to listen on.
  std::uint16_t port = test::FreePort();
  test::PortHolder busy(port);
  ASSERT_TRUE(busy.Holding());
  AddPair(std::to_wstring(port), "127.0.0.1", L"9");

  AppSession::Click(app.MainItem(kStart));
  HWND box = app.FindDialog(kApp, 10000ms);
  ASSERT_NE(box, nullptr) << "no relay message";
  EXPECT_EQ(Narrow(AppSession::BoxText(box)),
            "端口:" + std::to_string(port) + " 有另外一个程序在使用!");
  EXPECT_NE(GetWindowThreadProcessId(box, nullptr), GetWindowThreadProcessId(app.Main(), nullptr))
      << "raised on the user-interface thread, not the relay's";
  app.Screenshot(box, Name("relay-message"));
  // The window went on to the tray while the relay's box waits.
  EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(app.Main()); }, 5000ms,
                      "!IsWindowVisible(app.Main())"));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }, 5000ms, "!IsWindow(box)"));

  app.TrayNotify(WM_LBUTTONDBLCLK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000ms,
                      "IsWindowVisible(app.Main()) != FALSE"));
  AppSession::Click(app.MainItem(kStop));
  EXPECT_TRUE(WaitFor([&] { return Enabled(app.MainItem(kStart)); }, 5000ms,
                      "Enabled(app.MainItem(kStart))"));
  busy.Release();
}

TEST_F(VexholdUi, TheLinkShowsTheHandStrictlyInsideTheLabelOnly) {
  RECT rc;
  GetWindowRect(app.MainItem(kLink), &rc);
  int midX = (rc.left + rc.right) / 2;
  int midY = (rc.top + rc.bottom) / 2;
  // Left of the label, on the window itself: the window's own arrow.
  HCURSOR arrow = CursorAt(rc.left - 6, midY);
  ASSERT_NE(arrow, nullptr);
  HCURSOR hand = CursorAt(midX, midY);
  EXPECT_NE(hand, arrow) << "no hand over the link";
  EXPECT_EQ(CursorAt(rc.left, midY), arrow) << "the leftmost column is not inside";
  EXPECT_EQ(CursorAt(rc.left + 1, midY), hand);
  EXPECT_EQ(CursorAt(midX, rc.top), arrow) << "the topmost row is not inside";
  EXPECT_EQ(CursorAt(midX, rc.top + 1), hand);
  // The right and bottom bounds are exclusive: the label's last column is inside.
  EXPECT_EQ(CursorAt(rc.right - 1, midY), hand);
  EXPECT_EQ(CursorAt(rc.right, midY), arrow);
  EXPECT_EQ(CursorAt(rc.left - 6, midY), arrow);
}

// Presets from a hand-edited file: the address keeps inet_addr's reading.
TEST(VexholdUiPresets, TheAddressFieldReadsPresetsAsInetAddrAndReturnsDottedText) {
  AppSession app(
      "[Num]\r\nNumber=2\r\nQueldaUrlList=\r\n"
      "[1]\r\nCport=5000\r\nIP=300.1.2.3\r\nSport=80\r\n"
      "[2]\r\nCport=5001\r\nIP=10.1\r\nSport=80\r\n");
  ASSERT_TRUE(app.Started());
  ASSERT_EQ(app.RowCount(), 2);
  EXPECT_EQ(Narrow(app.Cell(0, 1)), "300.1.2.3");

  auto openModify = [&](int row) {
    app.SelectRow(row);
    EXPECT_TRUE(WaitFor([&] { return Enabled(app.MainItem(kModify)); }, 3000ms,
                        "Enabled(app.MainItem(kModify))"));
    AppSession::Click(app.MainItem(kModify));
    return app.FindDialog(kEditorCaption);
  };

  HWND editor = openModify(0);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(app.IpAddress(GetDlgItem(editor, kRemoteIp)), 0xFFFFFFFFu);
  AppSession::Click(GetDlgItem(editor, IDOK));
  ASSERT_TRUE(WaitFor([&] { return app.Cell(0, 1) == L"255.255.255.255"; }, 5000ms,
                      "app.Cell(0, 1) == L\"255.255.255.255\""));
  EXPECT_NE(app.ReadSettingFile().find("IP=255.255.255.255"), std::string::npos);

  editor = openModify(1);
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(app.IpAddress(GetDlgItem(editor, kRemoteIp)), MAKEIPADDRESS(10, 0, 0, 1));
  SendMessageW(GetDlgItem(editor, kRemoteIp), IPM_CLEARADDRESS, 0, 0);
  AppSession::Click(GetDlgItem(editor, IDOK));
  ASSERT_TRUE(WaitFor([&] { return app.Cell(1, 1) == L"0.0.0.0"; }, 5000ms,
                      "app.Cell(1, 1) == L\"0.0.0.0\""));
  EXPECT_NE(app.ReadSettingFile().find("IP=0.0.0.0"), std::string::npos);
}

TEST(VexholdUiName, BoxesInTheProgramsNameTakeTheFileNameWithoutExtension) {
  AppSession app("", L"端口工具.exe");
  ASSERT_TRUE(app.Started());
  AppSession::Click(app.MainItem(kAdd));
  HWND editor = app.FindDialog(kEditorCaption);
  ASSERT_NE(editor, nullptr);
  AppSession::ClearEdit(GetDlgItem(editor, kLocalPort));
  AppSession::Click(GetDlgItem(editor, IDOK));
  HWND box = app.FindDialog(L"端口工具");
  ASSERT_NE(box, nullptr) << "no box captioned with the renamed program's name";
  EXPECT_EQ(Narrow(AppSession::BoxText(box)), Narrow(kRangeText));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST_F(VexholdUi, EachPressStrictlyInsideTheLinkOpensTheAddressOnce) {
  std::wstring log = app.Directory() + L"\\links.txt";
  HttpHandlerOverride handler(log);
  RECT rc;
  GetWindowRect(app.MainItem(kLink), &rc);
  MapWindowPoints(nullptr, app.Main(), reinterpret_cast<POINT*>(&rc), 2);
  int midX = (rc.left + rc.right) / 2;
  int midY = (rc.top + rc.bottom) / 2;
  auto press = [&](int x, int y) {
    PostMessageW(app.Main(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageW(app.Main(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  };
  auto lines = [&] { return RecordedLinks(log); };

  press(rc.left, midY);  // the edges are not inside
  press(midX, rc.top);
  press(rc.left - 5, midY);
  Sleep(1500);
  EXPECT_EQ(lines(), "");

  press(midX, midY);
  EXPECT_TRUE(WaitFor([&] { return !lines().empty(); }, 10000ms, "!lines().empty()"));
  press(rc.left + 1, rc.top + 1);
  EXPECT_TRUE(WaitFor([&] { return lines().size() > 30; }, 10000ms, "lines().size() > 30"));
  Sleep(500);
  EXPECT_EQ(lines(), "http://www.vexhold.example\nhttp://www.vexhold.example\n");
}

}  // namespace
}  // namespace vx::uitest
