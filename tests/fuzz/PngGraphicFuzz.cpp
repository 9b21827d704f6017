// libFuzzer target: arbitrary bytes loaded as a PNG, then saved again. A load may
// end only in the class's own error or the stream's read error.
#include "ByteOrder.h"
#include "ImageFuzz.h"
#include "PngGraphic.h"

using namespace gf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  // The IHDR's size, when there is one, decides whether the picture is worth it.
  if (Size >= 24) {
    const uint64_t w = Be32(Data + 16);
    const uint64_t h = Be32(Data + 20);
    if (w * h > FuzzMaxPixels)
      return 0;
  }
  auto stream = FuzzStream(Data, Size);
  TPngGraphic png;
  png.IgnoreFileBackground = Size % 2 == 1;
  try {
    png.LoadFromStream(*stream);
  } catch (const EPNGError&) {
    return 0;
  } catch (const EStreamError&) {
    return 0;
  } catch (const EQuorvaneError&) {
    return 0;
  }
  TMemoryStream out;
  png.Interlaced = Size % 3 == 0;
  png.SaveToStream(out); // a loaded picture always saves
  return 0;
}
