#include "recognizers/RecognizerMPG.h"
#include "Debug.h"
#include "FakeRecognizer.h"
#include "GeneratedMedium.h"
#include "MemoryMedium.h"
#include "ScanHarness.h"
#include "recognizers/RecognizerJPG.h"

#include "LoggedTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace gf;
using namespace gf::test;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Code(uint8_t c) {
  return {0x00, 0x00, 0x01, c};
}
// A pack header: start code and the 8 bytes an MPEG-1 pack carries.
TBytes Pack() {
  TBytes b = Code(0xBA);
  b.insert(b.end(), 8, 0x44);
  return b;
}
TBytes Packet(uint8_t c, uint16_t len, uint8_t fill = 0x55) {
  TBytes b = Code(c);
  b.push_back(static_cast<uint8_t>(len >> 8));
  b.push_back(static_cast<uint8_t>(len));
  b.insert(b.end(), len, fill);
  return b;
}
TBytes Cat(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}
TBytes Fill(std::size_t n, uint8_t v) {
  return TBytes(n, v);
}

// Stream at sector 0 of a medium of Sectors sectors; the rest is Pad.
TBytes OnMedium(const TBytes& stream, uint32_t sectors = 8, uint8_t pad = 0x00) {
  TBytes img(std::max<std::size_t>(std::size_t{sectors} * 512, stream.size()), pad);
  std::copy(stream.begin(), stream.end(), img.begin());
  img.resize((img.size() + 511) / 512 * 512, pad);
  return img;
}

bool HasLine(const std::string& text) {
  for (auto& l : TDebugLines::Instance().Snapshot())
    if (l == text)
      return true;
  return false;
}

class MPG : public gf::test::TLoggedTest {};

struct TOutcome {
  bool Check;
  bool Extract;
  std::size_t Length;
};

TOutcome Walk(const TBytes& img) {
  TMemoryMedium m(img);
  TMPEGRecognizer r;
  m.SetPosition(0);
  TOutcome o{};
  o.Check = r.Check(m);
  m.SetPosition(0);
  TMemoryStream s;
  o.Extract = r.Extract(m, s);
  o.Length = static_cast<std::size_t>(s.GetPosition());
  return o;
}

// Sequence header with both matrix flags given; a slice code hides inside the space
// of the intra matrix, so a walk that fails to skip the matrix meets it.
TBytes SequenceHeader(bool intra) {
  TBytes h(72, 0x11);
  h[7] = intra ? 0x02 : 0x00; // load_intra_quantiser_matrix is bit 62
  h[71] = 0x00;               // load_non_intra_quantiser_matrix
  const TBytes slice = Code(0x01);
  std::copy(slice.begin(), slice.end(), h.begin() + 20);
  return Cat({Code(0xB3), h});
}

} // namespace

TEST_F(MPG, Streams) {
  struct {
    const char* name;
    TBytes stream;
    bool check, extract;
    std::size_t length; // of the extracted file
  } cases[] = {
      {"pack and end code", Cat({Pack(), Code(0xB9)}), true, true, 16},
      {"no prefix within 300 bytes", Cat({Pack(), Fill(300, 0xAA)}), false, false, 0},
      {"MPEG-2 pack: extra bytes and stuffing slid over",
       Cat({Code(0xBA), Fill(10, 0x44), {0xFF, 0xFF}, Code(0xB9)}), true, true, 20},
      {"six start codes make a header; the walk goes on to the end code",
       Cat({Pack(), Packet(0xBB, 6), Packet(0xE0, 100), Packet(0xC0, 30), Packet(0xBE, 0), Pack(),
            Packet(0xE0, 700), Code(0xB9)}),
       true, true, 12 + 12 + 106 + 36 + 6 + 12 + 706 + 4},
      {"six start codes without an end code: measured never",
       Cat({Pack(), Packet(0xBB, 6), Packet(0xE0, 100), Packet(0xC0, 30), Packet(0xBE, 0), Pack(),
            Packet(0xE0, 700)}),
       true, false, 0},
      {"sequence header skips the intra matrix", Cat({Pack(), SequenceHeader(true), Code(0xB9)}),
       true, true, 12 + 76 + 4},
      {"without the flag the walk meets the slice code",
       Cat({Pack(), SequenceHeader(false), Code(0xB9)}), false, false, 0},
      {"extension 5 reads nothing", Cat({Pack(), Code(0xB5), {0x5F}, Code(0xB9)}), true, true,
       12 + 5 + 4},
      {"extension 7 is refused", Cat({Pack(), Code(0xB5), {0x7F}, Code(0xB9)}), false, false, 0},
      {"extension 0 is refused", Cat({Pack(), Code(0xB5), {0x0F}, Code(0xB9)}), false, false, 0},
      {"packet length past the medium", Cat({Pack(), {0x00, 0x00, 0x01, 0xE0, 0xFF, 0xFF}}), false,
       false, 0},
      {"pack header not at the sector start", Cat({{0x00}, Pack(), Code(0xB9)}), false, false, 0},
  };
  for (auto& c : cases) {
    TOutcome o = Walk(OnMedium(c.stream));
    EXPECT_EQ(o.Check, c.check) << c.name;
    EXPECT_EQ(o.Extract, c.extract) << c.name;
    if (c.extract) {
      EXPECT_EQ(o.Length, c.length) << c.name;
    }
  }
}

