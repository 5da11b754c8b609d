#include "store/mapping_store.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace vx {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class MappingStoreTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::filesystem::path path = dir / "setting.ini";
  MappingStore store{path};

  void Add(const MappingEntry& e) {
    int n = store.ReadMappingCount(-1);
    store.WriteMappingCount(n + 1);
    store.WriteMappingEntry(n + 1, e);
  }
};

TEST_F(MappingStoreTest, FirstStartCreatesOnlyTheCountSection) {
  ASSERT_EQ(store.ReadMappingCount(-1), -1);
  store.CreateMappingFile();
  EXPECT_EQ(ReadBytes(path), "[Num]\r\nNumber=0\r\nQueldaUrlList=\r\n");
  EXPECT_EQ(store.ReadMappingCount(-1), 0);
}

TEST_F(MappingStoreTest, FirstStartAndTwoAddsGiveTheExampleFileLineForLine) {
  store.CreateMappingFile();
  Add({"8080", "192.168.1.20", "80"});
  Add({"3389", "10.0.0.5", "3389"});
  EXPECT_EQ(ReadBytes(path),
            "[Num]\r\nNumber=2\r\nQueldaUrlList=\r\n"
            "[1]\r\nCport=8080\r\nIP=192.168.1.20\r\nSport=80\r\n"
            "[2]\r\nCport=3389\r\nIP=10.0.0.5\r\nSport=3389\r\n");
  StoredMapping second = store.ReadMappingEntry(2, 0, 128);
  EXPECT_EQ(second.localPort, 3389);
  EXPECT_EQ(second.remoteIp, "10.0.0.5");
  EXPECT_EQ(second.remotePort, 3389);
}

TEST_F(MappingStoreTest, MissingFileSectionOrKeyReadsTheCallersDefaults) {
  EXPECT_EQ(store.ReadMappingCount(-1), -1);
  EXPECT_EQ(store.ReadMappingCount(0), 0);
  StoredMapping relay = store.ReadMappingEntry(1, -1, 16);
  EXPECT_EQ(relay.localPort, -1);
  EXPECT_EQ(relay.remoteIp, "127.0.0.1");
  EXPECT_EQ(relay.remotePort, -1);

  WriteBytes(path, "[Num]\r\nNumber=1\r\n[1]\r\nSport=22\r\n");
  StoredMapping listed = store.ReadMappingEntry(1, 0, 128);
  EXPECT_EQ(listed.localPort, 0);
  EXPECT_EQ(listed.remoteIp, "127.0.0.1");
  EXPECT_EQ(listed.remotePort, 22);
  EXPECT_EQ(store.ReadMappingEntry(1, -1, 16).localPort, -1);
  EXPECT_EQ(store.ReadMappingEntry(1, -1, 1).remoteIp, "");
}

TEST_F(MappingStoreTest, FileWithoutCountKeepsEverythingAndGainsTheTwoKeys) {
  const std::string before =
      "; my notes\r\n[1]\r\nCport=80\r\nIP=1.2.3.4\r\nSport=81\r\n\r\n[Other]\r\nk=v\r\n";
  WriteBytes(path, before);
  ASSERT_EQ(store.ReadMappingCount(-1), -1);
  store.CreateMappingFile();
  EXPECT_EQ(ReadBytes(path), before + "[Num]\r\nNumber=0\r\nQueldaUrlList=\r\n");

  // A count section that lacks only the count gets it at its end.
  WriteBytes(path, "[Num]\nQueldaUrlList=\n\n[1]\nCport=1\n");
  store.CreateMappingFile();
  EXPECT_EQ(ReadBytes(path), "[Num]\nQueldaUrlList=\nNumber=0\n\n[1]\nCport=1\n");
}

TEST_F(MappingStoreTest, PortsReadAsTheirLeadingDigitsAndAddressesAreCutToTheBuffer) {
  WriteBytes(path,
             "[1]\r\nCport=080\r\nIP=192.168.100.200.5\r\nSport= 0443 \r\n"
             "[2]\r\nCport=12ab\r\nIP=" +
                 std::string(200, '9') + "\r\nSport=x\r\n");
  StoredMapping relay = store.ReadMappingEntry(1, -1, 16);
  EXPECT_EQ(relay.localPort, 80);
  EXPECT_EQ(relay.remoteIp, "192.168.100.200");
  EXPECT_EQ(relay.remotePort, 443);
  EXPECT_EQ(store.ReadMappingEntry(1, 0, 128).remoteIp, "192.168.100.200.5");

  StoredMapping odd = store.ReadMappingEntry(2, 0, 128);
  EXPECT_EQ(odd.localPort, 12);
  EXPECT_EQ(odd.remoteIp, std::string(127, '9'));
  EXPECT_EQ(odd.remotePort, 0);
}

TEST_F(MappingStoreTest, DeletingTheFirstOfThreeCopiesTheLastAsPlainDecimal) {
  store.CreateMappingFile();
  Add({"8080", "192.168.1.20", "80"});
  Add({"3389", "10.0.0.5", "3389"});
  Add({"0021", "10.0.0.9", "021"});
  store.CopyMappingSection(3, 1);
  store.WriteMappingCount(2);
  EXPECT_EQ(ReadBytes(path),
            "[Num]\r\nNumber=2\r\nQueldaUrlList=\r\n"
            "[1]\r\nCport=21\r\nIP=10.0.0.9\r\nSport=21\r\n"
            "[2]\r\nCport=3389\r\nIP=10.0.0.5\r\nSport=3389\r\n"
            "[3]\r\nCport=0021\r\nIP=10.0.0.9\r\nSport=021\r\n");

  // The next Add overwrites the leftover section completely.
  Add({"5000", "10.0.0.7", "5001"});
  StoredMapping third = store.ReadMappingEntry(3, 0, 128);
  EXPECT_EQ(third.localPort, 5000);
  EXPECT_EQ(third.remoteIp, "10.0.0.7");
  EXPECT_EQ(third.remotePort, 5001);
  EXPECT_EQ(store.ReadMappingCount(-1), 3);
}

TEST_F(MappingStoreTest, CopyingAMissingSectionWritesTheDefaults) {
  store.CreateMappingFile();
  store.CopyMappingSection(9, 1);
  StoredMapping copied = store.ReadMappingEntry(1, 0, 128);
  EXPECT_EQ(copied.localPort, -1);
  EXPECT_EQ(copied.remoteIp, "127.0.0.1");
  EXPECT_EQ(copied.remotePort, -1);
}

TEST_F(MappingStoreTest, HandEditsBetweenOperationsAreSeenAndKept) {
  store.CreateMappingFile();
  Add({"8080", "192.168.1.20", "80"});
  std::string edited = ReadBytes(path);
  edited.replace(edited.find("Cport=8080"), 10, "cport = 9090 ; by hand");
  edited += "[Mine]\r\nkeep=me\r\n";
  WriteBytes(path, edited);
  EXPECT_EQ(store.ReadMappingEntry(1, 0, 128).localPort, 9090);

  store.WriteMappingCount(1);  // unchanged value: the file is left as it is
  EXPECT_EQ(ReadBytes(path), edited);
  store.WriteMappingEntry(1, {"7070", "192.168.1.20", "80"});
  std::string expected = edited;
  expected.replace(expected.find("9090 ; by hand"), 14, "7070");
  EXPECT_EQ(ReadBytes(path), expected);
}

}  // namespace
}  // namespace vx
