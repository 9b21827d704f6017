#include "Debug.h"
#include "FakeRecognizer.h"
#include "MemoryMedium.h"

#include "LoggedTest.h"

#include <gtest/gtest.h>

using namespace gf;
using namespace gf::test;

namespace {
std::vector<uint8_t> Ramp(std::size_t n) {
  std::vector<uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(i * 7 + i / 512);
  return b;
}

class RecognizerTest : public gf::test::TLoggedTest {};
} // namespace

TEST_F(RecognizerTest, ReadBytesAcrossSectorsAndAtTheEnd) {
  auto bytes = Ramp(10 * 512);
  TMemoryMedium m(bytes);
  struct {
    uint32_t base, offset, count;
    bool ok;
  } cases[] = {
      {0, 0, 4, true},    {0, 512, 4, true},   {2, 500, 30, true},      {1, 3 * 512 + 7, 600, true},
      {9, 500, 12, true}, {9, 500, 13, false}, {0, 10 * 512, 1, false}, {3, 0, 0, true},
  };
  for (auto& c : cases) {
    std::vector<uint8_t> got(c.count);
    m.SetPosition(6);
    bool ok = TRecognizer::ReadBytes(m, c.base, c.offset, c.count, got.data());
    EXPECT_EQ(ok, c.ok) << c.base << "+" << c.offset;
    if (c.ok) {
      std::size_t from = std::size_t{c.base} * 512 + c.offset;
      EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + static_cast<long>(from)));
    }
    if (c.count == 0) {
      EXPECT_EQ(m.GetPosition(), 6u) << "Count 0 leaves the medium where it was";
    }
  }
  auto lines = TDebugLines::Instance().Snapshot();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "RECOGNIZER: Medium  Data is NULL for position 10");
}

TEST_F(RecognizerTest, CopyToStreamCapsAndFailures) {
  auto bytes = Ramp(80 * 512);
  struct {
    uint32_t maxSize, count, start, badSector;
    bool ok;
    int64_t written;
    uint32_t positionAfter;
  } cases[] = {
      {102400, 1000, 2, 0, true, 1000, 4},           // partial last sector
      {1500, 4000, 0, 0, true, 1500, 3},             // capped at MaxSize
      {102400, 512, 5, 0, true, 512, 6},             // one whole sector
      {102400, 70 * 512, 3, 67, false, 64 * 512, 3}, // unreadable next block: back to start
      {102400, 100, 7, 7, false, 0, 7},              // unreadable first sector: nothing written
      {102400, 0, 4, 0, true, 0, 4},
  };
  for (auto& c : cases) {
    TMemoryMedium m(bytes);
    if (c.badSector)
      m.FailSector(c.badSector);
    TFakeRecognizer r("X", "x");
    r.MaxSize = c.maxSize;
    TMemoryStream s;
    m.SetPosition(c.start);
    EXPECT_EQ(r.CopyToStream(m, s, c.count), c.ok) << c.count;
    EXPECT_EQ(s.GetSize(), c.written) << c.count;
    EXPECT_EQ(m.GetPosition(), c.positionAfter) << c.count;
    EXPECT_TRUE(std::equal(s.Memory(), s.Memory() + s.GetSize(),
                           bytes.begin() + static_cast<long>(c.start * 512)));
  }
}

TEST_F(RecognizerTest, FindRecognizerFirstInOrderAndPositionKept) {
  std::vector<uint8_t> img(8 * 512);
  Put(img, 2, "RIFFWAVE");
  Put(img, 4, "RIFFDATA");
  TMemoryMedium m(img);
  TRecognizers reg;
  reg.Register(std::make_unique<TFakeRecognizer>("WAV", "RIFFWAVE"));
  reg.Register(std::make_unique<TFakeRecognizer>("RIFF", "RIFF"));
  struct {
    uint32_t at;
    const char* want;
  } cases[] = {{2, "WAV"}, {4, "RIFF"}, {3, nullptr}, {7, nullptr}};
  for (auto& c : cases) {
    m.SetPosition(c.at);
    TRecognizer* r = reg.FindRecognizer(m);
    EXPECT_EQ(m.GetPosition(), c.at);
    if (c.want) {
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->GetName(), c.want);
    } else {
      EXPECT_EQ(r, nullptr);
    }
  }
  TRecognizers empty;
  m.SetPosition(2);
  EXPECT_EQ(empty.FindRecognizer(m), nullptr);
}

TEST_F(RecognizerTest, RegistryRefusesEmptyAndDuplicateKeys) {
  TRecognizers reg;
  reg.Register(std::make_unique<TFakeRecognizer>("JPG", "a"));
  EXPECT_THROW(reg.Register(std::make_unique<TFakeRecognizer>("JPG", "b")), std::invalid_argument);
  EXPECT_THROW(reg.Register(std::make_unique<TFakeRecognizer>("", "c")), std::invalid_argument);
  EXPECT_EQ(reg.Count(), 1);
}

TEST(RecognizerRegistry, BuiltinTrialOrder) {
  RegisterRecognizers();
  RegisterRecognizers(); // once only
  const char* order[] = {"JPG", "BMP", "GIF",  "TIF", "PNG", "MPG",
                         "AVI", "WAV", "RIFF", "MOV", "CRW", "MP3"};
  // Registered keys appear in the table's order, whichever are built so far.
  std::size_t k = 0;
  for (int i = 0; i < Recognizers().Count(); ++i) {
    std::string name = Recognizers().GetItem(i)->GetName();
    while (k < std::size(order) && name != order[k])
      ++k;
    ASSERT_LT(k, std::size(order)) << name << " out of trial order";
  }
  EXPECT_EQ(Recognizers().GetItem(0)->GetName(), "JPG");
}

TEST(SwapBytes, Reverses) {
  EXPECT_EQ(SwapBytes32(0x11223344u), 0x44332211u);
}
