#include "tests/ui/app_session.h"

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "tests/ui/png_file.h"

#ifndef VEXHOLD_EXE
#error "VEXHOLD_EXE must name the program under test"
#endif
#ifndef VEXHOLD_UI_ARTIFACTS
#error "VEXHOLD_UI_ARTIFACTS must name the screenshot directory"
#endif

namespace vx::uitest {

namespace {

constexpr wchar_t kMainCaption[] = L"端口映射";
constexpr UINT kSendTimeoutMs = 5000;

LRESULT SendBounded(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, kSendTimeoutMs, &result)) {
    return 0;
  }
  return static_cast<LRESULT>(result);
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

struct FindArgs {
  DWORD pid;
  const std::wstring* caption;
  HWND exclude;
  HWND found;
};

BOOL CALLBACK FindProc(HWND hwnd, LPARAM lp) {
  auto* args = reinterpret_cast<FindArgs*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != args->pid || hwnd == args->exclude || !IsWindowVisible(hwnd) ||
      ClassOf(hwnd) != L"#32770") {
    return TRUE;
  }
  if (args->caption == nullptr || AppSession::Text(hwnd) == *args->caption) {
    args->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopDialog(DWORD pid, const std::wstring* caption, HWND exclude) {
  FindArgs args{pid, caption, exclude, nullptr};
  EnumWindows(&FindProc, reinterpret_cast<LPARAM>(&args));
  return args.found;
}

void SetRegString(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* value) {
  HKEY key;
  if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
}

std::atomic<int> g_sessionCounter{0};

}  // namespace

std::wstring Widen(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& utf16) {
  int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

void PrepareWineDisplay() {
  if (GetModuleHandleW(L"ntdll.dll") == nullptr ||
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
    return;  // real Windows: nothing to adjust
  }
  const wchar_t* repl = L"Software\\Wine\\Fonts\\Replacements";
  SetRegString(HKEY_CURRENT_USER, repl, L"宋体", L"WenQuanYi Zen Hei Sharp");
  SetRegString(HKEY_CURRENT_USER, repl, L"SimSun", L"WenQuanYi Zen Hei Sharp");
  SetRegString(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Managed", L"N");
}

// A block of memory inside the program, for messages that carry pointers.
class AppSession::Remote {
 public:
  Remote(HANDLE process, size_t size) : m_process(process), m_size(size) {
    m_ptr = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~Remote() {
    if (m_ptr != nullptr) {
      VirtualFreeEx(m_process, m_ptr, 0, MEM_RELEASE);
    }
  }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;

  bool Ok() const { return m_ptr != nullptr; }
  char* At(size_t offset) const { return static_cast<char*>(m_ptr) + offset; }
  bool Write(size_t offset, const void* data, size_t n) const {
    return offset + n <= m_size && WriteProcessMemory(m_process, At(offset), data, n, nullptr);
  }
  bool Read(size_t offset, void* data, size_t n) const {
    return offset + n <= m_size && ReadProcessMemory(m_process, At(offset), data, n, nullptr);
  }

 private:
  HANDLE m_process;
  size_t m_size;
  void* m_ptr = nullptr;
};

AppSession::AppSession(const std::string& settingIni, const std::wstring& programName) {
  PrepareWineDisplay();
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  m_dir = std::wstring(temp) + L"vexhold-ui-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++g_sessionCounter);
  CreateDirectoryW(m_dir.c_str(), nullptr);
  DeleteFileW((m_dir + L"\\setting.ini").c_str());
  if (!settingIni.empty()) {
    FILE* f = _wfopen((m_dir + L"\\setting.ini").c_str(), L"wb");
    if (f != nullptr) {
      fwrite(settingIni.data(), 1, settingIni.size(), f);
      fclose(f);
    }
  }

  std::wstring exe = WindowsPath(VEXHOLD_EXE);
  if (!programName.empty()) {
    std::wstring copy = m_dir + L"\\" + programName;
    if (!CopyFileW(exe.c_str(), copy.c_str(), FALSE)) {
      return;
    }
    exe = copy;
  }
  std::wstring cmd = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, m_dir.c_str(),
                      &si, &m_pi)) {
    m_pi = {};
    return;
  }
  std::wstring caption = kMainCaption;
  WaitFor(
      [&] {
        m_main = FindTopDialog(m_pi.dwProcessId, &caption, nullptr);
        return m_main != nullptr || WaitForSingleObject(m_pi.hProcess, 0) == WAIT_OBJECT_0;
      },
      30000ms, "the main window of the started program");
  // The dialog manager shows a modal dialog when its queue first runs empty;
  // an operator's first click always comes after that moment, so wait for it.
  if (m_main != nullptr) {
    WaitForInputIdle(m_pi.hProcess, 10000);
  }
}

AppSession::~AppSession() {
  if (m_pi.hProcess != nullptr) {
    if (WaitForSingleObject(m_pi.hProcess, 0) != WAIT_OBJECT_0) {
      TerminateProcess(m_pi.hProcess, 1);
      WaitForSingleObject(m_pi.hProcess, 5000);
    }
    CloseHandle(m_pi.hThread);
    CloseHandle(m_pi.hProcess);
  }
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((m_dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileW((m_dir + L"\\" + fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(m_dir.c_str());
}

std::string AppSession::ReadSettingFile() const {
  std::string data;
  FILE* f = _wfopen((m_dir + L"\\setting.ini").c_str(), L"rb");
  if (f == nullptr) {
    return data;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) {
    data.append(buf, n);
  }
  fclose(f);
  return data;
}

bool AppSession::HasExited(Duration limit) {
  return WaitForSingleObject(m_pi.hProcess, static_cast<DWORD>(test::Scaled(limit).count())) ==
         WAIT_OBJECT_0;
}

HWND AppSession::FindDialog(const std::wstring& caption, Duration limit) const {
  HWND found = nullptr;
  WaitFor(
      [&] {
        found = FindTopDialog(m_pi.dwProcessId, &caption, m_main);
        return found != nullptr;
      },
      limit, "a dialog captioned " + Narrow(caption));
  return found;
}

bool AppSession::OtherDialogOpen(const std::wstring& caption) const {
  return FindTopDialog(m_pi.dwProcessId, &caption, m_main) != nullptr;
}

void AppSession::TypeChars(HWND edit, const std::wstring& chars) {
  for (wchar_t c : chars) {
    SendBounded(edit, WM_CHAR, c, 1);
  }
}

void AppSession::ClearEdit(HWND edit) {
  SendBounded(edit, EM_SETSEL, 0, -1);
  SendBounded(edit, WM_CHAR, VK_BACK, 1);
}

std::wstring AppSession::Text(HWND hwnd) {
  wchar_t buf[512] = {};
  SendBounded(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf));
  return buf;
}

HWND AppSession::Focus() const {
  GUITHREADINFO gti{};
  gti.cbSize = sizeof(gti);
  return GetGUIThreadInfo(m_pi.dwThreadId, &gti) ? gti.hwndFocus : nullptr;
}

void AppSession::PostKey(HWND target, UINT vk) const {
  if (target == nullptr) {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof(gti);
    if (GetGUIThreadInfo(m_pi.dwThreadId, &gti)) {
      target = gti.hwndFocus;
    }
    if (target == nullptr) {
      target = m_main;  // not active: the dialog itself takes the key
    }
  }
  UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}

void AppSession::ClickList(int x, int y) const {
  HWND list = MainItem(1006);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

int AppSession::RowCount() const {
  return static_cast<int>(SendBounded(MainItem(1006), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring AppSession::Cell(int row, int column) const {
  constexpr int kChars = 256;
  Remote mem(m_pi.hProcess, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  if (!mem.Ok()) {
    return L"<no memory>";
  }
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(mem.At(sizeof(LVITEMW)));
  item.cchTextMax = kChars;
  wchar_t zero = 0;
  mem.Write(0, &item, sizeof(item));
  mem.Write(sizeof(LVITEMW), &zero, sizeof(zero));
  SendBounded(MainItem(1006), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
              reinterpret_cast<LPARAM>(mem.At(0)));
  wchar_t text[kChars] = {};
  mem.Read(sizeof(LVITEMW), text, sizeof(text));
  text[kChars - 1] = 0;
  return text;
}

std::vector<std::wstring> AppSession::Headings() const {
  std::vector<std::wstring> out;
  HWND header = reinterpret_cast<HWND>(SendBounded(MainItem(1006), LVM_GETHEADER, 0, 0));
  int n = static_cast<int>(SendBounded(header, HDM_GETITEMCOUNT, 0, 0));
  constexpr int kChars = 128;
  Remote mem(m_pi.hProcess, sizeof(HDITEMW) + kChars * sizeof(wchar_t));
  for (int i = 0; i < n && mem.Ok(); ++i) {
    HDITEMW hd{};
    hd.mask = HDI_TEXT;
    hd.pszText = reinterpret_cast<wchar_t*>(mem.At(sizeof(HDITEMW)));
    hd.cchTextMax = kChars;
    mem.Write(0, &hd, sizeof(hd));
    SendBounded(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(mem.At(0)));
    wchar_t text[kChars] = {};
    mem.Read(sizeof(HDITEMW), text, sizeof(text));
    text[kChars - 1] = 0;
    out.emplace_back(text);
  }
  return out;
}

std::uint32_t AppSession::IpAddress(HWND ip) const {
  Remote mem(m_pi.hProcess, sizeof(DWORD));
  DWORD value = 0xDEADBEEF;
  mem.Write(0, &value, sizeof(value));
  SendBounded(ip, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(mem.At(0)));
  mem.Read(0, &value, sizeof(value));
  return value;
}

void AppSession::SelectRow(int row) const {
  Remote mem(m_pi.hProcess, sizeof(RECT));
  RECT rc{};
  rc.left = LVIR_BOUNDS;
  mem.Write(0, &rc, sizeof(rc));
  SendBounded(MainItem(1006), LVM_GETITEMRECT, static_cast<WPARAM>(row),
              reinterpret_cast<LPARAM>(mem.At(0)));
  mem.Read(0, &rc, sizeof(rc));
  ClickList(rc.left + 20, (rc.top + rc.bottom) / 2);
}

std::wstring AppSession::BoxText(HWND box) {
  std::wstring best;
  HWND child = nullptr;
  while ((child = FindWindowExW(box, child, L"Static", nullptr)) != nullptr) {
    std::wstring t = Text(child);
    if (t.size() > best.size()) {
      best = t;
    }
  }
  return best;
}

bool AppSession::TrayIconPresent() const {
  // NIM_MODIFY succeeds only for an icon the shell holds.
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = m_main;
  nid.uID = 100;
  nid.uFlags = NIF_TIP;
  wcscpy(nid.szTip, kMainCaption);
  return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

void AppSession::RemoveTrayIcon() const {
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = m_main;
  nid.uID = 100;
  Shell_NotifyIconW(NIM_DELETE, &nid);
}

void AppSession::Screenshot(HWND hwnd, const std::string& name) const {
  std::wstring path = WindowsPath(VEXHOLD_UI_ARTIFACTS) + L"\\" + Widen(name) + L".png";
  if (hwnd != nullptr) {
    SendBounded(hwnd, WM_NULL, 0, 0);  // its thread has caught up
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(150);
    RECT rc;
    GetWindowRect(hwnd, &rc);
    CaptureScreenRect(rc, path);
  } else {
    Sleep(150);
    CaptureScreen(path);
  }
}

}  // namespace vx::uitest
