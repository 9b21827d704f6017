// libFuzzer target: arbitrary bytes loaded as a TIFF (one page or every page), then
// saved again. A load may end only in the library's own errors; a loaded picture
// saves, unless the class refuses it before writing anything.
#include "ImageFuzz.h"
#include "TiffGraphic.h"

using namespace gf;

namespace {
// Huge pages are skipped before the class allocates them, and so are files of many
// pages, whose sizes are read one page at a time.
bool AnyPageTooLarge(TStream& Stream) {
  TTiffGraphic probe;
  const int pages = probe.GetImageCount(Stream);
  if (pages > 64)
    return true;
  for (int page = 1; page <= pages; ++page) {
    Stream.SetPosition(0);
    const std::optional<TImageSize> size = probe.ReadImageSize(Stream, page);
    if (size && size->Width > 0 && size->Height > 0 &&
        static_cast<uint64_t>(size->Width) * static_cast<uint64_t>(size->Height) > FuzzMaxPixels)
      return true;
  }
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
