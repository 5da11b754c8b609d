#include "tests/ui/link_handler.h"

#include <cstdio>

namespace vx::uitest {

std::string RecordedLinks(const std::wstring& log) {
  std::string text;
  if (FILE* f = _wfopen(log.c_str(), L"rb")) {
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) {
      text.append(buf, n);
    }
    fclose(f);
  }
  return text;
}

HCURSOR CursorAt(int x, int y) {
  SetCursorPos(x, y);
  Sleep(150);
  CURSORINFO ci{};
  ci.cbSize = sizeof(ci);
  GetCursorInfo(&ci);
  return ci.hCursor;
}

}  // namespace vx::uitest
