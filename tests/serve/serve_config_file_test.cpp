// vexhold-serve's reading of setting.ini through the store's single snapshot.
#include <gtest/gtest.h>

#include <string>

#include "serve/pair_config.h"
#include "store/io_status.h"
#include "store/mapping_store.h"
#include "tests/support/temp_dir.h"

namespace vx {
namespace {

// Refused at start-up and on a reload alike: no pair runs, the reason names
// the size, and nothing (not even the first-start creation) rewrites it.
TEST(ServeConfigRead, AFileAboveTheSizeLimitIsRefusedWithItsSizeAndNeverRewritten) {
  test::TempDir dir;
  const auto path = dir / "setting.ini";
  const std::string file = "[Num]\nNumber=1\n[1]\nCport=8080\nIP=127.0.0.1\nSport=80\n" +
                           std::string(2 * ini::kMaxProfileBytes, ';');
  test::WriteBytes(path, file);
  MappingStore store(path);
  for (bool start : {true, false}) {
    ServeConfig c = ReadServeConfig(store, start);
    EXPECT_FALSE(c.usable);
    EXPECT_FALSE(c.created);
    EXPECT_TRUE(c.pairs.empty());
    bool named = false;
    for (const std::string& p : c.problems) {
      named = named || p.find("文件有 " + std::to_string(file.size()) + " 字节, 超过 1MB 的上限") !=
                           std::string::npos;
    }
    EXPECT_TRUE(named) << "start " << start;
  }
  EXPECT_EQ(test::ReadBytes(path), file);
}

}  // namespace
}  // namespace vx
