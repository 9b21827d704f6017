// libFuzzer target: arbitrary bytes counted and loaded as a TIFF (every page), then
// saved again. A load may end only in the library's own errors, a save only in a
// refusal up front.
#include "ImageFuzz.h"
#include "TiffGraphic.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

using namespace gf;

namespace {
// The largest page, as libtiff reads the directories, so that huge pictures can be
// skipped before the class allocates them. 0 when libtiff cannot open the bytes.
uint64_t LargestPage(TStream& Stream) {
  uint64_t largest = 0;
  TTiffGraphic probe;
  try {
    const int pages = probe.GetImageCount(Stream);
    (void)pages;
  } catch (...) {
    return 0;
  }
  // Count again through a plain memory view to read each page's size.
  auto* memory = static_cast<TMemoryStream*>(&Stream);
  struct TView {
    const uint8_t* Data;
    toff_t Size, Pos = 0;
  } view{memory->Memory(), static_cast<toff_t>(memory->GetSize())};
  TIFF* tif = TIFFClientOpen(
      "fuzz", "rm", &view,
      [](thandle_t H, void* B, tmsize_t N) -> tmsize_t {
        auto* v = static_cast<TView*>(H);
        const toff_t n =
            std::min<toff_t>(static_cast<toff_t>(N), v->Pos < v->Size ? v->Size - v->Pos : 0);
        std::memcpy(B, v->Data + v->Pos, n);
        v->Pos += n;
        return static_cast<tmsize_t>(n);
      },
      [](thandle_t, void*, tmsize_t) -> tmsize_t { return -1; },
      [](thandle_t H, toff_t Off, int Whence) -> toff_t {
        auto* v = static_cast<TView*>(H);
        v->Pos = Whence == SEEK_SET ? Off : Whence == SEEK_CUR ? v->Pos + Off : v->Size + Off;
        return v->Pos;
      },
      [](thandle_t) { return 0; }, [](thandle_t H) { return static_cast<TView*>(H)->Size; },
      [](thandle_t, void**, toff_t*) { return 0; }, [](thandle_t, void*, toff_t) {});
  if (!tif)
    return 0;
  int pages = 0;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    largest = std::max<uint64_t>(largest, uint64_t{w} * h);
  } while (++pages < 8 && TIFFReadDirectory(tif));
  TIFFClose(tif);
  return largest;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  TIFFSetErrorHandler(nullptr); // the probe's complaints are of no interest
  TIFFSetWarningHandler(nullptr);
  auto stream = FuzzStream(Data, Size);
  if (LargestPage(*stream) > FuzzMaxPixels)
    return 0;
  stream->SetPosition(0);
  TTiffGraphic tiff;
  tiff.SetLoadAllFrames(Size % 2 == 1);
  try {
    tiff.LoadFromStream(*stream);
  } catch (const ETiffError&) {
    return 0;
  } catch (const EQuorvaneError&) {
    return 0;
  }
  // A loaded picture saves, or the class refuses it before writing a byte (as for
  // JPEG rows wider than libjpeg codes). A failure once writing began is a fault.
  TMemoryStream out;
  try {
    tiff.SaveToStream(out);
  } catch (const ETiffError&) {
    if (out.GetSize() != 0)
      throw;
  }
  return 0;
}
