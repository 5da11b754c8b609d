#include <windows.h>

#include <atomic>
#include <string>

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

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

ReadResult ReadWholeFile(const fs::path& path, std::string* bytes) {
  bytes->clear();
  FileHandle h(CreateFileW(ApiPath(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.Valid()) {
    DWORD err = GetLastError();
    return (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) ? ReadResult::kMissing
                                                                        : ReadResult::kFailed;
  }
  char buffer[8192];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h.Get(), buffer, sizeof buffer, &got, nullptr)) {
      bytes->clear();
      return ReadResult::kFailed;
    }
    if (got == 0) {
      return ReadResult::kRead;
    }
    bytes->append(buffer, got);
  }
}

bool ReplaceWholeFile(const fs::path& path, std::string_view bytes) {
  std::wstring target = ApiPath(path);
  DWORD attrs = GetFileAttributesW(target.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES &&
      (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    return false;
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
    temp = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(g_tempCounter++);
    tempHandle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kept, nullptr);
    if (tempHandle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  FileHandle h(tempHandle);
  if (!h.Valid()) {
    return false;
  }
  bool ok = WriteAll(h.Get(), bytes) && FlushFileBuffers(h.Get());
  ok = h.Close() && ok;
  ok = ok && MoveFileExW(temp.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    DeleteFileW(temp.c_str());
  }
  return ok;
}

void CreateEmptyFileIfMissing(const fs::path& path) {
  FileHandle h(CreateFileW(ApiPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace vx::ini
