#include "serve/cli.h"

#include "serve/messages.h"

namespace vx {

bool ParseCommandLine(const std::vector<std::string>& args, ServeOptions* options,
                      std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
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
    } else if (a.rfind("--dir=", 0) == 0) {
      if (a.size() == 6) {
        *error = msg::MissingValue("--dir") + msg::SeeHelp();
        return false;
      }
      options->dir = a.substr(6);
    } else {
      *error = msg::UnknownOption(a) + msg::SeeHelp();
      return false;
    }
  }
  return true;
}

}  // namespace vx
