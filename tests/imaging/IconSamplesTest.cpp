#include "IconGraphic.h"
#include "Samples.h"

#include <gtest/gtest.h>

#include <png.h>

#include <vector>

using namespace gf;

// A real icon that no one here wrote, against the reference picture shipped beside it.
TEST(IconGraphic, RealIconMatchesItsReference) {
  const std::string dir =
      SampleRoot() + "/usr/libexec/installed-tests/gdk-pixbuf/test-images/reftests/";
  if (!SamplesAvailable())
    GTEST_SKIP() << SamplesUnavailableReason();
  TIconGraphic g;
  g.LoadFromFile(dir + "squares.ico");
  png_image ref{};
  ref.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&ref, (dir + "squares.ico.ref.png").c_str()));
  ref.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> px(PNG_IMAGE_SIZE(ref));
  ASSERT_TRUE(png_image_finish_read(&ref, nullptr, px.data(), 0, nullptr));
  ASSERT_EQ(g.GetWidth(), static_cast<int>(ref.width));
  ASSERT_EQ(g.GetHeight(), static_cast<int>(ref.height));
  int opaque = 0;
  for (int y = 0; y < g.GetHeight(); ++y)
    for (int x = 0; x < g.GetWidth(); ++x) {
      const uint8_t* p =
          &px[(static_cast<std::size_t>(y) * ref.width + static_cast<std::size_t>(x)) * 4];
      const TColor want = p[3] == 0 ? 0 : RGBToColor(p[0], p[1], p[2]);
      ASSERT_EQ(g.GetPixelColor(x, y), want) << x << "," << y;
      opaque += p[3] != 0;
    }
  EXPECT_GT(opaque, 0);
}
