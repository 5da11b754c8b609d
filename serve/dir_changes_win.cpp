#include <windows.h>

#include <cwctype>
#include <vector>

#include "serve/dir_changes.h"

namespace vx {

namespace {

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s)
    c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                          FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_CREATION;

}  // namespace

struct DirChanges::State {
  std::wstring name;  // lower case: Windows file names match without case
  HANDLE dir = INVALID_HANDLE_VALUE;
  HANDLE done = nullptr;    // the overlapped read completed
  HANDLE cancel = nullptr;  // manual-reset
  OVERLAPPED overlapped{};
  std::vector<DWORD> buffer = std::vector<DWORD>(16384);  // DWORD-aligned, 64 KiB
  bool reading = false;
  int error = 0;

  bool StartRead() {
    ResetEvent(done);
    overlapped = OVERLAPPED{};
    overlapped.hEvent = done;
    reading = ReadDirectoryChangesW(dir, buffer.data(), static_cast<DWORD>(buffer.size() * 4),
                                    FALSE, kFilter, nullptr, &overlapped, nullptr) != 0;
    if (!reading)
      error = static_cast<int>(GetLastError());
    return reading;
  }
};

DirChanges::DirChanges(const std::filesystem::path& dir, const std::string& fileName)
    : m_state(new State) {
  m_state->name = Lower(std::filesystem::u8path(fileName).wstring());
  m_state->cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_state->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_state->dir =
      CreateFileW(dir.wstring().c_str(), FILE_LIST_DIRECTORY,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (m_state->dir == INVALID_HANDLE_VALUE) {
    m_state->error = static_cast<int>(GetLastError());
    return;
  }
  if (!m_state->StartRead()) {
    CloseHandle(m_state->dir);
    m_state->dir = INVALID_HANDLE_VALUE;
  }
}

DirChanges::~DirChanges() {
  if (m_state->dir != INVALID_HANDLE_VALUE) {
    if (m_state->reading) {
      CancelIoEx(m_state->dir, &m_state->overlapped);
      DWORD n = 0;
      GetOverlappedResult(m_state->dir, &m_state->overlapped, &n, TRUE);
    }
    CloseHandle(m_state->dir);
  }
  if (m_state->done)
    CloseHandle(m_state->done);
  if (m_state->cancel)
    CloseHandle(m_state->cancel);
}

bool DirChanges::Ok() const {
  return m_state->dir != INVALID_HANDLE_VALUE;
}

int DirChanges::Error() const {
  return m_state->error;
}

void DirChanges::Cancel() {
  if (m_state->cancel)
    SetEvent(m_state->cancel);
}

DirChanges::Result DirChanges::Wait(int timeoutMs) {
  if (!Ok())
    return Result::kFailed;
  DWORD start = GetTickCount();
  while (true) {
    DWORD elapsed = GetTickCount() - start;
    DWORD left = elapsed >= static_cast<DWORD>(timeoutMs) ? 0 : timeoutMs - elapsed;
    HANDLE handles[2] = {m_state->cancel, m_state->done};
    DWORD w = WaitForMultipleObjects(2, handles, FALSE, left);
    if (w == WAIT_OBJECT_0)
      return Result::kCancelled;
    if (w == WAIT_TIMEOUT)
      return Result::kTimeout;
    if (w != WAIT_OBJECT_0 + 1)
      return Result::kFailed;
    DWORD bytes = 0;
    m_state->reading = false;
    if (!GetOverlappedResult(m_state->dir, &m_state->overlapped, &bytes, FALSE)) {
      // The directory went away (or the read was refused): this watch is over.
      m_state->error = static_cast<int>(GetLastError());
      CloseHandle(m_state->dir);
      m_state->dir = INVALID_HANDLE_VALUE;
      return Result::kFailed;
    }
    // No bytes: more changes than the buffer held; the file may be among them.
    bool changed = bytes == 0;
    const char* p = reinterpret_cast<const char*>(m_state->buffer.data());
    while (bytes > 0) {
      auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(p);
      std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (Lower(name) == m_state->name)
        changed = true;
      if (info->NextEntryOffset == 0)
        break;
      p += info->NextEntryOffset;
    }
    if (!m_state->StartRead()) {
      CloseHandle(m_state->dir);
      m_state->dir = INVALID_HANDLE_VALUE;
      return changed ? Result::kChanged : Result::kFailed;
    }
    if (changed)
      return Result::kChanged;
  }
}

}  // namespace vx
