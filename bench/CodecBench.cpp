// JPEG load and save speed of a 24-megapixel picture through the JPEG image class,
// beside libjpeg called directly on the same bytes (quality 75, baseline and
// progressive), and the codec module's BMP, PCX and Targa read speed of the same
// picture. Everything runs in memory, so the figures are the codecs' own.
//
//   codec_bench [megapixels]
#include "Bcm.h"
#include "BcmMemoryFiles.h"
#include "JpegGraphic.h"
#include "Libjpeg.h"
#include "Streams.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

using namespace gf;

namespace {

double Seconds(const std::function<void()>& Work, int Runs = 3) {
  double best = 1e30;
  for (int i = 0; i < Runs; ++i) {
    const auto from = std::chrono::steady_clock::now();
    Work();
    best = std::min(best,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count());
  }
  return best;
}

void Report(const char* What, double Megapixels, double Seconds) {
  std::printf("  %-44s %8.1f MP/s  (%.3f s)\n", What, Megapixels / Seconds, Seconds);
}

// A photograph-like picture: smooth light with fine texture, RGB rows from the top.
test::TDirectPicture Picture(uint32_t W, uint32_t H) {
  test::TDirectPicture p;
  p.Width = W;
  p.Height = H;
  p.Pixels.resize(std::size_t{W} * H * 3);
  uint32_t noise = 12345;
  uint8_t* d = p.Pixels.data();
  for (uint32_t y = 0; y < H; ++y)
    for (uint32_t x = 0; x < W; ++x) {
      noise = noise * 1103515245u + 12345u;
      const int n = static_cast<int>((noise >> 16) & 15) - 8;
      *d++ = static_cast<uint8_t>(std::clamp(int(x * 200 / W) + 30 + n, 0, 255));
      *d++ = static_cast<uint8_t>(std::clamp(int(y * 180 / H) + 40 + n, 0, 255));
      *d++ = static_cast<uint8_t>(std::clamp(int((x + y) % 256) / 2 + 60 + n, 0, 255));
    }
  return p;
}

} // namespace

int main(int argc, char** argv) {
  const double wanted = argc > 1 ? std::atof(argv[1]) : 24.0;
  const uint32_t width = 6000;
  const uint32_t height = static_cast<uint32_t>(wanted * 1e6 / width);
  const double mp = double(width) * height / 1e6;
  std::printf("Picture: %u x %u (%.1f megapixels), best of 3 runs\n", width, height, mp);
  const test::TDirectPicture picture = Picture(width, height);

  TJpegGraphic image;
  image.NewImage(int(width), int(height), ifTrueColor, nullptr, 300, 300);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = image.ScanLine(int(y));
    const uint8_t* src = picture.Pixels.data() + std::size_t{y} * width * 3;
    for (uint32_t x = 0; x < width; ++x) {
      row[3 * x] = src[3 * x + 2];
      row[3 * x + 1] = src[3 * x + 1];
      row[3 * x + 2] = src[3 * x];
    }
  }

  for (bool progressive : {false, true}) {
    std::printf("JPEG, quality 75, %s:\n", progressive ? "progressive" : "baseline");
    test::TDirectOptions o;
    o.Quality = 75;
    o.Progressive = progressive;
    std::vector<uint8_t> direct;
    const double directSave = Seconds([&] { direct = test::DirectEncode(picture, o); });
    image.Quality = 75;
    image.Progressive = progressive;
    TMemoryStream saved;
    const double classSave = Seconds([&] {
      saved.SetSize(0);
      image.SaveToStream(saved);
    });
    Report("save, libjpeg directly", mp, directSave);
    Report("save, TJpegGraphic", mp, classSave);
    std::printf("  sizes: %zu and %lld bytes\n", direct.size(),
                static_cast<long long>(saved.GetSize()));

    const double directLoad = Seconds([&] { (void)test::DirectDecode(direct); });
    TMemoryStream file;
    file.WriteBuffer(direct.data(), direct.size());
    TJpegGraphic loaded;
    const double classLoad = Seconds([&] {
      file.SetPosition(0);
      loaded.LoadFromStream(file);
    });
    Report("load, libjpeg directly", mp, directLoad);
    Report("load, TJpegGraphic", mp, classLoad);
  }

  // The codec module: the same picture written in each format and read back, through
  // hooks over memory.
  std::printf("Codec module, read (header, palette, data):\n");
  test::TMemoryFiles files;
  BcmBitmap bm;
  bm.Width = int32_t(width);
  bm.Height = int32_t(height);
  bm.BitsPerPixel = 24;
  std::vector<uint8_t> data(BcmDataBytes(bm));
  for (uint32_t y = 0; y < height; ++y)
    std::memcpy(data.data() + std::size_t{y} * BcmRowBytes(bm.Width, 24),
                image.ScanLine(int(height - 1 - y)), std::size_t{width} * 3);
  struct TFormat {
    const char* Name;
    int Format;
    const char* Options;
  };
  for (const TFormat& f : {TFormat{"BMP, 24 bits", BcmFormatBmp, ""},
                           TFormat{"PCX, 24 bits (run-length)", BcmFormatPcx, ""},
                           TFormat{"Targa, 24 bits", BcmFormatTga, ""},
                           TFormat{"Targa, 32 bits", BcmFormatTga, "32"}}) {
    const int out = BcmIoCreate("bench", 0);
    if (BcmWrite("bench", out, f.Format, &bm, nullptr, data.data(), f.Options) != BcmOk) {
      std::printf("  %s: the writer failed\n", f.Name);
      return 1;
    }
    const std::vector<uint8_t> bytes = files.Bytes(out);
    BcmIoClose(out);
    std::vector<uint8_t> back(data.size());
    int rc = BcmOk;
    const int h = files.Add(bytes);
    const double read = Seconds([&] {
      BcmIoSeek(h, 0, 0);
      BcmBitmap b;
      rc = BcmReadHeader("bench", h, f.Format, &b, "");
      if (rc == BcmOk)
        rc = BcmReadData(h, f.Format, &b, back.data());
    });
    BcmIoClose(h);
    if (rc != BcmOk || back != data) {
      std::printf("  %s: read back wrong (%s)\n", f.Name, BcmErrorText(rc));
      return 1;
    }
    Report(f.Name, mp, read);
  }
  return 0;
}
