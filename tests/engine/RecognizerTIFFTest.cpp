#include "recognizers/RecognizerTIFF.h"
#include "ByteFixture.h"
#include "MemoryMedium.h"

#include <gtest/gtest.h>

using namespace gf;
using namespace gf::test;

namespace {

constexpr uint16_t Short = 3, Long = 4, Ascii = 2;
constexpr uint16_t StripOffsets = 273, StripByteCounts = 279;

struct TEntrySpec {
  uint16_t Tag, Type;
  uint32_t Count;
  uint32_t Value;      // the value field; for inline SHORTs the first value
  uint16_t Second = 0; // for two inline SHORTs, the second value
};

// Writes TIFF structures in either byte order into a buffer of fixed size.
class TTiffWriter {
public:
  TTiffWriter(bool littleEndian, std::size_t size, uint32_t firstIfd = 8)
      : FLittle(littleEndian), FBytes(size, 0xEE) {
    FBytes[0] = FBytes[1] = littleEndian ? 'I' : 'M';
    U16(2, 42);
    U32(4, firstIfd);
  }
  void U16(std::size_t at, uint32_t v) { Put16(FBytes, at, v, !FLittle); }
  void U32(std::size_t at, uint32_t v) { Put32(FBytes, at, v, !FLittle); }
  void Ifd(uint32_t at, const std::vector<TEntrySpec>& entries, uint32_t next) {
    U16(at, static_cast<uint32_t>(entries.size()));
    uint32_t e = at + 2;
    for (auto& s : entries) {
      U16(e, s.Tag);
      U16(e + 2, s.Type);
      U32(e + 4, s.Count);
      if (s.Type == Short && s.Count <= 2) {
        U32(e + 8, 0);
        U16(e + 8, s.Value);
        U16(e + 10, s.Second);
      } else {
        U32(e + 8, s.Value);
      }
      e += 12;
    }
    U32(e, next);
  }
  // Entries that no rule follows, to fill a directory to N entries.
  static std::vector<TEntrySpec> Filler(std::size_t n) {
    return std::vector<TEntrySpec>(n, TEntrySpec{256, Short, 1, 64});
  }
  std::vector<uint8_t>& Bytes() { return FBytes; }

private:
  bool FLittle;
  std::vector<uint8_t> FBytes;
};

std::vector<TEntrySpec> Plus(std::vector<TEntrySpec> a, const std::vector<TEntrySpec>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

uint32_t Measure(std::vector<uint8_t> bytes, uint32_t maxSize = 20971520) {
  TMemoryMedium m(std::move(bytes));
  TTIFFRecognizer r;
  r.MaxSize = maxSize;
  m.SetPosition(0);
  uint32_t size = r.GetFileSize(m);
  EXPECT_EQ(m.GetPosition(), 0u) << "back at the header sector";
  return size;
}

} // namespace

TEST(TIFF, Signatures) {
  struct {
    std::vector<uint8_t> head;
    bool want;
  } cases[] = {
      {{'I', 'I', 0x2A, 0x00}, true},  {{'M', 'M', 0x00, 0x2A}, true},
      {{'I', 'I', 0x00, 0x2A}, false}, {{'M', 'M', 0x2A, 0x00}, false},
      {{'I', 'M', 0x2A, 0x00}, false}, {{'I', 'I', 0x2B, 0x00}, false},
  };
  for (auto& c : cases) {
    auto img = c.head;
    img.resize(1024, 0);
    TMemoryMedium m(img);
    TTIFFRecognizer r;
    EXPECT_EQ(r.Check(m), c.want) << img[0] << img[1] << int(img[2]) << "," << int(img[3]);
    EXPECT_EQ(r.Check(m) && r.LittleEndian, c.want && img[0] == 'I');
  }
}

TEST(TIFF, Measurements) {
  auto oneStrip = [](uint32_t offset, uint32_t count) {
    return std::vector<TEntrySpec>{{StripOffsets, Long, 1, offset},
                                   {StripByteCounts, Long, 1, count}};
  };
  struct {
    const char* what;
    std::function<void(TTiffWriter&)> build;
    uint32_t want;
  } cases[] = {
      {"one strip beyond the directory",
       [&](TTiffWriter& w) { w.Ifd(8, Plus(TTiffWriter::Filler(8), oneStrip(1000, 5000)), 0); },
       6000},
      {"128 entries are walked", [](TTiffWriter& w) { w.Ifd(8, TTiffWriter::Filler(128), 0); },
       8 + 2 + 128 * 12 + 4},
      {"129 entries fail", [](TTiffWriter& w) { w.Ifd(8, TTiffWriter::Filler(129), 0); }, 0},
      {"0 entries fail", [](TTiffWriter& w) { w.Ifd(8, {}, 0); }, 0},
      {"a directory naming itself fails", [&](TTiffWriter& w) { w.Ifd(8, oneStrip(1000, 10), 8); },
       0},
      {"a chain of two measures both and their strips",
       [&](TTiffWriter& w) {
         w.Ifd(8, oneStrip(3000, 1000), 2000);
         w.Ifd(2000, oneStrip(100, 10), 0);
       },
       4000},
      {"the second directory's own bytes count",
       [&](TTiffWriter& w) {
         w.Ifd(8, oneStrip(100, 10), 5000);
         w.Ifd(5000, TTiffWriter::Filler(1), 0);
       },
       5018},
      {"a chain that returns to an earlier directory fails",
       [&](TTiffWriter& w) {
         w.Ifd(8, oneStrip(100, 10), 2000);
         w.Ifd(2000, TTiffWriter::Filler(1), 8);
       },
       0},
      {"no strips: the directory and its out-of-line values",
       [](TTiffWriter& w) {
         w.Ifd(8, {{270, Ascii, 50, 300}, {256, Short, 1, 64}}, 0);
       },
       350},
      {"StripByteCounts SHORT count 1 is the first stored value",
       [](TTiffWriter& w) {
         w.Ifd(8, {{StripOffsets, Long, 1, 100}, {StripByteCounts, Short, 1, 0x1234, 0x7777}}, 0);
       },
       100 + 0x1234},
      {"two inline SHORTs pair in file order",
       [](TTiffWriter& w) {
         w.Ifd(8, {{StripOffsets, Short, 2, 100, 5000}, {StripByteCounts, Short, 2, 50, 300}}, 0);
       },
       5300},
      {"byte counts before offsets pair the same",
       [](TTiffWriter& w) {
         w.Ifd(8, {{StripByteCounts, Short, 2, 50, 300}, {StripOffsets, Short, 2, 100, 5000}}, 0);
       },
       5300},
      {"two LONG offsets out of line count their own bytes",
       [](TTiffWriter& w) {
         w.Ifd(8, {{StripOffsets, Long, 2, 200}, {StripByteCounts, Short, 2, 5, 5}}, 0);
         w.U32(200, 20);
         w.U32(204, 30);
       },
       208},
      {"out-of-line strip offsets are read",
       [](TTiffWriter& w) {
         w.Ifd(8, {{StripOffsets, Long, 2, 200}, {StripByteCounts, Short, 2, 5, 5}}, 0);
         w.U32(200, 20);
         w.U32(204, 300);
       },
       305},
      {"out-of-line SHORT byte counts",
       [](TTiffWriter& w) {
         w.Ifd(8, {{StripOffsets, Short, 2, 100, 200}, {StripByteCounts, Short, 3, 400}}, 0);
         w.U16(400, 10);
         w.U16(402, 900);
         w.U16(404, 9999); // a third count without an offset: strip at 0
       },
       9999},
      {"a value count of 0 adds no strip",
       [](TTiffWriter& w) {
         w.Ifd(8, {{StripOffsets, Long, 0, 900000}, {StripByteCounts, Long, 0, 900000}}, 0);
       },
       8 + 2 + 24 + 4},
      {"a strip at 0 of 0 bytes wraps and fails",
       [&](TTiffWriter& w) { w.Ifd(8, oneStrip(0, 0), 0); }, 0},
      {"a byte count of 2^31 is taken as 0",
       [&](TTiffWriter& w) { w.Ifd(8, oneStrip(5000, 0x80000000), 0); }, 5000},
      {"a field type above 16 fails",
       [](TTiffWriter& w) {
         w.Ifd(8, {{256, 17, 1, 64}}, 0);
       },
       0},
      {"extent 20,971,519 gives 20 MiB",
       [&](TTiffWriter& w) { w.Ifd(8, oneStrip(1000, 20971520 - 1000), 0); }, 20971520},
      {"extent 20,971,520 fails",
       [&](TTiffWriter& w) { w.Ifd(8, oneStrip(1000, 20971521 - 1000), 0); }, 0},
      {"a first directory past the medium fails", [](TTiffWriter& w) { w.U32(4, 900000); }, 0},
  };
  for (bool little : {true, false}) {
    for (auto& c : cases) {
      TTiffWriter w(little, 16384);
      c.build(w);
      EXPECT_EQ(Measure(w.Bytes()), c.want) << c.what << (little ? " (II)" : " (MM)");
    }
  }
}

TEST(TIFF, LongChains) {
  // 100 directories, past the plain search for returns; the last one ends the
  // chain or points back to the fourth.
  for (uint32_t back : {0u, 8u + 3 * 30}) {
    TTiffWriter w(true, 8192);
    for (uint32_t i = 0; i < 100; ++i) {
      const uint32_t at = 8 + 30 * i;
      w.Ifd(at, {{StripOffsets, Long, 1, 5000 + i}, {StripByteCounts, Short, 1, 10}},
            i == 99 ? back : at + 30);
    }
    EXPECT_EQ(Measure(w.Bytes()), back ? 0u : 5000u + 99 + 10) << back;
  }
}

TEST(TIFF, DamagedTablesStayBounded) {
  // The bounds follow MaxSize; a limit of 1 MiB keeps the tables small here.
  const uint32_t max = 1048576;
  {
    // More strips than a file under MaxSize can describe.
    TTiffWriter w(true, 768 << 10);
    w.Ifd(8, {{StripOffsets, Short, 300000, 64}}, 0);
    EXPECT_EQ(Measure(w.Bytes(), max), 0u);
    w.Ifd(8, {{StripOffsets, Short, 200000, 64}}, 0);
    EXPECT_EQ(Measure(w.Bytes(), max), 64u + 400000) << "as many as fit are walked";
  }
  {
    // Strip values read again and again from the same table.
    TTiffWriter w(true, 512 << 10);
    w.Ifd(8, std::vector<TEntrySpec>(3, TEntrySpec{StripOffsets, Short, 200000, 64}), 0);
    EXPECT_EQ(Measure(w.Bytes(), max), 0u);
    w.Ifd(8, std::vector<TEntrySpec>(2, TEntrySpec{StripOffsets, Short, 200000, 64}), 0);
    EXPECT_EQ(Measure(w.Bytes(), max), 64u + 400000);
  }
  {
    // A value count whose byte size wraps to 0 must not read four billion values:
    // the values' own extent passes MaxSize first.
    TTiffWriter w(true, 2 << 20);
    w.Ifd(8, {{StripOffsets, Long, 0x40000000, 64}}, 0);
    EXPECT_EQ(Measure(w.Bytes(), max), 0u);
  }
  {
    // Two directories that overlap, 60 entries each: within the extent, but more
    // entries than a file of MaxSize bytes can hold when MaxSize is 1200.
    TTiffWriter w(true, 4096);
    w.Ifd(8, std::vector<TEntrySpec>(60, TEntrySpec{60, Short, 1, 0}), 10);
    w.U16(734, 0); // the second directory's next offset ends the chain
    EXPECT_EQ(Measure(w.Bytes(), 1500), 736u) << "both directories walked";
    EXPECT_EQ(Measure(w.Bytes(), 1200), 0u) << "120 entries, 100 allowed";
  }
}

TEST(TIFF, ExtractCopiesTheMeasuredBytes) {
  TTiffWriter w(false, 8192);
  w.Ifd(8, {{StripOffsets, Long, 1, 3000}, {StripByteCounts, Long, 1, 2000}}, 0);
  std::vector<uint8_t> img(3 * 512, 0x11);
  img.insert(img.end(), w.Bytes().begin(), w.Bytes().end());
  TMemoryMedium m(img);
  TTIFFRecognizer r;
  m.SetPosition(3);
  ASSERT_TRUE(r.Check(m));
  TMemoryStream s;
  ASSERT_TRUE(r.Extract(m, s));
  ASSERT_EQ(s.GetPosition(), 5000);
  EXPECT_TRUE(std::equal(s.Memory(), s.Memory() + 5000, w.Bytes().begin()));

  // Unmeasurable: nothing written, the scanner carves.
  w.U32(4, 0);
  img.resize(3 * 512);
  img.insert(img.end(), w.Bytes().begin(), w.Bytes().end());
  TMemoryMedium m2(img);
  m2.SetPosition(3);
  TMemoryStream s2;
  EXPECT_FALSE(r.Extract(m2, s2));
  EXPECT_EQ(s2.GetSize(), 0);
  EXPECT_EQ(m2.GetPosition(), 3u);
}

TEST(TIFF, TwentyMiBIsCopiedWhole) {
  TTiffWriter w(true, 21 << 20);
  w.Ifd(8, {{StripOffsets, Long, 1, 1000}, {StripByteCounts, Long, 1, 20971520 - 1000}}, 0);
  TMemoryMedium m(w.Bytes());
  TTIFFRecognizer r;
  TMemoryStream s;
  ASSERT_TRUE(r.Extract(m, s));
  EXPECT_EQ(s.GetPosition(), 20971520);
  EXPECT_TRUE(std::equal(s.Memory(), s.Memory() + 20971520, w.Bytes().begin()));
}
