#include "Debug.h"

#include "LoggedTest.h"

#include <gtest/gtest.h>

#include <thread>

using namespace gf;

class DebugLogTest : public gf::test::TLoggedTest {};

TEST_F(DebugLogTest, FormatsOneLineEach) {
  DebugLog("MEDIUM: LoadBlocks failed for %s with error %d (%s)", "E:\\", 23, "Data error");
  DebugLog("plain text");
  DebugLog("[%.8x] JPG: Tag %.2x", 16, 0xd8);
  EXPECT_EQ(
      TDebugLines::Instance().Snapshot(),
      (std::vector<std::string>{"MEDIUM: LoadBlocks failed for E:\\ with error 23 (Data error)",
                                "plain text", "[00000010] JPG: Tag D8"}));
}

TEST_F(DebugLogTest, DisabledAddsNothing) {
  DebugLogEnabled = false;
  DebugLog("ignored %d", 1);
  EXPECT_EQ(TDebugLines::Instance().Count(), 0u);
}

TEST_F(DebugLogTest, MismatchRaisesToCaller) {
  EXPECT_THROW(DebugLog("%d", "x"), EFormatError);
  EXPECT_EQ(TDebugLines::Instance().Count(), 0u);
}

TEST_F(DebugLogTest, LinesFromManyThreadsAreNeverLostOrSplit) {
  constexpr int threads = 4, each = 2000;
  std::vector<std::thread> ts;
  for (int t = 0; t < threads; ++t)
    ts.emplace_back([t] {
      for (int i = 0; i < each; ++i)
        DebugLog("T%d line %d end", t, i);
    });
  for (auto& t : ts)
    t.join();
  auto lines = TDebugLines::Instance().Snapshot();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * each));
  std::vector<int> next(threads, 0);
  for (auto& l : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(l.c_str(), "T%d line %d end", &t, &i), 2) << l;
    EXPECT_EQ(i, next[static_cast<std::size_t>(t)]++) << "order within a thread";
  }
}

TEST(LogCapture, EmptiesTheStoreAndRestoresTheSwitchItFound) {
  gf::test::TLogCapture outer; // puts the switch back after the cases below
  for (bool before : {false, true}) {
    DebugLogEnabled = before;
    DebugLogLine("left by an earlier test");
    {
      gf::test::TLogCapture log;
      EXPECT_TRUE(DebugLogEnabled);
      EXPECT_TRUE(log.Lines().empty());
      DebugLog("SCANNER: one");
      EXPECT_TRUE(log.Logged("SCANNER:"));
      EXPECT_TRUE(log.Has("SCANNER: one"));
      EXPECT_FALSE(log.Has("SCANNER:"));
    }
    EXPECT_EQ(DebugLogEnabled, before);
    EXPECT_EQ(TDebugLines::Instance().Count(), 0u);
  }
}
