// libFuzzer target: arbitrary bytes read as an icon file, then saved as an icon. A
// read may end only in the icon's "Invalid icon".
#include "IconGraphic.h"
#include "ImageFuzz.h"

using namespace gf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  auto stream = FuzzStream(Data, Size);
  TIconGraphic icon;
  try {
    icon.LoadFromStream(*stream);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  TMemoryStream out;
  icon.SaveToStream(out);
  return 0;
}
