// Writes a few small pictures of every format and compression through the image
// classes, as seeds for the PNG, TIFF and icon fuzz targets:
// make_image_seeds PNGDIR TIFFDIR ICONDIR
#include "IconGraphic.h"
#include "PngGraphic.h"
#include "TiffGraphic.h"

#include <filesystem>
#include <string>

using namespace gf;

int main(int argc, char** argv) {
  if (argc != 4)
    return 2;
  for (int i = 1; i < 4; ++i)
    std::filesystem::create_directories(argv[i]);
  int n = 0;
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    const auto format = static_cast<TImageFormat>(f);
    TPngGraphic png;
    png.NewImage(7, 5, format, nullptr, 72, 72);
    for (int i = 0; i < 35; ++i)
      png.Bits()[i % png.ImageSize()] = static_cast<uint8_t>(i * 29);
    png.Interlaced = f % 2 == 0;
    png.SaveTransparency = f >= ifColor16;
    png.SaveToFile(std::string(argv[1]) + "/seed" + std::to_string(f) + ".png");
    TIconGraphic icon;
    icon.Assign(&png);
    icon.SaveToFile(std::string(argv[3]) + "/seed" + std::to_string(f) + ".ico");
    for (TTiffCompression c :
         {tcNone, tcPackbits, tcGroup3_1D, tcGroup3_2D, tcGroup4, tcZLib, tcJpeg}) {
      TTiffGraphic tiff;
      tiff.Assign(&png);
      try {
        tiff.SetCompression(c);
      } catch (const EQuorvaneError&) {
        continue;
      }
      tiff.SaveToFile(std::string(argv[2]) + "/seed" + std::to_string(n++) + ".tif");
    }
  }
  return 0;
}
