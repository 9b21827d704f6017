// Writes a small seed corpus for the fuzz targets into each folder given (made when
// missing): one file per format, each a sector-size byte and a tiny well-formed
// file, some behind a sector of other bytes.
#include "SeedBytes.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using gf::test::Be;
using gf::test::Bytes;
using gf::test::Le;

void Text(Bytes& b, std::size_t at, const std::string& s) {
  if (b.size() < at + s.size())
    b.resize(at + s.size(), 0);
  std::copy(s.begin(), s.end(), b.begin() + static_cast<long>(at));
}

Bytes Bmp() {
  Bytes b(600, 0x40);
  Text(b, 0, "BM");
  Le(b, 2, 600, 4);
  Le(b, 14, 40, 4);
  Le(b, 26, 1, 2);
  Le(b, 30, 0, 4);
  return b;
}

Bytes Gif() {
  Bytes b;
  Text(b, 0, "GIF89a");
  const Bytes rest{1,    0,    1, 0, 0x80, 0, 0, 0,    0,    0, 0xFF, 0xFF, 0xFF,
                   0x21, 0xF9, 4, 0, 0,    0, 0, 0,    0x2C, 0, 0,    0,    0,
                   1,    0,    1, 0, 0,    2, 2, 0x4C, 0x01, 0, 0x3B};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

Bytes Png() {
  Bytes b{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  auto chunk = [&](const std::string& type, uint32_t length) {
    Be(b, b.size(), length, 4);
    b.insert(b.end(), type.begin(), type.end());
    b.resize(b.size() + length + 4, 0x33);
  };
  chunk("IHDR", 13);
  chunk("IDAT", 40);
  chunk("IEND", 0);
  return b;
}

Bytes Tiff(bool little) {
  Bytes b(400, 0x11);
  auto u16 = [&](std::size_t at, uint32_t v) {
    b[at + (little ? 0 : 1)] = static_cast<uint8_t>(v);
    b[at + (little ? 1 : 0)] = static_cast<uint8_t>(v >> 8);
  };
  auto u32 = [&](std::size_t at, uint32_t v) {
    u16(at + (little ? 0 : 2), v & 0xFFFF);
    u16(at + (little ? 2 : 0), v >> 16);
  };
  b[0] = b[1] = little ? 'I' : 'M';
  u16(2, 42);
  u32(4, 8);
  u16(8, 3);
  const uint32_t entries[3][4] = {{256, 3, 1, 8}, {273, 4, 2, 100}, {279, 3, 2, 0}};
  for (int i = 0; i < 3; ++i) {
    const std::size_t e = 10 + 12 * static_cast<std::size_t>(i);
    u16(e, entries[i][0]);
    u16(e + 2, entries[i][1]);
    u32(e + 4, entries[i][2]);
    u32(e + 8, entries[i][3]);
  }
  u16(34 + 8, 20); // two inline byte counts
  u16(34 + 10, 30);
  u32(46, 0);
  u32(100, 200);
  u32(104, 300);
  return b;
}

// Long enough for the 1,025 bytes read at the anchor.
Bytes Crw() {
  Bytes b(1700, 0x77);
  Text(b, 0, std::string("II\x1A\0\0\0HEAPCCD", 13));
  Text(b, 600, std::string("Canon\0Model 123\0", 16));
  Le(b, 1386, 30, 4);
  Le(b, 1390, 46, 4);
  Le(b, 1396, 10, 4);
  Le(b, 1400, 76, 4);
  Le(b, 1404, 86, 4);
  return b;
}

// A program stream: a pack, a few packets and the end code.
Bytes Mpg() {
  Bytes b;
  auto code = [&](uint8_t c) { b.insert(b.end(), {0x00, 0x00, 0x01, c}); };
  auto packet = [&](uint8_t c, uint16_t length) {
    code(c);
    Be(b, b.size(), length, 2);
    b.resize(b.size() + length, 0x55);
  };
  code(0xBA);
  b.resize(b.size() + 8, 0x44);
  packet(0xBB, 6);
  packet(0xE0, 100);
  packet(0xC0, 30);
  code(0xB9);
  return b;
}

Bytes Riff(const std::string& form) {
  Bytes b(300, 0x21);
  Text(b, 0, "RIFF");
  Le(b, 4, 292, 4);
  Text(b, 8, form);
  Text(b, 12, "LIST");
  Le(b, 16, 40, 4);
  return b;
}

// Three atoms of 8,200 bytes in all, the first a movie atom.
Bytes Mov() {
  Bytes b;
  for (auto [size, type] :
       {std::pair<uint32_t, const char*>{4000, "moov"}, {4000, "free"}, {200, "mdat"}}) {
    const std::size_t at = b.size();
    b.resize(at + size, 0x61);
    Be(b, at, size, 4);
    Text(b, at + 4, type);
  }
  return b;
}

// Twenty-one MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz: 417 bytes each).
Bytes Mp3() {
  Bytes b;
  for (int i = 0; i < 21; ++i) {
    const std::size_t at = b.size();
    b.resize(at + 417, static_cast<uint8_t>(0x20 + i));
    Be(b, at, 0xFFFB9000, 4);
  }
  return b;
}

Bytes Jpeg() {
  Bytes b{0xFF, 0xD8, 0xFF, 0xE0, 0, 16};
  b.resize(700, 0x20);
  return b;
}

void Write(const std::string& dir, const std::string& name, uint8_t sectorByte, const Bytes& file,
           bool behind) {
  Bytes out{sectorByte};
  if (behind)
    out.resize(1 + (sectorByte % 3 == 1 ? 2048 : sectorByte % 3 == 2 ? 32 : 512), 0xA5);
  out.insert(out.end(), file.begin(), file.end());
  std::ofstream(dir + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_scan_seeds FOLDER...\n");
    return 2;
  }
  const std::pair<const char*, Bytes> files[] = {
      {"bmp", Bmp()},         {"gif", Gif()},          {"png", Png()},
      {"tif-ii", Tiff(true)}, {"tif-mm", Tiff(false)}, {"crw", Crw()},
      {"jpg", Jpeg()},        {"mpg", Mpg()},          {"avi", Riff("AVI ")},
      {"wav", Riff("WAVE")},  {"riff", Riff("RMID")},  {"mov", Mov()},
      {"mp3", Mp3()}};
  for (int i = 1; i < argc; ++i) {
    const std::string dir = argv[i];
    std::filesystem::create_directories(dir);
    for (auto& [name, file] : files)
      for (uint8_t sector = 0; sector < 3; ++sector)
        Write(dir, std::string(name) + "-" + std::to_string(sector), sector, file, sector == 1);
  }
  return 0;
}
