// libFuzzer target: arbitrary bytes loaded by the JPEG image class. Failures must be
// exceptions (of the class, of libjpeg's messages, of the stream); a picture that
// loads must save and load again. Declared sizes above a million pixels are skipped
// (read by libjpeg alone first), as the class would allocate for them.
#include "JpegGraphic.h"

#include "Libjpeg.h"
#include "Streams.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

using namespace gf;

namespace {
[[noreturn]] void Fail(const char* What) {
  std::fprintf(stderr, "jpeg_fuzz: %s\n", What);
  std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  uint32_t w = 0, h = 0;
  if (test::DirectHeaderSize(Data, Size, w, h) && uint64_t(w) * h > 1000000)
    return 0;
  TMemoryStream in;
  in.WriteBuffer(Data, Size);
  in.SetPosition(0);
  TJpegGraphic g;
  try {
    g.LoadFromStream(in);
  } catch (const std::exception&) {
    return 0;
  }
  if (g.GetEmpty() || (g.ImageFormat() != ifGray256 && g.ImageFormat() != ifTrueColor))
    Fail("a load succeeded without a grey or true-colour picture");
  TMemoryStream out;
  try {
    g.SaveToStream(out);
    out.SetPosition(0);
    TJpegGraphic again;
    again.LoadFromStream(out);
    if (again.GetWidth() != g.GetWidth() || again.GetHeight() != g.GetHeight())
      Fail("a saved picture came back another size");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "jpeg_fuzz: %s\n", e.what());
    Fail("a picture that loaded did not save and load again");
  }
  return 0;
}
