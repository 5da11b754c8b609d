#include "store/mapping_store.h"

#include <string>
#include <system_error>
#include <utility>

#include "store/ini_file_io.h"
#include "store/profile_file.h"
#include "store/profile_int.h"

namespace vx {

namespace {

constexpr const char* kCountSection = "Num";
constexpr const char* kCountKey = "Number";
constexpr const char* kUrlListKey = "QueldaUrlList";
constexpr const char* kLocalPortKey = "Cport";
constexpr const char* kAddressKey = "IP";
constexpr const char* kRemotePortKey = "Sport";
constexpr const char* kDefaultAddress = "127.0.0.1";

std::string SectionName(int section) {
  return std::to_string(section);
}

// A text read into a buffer of `capacity` characters keeps capacity - 1 of them.
std::string CutToCapacity(std::string text, int capacity) {
  std::size_t keep = capacity > 0 ? static_cast<std::size_t>(capacity) - 1 : 0;
  if (text.size() > keep) {
    text.resize(keep);
  }
  return text;
}

}  // namespace

MappingStore::MappingStore(std::filesystem::path iniPath) : m_path(std::move(iniPath)) {}

int MappingStore::ReadMappingCount(int defaultValue) const {
  ini::IniDocument doc = ini::LoadProfile(m_path);
  return ini::ProfileIntOr(doc.GetString(kCountSection, kCountKey), defaultValue);
}

void MappingStore::WriteMappingCount(int n) {
  ini::UpdateProfile(m_path, [n](ini::IniDocument& doc) {
    doc.SetString(kCountSection, kCountKey, std::to_string(n));
  });
}

StoredMapping MappingStore::ReadMappingEntry(int section, int portDefault,
                                             int addressCapacity) const {
  ini::IniDocument doc = ini::LoadProfile(m_path);
  std::string name = SectionName(section);
  StoredMapping m;
  m.localPort = ini::ProfileIntOr(doc.GetString(name, kLocalPortKey), portDefault);
  m.remoteIp =
      CutToCapacity(doc.GetString(name, kAddressKey).value_or(kDefaultAddress), addressCapacity);
  m.remotePort = ini::ProfileIntOr(doc.GetString(name, kRemotePortKey), portDefault);
  return m;
}

// The three keys reach the file in one replacement, in their usual order, so a
// pair is never stored half old and half new.
void MappingStore::WriteMappingEntry(int section, const MappingEntry& entry) {
  std::string name = SectionName(section);
  ini::UpdateProfile(m_path, [&](ini::IniDocument& doc) {
    doc.SetString(name, kLocalPortKey, entry.localPort);
    doc.SetString(name, kAddressKey, entry.remoteIp);
    doc.SetString(name, kRemotePortKey, entry.remotePort);
  });
}

// Read and written in one step, so a hand edit cannot slip in between.
void MappingStore::CopyMappingSection(int from, int to) {
  std::string source = SectionName(from);
  std::string target = SectionName(to);
  ini::UpdateProfile(m_path, [&](ini::IniDocument& doc) {
    int localPort = ini::ProfileIntOr(doc.GetString(source, kLocalPortKey), -1);
    doc.SetString(target, kLocalPortKey, std::to_string(localPort));
    std::string address =
        CutToCapacity(doc.GetString(source, kAddressKey).value_or(kDefaultAddress), 128);
    doc.SetString(target, kAddressKey, address);
    int remotePort = ini::ProfileIntOr(doc.GetString(source, kRemotePortKey), -1);
    doc.SetString(target, kRemotePortKey, std::to_string(remotePort));
  });
}

void MappingStore::CreateMappingFile() {
  ini::CreateEmptyFileIfMissing(m_path);
  ini::UpdateProfile(m_path, [](ini::IniDocument& doc) {
    doc.SetString(kCountSection, kCountKey, "0");
    doc.SetString(kCountSection, kUrlListKey, "");
  });
}

std::filesystem::path DefaultMappingPath() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::current_path(ec);
  if (ec) {
    return std::filesystem::path("setting.ini");
  }
  return dir / "setting.ini";
}

}  // namespace vx
