// Prints the image library's speeds: the pixel routines per format, AssignTo of a
// 24-megapixel image beside a plain memcpy of its bytes, and load and save of a
// 24-megapixel PNG and TIFF (uncompressed, Deflate, PackBits) through the classes
// beside libpng's simplified reader and libtiff's TIFFReadRGBAImage on the same bytes.
#include "PngGraphic.h"
#include "TiffGraphic.h"

#include <png.h>
#include <tiffio.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace gf;

namespace {

double Seconds(const std::function<void()>& F) {
  const auto t0 = std::chrono::steady_clock::now();
  F();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Best of a few runs, in megapixels per second.
double Rate(double Megapixels, int Runs, const std::function<void()>& F) {
  double best = 1e30;
  for (int i = 0; i < Runs; ++i)
    best = std::min(best, Seconds(F));
  return Megapixels / best;
}

constexpr int W = 6000, H = 4000; // 24 megapixels
constexpr double MP = W * double(H) / 1e6;

void Photo(TDibGraphic& G) {
  // Smooth gradients with some noise: compresses like a photograph, not like a blank.
  uint32_t seed = 12345;
  for (int y = 0; y < G.GetHeight(); ++y) {
    uint8_t* row = G.ScanLine(y);
    for (int x = 0; x < G.GetWidth(); ++x) {
      seed = seed * 1664525 + 1013904223;
      const int n = static_cast<int>(seed >> 29);
      row[3 * x] = static_cast<uint8_t>(x / 24 + n);
      row[3 * x + 1] = static_cast<uint8_t>(y / 16 + n);
      row[3 * x + 2] = static_cast<uint8_t>((x + y) / 40 + n);
    }
  }
}

struct TMem {
  const std::vector<uint8_t>* Data;
  toff_t Pos = 0;
};

double LibtiffRgba(const std::vector<uint8_t>& Bytes) {
  TMem m{&Bytes};
  TIFF* tif = TIFFClientOpen(
      "bench", "r", &m,
      [](thandle_t h, void* b, tmsize_t n) -> tmsize_t {
        auto* m = static_cast<TMem*>(h);
        const toff_t k = std::min<toff_t>(static_cast<toff_t>(n), m->Data->size() - m->Pos);
        std::memcpy(b, m->Data->data() + m->Pos, k);
        m->Pos += k;
        return static_cast<tmsize_t>(k);
      },
      [](thandle_t, void*, tmsize_t) -> tmsize_t { return -1; },
      [](thandle_t h, toff_t o, int w) -> toff_t {
        auto* m = static_cast<TMem*>(h);
        m->Pos = w == SEEK_SET ? o : w == SEEK_CUR ? m->Pos + o : m->Data->size() + o;
        return m->Pos;
      },
      [](thandle_t) { return 0; }, [](thandle_t h) { return static_cast<TMem*>(h)->Data->size(); },
      [](thandle_t h, void** base, toff_t* size) {
        *base = const_cast<uint8_t*>(static_cast<TMem*>(h)->Data->data());
        *size = static_cast<TMem*>(h)->Data->size();
        return 1;
      },
      [](thandle_t, void*, toff_t) {});
  // A fresh raster each time, as the class makes a fresh image.
  const double rate = Rate(MP, 2, [&] {
    std::vector<uint32_t> raster(static_cast<std::size_t>(W) * H);
    TIFFReadRGBAImage(tif, W, H, raster.data(), 1);
  });
  TIFFClose(tif);
  return rate;
}

} // namespace

int main() {
  std::printf("Pixel routines, 4096 x 4096 per format (megapixels per second)\n");
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    TDibGraphic g;
    g.NewImage(4096, 4096, static_cast<TImageFormat>(f), nullptr, 0, 0);
    const TPixelSetter set = PixelSetters[f];
    const TPixelGetter get = PixelGetters[f];
    volatile uint32_t sink = 0;
    const double setRate = Rate(16.777216, 3, [&] {
      for (int y = 0; y < 4096; ++y) {
        uint8_t* row = g.ScanLine(y);
        for (int x = 0; x < 4096; ++x)
          set(row, x, static_cast<uint32_t>(x ^ y));
      }
    });
    const double getRate = Rate(16.777216, 3, [&] {
      uint32_t sum = 0;
      for (int y = 0; y < 4096; ++y) {
        const uint8_t* row = g.ScanLine(y);
        for (int x = 0; x < 4096; ++x)
          sum += get(row, x);
      }
      sink = sum;
    });
    std::printf("  %-20s set %8.0f   get %8.0f\n",
                ImageFormatName(static_cast<TImageFormat>(f)).c_str(), setRate, getRate);
  }

