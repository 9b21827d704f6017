// Writes a seed corpus for jpeg_fuzz into the folder given (made when missing): small
// JPEGs from libjpeg in grey and colour, baseline and progressive, with and without
// chroma subsampling and restart markers.
#include "Libjpeg.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_jpeg_seeds DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  int n = 0;
  for (int comps : {1, 3})
    for (bool progressive : {false, true})
      for (int quality : {30, 95}) {
        gf::test::TDirectPicture p;
        p.Width = 19;
        p.Height = 11;
        p.Components = comps;
        for (uint32_t i = 0; i < p.Width * p.Height * uint32_t(comps); ++i)
          p.Pixels.push_back(static_cast<uint8_t>(i * 7 + (i / 19) * 3));
        gf::test::TDirectOptions o;
        o.Quality = quality;
        o.Progressive = progressive;
        o.DensityUnit = static_cast<uint8_t>(n % 3);
        const std::vector<uint8_t> bytes = gf::test::DirectEncode(p, o);
        std::ofstream(dir / ("seed" + std::to_string(n++) + ".jpg"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
      }
  return 0;
}
