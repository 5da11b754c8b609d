// The file's path in the current directory, whatever its length or script.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "store/mapping_store.h"
#include "tests/support/temp_dir.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class CurrentDirectory {
 public:
  explicit CurrentDirectory(const fs::path& dir) : m_saved(fs::current_path()) {
    fs::current_path(dir);
  }
  ~CurrentDirectory() { fs::current_path(m_saved); }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  fs::path m_saved;
};

// Creates the directory and uses the store in it through DefaultMappingPath.
void ExpectStoreWorksIn(const fs::path& dir) {
  fs::create_directories(dir);
  CurrentDirectory cd(dir);
  fs::path path = DefaultMappingPath();
  EXPECT_EQ(path.filename(), "setting.ini");
  EXPECT_TRUE(fs::equivalent(path.parent_path(), dir));
  MappingStore store(path);
  store.CreateMappingFile();
  store.WriteMappingCount(1);
  store.WriteMappingEntry(1, {"8080", "192.168.1.20", "80"});
  EXPECT_TRUE(fs::exists(dir / "setting.ini"));
  EXPECT_EQ(MappingStore(dir / "setting.ini").ReadMappingCount(-1), 1);
  EXPECT_EQ(store.ReadMappingEntry(1, 0, 128).remoteIp, "192.168.1.20");
}

TEST(MappingPath, DirectoryLongerThanTheOldBufferWorks) {
  TempDir dir;
  fs::path deep = dir.Path() / std::string(100, 'a') / std::string(60, 'b');
  ASSERT_GT(deep.native().size(), 160u);
  ExpectStoreWorksIn(deep);
}

TEST(MappingPath, NonAsciiDirectoryNamesWork) {
  TempDir dir;
  ExpectStoreWorksIn(dir.Path() / fs::u8path(u8"端口映射 配置") / fs::u8path(u8"ß-é"));
}

#ifdef _WIN32
// Past MAX_PATH the plain Win32 path form stops working; the store must not.
TEST(MappingPath, PathsBeyondMaxPathWork) {
  TempDir dir;
  fs::path deep = fs::absolute(dir.Path()).lexically_normal().make_preferred();
  fs::path extended = L"\\\\?\\" + deep.wstring();
  for (int i = 0; i < 4; ++i) {
    std::string part(80, static_cast<char>('c' + i));
    deep /= part;
    extended /= part;
    ASSERT_TRUE(fs::create_directory(extended));
  }
  fs::path path = deep / "setting.ini";
  ASSERT_GT(path.native().size(), 300u);
  MappingStore store(path);
  store.CreateMappingFile();
  store.WriteMappingEntry(3, {"1", "2.2.2.2", "3"});
  EXPECT_EQ(store.ReadMappingCount(-1), 0);
  EXPECT_EQ(store.ReadMappingEntry(3, 0, 128).remoteIp, "2.2.2.2");
  EXPECT_TRUE(fs::exists(extended / "setting.ini"));
  // The fixture's removal takes plain paths, too long here.
  EXPECT_TRUE(fs::remove(extended / "setting.ini"));
  EXPECT_TRUE(
      fs::remove(extended / "setting.ini.lock"));  // the writers' lock took the long path too
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(fs::remove(extended));
    extended = extended.parent_path();
  }
}
#endif

}  // namespace
}  // namespace vx
