#include "recognizers/RecognizerRIFF.h"
#include "ByteFixture.h"
#include "GeneratedMedium.h"
#include "MemoryMedium.h"
#include "ScanHarness.h"
#include "recognizers/RecognizerMOV.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace gf;
using namespace gf::test;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes RiffHeader(const char* id, uint32_t size, const char* form, bool bigEndian = false) {
  TBytes b(12);
  std::memcpy(b.data(), id, 4);
  bigEndian ? PutBe32(b, 4, size) : Put32(b, 4, size);
  std::memcpy(b.data() + 8, form, 4);
  return b;
}

// The header and one chunk that fills the declared size, so the chunks hold together.
TBytes RiffFile(const char* id, uint32_t size, const char* form, bool bigEndian = false) {
  TBytes b = RiffHeader(id, size, form, bigEndian);
  if (size >= 12) {
    b.resize(20);
    std::memcpy(b.data() + 12, "JUNK", 4);
    bigEndian ? PutBe32(b, 16, size - 12) : Put32(b, 16, size - 12);
  }
  return b;
}

// The registry the scanner uses, reduced to the four container recognizers.
struct TContainers {
  TRecognizers reg;
  TContainers() {
    reg.Register(std::make_unique<TAVIRecognizer>());
    reg.Register(std::make_unique<TWAVRecognizer>());
    reg.Register(std::make_unique<TRIFFRecognizer>());
    reg.Register(std::make_unique<TMOVRecognizer>());
  }
};

} // namespace

TEST(RIFF, FormsAndKeys) {
  struct {
    TBytes head;
    uint32_t at; // byte offset of the header in the first sector
    const char* key;
    std::size_t length;
  } cases[] = {
      {RiffFile("RIFF", 1000, "WAVE"), 0, "WAV", 1008},
      {RiffFile("RIFF", 1000, "AVI "), 0, "AVI", 1008},
      {RiffFile("RIFF", 1000, "AVI_"), 0, "RIFF", 1008},
      {RiffFile("RIFF", 1000, "RMID"), 0, "RIFF", 1008},
      {RiffFile("RIFX", 1000, "AVI ", true), 0, "AVI", 1008},
      {RiffFile("RIFX", 1000, "WAVE", true), 0, "WAV", 1008},
      {RiffFile("RIFF", 0, "WAVE"), 0, "WAV", 8},
      {RiffFile("riff", 1000, "WAVE"), 0, nullptr, 0},
      {RiffFile("RIFF", 1000, "WAVE"), 1, nullptr, 0},
  };
  for (uint32_t sector : {512u, 4u, 7u}) // also headers longer than a sector
    for (auto& c : cases) {
      TBytes img(8 * 512, 0xEE);
      std::copy(c.head.begin(), c.head.end(), img.begin() + c.at);
      TMemoryMedium m(img, sector);
      TContainers k;
      m.SetPosition(0);
      TRecognizer* r = k.reg.FindRecognizer(m);
      if (!c.key) {
        EXPECT_EQ(r, nullptr) << c.at;
        continue;
      }
      ASSERT_NE(r, nullptr) << c.key << " " << sector;
      EXPECT_EQ(r->GetName(), c.key) << sector;
      TMemoryStream s;
      EXPECT_TRUE(r->Extract(m, s)) << c.key;
      EXPECT_EQ(static_cast<std::size_t>(s.GetPosition()), c.length) << c.key;
      EXPECT_TRUE(std::equal(img.begin(), img.begin() + static_cast<long>(c.length), s.Memory()));
    }
}

