// The program at 150 % and 200 % scaling (LogPixels 144 and 192 in the Wine
// prefix, read by each program as it starts): declared DPI-aware, and all it
// sizes in code follows: column widths, icons, the hand cursor, the link's
// hit rectangle. Screenshots of every window go to the artifacts.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "tests/ui/app_session.h"
#include "tests/ui/link_handler.h"

namespace vx::uitest {
namespace {

constexpr int kAdd = 1000, kLink = 1020, kList = 1006, kLocalPort = 1007;

// Sets HKCU\Control Panel\Desktop\LogPixels for the programs started while it
// lives, and puts the old value back.
class LogPixels {
 public:
  explicit LogPixels(DWORD dpi) {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_key, nullptr);
    DWORD size = sizeof(m_old);
    m_hadOld = RegQueryValueExW(m_key, L"LogPixels", nullptr, nullptr,
                                reinterpret_cast<BYTE*>(&m_old), &size) == ERROR_SUCCESS;
    RegSetValueExW(m_key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                   sizeof(dpi));
  }
  ~LogPixels() {
    if (m_hadOld) {
      RegSetValueExW(m_key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_old),
                     sizeof(m_old));
    } else {
      RegDeleteValueW(m_key, L"LogPixels");
    }
    RegCloseKey(m_key);
  }
  LogPixels(const LogPixels&) = delete;
  LogPixels& operator=(const LogPixels&) = delete;

 private:
  HKEY m_key = nullptr;
  DWORD m_old = 96;
  bool m_hadOld = false;
};

template <typename Fn>
Fn User32(const char* name) {
  FARPROC proc = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// The pixel size of an icon or cursor; 0 when it cannot be read.
int ImageWidth(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) {
    return 0;
  }
  BITMAP bm{};
  GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bm), &bm);
  if (info.hbmColor != nullptr) {
    DeleteObject(info.hbmColor);
  }
  DeleteObject(info.hbmMask);
  return bm.bmWidth;
}

int Scaled(int length, int dpi) {
  return MulDiv(length, dpi, 96);
}

class VexholdUiHighDpi : public ::testing::TestWithParam<int> {
 protected:
  std::string Name(const char* state) const {
    return "HighDpi" + std::to_string(GetParam()) + "-" + state;
  }

  LogPixels m_dpi{static_cast<DWORD>(GetParam())};
  AppSession app{
      "[Num]\r\nNumber=1\r\nQueldaUrlList=\r\n[1]\r\nCport=8080\r\nIP=192.168.100.200\r\nSport="
      "65535\r\n"};
};

TEST_P(VexholdUiHighDpi, DrawnAwareAtItsDpiWithEverythingSizedInCodeScaled) {
  const int dpi = GetParam();
  ASSERT_TRUE(app.Started());
  HWND main = app.Main();

  using WindowContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(HWND);
  using AwarenessFn = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
  auto windowContext = User32<WindowContextFn>("GetWindowDpiAwarenessContext");
  auto awareness = User32<AwarenessFn>("GetAwarenessFromDpiAwarenessContext");
  ASSERT_TRUE(windowContext != nullptr && awareness != nullptr);
  EXPECT_EQ(awareness(windowContext(main)), DPI_AWARENESS_PER_MONITOR_AWARE)
      << "the manifest's per-monitor awareness did not take";

  // The columns were given in pixels at 96 DPI. (Their widths also show the
  // DPI the program itself sees; this process, started earlier, sees 96.)
  HWND list = app.MainItem(kList);
  const int widths[] = {80, 130, 80, 80};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0), Scaled(widths[c], dpi)) << c;
  }
  EXPECT_EQ(app.Headings(),
            (std::vector<std::wstring>{L"本地端口", L"映射IP", L"映射端口", L"连接数"}));

  const int smallIcon =
      ImageWidth(reinterpret_cast<HICON>(SendMessageW(main, WM_GETICON, ICON_SMALL, 0)));
  const int bigIcon =
      ImageWidth(reinterpret_cast<HICON>(SendMessageW(main, WM_GETICON, ICON_BIG, 0)));
  // Icons and cursors of another process can be measured on Windows, not
  // under Wine, whose screenshots show them instead.
  const bool measurable = smallIcon != 0;
  if (measurable) {
    EXPECT_EQ(smallIcon, Scaled(16, dpi));
    EXPECT_EQ(bigIcon, Scaled(32, dpi));
  }
  app.Screenshot(main, Name("main"));

  // The hand shows over the label as laid out at this DPI, at its size.
  RECT rc;
  GetWindowRect(app.MainItem(kLink), &rc);
  const int midY = (rc.top + rc.bottom) / 2;
  HCURSOR arrow = CursorAt(rc.left - 6, midY);
  HCURSOR hand = CursorAt(rc.right - 2, rc.bottom - 2);
  EXPECT_NE(hand, arrow) << "no hand near the far corner of the scaled label";
  if (measurable) {
    EXPECT_EQ(ImageWidth(hand), Scaled(32, dpi));
  }
  EXPECT_EQ(CursorAt(rc.right, midY), arrow);

  // A press opens the address inside the label only, wherever in it.
  std::wstring log = app.Directory() + L"\\links.txt";
  HttpHandlerOverride handler(log);
  MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rc), 2);
  auto press = [&](int x, int y) {
    PostMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageW(main, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  };
  press(rc.right, midY);
  press(rc.left + 1, rc.bottom);
  Sleep(1500);
  EXPECT_EQ(RecordedLinks(log), "");
  press(rc.right - 2, rc.bottom - 2);
  EXPECT_TRUE(
      WaitFor([&] { return !RecordedLinks(log).empty(); }, 10000ms, "!RecordedLinks(log).empty()"));
  Sleep(500);
  EXPECT_EQ(RecordedLinks(log), "http://www.vexhold.example\n");

  // The other windows, for the eye.
  AppSession::Click(app.MainItem(kAdd));
  HWND editor = app.FindDialog(L"增加/修改映射对");
  ASSERT_NE(editor, nullptr);
  app.Screenshot(editor, Name("editor"));
  AppSession::ClearEdit(GetDlgItem(editor, kLocalPort));
  AppSession::Click(GetDlgItem(editor, IDOK));
  HWND box = app.FindDialog(L"vexhold");
  ASSERT_NE(box, nullptr);
  app.Screenshot(box, Name("message"));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }, 5000ms, "!IsWindow(box)"));
  app.SysCommand(0x10);
  HWND about = app.FindDialog(L"关于 Vexhold");
  ASSERT_NE(about, nullptr);
  app.Screenshot(about, Name("about"));
  AppSession::Click(GetDlgItem(about, IDOK));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(about); }, 5000ms, "!IsWindow(about)"));
}

INSTANTIATE_TEST_SUITE_P(Scaling, VexholdUiHighDpi, ::testing::Values(144, 192));

}  // namespace
}  // namespace vx::uitest
