#include "recognizers/RecognizerPNG.h"
#include "ByteFixture.h"
#include "Debug.h"
#include "MemoryMedium.h"

#include "LoggedTest.h"

#include <gtest/gtest.h>

using namespace gf;
using namespace gf::test;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes Signature{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// One chunk: length, type, Length data bytes and a CRC (not checked, so any bytes).
Bytes Chunk(const char* type, uint32_t length, uint8_t fill = 0x5A) {
  Bytes b(std::size_t{length} + 12, fill);
  PutBe32(b, 0, length);
  PutText(b, 4, std::string_view(type, 4));
  return b;
}

Bytes Png(std::initializer_list<Bytes> chunks) {
  Bytes b = Signature;
  for (auto& c : chunks)
    b.insert(b.end(), c.begin(), c.end());
  return b;
}

Bytes Place(const Bytes& file, std::size_t medium, std::size_t at = 0) {
  Bytes img(medium, 0x49); // "IIII...": a chunk walk that ran on would meet letters
  std::copy(file.begin(), file.end(), img.begin() + static_cast<long>(at));
  return img;
}

class PNG : public gf::test::TLoggedTest {};

} // namespace

TEST_F(PNG, Signature) {
  for (std::size_t i = 0; i <= Signature.size(); ++i) {
    Bytes head = Signature;
    if (i < head.size())
      head[i] ^= 0x20;
    TMemoryMedium m(Place(head, 1024));
    TPNGRecognizer r;
    EXPECT_EQ(r.Check(m), i == head.size()) << "byte " << i << " changed";
  }
}

TEST_F(PNG, ChunkWalkWritesTheWholeFile) {
  const Bytes ihdr = Chunk("IHDR", 13), iend = Chunk("IEND", 0);
  struct {
    const char* what;
    Bytes file;
    uint32_t sectorSize;
  } cases[] = {
      {"smallest", Png({ihdr, iend}), 512},
      {"chunks across sectors", Png({ihdr, Chunk("tEXt", 700), Chunk("IDAT", 3000), iend}), 512},
      {"ends inside a sector", Png({ihdr, Chunk("IDAT", 1), iend}), 2048},
      // Beyond MaxSize, and one chunk larger than the copy buffer.
      {"1.5 MiB",
       Png({ihdr, Chunk("IDAT", 1000000), Chunk("IDAT", 572864 - 8 - 25 - 12 - 24), iend}), 512},
  };
  for (auto& c : cases) {
    auto img = Place(c.file, 5 * c.sectorSize + c.file.size() + 8192, 5 * c.sectorSize);
    TMemoryMedium m(img, c.sectorSize);
    TPNGRecognizer r;
    m.SetPosition(5);
    ASSERT_TRUE(r.Check(m)) << c.what;
    TMemoryStream s;
    ASSERT_TRUE(r.Extract(m, s)) << c.what;
    ASSERT_EQ(static_cast<std::size_t>(s.GetPosition()), c.file.size()) << c.what;
    EXPECT_TRUE(std::equal(c.file.begin(), c.file.end(), s.Memory())) << c.what;
  }
  EXPECT_EQ(
      Png({ihdr, Chunk("IDAT", 1000000), Chunk("IDAT", 572864 - 8 - 25 - 12 - 24), iend}).size(),
      1572864u)
      << "8 + the sum of length + 12 over the chunks";
}

TEST_F(PNG, WalkFailures) {
  const Bytes ihdr = Chunk("IHDR", 13), iend = Chunk("IEND", 0);
  auto withLength = [](uint32_t length) {
    Bytes c = Chunk("IDAT", 0);
    PutBe32(c, 0, length);
    return c;
  };
  struct {
    const char* what;
    Bytes file;
    const char* line;
    bool writes; // the walk began, so the stream saw bytes before it was set back
  } cases[] = {
      {"first chunk not IHDR", Png({Chunk("IHDX", 13), iend}), nullptr, false},
      {"lower-case ihdr", Png({Chunk("ihdr", 13), iend}), nullptr, false},
      {"a digit in a chunk type", Png({ihdr, Chunk("tEX1", 4), iend}),
       "PNG: Got invalid chunk name tEX1", true},
      {"a chunk that is not a letter", Png({ihdr, Chunk("IDAT", 100)}),
       "PNG: Got invalid chunk name 0000", true},
      {"the medium ends before IEND", Png({ihdr, Chunk("IDAT", 7680 - 8 - 25 - 12)}), nullptr,
       true},
      {"length wraps the 32-bit size", Png({ihdr, withLength(0xFFFFFFF8), iend}), nullptr, true},
      {"length above the format's limit", Png({ihdr, withLength(0x80000000), iend}), nullptr, true},
      {"chunk longer than the rest of the medium", Png({ihdr, withLength(9000), iend}), nullptr,
       true},
  };
  for (auto& c : cases) {
    TDebugLines::Instance().Clear();
    auto img = Place(c.file, 8192, 512);
    if (c.file.size() < 1000) // what follows: digits, so a walk that runs on fails at once
      std::fill(img.begin() + 512 + static_cast<long>(c.file.size()), img.end(), '0');
    TMemoryMedium m(img);
    TPNGRecognizer r;
    m.SetPosition(1);
    TMemoryStream s;
    EXPECT_FALSE(r.Extract(m, s)) << c.what;
    EXPECT_EQ(s.GetPosition(), 0) << c.what;
    EXPECT_EQ(s.GetSize() > 0, c.writes) << c.what;
    EXPECT_EQ(m.GetPosition(), 1u) << c.what;
    auto lines = TDebugLines::Instance().Snapshot();
    if (c.line) {
      ASSERT_EQ(lines.size(), 1u) << c.what;
      EXPECT_EQ(lines[0], c.line);
    }
  }
}

TEST_F(PNG, ChunkBeyondTheWalkLimitIsRefusedBeforeCopying) {
  const std::size_t size = TPNGRecognizer::WalkLimit + 4096;
  Bytes img(size, 0);
  Bytes head = Png({Chunk("IHDR", 13)});
  Bytes idat = Chunk("IDAT", 0);
  const uint32_t length = TPNGRecognizer::WalkLimit - 33 - 12 + 1; // one byte too many
  PutBe32(idat, 0, length);
  head.insert(head.end(), idat.begin(), idat.begin() + 8);
  std::copy(head.begin(), head.end(), img.begin());
  TMemoryMedium m(std::move(img));
  TPNGRecognizer r;
  TMemoryStream s;
  EXPECT_FALSE(r.Extract(m, s));
  EXPECT_LT(s.GetSize(), 4096) << "nothing of the huge chunk was copied";
}
