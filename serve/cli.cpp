#include "serve/cli.h"

#include <cstdlib>

#include "engine/endpoint_text.h"
#include "serve/messages.h"

namespace vx {

namespace {

// A whole decimal number in [low, high].
bool ParseCount(const std::string& text, long low, long high, int* out) {
  if (text.empty() || text.size() > 9)
    return false;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
  }
  long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < low || v > high)
    return false;
  *out = static_cast<int>(v);
  return true;
}

struct NumberOption {
  const char* name;
  long low, high;
  const char* range;  // for the message
  int ServeOptions::*plain;
  int engine::EngineSettings::*engine;
};

constexpr long kDay = 86400;

const NumberOption kNumberOptions[] = {
    {"--connect-timeout", 1, kDay, "1-86400", nullptr,
     &engine::EngineSettings::connectTimeoutSeconds},
    {"--idle-timeout", 0, 7 * kDay, "0-604800", nullptr,
     &engine::EngineSettings::idleTimeoutSeconds},
    {"--max-connections", 1, 1000000, "1-1000000", nullptr,
     &engine::EngineSettings::maxConnections},
    {"--threads", 1, 64, "1-64", nullptr, &engine::EngineSettings::threads},
    {"--busy-poll", 0, 1000, "0-1000", nullptr, &engine::EngineSettings::busyPollMicroseconds},
    {"--stats-interval", 1, kDay, "1-86400", &ServeOptions::statsIntervalSeconds, nullptr},
    {"--log-size", 1, kMaxLogSizeMiB, "1-4096", &ServeOptions::logSizeMiB, nullptr},
};

// Options without a value.
struct FlagOption {
  const char* shortName;  // may be null
  const char* name;
  bool ServeOptions::*plain;
  bool engine::EngineSettings::*engine;
};

const FlagOption kFlagOptions[] = {
    {"-h", "--help", &ServeOptions::help, nullptr},
    {"-V", "--version", &ServeOptions::version, nullptr},
    {"-q", "--quiet", &ServeOptions::quiet, nullptr},
    {"-w", "--watch", &ServeOptions::watch, nullptr},
    {nullptr, "--half-close", nullptr, &engine::EngineSettings::halfClose},
#ifdef _WIN32
    {nullptr, "--install", &ServeOptions::install, nullptr},
    {nullptr, "--uninstall", &ServeOptions::uninstall, nullptr},
    {nullptr, "--service", &ServeOptions::service, nullptr},
#endif
};

#ifdef _WIN32
// What the service manager takes as a name: not empty, at most 256
// characters, no slash or backslash.
bool IsServiceName(const std::string& text) {
  return !text.empty() && text.size() <= 256 && text.find_first_of("/\\") == std::string::npos;
}
#endif

bool ValidBindAddress(const std::string& text) {
  return engine::ParseLiteralAddress(text).has_value();
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, ServeOptions* options,
                      std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    // "--name=value" and "--name value" alike.
    std::string inlineValue;
    bool hasInline = false;
    if (a.rfind("--", 0) == 0) {
      std::size_t eq = a.find('=');
      if (eq != std::string::npos) {
        inlineValue = a.substr(eq + 1);
        a = a.substr(0, eq);
        hasInline = true;
      }
    }
    auto value = [&](std::string* out) {
      if (hasInline) {
        *out = inlineValue;
      } else if (i + 1 < args.size()) {
        *out = args[++i];
      } else {
        out->clear();
      }
      if (out->empty()) {
        *error = msg::MissingValue(a) + msg::SeeHelp();
        return false;
      }
      return true;
    };
    auto flag = [&]() {
      if (hasInline) {
        *error = msg::UnknownOption(args[i]) + msg::SeeHelp();
        return false;
      }
      return true;
    };

    const FlagOption* flagOption = nullptr;
    for (const FlagOption& o : kFlagOptions) {
      if (a == o.name || (o.shortName != nullptr && a == o.shortName))
        flagOption = &o;
    }
    if (flagOption != nullptr) {
      if (!flag())
        return false;
      if (flagOption->plain != nullptr)
        options->*(flagOption->plain) = true;
      else
        options->engine.*(flagOption->engine) = true;
    } else if (a == "-d" || a == "--dir") {
      if (!value(&options->dir))
        return false;
      options->dirGiven = true;
#ifdef _WIN32
    } else if (a == "--name") {
      if (!value(&options->name))
        return false;
      if (!IsServiceName(options->name)) {
        *error = msg::BadServiceName(options->name) + msg::SeeHelp();
        return false;
      }
#endif
    } else if (a == "--bind") {
      std::string v;
      if (!value(&v))
        return false;
      if (!ValidBindAddress(v)) {
        *error = msg::BadOptionValue(a, v, "IPv4 或 IPv6 地址") + msg::SeeHelp();
        return false;
      }
      options->engine.bindAddress = v;
    } else {
      const NumberOption* found = nullptr;
      for (const NumberOption& o : kNumberOptions) {
        if (a == o.name)
          found = &o;
      }
      if (found == nullptr) {
        *error = msg::UnknownOption(args[i]) + msg::SeeHelp();
        return false;
      }
      std::string v;
      if (!value(&v))
        return false;
      int n = 0;
      if (!ParseCount(v, found->low, found->high, &n)) {
        *error = msg::BadOptionValue(a, v, found->range) + msg::SeeHelp();
        return false;
      }
      if (found->plain != nullptr)
        options->*(found->plain) = n;
      else
        options->engine.*(found->engine) = n;
    }
  }
#ifdef _WIN32
  if (options->install + options->uninstall + options->service > 1) {
    *error = msg::ConflictingModes() + msg::SeeHelp();
    return false;
  }
#endif
  options->engine.connectionEvents = !options->quiet;
  return true;
}

}  // namespace vx