TEST(RIFF, SizesPastMaxSizeAndPast32Bits) {
  // A medium of 130 MiB: a declared size above MaxSize is cut at 128 MiB and still
  // counts as measured, also where size + 8 does not fit in 32 bits.
  for (uint32_t size : {200000000u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
    TBytes head = RiffFile("RIFF", size, "AVI ");
    TGeneratedMedium m(130ull << 20, [&](uint64_t off, uint8_t* b, std::size_t n) {
      std::memset(b, 0x33, n);
      if (off == 0)
        std::memcpy(b, head.data(), head.size());
    });
    TAVIRecognizer r;
    m.SetPosition(0);
    ASSERT_TRUE(r.Check(m));
    m.SetPosition(0);
    TMemoryStream s;
    EXPECT_TRUE(r.Extract(m, s)) << size;
    EXPECT_EQ(s.GetPosition(), 134217728) << size;
  }
}

TEST(RIFF, UnreadableSectorInsideTheFileLeavesItToBeCarved) {
  TBytes img(16 * 512, 0x11);
  TBytes head = RiffFile("RIFF", 4000, "WAVE");
  std::copy(head.begin(), head.end(), img.begin());
  TMemoryMedium m(img);
  m.FailSector(5);
  TWAVRecognizer r;
  m.SetPosition(0);
  TMemoryStream s;
  EXPECT_FALSE(r.Extract(m, s));
  EXPECT_EQ(m.GetPosition(), 0u);
}

namespace {

// Chunk trees: a chunk is its identifier, its size in the file's byte order, its body
// and the pad byte of an odd size; a LIST holds its type and its chunks.
struct TRiffBuilder {
  bool BigEndian = false;

  TBytes Size(uint32_t V) const {
    TBytes b(4);
    BigEndian ? PutBe32(b, 0, V) : Put32(b, 0, V);
    return b;
  }
  TBytes Chunk(const char* Id, std::size_t Length, uint8_t Fill = 0x5A) const {
    TBytes b(Id, Id + 4);
    TBytes size = Size(static_cast<uint32_t>(Length));
    b.insert(b.end(), size.begin(), size.end());
    b.insert(b.end(), Length, Fill);
    if (Length & 1)
      b.push_back(0);
    return b;
  }
  TBytes List(const char* Type, std::initializer_list<TBytes> Chunks) const {
    TBytes body(Type, Type + 4);
    for (auto& c : Chunks)
      body.insert(body.end(), c.begin(), c.end());
    TBytes b = {'L', 'I', 'S', 'T'};
    TBytes size = Size(static_cast<uint32_t>(body.size()));
    b.insert(b.end(), size.begin(), size.end());
    b.insert(b.end(), body.begin(), body.end());
    return b;
  }
  TBytes Riff(const char* Form, std::initializer_list<TBytes> Chunks) const {
    TBytes body(Form, Form + 4);
    for (auto& c : Chunks)
      body.insert(body.end(), c.begin(), c.end());
    TBytes b = BigEndian ? TBytes{'R', 'I', 'F', 'X'} : TBytes{'R', 'I', 'F', 'F'};
    TBytes size = Size(static_cast<uint32_t>(body.size()));
    b.insert(b.end(), size.begin(), size.end());
    b.insert(b.end(), body.begin(), body.end());
    return b;
  }
  // hdrl, a movi list of Frames video and sound chunks, idx1.
  TBytes Avi(int Frames) const {
    TBytes movi = List("movi", {});
    for (int i = 0; i < Frames; ++i) {
      TBytes v = Chunk("00dc", 3000 + 2 * static_cast<std::size_t>(i), static_cast<uint8_t>(i));
      TBytes a = Chunk("01wb", 735);
      movi.insert(movi.end(), v.begin(), v.end());
      movi.insert(movi.end(), a.begin(), a.end());
    }
    TBytes size = Size(static_cast<uint32_t>(movi.size() - 8));
    std::copy(size.begin(), size.end(), movi.begin() + 4);
    return Riff("AVI ", {List("hdrl", {Chunk("avih", 56, 0),
                                       List("strl", {Chunk("strh", 56, 0), Chunk("strf", 40, 0)})}),
                         movi, Chunk("idx1", 32 * static_cast<std::size_t>(Frames), 0)});
  }
};

// A JPEG header and a PNG file (signature, IHDR, IEND) for writing over a file.
const TBytes Jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
TBytes Png() {
  TBytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  TBytes ihdr = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0,
                 0, 0, 1, 8,  2,   0,   0,   0,   1, 2, 3, 4};
  TBytes iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  b.insert(b.end(), ihdr.begin(), ihdr.end());
  b.insert(b.end(), iend.begin(), iend.end());
  return b;
}

} // namespace

