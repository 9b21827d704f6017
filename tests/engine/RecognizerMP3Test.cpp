#include "recognizers/RecognizerMP3.h"
#include "MemoryMedium.h"
#include "ScanHarness.h"
#include "recognizers/RecognizerJPG.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace gf;
using namespace gf::test;

namespace {

using TBytes = std::vector<uint8_t>;

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz: 417 bytes, 418 with padding.
const TBytes L3 = {0xFF, 0xFB, 0x90, 0x00};
const TBytes L3Padded = {0xFF, 0xFB, 0x92, 0x00};
// MPEG-1 Layer I, 32 kbit/s, 44100 Hz: 8 slots of 4 bytes, one more with padding.
const TBytes L1 = {0xFF, 0xFF, 0x10, 0x00};
const TBytes L1Padded = {0xFF, 0xFF, 0x12, 0x00};
// MPEG-2.5 Layer III, 160 kbit/s, 8000 Hz: 1440 bytes, longer than a sector.
const TBytes Long = {0xFF, 0xE3, 0xE8, 0x00};

TBytes Frame(const TBytes& head, std::size_t length, uint8_t fill = 0x55) {
  TBytes f(length, fill);
  std::copy(head.begin(), head.begin() + static_cast<long>(std::min(length, head.size())),
            f.begin()); // a frame may be cut short inside its header
  return f;
}
TBytes Frames(int n, const TBytes& head = L3, std::size_t length = 417) {
  TBytes out;
  for (int i = 0; i < n; ++i) {
    TBytes f = Frame(head, length, static_cast<uint8_t>(0x20 + i % 64));
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}
TBytes Tag() {
  TBytes t(128, 'x');
  std::memcpy(t.data(), "TAG", 3);
  return t;
}
TBytes Id3(uint8_t flags, std::array<uint8_t, 4> size, std::size_t length) {
  TBytes t(length, 0x01);
  std::memcpy(t.data(), "ID3", 3);
  t[3] = 4;
  t[4] = 0;
  t[5] = flags;
  std::copy(size.begin(), size.end(), t.begin() + 6);
  return t;
}
TBytes Cat(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}
TBytes OnMedium(const TBytes& stream, std::size_t slack = 4096) {
  TBytes img(stream);
  img.resize((stream.size() + slack + 511) / 512 * 512, 0);
  return img;
}

struct TOutcome {
  bool Check, Extract;
  TBytes File;
};
TOutcome Examine(TMedium& m, uint32_t at = 0) {
  TMP3Recognizer r;
  TOutcome o{};
  m.SetPosition(at);
  o.Check = r.Check(m);
  EXPECT_EQ(m.GetPosition(), at);
  m.SetPosition(at);
  TMemoryStream s;
  o.Extract = r.Extract(m, s);
  o.File.assign(s.Memory(), s.Memory() + s.GetPosition());
  return o;
}
TOutcome Examine(const TBytes& img) {
  TMemoryMedium m(img);
  return Examine(m);
}

} // namespace

TEST(MP3, HeaderFieldsAndLengths) {
  struct {
    TBytes head;
    bool valid;
    uint32_t length;
  } cases[] = {
      {L3, true, 417},
      {L3Padded, true, 418},
      {{0xFF, 0xFD, 0x90, 0x00}, true, 522}, // Layer II, 160 kbit/s, 44100 Hz
      {{0xFF, 0xF3, 0x80, 0x00}, true, 208}, // MPEG-2 Layer III, 64 kbit/s, 22050 Hz
      {{0xFF, 0xF5, 0x80, 0x00}, true, 417}, // MPEG-2 Layer II, 64 kbit/s, 22050 Hz
      {L1, true, 32},
      {L1Padded, true, 36},
      {{0xFF, 0xFF, 0xE0, 0x00}, true, 121 * 4}, // Layer I, 448 kbit/s, 44100 Hz: 121 slots
      {Long, true, 1440},
      {{0xFF, 0xFB, 0x00, 0x00}, false, 0}, // free format
      {{0xFF, 0xFB, 0xF0, 0x00}, false, 0}, // bitrate index 15
      {{0xFF, 0xFB, 0x9C, 0x00}, false, 0}, // sampling-rate index 3
      {{0xFF, 0xFB, 0x90, 0x02}, false, 0}, // emphasis 2
      {{0xFF, 0xEB, 0x90, 0x00}, false, 0}, // reserved version
      {{0xFF, 0xF9, 0x90, 0x00}, false, 0}, // reserved layer
      {{0xFF, 0xDB, 0x90, 0x00}, false, 0}, // sync one bit short
  };
  for (auto& c : cases) {
    TMp3FrameHeader h = ParseHeader(c.head.data());
    EXPECT_EQ(IsValidHeader(h), c.valid) << std::hex << int(c.head[1]) << int(c.head[2]);
    if (c.valid) {
      EXPECT_EQ(FrameLength(h), c.length) << std::hex << int(c.head[1]) << int(c.head[2]);
    }
  }
}

TEST(MP3, Chains) {
  struct {
    const char* name;
    TBytes stream;
    bool check;
    std::size_t lead;   // bytes in front of the first frame in the file
    std::size_t length; // of the file Extract writes
  } cases[] = {
      {"20 frames and an ID3v1 tag", Cat({Frames(20), Tag()}), true, 0, 20 * 417 + 128},
      {"19 frames and an ID3v1 tag", Cat({Frames(19), Tag()}), false, 0, 19 * 417 + 128},
      {"untagged: the last frame is kept though no header follows it", Frames(30), true, 0,
       30 * 417},
      {"100 bytes in front", Cat({TBytes(100, 0x11), Frames(20), Tag()}), true, 100,
       100 + 20 * 417 + 128},
      {"header at offset 511 of the window", Cat({TBytes(511, 0x11), Frames(21)}), true, 511,
       511 + 21 * 417},
      {"header at offset 512", Cat({TBytes(512, 0x11), Frames(21)}), false, 512, 512 + 20 * 417},
      {"ID3v2 of 267 bytes", Cat({Id3(0, {0, 0, 2, 1}, 267), Frames(20), Tag()}), true, 267,
       267 + 20 * 417 + 128},
      {"ID3v2 with a footer, 277 bytes", Cat({Id3(0x10, {0, 0, 2, 1}, 277), Frames(20), Tag()}),
       true, 277, 277 + 20 * 417 + 128},
      {"ID3v2 with bytes in front of the header",
       Cat({Id3(0, {0, 0, 0, 50}, 60), TBytes(300, 0x11), Frames(21)}), true, 360, 360 + 21 * 417},
      {"Layer I slots",
       Cat({Frames(10, L1, 32), Frames(1, L1Padded, 36), Frames(10, L1, 32), Tag()}), true, 0,
       20 * 32 + 36 + 128},
      {"free format is never a frame", Cat({Frames(30, {0xFF, 0xFB, 0x00, 0x00}, 417)}), false, 0,
       0},
      {"frames longer than a sector", Cat({Frames(21, Long, 1440)}), true, 0, 21 * 1440},
      {"two untagged streams back to back chain into one", Cat({Frames(25), Frames(25), Tag()}),
       true, 0, 50 * 417 + 128},
  };
  for (auto& c : cases) {
    TOutcome o = Examine(OnMedium(c.stream));
    EXPECT_EQ(o.Check, c.check) << c.name;
    if (std::string(c.name) == "free format is never a frame") {
      EXPECT_FALSE(o.Extract);
      continue;
    }
    if (c.lead >= 512) { // no first frame found from this sector
      EXPECT_FALSE(o.Extract) << c.name;
      continue;
    }
    EXPECT_TRUE(o.Extract) << c.name;
    EXPECT_EQ(o.File.size(), c.length) << c.name;
    EXPECT_TRUE(std::equal(o.File.begin(), o.File.end(), c.stream.begin())) << c.name;
  }
  // A last frame that runs past the end of the medium is not kept.
  TBytes cut = Cat({Frames(30), Frame(L3, 100)});
  TOutcome o = Examine(OnMedium(cut, 0));
  EXPECT_TRUE(o.Extract);
  EXPECT_EQ(o.File, TBytes(cut.begin(), cut.begin() + 30 * 417));
}

TEST(MP3, SecondTryWithThePreviousLength) {
  // A padded frame whose header gives another bitrate (160 kbit/s, 523 bytes) but
  // which is followed at the previous frame's 417 + 1 bytes: the chain goes on.
  TBytes odd = Frame({0xFF, 0xFB, 0xA2, 0x00}, 418);
  TBytes s = Cat({Frames(5), odd, Frames(15), Tag()});
  TOutcome o = Examine(OnMedium(s));
  EXPECT_TRUE(o.Check);
  EXPECT_TRUE(o.Extract);
  EXPECT_EQ(o.File, s);
  // Neither length fits: the chain ends at that frame, which is kept whole by its own
  // length as the last frame of an untagged stream would be.
  TBytes broken = Cat({Frames(5), Frame({0xFF, 0xFB, 0xA2, 0x00}, 300), Frames(20), Tag()});
  o = Examine(OnMedium(broken));
  EXPECT_FALSE(o.Check);
  EXPECT_EQ(o.File, TBytes(broken.begin(), broken.begin() + 5 * 417 + 523));
}

TEST(MP3, UnreadableSectors) {
  // A block read fails as a whole, and blocks load from the sector that missed. With
  // 200 bytes in front of frames of 1440 bytes, sector 64 holds no header: the chain
  // reads past it, and the copy of the frame that reaches it fails. The file ends at
  // the last whole block.
  TBytes s = Cat({TBytes(200, 0x11), Frames(40, Long, 1440)});
  {
    TMemoryMedium m(OnMedium(s));
    m.FailSector(64);
    TOutcome o = Examine(m);
    EXPECT_TRUE(o.Check);
    EXPECT_TRUE(o.Extract);
    EXPECT_EQ(o.File, TBytes(s.begin(), s.begin() + 200 + 22 * 1440));
  }
  {
    // An ID3v2 tag of 70,010 bytes that cannot be copied leaves no whole block: the
    // stream stays empty and the file is left to the carve.
    TBytes t = Cat({Id3(0, {0, 4, 34, 112}, 70010), Frames(21)});
    TMemoryMedium m(OnMedium(t));
    m.FailSector(64);
    TMP3Recognizer r;
    m.SetPosition(0);
    EXPECT_TRUE(r.Check(m)) << "the tag and the frames after it are readable";
    m.SetPosition(0);
    TMemoryStream st;
    EXPECT_FALSE(r.Extract(m, st));
    EXPECT_EQ(st.GetPosition(), 0);
    EXPECT_EQ(st.GetSize(), 0);
  }
}

TEST(MP3, ChainLimitSplitsAnEndlessChain) {
  TBytes s = Frames(200);
  TMemoryMedium m(OnMedium(s));
  TRecognizers reg;
  auto r = std::make_unique<TMP3Recognizer>();
  r->ChainLimit = 100 * 417 + 200;
  reg.Register(std::move(r));
  auto res = Scan(m, reg);
  ASSERT_EQ(res.Files.size(), 2u);
  EXPECT_EQ(res.Files[0].Bytes, TBytes(s.begin(), s.begin() + 100 * 417));
  // The scan goes on at the sector after the first part; its first frame lies within
  // that sector, and the bytes before it come with it.
  const std::size_t next = (100 * 417 + 511) / 512 * 512;
  EXPECT_EQ(res.Files[1].Bytes, TBytes(s.begin() + static_cast<long>(next), s.end()));
}

TEST(MP3, HostileBytes) {
  std::vector<TBytes> inputs = {
      Id3(0, {0xFF, 0xFF, 0xFF, 0xFF}, 10),
      Id3(0x10, {0x7F, 0x7F, 0x7F, 0x7F}, 10),
      {'I', 'D', '3'},
      Cat({Frames(3), Id3(0, {0x7F, 0x7F, 0x7F, 0x7F}, 10)}),
      Frame(L3, 3),
      Cat({Frames(25, L1, 32)}),
  };
  for (auto& in : inputs)
    for (uint32_t sector : {1u, 3u, 512u}) {
      TBytes img = in;
      img.resize((img.size() + sector - 1) / sector * sector, 0);
      TMemoryMedium m(img, sector);
      TMP3Recognizer r;
      m.SetPosition(0);
      r.Check(m);
      m.SetPosition(0);
      TMemoryStream s;
      r.Extract(m, s);
      EXPECT_LE(static_cast<std::size_t>(s.GetPosition()), img.size());
    }
}

TEST(MP3, CarveBesideALookAheadKeepsItsBytes) {
  // A JPEG is being carved when the MP3 test at the last sector of a cached block
  // reads a successor header in the next block, which replaces the block: the
  // carve must still append the bytes of that sector, not of a freed block.
  TBytes img(200 * 512);
  for (std::size_t i = 0; i < img.size(); ++i)
    img[i] = static_cast<uint8_t>((i * 131) >> 3) & 0x7F;
  std::memcpy(img.data(), "\xFF\xD8\xFF\xE0", 4);
  std::memcpy(img.data() + 63 * 512 + 400, L3.data(), 4); // its successor lies in sector 64
  TMemoryMedium m(img);
  TRecognizers reg;
  reg.Register(std::make_unique<TJPGRecognizer>());
  reg.Register(std::make_unique<TMP3Recognizer>());
  auto res = Scan(m, reg);
  ASSERT_EQ(res.Files.size(), 1u);
  EXPECT_EQ(res.Files[0].Name, "JPG");
  EXPECT_EQ(res.Files[0].Bytes, img);
}
