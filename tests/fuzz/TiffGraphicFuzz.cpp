// libFuzzer target: arbitrary bytes loaded as a TIFF (one page or every page), then
// saved again. A load may end only in the library's own errors; a loaded picture
// saves, unless the class refuses it before writing anything.
#include "ImageFuzz.h"
#include "TiffGraphic.h"

using namespace gf;

namespace {
// Huge pages are skipped before the class allocates them.
bool AnyPageTooLarge(TStream& Stream) {
  for (const TTiffPageSize& page : TiffPageSizes(Stream))
    if (uint64_t{page.Width} * page.Height > FuzzMaxPixels)
      return true;
  return false;
}

// The one save the class refuses up front.
bool RefusedUpFront(const TTiffGraphic& Tiff, TMemoryStream& Out) {
  return Tiff.GetCompression() == tcJpeg && Tiff.GetWidth() > TiffJpegMaxWidth &&
         Out.GetSize() == 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  auto stream = FuzzStream(Data, Size);
  TTiffGraphic tiff;
  tiff.SetLoadAllFrames(Size % 2 == 1);
  try {
    if (AnyPageTooLarge(*stream))
      return 0;
    stream->SetPosition(0);
    tiff.LoadFromStream(*stream);
  } catch (const ETiffError&) {
    return 0;
  } catch (const EQuorvaneError&) {
    return 0;
  }
  TMemoryStream out;
  try {
    tiff.SaveToStream(out);
  } catch (const ETiffError&) {
    if (!RefusedUpFront(tiff, out))
      throw; // a failure halfway through the file: the class let through what it cannot write
  }
  return 0;
}