TEST(RIFF, ChunksMustHoldInsideTheDeclaredSize) {
  const TRiffBuilder le, be{true};
  auto sizeAt = [](TBytes b, std::size_t At, uint32_t V) {
    Put32(b, At, V);
    return b;
  };
  const TBytes wav = le.Riff("WAVE", {le.Chunk("fmt ", 16), le.Chunk("data", 4000)});
  struct {
    const char* name;
    TBytes file;
    bool measured;
  } cases[] = {
      {"AVI with hdrl, movi and idx1", le.Avi(20), true},
      {"RIFX: sizes big-endian", be.Avi(20), true},
      {"WAV with LIST INFO after data",
       le.Riff("WAVE", {le.Chunk("fmt ", 16), le.Chunk("data", 4000),
                        le.List("INFO", {le.Chunk("INAM", 5), le.Chunk("ISFT", 14)})}),
       true},
      {"odd chunk size and its pad byte", le.Riff("WAVE", {le.Chunk("fmt ", 17), le.Chunk("data", 9)}),
       true},
      {"last chunk without its pad byte",
       [&] {
         TBytes b = le.Riff("WAVE", {le.Chunk("fmt ", 16), le.Chunk("data", 9)});
         b.pop_back();
         Put32(b, 4, static_cast<uint32_t>(b.size() - 8));
         return b;
       }(),
       true},
      {"a chunk size that passes the declared end", sizeAt(wav, 40, 4001), false},
      {"a chunk size that passes its LIST",
       sizeAt(le.Riff("AVI ", {le.List("hdrl", {le.Chunk("avih", 56)}), le.Chunk("idx1", 64)}), 24,
              57),
       false},
      {"an identifier that is not printable", [&] {
         TBytes b = wav;
         b[36] = 0x01;
         return b;
       }(),
       false},
      {"a LIST too short for its type",
       le.Riff("AVI ", {le.Chunk("LIST", 2), le.Chunk("idx1", 64)}), false},
      {"the declared size ends inside a chunk header", sizeAt(wav, 4, 4 + 24 + 4008 + 4), false},
  };
  for (auto& c : cases) {
    TBytes img = c.file;
    img.resize((img.size() + 4096 + 511) / 512 * 512, 0xEE);
    TMemoryMedium m(img);
    TContainers k;
    m.SetPosition(0);
    TRecognizer* r = k.reg.FindRecognizer(m);
    ASSERT_NE(r, nullptr) << c.name;
    TMemoryStream s;
    EXPECT_EQ(r->Extract(m, s), c.measured) << c.name;
    if (c.measured) {
      EXPECT_EQ(s.GetPosition(), static_cast<int64_t>(c.file.size())) << c.name;
      EXPECT_TRUE(TBytes(s.Memory(), s.Memory() + s.GetPosition()) == c.file) << c.name;
    }
  }
}

TEST(RIFF, ChunkWalkIsBounded) {
  // Past its bound the walk stops and the header's size is taken, as for a file whose
  // chunks were never read: a break after the bound is not seen.
  const TRiffBuilder le;
  TBytes file = le.Avi(20); // hdrl, strl and their 3 chunks, movi, then 40 chunks
  file[file.size() - (8 + 32 * 20) - (8 + 735 + 1)] = 0x01; // the last 01wb's identifier
  file.resize((file.size() + 511) / 512 * 512, 0);
  for (uint32_t limit : {1000u, 30u}) {
    TMemoryMedium m(file);
    TAVIRecognizer r;
    r.ChunkWalkLimit = limit;
    m.SetPosition(0);
    TMemoryStream s;
    EXPECT_EQ(r.Extract(m, s), limit == 30u) << limit;
  }
}

