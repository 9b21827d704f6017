#include "recognizers/RecognizerCRW.h"
#include "ByteFixture.h"
#include "MemoryMedium.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace gf;
using namespace gf::test;

namespace {

using Bytes = std::vector<uint8_t>;

// A CIFF header, and a medium of 0x77 bytes (no NUL, nothing an anchor search stops at).
Bytes Crw(std::size_t size) {
  Bytes b(size, 0x77);
  PutText(b, 0, std::string("II\x1A\0\0\0HEAPCCD\x01", 14));
  return b;
}

// "Canon", NUL, a model string of Model characters and its NUL, at At.
void Anchor(Bytes& b, std::size_t at, std::size_t model = 15) {
  PutText(b, at, std::string("Canon\0", 6) + std::string(model, 'M') + std::string(1, '\0'));
}

// The last heap entry's offset at P, equal to Target, with the two sums holding
// (or not), and the heap trailer after it.
void Trailer(Bytes& b, std::size_t p, uint32_t target, bool sumsHold = true) {
  Put32(b, p - 14, 30);          // size of the entry before
  Put32(b, p - 10, target - 30); // its offset: size + offset = this offset
  Put32(b, p - 4, 400);          // this entry's size
  Put32(b, p, target);
  Put32(b, p + 4, sumsHold ? target + 400 : target + 401);
}

uint32_t Measured(Bytes img, uint32_t sectorSize = 512) {
  TMemoryMedium m(std::move(img), sectorSize);
  TCRWRecognizer r;
  TMemoryStream s;
  if (!r.Extract(m, s))
    return 0;
  return static_cast<uint32_t>(s.GetPosition());
}

} // namespace

TEST(CRW, Signature) {
  struct {
    std::size_t at;
    uint8_t value;
    bool want;
  } cases[] = {{4, 0x55, true}, {5, 0x99, true},  {13, 0x00, true}, {12, 'E', false},
               {6, 'h', false}, {2, 0x1B, false}, {3, 0x01, false}, {0, 'M', false}};
  for (auto& c : cases) {
    auto img = Crw(1024);
    img[c.at] = c.value;
    TMemoryMedium m(img);
    TCRWRecognizer r;
    EXPECT_EQ(r.Check(m), c.want) << c.at;
  }
}

TEST(CRW, AnchorAndTrailerRules) {
  struct {
    const char* what;
    std::function<void(Bytes&)> build;
    uint32_t want; // 0: not measured
  } cases[] = {
      {"the worked example",
       [](Bytes& b) {
         Anchor(b, 600);
         Put32(b, 5000, 76);
         Put32(b, 4986, 50);
         Put32(b, 4990, 26);
         Put32(b, 4996, 1000);
         Put32(b, 5004, 1076);
       },
       5008},
      {"a model of 5 characters is no anchor; the next step's is",
       [](Bytes& b) {
         Anchor(b, 600, 5);
         Anchor(b, 604 + 8);
         Trailer(b, 612 + 2000, 612 - 524);
         Trailer(b, 600 + 3000, 600 - 524); // would match the first anchor
       },
       2620},
      {"a model of 6 characters is enough",
       [](Bytes& b) {
         Anchor(b, 600, 6);
         Trailer(b, 2000, 76);
       },
       2008},
      {"a model running to the end of the read fails",
       [](Bytes& b) {
         PutText(b, 600, std::string("Canon\0", 6));
         Trailer(b, 2000, 76);
       },
       0},
      {"a control character ends the model too early",
       [](Bytes& b) {
         Anchor(b, 600);
         b[608] = 0x09;
         Trailer(b, 2000, 76);
       },
       0},
      {"Canon at 4k + 2 is found through its \"non\" word",
       [](Bytes& b) {
         Anchor(b, 602);
         Trailer(b, 2002, 78);
       },
       2010},
      {"Canon at 4k + 1 is not found",
       [](Bytes& b) {
         Anchor(b, 601);
         Trailer(b, 2001, 77);
       },
       0},
      {"Canon at 4k + 3 is not found",
       [](Bytes& b) {
         Anchor(b, 603);
         Trailer(b, 2003, 79);
       },
       0},
      {"a target whose sums fail is passed over",
       [](Bytes& b) {
         Anchor(b, 600);
         Trailer(b, 2000, 76, false);
         Trailer(b, 3000, 76);
       },
       3008},
      {"the trailer window ends 102,400 bytes after the anchor",
       [](Bytes& b) {
         Anchor(b, 600);
         Trailer(b, 600 + 102400, 76);
       },
       0},
      {"the window's last step",
       [](Bytes& b) {
         Anchor(b, 600);
         Trailer(b, 600 + 102396, 76);
       },
       600 + 102396 + 8},
      {"a failed window moves the anchor search on by 4 bytes",
       [](Bytes& b) {
         Anchor(b, 600);
         Anchor(b, 600 + 102396); // the first window's last word reads "Cano"
         Trailer(b, 600 + 102396 + 1000, 600 + 102396 - 524);
       },
       600 + 102396 + 1008},
  };
  for (auto& c : cases) {
    auto img = Crw(1 << 20);
    c.build(img);
    EXPECT_EQ(Measured(img), c.want) << c.what;
    if (c.want) {
      Bytes shifted(7 * 512, 0); // at sector 7, on 2048-byte sectors too
      shifted.resize(7 * 2048, 0);
      shifted.insert(shifted.end(), img.begin(), img.end());
      TMemoryMedium m(shifted, 2048);
      m.SetPosition(7);
      TCRWRecognizer r;
      TMemoryStream s;
      ASSERT_TRUE(r.Extract(m, s)) << c.what;
      ASSERT_EQ(s.GetPosition(), c.want) << c.what;
      EXPECT_TRUE(std::equal(s.Memory(), s.Memory() + c.want, img.begin())) << c.what;
    }
  }
}

TEST(CRW, LimitsAndFailures) {
  {
    auto img = Crw(11 << 20);
    Anchor(img, 10 << 20);
    Trailer(img, (10 << 20) + 1000, (10 << 20) - 524);
    EXPECT_EQ(Measured(img), 0u) << "no anchor search past MaxSize";
    Anchor(img, (10 << 20) - 4000);
    Trailer(img, (10 << 20) + 50000, (10 << 20) - 4000 - 524);
    EXPECT_EQ(Measured(img), 10485760u) << "cut at MaxSize";
  }
  {
    auto img = Crw(4096);
    EXPECT_EQ(Measured(img), 0u) << "the medium ends before any anchor";
    Anchor(img, 600);
    Trailer(img, 3000, 76);
    TMemoryMedium m(img);
    m.FailSector(5);
    TCRWRecognizer r;
    TMemoryStream s;
    EXPECT_FALSE(r.Extract(m, s)) << "unreadable sector in the trailer window";
  }
  for (uint32_t failing : {TCRWRecognizer::MaxAnchors - 1, TCRWRecognizer::MaxAnchors}) {
    // Anchors whose windows hold no match, then one whose window does.
    auto img = Crw(1 << 20);
    uint32_t at = 1024;
    for (uint32_t i = 0; i < failing; ++i, at += 32)
      Anchor(img, at);
    Anchor(img, at);
    Trailer(img, at + 4000, at - 524);
    EXPECT_EQ(Measured(img), failing < TCRWRecognizer::MaxAnchors ? at + 4008 : 0u) << failing;
  }
}
