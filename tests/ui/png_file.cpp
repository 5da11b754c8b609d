#include "tests/ui/png_file.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace vx::uitest {

namespace {

std::uint32_t Crc32(const std::uint8_t* p, size_t n, std::uint32_t crc = 0) {
  static std::uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) {
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      }
      table[i] = c;
    }
    ready = true;
  }
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) {
    crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  }
  return ~crc;
}

void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) {
    out.push_back(static_cast<std::uint8_t>(v >> s));
  }
}

void Chunk(std::vector<std::uint8_t>& out, const char* type,
           const std::vector<std::uint8_t>& data) {
  PutBe32(out, static_cast<std::uint32_t>(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBe32(out, Crc32(out.data() + start, out.size() - start));
}

// RGB rows, top-down, each led by filter byte 0.
std::vector<std::uint8_t> Encode(int w, int h, const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> z = {0x78, 0x01};
  const size_t kBlock = 65535;
  for (size_t pos = 0; pos < raw.size() || pos == 0;) {
    size_t n = raw.size() - pos < kBlock ? raw.size() - pos : kBlock;
    bool last = pos + n >= raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<std::uint8_t>(n));
    z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n));
    z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
             raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
    if (last) {
      break;
    }
  }
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBe32(z, (b << 16) | a);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> ihdr;
  PutBe32(ihdr, static_cast<std::uint32_t>(w));
  PutBe32(ihdr, static_cast<std::uint32_t>(h));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace

bool CaptureScreenRect(const RECT& rc, const std::wstring& path) {
  int w = rc.right - rc.left;
  int h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) {
    return false;
  }
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bmp != nullptr) {
    HGDIOBJ old = SelectObject(mem, bmp);
    ok = BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(mem, old);
    if (ok) {
      std::vector<std::uint8_t> raw;
      raw.reserve(static_cast<size_t>(h) * (1 + 3 * static_cast<size_t>(w)));
      const auto* px = static_cast<const std::uint8_t*>(bits);
      for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* p = px + (static_cast<size_t>(y) * w + x) * 4;
          raw.insert(raw.end(), {p[2], p[1], p[0]});
        }
      }
      std::vector<std::uint8_t> png = Encode(w, h, raw);
      FILE* f = _wfopen(path.c_str(), L"wb");
      ok = f != nullptr && fwrite(png.data(), 1, png.size(), f) == png.size();
      if (f != nullptr) {
        fclose(f);
      }
    }
    DeleteObject(bmp);
  }
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool CaptureScreen(const std::wstring& path) {
  RECT rc{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return CaptureScreenRect(rc, path);
}

}  // namespace vx::uitest
