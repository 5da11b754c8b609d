// Huge and hostile files: one above the size limit is refused at once, unread
// and never rewritten; the worst files below it read in one pass with memory
// a small multiple of their size. Under a memory limit where the system has
// one (a child process with RLIMIT_AS; not under the sanitizers, whose shadow
// memory such a limit would break).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "store/io_status.h"
#include "store/mapping_store.h"
#include "tests/support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VX_SANITIZED 1
#endif
#endif

namespace vx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// Sanitizers, and Wine's file calls on a loaded machine, are far slower; a
// read that is not linear would still take minutes.
#if defined(VX_SANITIZED) || defined(_WIN32)
constexpr auto kTimeFactor = 10;
#else
constexpr auto kTimeFactor = 1;
#endif

// Runs `body` (which returns true when all went well) in a child whose address
// space may grow by at most `headroomBytes`; without such limits, in this
// process. Returns whether the body succeeded.
bool WithMemoryLimit(std::size_t headroomBytes, const std::function<bool()>& body) {
#if defined(_WIN32) || defined(VX_SANITIZED)
  (void)headroomBytes;
  return body();
#else
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child < 0) {
    return false;
  }
  if (child == 0) {
    // Free heap inherited from earlier tests would let the body grow without
    // new address space, so what it may take would depend on which tests ran
    // before it: hand that back first.
    ::malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max =
        pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + headroomBytes;
    if (::setrlimit(RLIMIT_AS, &limit) != 0) {
      ::_exit(3);
    }
    bool ok = false;
    try {
      ok = body();
    } catch (...) {
      ::_exit(4);  // std::bad_alloc: the limit was reached
    }
    std::fflush(nullptr);
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

// The time a read costs: CPU time (user and system) where the system tells
// it, since waiting for a busy disk to take the save says nothing of the
// reader; elapsed time elsewhere.
std::chrono::microseconds Spent() {
#ifdef _WIN32
  return std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
#else
  struct rusage used {};
  ::getrusage(RUSAGE_SELF, &used);
  const auto micros = [](const timeval& t) {
    return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec;
  };
  return std::chrono::microseconds(micros(used.ru_utime) + micros(used.ru_stime));
#endif
}

void WriteRepeated(const fs::path& path, const std::string& head, const std::string& unit,
                   std::uint64_t total) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << head;
  std::string block;
  while (block.size() < 65536) {
    block += unit;
  }
  std::uint64_t written = head.size();
  while (written + block.size() <= total) {
    out << block;
    written += block.size();
  }
  while (written + unit.size() <= total) {
    out << unit;
    written += unit.size();
  }
}

TEST(HugeFile, AFileAboveTheLimitIsRefusedAtOnceUnreadAndNeverRewritten) {
  TempDir dir;
  const fs::path path = dir / "setting.ini";
  const std::uint64_t size = 50ull * 1024 * 1024;
  WriteRepeated(path, "", "\n", size);
  const auto written = fs::last_write_time(path);

  EXPECT_TRUE(WithMemoryLimit(32u << 20, [&] {
    const auto start = std::chrono::steady_clock::now();
    MappingStore store(path);
    MappingSnapshot file = store.Load();
    bool ok = file.Refused() && file.Status().GetKind() == ini::IoStatus::Kind::kTooLarge &&
              file.Status().Size() == size && file.ReadMappingCount(-1) == -1;
    bool editRan = false;
    ini::IoStatus saved = store.Update([&](MappingEdit& e) {
      editRan = true;
      e.CreateMappingFile();
      return true;
    });
    ok = ok && !editRan && saved.GetKind() == ini::IoStatus::Kind::kTooLarge;
    ok = ok && store.CreateMappingFile().GetKind() == ini::IoStatus::Kind::kTooLarge;
    ok = ok && store.WriteMappingCount(1).GetKind() == ini::IoStatus::Kind::kTooLarge;
    return ok && std::chrono::steady_clock::now() - start < 1s * kTimeFactor;
  }));
  EXPECT_EQ(fs::file_size(path), size);
  EXPECT_EQ(fs::last_write_time(path), written);
  EXPECT_EQ(ReadFailureText("setting.ini", MappingStore(path).Load().Status()),
            "读取 setting.ini 失败: 文件有 52428800 字节, 超过 1MB 的上限, 不读取也不改写");
}

// The worst shapes a file at the limit can have: every line a line end, a key,
// a section, one line of a megabyte, and the real sections buried under a
// megabyte of keys. Each is read as the window and the server read it (the
// count and all 127 pairs from one snapshot) and saved once, in far less time
// (CPU time where the system tells it) and memory than the old line-by-line
// reader needed for them. A megabyte of two-byte lines takes the most: one
// index entry per line.
TEST(HugeFile, TheWorstFilesAtTheLimitReadInOnePassAndLittleMemory) {
  TempDir dir;
  std::string pairs = "[Num]\r\nNumber=127\r\n";
  for (int s = 1; s <= 127; ++s) {
    pairs += "[" + std::to_string(s) + "]\r\nCport=" + std::to_string(1000 + s) +
             "\r\nIP=10.0.0.1\r\nSport=80\r\n";
  }
  struct Shape {
    const char* name;
    std::string head;
    std::string unit;
  };
  const std::vector<Shape> shapes = {
      {"line ends", "", "\n"},
      {"keys", "[1]\n", "=\n"},
      {"sections", "", "[]\n"},
      {"one long line", "", "x"},
      {"pairs under keys", pairs + "[127]\r\n", "k=v\r\n"},
  };
  const std::uint64_t limit = ini::kMaxProfileBytes;
  for (const Shape& shape : shapes) {
    const fs::path path = dir / "setting.ini";
    WriteRepeated(path, shape.head, shape.unit, limit - 64);
    const bool withPairs = shape.head == pairs + "[127]\r\n";
    EXPECT_TRUE(WithMemoryLimit(32u << 20, [&] {
      const auto start = Spent();
      MappingStore store(path);
      {
        MappingSnapshot file = store.Load();
        if (file.Refused()) {
          return false;
        }
        const int n = file.ReadMappingCount(-1);
        int found = 0;
        for (int s = 1; s <= 127; ++s) {
          found += file.ReadMappingEntry(s, 0, 128).localPort == 1000 + s;
        }
        if (withPairs ? (n != 127 || found != 127) : found != 0) {
          return false;
        }
      }
      if (!store.WriteMappingCount(withPairs ? 127 : 5).Ok()) {
        return false;
      }
      const auto took = Spent() - start;
      std::printf("[ info ] %s: %lld ms\n", shape.name,
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
      return took < 2s * kTimeFactor;
    })) << shape.name;
    EXPECT_LE(fs::file_size(path), limit) << shape.name;
  }
}

// A save never writes a file that the next read would refuse.
TEST(HugeFile, ASaveThatWouldPassTheLimitIsRefusedAndTheFileKept) {
  TempDir dir;
  const fs::path path = dir / "setting.ini";
  WriteRepeated(path, "[Num]\r\nNumber=1\r\n", ";", ini::kMaxProfileBytes - 8);
  const std::string before = ReadBytes(path);
  MappingStore store(path);
  ini::IoStatus saved = store.WriteMappingEntry(1, {"8080", "10.0.0.1", "80"});
  EXPECT_EQ(saved.GetKind(), ini::IoStatus::Kind::kTooLarge);
  EXPECT_GT(saved.Size(), ini::kMaxProfileBytes);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_TRUE(store.WriteMappingCount(2).Ok()) << "a save that fits still goes through";
}

}  // namespace
}  // namespace vx
