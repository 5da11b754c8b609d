#include "tests/support/held_open_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vx::test {

#ifdef _WIN32
HeldOpen::HeldOpen(const std::filesystem::path& path) {
  HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  m_handle = h == INVALID_HANDLE_VALUE ? nullptr : h;
}

HeldOpen::~HeldOpen() {
  if (m_handle != nullptr) {
    CloseHandle(m_handle);
  }
}
#else
HeldOpen::HeldOpen(const std::filesystem::path&) {}
HeldOpen::~HeldOpen() = default;
#endif

}  // namespace vx::test