  TDibGraphic photo;
  photo.NewImage(W, H, ifTrueColor, nullptr, 0, 0);
  Photo(photo);
  {
    TBitmap bmp;
    const double assign = Rate(MP, 3, [&] {
      bmp.SetSize(0, 0);
      bmp.Assign(&photo);
    });
    std::vector<uint8_t> copy(photo.ImageSize());
    const double plain = Rate(MP, 3, [&] {
      std::vector<uint8_t> fresh(photo.ImageSize());
      std::memcpy(fresh.data(), photo.Bits(), fresh.size());
      copy.swap(fresh);
    });
    TDibGraphic grey;
    grey.NewImage(W, H, ifColor256, nullptr, 0, 0);
    const double palette = Rate(MP, 2, [&] {
      bmp.SetSize(0, 0);
      bmp.Assign(&grey);
    });
    std::printf("\nAssignTo(TBitmap), 24 megapixels (megapixels per second)\n");
    std::printf("  true colour %8.0f   256 colour %8.0f   memcpy of the same bytes %8.0f\n", assign,
                palette, plain);
  }

  std::printf("\nPNG, 24 megapixels, true colour (megapixels per second)\n");
  {
    TPngGraphic png;
    png.Assign(&photo);
    png.Interlaced = false;
    png.Gamma = 1 / ScreenGamma;
    TMemoryStream stream;
    const double save = Rate(MP, 1, [&] {
      stream.SetSize(0);
      png.SaveToStream(stream);
    });
    std::vector<uint8_t> bytes(stream.Memory(), stream.Memory() + stream.GetSize());
    const double load = Rate(MP, 2, [&] {
      stream.SetPosition(0);
      TPngGraphic back;
      back.LoadFromStream(stream);
    });
    const double simple = Rate(MP, 2, [&] {
      std::vector<uint8_t> out(static_cast<std::size_t>(W) * H * 3);
      png_image im{};
      im.version = PNG_IMAGE_VERSION;
      png_image_begin_read_from_memory(&im, bytes.data(), bytes.size());
      im.format = PNG_FORMAT_BGR;
      png_image_finish_read(&im, nullptr, out.data(), 0, nullptr);
    });
    std::printf("  %.1f MB: save %6.1f   load %6.1f   libpng simplified reader %6.1f\n",
                bytes.size() / 1e6, save, load, simple);
  }

  std::printf("\nTIFF, 24 megapixels, true colour (megapixels per second)\n");
  for (TTiffCompression c : {tcNone, tcZLib, tcPackbits}) {
    TTiffGraphic tiff;
    tiff.Assign(&photo);
    tiff.SetCompression(c);
    TMemoryStream stream;
    const double save = Rate(MP, 1, [&] {
      stream.SetSize(0);
      tiff.SaveToStream(stream);
    });
    const std::vector<uint8_t> bytes(stream.Memory(), stream.Memory() + stream.GetSize());
    const double load = Rate(MP, 2, [&] {
      stream.SetPosition(0);
      TTiffGraphic back;
      back.LoadFromStream(stream);
    });
    std::printf("  %-9s %6.1f MB: save %6.1f   load %6.1f   TIFFReadRGBAImage %6.1f\n",
                CompressionName(c).c_str(), bytes.size() / 1e6, save, load, LibtiffRgba(bytes));
  }
  return 0;
}
