// Netpbm images and tools as independent references for the codec tests: PNM files
// read and written here, converters run as commands.
#pragma once

#include "Bcm.h"
#include "BcmFixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace gf::test {

struct TPnm {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Pixels; // 0xRRGGBB, rows from the top
  uint32_t At(int X, int Y) const { return Pixels[static_cast<std::size_t>(Y * Width + X)]; }
};

// P4, P5 and P6 with one byte a sample. Samples of a smaller maximum (31 for 5-bit
// channels) are widened with zero bits, as the codecs widen them.
inline std::optional<TPnm> ReadPnm(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::string magic;
  TPnm p;
  int maxval = 1;
  if (!(in >> magic >> p.Width >> p.Height) || p.Width <= 0 || p.Height <= 0)
    return std::nullopt;
  if (magic != "P4" && !(in >> maxval))
    return std::nullopt;
  in.get();
  if (maxval < 1 || maxval > 255)
    return std::nullopt;
  auto widen = [maxval](uint8_t V) { return static_cast<uint32_t>(V * 256 / (maxval + 1)); };
  std::vector<uint8_t> raw((std::istreambuf_iterator<char>(in)), {});
  const std::size_t n = static_cast<std::size_t>(p.Width) * static_cast<std::size_t>(p.Height);
  p.Pixels.resize(n);
  if (magic == "P6" && raw.size() >= 3 * n) {
    for (std::size_t i = 0; i < n; ++i)
      p.Pixels[i] = widen(raw[3 * i]) << 16 | widen(raw[3 * i + 1]) << 8 | widen(raw[3 * i + 2]);
  } else if (magic == "P5" && raw.size() >= n) {
    for (std::size_t i = 0; i < n; ++i)
      p.Pixels[i] = widen(raw[i]) * 0x010101u;
  } else if (magic == "P4") {
    const std::size_t rowBytes = (static_cast<std::size_t>(p.Width) + 7) / 8;
    if (raw.size() < rowBytes * static_cast<std::size_t>(p.Height))
      return std::nullopt;
    for (int y = 0; y < p.Height; ++y)
      for (int x = 0; x < p.Width; ++x) {
        const bool black = raw[static_cast<std::size_t>(y) * rowBytes + x / 8] & (0x80 >> (x % 8));
        p.Pixels[static_cast<std::size_t>(y * p.Width + x)] = black ? 0 : 0xFFFFFF;
      }
  } else {
    return std::nullopt;
  }
  return p;
}

inline void WritePpm(const std::string& Path, const TImage& Image) {
  std::ofstream out(Path, std::ios::binary);
  out << "P6\n" << Image.Bitmap.Width << " " << Image.Bitmap.Height << "\n255\n";
  for (int y = 0; y < Image.Bitmap.Height; ++y)
    for (int x = 0; x < Image.Bitmap.Width; ++x) {
      const uint32_t c = Image.Rgb(x, y);
      const char b[3] = {char(c >> 16), char(c >> 8), char(c)};
      out.write(b, 3);
    }
}

inline bool HaveTool(const char* Name) {
  return std::system((std::string("command -v ") + Name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command quietly; true when it succeeded.
inline bool RunQuietly(const std::string& Command) {
  return std::system((Command + " 2>/dev/null").c_str()) == 0;
}

// The picture a netpbm command makes of File, converted into Dir; nothing when the
// tool is missing or fails.
inline std::optional<TPnm> NetpbmReference(const std::string& Command,
                                           const std::filesystem::path& File,
                                           const std::filesystem::path& Dir) {
  const std::string tool = Command.substr(0, Command.find(' '));
  if (!HaveTool(tool.c_str()))
    return std::nullopt;
  const std::string out = (Dir / (File.filename().string() + ".pnm")).string();
  if (!RunQuietly(Command + " '" + File.string() + "' >'" + out + "'"))
    return std::nullopt;
  return ReadPnm(out);
}

// Reads a file from the disk through the module's default hooks.
inline TReadResult ReadFile(const std::string& Path, int Format, const char* Options = "") {
  const int h = BcmIoOpen(Path.c_str(), 0x8000);
  TReadResult r = ReadHandle(h, Format, Options);
  BcmIoClose(h);
  return r;
}

inline int WriteFile(const std::string& Path, const TImage& Image, int Format,
                     const char* Options = "") {
  const int h = BcmIoCreate(Path.c_str(), 0x8001);
  const int rc = BcmWrite(Path.c_str(), h, Format, &Image.Bitmap, Image.Palette.data(),
                          Image.Data.data(), Options);
  BcmIoClose(h);
  return rc;
}

// Every pixel of Image against Reference, each colour channel masked with Mask.
inline void ExpectPixels(const TImage& Image, const TPnm& Reference, uint32_t Mask = 0xFFFFFF,
                         bool MirrorX = false) {
  ASSERT_EQ(Image.Bitmap.Width, Reference.Width);
  ASSERT_EQ(Image.Bitmap.Height, Reference.Height);
  for (int y = 0; y < Reference.Height; ++y)
    for (int x = 0; x < Reference.Width; ++x) {
      const uint32_t want = Reference.At(MirrorX ? Reference.Width - 1 - x : x, y) & Mask;
      const uint32_t got = Image.Rgb(x, y) & Mask;
      if (want != got) {
        ADD_FAILURE() << "pixel " << x << "," << y << std::hex << ": " << got << " != reference "
                      << want;
        return;
      }
    }
}

} // namespace gf::test