TEST_F(MPG, BadAndUnhandledCodes) {
  // A slice code ends the walk with its log line.
  TOutcome o = Walk(OnMedium(Cat({Pack(), Code(0x01), Code(0xB9)})));
  EXPECT_FALSE(o.Check);
  EXPECT_TRUE(HasLine("JPG: Got bad tag 1 - bailing out"));

  // After user data the search moves to the next prefix, and the start code right
  // after that prefix (a slice here, which would end the walk) is passed over.
  TDebugLines::Instance().Clear();
  TBytes s = Cat({Pack(), Code(0xB2), Fill(40, 0x77), Code(0x01), Fill(3, 0x66), Code(0xB9)});
  o = Walk(OnMedium(s));
  EXPECT_TRUE(o.Check);
  EXPECT_TRUE(o.Extract);
  EXPECT_EQ(o.Length, s.size());
  EXPECT_TRUE(HasLine("JPG: Got unhandled tag 178 - Scanning for next"));
  EXPECT_FALSE(HasLine("JPG: Got bad tag 1 - bailing out"));

  TDebugLines::Instance().Clear();
  Walk(OnMedium(Cat({Pack(), Code(0xB5), {0x7F}, Code(0xB9)})));
  EXPECT_TRUE(HasLine("MPG: Got a Picture Display Extension - Not supported"));
  Walk(OnMedium(Cat({Pack(), Code(0xB5), {0xAF}, Code(0xB9)})));
  EXPECT_TRUE(HasLine("MPG: Got a Temporal Scalable Extension - Not supported"));
}

TEST_F(MPG, ScanForStartCodeReadsToTheEndAndStopsThere) {
  // User data followed by megabytes without a prefix: the search runs to the end of
  // the medium, fails there with the read's log line, and the walk fails.
  TBytes s = Cat({Pack(), Code(0xB2)});
  TBytes img = OnMedium(s, 4096, 0xAA);
  TOutcome o = Walk(img);
  EXPECT_FALSE(o.Check);
  EXPECT_FALSE(o.Extract);
  EXPECT_TRUE(HasLine("RECOGNIZER: Medium  Data is NULL for position 4096"));
}

TEST_F(MPG, EndCodeBeyondMaxSizeGivesExactlyMaxSize) {
  // Pack header, then full-length packets up to 130 MiB, then the end code.
  constexpr uint64_t packet = 65535 + 6;
  constexpr uint64_t packets = (130ull << 20) / packet;
  constexpr uint64_t endAt = 12 + packets * packet;
  const TBytes pack = Pack(), end = Code(0xB9);
  const uint8_t head[6] = {0x00, 0x00, 0x01, 0xE0, 0xFF, 0xFF};
  TGeneratedMedium m(endAt + 4 + 512, [&](uint64_t off, uint8_t* b, std::size_t n) {
    std::memset(b, 0x55, n);
    auto put = [&](uint64_t at, const uint8_t* bytes, std::size_t count) {
      for (std::size_t i = 0; i < count; ++i)
        if (at + i >= off && at + i < off + n)
          b[at + i - off] = bytes[i];
    };
    put(0, pack.data(), pack.size());
    uint64_t first = off > 12 + packet ? (off - 12) / packet - 1 : 0;
    for (uint64_t k = first; k < packets && 12 + k * packet < off + n; ++k)
      put(12 + k * packet, head, sizeof head);
    put(endAt, end.data(), end.size());
    if (off + n > endAt + 4)
      std::memset(b + (endAt + 4 > off ? endAt + 4 - off : 0), 0,
                  off + n - std::max(off, endAt + 4));
  });
  TMPEGRecognizer r;
  m.SetPosition(0);
  ASSERT_TRUE(r.Check(m));
  m.SetPosition(0);
  TMemoryStream s;
  EXPECT_TRUE(r.Extract(m, s));
  EXPECT_EQ(s.GetPosition(), 134217728);
}

