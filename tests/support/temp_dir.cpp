#include "tests/support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace vx::test {

TempDir::TempDir() {
  static std::mt19937_64 random{std::random_device{}()};
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    m_path = base / ("vexhold-test-" + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(m_path, ec))
      break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(m_path, ec);
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

int CountEntries(const std::filesystem::path& dir) {
  int n = 0;
  for (auto it = std::filesystem::directory_iterator(dir);
       it != std::filesystem::directory_iterator(); ++it) {
    ++n;
  }
  return n;
}

}  // namespace vx::test
