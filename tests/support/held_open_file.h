// A file held open by "another program" that shares it with nobody, as an
// editor or a backup tool may hold it on Windows. Elsewhere no such hold
// exists and Holding() is false.
#pragma once

#include <filesystem>

namespace vx::test {

class HeldOpen {
 public:
  explicit HeldOpen(const std::filesystem::path& path);
  ~HeldOpen();
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool Holding() const { return m_handle != nullptr; }

 private:
  void* m_handle = nullptr;
};

}  // namespace vx::test
