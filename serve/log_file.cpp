#include "serve/log_file.h"

#include <system_error>

namespace vx {

namespace {

std::FILE* OpenForAppend(const std::filesystem::path& path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"ab");
#else
  return std::fopen(path.c_str(), "ab");
#endif
}

// CRLF for editors that know no other line end.
std::string FileLine(const std::string& line) {
  std::string out;
  out.reserve(line.size() + 2);
  for (char c : line) {
    if (c == '\n' && (out.empty() || out.back() != '\r'))
      out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

RotatingLogFile::RotatingLogFile(std::filesystem::path path, std::uint64_t maxBytes)
    : m_path(std::move(path)), m_maxBytes(maxBytes) {
  Open();
}

RotatingLogFile::~RotatingLogFile() {
  if (m_file != nullptr)
    std::fclose(m_file);
}

std::filesystem::path RotatingLogFile::OldFile(const std::filesystem::path& path, int n) {
  std::filesystem::path old = path;
  old.replace_extension();
  old += "." + std::to_string(n);
  old += path.extension();
  return old;
}

bool RotatingLogFile::Open() {
  m_file = OpenForAppend(m_path);
  if (m_file == nullptr) {
    m_nextTry = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    return false;
  }
  std::error_code ec;
  m_size = std::filesystem::file_size(m_path, ec);
  if (ec)
    m_size = 0;
  if (m_size == 0) {
    std::fwrite(kBom, 1, sizeof kBom - 1, m_file);
    std::fflush(m_file);
    m_size = sizeof kBom - 1;
  }
  return true;
}

void RotatingLogFile::Rotate() {
  std::fclose(m_file);
  m_file = nullptr;
  // The full file is moved aside first: if it cannot be (a viewer holds it
  // open without delete sharing, say), the old files stay as they are and the
  // lines go on into the full file rather than being lost.
  std::filesystem::path aside = OldFile(m_path, 0);
  std::error_code ec;
  std::filesystem::rename(m_path, aside, ec);
  if (ec) {
    m_nextRotation = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    Open();
    return;
  }
  std::filesystem::remove(OldFile(m_path, kKeptFiles), ec);
  for (int n = kKeptFiles - 1; n >= 1; --n) {
    if (std::filesystem::exists(OldFile(m_path, n), ec))
      std::filesystem::rename(OldFile(m_path, n), OldFile(m_path, n + 1), ec);
  }
  std::filesystem::rename(aside, OldFile(m_path, 1), ec);
  Open();
}

void RotatingLogFile::Write(LogLevel, const std::string& line) {
  if (m_file == nullptr && (std::chrono::steady_clock::now() < m_nextTry || !Open()))
    return;
  std::string out = FileLine(line);
  if (m_size + out.size() > m_maxBytes && m_size > sizeof kBom - 1 &&
      std::chrono::steady_clock::now() >= m_nextRotation) {
    Rotate();
    if (m_file == nullptr)
      return;
  }
  if (std::fwrite(out.data(), 1, out.size(), m_file) == out.size())
    m_size += out.size();
  std::fflush(m_file);
}

}  // namespace vx
