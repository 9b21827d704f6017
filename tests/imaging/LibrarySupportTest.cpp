#include "LibrarySupport.h"
#include "Transforms.h"

#include <gtest/gtest.h>

#include <vector>

using namespace gf;

TEST(Misc, ClampAndFlags) {
  EXPECT_EQ(Clamp(150, 0, 100), 100);
  EXPECT_EQ(Clamp(-5, 0, 100), 0);
  EXPECT_EQ(Clamp(5, 10, 3), 3);
  EXPECT_TRUE(HasFlags(6, 2));
  EXPECT_FALSE(HasFlags(6, 3));
  EXPECT_TRUE(HasFlags(6, 0));
}

TEST(Misc, ReportProgress) {
  TNegativeTransform sender;
  std::vector<int> seen;
  TProgressEvent ev = [&](TImageTransform&, int p) { seen.push_back(p); };
  struct TCase {
    int64_t Pos, Min, Max;
    uint8_t Last;
    bool WithEvent;
    int Result;
    std::vector<int> Calls;
  };
  const TCase cases[] = {
      {5, 0, 10, 50, true, 50, {}},
      {5, 0, 10, 255, true, 50, {50}},
      {5, 0, 10, 255, false, 0, {}},
      {20, 0, 10, 255, true, 100, {100}},
      {-3, 0, 10, 255, true, 0, {0}},
      {0, 0, 0, 255, true, 100, {100}}, // one-row image: no division by zero
      {0, 7, 7, 100, true, 100, {}},
      {int64_t{1} << 40, 0, int64_t{1} << 41, 255, true, 50, {50}},
  };
  for (const auto& c : cases) {
    seen.clear();
    EXPECT_EQ(ReportProgress(sender, c.Pos, c.Min, c.Max, c.Last, c.WithEvent ? ev : nullptr),
              c.Result);
    EXPECT_EQ(seen, c.Calls);
  }
}

TEST(Misc, DateAndTimePatterns) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 14;
  t.tm_min = 7;
  t.tm_sec = 9;
  const TDateSeparators dots{'.', '.'};
  EXPECT_EQ(FormatDateTimeWith("yyyy:mm:dd", t, TDateSeparators{}), "2024:03:05");
  EXPECT_EQ(FormatDateTimeWith("yyyy/mm/dd hh:nn:ss", t, dots), "2024.03.05 14.07.09");
  // Quoted separators stand as they are whatever the locale says.
  EXPECT_EQ(FormatDateTimeWith("yyyy':'mm':'dd hh\":\"nn\":\"ss", t, dots), "2024:03:05 14:07:09");
  EXPECT_EQ(FormatDateTimeWith("d/m/yy h", t, TDateSeparators{}), "5/3/24 14");
  EXPECT_EQ(FormatDateWith("yyyy", t), "2024");
  EXPECT_EQ(FormatTimeWith("'at' hh", t), "at 14");
  EXPECT_EQ(FormatDateTimeWith("'open", t, TDateSeparators{}), "open");
}

TEST(Misc, LzwRefusal) {
  try {
    RaiseLzwNotSupported();
    FAIL();
  } catch (const EQuorvaneError& e) {
    EXPECT_STREQ(e.what(), "LZW compression not supported");
  }
}
