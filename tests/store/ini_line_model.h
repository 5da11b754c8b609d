// The plainest possible model of the INI rules: the file as a list of lines,
// every lookup a scan from the top. Slow and memory-hungry, but obviously
// right; the indexed document must give the same answers and the same bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::ini::model {

class LineModel {
 public:
  explicit LineModel(std::string_view bytes);

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);
  std::string Bytes() const;

 private:
  struct Line {
    std::string text;
    std::string end;
  };
  // -1 when no such line.
  int Header(std::string_view section) const;
  int Key(int header, std::string_view key) const;
  void Insert(int at, std::string text);

  std::string m_bom;
  std::vector<Line> m_lines;
};

}  // namespace vx::ini::model
