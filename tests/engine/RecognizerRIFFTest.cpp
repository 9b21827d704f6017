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
      {RiffHeader("RIFF", 1000, "WAVE"), 0, "WAV", 1008},
      {RiffHeader("RIFF", 1000, "AVI "), 0, "AVI", 1008},
      {RiffHeader("RIFF", 1000, "AVI_"), 0, "RIFF", 1008},
      {RiffHeader("RIFF", 1000, "RMID"), 0, "RIFF", 1008},
      {RiffHeader("RIFX", 1000, "AVI ", true), 0, "AVI", 1008},
      {RiffHeader("RIFX", 1000, "WAVE", true), 0, "WAV", 1008},
      {RiffHeader("RIFF", 0, "WAVE"), 0, "WAV", 8},
      {RiffHeader("riff", 1000, "WAVE"), 0, nullptr, 0},
      {RiffHeader("RIFF", 1000, "WAVE"), 1, nullptr, 0},
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
    TBytes head = RiffHeader("RIFF", size, "AVI ");
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
  TBytes head = RiffHeader("RIFF", 4000, "WAVE");
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
  TBytes wav = RiffHeader("RIFF", 3000, "WAVE");
  TBytes rmid = RiffHeader("RIFF", 600, "RMID");
  TBytes empty = RiffHeader("RIFF", 0, "WAVE");
  TBytes mov = Atoms({{5000, "moov"}, {8, "free"}, {20000, "mdat"}}, 0);
  for (std::size_t i = 12; i < 3008; ++i)
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
