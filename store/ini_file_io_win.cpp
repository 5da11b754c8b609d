#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "store/ini_file_io.h"

namespace vx::ini {

namespace fs = std::filesystem;

namespace {

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : m_h(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE Get() const { return m_h; }
  bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE h = m_h;
    m_h = INVALID_HANDLE_VALUE;
    return h;
  }
  bool Close() {
    if (m_h == INVALID_HANDLE_VALUE) {
      return true;
    }
    BOOL ok = CloseHandle(m_h);
    m_h = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE m_h;
};

// Paths of MAX_PATH and beyond need the extended-length form, which takes only
// absolute, normalised paths with backslashes.
std::wstring ApiPath(const fs::path& path) {
  std::wstring plain = path.wstring();
  if (plain.size() < 240 || plain.rfind(L"\\\\?\\", 0) == 0) {
    return plain;
  }
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  if (ec) {
    return plain;
  }
  std::wstring w = full.lexically_normal().make_preferred().wstring();
  if (w.rfind(L"\\\\", 0) == 0) {
    return L"\\\\?\\UNC\\" + w.substr(2);
  }
  return L"\\\\?\\" + w;
}

bool WriteAll(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD chunk = bytes.size() > 0x10000000u ? 0x10000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

IoStatus LastError() {
  return IoStatus::System(static_cast<int>(GetLastError()));
}

std::string Utf8(const wchar_t* text, int length) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  }
  return out;
}

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

std::string SystemErrorText(int code) {
  const DWORD flags =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  wchar_t text[512] = {};
  // Chinese where the system has the message in Chinese, else its own language.
  DWORD n = FormatMessageW(flags, nullptr, static_cast<DWORD>(code),
                           MAKELANGID(LANG_CHINESE_SIMPLIFIED, SUBLANG_CHINESE_SIMPLIFIED), text,
                           static_cast<DWORD>(std::size(text)), nullptr);
  if (n == 0) {
    n = FormatMessageW(flags, nullptr, static_cast<DWORD>(code), 0, text,
                       static_cast<DWORD>(std::size(text)), nullptr);
  }
  while (n > 0 && (text[n - 1] == L' ' || text[n - 1] == L'\r' || text[n - 1] == L'\n')) {
    --n;
  }
  if (n == 0) {
    return "错误 " + std::to_string(code);
  }
  return Utf8(text, static_cast<int>(n));
}

fs::path ReplacementTarget(const fs::path& path) {
  return path;
}

ReadResult ReadWholeFile(const fs::path& path, std::string* bytes, IoStatus* why) {
  IoStatus ignored;
  IoStatus& status = why != nullptr ? *why : ignored;
  status = IoStatus();
  bytes->clear();
  FileHandle h(CreateFileW(ApiPath(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.Valid()) {
    DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
      return ReadResult::kMissing;
    }
    // A folder at the name opens with "access denied".
    DWORD attrs = GetFileAttributesW(ApiPath(path).c_str());
    bool folder = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
    status = folder ? IoStatus::NotAFile() : IoStatus::System(static_cast<int>(err));
    return ReadResult::kFailed;
  }
  if (GetFileType(h.Get()) != FILE_TYPE_DISK) {
    status = IoStatus::NotAFile();
    return ReadResult::kFailed;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h.Get(), &size)) {
    status = LastError();
    return ReadResult::kFailed;
  }
  if (static_cast<std::uint64_t>(size.QuadPart) > kMaxProfileBytes) {
    status = IoStatus::TooLarge(static_cast<std::uint64_t>(size.QuadPart));
    return ReadResult::kFailed;
  }
  bytes->reserve(static_cast<std::size_t>(size.QuadPart));
  char buffer[8192];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h.Get(), buffer, sizeof buffer, &got, nullptr)) {
      status = LastError();
      bytes->clear();
      return ReadResult::kFailed;
    }
    if (got == 0) {
      return ReadResult::kRead;
    }
    if (!AppendWithinLimit(bytes, buffer, got, &status)) {
      return ReadResult::kFailed;
    }
  }
}

IoStatus ReplaceWholeFile(const fs::path& path, std::string_view bytes) {
  std::wstring target = ApiPath(path);
  DWORD attrs = GetFileAttributesW(target.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    return IoStatus::NotAFile();
  }
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
    return IoStatus::System(ERROR_ACCESS_DENIED);  // what a write into the file would meet
  }

  // The replacement keeps the old file's hidden and system marks.
  DWORD kept =
      attrs == INVALID_FILE_ATTRIBUTES
          ? 0
          : attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  if (kept == 0) {
    kept = FILE_ATTRIBUTE_NORMAL;
  }
  std::wstring temp;
  HANDLE tempHandle = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && tempHandle == INVALID_HANDLE_VALUE; ++attempt) {
    temp = ApiPath(TemporaryPath(path, CurrentProcessId(), g_tempCounter++));
    tempHandle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kept, nullptr);
    if (tempHandle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return LastError();
    }
  }
  FileHandle h(tempHandle);
  if (!h.Valid()) {
    return IoStatus::System(ERROR_FILE_EXISTS);
  }
  DWORD error = 0;
  if (!WriteAll(h.Get(), bytes) || !FlushFileBuffers(h.Get())) {
    error = GetLastError();
  }
  if (!h.Close() && error == 0) {
    error = GetLastError();
  }
  if (error == 0) {
    error = static_cast<DWORD>(PassReplacementGate(path));
  }
  if (error == 0 && !MoveFileExW(temp.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != 0) {
    DeleteFileW(temp.c_str());
    return IoStatus::System(static_cast<int>(error));
  }
  return IoStatus();
}

IoStatus WriteLock::Acquire(const fs::path& target, std::chrono::milliseconds wait) {
  Release();
  const std::wstring lock = ApiPath(LockPath(target));
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // A lock file others made, in a folder we may not write: reading suffices.
    h = CreateFileW(lock.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    return LastError();
  }
  FileHandle owned(h);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    OVERLAPPED at{};
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      m_handle = reinterpret_cast<std::intptr_t>(owned.Release());
      return IoStatus();
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION && GetLastError() != ERROR_IO_PENDING) {
      return LastError();
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return IoStatus::LockTimeout();
    }
    Sleep(2);
  }
}

void WriteLock::Release() {
  if (m_handle != kNoHandle) {
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));  // also ends the lock
    m_handle = kNoHandle;
  }
}

unsigned long CurrentProcessId() {
  return GetCurrentProcessId();
}

bool ProcessAlive(unsigned long pid) {
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (h == nullptr) {
    return GetLastError() != ERROR_INVALID_PARAMETER;  // access denied: it exists
  }
  bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return alive;
}

}  // namespace vx::ini