TEST(RIFF, FilesWrittenOverADamagedOneAreFound) {
  // A deleted file whose middle newer files were written over: its header still
  // declares the old size. The RIFF file is carved up to the first of them, and each
  // newer file is found at its own sector.
  const TRiffBuilder le;
  struct {
    const char* name;
    TBytes file;
    const char* key;
    std::size_t over; // sector of the first file written over it
  } cases[] = {
      {"AVI, a JPEG and a PNG over the middle of movi", le.Avi(60), "AVI", 100},
      {"WAV, written over at its LIST INFO",
       le.Riff("WAVE", {le.Chunk("fmt ", 16), le.Chunk("data", 100 * 512 - 44),
                        le.List("INFO", {le.Chunk("INAM", 5000)}), le.Chunk("JUNK", 90000)}),
       "WAV", 100},
  };
  for (auto& c : cases) {
    TBytes img = c.file;
    img.resize((img.size() + 511) / 512 * 512 + 4096, 0);
    ASSERT_GT(img.size(), (c.over + 40) * 512) << c.name;
    std::fill(img.begin() + c.over * 512, img.begin() + (c.over + 40) * 512, 0);
    std::copy(Jpeg.begin(), Jpeg.end(), img.begin() + c.over * 512);
    const TBytes png = Png();
    std::copy(png.begin(), png.end(), img.begin() + (c.over + 20) * 512);
    TMemoryMedium m(img);
    TRecognizers reg;
    RegisterBuiltinRecognizers(reg);
    auto res = Scan(m, reg);
    ASSERT_GE(res.Files.size(), 3u) << c.name;
    EXPECT_EQ(res.Files[0].Name, c.key) << c.name;
    EXPECT_TRUE(res.Files[0].Bytes == TBytes(img.begin(), img.begin() + c.over * 512)) << c.name;
    EXPECT_EQ(res.Files[1].Name, "JPG") << c.name;
    EXPECT_EQ(res.Files[1].Bytes.size(), 20u * 512) << c.name;
    EXPECT_EQ(res.Files[2].Name, "PNG") << c.name;
    EXPECT_TRUE(res.Files[2].Bytes == png) << c.name;
  }
}

namespace {

struct TAtom {
  uint32_t size;
  const char* type;
};

// Atoms laid out from offset 0, then bytes that are no atom type.
TBytes Atoms(std::initializer_list<TAtom> atoms, std::size_t extra = 1024) {
  std::size_t total = extra;
  for (auto& a : atoms)
    total += a.size < 8 ? 8 : a.size;
  TBytes b(total, 0x07);
  std::size_t at = 0;
  for (auto& a : atoms) {
    PutBe32(b, at, a.size);
    std::memcpy(b.data() + at + 4, a.type, 4);
    at += a.size < 8 ? 8 : a.size;
  }
  b.resize((b.size() + 511) / 512 * 512, 0x07);
  return b;
}

} // namespace

