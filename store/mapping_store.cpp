#include "store/mapping_store.h"

#include <string>
#include <system_error>
#include <utility>

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

int MappingReads::ReadMappingCount(int defaultValue) const {
  return ini::ProfileIntOr(Doc().GetString(kCountSection, kCountKey), defaultValue);
}

StoredMapping MappingReads::ReadMappingEntry(int section, int portDefault,
                                             int addressCapacity) const {
  std::string name = SectionName(section);
  StoredMapping m;
  m.localPort = ini::ProfileIntOr(Doc().GetString(name, kLocalPortKey), portDefault);
  m.remoteIp =
      CutToCapacity(Doc().GetString(name, kAddressKey).value_or(kDefaultAddress), addressCapacity);
  m.remotePort = ini::ProfileIntOr(Doc().GetString(name, kRemotePortKey), portDefault);
  return m;
}

std::optional<std::string> MappingReads::RawValue(int section, const char* key) const {
  return Doc().GetString(SectionName(section), key);
}

std::optional<std::string> MappingReads::RawCount() const {
  return Doc().GetString(kCountSection, kCountKey);
}

void MappingEdit::WriteMappingCount(int n) {
  m_doc.SetString(kCountSection, kCountKey, std::to_string(n));
}

void MappingEdit::WriteMappingEntry(int section, const MappingEntry& entry) {
  std::string name = SectionName(section);
  m_doc.SetString(name, kLocalPortKey, entry.localPort);
  m_doc.SetString(name, kAddressKey, entry.remoteIp);
  m_doc.SetString(name, kRemotePortKey, entry.remotePort);
}

void MappingEdit::CopyMappingSection(int from, int to) {
  std::string source = SectionName(from);
  std::string target = SectionName(to);
  int localPort = ini::ProfileIntOr(m_doc.GetString(source, kLocalPortKey), -1);
  m_doc.SetString(target, kLocalPortKey, std::to_string(localPort));
  std::string address =
      CutToCapacity(m_doc.GetString(source, kAddressKey).value_or(kDefaultAddress), 128);
  m_doc.SetString(target, kAddressKey, address);
  int remotePort = ini::ProfileIntOr(m_doc.GetString(source, kRemotePortKey), -1);
  m_doc.SetString(target, kRemotePortKey, std::to_string(remotePort));
}

void MappingEdit::CreateMappingFile() {
  m_doc.SetString(kCountSection, kCountKey, "0");
  m_doc.SetString(kCountSection, kUrlListKey, "");
}

MappingStore::MappingStore(std::filesystem::path iniPath) : m_path(std::move(iniPath)) {}

MappingSnapshot MappingStore::Load() const {
  ini::LoadedProfile loaded = ini::LoadProfile(m_path);
  MappingSnapshot snapshot;
  snapshot.m_doc = std::move(loaded.text.Document());
  snapshot.m_status = loaded.status;
  snapshot.m_missing = loaded.result == ini::ReadResult::kMissing;
  return snapshot;
}

ini::IoStatus MappingStore::Update(const std::function<bool(MappingEdit&)>& edit) {
  return ini::UpdateProfile(m_path, [&](ini::IniDocument& doc) {
    MappingEdit mapping(doc);
    return edit(mapping);
  });
}

int MappingStore::ReadMappingCount(int defaultValue) const {
  return Load().ReadMappingCount(defaultValue);
}

StoredMapping MappingStore::ReadMappingEntry(int section, int portDefault,
                                             int addressCapacity) const {
  return Load().ReadMappingEntry(section, portDefault, addressCapacity);
}

ini::IoStatus MappingStore::WriteMappingCount(int n) {
  return Update([n](MappingEdit& e) {
    e.WriteMappingCount(n);
    return true;
  });
}

// The three keys reach the file in one replacement, in their usual order, so a
// pair is never stored half old and half new.
ini::IoStatus MappingStore::WriteMappingEntry(int section, const MappingEntry& entry) {
  return Update([&](MappingEdit& e) {
    e.WriteMappingEntry(section, entry);
    return true;
  });
}

// Read and written in one step, so a hand edit cannot slip in between.
ini::IoStatus MappingStore::CopyMappingSection(int from, int to) {
  return Update([&](MappingEdit& e) {
    e.CopyMappingSection(from, to);
    return true;
  });
}

ini::IoStatus MappingStore::CreateMappingFile() {
  return Update([](MappingEdit& e) {
    e.CreateMappingFile();
    return true;
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

std::string ReadFailureText(const std::string& name, const ini::IoStatus& status) {
  return "读取 " + name + " 失败: " + ini::DescribeIoStatus(status);
}

}  // namespace vx
