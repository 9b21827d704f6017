#include "recognizers/RecognizerJPG.h"
#include "FakeRecognizer.h"
#include "MemoryMedium.h"

#include <gtest/gtest.h>

using namespace gf;
using namespace gf::test;

TEST(RecognizerJPG, Signatures) {
  struct {
    const char* bytes;
    uint32_t at;
    bool want;
  } cases[] = {
      {"\xFF\xD8\xFF\xE0", 0, true},  {"\xFF\xD8\xFF\xE1", 0, true},
      {"\xFF\xD8\xFF\xDB", 0, false}, {"\xFF\xD8\xFF\xE2", 0, false},
      {"\xFF\xD8\xFF\xFE", 0, false}, {"\xFF\xD8\xFE\xE0", 0, false},
      {"\xFF\xD8\xFF\xE0", 1, false}, // not at a sector start
  };
  for (auto& c : cases) {
    std::vector<uint8_t> img(2 * 512);
    std::memcpy(img.data() + c.at, c.bytes, 4);
    TMemoryMedium m(img);
    TJPGRecognizer r;
    m.SetPosition(0);
    EXPECT_EQ(r.Check(m), c.want) << std::hex << int(uint8_t(c.bytes[3])) << " @" << c.at;
  }
}

TEST(RecognizerJPG, AlwaysCarvedAndLimit) {
  TJPGRecognizer r;
  EXPECT_EQ(r.GetName(), "JPG");
  EXPECT_EQ(r.MaxSize, 3145728u);
  std::vector<uint8_t> img(512);
  TMemoryMedium m(img);
  TMemoryStream s;
  EXPECT_FALSE(r.Extract(m, s));
  EXPECT_EQ(s.GetSize(), 0);
  EXPECT_EQ(r.Depth, 1);
}

TEST(RecognizerJPG, MarkerTable) {
  const auto& t = MarkerTable();
  EXPECT_TRUE(t[0xC4].Known && t[0xC4].HasLength);
  EXPECT_TRUE(t[0xDA].ScanData && !t[0xDA].HasLength);
  EXPECT_TRUE(t[0xE1].Known && t[0xE1].ScanData);
  EXPECT_TRUE(t[0xFE].HasLength);
  EXPECT_FALSE(t[0x02].Known);
  EXPECT_FALSE(t[0xFF].Known);
}

TEST(RecognizerJPG, SegmentWalkerMeasuresASmallFile) {
  // SOI, DQT (length 4), SOS with one component and scan data holding FF 00 and a
  // restart marker, EOI.
  const uint8_t file[] = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x01, 0x02, 0xFF,
                          0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00,
                          0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0xFF, 0xD9};
  std::vector<uint8_t> img(1024, 0);
  std::memcpy(img.data(), file, sizeof file);
  TMemoryMedium m(img);
  TJPGRecognizer r;
  m.SetPosition(0);
  r.Check(m);
  r.Extract(m, *std::make_unique<TMemoryStream>());
  std::vector<int> markers;
  while (r.ParseSegment() && markers.size() < 10) {
    markers.push_back(r.LastMarker);
    if (r.LastMarker == 0xD9)
      break;
  }
  EXPECT_EQ(markers, (std::vector<int>{0xD8, 0xDB, 0xDA, 0xD9}));
  EXPECT_EQ(r.Offset, sizeof file);
}
