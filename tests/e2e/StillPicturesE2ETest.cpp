// Real pictures that no one here wrote, taken from Debian packages, copied onto a
// FAT card image, partly deleted, the card reformatted, then scanned end to end:
// every picture must come back byte for byte.
#include "FatCard.h"
#include "MemoryMedium.h"
#include "ScanHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

using namespace gf;
using namespace gf::test;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct TSample {
  std::string Path, Type;
  Bytes Data;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The type key each extension's pictures are saved under.
std::string TypeOf(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  static const std::map<std::string, std::string> keys{
      {".png", "PNG"}, {".tif", "TIF"}, {".tiff", "TIF"}, {".bmp", "BMP"}, {".gif", "GIF"}};
  auto it = keys.find(ext);
  return it == keys.end() ? "" : it->second;
}

// Every PNG, TIFF, BMP and GIF of the packages. All of them are measured to their
// exact length: no other recognizer claims them first, and the one tiled TIFF keeps
// its tiles before its directory (tile tables are not followed, so tiles that lay
// after every directory, strip and value would be cut off).
std::vector<TSample> Samples(const fs::path& root) {
  std::vector<TSample> samples;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && !TypeOf(e.path()).empty())
      samples.push_back({e.path().string(), TypeOf(e.path()), ReadAll(e.path())});
  std::sort(samples.begin(), samples.end(), [](auto& a, auto& b) { return a.Path < b.Path; });
  return samples;
}

class StillPicturesE2E : public ::testing::TestWithParam<uint32_t> {};

} // namespace

TEST_P(StillPicturesE2E, FatCardImage) {
  const fs::path dir = GF_SAMPLES_DIR;
  if (!fs::exists(dir / "root")) {
    const Bytes why = ReadAll(dir / "UNAVAILABLE");
    GTEST_SKIP() << "sample pictures from Debian packages are not available: "
                 << (why.empty() ? "not fetched" : std::string(why.begin(), why.end()));
  }
  if (std::string missing = MissingCardTools(); !missing.empty())
    GTEST_SKIP() << missing;
  const auto samples = Samples(dir / "root");
  ASSERT_FALSE(samples.empty()) << "no PNG, TIFF, BMP or GIF files in the sample packages";

  const uint32_t sectorSize = GetParam();
  const fs::path work = dir / ("card-" + std::to_string(sectorSize));
  fs::remove_all(work);
  fs::create_directories(work);
  const std::string image = (work / "card.img").string();
  std::size_t total = 0;
  for (auto& s : samples)
    total += s.Data.size();
  const std::size_t kib = 4096 + 2 * total / 1024;
  const std::string options = " -S " + std::to_string(sectorSize) + " -n GLIMMER " + Quote(image);
  ASSERT_TRUE(Shell("mkfs.vfat -C" + options + " " + std::to_string(kib)));
  const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
  auto name = [&](std::size_t i) {
    return "::/" + std::to_string(i) + "_" + fs::path(samples[i].Path).filename().string();
  };
  for (std::size_t i = 0; i < samples.size(); ++i)
    ASSERT_TRUE(Shell(mtools + "mcopy -i " + Quote(image) + " " + Quote(samples[i].Path) + " " +
                      Quote(name(i))))
        << name(i);
  // Deleted once all are written, so that no later copy reuses their clusters.
  for (std::size_t i = 1; i < samples.size(); i += 3)
    ASSERT_TRUE(Shell(mtools + "mdel -i " + Quote(image) + " " + Quote(name(i)))) << name(i);
  ASSERT_TRUE(Shell("mkfs.vfat" + options)) << "reformat"; // the data area stays as it was

  TMemoryMedium m(ReadAll(image), sectorSize);
  ASSERT_GT(m.SectorCount(), 0u);
  TRecognizers reg;
  RegisterBuiltinRecognizers(reg);
  auto res = Scan(m, reg);
  EXPECT_TRUE(res.Completed);

  std::map<std::string, int> perType;
  for (auto& s : samples) {
    ++perType[s.Type];
    auto found = std::find_if(res.Files.begin(), res.Files.end(), [&](const TFound& f) {
      return f.Name == s.Type && f.Bytes == s.Data;
    });
    EXPECT_NE(found, res.Files.end())
        << s.Path << " (" << s.Data.size() << " bytes) not recovered whole as " << s.Type;
  }
  for (auto& [type, n] : perType)
    std::printf("%d %s samples recovered and compared\n", n, type.c_str());
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, StillPicturesE2E, ::testing::Values(512u, 2048u));
