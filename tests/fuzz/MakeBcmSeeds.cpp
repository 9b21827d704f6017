// Writes seed corpora for the codec module's fuzz targets into DIR/bmp, DIR/pcx and
// DIR/tga (made when missing): small pictures from the module's own writers in every
// depth and layout, and files of the forms the writers do not make (RLE8 and RLE4
// BMP, bitmap arrays, planar PCX, run-length and 16/32-bit Targa, right-to-left rows).
#include "Bcm.h"
#include "SeedBytes.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using gf::test::Bytes;
using gf::test::Le;
namespace fs = std::filesystem;

void Save(const fs::path& Path, const Bytes& B) {
  std::ofstream(Path, std::ios::binary)
      .write(reinterpret_cast<const char*>(B.data()), static_cast<std::streamsize>(B.size()));
}

bool Write(const fs::path& Path, int Format, int Bits, const char* Options) {
  gf::BcmBitmap bm;
  bm.Width = 7;
  bm.Height = 3;
  bm.BitsPerPixel = Bits;
  std::vector<uint8_t> data(gf::BcmDataBytes(bm));
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>(i * 37 + 11);
  std::vector<gf::BcmPaletteEntry> pal(256);
  for (int i = 0; i < 256; ++i)
    pal[static_cast<std::size_t>(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)};
  const int h = gf::BcmIoCreate(Path.c_str(), 0x8001);
  const int rc = gf::BcmWrite(Path.c_str(), h, Format, &bm, pal.data(), data.data(), Options);
  gf::BcmIoClose(h);
  return rc == gf::BcmOk;
}

// A Windows BMP of 8 x 4 pixels with the given compression and pixel bytes.
Bytes Bmp(uint32_t Bits, uint32_t Compression, const Bytes& Pixels, bool Array = false) {
  Bytes b;
  const std::size_t at = Array ? 14 : 0;
  if (Array)
    Le(b, 0, 0x4142, 2);
  const uint32_t entries = 1u << Bits;
  const uint32_t offset = static_cast<uint32_t>(at) + 54 + 4 * entries;
  Le(b, at, 0x4D42, 2);
  Le(b, at + 2, offset + static_cast<uint32_t>(Pixels.size()), 4);
  Le(b, at + 10, offset, 4);
  Le(b, at + 14, 40, 4);
  Le(b, at + 18, 8, 4);
  Le(b, at + 22, 4, 4);
  Le(b, at + 26, 1, 2);
  Le(b, at + 28, Bits, 2);
  Le(b, at + 30, Compression, 4);
  b.resize(offset, 0x33);
  b.insert(b.end(), Pixels.begin(), Pixels.end());
  return b;
}

Bytes Tga(uint8_t Type, uint8_t Depth, uint8_t Descriptor, const Bytes& Pixels) {
  Bytes b(18, 0);
  b[2] = Type;
  Le(b, 12, 4, 2);
  Le(b, 14, 2, 2);
  b[16] = Depth;
  b[17] = Descriptor;
  b.insert(b.end(), Pixels.begin(), Pixels.end());
  return b;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_bcm_seeds DIR\n");
    return 2;
  }
  const fs::path dir = argv[1];
  for (const char* f : {"bmp", "pcx", "tga"})
    fs::create_directories(dir / f);
  bool ok = true;
  for (int bits : {1, 4, 8, 24}) {
    const std::string n = std::to_string(bits);
    ok &= Write(dir / "bmp" / ("win" + n), gf::BcmFormatBmp, bits, "");
    ok &= Write(dir / "bmp" / ("os2" + n), gf::BcmFormatBmp, bits, "1.1");
    ok &= Write(dir / "pcx" / ("pcx" + n), gf::BcmFormatPcx, bits, "");
  }
  ok &= Write(dir / "tga" / "cmap", gf::BcmFormatTga, 8, "");
  for (const char* o : {"16", "24", "32 ydown"})
    ok &= Write(dir / "tga" / (std::string("true") + o[0] + o[1]), gf::BcmFormatTga, 24, o);

  Save(dir / "bmp" / "rle8", Bmp(8, 1, {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 4, 9, 0, 1}));
  Save(dir / "bmp" / "rle4",
       Bmp(4, 2, {5, 0x12, 0, 3, 0x45, 0x60, 0, 0, 0, 2, 2, 1, 2, 0x77, 0, 1}));
  Save(dir / "bmp" / "array", Bmp(8, 0, Bytes(32, 5), true));
  // Planar 16-colour PCX: 4 planes of 1 bit, 8 x 2.
  Bytes pcx(128, 0);
  pcx[0] = 10;
  pcx[1] = 5;
  pcx[2] = 1;
  pcx[3] = 1;
  Le(pcx, 8, 7, 2);
  Le(pcx, 10, 1, 2);
  pcx[65] = 4;
  Le(pcx, 66, 2, 2);
  for (int i = 0; i < 16; ++i)
    pcx.push_back(static_cast<uint8_t>(i % 2 ? 0xC2 : i * 17 % 0xC0));
  Save(dir / "pcx" / "planar", pcx);
  Save(dir / "tga" / "rle24",
       Tga(10, 24, 0x10, {0x82, 1, 2, 3, 0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5, 6}));
  Save(dir / "tga" / "rle16", Tga(10, 16, 0x20, {0x87, 0xFF, 0x7F}));
  Save(dir / "tga" / "rle32", Tga(10, 32, 0x30, {0x83, 1, 2, 3, 4, 0x83, 5, 6, 7, 8}));
  Save(dir / "tga" / "rlegrey", Tga(11, 8, 0, {0x01, 9, 8, 0x85, 7}));
  Save(dir / "tga" / "grey", Tga(3, 8, 0x20, Bytes(8, 0x40)));
  if (!ok) {
    std::fprintf(stderr, "make_bcm_seeds: a writer failed\n");
    return 1;
  }
  return 0;
}
