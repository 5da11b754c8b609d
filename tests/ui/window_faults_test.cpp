// The real window when the system lets it down: a shell that takes no
// notification icon, and a setting.ini it must not or cannot write.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "tests/ui/app_session.h"

namespace vx::uitest {
namespace {

const std::wstring kApp = L"vexhold";
const std::wstring kEditorCaption = L"增加/修改映射对";
constexpr int kAdd = 1000, kLocalPort = 1007;

std::string Name(const char* state) {
  return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" + state;
}

// The shell's slot for the main window's icon, taken by someone else: the
// program's own NIM_ADD then fails, as with no shell or a full area.
class IconSlotTaken {
 public:
  explicit IconSlotTaken(HWND main) {
    m_nid.cbSize = sizeof(m_nid);
    m_nid.hWnd = main;
    m_nid.uID = 100;
    m_nid.uFlags = NIF_TIP;
    wcscpy(m_nid.szTip, L"占位");
    m_taken = Shell_NotifyIconW(NIM_ADD, &m_nid) != FALSE;
  }
  ~IconSlotTaken() { Release(); }
  bool Taken() const { return m_taken; }
  void Release() {
    if (m_taken) {
      Shell_NotifyIconW(NIM_DELETE, &m_nid);
      m_taken = false;
    }
  }

 private:
  NOTIFYICONDATAW m_nid{};
  bool m_taken = false;
};

void AnnounceNewShell(HWND main) {
  PostMessageW(main, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
}

TEST(VexholdUiTray, WithoutAnIconTheWindowStaysShownAndGoesOnceAShellTakesTheIcon) {
  AppSession app;
  ASSERT_TRUE(app.Started());
  HWND main = app.Main();
  {
    IconSlotTaken taken(main);
    ASSERT_TRUE(taken.Taken());
    app.SysCommand(SC_MINIMIZE);
    Sleep(1000);
    EXPECT_TRUE(IsWindowVisible(main)) << "hidden although no icon leads back to it";
    EXPECT_FALSE(IsIconic(main));
  }
  AnnounceNewShell(main);
  EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(main); }, 5000ms, "!IsWindowVisible(main)"))
      << "not hidden once the shell took the icon";
  EXPECT_TRUE(app.TrayIconPresent());

  // A restarted shell that refuses the icon: the window comes back, and goes
  // again with the next shell that takes it.
  app.RemoveTrayIcon();
  {
    IconSlotTaken taken(main);
    ASSERT_TRUE(taken.Taken());
    AnnounceNewShell(main);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(main) != FALSE; }, 5000ms,
                        "IsWindowVisible(main) != FALSE"))
        << "hidden with no icon after the shell restarted";
  }
  AnnounceNewShell(main);
  EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(main) && app.TrayIconPresent(); }, 5000ms,
                      "!IsWindowVisible(main) && app.TrayIconPresent()"));
  app.TrayNotify(WM_LBUTTONDBLCLK);
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(main) != FALSE; }, 5000ms,
                      "IsWindowVisible(main) != FALSE"));
  EXPECT_FALSE(app.TrayIconPresent());
}

// What a box of the program says, after waiting for it; then closes it.
std::wstring TakeBox(const AppSession& app, const char* shot) {
  HWND box = app.FindDialog(kApp, 10000ms);
  if (box == nullptr) {
    return L"<no box>";
  }
  std::wstring text = AppSession::BoxText(box);
  app.Screenshot(box, Name(shot));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  WaitFor([&] { return !IsWindow(box); }, 5000ms, "!IsWindow(box)");
  return text;
}

void AddThroughTheEditor(const AppSession& app, const std::wstring& port) {
  AppSession::Click(app.MainItem(kAdd));
  HWND editor = app.FindDialog(kEditorCaption);
  ASSERT_NE(editor, nullptr);
  AppSession::ClearEdit(GetDlgItem(editor, kLocalPort));
  AppSession::TypeChars(GetDlgItem(editor, kLocalPort), port);
  AppSession::Click(GetDlgItem(editor, IDOK));
}

const std::string kOnePair =
    "[Num]\r\nNumber=1\r\nQueldaUrlList=\r\n[1]\r\nCport=8080\r\nIP=10.0.0.1\r\nSport=80\r\n";

TEST(VexholdUiFile, AFileTooLargeIsReportedOnceShownListedEmptyAndNeverRewritten) {
  const std::string big = kOnePair + std::string(2 << 20, ';');
  AppSession app(big);
  ASSERT_TRUE(app.Started());
  const std::string reason =
      "文件有 " + std::to_string(big.size()) + " 字节, 超过 1MB 的上限, 不读取也不改写";
  EXPECT_EQ(Narrow(TakeBox(app, "read-refused")), "读取 setting.ini 失败: " + reason);
  EXPECT_EQ(app.RowCount(), 0);
  AddThroughTheEditor(app, L"8081");
  EXPECT_EQ(Narrow(TakeBox(app, "save-refused")), "保存 setting.ini 失败: " + reason);
  Sleep(300);
  EXPECT_FALSE(app.OtherDialogOpen(kApp)) << "more than one box for one refused save";
  EXPECT_EQ(app.RowCount(), 0);
  EXPECT_TRUE(app.ReadSettingFile() == big) << "the refused file was rewritten";
}

TEST(VexholdUiFile, AReadOnlyFileSaysSoAndTheListShowsTheFile) {
  AppSession app(kOnePair);
  ASSERT_TRUE(app.Started());
  const std::wstring path = app.Directory() + L"\\setting.ini";
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  AddThroughTheEditor(app, L"8081");
  wchar_t system[256] = {};
  FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED,
      MAKELANGID(LANG_CHINESE_SIMPLIFIED, SUBLANG_CHINESE_SIMPLIFIED), system, 256, nullptr);
  std::wstring reason = system;
  while (!reason.empty() &&
         (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' '))
    reason.pop_back();
  EXPECT_EQ(Narrow(TakeBox(app, "read-only")), "保存 setting.ini 失败: " + Narrow(reason));
  ASSERT_EQ(app.RowCount(), 1);
  EXPECT_EQ(app.Cell(0, 0), L"8080");
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(app.ReadSettingFile(), kOnePair);
}

}  // namespace
}  // namespace vx::uitest
