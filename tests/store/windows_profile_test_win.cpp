// Files move between the store and Windows' own private-profile functions
// with the same results both ways.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/ini_document.h"
#include "store/mapping_store.h"
#include "store/profile_int.h"
#include "tests/store/temp_dir.h"

namespace vx {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string WindowsString(const std::string& path, const char* section, const char* key) {
  char buffer[20000] = {};
  GetPrivateProfileStringA(section, key, "<none>", buffer, sizeof buffer, path.c_str());
  return buffer;
}

int WindowsInt(const std::string& path, const char* section, const char* key, int def) {
  return static_cast<int>(GetPrivateProfileIntA(section, key, def, path.c_str()));
}

TEST(WindowsProfile, TheExampleWrittenByWindowsReadsTheSame) {
  TempDir dir;
  std::string path = (dir / "setting.ini").string();
  WritePrivateProfileStringA("Num", "Number", "0", path.c_str());
  WritePrivateProfileStringA("Num", "QueldaUrlList", "", path.c_str());
  WritePrivateProfileStringA("Num", "Number", "1", path.c_str());
  WritePrivateProfileStringA("1", "Cport", "8080", path.c_str());
  WritePrivateProfileStringA("1", "IP", "192.168.1.20", path.c_str());
  WritePrivateProfileStringA("1", "Sport", "080", path.c_str());
  std::string windows = ReadBytes(path);

  MappingStore store(dir / "setting.ini");
  EXPECT_EQ(store.ReadMappingCount(-1), 1);
  StoredMapping m = store.ReadMappingEntry(1, 0, 128);
  EXPECT_EQ(m.localPort, 8080);
  EXPECT_EQ(m.remoteIp, "192.168.1.20");
  EXPECT_EQ(m.remotePort, 80);

  // The same operations through the store give the same bytes.
  TempDir ours;
  MappingStore mine(ours / "setting.ini");
  mine.CreateMappingFile();
  mine.WriteMappingCount(1);
  mine.WriteMappingEntry(1, {"8080", "192.168.1.20", "080"});
  EXPECT_EQ(ReadBytes(ours / "setting.ini"), windows);
}

TEST(WindowsProfile, FilesWeWriteReadTheSameThroughWindows) {
  TempDir dir;
  std::string path = (dir / "setting.ini").string();
  const std::vector<std::string> values = {"",
                                           "0",
                                           "080",
                                           "+5",
                                           "-5",
                                           " 7 ",
                                           "\"42\"",
                                           "'x'",
                                           "12ab",
                                           "abc",
                                           "\"a'",
                                           "2147483647",
                                           "2147483648",
                                           "4294967295",
                                           "4294967296",
                                           "-2147483648",
                                           "99999999999",
                                           "\xb6\xcb\xbf\xda",
                                           std::string(300, '9')};
  std::string file = "; hand-made\r\n[Num]\r\n";
  for (std::size_t i = 0; i < values.size(); ++i) {
    file += "  K" + std::to_string(i) + "  =" + values[i] + "\r\n";
  }
  file += "\r\n[ Pad ]\r\nkey = value \r\n[num]\r\nK0=hidden by the first section\r\n";
  WriteBytes(dir / "setting.ini", file);
  MappingStore(dir / "setting.ini").WriteMappingEntry(3, {"1", "2.2.2.2", "3"});

  ini::IniDocument doc = ini::IniDocument::Parse(ReadBytes(dir / "setting.ini"));
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::string key = "k" + std::to_string(i);
    SCOPED_TRACE(key + " = [" + values[i] + "]");
    EXPECT_EQ(doc.GetString("NUM", key).value_or("<none>"),
              WindowsString(path, "NUM", key.c_str()));
    EXPECT_EQ(ini::ProfileIntOr(doc.GetString("NUM", key), -3),
              WindowsInt(path, "NUM", key.c_str(), -3));
  }
  EXPECT_EQ(doc.GetString("pad", "KEY").value_or("<none>"), WindowsString(path, "pad", "KEY"));
  EXPECT_EQ(WindowsString(path, "3", "IP"), "2.2.2.2");
  EXPECT_EQ(WindowsInt(path, "3", "Sport", 0), 3);
}

}  // namespace
}  // namespace vx
