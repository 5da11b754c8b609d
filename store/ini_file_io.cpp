#include "store/ini_file_io.h"

#include <atomic>
#include <system_error>
#include <vector>

namespace vx::ini {

namespace fs = std::filesystem;

namespace {

std::atomic<ReplacementGate> g_gate{nullptr};

bool AllDigits(const fs::path::string_type& s, std::size_t from, std::size_t to) {
  if (from >= to) {
    return false;
  }
  for (std::size_t i = from; i < to; ++i) {
    if (s[i] < '0' || s[i] > '9') {
      return false;
    }
  }
  return true;
}

}  // namespace

fs::path LockPath(const fs::path& target) {
  fs::path lock = target;
  lock += ".lock";
  return lock;
}

fs::path TemporaryPath(const fs::path& target, unsigned long pid, unsigned n) {
  fs::path temp = target;
  temp += ".tmp-" + std::to_string(pid) + "-" + std::to_string(n);
  return temp;
}

std::optional<unsigned long> TemporaryOwner(const fs::path& target, const fs::path& candidate) {
  const fs::path::string_type prefix = target.filename().native() + fs::path(".tmp-").native();
  const fs::path::string_type name = candidate.filename().native();
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  const std::size_t dash = name.find('-', prefix.size());
  if (dash == fs::path::string_type::npos || !AllDigits(name, prefix.size(), dash) ||
      !AllDigits(name, dash + 1, name.size()) || dash - prefix.size() > 10) {
    return std::nullopt;
  }
  unsigned long pid = 0;
  for (std::size_t i = prefix.size(); i < dash; ++i) {
    pid = pid * 10 + static_cast<unsigned long>(name[i] - '0');
  }
  return pid;
}

void RemoveStaleTemporaries(const fs::path& target) {
  fs::path dir = target.parent_path();
  if (dir.empty()) {
    dir = ".";
  }
  std::error_code ec;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::optional<unsigned long> owner = TemporaryOwner(target, it->path());
    std::error_code statusError;
    if (owner && it->symlink_status(statusError).type() == fs::file_type::regular &&
        (*owner == CurrentProcessId() || !ProcessAlive(*owner))) {
      stale.push_back(it->path());
    }
  }
  for (const fs::path& p : stale) {
    fs::remove(p, ec);
  }
}

bool AppendWithinLimit(std::string* bytes, const char* data, std::size_t n, IoStatus* status) {
  bytes->append(data, n);
  if (bytes->size() <= kMaxProfileBytes) {
    return true;
  }
  *status = IoStatus::TooLarge(bytes->size());
  bytes->clear();
  bytes->shrink_to_fit();
  return false;
}

void SetReplacementGate(ReplacementGate gate) {
  g_gate.store(gate);
}

int PassReplacementGate(const fs::path& target) {
  ReplacementGate gate = g_gate.load();
  return gate != nullptr ? gate(target) : 0;
}

}  // namespace vx::ini