TEST(MOV, AtomWalk) {
  struct {
    const char* name;
    TBytes img;
    bool measured;
    std::size_t length;
  } cases[] = {
      {"moov, free, mdat", Atoms({{10000, "moov"}, {8, "free"}, {50000, "mdat"}}), true, 60008},
      {"pnot first", Atoms({{4000, "pnot"}, {4000, "PICT"}, {4000, "moov"}}), true, 12000},
      {"two atoms", Atoms({{100000, "moov"}, {100000, "mdat"}}), false, 0},
      {"8,191 bytes", Atoms({{4000, "moov"}, {4000, "free"}, {191, "mdat"}}), false, 0},
      {"8,192 bytes", Atoms({{4000, "moov"}, {4000, "free"}, {192, "mdat"}}), true, 8192},
      {"digit ends the walk", Atoms({{4000, "moov"}, {4000, "free"}, {9000, "co64"}}), false, 0},
      {"space ends the walk", Atoms({{4000, "moov"}, {4000, "free"}, {9000, "mda "}}), false, 0},
      {"size 0 ends the walk, uncounted",
       Atoms({{10000, "moov"}, {8, "free"}, {0, "mdat"}, {9000, "skip"}}), false, 0},
      {"size 1 ends the walk, uncounted",
       Atoms({{5000, "moov"}, {4000, "free"}, {100, "wide"}, {1, "mdat"}}), true, 9100},
  };
  for (auto& c : cases) {
    TMemoryMedium m(c.img);
    TMOVRecognizer r;
    m.SetPosition(0);
    ASSERT_TRUE(r.Check(m)) << c.name;
    m.SetPosition(0);
    TMemoryStream s;
    EXPECT_EQ(r.Extract(m, s), c.measured) << c.name;
    if (c.measured) {
      EXPECT_EQ(static_cast<std::size_t>(s.GetPosition()), c.length) << c.name;
    }
  }
}

TEST(MOV, HeaderTest) {
  struct {
    const char* bytes; // the first 8 bytes of the sector
    bool want;
  } cases[] = {
      {"\x00\x00\x10\x00moov", true},
      {"XXXXmoov", true},
      {"\xFF\xFF\xFF\xFFpnot", true},
      {"\x00\x00\x00\x14"
       "ftyp",
       false},
      {"\x00\x00\x10\x00mdat", false},
      {"\x00\x00\x10\x00MOOV", false},
  };
  for (auto& c : cases) {
    TBytes img(1024, 0);
    std::memcpy(img.data(), c.bytes, 8);
    TMemoryMedium m(img);
    TMOVRecognizer r;
    m.SetPosition(0);
    EXPECT_EQ(r.Check(m), c.want) << c.bytes + 4;
  }
  TMemoryMedium none({});
  TMOVRecognizer r;
  EXPECT_FALSE(r.Check(none));
}

TEST(MOV, SizesNearFourGiB) {
  // Atom sizes whose sum passes 32 bits end the walk before that atom.
  TGeneratedMedium m(0x100001000ull, [&](uint64_t off, uint8_t* b, std::size_t n) {
    std::memset(b, 0x07, n);
    const std::pair<uint64_t, TAtom> atoms[] = {{0, {0x7FFFFFF0, "moov"}},
                                                {0x7FFFFFF0, {0x7FFFFFF0, "free"}},
                                                {0xFFFFFFE0, {0x100, "mdat"}}};
    for (auto& [pos, a] : atoms)
      if (pos >= off && pos + 8 <= off + n) {
        TBytes h(8);
        PutBe32(h, 0, a.size);
        std::memcpy(h.data() + 4, a.type, 4);
        std::memcpy(b + (pos - off), h.data(), 8);
      }
  });
  TMOVRecognizer r;
  m.SetPosition(0);
  ASSERT_TRUE(r.Check(m));
  m.SetPosition(0);
  TMemoryStream s;
  EXPECT_FALSE(r.Extract(m, s)) << "two atoms counted";
}

