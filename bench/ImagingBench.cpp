// Prints the image library's speeds: the pixel routines per format, AssignTo of a
// 24-megapixel image beside a plain memcpy of its bytes, and load and save of a
// 24-megapixel PNG and TIFF (uncompressed, Deflate, PackBits) through the classes
// beside libpng and libtiff called directly for the same work: libpng's simplified
// reader and a plain row writer with the class's settings, and libtiff's strip reader
// and scan-line writer, with the rows turned between RGB and the bitmap's BGR.
#include "PngGraphic.h"
#include "TiffGraphic.h"

#include <png.h>
#include <tiffio.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
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
  std::vector<uint8_t>* Data;
  toff_t Pos = 0;
};

TIFF* OpenMem(TMem& M, const char* Mode) {
  return TIFFClientOpen(
      "bench", Mode, &M,
      [](thandle_t h, void* b, tmsize_t n) -> tmsize_t {
        auto* m = static_cast<TMem*>(h);
        const toff_t k = std::min<toff_t>(
            static_cast<toff_t>(n), m->Data->size() - std::min<toff_t>(m->Pos, m->Data->size()));
        std::memcpy(b, m->Data->data() + m->Pos, k);
        m->Pos += k;
        return static_cast<tmsize_t>(k);
      },
      [](thandle_t h, void* b, tmsize_t n) -> tmsize_t {
        auto* m = static_cast<TMem*>(h);
        if (m->Pos + static_cast<toff_t>(n) > m->Data->size())
          m->Data->resize(m->Pos + static_cast<toff_t>(n));
        std::memcpy(m->Data->data() + m->Pos, b, static_cast<std::size_t>(n));
        m->Pos += static_cast<toff_t>(n);
        return n;
      },
      [](thandle_t h, toff_t o, int w) -> toff_t {
        auto* m = static_cast<TMem*>(h);
        m->Pos = w == SEEK_SET ? o : w == SEEK_CUR ? m->Pos + o : m->Data->size() + o;
        return m->Pos;
      },
      [](thandle_t) { return 0; }, [](thandle_t h) { return static_cast<TMem*>(h)->Data->size(); },
      [](thandle_t h, void** base, toff_t* size) {
        auto* m = static_cast<TMem*>(h);
        if (m->Data->empty())
          return 0;
        *base = m->Data->data();
        *size = m->Data->size();
        return 1;
      },
      [](thandle_t, void*, toff_t) {});
}

// Bytes of one bitmap row: 3 a pixel, padded to 4.
std::size_t BitmapRow(int Width) {
  return (static_cast<std::size_t>(Width) * 3 + 3) / 4 * 4;
}

// libtiff's strip reader over mapped memory, each row turned into a fresh bottom-up BGR
// bitmap: what the class does for contiguous 8-bit RGB.
double LibtiffStripRead(std::vector<uint8_t> Bytes) {
  return Rate(MP, 2, [&] {
    TMem m{&Bytes};
    TIFF* tif = OpenMem(m, "rm");
    uint32_t w = 0, h = 0, rows = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
    rows = std::min(rows, h);
    const std::size_t bitmapRow = BitmapRow(static_cast<int>(w));
    auto bitmap = std::make_unique_for_overwrite<uint8_t[]>(bitmapRow * h);
    std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(tif)));
    const auto scanline = static_cast<std::size_t>(TIFFScanlineSize(tif));
    for (uint32_t row = 0; row < h; row += rows) {
      const uint32_t n = std::min(rows, h - row);
      TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, row, 0), strip.data(),
                           static_cast<tmsize_t>(n * scanline));
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* src = strip.data() + i * scanline;
        uint8_t* dst = bitmap.get() + (h - 1 - row - i) * bitmapRow;
        for (uint32_t x = 0; x < w; ++x, src += 3, dst += 3) {
          dst[0] = src[2];
          dst[1] = src[1];
          dst[2] = src[0];
        }
      }
    }
    TIFFClose(tif);
  });
}

