// The still-picture recognizers in the full registry, through the scanner.
#include "ByteFixture.h"
#include "MemoryMedium.h"
#include "Recognizer.h"
#include "ScanHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace gf;
using namespace gf::test;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Noise(std::size_t n, uint8_t seed) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : b) {
    x = x * 1103515245u + 12345u;
    c = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

Bytes Bmp() {
  Bytes b = Noise(3000, 1);
  PutText(b, 0, "BM");
  Put32(b, 2, 3000);
  Put32(b, 14, 40);
  Put32(b, 26, 1); // planes, and bit depth 0
  Put32(b, 30, 0);
  return b;
}

Bytes Gif() {
  Bytes b{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF};
  const Bytes image{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B};
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

Bytes Tiff() {
  Bytes b = Noise(5000, 2);
  PutText(b, 0, std::string_view("II*\0\x08\0\0\0", 8));
  const uint8_t ifd[] = {2,    0, 0x11, 1, 4, 0, 1, 0, 0,    0,    0x00, 0x04,
                         0,    0,                                           // offsets: 1024
                         0x17, 1, 4,    0, 1, 0, 0, 0, 0x88, 0x0F, 0,    0, // counts: 3976
                         0,    0, 0,    0};
  std::memcpy(b.data() + 8, ifd, sizeof ifd);
  return b;
}

Bytes Png() {
  Bytes b{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  auto chunk = [&](const char* type, uint32_t length) {
    Bytes head(4);
    PutBe32(head, 0, length);
    b.insert(b.end(), head.begin(), head.end());
    b.insert(b.end(), type, type + 4);
    Bytes data = Noise(length + 4, static_cast<uint8_t>(length));
    b.insert(b.end(), data.begin(), data.end());
  };
  chunk("IHDR", 13);
  chunk("IDAT", 2000);
  chunk("IEND", 0);
  return b;
}

Bytes Crw() {
  Bytes b = Noise(6000, 3);
  std::replace(b.begin(), b.end(), uint8_t{'C'}, uint8_t{'c'}); // no stray anchors
  PutText(b, 0, std::string_view("II\x1A\0\0\0HEAPCCD", 13));
  PutText(b, 900, std::string_view("Canon\0Camera Model\0", 19));
  Put32(b, 5978, 30);
  Put32(b, 5982, 346);
  Put32(b, 5988, 100);
  Put32(b, 5992, 376); // 900 - 524
  Put32(b, 5996, 476);
  return b;
}

} // namespace

TEST(StillPictures, TrialOrder) {
  const std::vector<std::string> order{"JPG", "BMP", "GIF",  "TIF", "PNG", "MPG",
                                       "AVI", "WAV", "RIFF", "MOV", "CRW", "MP3"};
  TRecognizers reg;
  RegisterBuiltinRecognizers(reg);
  std::vector<std::string> names;
  for (int i = 0; i < reg.Count(); ++i)
    names.push_back(reg.GetItem(i)->GetName());
  // Whatever else is registered, these stand in their places of the trial order.
  auto at = order.begin();
  for (auto& n : names) {
    at = std::find(at, order.end(), n);
    ASSERT_NE(at, order.end()) << n << " out of order";
  }
  const std::pair<const char*, uint32_t> limits[] = {
      {"BMP", 8388608}, {"GIF", 1048576}, {"TIF", 20971520}, {"PNG", 1048576}, {"CRW", 10485760}};
  for (auto& [name, max] : limits) {
    auto it = std::find(names.begin(), names.end(), name);
    ASSERT_NE(it, names.end()) << name;
    EXPECT_EQ(reg.GetItem(static_cast<int>(it - names.begin()))->MaxSize, max) << name;
  }
}

TEST(StillPictures, FoundWholeWhereverTheyStand) {
  const std::pair<const char*, Bytes> files[] = {
      {"BMP", Bmp()}, {"GIF", Gif()}, {"TIF", Tiff()}, {"PNG", Png()}, {"CRW", Crw()}};
  TRecognizers reg;
  RegisterBuiltinRecognizers(reg);
  for (uint32_t sectorSize : {512u, 2048u}) {
    // Each file at a sector of its own: right after the last one, after a gap, and
    // after a header that no recognizer claims.
    Bytes img(400 * 512, 0);
    std::vector<std::pair<std::string, Bytes>> want;
    uint32_t sector = 0;
    for (int round = 0; round < 3; ++round)
      for (auto& [name, file] : files) {
        if (round == 1)
          sector += 3;
        if (round == 2)
          PutText(img, std::size_t{sector++} * sectorSize, "XYZ unclaimed");
        std::copy(file.begin(), file.end(), img.begin() + std::size_t{sector} * sectorSize);
        sector += static_cast<uint32_t>((file.size() + sectorSize - 1) / sectorSize);
        want.emplace_back(name, file);
      }
    // A BMP that declares no bytes holds the scan at its sector no longer than one step.
    PutText(img, std::size_t{sector++} * sectorSize, std::string_view("BM\0\0\0\0", 6));
    Put32(img, std::size_t{sector - 1} * sectorSize + 26, 1);
    Bytes gif = Gif();
    std::copy(gif.begin(), gif.end(), img.begin() + std::size_t{sector} * sectorSize);
    want.emplace_back("GIF", gif);
    ASSERT_LT(std::size_t{sector + 1} * sectorSize, img.size());

    TMemoryMedium m(img, sectorSize);
    auto res = Scan(m, reg);
    EXPECT_TRUE(res.Completed);
    ASSERT_EQ(res.Files.size(), want.size()) << sectorSize;
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(res.Files[i].Name, want[i].first) << i;
      EXPECT_TRUE(res.Files[i].Bytes == want[i].second) << i << " " << want[i].first;
    }
  }
}

TEST(StillPictures, UnmeasurableFilesAreCarvedUpToTheNextHeader) {
  TRecognizers reg;
  RegisterBuiltinRecognizers(reg);
  Bytes png = Png();
  png[8 + 25 + 4] = '1'; // "1DAT": the walk fails after copying IHDR
  Bytes tiff = Tiff();
  tiff[7] = 0xF0; // first directory far past the medium
  Bytes img(64 * 512, 0);
  std::copy(png.begin(), png.end(), img.begin() + 2 * 512);
  std::copy(tiff.begin(), tiff.end(), img.begin() + 20 * 512);
  Bytes gif = Gif();
  std::copy(gif.begin(), gif.end(), img.begin() + 40 * 512);
  TMemoryMedium m(img);
  auto res = Scan(m, reg);
  ASSERT_EQ(res.Files.size(), 3u);
  EXPECT_EQ(res.Files[0].Name, "PNG");
  EXPECT_TRUE(res.Files[0].Bytes == Bytes(img.begin() + 2 * 512, img.begin() + 20 * 512));
  EXPECT_EQ(res.Files[1].Name, "TIF");
  EXPECT_TRUE(res.Files[1].Bytes == Bytes(img.begin() + 20 * 512, img.begin() + 40 * 512));
  EXPECT_EQ(res.Files[2].Name, "GIF");
}
