// Runs a piece of a test in a child process under a restriction the test
// process itself must not take on: no privileges over a directory's files,
// or a tiny file system of its own. The piece returns whether its checks
// held; it may print why not.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>

namespace vx::test {

enum class ChildOutcome { kPassed, kFailed, kUnavailable };

// As an account that permission bits bind: as root, a child that gives up
// root for an ordinary account owning everything in `dir`; otherwise this
// process itself. (Windows: in this process; its read-only mark binds all.)
ChildOutcome RunWithoutPrivileges(const std::filesystem::path& dir,
                                  const std::function<bool()>& body);

// With `dir` replaced, for the child alone, by an empty file system of
// `bytes` bytes (tmpfs in a mount namespace of its own). kUnavailable where
// the system does not allow that.
ChildOutcome RunOnSmallDisk(const std::filesystem::path& dir, std::size_t bytes,
                            const std::function<bool()>& body);

// With the size a file may grow to lowered to `bytes` (RLIMIT_FSIZE, its
// signal ignored) in this process for the body's duration. POSIX only.
bool WithFileSizeLimit(std::size_t bytes, const std::function<bool()>& body);

}  // namespace vx::test
