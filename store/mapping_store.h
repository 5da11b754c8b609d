// Every read and write of setting.ini. Each operation reads the file afresh,
// so changes made by hand between two operations are seen by the next one.
//
// A command that changes several keys makes them in one Update: one atomic
// replacement of the file under the writers' lock, so the file holds either
// the old pairs or the new ones, and a second writer (another window, a
// script) never loses its change to ours. A save that cannot happen says why,
// and leaves the file as it was.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "store/ini_document.h"
#include "store/io_status.h"
#include "store/mapping_entry.h"

namespace vx {

struct StoredMapping {
  int localPort = 0;
  std::string remoteIp;
  int remotePort = 0;
};

// The reads every view of the file offers.
class MappingReads {
 public:
  // "Num"/"Number" as an integer, or `defaultValue` when absent.
  int ReadMappingCount(int defaultValue) const;
  // Section s: "Cport" and "Sport" as integers with `portDefault`, "IP" as text
  // (default "127.0.0.1") cut to addressCapacity - 1 characters.
  StoredMapping ReadMappingEntry(int section, int portDefault, int addressCapacity) const;
  // Section s, key "Cport", "IP" or "Sport" as the file holds it, unconverted.
  std::optional<std::string> RawValue(int section, const char* key) const;
  // "Num"/"Number" as the file holds it, unconverted.
  std::optional<std::string> RawCount() const;

 protected:
  virtual ~MappingReads() = default;
  virtual const ini::IniDocument& Doc() const = 0;
};

// The file as one read found it: every value from the same version.
class MappingSnapshot : public MappingReads {
 public:
  // The file exists but was not read (unreadable, too large, not a file):
  // nothing will rewrite it.
  bool Refused() const { return !m_status.Ok(); }
  bool Missing() const { return m_missing; }
  const ini::IoStatus& Status() const { return m_status; }

 private:
  friend class MappingStore;
  const ini::IniDocument& Doc() const override { return m_doc; }

  ini::IniDocument m_doc;
  ini::IoStatus m_status;
  bool m_missing = false;
};

// The file inside one Update: reads see the writes made before them.
class MappingEdit : public MappingReads {
 public:
  explicit MappingEdit(ini::IniDocument& doc) : m_doc(doc) {}

  void WriteMappingCount(int n);
  // Section s: "Cport", "IP", "Sport", in that order, each text unchanged.
  void WriteMappingEntry(int section, const MappingEntry& entry);
  // Copies section `from` into section `to` (ports as plain decimal).
  void CopyMappingSection(int from, int to);
  // "Number" = "0" and "QueldaUrlList" = "", as on first use.
  void CreateMappingFile();

 private:
  const ini::IniDocument& Doc() const override { return m_doc; }

  ini::IniDocument& m_doc;
};

class MappingStore {
 public:
  explicit MappingStore(std::filesystem::path iniPath);

  const std::filesystem::path& Path() const { return m_path; }

  // One read of the whole file.
  MappingSnapshot Load() const;
  // One read-modify-replace under the writers' lock. `edit` returns false to
  // leave the file untouched. The result says why a save did not happen
  // (never run for a file that could not be read); Ok when it did, or when
  // nothing needed saving.
  ini::IoStatus Update(const std::function<bool(MappingEdit&)>& edit);

  // Single operations, each one Load or one Update.
  int ReadMappingCount(int defaultValue) const;
  StoredMapping ReadMappingEntry(int section, int portDefault, int addressCapacity) const;
  ini::IoStatus WriteMappingCount(int n);
  ini::IoStatus WriteMappingEntry(int section, const MappingEntry& entry);
  ini::IoStatus CopyMappingSection(int from, int to);
  // First use: "Number" = "0" and "QueldaUrlList" = "" (the file is created
  // as needed; an existing file keeps everything else).
  ini::IoStatus CreateMappingFile();

 private:
  std::filesystem::path m_path;
};

// The path of setting.ini in the process's current directory.
std::filesystem::path DefaultMappingPath();

// "读取 <name> 失败: <reason>": what a refused file is reported as.
std::string ReadFailureText(const std::string& name, const ini::IoStatus& status);

}  // namespace vx
