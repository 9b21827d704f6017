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

// How each sample must come back. Whole: byte-identical, with its type key.
enum class TExpect { Whole, WithoutLastFrame, InPieces, NotFound };

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
      // A frame counts only when a header or an ID3v1 tag follows it, so an
      // untagged stream ends before its last frame.
      {"limit_untagged.mp3", {"MP3", TExpect::WithoutLastFrame}},
      // Without the end code the walk cannot measure the stream: it is carved, and
      // every pack header that starts a sector ends one carve and begins the next.
      {"limit_noend.mpg", {"MPG", TExpect::InPieces}},
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
    case TExpect::WithoutLastFrame: {
      auto f = findFile([&](const TBytes& b) {
        return b.size() < file.size() && file.size() - b.size() <= 1441 && StartsWith(file, b);
      });
      ASSERT_NE(f, res.Files.end()) << name;
      EXPECT_EQ(file[f->Bytes.size()], 0xFF) << name << ": the rest is no frame";
      break;
    }
    case TExpect::InPieces: {
      // Nothing of the stream is lost: its pieces, in order, hold it from its start.
      const TBytes head(file.begin(), file.begin() + 2048);
      auto first = findFile([&](const TBytes& b) { return StartsWith(b, head); });
      ASSERT_NE(first, res.Files.end()) << name;
      TBytes joined;
      int pieces = 0;
      for (auto f = first; f != res.Files.end() && joined.size() < file.size(); ++f, ++pieces) {
        ASSERT_EQ(f->Name, "MPG") << name;
        joined.insert(joined.end(), f->Bytes.begin(), f->Bytes.end());
      }
      EXPECT_GT(pieces, 1) << name;
      ASSERT_GE(joined.size(), file.size()) << name;
      EXPECT_TRUE(std::equal(file.begin(), file.end(), joined.begin())) << name;
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
