#include "Sound.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace gf;

namespace {

std::vector<uint8_t> Wave(uint16_t Format, uint16_t Channels, uint32_t Rate, uint16_t Bits,
                          uint32_t DataBytes, uint32_t DeclaredData = 0) {
  std::vector<uint8_t> w;
  auto put = [&w](const void* p, std::size_t n) {
    w.insert(w.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
  };
  auto u32 = [&put](uint32_t v) { put(&v, 4); };
  auto u16 = [&put](uint16_t v) { put(&v, 2); };
  put("RIFF", 4);
  u32(36 + DataBytes);
  put("WAVE", 4);
  put("LIST", 4); // an unknown chunk first, of odd length with its pad byte
  u32(3);
  put("abc\0", 4);
  put("fmt ", 4);
  u32(16);
  u16(Format);
  u16(Channels);
  u32(Rate);
  u32(Rate * Channels * Bits / 8);
  u16(static_cast<uint16_t>(Channels * Bits / 8));
  u16(Bits);
  put("data", 4);
  u32(DeclaredData ? DeclaredData : DataBytes);
  w.resize(w.size() + DataBytes, 0x80);
  return w;
}

} // namespace

TEST(ParseWave, AcceptsPlainPcmAndRefusesTheRest) {
  struct TCase {
    const char* What;
    std::vector<uint8_t> File;
    bool Ok;
    std::size_t DataBytes;
  };
  const TCase cases[] = {
      {"16-bit mono", Wave(1, 1, 22050, 16, 100), true, 100},
      {"8-bit stereo", Wave(1, 2, 8000, 8, 64), true, 64},
      {"cut-off data plays what there is", Wave(1, 1, 22050, 16, 10, 1000000), true, 10},
      {"compressed", Wave(2, 1, 22050, 16, 100), false, 0},
      {"six channels", Wave(1, 6, 22050, 16, 100), false, 0},
      {"24-bit", Wave(1, 1, 22050, 24, 99), false, 0},
      {"rate zero", Wave(1, 1, 0, 16, 100), false, 0},
      {"no data", Wave(1, 1, 22050, 16, 0), false, 0},
      {"not RIFF", std::vector<uint8_t>(64, 0), false, 0},
      {"empty", {}, false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    auto w = ParseWave(c.File);
    ASSERT_EQ(w.has_value(), c.Ok);
    if (w) {
      EXPECT_EQ(w->Data.size(), c.DataBytes);
    }
  }
}

TEST(ParseWave, HugeChunkLengthsNeverReadPastTheEnd) {
  auto w = Wave(1, 1, 22050, 16, 100);
  std::memset(w.data() + 16, 0xFF, 4); // the unknown chunk claims 4 GiB
  EXPECT_FALSE(ParseWave(w).has_value());
}

TEST(SoundPlayer, WithoutADeviceStaysSilentAndLogsOnce) {
  test::TLogCapture log;
  {
    TSoundPlayer player("gf_no_such_sound_device");
    player.Play(Wave(1, 1, 22050, 16, 100));
    player.WaitIdle();
    player.Play(Wave(1, 1, 22050, 16, 100));
    player.WaitIdle();
    EXPECT_TRUE(player.Silent());
  }
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("SOUND: No sound device answers (", 0), 0u) << lines[0];
}
