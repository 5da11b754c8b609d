// Writes that cannot complete leave the file as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "store/ini_file_io.h"
#include "store/mapping_store.h"
#include "tests/support/restricted_process.h"
#include "tests/support/temp_dir.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using test::ChildOutcome;
using test::ReadBytes;
using test::RunWithoutPrivileges;
using test::TempDir;
using test::WriteBytes;

// Files in the directory besides the writers' lock file: catches stray
// temporary files.
int CountEntries(const fs::path& dir) {
  int n = test::CountEntries(dir);
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    n -= e.path().extension() == ".lock" ? 1 : 0;
  }
  return n;
}

const std::string kStored =
    "[Num]\r\nNumber=1\r\nQueldaUrlList=\r\n[1]\r\nCport=80\r\nIP=10.0.0.1\r\nSport=81\r\n";

TEST(FileSafety, ReadOnlyFileIsLeftAsItWas) {
  TempDir dir;
  fs::path path = dir / "setting.ini";
  WriteBytes(path, kStored);
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(RunWithoutPrivileges(dir.Path(),
                                 [&] {
                                   MappingStore store(path);
                                   return !store.WriteMappingCount(2).Ok() &&
                                          !store.WriteMappingEntry(1, {"1", "2.2.2.2", "3"}).Ok() &&
                                          !store.CreateMappingFile().Ok();
                                 }),
            ChildOutcome::kPassed);
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(ReadBytes(path), kStored);
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

#ifndef _WIN32
// (Windows has no read-only permission for the files in a directory.)
TEST(FileSafety, ReadOnlyDirectoryKeepsItsFileAndGetsNoNewOne) {
  TempDir dir;
  fs::path kept = dir / "kept";
  fs::path fresh = dir / "fresh";
  fs::create_directories(kept);
  fs::create_directories(fresh);
  WriteBytes(kept / "setting.ini", kStored);
  fs::permissions(kept, fs::perms::owner_write, fs::perm_options::remove);
  fs::permissions(fresh, fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(RunWithoutPrivileges(dir.Path(),
                                 [&] {
                                   MappingStore(kept / "setting.ini").WriteMappingCount(5);
                                   MappingStore first(fresh / "setting.ini");
                                   first.CreateMappingFile();
                                   return first.ReadMappingCount(-1) == -1;
                                 }),
            ChildOutcome::kPassed);
  fs::permissions(kept, fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(fresh, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(ReadBytes(kept / "setting.ini"), kStored);
  EXPECT_EQ(CountEntries(kept), 1);
  EXPECT_EQ(CountEntries(fresh), 0);
}
#endif

// Something that is not a readable file stands at the name: reads see the
// defaults and nothing replaces it.
TEST(FileSafety, UnreadableNameIsNeverReplaced) {
  TempDir dir;
  fs::path path = dir / "setting.ini";
  fs::create_directories(path);
  WriteBytes(path / "inside.txt", "x");
  MappingStore store(path);
  EXPECT_EQ(store.ReadMappingCount(-1), -1);
  store.CreateMappingFile();
  store.WriteMappingEntry(1, {"1", "2.2.2.2", "3"});
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(ReadBytes(path / "inside.txt"), "x");
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

#ifndef _WIN32
// The file system refuses the new bytes part-way (a full disk, a quota): the
// old file stays whole and the partial temporary file goes away.
TEST(FileSafety, WriteFailingPartWayKeepsTheOldFileWhole) {
  TempDir dir;
  fs::path path = dir / "setting.ini";
  WriteBytes(path, kStored);
  std::string bigger = kStored + "[2]\r\nIP=" + std::string(4000, '1') + "\r\n";

  bool replaced = true;
  EXPECT_TRUE(test::WithFileSizeLimit(1024, [&] {
    replaced = ini::ReplaceWholeFile(path, bigger).Ok();
    MappingStore(path).WriteMappingEntry(2, {"1", std::string(2000, '2'), "3"});
    return true;
  }));
  EXPECT_FALSE(replaced);
  EXPECT_EQ(ReadBytes(path), kStored);
  EXPECT_EQ(CountEntries(dir.Path()), 1);
  EXPECT_TRUE(ini::ReplaceWholeFile(path, bigger).Ok());
  EXPECT_EQ(ReadBytes(path), bigger);
}

TEST(FileSafety, FifoAtTheNameDoesNotHangAndIsKept) {
  TempDir dir;
  fs::path path = dir / "setting.ini";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  MappingStore store(path);
  EXPECT_EQ(store.ReadMappingCount(-1), -1);
  store.CreateMappingFile();
  EXPECT_EQ(fs::status(path).type(), fs::file_type::fifo);
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

TEST(FileSafety, ReplacementKeepsPermissionsAndSymbolicLinks) {
  TempDir dir;
  fs::path real = dir / "real.ini";
  fs::path link = dir / "setting.ini";
  WriteBytes(real, kStored);
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("real.ini", link);
  MappingStore(link).WriteMappingCount(7);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(MappingStore(real).ReadMappingCount(-1), 7);
  EXPECT_EQ(fs::status(real).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(CountEntries(dir.Path()), 2);
}
#endif

}  // namespace
}  // namespace vx