namespace {
// Packs of 2 KiB, each starting a sector, and no end code: what some muxers write.
TBytes PacksWithoutEnd(int packs) {
  TBytes out;
  for (int i = 0; i < packs; ++i) {
    TBytes p = Cat({Pack(), Packet(0xE0, 2048 - 12 - 6, static_cast<uint8_t>(i))});
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}
} // namespace

TBytes Joined(const std::vector<TFound>& Files) {
  TBytes all;
  for (auto& f : Files)
    all.insert(all.end(), f.Bytes.begin(), f.Bytes.end());
  return all;
}

// A small JPEG header: the JPEG recognizer claims the sector and carves from it.
TBytes JpegHead() {
  return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
          0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xFF, 0xD9};
}

TEST_F(MPG, StreamWithoutEndCodeComesOutWhole) {
  // Every pack header starts a sector and passes Check. The walk from the first one
  // passes over all of them and fails at the JPEG; the packs it passed over continue
  // the carve, so the stream is one file, and the JPEG after it is found at its own
  // sector. The block loads show that the stream is walked once, not once per pack.
  constexpr int packs = 2048; // 4 MiB
  const TBytes stream = PacksWithoutEnd(packs);
  TBytes img = OnMedium(Cat({stream, JpegHead()}), packs * 4 + 64);
  TMemoryMedium m(img);
  TRecognizers reg;
  reg.Register(std::make_unique<TJPGRecognizer>());
  reg.Register(std::make_unique<TMPEGRecognizer>());
  auto res = Scan(m, reg);
  ASSERT_EQ(res.Files.size(), 2u);
  EXPECT_EQ(res.Files[0].Name, "MPG");
  EXPECT_TRUE(res.Files[0].Bytes == stream);
  EXPECT_EQ(res.Files[1].Name, "JPG");
  EXPECT_EQ(res.Files[1].Bytes.size(), img.size() - stream.size());
  // The scan reads every block once and the walk reads the stream's blocks once more.
  const int blocks = static_cast<int>(img.size() / 32768);
  EXPECT_LE(m.ReadCalls, 2 * blocks + 8);
}

TEST_F(MPG, StreamWithoutEndCodeInterruptedOrAtMaxSize) {
  // A foreign file inside the stream ends the carve there; the next pack header starts
  // the rest of the stream as a file of its own without walking it again. A carve that
  // reaches MaxSize ends at its last pack before the cut and the stream goes on in the
  // next file. No byte of the stream is lost but the sectors the measured foreign
  // file covers and those after it up to the next pack, which no file claims.
  constexpr int packs = 512; // 1 MiB
  const TBytes stream = PacksWithoutEnd(packs);
  struct {
    const char* name;
    uint32_t maxSize;
    bool foreign;           // a measured file of one sector at the second sector of pack 200
    std::size_t files;      // MPG files
    std::size_t firstBytes; // of the first MPG file
  } cases[] = {
      {"foreign file inside", 134217728, true, 2, 200 * 2048 + 512},
      {"MaxSize of 64 KiB", 65536, false, 16, 65536},
      // The cut would fall inside a pack: the file ends at the pack before it instead.
      {"MaxSize not a multiple of a pack", 65536 + 100, false, 16, 65536},
  };
  for (auto& c : cases) {
    TBytes img = OnMedium(stream, packs * 4);
    if (c.foreign)
      Put(img, 200 * 4 + 1, "FOREIGN");
    TMemoryMedium m(img);
    TRecognizers reg;
    auto foreign = std::make_unique<TFakeRecognizer>("FGN", "FOREIGN", 512);
    foreign->Measure = true;
    reg.Register(std::move(foreign));
    auto mpg = std::make_unique<TMPEGRecognizer>();
    mpg->MaxSize = c.maxSize;
    reg.Register(std::move(mpg));
    auto res = Scan(m, reg);
    std::vector<TFound> mpgs;
    for (auto& f : res.Files)
      if (f.Name == "MPG")
        mpgs.push_back(f);
    ASSERT_EQ(mpgs.size(), c.files) << c.name;
    EXPECT_EQ(mpgs[0].Bytes.size(), c.firstBytes) << c.name;
    TBytes expected = stream;
    if (c.foreign) // the foreign sector and the rest of its pack are no file's
      expected.erase(expected.begin() + 200 * 2048 + 512, expected.begin() + 201 * 2048);
    EXPECT_TRUE(Joined(mpgs) == expected) << c.name;
    const int blocks = static_cast<int>(img.size() / 32768);
    EXPECT_LE(m.ReadCalls, 2 * blocks + 8) << c.name;
  }
}

