// End to end: real sound and video files that no one here wrote, on a FAT card
// image that was formatted again after some of them were deleted, scanned with every
// built-in recognizer. The samples and the card come from make_av_samples.sh.
#include "MemoryMedium.h"
#include "ScanHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

using namespace gf;
using namespace gf::test;

namespace {

using TBytes = std::vector<uint8_t>;

const std::string Dir = GF_AV_DIR;

TBytes Load(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  return TBytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& Path) {
  std::ifstream f(Path);
  std::vector<std::string> out;
  for (std::string l; std::getline(f, l);)
    if (!l.empty())
      out.push_back(l);
  return out;
}

// How each sample must come back. Whole: byte-identical, with its type key. Starts:
// one file that begins with the whole sample.
enum class TExpect { Whole, Starts, NotFound };

struct TSample {
  const char* Key;
  TExpect Expect;
};

const std::map<std::string, TSample>& Samples() {
  static const std::map<std::string, TSample> table = {
      {"clip_mpeg4.avi", {"AVI", TExpect::Whole}},
      {"clip_mjpeg.avi", {"AVI", TExpect::Whole}},
      {"tone_mono.wav", {"WAV", TExpect::Whole}},
      {"tone_stereo.wav", {"WAV", TExpect::Whole}},
      {"alsa_Front_Center.wav", {"WAV", TExpect::Whole}},
      {"alsa_Noise.wav", {"WAV", TExpect::Whole}},
      {"alsa_Rear_Left.wav", {"WAV", TExpect::Whole}},
      {"song_128k.mp3", {"MP3", TExpect::Whole}},
      {"song_mpeg2.mp3", {"MP3", TExpect::Whole}},
      {"song_mpeg25.mp3", {"MP3", TExpect::Whole}},
      {"song_vbr.mp3", {"MP3", TExpect::Whole}},
      {"movie_mpeg1.mpg", {"MPG", TExpect::Whole}},
      {"movie_mpeg2.mpg", {"MPG", TExpect::Whole}},
      {"movie_dvd.mpg", {"MPG", TExpect::Whole}},
      {"song_untagged.mp3", {"MP3", TExpect::Whole}},
      // Without the end code the walk cannot measure the stream: it is carved whole,
      // up to the next file's header.
      {"noend_mpeg1.mpg", {"MPG", TExpect::Starts}},
      {"noend_vob.mpg", {"MPG", TExpect::Starts}},
      {"noend_dvd.mpg", {"MPG", TExpect::Starts}},
      // Only "moov" or "pnot" as the first atom mark a movie; "ftyp" does not.
      {"limit_ftyp.mov", {"MOV", TExpect::NotFound}},
  };
  return table;
}

bool StartsWith(const TBytes& Whole, const TBytes& Part) {
  return Part.size() <= Whole.size() && std::equal(Part.begin(), Part.end(), Whole.begin());
}

class AvCard : public ::testing::Test {
protected:
  void SetUp() override {
    std::string why;
    for (auto& n : Lines(Dir + "/notes"))
      why += n + "; ";
    names = Lines(Dir + "/card.list");
    card = Load(Dir + "/card.img");
    if (names.empty() || card.empty())
      GTEST_SKIP() << "no samples or no card image in " << Dir << ": " << why;
    if (!why.empty())
      std::cout << "[ NOTE     ] left out: " << why << "\n";
  }

  std::vector<std::string> names;
  TBytes card;
};

} // namespace

TEST_F(AvCard, EverySampleComesBackAsItsRulesSay) {
  TMemoryMedium m(card);
  TRecognizers reg;
  RegisterBuiltinRecognizers(reg);
  TScanResult res = Scan(m, reg);
  ASSERT_TRUE(res.Completed);

  for (const std::string& name : names) {
    auto it = Samples().find(name);
    ASSERT_NE(it, Samples().end()) << "a sample the test does not know: " << name;
    const TSample& want = it->second;
    const TBytes file = Load(Dir + "/samples/" + name);
    ASSERT_FALSE(file.empty()) << name;

    auto findFile = [&](auto Pred) {
      return std::find_if(res.Files.begin(), res.Files.end(),
                          [&](const TFound& f) { return f.Name == want.Key && Pred(f.Bytes); });
    };
    switch (want.Expect) {
    case TExpect::Whole: {
      auto f = findFile([&](const TBytes& b) { return b == file; });
      EXPECT_NE(f, res.Files.end())
          << name << " (" << file.size() << " bytes) not found whole as " << want.Key;
      break;
    }
    case TExpect::Starts: {
      auto f = findFile([&](const TBytes& b) { return StartsWith(b, file); });
      EXPECT_NE(f, res.Files.end()) << name << " (" << file.size()
                                    << " bytes) not found whole at the start of a " << want.Key;
      break;
    }
    case TExpect::NotFound: {
      const TBytes head(file.begin(), file.begin() + 64);
      EXPECT_EQ(findFile([&](const TBytes& b) { return StartsWith(b, head); }), res.Files.end())
          << name << " was found as " << want.Key;
      break;
    }
    }
  }
}
