#include "serve/cli.h"

#include "serve/messages.h"

namespace vx {

namespace {

bool ParseLogSize(const std::string& text, int* mib) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  int value = std::stoi(text);
  if (value < 1 || value > kMaxLogSizeMiB)
    return false;
  *mib = value;
  return true;
}

#ifdef _WIN32
// What the service manager takes as a name: not empty, at most 256
// characters, no slash or backslash.
bool IsServiceName(const std::string& text) {
  return !text.empty() && text.size() <= 256 && text.find_first_of("/\\") == std::string::npos;
}
#endif

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, ServeOptions* options,
                      std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // An option with a value, as "--opt VALUE" or "--opt=VALUE".
    auto value = [&](const char* name, std::string* out) {
      std::string prefix = std::string(name) + "=";
      if (a == name) {
        if (i + 1 >= args.size() || args[i + 1].empty())
          return false;
        *out = args[++i];
        return true;
      }
      *out = a.substr(prefix.size());
      return !out->empty();
    };
    auto is = [&](const char* name) {
      return a == name || a.rfind(std::string(name) + "=", 0) == 0;
    };
    if (is("--log-size")) {
      std::string text;
      if (!value("--log-size", &text)) {
        *error = msg::MissingValue("--log-size") + msg::SeeHelp();
        return false;
      }
      if (!ParseLogSize(text, &options->logSizeMiB)) {
        *error = msg::BadLogSize(text) + msg::SeeHelp();
        return false;
      }
      continue;
    }
#ifdef _WIN32
    if (is("--name")) {
      if (!value("--name", &options->name)) {
        *error = msg::MissingValue("--name") + msg::SeeHelp();
        return false;
      }
      if (!IsServiceName(options->name)) {
        *error = msg::BadServiceName(options->name) + msg::SeeHelp();
        return false;
      }
      continue;
    }
    if (a == "--install") {
      options->install = true;
      continue;
    }
    if (a == "--uninstall") {
      options->uninstall = true;
      continue;
    }
    if (a == "--service") {
      options->service = true;
      continue;
    }
#endif
    if (a == "-w" || a == "--watch") {
      options->watch = true;
    } else if (a == "-h" || a == "--help") {
      options->help = true;
    } else if (a == "-V" || a == "--version") {
      options->version = true;
    } else if (a == "-q" || a == "--quiet") {
      options->quiet = true;
    } else if (a == "-d" || a == "--dir") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        *error = msg::MissingValue(a) + msg::SeeHelp();
        return false;
      }
      options->dir = args[++i];
      options->dirGiven = true;
    } else if (a.rfind("--dir=", 0) == 0) {
      if (a.size() == 6) {
        *error = msg::MissingValue("--dir") + msg::SeeHelp();
        return false;
      }
      options->dir = a.substr(6);
      options->dirGiven = true;
    } else {
      *error = msg::UnknownOption(a) + msg::SeeHelp();
      return false;
    }
  }
#ifdef _WIN32
  if (options->install + options->uninstall + options->service > 1) {
    *error = msg::ConflictingModes() + msg::SeeHelp();
    return false;
  }
#endif
  return true;
}

}  // namespace vx
