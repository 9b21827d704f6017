// Pictures and folders for the window tests.
#pragma once

#include "FileSizeLimit.h"

#include <QtCore/QBuffer>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace gf::test {

// A JPEG picture of its own content: a gradient and noise, so that every picture
// differs and spans several sectors.
inline std::vector<uint8_t> MakeJpeg(int Seed, int Width = 320, int Height = 240) {
  QImage img(Width, Height, QImage::Format_RGB32);
  uint32_t r = 12345u + static_cast<uint32_t>(Seed) * 7919u;
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      r = r * 1103515245u + 12345u;
      int n = static_cast<int>((r >> 16) & 63);
      img.setPixel(x, y, qRgb((x + Seed * 40 + n) & 255, (y * 2 + n) & 255, (Seed * 70 + n) & 255));
    }
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "JPG", 85);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

class TTempDir {
public:
  TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "gf_ui_XXXXXX").string();
    Path = mkdtemp(tmpl.data());
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  std::string Path;
};

inline std::vector<uint8_t> ReadFile(const std::string& Name) {
  std::ifstream f(Name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  std::ofstream(Name, std::ios::binary)
      .write(reinterpret_cast<const char*>(Bytes.data()),
             static_cast<std::streamsize>(Bytes.size()));
}

} // namespace gf::test
