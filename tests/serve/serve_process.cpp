#include "tests/serve/serve_process.h"

namespace vx::test {

int RunToExit(const std::vector<std::string>& args, const std::filesystem::path& logDir,
              std::string* out, std::string* err, int timeoutMs) {
  ServeProcess p(args, logDir);
  const int code = p.WaitExit(timeoutMs);
  if (out)
    *out = p.Stdout();
  if (err)
    *err = p.Stderr();
  return code;
}

void SaveReplacing(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::path tmp = path;
  tmp += ".tmp";
  WriteBytes(tmp, text);
  std::filesystem::rename(tmp, path);
}

}  // namespace vx::test