TEST(MOV, LongRunsOfAtomsStopAtMaxSize) {
  // A large first atom, then a gigabyte of 8-byte atoms: once 3 atoms and MaxSize
  // bytes are counted, more atoms change nothing, and the walk stops there.
  constexpr uint64_t first = 0x08000000; // 128 MiB
  TGeneratedMedium m(first + (1ull << 30), [&](uint64_t off, uint8_t* b, std::size_t n) {
    static const uint8_t freeAtom[8] = {0, 0, 0, 8, 'f', 'r', 'e', 'e'};
    for (std::size_t i = 0; i < n; ++i)
      b[i] = off + i >= first ? freeAtom[(off + i - first) % 8] : 0x07;
    if (off == 0)
      std::memcpy(b, "\x08\x00\x00\x00moov", 8);
  });
  TMOVRecognizer r;
  m.SetPosition(0);
  ASSERT_TRUE(r.Check(m));
  m.SetPosition(0);
  TMemoryStream s;
  EXPECT_TRUE(r.Extract(m, s));
  EXPECT_EQ(s.GetPosition(), 134217728);
  EXPECT_LT(m.ReadCalls, 4200) << "the walk went on through the rest of the medium";
}

TEST(Containers, ScanHandsOverEachFileWhole) {
  // WAV, an unknown RIFF form, a RIFF of size 0 (its 8 header bytes) and a movie,
  // with gaps, found by the scanner and measured exactly.
  TBytes img(200 * 512, 0);
  TBytes wav = RiffFile("RIFF", 3000, "WAVE");
  TBytes rmid = RiffFile("RIFF", 600, "RMID");
  TBytes empty = RiffHeader("RIFF", 0, "WAVE");
  TBytes mov = Atoms({{5000, "moov"}, {8, "free"}, {20000, "mdat"}}, 0);
  for (std::size_t i = 20; i < 3008; ++i)
    img[i] = static_cast<uint8_t>(i);
  std::copy(wav.begin(), wav.end(), img.begin());
  std::copy(rmid.begin(), rmid.end(), img.begin() + 10 * 512);
  std::copy(empty.begin(), empty.end(), img.begin() + 20 * 512);
  std::copy(mov.begin(), mov.begin() + 25008, img.begin() + 30 * 512);
  TMemoryMedium m(img);
  TContainers k;
  auto res = Scan(m, k.reg);
  ASSERT_EQ(res.Files.size(), 4u);
  EXPECT_EQ(res.Files[0].Name, "WAV");
  EXPECT_EQ(res.Files[0].Bytes, TBytes(img.begin(), img.begin() + 3008));
  EXPECT_EQ(res.Files[1].Name, "RIFF");
  EXPECT_EQ(res.Files[1].Bytes.size(), 608u);
  EXPECT_EQ(res.Files[2].Bytes, TBytes(empty.begin(), empty.begin() + 8));
  EXPECT_EQ(res.Files[3].Name, "MOV");
  EXPECT_EQ(res.Files[3].Bytes.size(), 25008u);
  EXPECT_TRUE(res.Completed);
}

TEST(Registry, VideoAndSoundInTrialOrder) {
  TRecognizers reg;
  RegisterBuiltinRecognizers(reg);
  std::vector<std::string> names;
  for (int i = 0; i < reg.Count(); ++i)
    names.push_back(reg.GetItem(i)->GetName());
  auto at = [&](const char* key) {
    auto it = std::find(names.begin(), names.end(), key);
    EXPECT_NE(it, names.end()) << key;
    return it - names.begin();
  };
  EXPECT_EQ(at("JPG"), 0);
  EXPECT_LT(at("JPG"), at("MPG"));
  EXPECT_LT(at("MPG"), at("AVI"));
  EXPECT_EQ(at("AVI") + 1, at("WAV"));
  EXPECT_EQ(at("WAV") + 1, at("RIFF"));
  EXPECT_LT(at("RIFF"), at("MOV"));
  EXPECT_EQ(at("MP3"), reg.Count() - 1);

  // A WAVE file meets the WAV recognizer before the general RIFF one.
  TBytes img(1024, 0);
  TBytes head = RiffHeader("RIFF", 100, "WAVE");
  std::copy(head.begin(), head.end(), img.begin());
  TMemoryMedium m(img);
  m.SetPosition(0);
  TRecognizer* r = reg.FindRecognizer(m);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->GetName(), "WAV");
}
