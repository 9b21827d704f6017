// The saver thread: work runs on a thread of its own while the caller's events go on,
// its result and its errors come back to the caller, and one piece is in hand at a time.
#include "SaverThread.h"

#include <QtCore/QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace gf;
using namespace std::chrono_literals;

TEST(SaverThread, RunsWorkElsewhereWhileTheCallersEventsGoOn) {
  TSaverThread saver;
  struct TCase {
    const char* What;
    std::chrono::milliseconds Work;
    bool Waits; // long enough for an event loop
  } cases[] = {
      // Quick work mostly returns within the quick wait, without an event loop, but a
      // loaded machine may start the saver thread late: then it waits once, as for slow.
      {"quick work", 0ms, false},
      {"slow work, events handled meanwhile", 300ms, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::thread::id worker;
    int ticks = 0, waits = 0;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start();
    int result = 0;
    saver.Run(
        [&] {
          worker = std::this_thread::get_id();
          std::this_thread::sleep_for(c.Work);
          result = 42;
        },
        [&] {
          ++waits;
          EXPECT_TRUE(saver.Busy());
        });
    EXPECT_EQ(result, 42);
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_FALSE(saver.Busy());
    if (c.Waits) {
      EXPECT_EQ(waits, 1);
    } else {
      EXPECT_LE(waits, 1);
    }
    if (c.Waits) {
      EXPECT_GT(ticks, 5) << "the caller's timer ran during the work";
    }
  }
}

TEST(SaverThread, ErrorsComeBackAndASecondRunIsRefused) {
  TSaverThread saver;
  EXPECT_THROW(saver.Run([] { throw std::runtime_error("disk gone"); }), std::runtime_error);
  bool inner = false, refused = false;
  saver.Run([] { std::this_thread::sleep_for(100ms); },
            [&] {
              QTimer::singleShot(0, [&] {
                try {
                  saver.Run([&] { inner = true; });
                } catch (const std::logic_error&) {
                  refused = true;
                }
              });
            });
  EXPECT_TRUE(refused);
  EXPECT_FALSE(inner);
  int after = 0;
  saver.Run([&] { after = 1; });
  EXPECT_EQ(after, 1) << "still usable after a refused call and an error";
}

// Destroyed while its thread is idle, or just after work: it ends without waiting for more.
TEST(SaverThread, EndsWithItsOwner) {
  for (int i = 0; i < 20; ++i) {
    TSaverThread saver;
    if (i % 2)
      saver.Run([] {});
  }
}
