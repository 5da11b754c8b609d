// setting.ini texts for serve tests, laid out as the window writes them.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace vx::test {

using Section = std::tuple<std::string, std::string, std::string>;  // Cport, IP, Sport

inline std::string IniText(const std::vector<Section>& sections) {
  std::string s = "[Num]\r\nNumber=" + std::to_string(sections.size()) + "\r\nQueldaUrlList=\r\n";
  for (std::size_t i = 0; i < sections.size(); ++i) {
    s += "[" + std::to_string(i + 1) + "]\r\n";
    s += "Cport=" + std::get<0>(sections[i]) + "\r\n";
    s += "IP=" + std::get<1>(sections[i]) + "\r\n";
    s += "Sport=" + std::get<2>(sections[i]) + "\r\n";
  }
  return s;
}

inline Section To(std::uint16_t local, std::uint16_t remote) {
  return {std::to_string(local), "127.0.0.1", std::to_string(remote)};
}

}  // namespace vx::test
