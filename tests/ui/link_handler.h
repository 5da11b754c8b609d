// Points the shell's http handler at this test program for a test's
// duration: started as "--record-link LOG URL" (see the recorder in
// vexhold_ui_test.cpp), it appends the address it was given to LOG.
#pragma once

#include <windows.h>

#include <string>

namespace vx::uitest {

class HttpHandlerOverride {
 public:
  explicit HttpHandlerOverride(const std::wstring& log) {
    RegCreateKeyExW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, nullptr, 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_key, nullptr);
    wchar_t old[1024] = {};
    DWORD size = sizeof(old) - sizeof(wchar_t);
    m_hadOld = RegQueryValueExW(m_key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                                &size) == ERROR_SUCCESS;
    m_old = old;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    Set(L"\"" + std::wstring(self) + L"\" --record-link \"" + log + L"\" \"%1\"");
  }
  ~HttpHandlerOverride() {
    if (m_hadOld) {
      Set(m_old);
    } else {
      RegDeleteValueW(m_key, nullptr);
    }
    RegCloseKey(m_key);
  }
  HttpHandlerOverride(const HttpHandlerOverride&) = delete;
  HttpHandlerOverride& operator=(const HttpHandlerOverride&) = delete;

 private:
  void Set(const std::wstring& v) {
    RegSetValueExW(m_key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
  }
  HKEY m_key = nullptr;
  bool m_hadOld = false;
  std::wstring m_old;
};

// The addresses recorded so far, one per line.
std::string RecordedLinks(const std::wstring& log);

// Moves the real pointer to (x, y) on the screen and returns the cursor it
// then shows: the program under it sees WM_SETCURSOR and WM_MOUSEMOVE.
HCURSOR CursorAt(int x, int y);

}  // namespace vx::uitest
