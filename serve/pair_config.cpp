#include "serve/pair_config.h"

#include <cstdio>
#include <map>

#include "relay/slot_tables.h"
#include "serve/messages.h"
#include "store/mapping_store.h"

namespace vx {

namespace {

bool AllDigits(const std::string& s) {
  if (s.empty())
    return false;
  for (char c : s) {
    if (c < '0' || c > '9')
      return false;
  }
  return true;
}

}  // namespace

bool IsDottedIPv4(const std::string& text) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    std::size_t len = i - start;
    if (len == 0 || value > 255 || (len > 1 && text[start] == '0'))
      return false;
    ++parts;
    if (parts == 4)
      return i == text.size();
    if (i >= text.size() || text[i] != '.')
      return false;
    ++i;
  }
}

std::uint16_t ParsePortText(const std::string& text) {
  if (!AllDigits(text))
    return 0;
  std::size_t i = 0;
  while (i + 1 < text.size() && text[i] == '0')
    ++i;  // "080" is 80
  if (text.size() - i > 5)
    return 0;
  long value = std::stol(text.substr(i));
  if (value < 1 || value > 65535)
    return 0;
  return static_cast<std::uint16_t>(value);
}

bool ValidatePair(int section, const std::string& localPort, const std::string& remoteIp,
                  const std::string& remotePort, ServePair* pair, std::string* problem) {
  std::uint16_t lp = ParsePortText(localPort);
  if (lp == 0) {
    *problem = msg::BadLocalPort(section, localPort);
    return false;
  }
  if (!IsDottedIPv4(remoteIp)) {
    *problem = msg::BadRemoteAddress(section, remoteIp);
    return false;
  }
  std::uint16_t rp = ParsePortText(remotePort);
  if (rp == 0) {
    *problem = msg::BadRemotePort(section, remotePort);
    return false;
  }
  pair->section = section;
  pair->localPort = lp;
  pair->remoteIp = remoteIp;
  pair->remotePort = rp;
  return true;
}

}  // namespace vx

namespace vx {

ServeConfig ReadServeConfig(MappingStore& store, bool createIfMissing) {
  ServeConfig config;
  // One snapshot of the file for the count and every pair, so an edit saved
  // in the middle cannot mix two versions.
  MappingSnapshot snapshot = store.Load();
  if (snapshot.Refused()) {
    // Unreadable or too large: never created over, never rewritten.
    config.problems.push_back(msg::FileUnusable(store.Path().u8string()));
    config.problems.push_back(ReadFailureText(store.Path().u8string(), snapshot.Status()));
    return config;
  }
  if (snapshot.ReadMappingCount(-1) == -1) {
    if (!createIfMissing) {
      config.problems.push_back(msg::FileUnusable(store.Path().u8string()));
      return config;
    }
    store.CreateMappingFile();
    config.created = true;
    snapshot = store.Load();
  }
  int count = snapshot.ReadMappingCount(-1);
  if (count == -1) {
    config.problems.push_back(msg::FileUnusable(store.Path().u8string()));
    return config;
  }
  config.usable = true;
  if (count < 0) {
    config.problems.push_back(msg::BadCount(count));
    return config;
  }
  if (count > kMaxPairs) {
    config.problems.push_back(msg::CountTooLarge(count, kMaxPairs));
    count = kMaxPairs;
  }
  std::map<std::uint16_t, int> firstSectionOfPort;
  for (int s = 1; s <= count; ++s) {
    ServePair pair;
    std::string problem;
    // A missing IP relays to 127.0.0.1, as everywhere else in the product.
    if (!ValidatePair(s, snapshot.RawValue(s, "Cport").value_or(""),
                      snapshot.RawValue(s, "IP").value_or("127.0.0.1"),
                      snapshot.RawValue(s, "Sport").value_or(""), &pair, &problem)) {
      config.problems.push_back(problem);
      continue;
    }
    auto [it, inserted] = firstSectionOfPort.emplace(pair.localPort, s);
    if (!inserted) {
      config.problems.push_back(msg::DuplicateLocalPort(s, pair.localPort, it->second));
      continue;
    }
    config.pairs.push_back(pair);
  }
  return config;
}

}  // namespace vx