namespace {
// Packs of 2 KiB with a clock: MPEG-2 packs carry '01' and the SCR in bytes 4-8,
// MPEG-1 packs '0010' and the SCR in bytes 4-8 in another layout.
TBytes ClockedPacks(int Packs, bool Mpeg2, uint64_t FirstScr) {
  TBytes out;
  for (int i = 0; i < Packs; ++i) {
    const uint64_t scr = FirstScr + 3600 * static_cast<uint64_t>(i);
    TBytes p = Code(0xBA);
    if (Mpeg2)
      p.insert(p.end(), {static_cast<uint8_t>(0x44 | (scr >> 27 & 0x38) | (scr >> 28 & 3)),
                         static_cast<uint8_t>(scr >> 20),
                         static_cast<uint8_t>((scr >> 12 & 0xF8) | 4 | (scr >> 13 & 3)),
                         static_cast<uint8_t>(scr >> 5), static_cast<uint8_t>((scr << 3) | 4), 0x01,
                         0x89, 0xC3});
    else
      p.insert(p.end(),
               {static_cast<uint8_t>(0x21 | (scr >> 29 & 0x0E)), static_cast<uint8_t>(scr >> 22),
                static_cast<uint8_t>((scr >> 14) | 1), static_cast<uint8_t>(scr >> 7),
                static_cast<uint8_t>((scr << 1) | 1), 0x80, 0x1B, 0x91});
    TBytes packet = Packet(0xE0, 2048 - 12 - 6, 0x33);
    p.insert(p.end(), packet.begin(), packet.end());
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}
} // namespace

TEST_F(MPG, StreamsStoredOneAfterAnotherComeOutApart) {
  // Two recordings without end codes, the second stored right after the first: one
  // walk passes from the first into the second. A clock that restarts, or packs of the
  // other version, mark the second stream's start, which begins a file of its own.
  // Between them, a sound file whose header holds 00 00 01 00: the walk takes it for a
  // picture start code and searches on, through the sound, into the second stream.
  TBytes sound = Cat({{'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'A', 'V', 'E',
                       'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   2,   0},
                      Fill(4 * 512 - 24, 0x11)});
  struct {
    const char* name;
    TBytes first, between, second;
    std::size_t files;
  } cases[] = {
      {"MPEG-2, clock restarts", ClockedPacks(40, true, 90000), {}, ClockedPacks(40, true, 0), 2},
      {"MPEG-1, clock restarts", ClockedPacks(40, false, 90000), {}, ClockedPacks(40, false, 0), 2},
      {"MPEG-1 then MPEG-2", ClockedPacks(40, false, 0), {}, ClockedPacks(40, true, 900000), 2},
      {"a walk that searched into the second stream", ClockedPacks(40, true, 90000), sound,
       ClockedPacks(40, true, 0), 2},
      {"one clock running on: one stream",
       ClockedPacks(40, true, 0),
       {},
       ClockedPacks(40, true, 3600 * 40),
       1},
  };
  for (auto& c : cases) {
    const TBytes both = Cat({c.first, c.between, c.second});
    TMemoryMedium m(OnMedium(Cat({both, JpegHead()}), 200));
    TRecognizers reg;
    reg.Register(std::make_unique<TJPGRecognizer>());
    reg.Register(std::make_unique<TMPEGRecognizer>());
    auto res = Scan(m, reg);
    ASSERT_EQ(res.Files.size(), c.files + 1) << c.name;
    if (c.files == 2) {
      EXPECT_TRUE(res.Files[0].Bytes == Cat({c.first, c.between})) << c.name;
      EXPECT_TRUE(res.Files[1].Bytes == c.second) << c.name;
    } else {
      EXPECT_TRUE(res.Files[0].Bytes == both) << c.name;
    }
  }
}

TEST_F(MPG, RememberedWalksAtTheirBoundKeepEveryByte) {
  // A memory of 64 slots is dropped again and again along the stream: the stream
  // comes out in more pieces, but every byte of it still comes out in order.
  TBytes stream = PacksWithoutEnd(300);
  TBytes img = OnMedium(stream, 300 * 4);
  auto scan = [&](std::size_t slots) {
    TMemoryMedium m(img);
    TRecognizers reg;
    auto r = std::make_unique<TMPEGRecognizer>();
    r->WalkMemoSlots = slots;
    reg.Register(std::move(r));
    return Scan(m, reg).Files;
  };
  auto full = scan(std::size_t{1} << 21);
  auto small = scan(64);
  ASSERT_EQ(full.size(), 1u);
  EXPECT_TRUE(full[0].Bytes == stream);
  EXPECT_GT(small.size(), 1u);
  EXPECT_TRUE(Joined(small) == stream);
}

TEST_F(MPG, RememberedWalksDoNotOutliveTheirScan) {
  // The same medium scanned twice with the same recognizer: first without an end
  // code (carved whole, to the end of the medium), then with one (measured).
  constexpr int packs = 16;
  TBytes stream = PacksWithoutEnd(packs);
  TMemoryMedium m(OnMedium(stream, packs * 4 + 8));
  TRecognizers reg;
  reg.Register(std::make_unique<TMPEGRecognizer>());
  auto carved = Scan(m, reg);
  ASSERT_EQ(carved.Files.size(), 1u);
  EXPECT_EQ(carved.Files[0].Bytes.size(), m.Bytes().size());

  TBytes ended = Cat({stream, Code(0xB9)});
  std::copy(ended.begin(), ended.end(), m.Bytes().begin());
  auto res = Scan(m, reg);
  ASSERT_EQ(res.Files.size(), 1u);
  EXPECT_EQ(res.Files[0].Bytes, ended);

  // Direct calls at the same sector after a change of the bytes.
  TMPEGRecognizer r;
  TMemoryMedium a(OnMedium(stream, packs * 4 + 8));
  TMemoryStream s;
  a.SetPosition(0);
  EXPECT_FALSE(r.Extract(a, s));
  std::copy(ended.begin(), ended.end(), a.Bytes().begin());
  a.SetPosition(0);
  EXPECT_TRUE(r.Extract(a, s));
  EXPECT_EQ(s.GetPosition(), static_cast<int64_t>(ended.size()));
}

TEST_F(MPG, HostileBytes) {
  // Truncated headers, lengths past the end, a medium of pack headers and slices, and
  // a sector size below the header: every call ends, none reads out of bounds.
  std::vector<TBytes> inputs = {
      Code(0xBA),
      Cat({Code(0xBA), Fill(3, 0x44)}),
      Cat({Pack(), Code(0xB3)}),
      Cat({Pack(), Code(0xB5)}),
      Cat({Pack(), {0x00, 0x00, 0x01, 0xBB, 0xFF}}),
  };
  for (auto& in : inputs)
    for (uint32_t sector : {1u, 3u, 512u}) {
      TBytes img = in;
      img.resize((img.size() + sector - 1) / sector * sector, 0);
      TMemoryMedium m(img, sector);
      TMPEGRecognizer r;
      m.SetPosition(0);
      r.Check(m);
      m.SetPosition(0);
      TMemoryStream s;
      EXPECT_FALSE(r.Extract(m, s));
    }
  TBytes img(64 * 512, 0);
  for (uint32_t i = 0; i < 64; ++i) {
    TBytes p = Cat({Pack(), Code(static_cast<uint8_t>(i % 2 ? 0xB2 : 0xB8))});
    std::copy(p.begin(), p.end(), img.begin() + i * 512);
  }
  TMemoryMedium m(img);
  TRecognizers reg;
  reg.Register(std::make_unique<TMPEGRecognizer>());
  auto res = Scan(m, reg);
  EXPECT_TRUE(res.Completed);
}
