// Files move between the store and Windows' own private-profile functions
// with the same results both ways.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/ini_document.h"
#include "store/mapping_store.h"
#include "store/profile_int.h"
#include "tests/support/temp_dir.h"

namespace vx {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

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

TEST(WindowsProfile, ReplacementKeepsTheHiddenMark) {
  TempDir dir;
  std::wstring path = (dir / "setting.ini").wstring();
  WriteBytes(dir / "setting.ini", "[Num]\r\nNumber=1\r\n");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  if (!(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN)) {
    GTEST_SKIP() << "this file system keeps no hidden mark";
  }
  MappingStore(dir / "setting.ini").WriteMappingCount(2);
  EXPECT_EQ(MappingStore(dir / "setting.ini").ReadMappingCount(-1), 2);
  EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST(WindowsProfile, Utf16FilesWorkBothWays) {
  TempDir dir;
  std::string path = (dir / "setting.ini").string();
  std::string le = "\xFF\xFE";
  for (char c : std::string("; x\r\n[Num]\r\nNumber=3\r\n")) {
    le += c;
    le += '\0';
  }
  WriteBytes(dir / "setting.ini", le);
  MappingStore store(dir / "setting.ini");
  store.WriteMappingCount(4);
  store.WriteMappingEntry(1, {"8080", "10.0.0.5", "80"});
  EXPECT_EQ(WindowsInt(path, "Num", "Number", -1), 4);
  EXPECT_EQ(WindowsString(path, "1", "IP"), "10.0.0.5");
  WritePrivateProfileStringA("1", "Sport", "81", path.c_str());
  WritePrivateProfileStringA("2", "IP", "10.0.0.6", path.c_str());
  EXPECT_EQ(store.ReadMappingEntry(1, 0, 128).remotePort, 81);
  EXPECT_EQ(store.ReadMappingEntry(2, 0, 128).remoteIp, "10.0.0.6");
  EXPECT_EQ(store.ReadMappingCount(-1), 4);
  EXPECT_EQ(ReadBytes(dir / "setting.ini").substr(0, 4), std::string("\xFF\xFE;\0", 4));
}

TEST(WindowsProfile, OddFilesReadTheSameThroughWindows) {
  const std::vector<std::string> files = {
      "[1]\r\nIP\r\nCport\r\n[2\r\nSport=1\r\n",
      "[1]\r\n[1\r\nIP=a\r\n[ 2 ] c\r\nIP=b\r\n[1] c]\r\nSport=3\r\n",
      "[1]\rIP=a\rSport=5\r\n[2]\nIP=b\r",
      "\xEF\xBB\xBF[Num]\r\nNumber=7\r\n[num]\r\nNumber=8\r\n[1]\r\nIP=a\r\nip=b\r\n;Cport=4\r\n",
      "[\xb6\xcb]\r\nIP=\xd3\xb3\r\n[1]\r\nIP = ' \xd3\xb3 ' \r\nCport=\"080\"\r\nSport=\r\n",
      std::string(10000, 'z') + "\r\n[1]\r\nIP=" + std::string(5000, 'a') + "\r\nSport=2\r\n",
  };
  const char* const sections[] = {"1", "2", "Num", "1] c"};
  const char* const keys[] = {"IP", "Sport", "Cport", "Number"};
  TempDir dir;
  std::string path = (dir / "setting.ini").string();
  for (std::size_t f = 0; f < files.size(); ++f) {
    WriteBytes(dir / "setting.ini", files[f]);
    ini::IniDocument doc = ini::IniDocument::Parse(files[f]);
    for (const char* s : sections) {
      for (const char* k : keys) {
        SCOPED_TRACE("file " + std::to_string(f) + " [" + s + "] " + k);
        EXPECT_EQ(doc.GetString(s, k).value_or("<none>"), WindowsString(path, s, k));
        EXPECT_EQ(ini::ProfileIntOr(doc.GetString(s, k), -3), WindowsInt(path, s, k, -3));
      }
    }
  }
}

}  // namespace
}  // namespace vx
