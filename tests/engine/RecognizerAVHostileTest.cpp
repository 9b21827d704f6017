// Damaged media are hostile input: many small media of random bytes, salted with
// the pieces these recognizers look for (headers with random sizes, chains, tags),
// at several sector sizes. Every Check and Extract must end, stay within the medium
// and leave the scan able to go on; the sanitizer build catches what goes wrong.
#include "MemoryMedium.h"
#include "ScanHarness.h"
#include "recognizers/RecognizerMOV.h"
#include "recognizers/RecognizerMP3.h"
#include "recognizers/RecognizerMPG.h"
#include "recognizers/RecognizerRIFF.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace gf;
using namespace gf::test;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes HostileMedium(std::mt19937& rng, std::size_t size) {
  TBytes b(size);
  for (auto& v : b)
    v = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng());
  static const std::vector<TBytes> pieces = {
      {'R', 'I', 'F', 'F'}, {'R', 'I', 'F', 'X'}, {'A', 'V', 'I', ' '}, {'W', 'A', 'V', 'E'},
      {'m', 'o', 'o', 'v'}, {'p', 'n', 'o', 't'}, {'f', 'r', 'e', 'e'}, {0, 0, 1, 0xBA},
      {0, 0, 1, 0xB9},      {0, 0, 1, 0xB3},      {0, 0, 1, 0xB5},      {0, 0, 1, 0xB2},
      {0, 0, 1, 0xE0},      {0, 0, 1, 0xBB},      {0xFF, 0xFB, 0x90},   {0xFF, 0xFF, 0x10},
      {0xFF, 0xE3, 0xE8},   {'I', 'D', '3'},      {'T', 'A', 'G'},      {0, 0, 0, 8},
      {0xFF, 0xFF, 0xFF},   {0, 0, 0, 0},         {0x7F, 0x7F, 0x7F},
  };
  const std::size_t salt = 1 + size / 16;
  for (std::size_t i = 0; i < salt && size >= 4; ++i) {
    const TBytes& p = pieces[rng() % pieces.size()];
    std::size_t at = rng() % 3 == 0 ? (rng() % (size / 64 + 1)) * 64 % size : rng() % size;
    for (std::size_t k = 0; k < p.size() && at + k < size; ++k)
      b[at + k] = p[k];
  }
  return b;
}

} // namespace

TEST(AVHostile, EveryCallEndsWithinTheMedium) {
  std::mt19937 rng(7);
  for (int round = 0; round < 1000; ++round) {
    const uint32_t sector = std::vector<uint32_t>{1, 3, 64, 512}[rng() % 4];
    const std::size_t size = sector * (1 + rng() % 24) + rng() % 2;
    TBytes img = HostileMedium(rng, size);
    TMemoryMedium m(img, sector);
    if (rng() % 5 == 0 && m.SectorCount() > 2)
      m.FailSector(static_cast<uint32_t>(rng() % m.SectorCount()));
    std::vector<std::unique_ptr<TRecognizer>> recs;
    recs.push_back(std::make_unique<TMPEGRecognizer>());
    recs.push_back(std::make_unique<TAVIRecognizer>());
    recs.push_back(std::make_unique<TWAVRecognizer>());
    recs.push_back(std::make_unique<TRIFFRecognizer>());
    recs.push_back(std::make_unique<TMOVRecognizer>());
    recs.push_back(std::make_unique<TMP3Recognizer>());
    for (uint32_t s = 0; s < m.SectorCount(); ++s)
      for (auto& r : recs) {
        m.SetPosition(s);
        r->Check(m);
        m.SetPosition(s);
        TMemoryStream out;
        r->Extract(m, out);
        ASSERT_LE(static_cast<std::size_t>(out.GetPosition()),
                  std::size_t{m.SectorCount()} * sector)
            << r->GetName() << " round " << round << " sector " << s;
      }
    TRecognizers reg;
    RegisterBuiltinRecognizers(reg);
    auto res = Scan(m, reg);
    EXPECT_EQ(res.DoneCount, 1) << round;
  }
}
