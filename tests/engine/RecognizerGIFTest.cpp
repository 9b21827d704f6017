#include "recognizers/RecognizerGIF.h"
#include "Debug.h"
#include "MemoryMedium.h"

#include "LoggedTest.h"

#include <gtest/gtest.h>

using namespace gf;
using namespace gf::test;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Signature and logical screen descriptor (2 x 3 pixels) with the given flags,
// followed by the global colour table those flags call for.
Bytes Head(uint8_t flags, const char* sig = "GIF89a") {
  Bytes b(sig, sig + 6);
  b = b + Bytes{2, 0, 3, 0, flags, 0, 0};
  if (flags & 0x80)
    b.resize(b.size() + (3u << ((flags & 7) + 1)), 0x11);
  return b;
}

Bytes SubBlocks(std::initializer_list<uint8_t> lengths) {
  Bytes b;
  for (uint8_t n : lengths) {
    b.push_back(n);
    b.resize(b.size() + n, 0x3B); // data bytes that look like a trailer
  }
  b.push_back(0);
  return b;
}

Bytes Image(uint8_t flags, std::initializer_list<uint8_t> lengths) {
  Bytes b{0x2C, 0, 0, 0, 0, 2, 0, 3, 0, flags};
  if (flags & 0x80)
    b.resize(b.size() + (3u << ((flags & 7) + 1)), 0x21);
  b.push_back(2); // LZW code size
  return b + SubBlocks(lengths);
}

Bytes Place(const Bytes& file, std::size_t mediumSize, uint32_t atSector = 0) {
  Bytes img(mediumSize, 0x2C); // what follows the file would read as another block
  std::copy(file.begin(), file.end(), img.begin() + atSector * 512);
  return img;
}

class GIF : public gf::test::TLoggedTest {};

} // namespace

TEST_F(GIF, Signatures) {
  struct {
    const char* sig;
    bool want;
  } cases[] = {{"GIF87a", true},  {"GIF89a", true},  {"GIF88a", false},
               {"GIF89b", false}, {"GIF87A", false}, {"GIF8 a", false}};
  for (auto& c : cases) {
    TMemoryMedium m(Place(Head(0, c.sig), 1024));
    TGIFRecognizer r;
    EXPECT_EQ(r.Check(m), c.want) << c.sig;
  }
}

TEST_F(GIF, BlockWalkMeasuresToTheTrailer) {
  const Bytes gce{0x21, 0xF9, 4, 1, 0, 0, 0, 0};
  const Bytes app = Bytes{0x21, 0xFF, 11} + Bytes(11, 'N') + SubBlocks({3});
  const Bytes emptyComment{0x21, 0xFE, 0};
  struct {
    const char* what;
    Bytes file;
  } cases[] = {
      {"trailer right after a 256-colour table, at 781", Head(0xF7) + Bytes{0x3B}},
      {"no global table", Head(0x00) + Image(0, {5}) + Bytes{0x3B}},
      {"extensions, local table, chained sub-blocks",
       Head(0x91) + app + gce + Image(0x82, {255, 255, 7}) + gce + Image(0, {1}) + Bytes{0x3B}},
      {"an extension whose data ends at once",
       Head(0x80) + emptyComment + Image(0, {4}) + Bytes{0x3B}},
      {"a file that spans many sectors",
       Head(0xF7) + Image(0, {255, 255, 255, 255, 255, 255, 255, 255, 100}) + Bytes{0x3B}},
  };
  for (auto& c : cases) {
    for (uint32_t sector : {0u, 3u}) {
      auto img = Place(c.file, 16 * 512, sector);
      TMemoryMedium m(img);
      TGIFRecognizer r;
      m.SetPosition(sector);
      ASSERT_TRUE(r.Check(m)) << c.what;
      TMemoryStream s;
      ASSERT_TRUE(r.Extract(m, s)) << c.what;
      ASSERT_EQ(static_cast<std::size_t>(s.GetPosition()), c.file.size()) << c.what;
      EXPECT_TRUE(std::equal(c.file.begin(), c.file.end(), s.Memory())) << c.what;
    }
  }
  EXPECT_EQ((Head(0xF7) + Bytes{0x3B}).size(), 782u);
  EXPECT_TRUE(TDebugLines::Instance().Snapshot().empty());
}

TEST_F(GIF, WalkFailures) {
  struct {
    const char* what;
    Bytes file;
    std::size_t medium;
    const char* line;
  } cases[] = {
      {"unexpected byte after a 256-colour table", Head(0xF7) + Bytes{0x2A}, 4096,
       "GIF: Unexpected tag 42 at offset 781"},
      {"a byte 0x01 where a block starts", Head(0) + Bytes{0x01}, 4096,
       "GIF: Unexpected tag 1 at offset 13"},
      {"unexpected byte after an image", Head(0) + Image(0, {9}) + Bytes{0x00}, 4096,
       "GIF: Unexpected tag 0 at offset 35"},
      {"sub-blocks running off the medium", Head(0) + Image(0, {200, 200, 200}), 512, nullptr},
  };
  for (auto& c : cases) {
    TDebugLines::Instance().Clear();
    Bytes img = c.file;
    img.resize(c.medium, 0xC8); // sub-blocks of 200 bytes go on to the end
    TMemoryMedium m(img);
    TGIFRecognizer r;
    TMemoryStream s;
    EXPECT_FALSE(r.Extract(m, s)) << c.what;
    EXPECT_EQ(s.GetSize(), 0) << c.what;
    auto lines = TDebugLines::Instance().Snapshot();
    if (c.line) {
      ASSERT_EQ(lines.size(), 1u) << c.what;
      EXPECT_EQ(lines[0], c.line);
    } else {
      ASSERT_FALSE(lines.empty()) << c.what;
      EXPECT_EQ(lines.back().rfind("RECOGNIZER: Medium  Data is NULL", 0), 0u) << lines.back();
    }
  }
}

TEST_F(GIF, LongFilesAreCutAtTheLimitAndEndlessOnesGiveUp) {
  // An image whose data is sub-blocks of 255 bytes of 0xFF, like erased flash.
  // Length bytes stand at 24 + 256k; the chain ends at the one given.
  auto longGif = [](std::size_t terminatorAt, std::size_t medium) {
    Bytes img(medium, 0xFF);
    Bytes head = Head(0) + Bytes{0x2C, 0, 0, 0, 0, 2, 0, 3, 0, 0, 2};
    std::copy(head.begin(), head.end(), img.begin());
    if (terminatorAt) {
      img[terminatorAt] = 0;
      img[terminatorAt + 1] = 0x3B;
    }
    return img;
  };
  {
    auto img = longGif(24 + 256 * 8192, 3 << 20); // 2 MiB in
    TMemoryMedium m(img);
    TGIFRecognizer r;
    TMemoryStream s;
    EXPECT_TRUE(r.Extract(m, s));
    EXPECT_EQ(s.GetPosition(), 1048576) << "measured, then cut at MaxSize";
  }
  {
    auto img = longGif(0, TGIFRecognizer::WalkLimit + 1048576);
    TMemoryMedium m(img);
    TGIFRecognizer r;
    TMemoryStream s;
    EXPECT_FALSE(r.Extract(m, s)) << "no trailer within the walk's limit";
    EXPECT_EQ(s.GetSize(), 0);
  }
}
