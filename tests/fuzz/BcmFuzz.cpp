// libFuzzer target: arbitrary bytes as one file of the codec module's format
// GF_BCM_FORMAT, read with and without the format's options. Besides the sanitizers'
// findings, a picture that reads but does not read back the same after the module
// writes it aborts.
#include "Bcm.h"
#include "BcmMemoryFiles.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace gf;

namespace {

// Pictures larger than this are described but not decoded, to keep runs fast; the
// module's own bound is far above it.
constexpr uint64_t MaxDecodeBytes = uint64_t(256) << 10;

[[noreturn]] void Fail(const char* What) {
  std::fprintf(stderr, "bcm_fuzz: %s\n", What);
  std::abort();
}

struct TPicture {
  BcmBitmap Bitmap;
  std::vector<BcmPaletteEntry> Palette = std::vector<BcmPaletteEntry>(256);
  std::vector<uint8_t> Data;
};

// BcmOk with the picture, or the first error; 1 when the picture is too large here.
int Read(test::TMemoryFiles& Files, std::vector<uint8_t> File, const char* Options, TPicture& P) {
  const int h = Files.Add(std::move(File));
  int rc = BcmReadHeader("fuzz", h, GF_BCM_FORMAT, &P.Bitmap, Options);
  if (rc == BcmOk && BcmDataBytes(P.Bitmap) > MaxDecodeBytes)
    rc = -1;
  if (rc == BcmOk && P.Bitmap.BitsPerPixel != 24)
    rc = BcmReadPalette(h, GF_BCM_FORMAT, &P.Bitmap, P.Palette.data());
  if (rc == BcmOk) {
    P.Data.assign(BcmDataBytes(P.Bitmap), 0x5A);
    rc = BcmReadData(h, GF_BCM_FORMAT, &P.Bitmap, P.Data.data());
  }
  BcmIoClose(h);
  return rc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  test::TMemoryFiles files;
  const std::vector<uint8_t> file(Data, Data + Size);
  const char* options[] = {"", GF_BCM_FORMAT == BcmFormatBmp   ? "inv invb"
                               : GF_BCM_FORMAT == BcmFormatPcx ? "trunc"
                                                               : "ydown"};
  for (const char* o : options) {
    TPicture p;
    if (Read(files, file, o, p) != BcmOk)
      continue;
    if (std::string(BcmErrorText(BcmOk)) != "ok")
      Fail("error texts broken");
    // Write it back and read that: the pixels must survive. 1-bit PCX may come back
    // inverted (black is always stored as 0).
    const int bits = p.Bitmap.BitsPerPixel;
    if (GF_BCM_FORMAT == BcmFormatPcx && bits == 1)
      continue;
    const int out = BcmIoCreate("fuzz", 0);
    const int writeRc =
        BcmWrite("fuzz", out, GF_BCM_FORMAT, &p.Bitmap, p.Palette.data(), p.Data.data(), "");
    if (writeRc == BcmErrBadSize) { // a PCX line of 65536 bytes has no header field
      BcmIoClose(out);
      continue;
    }
    if (writeRc != BcmOk)
      Fail("a picture that was read could not be written");
    std::vector<uint8_t> written = files.Bytes(out);
    BcmIoClose(out);
    TPicture q;
    if (Read(files, written, "", q) != BcmOk)
      Fail("a written picture did not read back");
    if (q.Bitmap.Width != p.Bitmap.Width || q.Bitmap.Height != p.Bitmap.Height ||
        q.Bitmap.BitsPerPixel != bits)
      Fail("a written picture changed its size");
    // Bytes past the width are padding, which PCX does not keep.
    const uint64_t row = BcmRowBytes(p.Bitmap.Width, bits);
    const uint64_t used = (uint64_t(p.Bitmap.Width) * uint64_t(bits) + 7) / 8;
    for (uint64_t y = 0; y < uint64_t(p.Bitmap.Height); ++y)
      for (uint64_t i = 0; i < used; ++i) {
        const bool lastBits = i + 1 == used && bits == 1 && p.Bitmap.Width % 8;
        const uint8_t mask = lastBits ? uint8_t(0xFF00 >> (p.Bitmap.Width % 8)) : 0xFF;
        if ((p.Data[y * row + i] ^ q.Data[y * row + i]) & mask)
          Fail("a written picture did not read back the same");
      }
  }
  return 0;
}
