#include <windows.h>

#include "serve/event_log_win.h"
#include "serve/event_messages.h"
#include "serve/service.h"

namespace vx {

namespace {

std::wstring SourceKey(const std::string& name) {
  return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + Widen(name);
}

}  // namespace

bool AddEventSource(const std::string& name, const std::wstring& exePath) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, SourceKey(name).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  bool ok =
      RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                     reinterpret_cast<const BYTE*>(exePath.c_str()),
                     static_cast<DWORD>((exePath.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
      RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                     sizeof types) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

void RemoveEventSource(const std::string& name) {
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, SourceKey(name).c_str());
}

bool ReportServiceEvent(const std::string& source, LogLevel level, const std::string& text) {
  HANDLE h = RegisterEventSourceW(nullptr, Widen(source).c_str());
  if (h == nullptr)
    return false;
  WORD type = level == LogLevel::kError     ? EVENTLOG_ERROR_TYPE
              : level == LogLevel::kWarning ? EVENTLOG_WARNING_TYPE
                                            : EVENTLOG_INFORMATION_TYPE;
  std::wstring wide = Widen(text);
  LPCWSTR strings[1] = {wide.c_str()};
  bool ok = ReportEventW(h, type, 0, VX_EVENT_TEXT, nullptr, 1, 0, strings, nullptr) != 0;
  DeregisterEventSource(h);
  return ok;
}

}  // namespace vx
