#include "recognizers/RecognizerBMP.h"
#include "ByteFixture.h"
#include "Debug.h"
#include "MemoryMedium.h"

#include "LoggedTest.h"

#include <gtest/gtest.h>

using namespace gf;
using namespace gf::test;

namespace {

// A BMP header at byte At: "BM", the file size, and the fields the test looks at.
void Header(std::vector<uint8_t>& b, std::size_t at, uint32_t fileSize, uint32_t headerSize,
            uint32_t planes, uint32_t compression) {
  b[at] = 'B';
  b[at + 1] = 'M';
  Put32(b, at + 2, fileSize);
  Put32(b, at + 14, headerSize);
  if (headerSize == 12) {
    Put16(b, at + 22, planes);
  } else {
    Put16(b, at + 26, planes);
    Put32(b, at + 30, compression);
  }
}

std::vector<uint8_t> Noise(std::size_t n) {
  std::vector<uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  return b;
}

class BMP : public gf::test::TLoggedTest {};

} // namespace

TEST_F(BMP, HeaderTests) {
  struct {
    const char* what;
    uint32_t headerSize, planes, compression;
    bool want;
    const char* line; // logged line, or null for none
  } cases[] = {
      {"OS/2, one plane", 12, 1, 0, true, nullptr},
      {"OS/2 is not tested for compression", 12, 1, 99, true, nullptr},
      {"OS/2, two planes", 12, 2, 0, false, "BMP: OS2 Bitmap at 3 failing Planes (2) sanity check"},
      {"Windows, compression 3", 40, 1, 3, true, nullptr},
      {"Windows, compression 4", 40, 1, 4, false,
       "BMP: WIN Bitmap at 3 failing Compression (4) sanity check"},
      {"compression compared unsigned", 124, 1, 0xFFFFFFFF, false,
       "BMP: WIN Bitmap at 3 failing Compression (4294967295) sanity check"},
      {"Windows, two planes", 40, 2, 0, false,
       "BMP: WIN Bitmap at 3 failing Planes (2) sanity check"},
      {"any other header size is Windows", 0, 1, 0, true, nullptr},
  };
  for (auto& c : cases) {
    TDebugLines::Instance().Clear();
    auto img = Noise(8 * 512);
    Header(img, 3 * 512, 1000, c.headerSize, c.planes, c.compression);
    if (c.headerSize == 12) // the Windows fields' places hold something that would fail
      Put32(img, 3 * 512 + 30, 77);
    TMemoryMedium m(img);
    TBMPRecognizer r;
    m.SetPosition(3);
    EXPECT_EQ(r.Check(m), c.want) << c.what;
    EXPECT_EQ(m.GetPosition(), 3u);
    auto lines = TDebugLines::Instance().Snapshot();
    if (c.line) {
      ASSERT_EQ(lines.size(), 1u) << c.what;
      EXPECT_EQ(lines[0], c.line);
    } else {
      EXPECT_TRUE(lines.empty()) << c.what << ": " << lines[0];
    }
  }
  // Not "BM": refused without a word.
  auto img = Noise(512);
  Header(img, 0, 1000, 40, 1, 0);
  img[1] = 'N';
  TMemoryMedium m(img);
  TBMPRecognizer r;
  EXPECT_FALSE(r.Check(m));
  EXPECT_TRUE(TDebugLines::Instance().Snapshot().empty());
}

TEST_F(BMP, ExtractCopiesTheDeclaredSizeCutAtTheLimit) {
  struct {
    uint32_t declared, sectorSize;
    std::size_t want;
  } cases[] = {
      {10000, 512, 10000}, {9 * 1048576, 512, 8388608}, {0, 512, 0}, {10000, 2048, 10000},
      {5000, 16, 5000}, // sectors smaller than the header
  };
  for (auto& c : cases) {
    auto img = Noise(10 * 1048576);
    Header(img, 2 * c.sectorSize, c.declared, 40, 1, 0);
    TMemoryMedium m(img, c.sectorSize);
    TBMPRecognizer r;
    EXPECT_EQ(r.MaxSize, 8388608u);
    m.SetPosition(2);
    ASSERT_TRUE(r.Check(m)) << c.declared;
    TMemoryStream s;
    EXPECT_TRUE(r.Extract(m, s)) << c.declared;
    ASSERT_EQ(static_cast<std::size_t>(s.GetPosition()), c.want) << c.declared;
    EXPECT_TRUE(std::equal(s.Memory(), s.Memory() + c.want, img.begin() + 2 * c.sectorSize))
        << c.declared;
  }
}

TEST_F(BMP, ExtractMeetingAnUnreadableSectorAnswersFalse) {
  auto img = Noise(300 * 512);
  Header(img, 0, 100000, 40, 1, 0);
  TMemoryMedium m(img);
  m.FailSector(100);
  TBMPRecognizer r;
  TMemoryStream s;
  EXPECT_FALSE(r.Extract(m, s));
  EXPECT_EQ(m.GetPosition(), 0u);
  EXPECT_EQ(s.GetPosition(), 64 * 512) << "the readable first block was copied";
}
