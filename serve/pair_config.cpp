#include "serve/pair_config.h"

#include <cstdio>
#include <map>

#include "engine/endpoint_text.h"
#include "relay/slot_tables.h"
#include "serve/messages.h"
#include "store/mapping_store.h"
#include "store/profile_int.h"

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

bool ValidatePair(int section, const std::string& localPort, const std::string& remoteHost,
                  const std::string& remotePort, ServePair* pair, std::string* problem) {
  std::uint16_t lp = ParsePortText(localPort);
  if (lp == 0) {
    *problem = msg::BadLocalPort(section, localPort);
    return false;
  }
  if (!engine::ParseLiteralAddress(remoteHost) && !engine::IsHostName(remoteHost)) {
    bool looksNumeric =
        !remoteHost.empty() && remoteHost.find_first_not_of("0123456789.") == std::string::npos;
    *problem = looksNumeric ? msg::BadRemoteAddress(section, remoteHost)
                            : msg::BadRemoteHost(section, remoteHost);
    return false;
  }
  std::uint16_t rp = ParsePortText(remotePort);
  if (rp == 0) {
    *problem = msg::BadRemotePort(section, remotePort);
    return false;
  }
  pair->section = section;
  pair->localPort = lp;
  pair->remoteHost = remoteHost;
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
    ini::IoStatus saved = store.CreateMappingFile();
    if (!saved.Ok()) {
      // The folder cannot take the file, say: the reason, not just the absence.
      config.problems.push_back(msg::FileUnusable(store.Path().u8string()));
      config.problems.push_back(
          msg::CreateFailed(store.Path().u8string(), ini::DescribeIoStatus(saved)));
      return config;
    }
    config.created = true;
    snapshot = store.Load();
  }
  std::optional<std::string> countText = snapshot.RawCount();
  int count = ini::ProfileIntOr(countText, -1);
  if (!countText || (count == -1 && !ini::ParseProfileInt(*countText))) {
    config.problems.push_back(msg::FileUnusable(store.Path().u8string()));
    return config;
  }
  if (count < 0) {
    // "-2" or "2147483648": as unreadable as no count at all.
    config.problems.push_back(msg::BadCount(*countText));
    return config;
  }
  config.usable = true;
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