// libtiff's scan-line writer with the class's tags, each row turned from BGR to RGB.
double LibtiffWrite(TDibGraphic& Photo, uint16_t Compression, int RowsPerStrip) {
  return Rate(MP, 1, [&] {
    std::vector<uint8_t> out;
    TMem m{&out};
    TIFF* tif = OpenMem(m, "w");
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, RowsPerStrip);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, Compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, W);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, H);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    std::vector<uint8_t> row(static_cast<std::size_t>(W) * 3);
    for (int y = 0; y < H; ++y) {
      const uint8_t* src = Photo.ScanLine(y);
      for (std::size_t i = 0; i < row.size(); i += 3) {
        row[i] = src[i + 2];
        row[i + 1] = src[i + 1];
        row[i + 2] = src[i];
      }
      TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tif);
  });
}

// libpng's row writer with the settings the class used: interlace, zlib level, gamma
// and pHYs; libpng turns the BGR rows itself, as for the class.
double LibpngWrite(TDibGraphic& Photo, bool Interlaced, int ZlibLevel, double Gamma) {
  return Rate(MP, 1, [&] {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      png_destroy_write_struct(&png, &info);
      return;
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, size_t n) {
          auto* o = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
          o->insert(o->end(), d, d + n);
        },
        [](png_structp) {});
    png_set_IHDR(png, info, W, H, 8, PNG_COLOR_TYPE_RGB,
                 Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, 3780, 3780, PNG_RESOLUTION_METER);
    png_set_gAMA(png, info, Gamma);
    png_set_compression_level(png, ZlibLevel);
    png_write_info(png, info);
    png_set_bgr(png);
    const int passes = Interlaced ? png_set_interlace_handling(png) : 1;
    for (int pass = 0; pass < passes; ++pass)
      for (int y = 0; y < H; ++y)
        png_write_row(png, Photo.ScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
  });
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
    png.CompressionLevel = 1; // zlib level 5
    std::printf("  settings: interlace %s, file gamma %.4f (screen gamma %.1f), zlib level 5\n",
                png.Interlaced ? "Adam7" : "none", png.Gamma, ScreenGamma);
    TMemoryStream stream;
    const double save = Rate(MP, 1, [&] {
      stream.SetSize(0);
      png.SaveToStream(stream);
    });
    const double libpngSave = LibpngWrite(photo, png.Interlaced, 5, png.Gamma);
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
    std::printf("  %.1f MB: save %6.1f   libpng row writer %6.1f   load %6.1f   libpng "
                "simplified reader %6.1f\n",
                bytes.size() / 1e6, save, libpngSave, load, simple);
  }

  std::printf("\nTIFF, 24 megapixels, true colour (megapixels per second)\n");
  std::printf("  settings: 16 rows per strip, contiguous 8-bit RGB\n");
  for (TTiffCompression c : {tcNone, tcZLib, tcPackbits}) {
    TTiffGraphic tiff;
    tiff.Assign(&photo);
    tiff.SetCompression(c);
    TMemoryStream stream;
    const double save = Rate(MP, 1, [&] {
      stream.SetSize(0);
      tiff.SaveToStream(stream);
    });
    const uint16_t code = c == tcNone   ? COMPRESSION_NONE
                          : c == tcZLib ? COMPRESSION_ADOBE_DEFLATE
                                        : COMPRESSION_PACKBITS;
    const double libtiffSave = LibtiffWrite(photo, code, tiff.RowsPerStrip);
    const std::vector<uint8_t> bytes(stream.Memory(), stream.Memory() + stream.GetSize());
    const double load = Rate(MP, 2, [&] {
      stream.SetPosition(0);
      TTiffGraphic back;
      back.LoadFromStream(stream);
    });
    std::printf("  %-9s %6.1f MB: save %6.1f   libtiff scan-line writer %6.1f   load %6.1f   "
                "libtiff strip reader %6.1f\n",
                CompressionName(c).c_str(), bytes.size() / 1e6, save, libtiffSave, load,
                LibtiffStripRead(bytes));
  }
  return 0;
}
